// DER encoder and strict decoder of name/value record trees.
//
// Encoding sizes first and writes once. The sizing pass walks the tree in the order the bytes
// are written, checks it, measures every text once and keeps each length it finds (texts, and
// the content of every record and of its two SEQUENCE OF fields) in a side list; the writing
// pass then writes front to back into one allocation of exactly the total, taking every
// length from that list, so that no text is measured twice and no byte is moved.
//
// Decoding checks first and builds once. The checking pass reads the whole input with every
// rule of the wire form, tallies what the tree needs (records, pointer slots, text bytes) and
// keeps, for each record in input order, how many values and children it has; the building
// pass then fills one allocation of exactly that size from input already found valid, without
// a check and without counting anything again. Nothing of the tree is allocated before the
// input has been found valid, and its allocation is bounded by the input: every record takes
// at least 8 input bytes and every pointer slot at least 2.

#include <ovasn/asn.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr unsigned char kSequence = 0x30;
constexpr unsigned char kUtf8String = 0x0C;
constexpr std::uint64_t kMaxBuffer = UINT_MAX;

// A list of 32-bit numbers that lives on the stack while it is short; the passes of one call
// hand each other their lengths and counts through it. No exception: append reports a failed
// allocation as false.
class Numbers {
public:
    Numbers() = default;
    Numbers(const Numbers&) = delete;
    Numbers& operator=(const Numbers&) = delete;
    ~Numbers() {
        if (data_ != inline_) std::free(data_);
    }

    // Room for `n` more numbers at the end, returned for the caller to fill; null when memory
    // runs out.
    std::uint32_t* append(std::size_t n) {
        if (n > capacity_ - size_ && !grow(n)) return nullptr;
        std::uint32_t* at = data_ + size_;
        size_ += n;
        return at;
    }
    const std::uint32_t* data() const { return data_; }
    std::uint32_t* data() { return data_; }

private:
    bool grow(std::size_t n) {
        if (n > SIZE_MAX / sizeof(std::uint32_t) / 2 - size_) return false;
        std::size_t capacity = capacity_ * 2;
        if (capacity < size_ + n) capacity = size_ + n;
        void* p = data_ == inline_ ? std::malloc(capacity * sizeof(std::uint32_t))
                                   : std::realloc(data_, capacity * sizeof(std::uint32_t));
        if (!p) return false;
        if (data_ == inline_) std::memcpy(p, inline_, size_ * sizeof(std::uint32_t));
        data_ = static_cast<std::uint32_t*>(p);
        capacity_ = capacity;
        return true;
    }

    std::uint32_t inline_[1024];
    std::uint32_t* data_ = inline_;
    std::size_t size_ = 0;
    std::size_t capacity_ = sizeof inline_ / sizeof inline_[0];
};

// Bytes taken by the tag and the DER length of an element whose content is `content` bytes.
constexpr std::uint64_t headerSize(std::uint64_t content) {
    if (content < 0x80) return 2;
    if (content <= 0xFF) return 3;
    if (content <= 0xFFFF) return 4;
    if (content <= 0xFFFFFF) return 5;
    return 6;
}

// ---- Encoding, sizing pass --------------------------------------------------------------

// Each step keeps the running total at or below kMaxBuffer, so no sum can wrap.
inline bool addElement(std::uint64_t& total, std::uint64_t content, unsigned long& status) {
    total += headerSize(content) + content;
    if (total > kMaxBuffer) {
        status = OV_ASN_E_TOO_LARGE;
        return false;
    }
    return true;
}

inline bool sizeText(const char* text, std::uint32_t& length, std::uint64_t& total,
                     unsigned long& status) {
    const std::uint64_t n = text ? std::strlen(text) : 0;
    if (n > kMaxBuffer) {
        status = OV_ASN_E_TOO_LARGE;
        return false;
    }
    length = static_cast<std::uint32_t>(n);
    return addElement(total, n, status);
}

