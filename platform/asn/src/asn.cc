// DER encoder and strict decoder of name/value record trees.
//
// Encoding runs in two passes over the tree: the first adds up the exact size (and checks the
// tree), the second writes the bytes back to front into one allocation of that size, so that
// every element's length is known by the time its header is written.
//
// Decoding also runs in two passes: the first checks the whole input and counts what the tree
// needs (records, pointer slots, text bytes); the second builds the tree in one allocation of
// exactly that size. Nothing is allocated before the input has been found valid, and the
// allocation is bounded by the input: every record takes at least 8 input bytes and every
// pointer slot at least 2.

#include <ovasn/asn.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr unsigned char kSequence = 0x30;
constexpr unsigned char kUtf8String = 0x0C;
constexpr std::uint64_t kMaxBuffer = UINT_MAX;

// Bytes taken by the tag and the DER length of an element whose content is `content` bytes.
constexpr std::uint64_t header_size(std::uint64_t content) {
    if (content < 0x80) return 2;
    if (content <= 0xFF) return 3;
    if (content <= 0xFFFF) return 4;
    if (content <= 0xFFFFFF) return 5;
    return 6;
}

// ---- Encoding, first pass: sizes -------------------------------------------------------

// Each step keeps the running total at or below kMaxBuffer, so no sum can wrap.
bool add_element(std::uint64_t& total, std::uint64_t content, unsigned long& status) {
    total += header_size(content) + content;
    if (total > kMaxBuffer) {
        status = OV_ASN_E_TOO_LARGE;
        return false;
    }
    return true;
}

bool size_text(const char* text, std::uint64_t& total, unsigned long& status) {
    const std::uint64_t n = text ? std::strlen(text) : 0;
    if (n > kMaxBuffer) {
        status = OV_ASN_E_TOO_LARGE;
        return false;
    }
    return add_element(total, n, status);
}

bool size_record(const namevalue_s_t* record, int level, std::uint64_t& total,
                 unsigned long& status) {
    if (!record || (record->nvalues && !record->values) ||
        (record->nsubtrees && !record->subtrees)) {
        status = OV_ASN_E_INVALID;
        return false;
    }
    if (level > OV_ASN_MAX_DEPTH) {
        status = OV_ASN_E_DEPTH;
        return false;
    }
    std::uint64_t content = 0;
    if (!size_text(record->name, content, status)) return false;
    std::uint64_t values = 0;
    for (unsigned int i = 0; i < record->nvalues; ++i)
        if (!size_text(record->values[i], values, status)) return false;
    if (!add_element(content, values, status)) return false;
    std::uint64_t subtrees = 0;
    for (unsigned int i = 0; i < record->nsubtrees; ++i)
        if (!size_record(record->subtrees[i], level + 1, subtrees, status)) return false;
    if (!add_element(content, subtrees, status)) return false;
    return add_element(total, content, status);
}

// ---- Encoding, second pass: bytes, written backwards from the end of the buffer ---------

unsigned char* put_header(unsigned char* p, unsigned char tag, std::uint32_t length) {
    if (length < 0x80) {
        *--p = static_cast<unsigned char>(length);
    } else {
        unsigned char n = 0;
        for (; length; length >>= 8, ++n) *--p = static_cast<unsigned char>(length);
        *--p = static_cast<unsigned char>(0x80 | n);
    }
    *--p = tag;
    return p;
}

unsigned char* put_text(unsigned char* p, const char* text) {
    const std::size_t n = text ? std::strlen(text) : 0;
    if (n) {
        p -= n;
        std::memcpy(p, text, n);
    }
    return put_header(p, kUtf8String, static_cast<std::uint32_t>(n));
}

unsigned char* put_record(unsigned char* p, const namevalue_s_t* record) {
    unsigned char* const end = p;
    unsigned char* mark = p;
    for (unsigned int i = record->nsubtrees; i-- > 0;) p = put_record(p, record->subtrees[i]);
    p = put_header(p, kSequence, static_cast<std::uint32_t>(mark - p));
    mark = p;
    for (unsigned int i = record->nvalues; i-- > 0;) p = put_text(p, record->values[i]);
    p = put_header(p, kSequence, static_cast<std::uint32_t>(mark - p));
    p = put_text(p, record->name);
    return put_header(p, kSequence, static_cast<std::uint32_t>(end - p));
}

// ---- Decoding, first pass: strict check and tally ---------------------------------------

// Reads the header of the element at p, which must carry `tag` and end by `end`. On success p
// is at the first content byte and `length` is the content length.
unsigned long read_header(const unsigned char*& p, const unsigned char* end, unsigned char tag,
                          std::uint32_t& length) {
    if (p == end) return OV_ASN_E_TRUNCATED;
    if (*p != tag) return OV_ASN_E_TAG;
    if (end - p < 2) return OV_ASN_E_TRUNCATED;
    const unsigned char first = p[1];
    p += 2;
    if (first < 0x80) {
        length = first;
    } else {
        // 0x80 is the indefinite form, 0xFF is reserved, and more than 4 bytes cannot describe
        // anything that fits in a buffer without a leading zero.
        const unsigned n = first & 0x7Fu;
        if (n == 0 || n > 4) return OV_ASN_E_LENGTH;
        if (end - p < static_cast<std::ptrdiff_t>(n)) return OV_ASN_E_TRUNCATED;
        if (p[0] == 0) return OV_ASN_E_LENGTH;
        std::uint32_t v = 0;
        for (unsigned i = 0; i < n; ++i) v = v << 8 | *p++;
        if (v < 0x80) return OV_ASN_E_LENGTH;
        length = v;
    }
    if (static_cast<std::uint64_t>(end - p) < length) return OV_ASN_E_TRUNCATED;
    return OV_ASN_OK;
}

