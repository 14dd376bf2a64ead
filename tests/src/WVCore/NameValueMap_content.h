// Test helpers: the content of a NameValueMap as plain data, for comparisons.
#ifndef OVUTIL_TESTS_DATAMODEL_MAP_CONTENT_H
#define OVUTIL_TESTS_DATAMODEL_MAP_CONTENT_H

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <ovutil/NameValueMap.h>

// Names (sorted, since the map defines no order) with their value texts and subtrees.
struct MapContent {
    struct Entry {
        std::vector<std::string> values;
        std::shared_ptr<MapContent> subtree;
        bool operator==(const Entry& o) const {
            return values == o.values && *subtree == *o.subtree;
        }
    };
    std::map<std::string, Entry> names;
    bool operator==(const MapContent& o) const { return names == o.names; }
};

inline MapContent ContentOf(const NameValueMap& map) {
    MapContent content;
    ZArrayList_6_0 names(10, 0);
    map.getNames(names);
    for (unsigned long i = 0; i < names.size(); ++i) {
        std::string name = static_cast<ZAbstractString_6_0*>(names.get(i))->c_str();
        MapContent::Entry entry;
        for (unsigned int v = 0; v < map.getValueCount(name.c_str()); ++v) {
            ZUTF8String_6_0* text = map.getString(name.c_str(), v);
            entry.values.push_back(text != nullptr ? text->c_str() : "<not a string>");
        }
        entry.subtree = std::make_shared<MapContent>(ContentOf(*map.getSubtree(name.c_str())));
        content.names.emplace(name, entry);
    }
    return content;
}

// A map's content on one line, for failure messages: name=[v,...]{subtree}.
inline std::string Describe(const MapContent& content) {
    std::string out;
    for (const auto& [name, entry] : content.names) {
        out += name + "=[";
        for (size_t i = 0; i < entry.values.size(); ++i) out += (i ? "," : "") + entry.values[i];
        out += "]";
        if (!entry.subtree->names.empty()) out += "{" + Describe(*entry.subtree) + "}";
        out += " ";
    }
    return out;
}

inline ::testing::AssertionResult SameContent(const NameValueMap& a, const NameValueMap& b) {
    MapContent ca = ContentOf(a), cb = ContentOf(b);
    if (ca == cb) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << Describe(ca) << "\n  differs from\n" << Describe(cb);
}

#endif  // OVUTIL_TESTS_DATAMODEL_MAP_CONTENT_H
