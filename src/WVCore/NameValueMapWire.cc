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
// first pass checks the whole input with the codec's rules, in the codec's order, and only
// input found valid is added to the map, so a refused input leaves the map unchanged. The
// second pass adds each record as addNameValue(record) would add the codec's record for it.
//
// Encoding makes the bytes ovAsnEncodeObj makes for the record tree of encodeMap: a first
// pass lists the records in order and sizes them (with the codec's depth and size limits,
// checked in the codec's order), the second writes them front to back into one buffer of
// exactly that size.

#include <ovutil/NameValueMap.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <typeinfo>
#include <vector>

#include "internal/NameValueMapText.h"

namespace {

constexpr unsigned char kSequence = 0x30;
constexpr unsigned char kUtf8String = 0x0C;
constexpr std::uint64_t kMaxBuffer = UINT_MAX;

// The bytes of one text to write.
struct Text {
    char const* data;
    std::size_t size;
};

// ---- Reading ----------------------------------------------------------------------------

// Reads the header of the element at p, which must carry `tag` and end by `end`. On success p
// is at the first content byte and `length` is the content length. The codec's checks, in
// its order, so that both give the same status.
__attribute__((always_inline)) inline unsigned long readHeader(unsigned char const*& p,
                                                               unsigned char const* end,
                                                               unsigned char tag,
                                                               std::uint32_t& length) {
    if (p == end) return OV_ASN_E_TRUNCATED;
    if (*p != tag) return OV_ASN_E_TAG;
    if (end - p < 2) return OV_ASN_E_TRUNCATED;
    unsigned char const first = p[1];
    p += 2;
    if (first < 0x80) {
        length = first;
    } else {
        // 0x80 is the indefinite form, 0xFF is reserved; more than 4 length bytes cannot
        // describe anything that fits in a buffer without a leading zero.
        unsigned const n = first & 0x7Fu;
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
std::uint32_t skipHeader(unsigned char const*& p) {
    unsigned char const first = p[1];
    p += 2;
    if (first < 0x80) return first;
    std::uint32_t v = 0;
    for (unsigned n = first & 0x7Fu; n != 0; --n) v = v << 8 | *p++;
    return v;
}

// First pass: checks, and finds the longest text (the second pass copies each text out to
// NUL-terminate it, into room made once for the longest).
class Checker {
public:
    std::uint32_t longestLength = 0;

    unsigned long text(unsigned char const*& p, unsigned char const* end) {
        std::uint32_t n;
        if (unsigned long const st = readHeader(p, end, kUtf8String, n)) return st;
        // The map's texts are C strings: a NUL inside would cut them short unnoticed.
        if (n != 0 && std::memchr(p, 0, n) != nullptr) return OV_ASN_E_TEXT;
        if (n > longestLength) longestLength = n;
        p += n;
        return OV_ASN_OK;
    }

    unsigned long record(unsigned char const*& p, unsigned char const* end, int level) {
        if (level > OV_ASN_MAX_DEPTH) return OV_ASN_E_DEPTH;
        std::uint32_t n;
        if (unsigned long const st = readHeader(p, end, kSequence, n)) return st;
        unsigned char const* const recordEnd = p + n;
        if (unsigned long const st = text(p, recordEnd)) return st;

        if (unsigned long const st = readHeader(p, recordEnd, kSequence, n)) return st;
        for (unsigned char const* const valuesEnd = p + n; p < valuesEnd;) {
            if (unsigned long const st = text(p, valuesEnd)) return st;
        }
        if (unsigned long const st = readHeader(p, recordEnd, kSequence, n)) return st;
        for (unsigned char const* const subtreesEnd = p + n; p < subtreesEnd;) {
            if (unsigned long const st = record(p, subtreesEnd, level + 1)) return st;
        }
        return p == recordEnd ? OV_ASN_OK : OV_ASN_E_TRAILING;
    }
};

// Room for one text and its NUL: on the stack for the usual short texts, else malloc'ed.
class TextBuffer {
public:
    TextBuffer() = default;
    TextBuffer(TextBuffer const&) = delete;
    TextBuffer& operator=(TextBuffer const&) = delete;
    ~TextBuffer() { std::free(heap_); }

    bool reserve(std::size_t n) {
        if (n <= sizeof inline_) return true;
        heap_ = static_cast<char*>(std::malloc(n));
        buffer_ = heap_;
        return heap_ != nullptr;
    }

    // The UTF8String at p (already checked, so free of NUL bytes) as a C string, valid until
    // the next call; p moves past it.
    char const* take(unsigned char const*& p) {
        std::uint32_t const n = skipHeader(p);
        if (n != 0) std::memcpy(buffer_, p, n);
        buffer_[n] = '\0';
        p += n;
        return buffer_;
    }

private:
    char inline_[256];
    char* heap_ = nullptr;
    char* buffer_ = inline_;
};

}  // namespace

// Second pass: adds checked records to a map. A member (so that it reaches the map's
// entries) that the library does not export.
class __attribute__((visibility("hidden"))) NameValueMap::Wire {
public:
    // Adds the record at p (already checked) to `map`, as addNameValue(record) adds the
    // codec's record: its values under its name, then each child to the name's subtree. A
    // record that holds neither values nor children adds nothing.
    static void addRecord(NameValueMap& map, unsigned char const*& p, TextBuffer& text) {
        skipHeader(p);
        unsigned char const* name = p;
        std::uint32_t const nameLength = skipHeader(p);
        p += nameLength;
        std::uint32_t valuesLength = skipHeader(p);
        unsigned char const* values = p;
        p += valuesLength;
        std::uint32_t const subtreesLength = skipHeader(p);
        if (valuesLength == 0 && subtreesLength == 0) return;

        // The map and the list store clones of the views: ZUTF8String_6_0 objects, as
        // findOrCreateEntry and addString store.
        NameValueEntry* entry = map.findOrCreateEntry(text.take(name));
        for (unsigned char const* const valuesEnd = values + valuesLength; values < valuesEnd;) {
            entry->values.add(ZUTF8ConstString_6_0(text.take(values)));
        }
        for (unsigned char const* const subtreesEnd = p + subtreesLength; p < subtreesEnd;) {
            addRecord(entry->subtree, p, text);
        }
    }

    struct Item;
    struct Plan;
    static unsigned long size(NameValueMap const& map, int level, std::uint64_t& total, Plan& plan);
    static unsigned char* write(unsigned char* p, Item const*& item, Text const*& text);
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
    unsigned char const* p = in.data;
    unsigned char const* const end = p + in.length;
    std::uint32_t n;
    if ((status = readHeader(p, end, kSequence, n)) != OV_ASN_OK) return;
    unsigned char const* const first = p;
    unsigned char const* const listEnd = p + n;
    Checker checker;
    while (p < listEnd) {
        if ((status = checker.record(p, listEnd, 0)) != OV_ASN_OK) return;
    }
    if (p != end) {
        status = OV_ASN_E_TRAILING;
        return;
    }
    TextBuffer text;
    if (!text.reserve(std::size_t{checker.longestLength} + 1)) {
        status = OV_ASN_E_NOMEM;
        return;
    }
    status = OV_ASN_OK;
    // Object-library exceptions pass through; what was added before stays in the map.
    for (p = first; p < listEnd;) Wire::addRecord(*this, p, text);
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
Text textOf(ZObject_6_0 const* object) {
    if (object != nullptr) {
        if (typeid(*object) == typeid(ZUTF8String_6_0)) {
            auto const* s = static_cast<ZUTF8String_6_0 const*>(object);
            return {s->c_str(), s->length()};
        }
        if (auto const* s = dynamic_cast<ZAbstractString_6_0 const*>(object)) {
            return {s->c_str(), s->length()};
        }
    }
    return {"", 0};
}

unsigned char* putHeader(unsigned char* p, unsigned char tag, std::uint32_t length) {
    *p++ = tag;
    if (length < 0x80) {
        *p++ = static_cast<unsigned char>(length);
        return p;
    }
    unsigned const n = length > 0xFFFFFF ? 4 : length > 0xFFFF ? 3 : length > 0xFF ? 2 : 1;
    *p++ = static_cast<unsigned char>(0x80 | n);
    for (unsigned i = n; i-- > 0;) *p++ = static_cast<unsigned char>(length >> (8 * i));
    return p;
}

unsigned char* putText(unsigned char* p, Text text) {
    p = putHeader(p, kUtf8String, static_cast<std::uint32_t>(text.size));
    if (text.size != 0) std::memcpy(p, text.data, text.size);
    return p + text.size;
}

}  // namespace

// One record, in the order the records are written (each followed by its children). Its
// texts (name, then values) are the next 1 + values of the list of texts.
struct NameValueMap::Wire::Item {
    std::uint32_t content;   // bytes inside the record's SEQUENCE
    std::uint32_t values;    // bytes inside its values SEQUENCE
    std::uint32_t subtrees;  // bytes inside its subtrees SEQUENCE
    std::uint32_t nvalues;   // its values
    std::uint32_t children;  // records of its subtree
};

// What the first pass hands the second: the records and their texts, in writing order.
// `keys` and `entries` are non-owning lists shared by the whole encode: each map appends its
// keys and entries behind those of the maps listed before.
struct NameValueMap::Wire::Plan {
    std::vector<Item> items;
    std::vector<Text> texts;
    ZArrayList_6_0 keys{64, 0};
    ZArrayList_6_0 entries{64, 0};
};

// Lists the records of `map` (at `level`) and below into `plan` and adds their sizes to
// `total`, with the checks of the codec in its order.
unsigned long NameValueMap::Wire::size(NameValueMap const& map, int level, std::uint64_t& total,
                                       Plan& plan) {
    unsigned long const first = plan.keys.size();
    map.map_.listKeys(plan.keys);
    map.map_.listObjects(plan.entries);
    unsigned long const last = plan.keys.size();
    unsigned long status = OV_ASN_OK;
    for (unsigned long i = first; i < last; ++i) {
        if (level > OV_ASN_MAX_DEPTH) return OV_ASN_E_DEPTH;
        auto const* entry = static_cast<NameValueEntry const*>(plan.entries.get(i));
        ZArrayList_6_0 const& values = entry->values;
        unsigned long const nvalues = values.size();
        if (nvalues > UINT_MAX) return OV_ASN_E_TOO_LARGE;
        std::size_t const at = plan.items.size();
        plan.items.push_back(Item{0, 0, 0, static_cast<std::uint32_t>(nvalues), 0});
        std::uint64_t content = 0;
        Text const name = textOf(plan.keys.get(i));
        plan.texts.push_back(name);
        if (!addElement(content, name.size, status)) return status;
        std::uint64_t valueBytes = 0;
        for (unsigned long v = 0; v < nvalues; ++v) {
            Text const value = textOf(values.get(v));
            plan.texts.push_back(value);
            if (!addElement(valueBytes, value.size, status)) return status;
        }
        if (!addElement(content, valueBytes, status)) return status;
        std::uint64_t subtrees = 0;
        if (entry->subtree.map_.size() != 0) {
            status = size(entry->subtree, level + 1, subtrees, plan);
            if (status != OV_ASN_OK) return status;
        }
        if (!addElement(content, subtrees, status)) return status;
        if (!addElement(total, content, status)) return status;
        Item& item = plan.items[at];
        item.content = static_cast<std::uint32_t>(content);
        item.values = static_cast<std::uint32_t>(valueBytes);
        item.subtrees = static_cast<std::uint32_t>(subtrees);
        item.children = static_cast<std::uint32_t>(entry->subtree.map_.size());
    }
    return OV_ASN_OK;
}

// Writes the record at `item` and its children; `item` and `text` move past them.
unsigned char* NameValueMap::Wire::write(unsigned char* p, Item const*& item, Text const*& text) {
    Item const& record = *item++;
    p = putHeader(p, kSequence, record.content);
    p = putText(p, *text++);
    p = putHeader(p, kSequence, record.values);
    for (std::uint32_t v = 0; v < record.nvalues; ++v) p = putText(p, *text++);
    p = putHeader(p, kSequence, record.subtrees);
    for (std::uint32_t c = 0; c < record.children; ++c) p = write(p, item, text);
    return p;
}

void NameValueMap::encode(ov_asn_buffer_t& out, unsigned long& status) const {
    std::uint64_t content = 0;
    std::uint64_t total = 0;
    try {
        // The lists and vectors only lend the map's own objects and texts.
        Wire::Plan plan;
        plan.items.reserve(map_.size() < 32 ? 32 : map_.size());
        plan.texts.reserve(plan.items.capacity() * 4);
        status = Wire::size(*this, 0, content, plan);
        if (status != OV_ASN_OK || !addElement(total, content, status)) return;

        // The codec's own allocation, so that ov_asn_buffer_free releases it.
        ov_asn_buffer_t made = {0, nullptr};
        status = ov_asn_buffer_alloc(made, static_cast<unsigned int>(total));
        if (status != OV_ASN_OK) return;
        unsigned char* p = putHeader(made.data, kSequence, static_cast<std::uint32_t>(content));
        Wire::Item const* item = plan.items.data();
        Text const* text = plan.texts.data();
        for (Wire::Item const* const end = item + plan.items.size(); item != end;) {
            p = Wire::write(p, item, text);
        }
        out = made;
    } catch (...) {
        status = OV_ASN_E_NOMEM;  // listing the records ran out of memory; nothing was made
    }
}
