// OVObject::decode of arbitrary bytes into an object that already holds values, then every
// reader on every name of the top level and of each scope, and the attribute-list rebuild.
//
// Properties checked (abort on failure):
//  - a refused decode adds nothing: the object is exactly as before;
//  - an accepted decode re-encodes, and that encoding decodes into an object with the same
//    content;
//  - a refused nested-object read leaves its target unchanged;
//  - an attribute list rebuilt from the object is the list that one attrlist_add_entry per
//    record leaves (records read with the object's own readers), and flattened into a fresh
//    object and rebuilt again, it comes back the same (unless its names collide with the
//    layout's own keys).
// Leaks and memory errors are the sanitizers' to find.
//
// Seeds (corpus/): encodings of objects with a scope, a nested object, a nested and an
// in-place attribute list (with types outside 2-5), buffers and an empty object.

#include <ovutil/OVObject.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <ovz/exceptions.h>

namespace {

// A map's content, flattened into one comparable text: names in listing order with their
// values and, recursively, their subtrees.
void Describe(const NameValueMap& map, std::string& out) {
    ZArrayList_6_0 names(10, 0);
    map.getNames(names);
    out += '{';
    for (unsigned long i = 0; i < names.size(); ++i) {
        const char* name = static_cast<const ZAbstractString_6_0*>(names.get(i))->c_str();
        out += name;
        out += '=';
        for (unsigned int v = 0; v < map.getValueCount(name); ++v) {
            const ZUTF8String_6_0* text = map.getString(name, v);
            out += text != nullptr ? text->c_str() : "<?>";
            out += '\x01';
        }
        Describe(*map.getSubtree(name), out);
    }
    out += '}';
}

std::string Content(const OVObject& object) {
    std::string out;
    Describe(object.map, out);
    return out;
}

// An attribute list as one comparable text.
std::string ListText(const attrlist_s_t& list) {
    std::string out;
    for (unsigned int i = 0; i < list.count; ++i) {
        const attr_s_t& attr = list.attrs[i];
        out += attr.name;
        out += ':';
        for (unsigned int j = 0; j < attr.nvalues; ++j) {
            const value_s_t& v = attr.values[j];
            out += std::to_string(v.type) + '/';
            if (v.string != nullptr) out += v.string;
            if (v.data != nullptr) out.append(static_cast<const char*>(v.data), v.length);
            out += '\x02';
        }
        out += '\x03';
    }
    return out;
}

void FreeList(attrlist_s_t& list) {
    for (unsigned int i = 0; i < list.count; ++i) attr_free(&list.attrs[i]);
    free(list.attrs);
    list = {0, nullptr};
}

// Names that the flattened layout uses for itself make a list that cannot round-trip.
bool CollidesWithLayout(const attrlist_s_t& list) {
    for (unsigned int i = 0; i < list.count; ++i) {
        if (strstr(list.attrs[i].name, "attrlist") != nullptr) return true;
    }
    return false;
}

// The rebuild as its steps read: every record of the flattened names, read with the
// object's own readers, handed to attrlist_add_entry one by one. Returns whether the list
// refused a record (the run stops there).
bool RebuildOneByOne(const OVObject& object, const char* scope, attrlist_s_t& list) {
    const unsigned int names = object.length("attrlistnames", scope);
    for (unsigned int i = 0; i < names; ++i) {
        const std::string name = object.getStringValue("attrlistnames", i, scope).c_str();
        const std::string typeKey = name + "attrlistvaltype";
        unsigned int next = 0;  // value entries exist for types 2-5 only
        for (unsigned int j = 0; j < object.length(typeKey.c_str(), scope); ++j) {
            const unsigned int type = object.integerValue(typeKey.c_str(), j, scope);
            value_s_t record = {type, nullptr, 0, nullptr};
            char* bytes = nullptr;
            unsigned int number = 0;
            if (type == ATTR_VALUE_BUFFER || type == ATTR_VALUE_POBJ) {
                object.bufferValue(name.c_str(), bytes, record.length, next++, scope);
                record.data = bytes;
            } else if (type == ATTR_VALUE_STRING) {
                record.string =
                    const_cast<char*>(object.getStringValue(name.c_str(), next++, scope).c_str());
            } else if (type == ATTR_VALUE_UINT) {
                number = object.integerValue(name.c_str(), next++, scope);
                record.length = sizeof number;
                record.data = &number;
            } else {
                continue;
            }
            try {
                attrlist_add_entry(&list, const_cast<char*>(name.c_str()), &record);
            } catch (ZOutOfMemoryException_6_0&) {
                free(bytes);
                return true;
            }
            free(bytes);
        }
    }
    return false;
}

// Rebuilds the list flattened in `scope`: it must be the list that one attrlist_add_entry
// per record leaves, refusals included, whatever the order of the names; and it must
// survive another round.
void CheckRebuild(const OVObject& object, const char* scope) {
    attrlist_s_t list = {0, nullptr};
    bool refused = false;
    try {
        object.attrListValue_internal("", list, scope);
    } catch (ZOutOfMemoryException_6_0&) {
        // The list refuses values it cannot hold (a buffer that decodes to no bytes).
        refused = true;
    }
    attrlist_s_t reference = {0, nullptr};
    if (RebuildOneByOne(object, scope, reference) != refused) abort();
    if (ListText(reference) != ListText(list)) abort();
    FreeList(reference);
    if (list.count != 0 && !CollidesWithLayout(list)) {
        OVObject flat;
        flat.addAttrListValue_internal("", list, nullptr);
        attrlist_s_t again = {0, nullptr};
        flat.attrListValue_internal("", again, nullptr);
        if (ListText(again) != ListText(list)) abort();
        FreeList(again);
    }
    FreeList(list);
}

// Every reader on every value of `name` in `scope`.
void ReadEverything(const OVObject& object, const char* name, const char* scope) {
    unsigned int count = object.length(name, scope);
    (void)object.exist(name, scope);
    for (unsigned int i = 0; i <= count; ++i) {
        const ZUTF8String_6_0& text = object.getStringValue(name, i, scope);
        if (i == count && !text.isEmpty()) abort();
        (void)object.integerValue(name, i, scope);
        (void)object.booleanValue(name, i, scope);
        char* data = nullptr;
        unsigned int length = 0;
        object.bufferValue(name, data, length, i, scope);
        if (data == nullptr && length != 0) abort();
        free(data);

        OVObject nested("n");
        const std::string before = Content(nested);
        try {
            object.objectValue(name, nested, i, scope);
        } catch (ZInvalidParameterException_6_0&) {
            if (Content(nested) != before) abort();
        }
        attrlist_s_t list = {0, nullptr};
        try {
            object.attrListValue(name, list, i, scope);
        } catch (ZInvalidParameterException_6_0&) {
            if (list.count != 0) abort();
        } catch (ZOutOfMemoryException_6_0&) {
        }
        FreeList(list);
    }
    ZArrayList_6_0 strings(1, 0);
    object.stringArrayValue(name, strings, scope);
    if (strings.size() != count) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0xFFFFFFFFu) return 0;
    OVObject object("held");
    object.addIntegerValue("attrlistnames", 1, "held");
    const std::string before = Content(object);

