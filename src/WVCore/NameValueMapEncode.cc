// NameValueMap conversions: to and from attribute lists, and to and from the codec's record
// tree for the wire.
//
// The record tree that encode builds borrows every text from the map (names from the key
// objects, values from the value objects); only arrays and records are allocated, with
// malloc, so that building it costs one allocation per name and per value array.

#include <ovutil/NameValueMap.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <ovutil/mime64.h>
#include <ovz/exceptions.h>

#include "internal/objectlib.h"
#include "NameValueMapText.h"

namespace {

const char kSourceFile[] = "src/WVCore/NameValueMapEncode";

// The text of a stored value; "" for an empty string, NULL for an object that is no string.
char const* valueText(ZObject_6_0 const* value) { return nvmValueText(value, nullptr); }

// The record tree of a whole encode lives in one allocation: the records, then every
// pointer array, carved out in the order they are filled.
struct TreeSize {
    unsigned long records = 0;
    unsigned long pointers = 0;
};

class TreeArena {
public:
    explicit TreeArena(TreeSize const& size)
        : block_(static_cast<char*>(malloc(size.records * sizeof(namevalue_s_t) +
                                           size.pointers * sizeof(void*) + 1))),
          nextRecord_(reinterpret_cast<namevalue_s_t*>(block_)),
          nextPointer_(reinterpret_cast<void**>(nextRecord_ + size.records)) {}
    ~TreeArena() { free(block_); }
    TreeArena(TreeArena const&) = delete;
    TreeArena& operator=(TreeArena const&) = delete;

    bool ok() const { return block_ != nullptr; }
    namevalue_s_t* record() { return nextRecord_++; }
    template <typename T>
    T** pointers(unsigned long n) {
        if (n == 0) return nullptr;
        void** p = nextPointer_;
        nextPointer_ += n;
        return reinterpret_cast<T**>(p);
    }

private:
    char* block_;
    namevalue_s_t* nextRecord_;
    void** nextPointer_;
};

}  // namespace

// ---- Attribute lists ----

void NameValueMap::toAttrlist(attrlist_s_t& out) const { toAttrlistInternal(out, nullptr); }

void NameValueMap::toAttrlistInternal(attrlist_s_t& out, char const* prefix) const {
    ZArrayList_6_0 names(10, 0);
    getNames(names);
    std::string fullName;
    for (unsigned long i = 0; i < names.size(); ++i) {
        auto const* key = static_cast<ZAbstractString_6_0 const*>(names.get(i));
        fullName.assign(prefix != nullptr ? prefix : "");
        fullName.append(ovutil_internal::textOf(*key));
        auto const* entry = static_cast<NameValueEntry const*>(map_.getEntry(*key));
        for (unsigned long v = 0; v < entry->values.size(); ++v) {
            char const* text = valueText(entry->values.get(v));
            if (text == nullptr) continue;
            // The list copies the text; the record only lends it.
            value_s_t value = {ATTR_VALUE_STRING, const_cast<char*>(text), 0, nullptr};
            attrlist_add_entry(&out, fullName.data(), &value);
        }
        entry->subtree.toAttrlistInternal(out, fullName.c_str());
    }
}

void NameValueMap::addNameValue(attr_s_t const& attr) {
    if (attr.values == nullptr) return;
    for (unsigned int i = 0; i < attr.nvalues; ++i) {
        value_s_t const& value = attr.values[i];
        switch (value.type) {
            case ATTR_VALUE_STRING:
                if (value.string != nullptr) addString(attr.name, value.string);
                break;
            case ATTR_VALUE_UINT:
                // A number needs its four bytes; anything shorter is not one.
                if (value.data != nullptr && value.length >= sizeof(unsigned int)) {
                    addString(attr.name, *static_cast<unsigned int const*>(value.data));
                }
                break;
            case ATTR_VALUE_BUFFER:
            case ATTR_VALUE_POBJ:
                if (value.data != nullptr || value.length == 0) {
                    addString(attr.name, static_cast<char const*>(value.data), value.length);
                }
                break;
            default:
                break;
        }
    }
}

