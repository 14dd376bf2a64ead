/*
 * ASN.1 object codec: turns a tree of name/value records into DER bytes and back.
 *
 * Wire form (DER, implicit tags):
 *
 *   NameValueList ::= SEQUENCE OF NameValue
 *   NameValue     ::= SEQUENCE { name UTF8String,
 *                                values SEQUENCE OF UTF8String,
 *                                subtrees SEQUENCE OF NameValue }
 *
 * Conventions of this interface:
 *  1. Every function is callable from C; C++ callers also get reference overloads of the same
 *     names. No function throws.
 *  2. Codec functions return a status: OV_ASN_OK (0) or one of the OV_ASN_E_* values below.
 *  3. Every byte buffer and every decoded tree handed out comes from malloc. A buffer is
 *     released with ov_asn_buffer_free, a decoded tree with ovAsnFreeObj. Encodings made
 *     outside the codec get their bytes from ov_asn_buffer_alloc.
 *  4. Texts are carried byte for byte; the codec does not check or change their encoding.
 *  5. The functions keep no state: any number of threads may call them at once, each on its
 *     own buffers and trees.
 *
 * Example:
 *
 *   ov_asn_buffer_t wire = {0, NULL};
 *   if (ovAsnEncodeObj(&wire, &list) == OV_ASN_OK) {
 *       namevalueList_s_t back = {0, NULL};
 *       if (ovAsnDecodeObj(&wire, &back) == OV_ASN_OK)
 *           ovAsnFreeObj(&back);
 *       ov_asn_buffer_free(&wire);
 *   }
 */
#ifndef OVASN_ASN_H
#define OVASN_ASN_H

#include <ovasn/export.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A byte buffer: `length` bytes at `data`. */
typedef struct ov_asn_buffer_t {
    unsigned int length; /* the number of bytes */
    unsigned char* data; /* the bytes; NULL when there are none */
} ov_asn_buffer_t;

/* One name with its value texts and its subtree (one child record per name of the subtree).
 * `values` is NULL when `nvalues` is 0, `subtrees` NULL when `nsubtrees` is 0. */
typedef struct namevalue_s_t {
    char* name;                      /* the name, NUL-terminated */
    unsigned int nvalues;            /* the number of values */
    char** values;                   /* the value texts, NUL-terminated */
    unsigned int nsubtrees;          /* the number of child records */
    struct namevalue_s_t** subtrees; /* the child records, one per name of the subtree */
} namevalue_s_t;

/* The top-level records of a tree; `entries` is NULL when `count` is 0. */
typedef struct namevalueList_s_t {
    unsigned int count;      /* the number of records */
    namevalue_s_t** entries; /* the records */
} namevalueList_s_t;

/* Codec status values. */
#define OV_ASN_OK 0u
/* The input buffer holds no bytes. */
#define OV_ASN_E_EMPTY 1u
/* An element does not carry the tag its place requires (SEQUENCE 0x30, UTF8String 0x0C). */
#define OV_ASN_E_TAG 2u
/* A length is indefinite, not in its shortest form, reserved, or wider than 32 bits. */
#define OV_ASN_E_LENGTH 3u
/* The input, or an enclosing element, ends before an element or a required field does. */
#define OV_ASN_E_TRUNCATED 4u
/* Bytes follow the last field of an element, or the end of the outermost element. */
#define OV_ASN_E_TRAILING 5u
/* Subtrees are nested more than OV_ASN_MAX_DEPTH levels deep. */
#define OV_ASN_E_DEPTH 6u
/* Memory for the result could not be allocated. */
#define OV_ASN_E_NOMEM 7u
/* An argument is unusable: a NULL pointer where one is needed, or an array pointer that is
 * NULL while its count is not 0. */
#define OV_ASN_E_INVALID 8u
/* The encoding would be longer than an ov_asn_buffer_t can hold (4 GiB - 1 bytes). */
#define OV_ASN_E_TOO_LARGE 9u
/* A decoded text holds a NUL byte, which the NUL-terminated record texts cannot carry. */
#define OV_ASN_E_TEXT 10u

/* Levels of subtrees the codec encodes and decodes: a top-level record is at level 0, its
 * children at level 1, and so on; records below level 64 are refused with OV_ASN_E_DEPTH.
 * Since the encoder refuses them too, whatever it produces decodes again. */
#define OV_ASN_MAX_DEPTH 64

/* Encodes the tree `list` into a new buffer.
 * On OV_ASN_OK, *out holds newly allocated bytes that the caller releases with
 * ov_asn_buffer_free; whatever *out held before is overwritten, not released.
 * On any other status *out is left untouched and nothing needs releasing.
 * A NULL name or value text is encoded as an empty UTF8String. The tree is only read.
 * REQUIRES: the tree does not change during the call (it is read once to size the result
 * and once to write it).
 * Refuses a NULL record pointer or a NULL array with a non-zero count (OV_ASN_E_INVALID),
 * nesting deeper than OV_ASN_MAX_DEPTH (OV_ASN_E_DEPTH, which also stops a tree whose
 * pointers form a cycle), and an encoding of 4 GiB or more (OV_ASN_E_TOO_LARGE). */
