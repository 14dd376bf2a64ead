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

namespace {

const char kSourceFile[] = "src/WVCore/NameValueMapEncode";

// The text of a stored value; "" for an empty string, NULL for an object that is no string.
char const* valueText(ZObject_6_0 const* value) {
    auto const* text = dynamic_cast<ZAbstractString_6_0 const*>(value);
    return text != nullptr ? text->c_str() : nullptr;
}

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
        fullName.append(key->c_str());
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

void NameValueMap::encode(ov_asn_buffer_t& out, unsigned long& status) const {
    ZArrayList_6_0 names(10, 0);
    getNames(names);
    namevalueList_s_t list = {0, nullptr};
    bool built = true;
    unsigned long count = names.size();
    if (count > UINT_MAX) {
        built = false;
    } else if (count != 0) {
        list.entries = static_cast<namevalue_s_t**>(calloc(count, sizeof(namevalue_s_t*)));
        built = list.entries != nullptr;
        for (unsigned long i = 0; built && i < count; ++i) {
            auto* record = static_cast<namevalue_s_t*>(malloc(sizeof(namevalue_s_t)));
            if (record == nullptr) {
                built = false;
                break;
            }
            list.entries[i] = record;
            list.count = static_cast<unsigned int>(i + 1);
            auto const* key = static_cast<ZAbstractString_6_0 const*>(names.get(i));
            built = buildRecord(record, key->getChars(),
                                static_cast<NameValueEntry const*>(map_.getEntry(*key)));
        }
    }
    // A tree that could not be built completely is never handed to the codec: it would
    // encode a map with values missing.
    status = built ? ovAsnEncodeObj(out, list) : OV_ASN_E_NOMEM;
    for (unsigned int i = 0; i < list.count; ++i) {
        freeMap(list.entries[i]);
        free(list.entries[i]);
    }
    free(list.entries);
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