    unsigned long status = 0;
    object.decode(static_cast<unsigned int>(size), data, status);
    if (status != OV_ASN_OK) {
        if (Content(object) != before) abort();
        return 0;
    }

    // Back on the wire and in again: the same content.
    ov_asn_buffer_t wire = {0, nullptr};
    object.encode(wire, status);
    if (status != OV_ASN_OK) abort();
    OVObject again;
    again.decode(wire, status);
    ov_asn_buffer_free(wire);
    if (status != OV_ASN_OK || Content(again) != Content(object)) abort();

    ZArrayList_6_0 names(10, 0);
    object.map.getNames(names);
    for (unsigned long i = 0; i < names.size(); ++i) {
        const char* name = static_cast<const ZAbstractString_6_0*>(names.get(i))->c_str();
        ReadEverything(object, name, nullptr);
        const NameValueMap* scope = object.map.getSubtree(name);
        ZArrayList_6_0 scoped(10, 0);
        scope->getNames(scoped);
        for (unsigned long k = 0; k < scoped.size(); ++k) {
            ReadEverything(object, static_cast<const ZAbstractString_6_0*>(scoped.get(k))->c_str(),
                           name);
        }
        CheckRebuild(object, name);
    }
    CheckRebuild(object, nullptr);

    OVObject copied;
    object.getNameValues(copied, nullptr);
    if (copied.length() != object.length()) abort();
    return 0;
}
