// ZJavaProperties_6_0: a Java properties file read into a sorted table of entries.
#include <ovz/properties.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <unordered_map>

#include <ovz/exceptions.h>

#include "hash_bytes.h"
#include "java_properties_parser.h"
#include "properties_impl.h"

ZJavaProperties_6_0::ZJavaProperties_6_0() = default;
ZJavaProperties_6_0::ZJavaProperties_6_0(const ZJavaProperties_6_0& other) = default;
ZJavaProperties_6_0& ZJavaProperties_6_0::operator=(const ZJavaProperties_6_0& other) = default;
ZJavaProperties_6_0::~ZJavaProperties_6_0() = default;

ZObject_6_0* ZJavaProperties_6_0::clone() const { return new ZJavaProperties_6_0(*this); }

int ZJavaProperties_6_0::load(const char* file, const char* key) {
    if (!file) return 0;
    try {
        std::string text;
        if (ovz_properties::readWholeFile(file, text, ovz_properties::kMaxPropertiesFile) != 0)
            return 0;
        // Keyed hash: the keys come from the file.
        std::unordered_map<std::string, std::string, ovz_internal::TextHash> latest;
        for (auto& [k, v] : ovz_java::parseJavaProperties(text)) {
            if (key && k != key) continue;
            latest[std::move(k)] = std::move(v);
        }
        std::vector<std::pair<std::string, std::string>> entries(
            std::make_move_iterator(latest.begin()), std::make_move_iterator(latest.end()));
        std::sort(entries.begin(), entries.end());
        entries_.swap(entries);
    } catch (std::bad_alloc&) {
        ZOutOfMemoryException_6_0().throwException(__FILE__, __LINE__);
    }
    return 1;
}

int ZJavaProperties_6_0::getValue(const char* key, ZAbstractMutableString_6_0& out) const {
    if (key) {
        auto it =
            std::lower_bound(entries_.begin(), entries_.end(), key,
                             [](const auto& e, const char* k) { return e.first.compare(k) < 0; });
        if (it != entries_.end() && it->first == key) {
            out.assignUTF8(it->second.c_str());
            return 1;
        }
    }
    out.clear();
    return 0;
}

unsigned long ZJavaProperties_6_0::size() const { return entries_.size(); }