OVASN_EXPORT unsigned long ovAsnEncodeObj(ov_asn_buffer_t* out, const namevalueList_s_t* list);

/* Decodes `in` into a new tree in *list.
 * REQUIRES: *list holds no tree that still needs releasing; it is overwritten.
 * On OV_ASN_OK, *list holds the decoded tree, which belongs to the caller until it is given
 * to ovAsnFreeObj: every text is a NUL-terminated copy, arrays are NULL where counts are 0.
 * The tree is a single allocation: read and modify its contents, but release it only with
 * ovAsnFreeObj, never part by part.
 * On any other status *list is {0, NULL} and nothing needs releasing.
 * Decoding is strict: the buffer must be exactly one DER NameValueList with definite,
 * minimal lengths, the exact tags, no missing or extra fields and nothing after it. `in` is
 * only read. */
OVASN_EXPORT unsigned long ovAsnDecodeObj(const ov_asn_buffer_t* in, namevalueList_s_t* list);

/* Releases a tree filled by ovAsnDecodeObj and sets *list to {0, NULL}.
 * Harmless on {0, NULL} and on NULL. */
OVASN_EXPORT void ovAsnFreeObj(namevalueList_s_t* list);

/* Copies the bytes of *from into a new allocation.
 * On success *status is OV_ASN_OK, to->length is from->length and to->data holds the copy,
 * which the caller releases with ov_asn_buffer_free. A buffer of length 0 copies nothing:
 * to becomes {0, NULL} with status OV_ASN_OK.
 * Otherwise *status is OV_ASN_E_NOMEM (no memory) or OV_ASN_E_INVALID (a NULL argument, or
 * NULL data with a non-zero length), and *to is left untouched. With a NULL `status` the
 * call does nothing. `from` and `to` may be the same buffer. */
OVASN_EXPORT void ov_asn_buffer_copy(const ov_asn_buffer_t* from, ov_asn_buffer_t* to,
                                     unsigned int* status);

/* Allocates `length` bytes for an encoding made outside the codec, in the way
 * ov_asn_buffer_free releases: a producer that writes the codec's wire form itself hands
 * its bytes out through this call, so that its callers release them as they release the
 * codec's own.
 * On OV_ASN_OK, buffer->length is `length` and buffer->data points at `length` bytes of
 * unspecified content, which the caller fills and releases with ov_asn_buffer_free; a
 * length of 0 gives {0, NULL}. Whatever *buffer held before is overwritten, not released.
 * Otherwise the status is OV_ASN_E_NOMEM (no memory) or OV_ASN_E_INVALID (a NULL
 * `buffer`), and *buffer is left untouched. */
OVASN_EXPORT unsigned long ov_asn_buffer_alloc(ov_asn_buffer_t* buffer, unsigned int length);

/* Releases the bytes of *buffer (allocated by the codec, by ov_asn_buffer_alloc or with
 * malloc) and sets it to {0, NULL}. Harmless on an empty buffer and on NULL. */
OVASN_EXPORT void ov_asn_buffer_free(ov_asn_buffer_t* buffer);

/* A short English text for a codec status, such as "the input ends before an element or a
 * field does" for OV_ASN_E_TRUNCATED, for messages to people. Every status above has its own
 * text; any other value gives "unknown codec status". The text is static: never NULL, never
 * to be freed. */
OVASN_EXPORT const char* ov_asn_status_text(unsigned long status);

#ifdef __cplusplus
} /* extern "C" */

/* C++ forms of the calls above, taking references. */
inline unsigned long ovAsnEncodeObj(ov_asn_buffer_t& out, const namevalueList_s_t& list) {
    return ovAsnEncodeObj(&out, &list);
}
inline unsigned long ovAsnDecodeObj(const ov_asn_buffer_t& in, namevalueList_s_t& list) {
    return ovAsnDecodeObj(&in, &list);
}
inline void ovAsnFreeObj(namevalueList_s_t& list) { ovAsnFreeObj(&list); }
inline void ov_asn_buffer_copy(const ov_asn_buffer_t& from, ov_asn_buffer_t& to,
                               unsigned int& status) {
    ov_asn_buffer_copy(&from, &to, &status);
}
inline unsigned long ov_asn_buffer_alloc(ov_asn_buffer_t& buffer, unsigned int length) {
    return ov_asn_buffer_alloc(&buffer, length);
}
inline void ov_asn_buffer_free(ov_asn_buffer_t& buffer) { ov_asn_buffer_free(&buffer); }
#endif

#endif /* OVASN_ASN_H */
