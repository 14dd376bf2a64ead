// NameValueMap on the wire: DER straight from the map and straight into it.
//
// The bytes are those of the codec (the module below); the map reads and writes them itself
// so that no record tree is built, filled and freed on the way:
//
//   NameValueList ::= SEQUENCE OF NameValue
//   NameValue     ::= SEQUENCE { name UTF8String,
//                                values SEQUENCE OF UTF8String,
//                                subtrees SEQUENCE OF NameValue }
//
// Decoding is exactly as strict as the codec and reports the same status for any input: a
// first pass checks the whole input with the codec's rules, in the codec's order, and counts
// each record's values and children; only input found valid is added to the map, so a refused
// input leaves the map unchanged. The second pass adds each record as addNameValue(record)
// would add the codec's record for it, making every key and value straight from its bytes and
// giving each list and map room for what it receives before it receives it.
//
// Encoding makes the bytes ovAsnEncodeObj makes for the record tree of encodeMap in one walk
// of the map, last record first, writing from the end of the encoding to its start, so that
// every length is known by the time its header is written. A map the codec would refuse
// (nesting past its limit, 4 GiB or more) is walked again in the codec's order to give the
// codec's status.

#include <ovutil/NameValueMap.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <typeinfo>

#include "internal/NameValueMapText.h"
#include "internal/objectlib.h"

