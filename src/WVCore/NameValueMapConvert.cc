// NameValueMap conversions: to and from attribute lists, and to and from the codec's record
// tree (encodeMap, freeMap, addNameValue), for callers that work with the records. The wire
// encoding itself goes straight between map and bytes (NameValueMapWire.cc).
//
// The record tree that encodeMap builds borrows every text from the map (names from the key
// objects, values from the value objects); only arrays and records are allocated, with
// malloc.

#include <ovutil/NameValueMap.h>

#include <climits>
#include <cstdlib>
#include <new>
#include <string>

#include <ovutil/mime64.h>
#include <ovz/exceptions.h>

#include "internal/AttrlistBatch.h"
#include "internal/objectlib.h"
#include "internal/NameValueMapText.h"

namespace {

// Records and exceptions of this file name the map's source unit, src/WVCore/NameValueMap: the
// conversions are part of the map, kept in a file of their own for size.
constexpr char kSourceFile[] = "src/WVCore/NameValueMap";

// The text of a stored value; "" for an empty string, NULL for an object that is no string.
const char* valueText(const ZObject_6_0* value) {
    return ovutil_internal::valueText(value, nullptr);
}

}  // namespace

// ---- Attribute lists ----

void NameValueMap::toAttrlist(attrlist_s_t& out) const { toAttrlistInternal(out, nullptr); }

void NameValueMap::toAttrlistInternal(attrlist_s_t& out, const char* prefix) const try {
    // One batch for the whole tree: the names come in the map's listing order, which is not
    // the list's, and one attrlist_add_entry per value would move the list for each new name.
    ovutil_internal::attrlist::Batch batch(out);
    auto collect = [&batch](auto& self, const NameValueMap& map, const char* base) -> void {
        ZArrayList_6_0 names(10, 0);
        map.getNames(names);
        std::string fullName;
        for (unsigned long i = 0; i < names.size(); ++i) {
            const auto* key = static_cast<const ZAbstractString_6_0*>(names.get(i));
            fullName.assign(base != nullptr ? base : "");
            fullName.append(ovutil_internal::textOf(*key));
            const auto* entry = static_cast<const NameValueEntry*>(map.map_.getEntry(*key));
            for (unsigned long v = 0; v < entry->values.size(); ++v) {
                const char* text = valueText(entry->values.get(v));
                if (text == nullptr) continue;
                // The batch copies the text; the record only lends it.
                value_s_t value = {ATTR_VALUE_STRING, const_cast<char*>(text), 0, nullptr};
                batch.add(fullName.c_str(), &value);
            }
            self(self, entry->subtree, fullName.c_str());
        }
    };
    collect(collect, *this, prefix);
    batch.commit();
} catch (const std::bad_alloc&) {
    // The full names are built in std::strings: running out of memory there is reported as
    // the list reports it.
    ZOutOfMemoryException_6_0().throwException(kSourceFile, __LINE__);
}

void NameValueMap::addNameValue(const attr_s_t& attr) {
    if (attr.values == nullptr) return;
    for (unsigned int i = 0; i < attr.nvalues; ++i) {
        const value_s_t& value = attr.values[i];
        switch (value.type) {
            case ATTR_VALUE_STRING:
                if (value.string != nullptr) addString(attr.name, value.string);
                break;
            case ATTR_VALUE_UINT:
                // A number needs its four bytes; anything shorter is not one.
                if (value.data != nullptr && value.length >= sizeof(unsigned int)) {
                    addString(attr.name, *static_cast<const unsigned int*>(value.data));
                }
                break;
            case ATTR_VALUE_BUFFER:
            case ATTR_VALUE_POBJ:
                if (value.data != nullptr || value.length == 0) {
                    addString(attr.name, static_cast<const char*>(value.data), value.length);
                }
                break;
            default:
                break;
        }
    }
}

void NameValueMap::addNameValue(const namevalue_s_t& record) {
    // addString per text, then addSubtree and the child per child record: the entry appears
    // with the first value or child, so a record that holds neither adds nothing. One look-up
    // serves the whole record.
    NameValueEntry* entry = nullptr;
    if (record.values != nullptr) {
        for (unsigned int i = 0; i < record.nvalues; ++i) {
            if (entry == nullptr) entry = findOrCreateEntry(record.name);
            entry->values.add(ZUTF8ConstString_6_0(record.values[i]));
        }
    }
    if (record.subtrees != nullptr) {
        for (unsigned int i = 0; i < record.nsubtrees; ++i) {
            if (record.subtrees[i] == nullptr) continue;
            if (entry == nullptr) entry = findOrCreateEntry(record.name);
            entry->subtree.addNameValue(*record.subtrees[i]);
        }
    }
}

// ---- Record tree ----

bool NameValueMap::buildRecord(namevalue_s_t* record, const char* name,
                               const NameValueEntry* entry) const {
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

    const NameValueMap& subtree = entry->subtree;
    ZArrayList_6_0 names(10, 0);
    subtree.getNames(names);
    unsigned long nsubtrees = names.size();
    if (nsubtrees == 0) return true;
    if (nsubtrees > UINT_MAX) return false;
    auto** children = static_cast<namevalue_s_t**>(calloc(nsubtrees, sizeof(namevalue_s_t*)));
    if (children == nullptr) return false;
    record->subtrees = children;
    for (unsigned long i = 0; i < nsubtrees; ++i) {
        auto* child = static_cast<namevalue_s_t*>(malloc(sizeof(namevalue_s_t)));
        if (child == nullptr) return false;
        // Counted before it is filled, so that freeMap reaches whatever it holds.
        children[i] = child;
        record->nsubtrees = static_cast<unsigned int>(i + 1);
        const auto* key = static_cast<const ZAbstractString_6_0*>(names.get(i));
        const auto* childEntry = static_cast<const NameValueEntry*>(subtree.map_.getEntry(*key));
        if (!subtree.buildRecord(child, key->getChars(), childEntry)) return false;
    }
    return true;
}

void NameValueMap::encodeMap(namevalue_s_t* record, const char* name) const {
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

// ---- The wire object wrapper (both wire roads) ----

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

void NameValueMap::decode(wvobj_t& object, unsigned long& status) {
    ov_asn_buffer_t buffer = {object.length, object.data};
    decode(buffer, status);
}
