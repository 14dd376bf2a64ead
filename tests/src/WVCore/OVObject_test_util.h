// Test helpers for OVObject: map contents, debug levels that are put back, attribute lists
// as plain data.
#ifndef OVUTIL_TESTS_OBJECT_OBJECT_TEST_UTIL_H
#define OVUTIL_TESTS_OBJECT_OBJECT_TEST_UTIL_H

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <ovsvc/svc.h>
#include <ovutil/OVObject.h>
#include <ovutil/attrlist.h>

#include "src/WVCore/NameValueMap_content.h"

namespace objtest {

// The value texts of `name` in `map` (or in the subtree of `scope`), in index order.
inline std::vector<std::string> Values(const NameValueMap& map, const char* name,
                                       const char* scope = nullptr) {
    const NameValueMap* level = scope != nullptr ? map.getSubtree(scope) : &map;
    std::vector<std::string> out;
    if (level == nullptr) return out;
    for (unsigned int i = 0; i < level->getValueCount(name); ++i) {
        ZUTF8String_6_0* text = level->getString(name, i);
        out.push_back(text != nullptr ? text->c_str() : "<not a string>");
    }
    return out;
}

// The names listed at one level of a map, sorted.
inline std::vector<std::string> Names(const NameValueMap& map) {
    std::vector<std::string> out;
    for (const auto& [name, entry] : ContentOf(map).names) out.push_back(name);
    return out;
}

// Sets a debug level for the life of the guard and puts the previous one back.
class DebugLevel {
public:
    DebugLevel(dce_svc_handle_t handle, unsigned int subcomp, unsigned int level)
        : handle_(handle), subcomp_(subcomp), previous_(ov_svc_debug_level(handle, subcomp)) {
        ov_svc_set_debug_level(handle_, subcomp_, level);
    }
    ~DebugLevel() { ov_svc_set_debug_level(handle_, subcomp_, previous_); }
    DebugLevel(const DebugLevel&) = delete;
    DebugLevel& operator=(const DebugLevel&) = delete;

private:
    dce_svc_handle_t handle_;
    unsigned int subcomp_;
    unsigned int previous_;
};

// One value of an attribute list as plain data: its type and its text or bytes.
struct Value {
    unsigned int type;
    std::string content;  // the text for type 4, the bytes otherwise
    bool operator==(const Value& o) const { return type == o.type && content == o.content; }
};
using Attribute = std::pair<std::string, std::vector<Value>>;

inline std::vector<Attribute> ListContent(const attrlist_s_t& list) {
    std::vector<Attribute> out;
    for (unsigned int i = 0; i < list.count; ++i) {
        const attr_s_t& attr = list.attrs[i];
        Attribute a{attr.name, {}};
        for (unsigned int j = 0; j < attr.nvalues; ++j) {
            const value_s_t& v = attr.values[j];
            if (v.type == ATTR_VALUE_STRING) {
                a.second.push_back({v.type, v.string != nullptr ? v.string : "<null>"});
            } else {
                a.second.push_back(
                    {v.type, std::string(static_cast<const char*>(v.data), v.length)});
            }
        }
        out.push_back(a);
    }
    return out;
}

// The 4 host-order bytes of a number, as ListContent shows a type-5 value.
inline std::string NumberBytes(unsigned int n) {
    return std::string(reinterpret_cast<const char*>(&n), sizeof n);
}

// An attribute list that releases itself.
struct List {
    List() = default;
    ~List() { Clear(); }
    List(const List&) = delete;
    List& operator=(const List&) = delete;
    void Clear() {
        for (unsigned int i = 0; i < list.count; ++i) attr_free(&list.attrs[i]);
        free(list.attrs);
        list = {0, nullptr};
    }
    void AddText(const char* name, const char* text) {
        value_s_t v = {ATTR_VALUE_STRING, const_cast<char*>(text), 0, nullptr};
        attrlist_add_entry(&list, const_cast<char*>(name), &v);
    }
    void AddNumber(const char* name, unsigned int n) {
        value_s_t v = {ATTR_VALUE_UINT, nullptr, sizeof n, &n};
        attrlist_add_entry(&list, const_cast<char*>(name), &v);
    }
    void AddBytes(const char* name, unsigned int type, const std::string& bytes) {
        value_s_t v = {type, nullptr, static_cast<unsigned int>(bytes.size()),
                       const_cast<char*>(bytes.data())};
        attrlist_add_entry(&list, const_cast<char*>(name), &v);
    }
    attrlist_s_t list = {0, nullptr};
};

}  // namespace objtest

#endif  // OVUTIL_TESTS_OBJECT_OBJECT_TEST_UTIL_H
