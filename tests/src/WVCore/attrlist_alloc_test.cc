// Attribute lists when memory runs out: the operations raise the object library's
// out-of-memory exception, never std::bad_alloc, and leave the list as it was.

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <ovutil/NameValueMap.h>
#include <ovutil/OVObject.h>
#include <ovutil/attrlist.h>
#include <ovz/exceptions.h>

#include "harness/failing_alloc.h"

namespace {

// The names and value texts of a list, in order: what must not change when an operation fails.
std::vector<std::string> contents(const attrlist_s_t* list) {
    std::vector<std::string> out;
    for (unsigned i = 0; i < list->count; ++i) {
        std::string line = list->attrs[i].name;
        for (unsigned v = 0; v < list->attrs[i].nvalues; ++v)
            line += std::string(" ") + list->attrs[i].values[v].string;
        out.push_back(line);
    }
    return out;
}

void add(attrlist_s_t* list, const char* name, const char* text) {
    value_s_t value = {ATTR_VALUE_STRING, const_cast<char*>(text), 0, nullptr};
    attrlist_add_entry(list, const_cast<char*>(name), &value);
}

// How an operation ended with every allocation from number `after` on failing.
struct Ending {
    bool outOfMemory = false;  // ZOutOfMemoryException_6_0
    bool other = false;        // any other exception
    long attempts = 0;         // allocations asked for; <= after: none failed
};

template <class Operation>
Ending runFailingFrom(long after, Operation operation) {
    Ending ending;
    ovtest::FailingAllocations fail(after);
    try {
        operation();
    } catch (ZOutOfMemoryException_6_0&) {
        ending.outOfMemory = true;
    } catch (...) {
        ending.other = true;
    }
    ending.attempts = fail.attempts();
    return ending;
}

// Every allocation of each operation in turn fails, and all after it: each time the operation
// either completes or raises ZOutOfMemoryException_6_0 with the list unchanged; no other
// exception leaves it.
TEST(AttrlistAlloc, OperationsRaiseTheObjectLibraryExceptionAndKeepTheList) {
    if (!ovtest::canFailAllocations())
        GTEST_SKIP() << "the sanitizer's allocator cannot be told to fail";
    // Names longer than a string keeps in its own room, with characters to upper-case.
    const char* const kExisting = "existing-attribute-\xc3\xa9t\xc3\xa9";
    const struct {
        const char* what;
        void (*operation)(attrlist_s_t*);
    } cases[] = {
        {"find an attribute",
         [](attrlist_s_t* l) { attrlist_find_entry(l, "EXISTING-ATTRIBUTE-\xc3\x89T\xc3\x89"); }},
        {"add to an attribute",
         [](attrlist_s_t* l) { add(l, "Existing-Attribute-\xc3\xa9t\xc3\xa9", "more"); }},
        {"add an attribute", [](attrlist_s_t* l) { add(l, "another-long-attribute-name", "v"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (long after = 0;; ++after) {
            SCOPED_TRACE("allocations fail from number " + std::to_string(after));
            attrlist_s_t* list = static_cast<attrlist_s_t*>(calloc(1, sizeof(attrlist_s_t)));
            ASSERT_NE(list, nullptr);
            add(list, kExisting, "first");
            add(list, "zz-last-attribute-of-the-list", "last");
            const std::vector<std::string> before = contents(list);
            const Ending ending = runFailingFrom(after, [&] { c.operation(list); });
            EXPECT_FALSE(ending.other);
            if (ending.outOfMemory) {
                EXPECT_EQ(contents(list), before);
            }
            attrlist_delete(&list);
            if (ending.attempts <= after) {
                EXPECT_FALSE(ending.outOfMemory) << "nothing failed";
                break;
            }
        }
    }
}

// The many-value additions (the rebuild of a flattened list, a map's conversion to a list)
// with each allocation failing in turn: each time they complete or raise
// ZOutOfMemoryException_6_0, and the list then holds what one attrlist_add_entry per value
// would have left after some first values of the run, none at all included.
TEST(AttrlistAlloc, ManyValuesAtOnceRaiseTheObjectLibraryExceptionAndLeaveAFirstPart) {
    if (!ovtest::canFailAllocations())
        GTEST_SKIP() << "the sanitizer's allocator cannot be told to fail";
    // Names out of order, one differing from another only in case, one the list holds.
    const std::vector<std::pair<std::string, std::string>> values = {
        {"long-attribute-name-c", "value of c"},
        {"LONG-ATTRIBUTE-NAME-\xc3\xa9", "value of e-acute"},
        {"long-attribute-name-b", "value of b"},
        {"long-attribute-name-\xc3\xa9", "again e-acute"},
        {"long-attribute-name-a", "value of a"},
    };
    OVObject flat;
    NameValueMap map;
    for (const auto& [name, text] : values) {
        flat.addStringValue("attrlistnames", name.c_str(), nullptr);
        flat.addStringValue(name.c_str(), text.c_str(), nullptr);
        flat.addIntegerValue((name + "attrlistvaltype").c_str(), ATTR_VALUE_STRING, nullptr);
        map.addString(name.c_str(), text.c_str());
    }
    auto fresh = [] {
        attrlist_s_t* list = static_cast<attrlist_s_t*>(calloc(1, sizeof(attrlist_s_t)));
        add(list, "long-attribute-name-B", "held before");
        return list;
    };
    // What the list holds after the first k values, for every k.
    std::vector<std::vector<std::string>> firstParts;
    for (size_t k = 0; k <= values.size(); ++k) {
        attrlist_s_t* list = fresh();
        for (size_t i = 0; i < k; ++i) add(list, values[i].first.c_str(), values[i].second.c_str());
        firstParts.push_back(contents(list));
        attrlist_delete(&list);
    }
    const struct {
        const char* what;
        void (*operation)(const OVObject&, const NameValueMap&, attrlist_s_t*);
    } cases[] = {
        {"rebuild", [](const OVObject& o, const NameValueMap&,
                       attrlist_s_t* l) { o.attrListValue_internal("", *l, nullptr); }},
        {"toAttrlist",
         [](const OVObject&, const NameValueMap& m, attrlist_s_t* l) { m.toAttrlist(*l); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (long after = 0;; ++after) {
            SCOPED_TRACE("allocations fail from number " + std::to_string(after));
            attrlist_s_t* list = fresh();
            const Ending ending = runFailingFrom(after, [&] { c.operation(flat, map, list); });
            EXPECT_FALSE(ending.other);
            if (ending.outOfMemory) {
                EXPECT_NE(std::find(firstParts.begin(), firstParts.end(), contents(list)),
                          firstParts.end());
            } else {
                EXPECT_EQ(contents(list), firstParts.back());
            }
            attrlist_delete(&list);
            if (ending.attempts <= after) {
                EXPECT_FALSE(ending.outOfMemory) << "nothing failed";
                break;
            }
        }
    }
}

}  // namespace