// A record's entry in the side list: the content lengths of the record and of its two
// fields, the name's length, then one length per value. Its children's entries follow.
enum RecordSlot { kContent, kValues, kSubtrees, kName, kFirstValue };

bool sizeRecord(const namevalue_s_t* record, int level, std::uint64_t& total, Numbers& lengths,
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
    std::uint32_t* slot = lengths.append(std::size_t{kFirstValue} + record->nvalues);
    if (!slot) {
        status = OV_ASN_E_NOMEM;
        return false;
    }
    // The side list may move while the children append to it: the entry is found again by
    // its place.
    const std::size_t at = static_cast<std::size_t>(slot - lengths.data());
    std::uint64_t content = 0;
    if (!sizeText(record->name, slot[kName], content, status)) return false;
    std::uint64_t values = 0;
    for (unsigned int i = 0; i < record->nvalues; ++i)
        if (!sizeText(record->values[i], slot[kFirstValue + i], values, status)) return false;
    if (!addElement(content, values, status)) return false;
    std::uint64_t subtrees = 0;
    for (unsigned int i = 0; i < record->nsubtrees; ++i)
        if (!sizeRecord(record->subtrees[i], level + 1, subtrees, lengths, status)) return false;
    if (!addElement(content, subtrees, status)) return false;
    slot = lengths.data() + at;
    slot[kContent] = static_cast<std::uint32_t>(content);
    slot[kValues] = static_cast<std::uint32_t>(values);
    slot[kSubtrees] = static_cast<std::uint32_t>(subtrees);
    return addElement(total, content, status);
}

// ---- Encoding, writing pass: front to back, every length known --------------------------

inline unsigned char* putHeader(unsigned char* p, unsigned char tag, std::uint32_t length) {
    *p++ = tag;
    if (length < 0x80) {
        *p++ = static_cast<unsigned char>(length);
        return p;
    }
    const unsigned n = length > 0xFFFFFF ? 4 : length > 0xFFFF ? 3 : length > 0xFF ? 2 : 1;
    *p++ = static_cast<unsigned char>(0x80 | n);
    for (unsigned i = n; i-- > 0;) *p++ = static_cast<unsigned char>(length >> (8 * i));
    return p;
}

// Copies `n` bytes. Texts are mostly short, and an out-of-line memcpy call costs more than
// copying one of them in a few 16-byte moves (the last one overlapping the one before) or two
// overlapping words.
inline void copyBytes(unsigned char* to, const char* from, std::uint32_t n) {
    const auto copy = [&](std::uint32_t at, auto word) {
        std::memcpy(&word, from + at, sizeof word);
        std::memcpy(to + at, &word, sizeof word);
    };
    if (n > 256) {
        std::memcpy(to, from, n);
    } else if (n >= 16) {
        for (std::uint32_t at = 0; at + 16 <= n; at += 16) std::memcpy(to + at, from + at, 16);
        if (n % 16) std::memcpy(to + n - 16, from + n - 16, 16);
    } else if (n >= 8) {
        copy(0, std::uint64_t{});
        copy(n - 8, std::uint64_t{});
    } else if (n >= 4) {
        copy(0, std::uint32_t{});
        copy(n - 4, std::uint32_t{});
    } else {
        for (std::uint32_t i = 0; i < n; ++i) to[i] = static_cast<unsigned char>(from[i]);
    }
}

inline unsigned char* putText(unsigned char* p, const char* text, std::uint32_t n) {
    p = putHeader(p, kUtf8String, n);
    copyBytes(p, text, n);
    return p + n;
}

