// A decoded NameValueMap to an attribute list and back.
//
// The bytes are decoded into a map; bytes that do not decode build a map by a small command
// language instead (so that every input yields a map). Then:
//  - toAttrlist must give what a plain model gives: the map flattened in listing order into
//    (prefix + name, value) pairs, grouped by the upper-cased full name; one attribute per
//    group, named by its first full name, holding the group's values in order as
//    ATTR_VALUE_STRING texts, the attributes sorted by their upper-cased names;
//  - the map built from that list (NameValueMap(attrlist)) holds exactly the attributes'
//    names and texts, in the list's order;
//  - converting that map to a list again gives the same list.

#include <ovutil/NameValueMap.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void Check(bool ok) {
    if (!ok) abort();
}

std::string Upper(const std::string& text) {
    ZUTF8String_6_0 s(text.c_str());
    s.upper();
    return s.c_str();
}

struct Attribute {
    std::string key;  // upper-cased name
    std::string name;
    std::vector<std::string> values;
};

void Flatten(const NameValueMap& map, const std::string& prefix, std::vector<Attribute>& out) {
    ZArrayList_6_0 names(10, 0);
    map.getNames(names);
    for (unsigned long i = 0; i < names.size(); ++i) {
        const std::string name = static_cast<ZAbstractString_6_0*>(names.get(i))->c_str();
        const std::string full = prefix + name;
        for (unsigned int v = 0; v < map.getValueCount(name.c_str()); ++v) {
            const std::string key = Upper(full);
            Attribute* group = nullptr;
            for (auto& a : out) {
                if (a.key == key) group = &a;
            }
            if (group == nullptr) {
                out.push_back(Attribute{key, full, {}});
                group = &out.back();
            }
            group->values.emplace_back(map.getString(name.c_str(), v)->c_str());
        }
        Flatten(*map.getSubtree(name.c_str()), full, out);
    }
}

bool SameList(const attrlist_s_t& a, const attrlist_s_t& b) {
    if (a.count != b.count) return false;
    for (unsigned int i = 0; i < a.count; ++i) {
        const attr_s_t& x = a.attrs[i];
        const attr_s_t& y = b.attrs[i];
        if (std::strcmp(x.name, y.name) != 0 || x.nvalues != y.nvalues) return false;
        for (unsigned int v = 0; v < x.nvalues; ++v) {
            if (x.values[v].type != y.values[v].type ||
                std::strcmp(x.values[v].string, y.values[v].string) != 0) {
                return false;
            }
        }
    }
    return true;
}

void FreeList(attrlist_s_t& list) {
    for (unsigned int i = 0; i < list.count; ++i) attr_free(&list.attrs[i]);
    free(list.attrs);
}

// Commands, one byte each, with texts taken from the input: 'v' adds a value, 's' goes into
// the subtree of the current name, 'u' goes back up, anything else sets the current name.
void Build(NameValueMap& root, const uint8_t* data, size_t size) {
    std::vector<NameValueMap*> path{&root};
    std::string name = "n";
    auto text = [&](size_t& i) {
        size_t n = i < size ? data[i++] % 8 : 0;
        std::string t;
        for (; n > 0 && i < size; --n, ++i) t += data[i] != 0 ? static_cast<char>(data[i]) : 'z';
        return t;
    };
    for (size_t i = 0; i < size && path.size() < 16;) {
        const uint8_t op = data[i++];
        if (op == 'v') {
            path.back()->addString(name.c_str(), text(i).c_str());
        } else if (op == 's') {
            path.push_back(path.back()->addSubtree(name.c_str()));
        } else if (op == 'u') {
            if (path.size() > 1) path.pop_back();
        } else {
            name = text(i);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0xFFFFFFFFu) return 0;
    NameValueMap map;
    ov_asn_buffer_t in = {static_cast<unsigned int>(size), const_cast<unsigned char*>(data)};
    unsigned long status = 0;
    map.decode(in, status);
    if (status != OV_ASN_OK) Build(map, data, size);

    std::vector<Attribute> expected;
    Flatten(map, "", expected);
    for (size_t i = 1; i < expected.size(); ++i) {  // sort by key, stable (keys are distinct)
        for (size_t j = i;
             j > 0 && std::strcmp(expected[j - 1].key.c_str(), expected[j].key.c_str()) > 0; --j) {
            std::swap(expected[j - 1], expected[j]);
        }
    }

    attrlist_s_t list = {0, nullptr};
    map.toAttrlist(list);
    Check(list.count == expected.size());
    for (unsigned int i = 0; i < list.count; ++i) {
        const attr_s_t& attr = list.attrs[i];
        Check(expected[i].name == attr.name);
        Check(attr.nvalues == expected[i].values.size());
        for (unsigned int v = 0; v < attr.nvalues; ++v) {
            Check(attr.values[v].type == ATTR_VALUE_STRING && attr.values[v].string != nullptr);
            Check(expected[i].values[v] == attr.values[v].string);
        }
    }

    NameValueMap back(list);
    ZArrayList_6_0 names(10, 0);
    back.getNames(names);
    Check(names.size() == list.count);
    for (unsigned int i = 0; i < list.count; ++i) {
        const char* name = static_cast<ZAbstractString_6_0*>(names.get(i))->c_str();
        Check(std::strcmp(name, list.attrs[i].name) == 0);
        Check(back.getValueCount(name) == list.attrs[i].nvalues);
        Check(back.getSubtreeCount(name) == 0);
        for (unsigned int v = 0; v < list.attrs[i].nvalues; ++v) {
            Check(std::strcmp(back.getString(name, v)->c_str(), list.attrs[i].values[v].string) ==
                  0);
        }
    }

    attrlist_s_t again = {0, nullptr};
    back.toAttrlist(again);
    Check(SameList(list, again));
    FreeList(list);
    FreeList(again);
    return 0;
}
