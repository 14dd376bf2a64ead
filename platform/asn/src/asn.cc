// DER encoder and strict decoder of name/value record trees.
//
// Encoding sizes first and writes once. The sizing pass walks the tree in the order the bytes
// are written, checks it, measures every text once and keeps each length it finds (texts, and
// the content of every record and of its two SEQUENCE OF fields) in a side list; the writing
// pass then writes front to back into one allocation of exactly the total, taking every
// length from that list, so that no text is measured twice and no byte is moved.
//
// Decoding checks first and builds once. The checking pass reads the whole input with every
// rule of the wire form but the NUL in a text, tallies what the tree needs (records, pointer
// slots) and keeps the shape of the tree: for each record in input order how many values and
// children it has and the length of each of its texts. The building pass then copies the
// records' bytes into one allocation, counting their 0 bytes as it goes (the only way a text
// can hold a NUL is a count above that of the headers), and fills in the records and pointers
// from the shape, ending each text in place in the copy, on the first byte of the header that
// follows it. Nothing of the tree is allocated before the structure of the input has been
// found valid, and its allocation is bounded by the input: the copy is smaller than it, every
// record takes at least 8 input bytes and every pointer slot at least 2.

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
    // Room for `n` more numbers at the end, for the caller to fill without a check of its
    // own; they belong to the list once given to commit. Null when memory runs out.
    std::uint32_t* reserve(std::size_t n) {
        if (n > capacity_ - size_ && !grow(n)) return nullptr;
        return data_ + size_;
    }
    // Makes the numbers up to `end`, which lies in the room taken last, part of the list.
    void commit(const std::uint32_t* end) { size_ = static_cast<std::size_t>(end - data_); }
    const std::uint32_t* data() const { return data_; }
    std::uint32_t* data() { return data_; }

private:
    // Out of line: growth is rare, and its callers stay small enough to be inlined.
    [[gnu::noinline]] bool grow(std::size_t n) {
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

// ---- Decoding, checking pass: the structure, and the shape of the tree -----------------

// The header of an element: its status, how many bytes it takes, its content length and how
// many of its bytes are 0.
struct Header {
    std::uint32_t status;
    std::uint32_t size;
    std::uint32_t length;
    std::uint32_t zeros;
};

// The general case of readHeader below: any tag byte, any length form, every fault.
[[gnu::noinline]] Header readHeaderSlow(const unsigned char* p, const unsigned char* end,
                                        unsigned char tag) {
    if (p == end) return {OV_ASN_E_TRUNCATED, 0, 0, 0};
    if (*p != tag) return {OV_ASN_E_TAG, 0, 0, 0};
    if (end - p < 2) return {OV_ASN_E_TRUNCATED, 0, 0, 0};
    const unsigned char first = p[1];
    if (first < 0x80) {
        if (static_cast<std::uint64_t>(end - p - 2) < first) return {OV_ASN_E_TRUNCATED, 0, 0, 0};
        return {OV_ASN_OK, 2, first, first == 0};
    }
    // 0x80 is the indefinite form, 0xFF is reserved, and more than 4 bytes cannot describe
    // anything that fits in a buffer without a leading zero.
    const unsigned n = first & 0x7Fu;
    if (n == 0 || n > 4) return {OV_ASN_E_LENGTH, 0, 0, 0};
    if (end - p - 2 < static_cast<std::ptrdiff_t>(n)) return {OV_ASN_E_TRUNCATED, 0, 0, 0};
    if (p[2] == 0) return {OV_ASN_E_LENGTH, 0, 0, 0};
    std::uint32_t v = 0;
    std::uint32_t zeros = 0;
    for (unsigned i = 0; i < n; ++i) {
        v = v << 8 | p[2 + i];
        zeros += p[2 + i] == 0;
    }
    if (v < 0x80) return {OV_ASN_E_LENGTH, 0, 0, 0};
    if (static_cast<std::uint64_t>(end - p - 2 - n) < v) return {OV_ASN_E_TRUNCATED, 0, 0, 0};
    return {OV_ASN_OK, 2 + n, v, zeros};
}

// Reads the header of the element at p, which must carry `tag` and end by `end`. On success p
// is at the first content byte and `length` is the content length. The name/value map of
// libovutil reads DER with a reader of its own (src/WVCore/NameValueMapWire.cc) that must
// give the same status as this one for every input; the differential fuzz target
// fuzz/namevaluemap/namevaluemap_decode_fuzz.cc keeps the two in step.
// Most elements are short: the expected tag with a length below 0x80, or with one length
// byte from 0x80 to 0xFF, is recognised inline, and anything else goes the general way, which
// finds the same status for the same bytes. `zeros` counts the header's bytes that are 0 (see
// ovAsnDecodeObj).
inline unsigned long readHeader(const unsigned char*& p, const unsigned char* end,
                                unsigned char tag, std::uint32_t& length, std::uint64_t& zeros) {
    if (end - p >= 2 && p[0] == tag) [[likely]] {
        if (p[1] < 0x80) [[likely]] {
            length = p[1];
            zeros += length == 0;
            p += 2;
            return static_cast<std::size_t>(end - p) < length ? OV_ASN_E_TRUNCATED : OV_ASN_OK;
        }
        if (p[1] == 0x81 && end - p >= 3 && p[2] >= 0x80) {
            length = p[2];
            p += 3;
            return static_cast<std::size_t>(end - p) < length ? OV_ASN_E_TRUNCATED : OV_ASN_OK;
        }
    }
    const Header h = readHeaderSlow(p, end, tag);
    p += h.size;
    length = h.length;
    zeros += h.zeros;
    return h.status;
}

// True when one of the `n` bytes at p is NUL. `limit` is the end of the input.
inline bool holdsNul(const unsigned char* p, std::uint32_t n, const unsigned char* limit) {
#if defined(__SSE2__)
    // Texts are mostly shorter than 64 bytes. Where the input has 64 bytes left, such a text
    // is looked at as 64 bytes in four 16-byte steps, whatever its length, and only the NULs
    // among its own `n` bytes count: no branch depends on the length, where a loop over it
    // would mispredict its exit from one text to the next.
    if (n < 64 && limit - p >= 64) [[likely]] {
        const __m128i zero = _mm_setzero_si128();
        std::uint64_t nuls = 0;
        for (unsigned i = 0; i < 4; ++i) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
            nuls |= std::uint64_t{static_cast<std::uint16_t>(
                        _mm_movemask_epi8(_mm_cmpeq_epi8(v, zero)))}
                    << (16 * i);
        }
        return (nuls & ((std::uint64_t{1} << n) - 1)) != 0;
    }
#else
    (void)limit;
#endif
    return n && std::memchr(p, 0, n);
}