void NameValueMap::addNameValue(namevalue_s_t const& record) {
    // One look-up for the whole record: the same as addString for each text in turn.
    NameValueEntry* entry = findOrCreateEntry(record.name);
    if (record.values != nullptr) {
        for (unsigned int i = 0; i < record.nvalues; ++i) {
            entry->values.add(ZUTF8ConstString_6_0(record.values[i]));
        }
    }
    if (record.subtrees != nullptr) {
        for (unsigned int i = 0; i < record.nsubtrees; ++i) {
            if (record.subtrees[i] != nullptr) entry->subtree.addNameValue(*record.subtrees[i]);
        }
    }
}

// ---- Record tree ----

bool NameValueMap::buildRecord(namevalue_s_t* record, char const* name,
                               NameValueEntry const* entry) const {
    record->name = const_cast<char*>(name);
    record->nvalues = 0;
    record->values = nullptr;
    record->nsubtrees = 0;
    record->subtrees = nullptr;
    if (entry == nullptr) return true;

    unsigned long nvalues = entry->values.size();
    if (nvalues > UINT_MAX) return false;
    if (nvalues != 0) {
        auto** values = static_cast<char**>(malloc(nvalues * sizeof(char*)));
        if (values == nullptr) return false;
        for (unsigned long i = 0; i < nvalues; ++i) {
            values[i] = const_cast<char*>(valueText(entry->values.get(i)));
        }
        record->values = values;
        record->nvalues = static_cast<unsigned int>(nvalues);
    }

    NameValueMap const& subtree = entry->subtree;
    ZArrayList_6_0 names(10, 0);
    subtree.getNames(names);
    unsigned long nsubtrees = names.size();
    if (nsubtrees == 0) return true;
    if (nsubtrees > UINT_MAX) return false;
    auto** children =
        static_cast<namevalue_s_t**>(calloc(nsubtrees, sizeof(namevalue_s_t*)));
    if (children == nullptr) return false;
    record->subtrees = children;
    for (unsigned long i = 0; i < nsubtrees; ++i) {
        auto* child = static_cast<namevalue_s_t*>(malloc(sizeof(namevalue_s_t)));
        if (child == nullptr) return false;
        // Counted before it is filled, so that freeMap reaches whatever it holds.
        children[i] = child;
        record->nsubtrees = static_cast<unsigned int>(i + 1);
        auto const* key = static_cast<ZAbstractString_6_0 const*>(names.get(i));
        auto const* childEntry = static_cast<NameValueEntry const*>(subtree.map_.getEntry(*key));
        if (!subtree.buildRecord(child, key->getChars(), childEntry)) return false;
    }
    return true;
}

void NameValueMap::encodeMap(namevalue_s_t* record, char const* name) const {
    if (record == nullptr) return;
    buildRecord(record, name, findEntry(name));
}

void NameValueMap::freeMap(namevalue_s_t* record) const {
    if (record == nullptr) return;
    if (record->subtrees != nullptr) {
        for (unsigned int i = 0; i < record->nsubtrees; ++i) {
            if (record->subtrees[i] == nullptr) continue;
            freeMap(record->subtrees[i]);
            free(record->subtrees[i]);
            record->subtrees[i] = nullptr;
        }
    }
    record->nsubtrees = 0;
    free(record->subtrees);
    record->subtrees = nullptr;
    if (record->values != nullptr) {
        record->nvalues = 0;
        free(record->values);
        record->values = nullptr;
    }
}

// ---- Wire ----

// Builds the record tree of a whole map for encode; a member so that it reaches the maps'
// hash maps directly.
class NameValueMap::TreeBuilder {
public:
    static void measure(ZHashKeyMap_6_0 const& map, TreeSize& size);
    static void fill(ZHashKeyMap_6_0 const& map, namevalue_s_t** slots, TreeArena& arena);
};