struct Tally {
    std::uint64_t pointers = 0;
    std::uint64_t records = 0;
    std::uint64_t text_bytes = 0;
};

unsigned long check_text(const unsigned char*& p, const unsigned char* end, Tally& tally) {
    std::uint32_t n;
    if (const unsigned long st = read_header(p, end, kUtf8String, n)) return st;
    // Callers read the texts as C strings: a NUL inside would cut them short unnoticed.
    if (n && std::memchr(p, 0, n)) return OV_ASN_E_TEXT;
    p += n;
    tally.text_bytes += std::uint64_t{n} + 1;
    return OV_ASN_OK;
}

unsigned long check_record(const unsigned char*& p, const unsigned char* end, int level,
                           Tally& tally) {
    if (level > OV_ASN_MAX_DEPTH) return OV_ASN_E_DEPTH;
    std::uint32_t n;
    if (const unsigned long st = read_header(p, end, kSequence, n)) return st;
    const unsigned char* const record_end = p + n;
    ++tally.records;
    if (const unsigned long st = check_text(p, record_end, tally)) return st;

    if (const unsigned long st = read_header(p, record_end, kSequence, n)) return st;
    for (const unsigned char* const values_end = p + n; p < values_end; ++tally.pointers)
        if (const unsigned long st = check_text(p, values_end, tally)) return st;

    if (const unsigned long st = read_header(p, record_end, kSequence, n)) return st;
    for (const unsigned char* const subtrees_end = p + n; p < subtrees_end; ++tally.pointers)
        if (const unsigned long st = check_record(p, subtrees_end, level + 1, tally)) return st;

    return p == record_end ? OV_ASN_OK : OV_ASN_E_TRAILING;
}

// ---- Decoding, second pass: build the tree from input already found valid ---------------

std::uint32_t skip_header(const unsigned char*& p) {
    const unsigned char first = p[1];
    p += 2;
    if (first < 0x80) return first;
    std::uint32_t v = 0;
    for (unsigned n = first & 0x7Fu; n; --n) v = v << 8 | *p++;
    return v;
}

unsigned int count_elements(const unsigned char* p, const unsigned char* end) {
    unsigned int n = 0;
    for (; p < end; ++n) {
        const std::uint32_t length = skip_header(p);
        p += length;
    }
    return n;
}

// Hands out the parts of the single allocation: pointer slots, then records, then texts.
struct Arena {
    unsigned char* pointers;
    unsigned char* records;
    char* texts;

    template <typename T>
    T** take_pointers(unsigned int n) {
        T** slots = reinterpret_cast<T**>(pointers);
        pointers += sizeof(T*) * n;
        return slots;
    }
    namevalue_s_t* take_record() {
        namevalue_s_t* r = reinterpret_cast<namevalue_s_t*>(records);
        records += sizeof(namevalue_s_t);
        return r;
    }
    char* take_text(const unsigned char*& p) {
        const std::uint32_t n = skip_header(p);
        char* text = texts;
        if (n) std::memcpy(text, p, n);
        text[n] = '\0';
        p += n;
        texts += n + 1;
        return text;
    }
};

void build_record(const unsigned char*& p, Arena& arena, namevalue_s_t* record) {
    skip_header(p);
    record->name = arena.take_text(p);

    std::uint32_t n = skip_header(p);
    record->nvalues = count_elements(p, p + n);
    record->values = record->nvalues ? arena.take_pointers<char>(record->nvalues) : nullptr;
    for (unsigned int i = 0; i < record->nvalues; ++i) record->values[i] = arena.take_text(p);

    n = skip_header(p);
    record->nsubtrees = count_elements(p, p + n);
    record->subtrees =
        record->nsubtrees ? arena.take_pointers<namevalue_s_t>(record->nsubtrees) : nullptr;
    for (unsigned int i = 0; i < record->nsubtrees; ++i) {
        record->subtrees[i] = arena.take_record();
        build_record(p, arena, record->subtrees[i]);
    }
}

}  // namespace