// What the building pass needs: the numbers of pointer slots and of records, and the shape of
// the tree. The shape holds, per record in input order, its number of values, its number of
// children, the length of its name and the length of each value; the building pass takes
// every count and every text length from it and reads no text's header again.
struct Tally {
    std::uint64_t pointers = 0;
    std::uint64_t records = 0;
    std::uint64_t zeros = 0;  // bytes that are 0 in the headers
    Numbers shape;
    std::uint32_t* next = nullptr;  // where the checking pass writes the shape
};

// Numbers of the shape that a top-level record of `n` content bytes may write. Every record
// takes at least 8 bytes (four headers) for its 3 numbers and every value at least 2 for its
// one, so a record and all it holds write at most one number per 2 bytes of the record,
// headers included; a record refused half-way may have written up to 2 numbers more.
constexpr std::size_t shapeBound(std::uint32_t n) { return std::size_t{n} / 2 + 8; }

// Checks the record at p, which must end by `end`, with every rule of the wire form but one:
// with kTally a NUL byte inside a text is left to ovAsnDecodeObj, which finds it by counting
// (see there); the record's shape is written and the record counted. Without kTally it
// applies that rule too and only checks. `limit` is the end of the input.
// Where an element's end is known from its header, the walk goes on from there rather than
// from where the walk through its content stopped (the two are the same once that content
// is found valid): the next element does not wait for the content to be walked, so the
// processor walks several at once.
template <bool kTally>
unsigned long checkRecord(const unsigned char*& at, const unsigned char* end,
                          const unsigned char* limit, int level, Tally& tally) {
    if (level > OV_ASN_MAX_DEPTH) return OV_ASN_E_DEPTH;
    const unsigned char* p = at;
    std::uint64_t zeros = 0;
    std::uint32_t n;
    if (const unsigned long st = readHeader(p, end, kSequence, n, zeros)) return st;
    const unsigned char* const recordEnd = p + n;
    std::uint32_t* out = nullptr;
    if constexpr (kTally) {
        // The room a top-level record needs is taken at once, so that the shape does not move
        // while its children write to it.
        if (level == 0 && !(tally.next = tally.shape.reserve(shapeBound(n)))) return OV_ASN_E_NOMEM;
        out = tally.next;
    }
    const auto text = [&](const unsigned char* fence) -> unsigned long {
        std::uint32_t length;
        if (const unsigned long st = readHeader(p, fence, kUtf8String, length, zeros)) return st;
        if constexpr (kTally) {
            *out++ = length;
        } else {
            // Callers read the texts as C strings: a NUL inside would cut them short unnoticed.
            if (holdsNul(p, length, limit)) return OV_ASN_E_TEXT;
        }
        p += length;
        return OV_ASN_OK;
    };
    std::uint32_t* const counts = out;
    if constexpr (kTally) out += 2;
    if (const unsigned long st = text(recordEnd)) return st;

    if (const unsigned long st = readHeader(p, recordEnd, kSequence, n, zeros)) return st;
    const unsigned char* const valuesEnd = p + n;
    std::uint32_t values = 0;
    for (; p < valuesEnd; ++values)
        if (const unsigned long st = text(valuesEnd)) return st;
    p = valuesEnd;

    if (const unsigned long st = readHeader(p, recordEnd, kSequence, n, zeros)) return st;
    if constexpr (kTally) tally.next = out;
    std::uint32_t children = 0;
    for (const unsigned char* const subtreesEnd = p + n; p < subtreesEnd; ++children)
        if (const unsigned long st = checkRecord<kTally>(p, subtreesEnd, limit, level + 1, tally))
            return st;

    if (p != recordEnd) return OV_ASN_E_TRAILING;
    at = recordEnd;
    if constexpr (kTally) {
        counts[0] = values;
        counts[1] = children;
        tally.pointers += std::uint64_t{values} + children;
        tally.zeros += zeros;
        ++tally.records;
        if (level == 0) tally.shape.commit(tally.next);
    }
    return OV_ASN_OK;
}