// Counts the records and pointer slots below the names of `map`.
void NameValueMap::TreeBuilder::measure(ZHashKeyMap_6_0 const& map, TreeSize& size) {
    ZArrayList_6_0 entries(map.size(), 0);
    map.listObjects(entries);
    size.records += entries.size();
    size.pointers += entries.size();
    for (unsigned long i = 0; i < entries.size(); ++i) {
        auto const* entry = static_cast<NameValueEntry const*>(entries.get(i));
        size.pointers += entry->values.size();
        if (entry->subtree.map_.size() != 0) measure(entry->subtree.map_, size);
    }
}

// Fills one record per name of `map` into `slots`, borrowing the texts.
void NameValueMap::TreeBuilder::fill(ZHashKeyMap_6_0 const& map, namevalue_s_t** slots,
                                     TreeArena& arena) {
    ZArrayList_6_0 keys(map.size(), 0);
    ZArrayList_6_0 entries(map.size(), 0);
    map.listKeys(keys);
    map.listObjects(entries);
    for (unsigned long i = 0; i < entries.size(); ++i) {
        auto const* entry = static_cast<NameValueEntry const*>(entries.get(i));
        namevalue_s_t* record = arena.record();
        slots[i] = record;
        record->name = const_cast<char*>(static_cast<ZAbstractString_6_0 const*>(keys.get(i))->getChars());
        record->nvalues = static_cast<unsigned int>(entry->values.size());
        record->values = arena.pointers<char>(record->nvalues);
        for (unsigned int v = 0; v < record->nvalues; ++v) {
            record->values[v] = const_cast<char*>(valueText(entry->values.get(v)));
        }
        record->nsubtrees = 0;
        record->subtrees = nullptr;
        if (entry->subtree.map_.size() != 0) {
            ZHashKeyMap_6_0 const& subtree = entry->subtree.map_;
            record->nsubtrees = static_cast<unsigned int>(subtree.size());
            record->subtrees = arena.pointers<namevalue_s_t>(record->nsubtrees);
            fill(subtree, record->subtrees, arena);
        }
    }
}

void NameValueMap::encode(ov_asn_buffer_t& out, unsigned long& status) const {
    // The same tree encodeMap would build for each name, built in one allocation.
    TreeSize size;
    TreeBuilder::measure(map_, size);
    namevalueList_s_t list = {0, nullptr};
    if (size.pointers > UINT_MAX) {
        status = OV_ASN_E_TOO_LARGE;
        return;
    }
    TreeArena arena(size);
    if (!arena.ok()) {
        status = OV_ASN_E_NOMEM;
        return;
    }
    list.count = static_cast<unsigned int>(map_.size());
    list.entries = arena.pointers<namevalue_s_t>(list.count);
    if (list.count != 0) TreeBuilder::fill(map_, list.entries, arena);
    status = ovAsnEncodeObj(out, list);
}

void NameValueMap::encode(wvobj_t& object, unsigned long& status) {
    ov_asn_buffer_t buffer = {0, nullptr};
    encode(buffer, status);
    object.reserved1 = 0;
    object.reserved2 = 0;
    object.length = 0;
    if (status == OV_ASN_OK) {
        object.length = buffer.length;
        object.data = buffer.data;
    } else {
        object.data = nullptr;
    }
}

void NameValueMap::decode(ov_asn_buffer_t& in, unsigned long& status) {
    namevalueList_s_t list = {0, nullptr};
    status = ovAsnDecodeObj(in, list);
    if (status != OV_ASN_OK) return;
    // An object-library exception while adding passes through; the names added before it
    // stay in the map, and the decoded tree is released all the same.
    try {
        for (unsigned int i = 0; i < list.count; ++i) {
            if (list.entries[i] != nullptr) addNameValue(*list.entries[i]);
        }
    } catch (...) {
        ovAsnFreeObj(list);
        throw;
    }
    ovAsnFreeObj(list);
}

void NameValueMap::decode(wvobj_t& object, unsigned long& status) {
    ov_asn_buffer_t buffer = {object.length, object.data};
    decode(buffer, status);
}