extern "C" {

unsigned long ovAsnEncodeObj(ov_asn_buffer_t* out, const namevalueList_s_t* list) {
    if (!out || !list || (list->count && !list->entries)) return OV_ASN_E_INVALID;
    unsigned long status = OV_ASN_OK;
    std::uint64_t content = 0;
    for (unsigned int i = 0; i < list->count; ++i)
        if (!size_record(list->entries[i], 0, content, status)) return status;
    std::uint64_t total = 0;
    if (!add_element(total, content, status)) return status;

    unsigned char* const data = static_cast<unsigned char*>(std::malloc(total));
    if (!data) return OV_ASN_E_NOMEM;
    unsigned char* p = data + total;
    for (unsigned int i = list->count; i-- > 0;) p = put_record(p, list->entries[i]);
    put_header(p, kSequence, static_cast<std::uint32_t>(content));
    out->length = static_cast<unsigned int>(total);
    out->data = data;
    return OV_ASN_OK;
}

unsigned long ovAsnDecodeObj(const ov_asn_buffer_t* in, namevalueList_s_t* list) {
    if (!list) return OV_ASN_E_INVALID;
    list->count = 0;
    list->entries = nullptr;
    if (!in) return OV_ASN_E_INVALID;
    if (in->length == 0) return OV_ASN_E_EMPTY;
    if (!in->data) return OV_ASN_E_INVALID;

    const unsigned char* p = in->data;
    const unsigned char* const end = p + in->length;
    std::uint32_t n;
    if (const unsigned long st = read_header(p, end, kSequence, n)) return st;
    const unsigned char* const first = p;
    const unsigned char* const list_end = p + n;
    Tally tally;
    std::uint64_t count = 0;
    for (; p < list_end; ++count)
        if (const unsigned long st = check_record(p, list_end, 0, tally)) return st;
    if (p != end) return OV_ASN_E_TRAILING;
    if (count == 0) return OV_ASN_OK;

    tally.pointers += count;
    const std::uint64_t pointer_bytes = tally.pointers * sizeof(void*);
    const std::uint64_t record_bytes = tally.records * sizeof(namevalue_s_t);
    const std::uint64_t size = pointer_bytes + record_bytes + tally.text_bytes;
    if (size > SIZE_MAX) return OV_ASN_E_NOMEM;
    unsigned char* const block = static_cast<unsigned char*>(std::malloc(size));
    if (!block) return OV_ASN_E_NOMEM;

    Arena arena{block, block + pointer_bytes,
                reinterpret_cast<char*>(block + pointer_bytes + record_bytes)};
    // The entries array comes first, so that it is the address of the whole block.
    namevalue_s_t** entries = arena.take_pointers<namevalue_s_t>(static_cast<unsigned int>(count));
    p = first;
    for (unsigned int i = 0; i < count; ++i) {
        entries[i] = arena.take_record();
        build_record(p, arena, entries[i]);
    }
    list->count = static_cast<unsigned int>(count);
    list->entries = entries;
    return OV_ASN_OK;
}

void ovAsnFreeObj(namevalueList_s_t* list) {
    if (!list) return;
    std::free(list->entries);
    list->count = 0;
    list->entries = nullptr;
}

void ov_asn_buffer_copy(const ov_asn_buffer_t* from, ov_asn_buffer_t* to, unsigned int* status) {
    if (!status) return;
    if (!from || !to || (from->length && !from->data)) {
        *status = OV_ASN_E_INVALID;
        return;
    }
    unsigned char* copy = nullptr;
    if (from->length) {
        copy = static_cast<unsigned char*>(std::malloc(from->length));
        if (!copy) {
            *status = OV_ASN_E_NOMEM;
            return;
        }
        std::memcpy(copy, from->data, from->length);
    }
    to->length = from->length;
    to->data = copy;
    *status = OV_ASN_OK;
}

unsigned long ov_asn_buffer_alloc(ov_asn_buffer_t* buffer, unsigned int length) {
    if (!buffer) return OV_ASN_E_INVALID;
    unsigned char* data = nullptr;
    if (length) {
        data = static_cast<unsigned char*>(std::malloc(length));
        if (!data) return OV_ASN_E_NOMEM;
    }
    buffer->length = length;
    buffer->data = data;
    return OV_ASN_OK;
}

void ov_asn_buffer_free(ov_asn_buffer_t* buffer) {
    if (!buffer) return;
    std::free(buffer->data);
    buffer->length = 0;
    buffer->data = nullptr;
}

const char* ov_asn_status_text(unsigned long status) {
    switch (status) {
        case OV_ASN_OK:
            return "success";
        case OV_ASN_E_EMPTY:
            return "the input holds no bytes";
        case OV_ASN_E_TAG:
            return "an element does not carry the tag its place requires";
        case OV_ASN_E_LENGTH:
            return "a length is indefinite, not in its shortest form, reserved or too wide";
        case OV_ASN_E_TRUNCATED:
            return "the input ends before an element or a field does";
        case OV_ASN_E_TRAILING:
            return "bytes follow the end of an element";
        case OV_ASN_E_DEPTH:
            return "subtrees are nested too deeply";
        case OV_ASN_E_NOMEM:
            return "out of memory";
        case OV_ASN_E_INVALID:
            return "an argument is unusable";
        case OV_ASN_E_TOO_LARGE:
            return "the encoding would exceed 4 GiB";
        case OV_ASN_E_TEXT:
            return "a text holds a NUL byte";
        default:
            return "unknown codec status";
    }
}

}  // extern "C"