// Copies the `n` bytes at p to `to`; the number of them that are 0.
std::uint64_t copyCountingZeros(unsigned char* to, const unsigned char* p, std::size_t n) {
    std::uint64_t zeros = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const auto load = [&](unsigned at) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + at), v);
        return _mm_cmpeq_epi8(v, zero);
    };
    // The sum of the two 64-bit halves of `v`, which hold at most 4 * 8 * 255.
    const auto sum = [](__m128i v) {
        return static_cast<std::uint64_t>(_mm_cvtsi128_si32(v)) +
               static_cast<std::uint64_t>(_mm_cvtsi128_si32(_mm_unpackhi_epi64(v, v)));
    };
    while (n >= 64) {
        // Each round counts the 0 bytes of up to 255 blocks of 64 in byte-wide counters (each
        // 0 byte adds 1 as its comparison's -1 is subtracted), four apart so that the blocks
        // do not wait on each other, then sums the counters.
        __m128i a = zero, b = zero, c = zero, d = zero;
        for (unsigned block = 0; block < 255 && n >= 64; ++block, p += 64, to += 64, n -= 64) {
            a = _mm_sub_epi8(a, load(0));
            b = _mm_sub_epi8(b, load(16));
            c = _mm_sub_epi8(c, load(32));
            d = _mm_sub_epi8(d, load(48));
        }
        const __m128i sums =
            _mm_add_epi64(_mm_add_epi64(_mm_sad_epu8(a, zero), _mm_sad_epu8(b, zero)),
                          _mm_add_epi64(_mm_sad_epu8(c, zero), _mm_sad_epu8(d, zero)));
        zeros += sum(sums);
    }
    if (n >= 16) {
        __m128i a = zero;
        for (; n >= 16; p += 16, to += 16, n -= 16) a = _mm_sub_epi8(a, load(0));
        zeros += sum(_mm_sad_epu8(a, zero));
    }
#endif
    for (std::size_t i = 0; i < n; ++i) {
        to[i] = p[i];
        zeros += p[i] == 0;
    }
    return zeros;
}

// Checks the records between p and end with every rule; the status of the first fault.
template <bool kTally>
unsigned long checkRecords(const unsigned char* p, const unsigned char* end,
                           const unsigned char* limit, Tally& tally, std::uint64_t& count) {
    for (count = 0; p < end; ++count)
        if (const unsigned long st = checkRecord<kTally>(p, end, limit, 0, tally)) return st;
    return OV_ASN_OK;
}

// ---- Decoding, building pass: the tree from input found valid --------------------------

// Fills the single allocation: pointer slots, then records, then a copy of the input's
// records in which every text is ended in place. A text's element is followed by another
// element's header in every valid record (the values after a name, the subtrees after the
// values), so the byte after every text is one of a header, which the copy does not need and
// which takes the text's NUL.
struct Builder {
    unsigned char* p;            // the next element, in the copy
    const std::uint32_t* shape;  // the shape, at the next record
    unsigned char* pointers;
    namevalue_s_t* records;