unsigned char* putRecord(unsigned char* p, const namevalue_s_t* record,
                         const std::uint32_t*& lengths) {
    const std::uint32_t* slot = lengths;
    lengths += kFirstValue + record->nvalues;
    p = putHeader(p, kSequence, slot[kContent]);
    p = putText(p, record->name, slot[kName]);
    p = putHeader(p, kSequence, slot[kValues]);
    for (unsigned int i = 0; i < record->nvalues; ++i)
        p = putText(p, record->values[i], slot[kFirstValue + i]);
    p = putHeader(p, kSequence, slot[kSubtrees]);
    for (unsigned int i = 0; i < record->nsubtrees; ++i)
        p = putRecord(p, record->subtrees[i], lengths);
    return p;
}

// ---- Decoding, checking pass: the structure, and a tally -------------------------------

// Reads the header of the element at p, which must carry `tag` and end by `end`. On success p
// is at the first content byte and `length` is the content length. The name/value map of
// libovutil reads DER with a reader of its own (src/WVCore/NameValueMapWire.cc) that must
// give the same status as this one for every input; the differential fuzz target
// fuzz/namevaluemap/namevaluemap_decode_fuzz.cc keeps the two in step.
inline unsigned long readHeader(const unsigned char*& p, const unsigned char* end,
                                unsigned char tag, std::uint32_t& length) {
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

// True when one of the `n` bytes at p is NUL.
inline bool holdsNul(const unsigned char* p, std::uint32_t n) { return n && std::memchr(p, 0, n); }

// What the building pass needs: the sizes of the allocation's three parts, and per record (in
// input order) its number of values and of children.
struct Tally {
    std::uint64_t pointers = 0;
    std::uint64_t records = 0;
    std::uint64_t textBytes = 0;
    Numbers counts;  // two per record: values, children
};

// Checks the record at p with every rule of the wire form but one: a NUL byte inside a text
// is left to the building pass, which looks at every text byte anyway as it copies it. With
// `tally` null it applies that rule too and only checks (see ovAsnDecodeObj).
unsigned long checkRecord(const unsigned char*& p, const unsigned char* end, int level,
                          Tally* tally) {
    if (level > OV_ASN_MAX_DEPTH) return OV_ASN_E_DEPTH;
    std::uint32_t n;
    if (const unsigned long st = readHeader(p, end, kSequence, n)) return st;
    const unsigned char* const recordEnd = p + n;
    std::uint64_t textBytes = 0;
    const auto text = [&](const unsigned char* fence) -> unsigned long {
        std::uint32_t length;
        if (const unsigned long st = readHeader(p, fence, kUtf8String, length)) return st;
        // Callers read the texts as C strings: a NUL inside would cut them short unnoticed.
        if (!tally && holdsNul(p, length)) return OV_ASN_E_TEXT;
        p += length;
        textBytes += std::uint64_t{length} + 1;
        return OV_ASN_OK;
    };
    if (const unsigned long st = text(recordEnd)) return st;

    if (const unsigned long st = readHeader(p, recordEnd, kSequence, n)) return st;
    std::uint32_t values = 0;
    for (const unsigned char* const valuesEnd = p + n; p < valuesEnd; ++values)
        if (const unsigned long st = text(valuesEnd)) return st;

    if (const unsigned long st = readHeader(p, recordEnd, kSequence, n)) return st;
    std::size_t at = 0;
    if (tally) {
        std::uint32_t* counts = tally->counts.append(2);
        if (!counts) return OV_ASN_E_NOMEM;
        counts[0] = values;
        at = static_cast<std::size_t>(counts - tally->counts.data());
    }
    std::uint32_t children = 0;
    for (const unsigned char* const subtreesEnd = p + n; p < subtreesEnd; ++children)
        if (const unsigned long st = checkRecord(p, subtreesEnd, level + 1, tally)) return st;

    if (p != recordEnd) return OV_ASN_E_TRAILING;
    if (tally) {
        // Found again by its place: the children's counts may have moved the list.
        tally->counts.data()[at + 1] = children;
        tally->pointers += std::uint64_t{values} + children;
        tally->textBytes += textBytes;
        ++tally->records;
    }
    return OV_ASN_OK;
}

// Checks the records between p and end with every rule; the status of the first fault.
unsigned long checkRecords(const unsigned char* p, const unsigned char* end, Tally* tally,
                           std::uint64_t& count) {
    for (count = 0; p < end; ++count)
        if (const unsigned long st = checkRecord(p, end, 0, tally)) return st;
    return OV_ASN_OK;
}

// ---- Decoding, building pass: the tree from input whose structure is valid ---------------

inline std::uint32_t skipHeader(const unsigned char*& p) {
    const unsigned char first = p[1];
    p += 2;
    if (first < 0x80) return first;
    std::uint32_t v = 0;
    for (unsigned n = first & 0x7Fu; n; --n) v = v << 8 | *p++;
    return v;
}

// True when one of the bytes of `w` is 0.
template <typename Word>
inline bool hasZeroByte(Word w) {
    constexpr Word kOnes = static_cast<Word>(~Word{0}) / 0xFF;
    constexpr Word kHighs = kOnes << 7;
    return ((w - kOnes) & ~w & kHighs) != 0;
}

// Copies the word at `from` to `to`; false, copying nothing, when one of its bytes is NUL.
template <typename Word>
inline bool copyWord(char* to, const unsigned char* from) {
    Word w;
    std::memcpy(&w, from, sizeof w);
    if (hasZeroByte(w)) return false;
    std::memcpy(to, &w, sizeof w);
    return true;
}

// Copies `n` bytes from `from` to `to`; false, with the copy unfinished, when one of them is
// NUL. The copy is the only pass over a text's bytes, so it also makes the text check. A
// length that is no multiple of the width is finished with a last word that overlaps the one
// before it, instead of byte by byte.
inline bool copyText(char* to, const unsigned char* from, std::uint32_t n) {
#if defined(__SSE2__)
    if (n >= 16) {
        const __m128i zero = _mm_setzero_si128();
        const auto copy16 = [&](std::uint32_t at) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + at));
            if (_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero))) return false;
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + at), v);
            return true;
        };
        for (std::uint32_t at = 0; at + 16 <= n; at += 16)
            if (!copy16(at)) return false;
        return n % 16 == 0 || copy16(n - 16);
    }