namespace {

constexpr unsigned char kSequence = 0x30;
constexpr unsigned char kUtf8String = 0x0C;
constexpr std::uint64_t kMaxBuffer = UINT_MAX;

// The bytes of one text to write.
struct Text {
    const char* data;
    std::size_t size;
};

class BackWriter;

// ---- Reading ----------------------------------------------------------------------------

// Reads the header of the element at p, which must carry `tag` and end by `end`. On success p
// is at the first content byte and `length` is the content length. The codec's checks, in
// its order, so that both give the same status.
//
// The codec has a reader of its own (platform/asn/src/asn.cc): the codec is a replaceable
// platform component whose internals this library may not call, and the map decodes straight
// into its entries instead of through the codec's record tree. The two readers must refuse
// the same bytes with the same status; fuzz/namevaluemap/namevaluemap_decode_fuzz.cc decodes
// every input both ways and fails on any difference.
__attribute__((always_inline)) inline unsigned long readHeader(const unsigned char*& p,
                                                               const unsigned char* end,
                                                               unsigned char tag,
                                                               std::uint32_t& length) {
    if (p == end) return OV_ASN_E_TRUNCATED;
    if (*p != tag) return OV_ASN_E_TAG;
    if (end - p < 2) return OV_ASN_E_TRUNCATED;
    const unsigned char first = p[1];
    p += 2;
    if (first < 0x80) {
        length = first;
    } else {
        // 0x80 is the indefinite form, 0xFF is reserved; more than 4 length bytes cannot
        // describe anything that fits in a buffer without a leading zero.
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

// The header of an element already found valid; p moves to its content.
inline std::uint32_t skipHeader(const unsigned char*& p) {
    const unsigned char first = p[1];
    p += 2;
    if (first < 0x80) return first;
    std::uint32_t v = 0;
    for (unsigned n = first & 0x7Fu; n != 0; --n) v = v << 8 | *p++;
    return v;
}

// True when one of the `n` bytes at p is NUL: eight at a time, since most texts are short
// and a call to memchr costs more than checking one of them.
inline bool holdsNul(const unsigned char* p, std::uint32_t n) {
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    constexpr std::uint64_t kHighs = 0x8080808080808080u;
    const auto zeroIn = [](const unsigned char* at) {
        std::uint64_t w;
        std::memcpy(&w, at, 8);
        return ((w - kOnes) & ~w & kHighs) != 0;
    };
    if (n >= 8) {
        for (std::uint32_t at = 0; at + 8 <= n; at += 8)
            if (zeroIn(p + at)) return true;
        return n % 8 != 0 && zeroIn(p + n - 8);
    }
    for (std::uint32_t i = 0; i < n; ++i)
        if (p[i] == 0) return true;
    return false;
}

// The counts the first pass hands the second, three per record in input order (its values,
// its children, and the room the keys of its children take in the subtree's key store), on the
// stack while they are few. No exception: ~0 when memory runs out.
class Counts {
public:
    Counts() = default;
    Counts(const Counts&) = delete;
    Counts& operator=(const Counts&) = delete;
    ~Counts() {
        if (data_ != inline_) std::free(data_);
    }

    // Room for one record's counts; its place, or ~0 when memory runs out.
    std::size_t add() {
        if (size_ + kPerRecord > capacity_) {
            const std::size_t capacity = capacity_ * 2;
            void* p = data_ == inline_ ? std::malloc(capacity * sizeof(std::uint32_t))
                                       : std::realloc(data_, capacity * sizeof(std::uint32_t));
            if (p == nullptr) return ~std::size_t{0};
            if (data_ == inline_) std::memcpy(p, inline_, size_ * sizeof(std::uint32_t));
            data_ = static_cast<std::uint32_t*>(p);
            capacity_ = capacity;
        }
        size_ += kPerRecord;
        return size_ - kPerRecord;
    }
    static constexpr std::size_t kPerRecord = 3;
    std::uint32_t* at(std::size_t place) { return data_ + place; }
    const std::uint32_t* begin() const { return data_; }

private:
    std::uint32_t inline_[513];
    std::uint32_t* data_ = inline_;
    std::size_t size_ = 0;
    std::size_t capacity_ = sizeof inline_ / sizeof inline_[0];
};

// First pass: checks with the codec's rules, in its order, and counts.
class Checker {
public:
    Counts counts;

    unsigned long text(const unsigned char*& p, const unsigned char* end, std::uint32_t& n) {
        if (const unsigned long st = readHeader(p, end, kUtf8String, n)) return st;
        // The map's texts are C strings: a NUL inside would cut them short unnoticed.
        if (holdsNul(p, n)) return OV_ASN_E_TEXT;
        p += n;
        return OV_ASN_OK;
    }

    // Checks the record at p and adds the room its key takes in the key store to `keyBytes`
    // (nothing for a record that adds nothing).
    unsigned long record(const unsigned char*& p, const unsigned char* end, int level,
                         std::uint64_t& keyBytes) {
        if (level > OV_ASN_MAX_DEPTH) return OV_ASN_E_DEPTH;
        std::uint32_t n;
        if (const unsigned long st = readHeader(p, end, kSequence, n)) return st;
        const unsigned char* const recordEnd = p + n;
        std::uint32_t nameLength;
        if (const unsigned long st = text(p, recordEnd, nameLength)) return st;

        if (const unsigned long st = readHeader(p, recordEnd, kSequence, n)) return st;
        std::uint32_t values = 0;
        for (const unsigned char* const valuesEnd = p + n; p < valuesEnd; ++values) {
            if (const unsigned long st = text(p, valuesEnd, n)) return st;
        }
        if (const unsigned long st = readHeader(p, recordEnd, kSequence, n)) return st;
        const std::size_t place = counts.add();
        if (place == ~std::size_t{0}) return OV_ASN_E_NOMEM;
        counts.at(place)[0] = values;
        std::uint32_t children = 0;
        std::uint64_t childKeyBytes = 0;
        for (const unsigned char* const subtreesEnd = p + n; p < subtreesEnd; ++children) {
            if (const unsigned long st = record(p, subtreesEnd, level + 1, childKeyBytes))
                return st;
        }
        counts.at(place)[1] = children;
        // A hint only: a sum past what the count holds leaves the rest to be found later.
        counts.at(place)[2] =
            childKeyBytes < UINT32_MAX ? static_cast<std::uint32_t>(childKeyBytes) : UINT32_MAX;
        if (values != 0 || children != 0) keyBytes += ovutil_internal::textKeySize(nameLength);
        return p == recordEnd ? OV_ASN_OK : OV_ASN_E_TRAILING;
    }
};

}  // namespace

// Second pass: adds checked records to a map. A member (so that it reaches the map's
// entries) that the library does not export.
class __attribute__((visibility("hidden"))) NameValueMap::Wire {
public:
    // The most values of a record that are added in one call.
    static constexpr std::uint32_t kBatch = 64;

    // Adds the record at p (already checked, with its counts next at `counts`) to `map`, as
    // addNameValue(record) adds the codec's record: its values under its name, then each
    // child to the name's subtree. A record that holds neither values nor children adds
    // nothing.
    static void addRecord(NameValueMap& map, const unsigned char*& p,
                          const std::uint32_t*& counts) {
        const std::uint32_t nvalues = counts[0];
        const std::uint32_t nchildren = counts[1];
        const std::uint32_t childKeyBytes = counts[2];
        counts += Counts::kPerRecord;
        const std::uint32_t recordLength = skipHeader(p);
        if (nvalues == 0 && nchildren == 0) {
            p += recordLength;
            return;
        }
        const std::uint32_t nameLength = skipHeader(p);
        const char* const name = reinterpret_cast<const char*>(p);
        p += nameLength;
        skipHeader(p);
        // The key and the values are the ZUTF8String_6_0 objects that findOrCreateEntry and
        // addString store, made straight from their bytes; the entry is a new empty one, as
        // findOrCreateEntry makes for a new name. A record's values (up to a
        // batch) are made in the entry's own allocation, behind the entry, so that a new name
        // costs one allocation; the map keeps the key in storage of its own. The map takes
        // the entry over, and deletes it when the name is there already.
        if (nvalues != 0 && nvalues <= kBatch) {
            ZArrayList_6_0::Text texts[kBatch];
            for (std::uint32_t i = 0; i < nvalues; ++i) {
                const std::uint32_t n = skipHeader(p);
                texts[i] = {reinterpret_cast<const char*>(p), n};
                p += n;
            }
            const std::size_t room = ovutil_internal::textsSize(texts, nvalues);
            void* const block = ZObject_6_0::operator new(sizeof(NameValueEntry) + room);
            auto* const made = ::new (block) NameValueEntry;  // allocates nothing, cannot throw
            auto* entry = static_cast<NameValueEntry*>(
                ovutil_internal::getOrPutText(map.map_, name, nameLength, made));
            if (entry == made) {
                ovutil_internal::addTextsAt(entry->values,
                                            static_cast<char*>(block) + sizeof(NameValueEntry),
                                            texts, nvalues);
            } else {
                ovutil_internal::addTexts(entry->values, texts, nvalues);
            }
            skipHeader(p);
            if (nchildren != 0) addChildren(entry->subtree, p, counts, nchildren, childKeyBytes);
            return;
        }
        auto* entry = static_cast<NameValueEntry*>(
            ovutil_internal::getOrPutText(map.map_, name, nameLength, new NameValueEntry));
        if (nvalues != 0) {
            ovutil_internal::reserveElements(entry->values, entry->values.size() + nvalues);
            for (std::uint32_t i = 0; i < nvalues; ++i) {
                const std::uint32_t n = skipHeader(p);
                ovutil_internal::addOwned(
                    entry->values, ovutil_internal::newString(reinterpret_cast<const char*>(p), n));
                p += n;
            }
        }
        skipHeader(p);
        if (nchildren != 0) addChildren(entry->subtree, p, counts, nchildren, childKeyBytes);
    }

    // Adds the `n` checked child records at p, whose keys take `keyBytes` in the key store, to
    // `subtree`.
    static void addChildren(NameValueMap& subtree, const unsigned char*& p,
                            const std::uint32_t*& counts, std::uint32_t n, std::size_t keyBytes) {
        ovutil_internal::reserveEntries(subtree.map_, subtree.map_.size() + n);
        ovutil_internal::reserveTextKeys(subtree.map_, keyBytes);
        for (std::uint32_t i = 0; i < n; ++i) addRecord(subtree, p, counts);
    }

    static bool write(const NameValueMap& map, int level, BackWriter& out, unsigned long& status);
    static unsigned long codecStatus(const NameValueMap& map, int level, std::uint64_t& total);
    __attribute__((noinline)) static bool writeAll(const NameValueMap& map, BackWriter& writer,
                                                   unsigned long& status);
};

void NameValueMap::decode(ov_asn_buffer_t& in, unsigned long& status) {
    if (in.length == 0) {
        status = OV_ASN_E_EMPTY;
        return;
    }
    if (in.data == nullptr) {
        status = OV_ASN_E_INVALID;
        return;
    }
    const unsigned char* p = in.data;
    const unsigned char* const end = p + in.length;
    std::uint32_t n;
    if ((status = readHeader(p, end, kSequence, n)) != OV_ASN_OK) return;
    const unsigned char* const first = p;
    const unsigned char* const listEnd = p + n;
    Checker checker;
    unsigned long records = 0;
    std::uint64_t keyBytes = 0;
    for (; p < listEnd; ++records) {
        if ((status = checker.record(p, listEnd, 0, keyBytes)) != OV_ASN_OK) return;
    }
    if (p != end) {
        status = OV_ASN_E_TRAILING;
        return;
    }
    status = OV_ASN_OK;
    // Object-library exceptions pass through; what was added before stays in the map.
    ovutil_internal::reserveEntries(map_, map_.size() + records);
    ovutil_internal::reserveTextKeys(map_, keyBytes < SIZE_MAX ? keyBytes : SIZE_MAX);
    const std::uint32_t* counts = checker.counts.begin();
    for (p = first; p < listEnd;) Wire::addRecord(*this, p, counts);
}

// ---- Writing ----------------------------------------------------------------------------

namespace {

// Bytes taken by the tag and the DER length of an element whose content is `content` bytes.
constexpr std::uint64_t headerSize(std::uint64_t content) {
    if (content < 0x80) return 2;
    if (content <= 0xFF) return 3;
    if (content <= 0xFFFF) return 4;
    if (content <= 0xFFFFFF) return 5;
    return 6;
}

// Adds an element of `content` bytes to a running total kept at or below kMaxBuffer, so that
// no sum can wrap; false (status set) when the total would pass it.
bool addElement(std::uint64_t& total, std::uint64_t content, unsigned long& status) {
    total += headerSize(content) + content;
    if (total > kMaxBuffer) {
        status = OV_ASN_E_TOO_LARGE;
        return false;
    }
    return true;
}

// The bytes of a key or value: a string's text, "" for anything else (as the codec writes
// the NULL text that encodeMap gives such a value).
inline Text textOf(const ZObject_6_0* object) {
    if (object != nullptr) {
        if (typeid(*object) == typeid(ZUTF8String_6_0)) {
            Text text;
            text.data =
                ovutil_internal::bytesOf(*static_cast<const ZUTF8String_6_0*>(object), text.size);
            return text;
        }
        if (const auto* s = dynamic_cast<const ZAbstractString_6_0*>(object)) {
            return {s->c_str(), s->length()};
        }
    }
    return {"", 0};
}

// DER written from the last byte to the first, so that each element's length is known when
// its header is written: one walk of the map, every text read once. The bytes grow towards
// the front of a buffer that lives on the stack while it is small.
class BackWriter {
public:
    BackWriter() = default;
    BackWriter(const BackWriter&) = delete;
    BackWriter& operator=(const BackWriter&) = delete;
    ~BackWriter() {
        if (begin_ != inline_) std::free(begin_);
    }

    // Bytes written so far.
    std::uint64_t size() const { return static_cast<std::uint64_t>(end_ - p_); }
    const unsigned char* data() const { return p_; }

    // Room for `n` more bytes in front; false when the encoding would pass what a buffer can
    // hold (status OV_ASN_E_TOO_LARGE) or memory runs out (OV_ASN_E_NOMEM).
    bool reserve(std::uint64_t n, unsigned long& status) {
        if (static_cast<std::uint64_t>(p_ - begin_) >= n) return true;
        if (size() + n > kMaxBuffer) {
            status = OV_ASN_E_TOO_LARGE;
            return false;
        }
        std::uint64_t capacity = static_cast<std::uint64_t>(end_ - begin_) * 2;
        if (capacity < size() + n) capacity = size() + n;
        if (capacity > kMaxBuffer + 16) capacity = kMaxBuffer + 16;
        auto* fresh = static_cast<unsigned char*>(std::malloc(capacity));
        if (fresh == nullptr) {
            status = OV_ASN_E_NOMEM;
            return false;
        }
        const std::uint64_t used = size();
        unsigned char* const freshEnd = fresh + capacity;
        std::memcpy(freshEnd - used, p_, used);
        if (begin_ != inline_) std::free(begin_);
        begin_ = fresh;
        end_ = freshEnd;
        p_ = freshEnd - used;
        return true;
    }

    // The header of an element whose content is the `length` bytes in front of which it goes.
    // REQUIRES: room for 6 bytes.
    void putHeader(unsigned char tag, std::uint32_t length) {
        if (length < 0x80) {
            *--p_ = static_cast<unsigned char>(length);
        } else {
            unsigned char n = 0;
            for (std::uint32_t rest = length; rest != 0; rest >>= 8, ++n) {
                *--p_ = static_cast<unsigned char>(rest);
            }
            *--p_ = static_cast<unsigned char>(0x80 | n);
        }
        *--p_ = tag;
    }

    // A UTF8String of `text`.
    bool putText(Text text, unsigned long& status) {
        if (!reserve(text.size + 6, status)) return false;
        p_ -= text.size;
        if (text.size != 0) std::memcpy(p_, text.data, text.size);
        putHeader(kUtf8String, static_cast<std::uint32_t>(text.size));
        return true;
    }

    // A SEQUENCE header in front of what was written since size() was `mark`.
    bool closeSequence(std::uint64_t mark, unsigned long& status) {
        if (!reserve(6, status)) return false;
        putHeader(kSequence, static_cast<std::uint32_t>(size() - mark));
        return true;
    }

private:
    unsigned char inline_[8192];
    unsigned char* begin_ = inline_;
    unsigned char* end_ = inline_ + sizeof inline_;
    unsigned char* p_ = end_;
};

}  // namespace

// Writes the records of `map` (at `level`), last to first, each after its children.
bool NameValueMap::Wire::write(const NameValueMap& map, int level, BackWriter& out,
                               unsigned long& status) {
    unsigned long count = 0;
    const ZHashKeyMap_6_0::Entry* entries = ovutil_internal::entriesOf(map.map_, count);
    for (unsigned long i = count; i-- > 0;) {
        if (entries[i].key == nullptr) continue;  // a removed entry's place
        if (level > OV_ASN_MAX_DEPTH) {
            status = OV_ASN_E_DEPTH;
            return false;
        }
        const auto* entry = static_cast<const NameValueEntry*>(entries[i].value);
        const std::uint64_t recordMark = out.size();
        std::uint64_t mark = out.size();
        if (entry->subtree.map_.size() != 0 && !write(entry->subtree, level + 1, out, status)) {
            return false;
        }
        if (!out.closeSequence(mark, status)) return false;
        mark = out.size();
        const ZArrayList_6_0& values = entry->values;
        ZObject_6_0* const* elements = ovutil_internal::elementsOf(values);
        for (unsigned long v = values.size(); v-- > 0;) {
            if (!out.putText(textOf(elements[v]), status)) return false;
        }
        if (!out.closeSequence(mark, status) || !out.putText(textOf(entries[i].key), status) ||
            !out.closeSequence(recordMark, status)) {
            return false;
        }
    }
    return true;
}

// The status the codec gives for the record tree of `map`: its sizing pass, in its order
// (depth before the texts of a record, texts in order, children after the values).
unsigned long NameValueMap::Wire::codecStatus(const NameValueMap& map, int level,
                                              std::uint64_t& total) {
    unsigned long status = OV_ASN_OK;
    unsigned long count = 0;
    const ZHashKeyMap_6_0::Entry* entries = ovutil_internal::entriesOf(map.map_, count);
    for (unsigned long i = 0; i < count; ++i) {
        if (entries[i].key == nullptr) continue;
        if (level > OV_ASN_MAX_DEPTH) return OV_ASN_E_DEPTH;
        const auto* entry = static_cast<const NameValueEntry*>(entries[i].value);
        std::uint64_t content = 0;
        if (!addElement(content, textOf(entries[i].key).size, status)) return status;
        std::uint64_t valueBytes = 0;
        ZObject_6_0* const* elements = ovutil_internal::elementsOf(entry->values);
        for (unsigned long v = 0; v < entry->values.size(); ++v) {
            if (!addElement(valueBytes, textOf(elements[v]).size, status)) return status;
        }
        if (!addElement(content, valueBytes, status)) return status;
        std::uint64_t subtrees = 0;
        if (entry->subtree.map_.size() != 0) {
            status = codecStatus(entry->subtree, level + 1, subtrees);
            if (status != OV_ASN_OK) return status;
        }
        if (!addElement(content, subtrees, status) || !addElement(total, content, status)) {
            return status;
        }
    }
    return OV_ASN_OK;
}

// Writes the whole encoding of `map` into `writer`; false, with the codec's status, when
// the codec would refuse the map. One function out of line for both callers (encode and the
// nested-object text), so that the walk's first level is inlined here once.
bool NameValueMap::Wire::writeAll(const NameValueMap& map, BackWriter& writer,
                                  unsigned long& status) {
    status = OV_ASN_OK;
    if (write(map, 0, writer, status) && writer.closeSequence(0, status)) return true;
    // Of several faults the codec reports the first of its own walk, front to back.
    if (status != OV_ASN_E_NOMEM) {
        std::uint64_t total = 0;
        const unsigned long first = codecStatus(map, 0, total);
        if (first != OV_ASN_OK) status = first;
    }
    return false;
}

ZUTF8String_6_0* NameValueMap::newEncodingText(const NameValueMap& value, unsigned long& status) {
    BackWriter writer;
    if (!Wire::writeAll(value, writer, status)) return nullptr;
    // The base64 text straight from the bytes, into the string that will hold it.
    return ovutil_internal::newBase64String(writer.data(),
                                            static_cast<unsigned int>(writer.size()));
}

void NameValueMap::encode(ov_asn_buffer_t& out, unsigned long& status) const {
    BackWriter writer;
    if (!Wire::writeAll(*this, writer, status)) return;
    // The codec's own allocation, so that ov_asn_buffer_free releases it.
    ov_asn_buffer_t made = {0, nullptr};
    status = ov_asn_buffer_alloc(made, static_cast<unsigned int>(writer.size()));
    if (status != OV_ASN_OK) return;
    std::memcpy(made.data, writer.data(), made.length);
    out = made;
}