    // Moves p past the header of the SEQUENCE at p.
    static void skipHeader(unsigned char*& p) {
        const unsigned char first = p[1];
        p += first < 0x80 ? 2 : 2 + (first & 0x7Fu);
    }

    // Builds the record at p into `record`. The cursors live in locals while the record's
    // texts are ended, and in the builder across the children, which continue from them.
    void record(namevalue_s_t* record) {
        unsigned char* in = p;
        const std::uint32_t* s = shape;
        // The text of `n` bytes whose element starts at `in`; the lengths are minimal, so the
        // size of a text's header follows from its length alone.
        const auto take = [&](std::uint32_t n) -> char* {
            unsigned char* const text = in + (n < 0x80 ? 2 : headerSize(n));
            text[n] = '\0';
            in = text + n;
            return reinterpret_cast<char*>(text);
        };
        const std::uint32_t nvalues = s[0];
        const std::uint32_t nsubtrees = s[1];
        skipHeader(in);
        record->name = take(s[2]);
        s += 3;
        skipHeader(in);
        record->nvalues = nvalues;
        record->values = nullptr;
        if (nvalues) {
            char** const values = reinterpret_cast<char**>(pointers);
            pointers += sizeof(char*) * nvalues;
            record->values = values;
            for (std::uint32_t i = 0; i < nvalues; ++i) values[i] = take(s[i]);
            s += nvalues;
        }
        skipHeader(in);
        p = in;
        shape = s;
        record->nsubtrees = nsubtrees;
        record->subtrees = nullptr;
        if (nsubtrees) {
            namevalue_s_t** const subtrees = reinterpret_cast<namevalue_s_t**>(pointers);
            pointers += sizeof(namevalue_s_t*) * nsubtrees;
            record->subtrees = subtrees;
            for (std::uint32_t i = 0; i < nsubtrees; ++i) {
                namevalue_s_t* const child = records++;
                subtrees[i] = child;
                this->record(child);
            }
        }
    }
};

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
    std::uint64_t outerZeros = 0;
    if (const unsigned long st = readHeader(p, end, kSequence, n, outerZeros)) return st;
    const unsigned char* const first = p;
    const unsigned char* const listEnd = p + n;
    Tally tally;
    std::uint64_t count = 0;
    if (const unsigned long st = checkRecords<true>(first, listEnd, end, tally, count)) {
        // The status is that of the first fault in input order, a NUL in a text included:
        // the refused input is checked again with that rule too. (Only a shape that ran out
        // of memory stops at no fault of the input.)
        const unsigned long strict = checkRecords<false>(first, listEnd, end, tally, count);
        return strict != OV_ASN_OK ? strict : st;
    }
    if (listEnd != end) {
        const unsigned long st = checkRecords<false>(first, listEnd, end, tally, count);
        return st != OV_ASN_OK ? st : OV_ASN_E_TRAILING;
    }
    if (count == 0) return OV_ASN_OK;

    tally.pointers += count;
    const std::uint64_t pointerBytes = tally.pointers * sizeof(void*);
    const std::uint64_t recordBytes = tally.records * sizeof(namevalue_s_t);
    const std::uint64_t size = pointerBytes + recordBytes + n;
    if (size > SIZE_MAX) return OV_ASN_E_NOMEM;
    unsigned char* const block = static_cast<unsigned char*>(std::malloc(size));
    if (!block) return OV_ASN_E_NOMEM;

    unsigned char* const copy = block + pointerBytes + recordBytes;
    // Every byte of the records is one of a header or of a text, and the checking pass has
    // counted the headers' bytes that are 0 (a tag never is): any other 0 byte is a NUL inside
    // a text. The structure is valid throughout, so that is the first fault.
    if (copyCountingZeros(copy, first, n) != tally.zeros) {
        std::free(block);
        return OV_ASN_E_TEXT;
    }
    // The entries array comes first, so that it is the address of the whole block.
    namevalue_s_t** const entries = reinterpret_cast<namevalue_s_t**>(block);
    Builder builder{copy, tally.shape.data(), block + count * sizeof(namevalue_s_t*),
                    reinterpret_cast<namevalue_s_t*>(block + pointerBytes)};
    for (std::uint64_t i = 0; i < count; ++i) {
        entries[i] = builder.records++;
        builder.record(entries[i]);
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