#else
    if (n >= 16) {
        for (std::uint32_t at = 0; at + 8 <= n; at += 8)
            if (!copyWord<std::uint64_t>(to + at, from + at)) return false;
        return n % 8 == 0 || copyWord<std::uint64_t>(to + n - 8, from + n - 8);
    }
#endif
    if (n >= 8)
        return copyWord<std::uint64_t>(to, from) &&
               copyWord<std::uint64_t>(to + n - 8, from + n - 8);
    if (n >= 4)
        return copyWord<std::uint32_t>(to, from) &&
               copyWord<std::uint32_t>(to + n - 4, from + n - 4);
    for (std::uint32_t i = 0; i < n; ++i) {
        if (from[i] == 0) return false;
        to[i] = static_cast<char>(from[i]);
    }
    return true;
}

// Hands out the parts of the single allocation: pointer slots, then records, then texts.
struct Arena {
    unsigned char* pointers;
    namevalue_s_t* records;
    char* texts;

    template <typename T>
    T** takePointers(unsigned int n) {
        T** slots = reinterpret_cast<T**>(pointers);
        pointers += sizeof(T*) * n;
        return slots;
    }
    // The text at p as a NUL-terminated copy; null when it holds a NUL byte.
    char* takeText(const unsigned char*& p) {
        const std::uint32_t n = skipHeader(p);
        char* text = texts;
        if (!copyText(text, p, n)) return nullptr;
        text[n] = '\0';
        p += n;
        texts += n + 1;
        return text;
    }
};

// Builds the record at p; false when a text holds a NUL byte.
bool buildRecord(const unsigned char*& p, Arena& arena, const std::uint32_t*& counts,
                 namevalue_s_t* record) {
    const std::uint32_t nvalues = counts[0];
    const std::uint32_t nsubtrees = counts[1];
    counts += 2;
    skipHeader(p);
    if (!(record->name = arena.takeText(p))) return false;
    skipHeader(p);
    record->nvalues = nvalues;
    record->values = nvalues ? arena.takePointers<char>(nvalues) : nullptr;
    for (unsigned int i = 0; i < nvalues; ++i)
        if (!(record->values[i] = arena.takeText(p))) return false;
    skipHeader(p);
    record->nsubtrees = nsubtrees;
    record->subtrees = nsubtrees ? arena.takePointers<namevalue_s_t>(nsubtrees) : nullptr;
    for (unsigned int i = 0; i < nsubtrees; ++i) {
        namevalue_s_t* child = arena.records++;
        record->subtrees[i] = child;
        if (!buildRecord(p, arena, counts, child)) return false;
    }
    return true;
}

}  // namespace

extern "C" {

unsigned long ovAsnEncodeObj(ov_asn_buffer_t* out, const namevalueList_s_t* list) {
    if (!out || !list || (list->count && !list->entries)) return OV_ASN_E_INVALID;
    unsigned long status = OV_ASN_OK;
    Numbers lengths;
    std::uint64_t content = 0;
    for (unsigned int i = 0; i < list->count; ++i)
        if (!sizeRecord(list->entries[i], 0, content, lengths, status)) return status;
    std::uint64_t total = 0;
    if (!addElement(total, content, status)) return status;

    unsigned char* const data = static_cast<unsigned char*>(std::malloc(total));
    if (!data) return OV_ASN_E_NOMEM;
    unsigned char* p = putHeader(data, kSequence, static_cast<std::uint32_t>(content));
    const std::uint32_t* next = lengths.data();
    for (unsigned int i = 0; i < list->count; ++i) p = putRecord(p, list->entries[i], next);
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
    if (const unsigned long st = readHeader(p, end, kSequence, n)) return st;
    const unsigned char* const first = p;
    const unsigned char* const listEnd = p + n;
    Tally tally;
    std::uint64_t count = 0;
    if (const unsigned long st = checkRecords(first, listEnd, &tally, count)) {
        // The status is that of the first fault in input order, a NUL in a text included:
        // the refused input is checked again with that rule too. (Only a tally that ran out
        // of memory stops at no fault of the input.)
        const unsigned long strict = checkRecords(first, listEnd, nullptr, count);
        return strict != OV_ASN_OK ? strict : st;
    }
    if (listEnd != end) {
        const unsigned long st = checkRecords(first, listEnd, nullptr, count);
        return st != OV_ASN_OK ? st : OV_ASN_E_TRAILING;
    }
    if (count == 0) return OV_ASN_OK;

    tally.pointers += count;
    const std::uint64_t pointerBytes = tally.pointers * sizeof(void*);
    const std::uint64_t recordBytes = tally.records * sizeof(namevalue_s_t);
    const std::uint64_t size = pointerBytes + recordBytes + tally.textBytes;
    if (size > SIZE_MAX) return OV_ASN_E_NOMEM;
    unsigned char* const block = static_cast<unsigned char*>(std::malloc(size));
    if (!block) return OV_ASN_E_NOMEM;

    Arena arena{block, reinterpret_cast<namevalue_s_t*>(block + pointerBytes),
                reinterpret_cast<char*>(block + pointerBytes + recordBytes)};
    // The entries array comes first, so that it is the address of the whole block.
    namevalue_s_t** entries = arena.takePointers<namevalue_s_t>(static_cast<unsigned int>(count));
    const std::uint32_t* counts = tally.counts.data();
    p = first;
    for (unsigned int i = 0; i < count; ++i) {
        entries[i] = arena.records++;
        if (!buildRecord(p, arena, counts, entries[i])) {
            // The structure is valid throughout, so a NUL in a text is the first fault.
            std::free(block);
            return OV_ASN_E_TEXT;
        }
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
