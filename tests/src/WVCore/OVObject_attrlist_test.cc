// Attribute lists flattened into objects and rebuilt from them: the key names a peer reads,
// both layouts, and the rebuild of every value type (including types outside 2-5, whose
// values must not shift onto their neighbours' entries).

#include <ovutil/OVObject.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <ovz/exceptions.h>

#include "src/WVCore/OVObject_test_util.h"

namespace {

using objtest::Attribute;
using objtest::ListContent;
using objtest::Names;
using objtest::NumberBytes;
using objtest::Value;
using objtest::Values;
using Strings = std::vector<std::string>;

TEST(OVObjectAttrList, FlattensToTheFixedKeysAndRebuildsTheList) {
    objtest::List list;
    list.AddNumber("a", 7);
    list.AddNumber("a", 8);
    list.AddText("b", "x");

    OVObject o;
    o.addAttrListValue_internal("", list.list, nullptr);
    EXPECT_EQ(Names(o.map),
              (Strings{"a", "aattrlistvaltype", "attrlistnames", "b", "battrlistvaltype"}));
    EXPECT_EQ(Values(o.map, "attrlistnames"), (Strings{"a", "b"}));
    EXPECT_EQ(Values(o.map, "a"), (Strings{"7", "8"}));
    EXPECT_EQ(Values(o.map, "aattrlistvaltype"), (Strings{"5", "5"}));
    EXPECT_EQ(Values(o.map, "b"), Strings{"x"});
    EXPECT_EQ(Values(o.map, "battrlistvaltype"), Strings{"4"});

    objtest::List back;
    o.attrListValue_internal("", back.list, nullptr);
    const std::vector<Attribute> expected = {
        {"a", {{5, NumberBytes(7)}, {5, NumberBytes(8)}}},
        {"b", {{4, "x"}}},
    };
    EXPECT_EQ(ListContent(back.list), expected);

    // Flattened twice, every entry doubles; each of the two name entries then reads all of
    // its attribute's doubled values.
    o.addAttrListValue_internal("", list.list, nullptr);
    EXPECT_EQ(Values(o.map, "a"), (Strings{"7", "8", "7", "8"}));
    back.Clear();
    o.attrListValue_internal("", back.list, nullptr);
    ASSERT_EQ(back.list.count, 2u);
    EXPECT_EQ(back.list.attrs[0].nvalues, 8u);
    EXPECT_EQ(back.list.attrs[1].nvalues, 4u);
}

TEST(OVObjectAttrList, FlattenedNamesAreMadeInTheOrderTheyAreWritten) {
    // The order in which names appear is the order the map lists and encodes them in.
    struct Case {
        const char* label;
        std::vector<std::pair<const char*, std::vector<const char*>>> attributes;
        Strings names;           // in the map's listing order
        Strings namesKeyValues;  // the values of "attrlistnames"
    } const cases[] = {
        {"two attributes",
         {{"a", {"1", "2"}}, {"b", {"3"}}},
         {"attrlistnames", "aattrlistvaltype", "a", "battrlistvaltype", "b"},
         {"a", "b"}},
        // The value key of an attribute named like the names key is the names key itself:
        // its value lands there, between the names.
        {"an attribute named attrlistnames",
         {{"attrlistnames", {"x"}}, {"b", {"y", "z"}}},
         {"attrlistnames", "attrlistnamesattrlistvaltype", "battrlistvaltype", "b"},
         {"attrlistnames", "x", "b"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        objtest::List list;
        for (const auto& [name, texts] : c.attributes)
            for (const char* text : texts) list.AddText(name, text);
        OVObject o;
        o.addAttrListValue_internal("", list.list, nullptr);
        ZArrayList_6_0 listed(10, 0);
        o.map.getNames(listed);
        Strings names;
        for (unsigned long i = 0; i < listed.size(); ++i)
            names.push_back(static_cast<ZAbstractString_6_0*>(listed.get(i))->c_str());
        EXPECT_EQ(names, c.names);
        EXPECT_EQ(Values(o.map, "attrlistnames"), c.namesKeyValues);
    }
}

// One record the rebuild makes: a name and a value of the list's types.
struct Record {
    std::string name;
    Value value;
};

// The list that one attrlist_add_entry per record leaves, into a list that first holds
// `before`, and whether the run stopped on a refused record.
std::pair<std::vector<Attribute>, bool> AddedOneByOne(const std::vector<Record>& before,
                                                      const std::vector<Record>& records) {
    objtest::List list;
    auto add = [&list](const Record& r) {
        unsigned int number = 0;
        value_s_t v = {r.value.type, nullptr, 0, nullptr};
        if (r.value.type == ATTR_VALUE_STRING) {
            v.string = const_cast<char*>(r.value.content.c_str());
        } else if (r.value.type == ATTR_VALUE_UINT) {
            memcpy(&number, r.value.content.data(), sizeof number);
            v.length = sizeof number;
            v.data = &number;
        } else {
            v.length = static_cast<unsigned int>(r.value.content.size());
            v.data = r.value.content.empty() ? nullptr : const_cast<char*>(r.value.content.data());
        }
        attrlist_add_entry(&list.list, const_cast<char*>(r.name.c_str()), &v);
    };
    for (const Record& r : before) add(r);
    bool refused = false;
    try {
        for (const Record& r : records) add(r);
    } catch (const ZOutOfMemoryException_6_0&) {
        refused = true;
    }
    return {ListContent(list.list), refused};
}

// A list's content as readable text: "name: type:content, ...; ..." (bytes in hex).
std::string Describe(const std::vector<Attribute>& list) {
    std::string out;
    for (const Attribute& a : list) {
        out += a.first + ":";
        for (const Value& v : a.second) {
            out += " " + std::to_string(v.type) + ":";
            if (v.type == ATTR_VALUE_STRING) {
                out += v.content;
            } else {
                for (unsigned char byte : v.content) {
                    char hex[3];
                    snprintf(hex, sizeof hex, "%02x", byte);
                    out += hex;
                }
            }
        }
        out += "; ";
    }
    return out;
}

TEST(OVObjectAttrList, RebuildLeavesTheListOneAddEntryPerRecordWouldLeave) {
    // In-place layouts written by hand, as a peer may send them: names in any order, a name
    // given twice (each entry reads all of its values), names that differ only in case,
    // into a list that already holds some of them, and a value the list refuses.
    struct Flat {
        std::string name;
        std::vector<Value> values;
    };
    std::vector<Flat> descending;
    for (int i = 30; i > 0; --i) {
        std::string name = "n" + std::to_string(100 + i);
        descending.push_back(
            {name, {{ATTR_VALUE_STRING, name}, {ATTR_VALUE_UINT, NumberBytes(i)}}});
    }
    struct Case {
        const char* label;
        std::vector<Record> before;
        std::vector<Flat> names;  // in the order of "attrlistnames"
    } const cases[] = {
        {"descending names", {}, descending},
        {"a name twice, case variants apart",
         {},
         {{"b", {{4, "b1"}}},
          {"A", {{2, "\x01\x02"}}},
          {"B", {{4, "B1"}, {5, NumberBytes(9)}}},
          {"b", {}},  // its values are those given above
          {"a", {{3, std::string("\x30\x00", 2)}}}}},
        {"into a list that holds some names",
         {{"M", {4, "old m"}}, {"z", {4, "old z"}}, {"a", {4, "old a"}}},
         {{"m", {{4, "new m"}}}, {"Z", {{4, "new z"}}}, {"c", {{4, "c"}}}, {"A0", {{4, "a0"}}}}},
        {"a refused value after others",
         {{"k", {4, "old"}}},
         {{"y", {{4, "y"}}}, {"K", {{4, "k"}}}, {"e", {{2, ""}, {4, "after"}}}, {"d", {{4, "d"}}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        OVObject flat;
        std::vector<Record> records;
        for (const Flat& f : c.names) {
            flat.addStringValue("attrlistnames", f.name.c_str(), nullptr);
        }
        std::vector<std::string> written;
        for (const Flat& f : c.names) {
            if (std::find(written.begin(), written.end(), f.name) != written.end()) continue;
            written.push_back(f.name);
            for (const Value& v : f.values) {
                flat.addIntegerValue((f.name + "attrlistvaltype").c_str(), v.type, nullptr);
                if (v.type == ATTR_VALUE_STRING) {
                    flat.addStringValue(f.name.c_str(), v.content.c_str(), nullptr);
                } else if (v.type == ATTR_VALUE_UINT) {
                    unsigned int n;
                    memcpy(&n, v.content.data(), sizeof n);
                    flat.addIntegerValue(f.name.c_str(), n, nullptr);
                } else {
                    flat.addBufferValue(f.name.c_str(), v.content.data(),
                                        static_cast<unsigned int>(v.content.size()), nullptr);
                }
            }
        }
        // Every entry of a name reads all the values stored under that name: those given
        // with its first entry.
        for (const Flat& f : c.names) {
            auto stored = std::find_if(c.names.begin(), c.names.end(),
                                       [&f](const Flat& g) { return g.name == f.name; });
            for (const Value& v : stored->values) records.push_back({f.name, v});
        }
        const auto expected = AddedOneByOne(c.before, records);

        objtest::List list;
        for (const Record& r : c.before) list.AddText(r.name.c_str(), r.value.content.c_str());
        bool refused = false;
        try {
            flat.attrListValue_internal("", list.list, nullptr);
        } catch (const ZOutOfMemoryException_6_0&) {
            refused = true;
        }
        EXPECT_EQ(refused, expected.second);
        EXPECT_EQ(Describe(ListContent(list.list)), Describe(expected.first));
    }
}

TEST(OVObjectAttrList, EveryCarriedTypeRoundTrips) {
    const std::string bytes("\0\x01\xff z\0", 6);
    objtest::List list;
    list.AddBytes("buf", ATTR_VALUE_BUFFER, bytes);
    list.AddBytes("obj", ATTR_VALUE_POBJ, std::string("\x30\x00", 2));
    list.AddText("text", "");
    list.AddText("text", "caf\xC3\xA9 100%");
    list.AddNumber("num", 0);
    list.AddNumber("num", 4294967295u);
    list.AddText("Mixed", "t");
    list.AddNumber("Mixed", 5);
    list.AddBytes("Mixed", ATTR_VALUE_BUFFER, "b");

    for (const char* scope : {static_cast<const char*>(nullptr), "s"}) {
        SCOPED_TRACE(scope ? scope : "top level");
        OVObject o("keep");
        o.v417_addAttrListValue_deprecated("pre.", list.list, scope);
        EXPECT_EQ(Values(o.map, "pre.buf", scope), Strings{"AAH/IHoA"});
        EXPECT_EQ(Values(o.map, "pre.Mixedattrlistvaltype", scope), (Strings{"4", "5", "2"}));
        objtest::List back;
        o.v417_attrListValue_deprecated("pre.", back.list, scope);
        EXPECT_EQ(ListContent(back.list), ListContent(list.list));
        back.Clear();
        o.attrListValue_internal("other", back.list, scope);
        EXPECT_EQ(back.list.count, 0u) << "another prefix finds no names key";
    }
}

TEST(OVObjectAttrList, ValuesAfterAnotherTypeStayOnTheirOwnEntries) {
    // Types outside 2-5 have a type entry and no value entry. The rebuild reads value
    // entries with an index of its own, so the values after such a type are read back.
    struct Case {
        const char* label;
        std::vector<Value> values;  // as held by the list
        Strings typeEntries;
        Strings valueEntries;
        std::vector<Value> rebuilt;
    } const cases[] = {
        {"types 1 and 4", {{1, "ab"}, {4, "x"}}, {"1", "4"}, {"x"}, {{4, "x"}}},
        {"other types between carried ones",
         {{5, NumberBytes(3)}, {0, "z"}, {4, "t"}, {7, "q"}, {2, "\x01"}},
         {"5", "0", "4", "7", "2"},
         {"3", "t", "AQ=="},
         {{5, NumberBytes(3)}, {4, "t"}, {2, "\x01"}}},
        {"only other types", {{6, "a"}, {1, "b"}}, {"6", "1"}, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        objtest::List list;
        for (const Value& v : c.values) {
            if (v.type == ATTR_VALUE_STRING) {
                list.AddText("a", v.content.c_str());
            } else {
                list.AddBytes("a", v.type, v.content);
            }
        }
        OVObject o;
        o.addAttrListValue_internal("", list.list, nullptr);
        EXPECT_EQ(Values(o.map, "aattrlistvaltype"), c.typeEntries);
        EXPECT_EQ(Values(o.map, "a"), c.valueEntries);

        objtest::List back;
        o.attrListValue_internal("", back.list, nullptr);
        if (c.rebuilt.empty()) {
            EXPECT_EQ(back.list.count, 0u);
        } else {
            EXPECT_EQ(ListContent(back.list), (std::vector<Attribute>{{"a", c.rebuilt}}));
        }
    }
}

TEST(OVObjectAttrList, EmptyAndUnusualInput) {
    OVObject o("o");
    objtest::List empty;
    o.addAttrListValue_internal("", empty.list, "s");
    EXPECT_EQ(Names(o.map), Strings{"name"}) << "no names key and no scope entry";
    objtest::List back;
    o.attrListValue_internal("", back.list, nullptr);
    EXPECT_EQ(back.list.count, 0u);

    // A number without its bytes is left out whole, so the keys stay in step.
    attr_s_t attr = {const_cast<char*>("n"), 0, nullptr};
    value_s_t values[2] = {{ATTR_VALUE_UINT, nullptr, 4, nullptr},
                           {ATTR_VALUE_STRING, const_cast<char*>("after"), 0, nullptr}};
    attr.values = values;
    attr.nvalues = 2;
    attrlist_s_t handBuilt = {1, &attr};
    o.addAttrListValue_internal("", handBuilt, nullptr);
    EXPECT_EQ(Values(o.map, "nattrlistvaltype"), Strings{"4"});
    EXPECT_EQ(Values(o.map, "n"), Strings{"after"});

    // A buffer of no bytes is stored as the empty text; an attribute list cannot hold such a
    // value, and the list says so with its out-of-memory exception.
    value_s_t blank = {ATTR_VALUE_BUFFER, nullptr, 0, nullptr};
    attr = {const_cast<char*>("e"), 1, &blank};
    OVObject e;
    e.addAttrListValue_internal("", handBuilt, nullptr);
    EXPECT_EQ(Values(e.map, "e"), Strings{""});
    EXPECT_THROW(e.attrListValue_internal("", back.list, nullptr), ZOutOfMemoryException_6_0);
    EXPECT_EQ(back.list.count, 0u);
}

TEST(OVObjectAttrList, NestedLayoutStoresTheListAsANestedObject) {
    objtest::List list;
    list.AddText("cn", "x");

    OVObject o("o");
    o.setAttrListValue("attrs", list.list, 0, nullptr);
    EXPECT_EQ(Names(o.map), (Strings{"attrs", "name"}));
    EXPECT_EQ(o.length("attrs", nullptr), 1u);
    OVObject nested;
    o.objectValue("attrs", nested, 0, nullptr);
    EXPECT_EQ(Names(nested.map), (Strings{"attrlistnames", "cn", "cnattrlistvaltype"}));
    EXPECT_EQ(Values(nested.map, "cnattrlistvaltype"), Strings{"4"});

    o.addAttrListValue("attrs", list.list, "s");
    EXPECT_EQ(Values(o.map, "attrs", "s").size(), 1u);
    OVObject scoped;
    o.objectValue("attrs", scoped, 0, "s");
    EXPECT_EQ(Names(scoped.map), Strings{"s"});
    EXPECT_EQ(Names(*scoped.map.getSubtree("s")),
              (Strings{"attrlistnames", "cn", "cnattrlistvaltype"}));

    const std::vector<Attribute> expected = {{"cn", {{4, "x"}}}};
    objtest::List back;
    o.attrListValue("attrs", back.list, 0, nullptr);
    EXPECT_EQ(ListContent(back.list), expected);
    back.Clear();
    o.attrListValue("attrs", back.list, 0, "s");
    EXPECT_EQ(ListContent(back.list), expected);
    back.Clear();
    o.attrListValue("attrs", back.list, 0, "t");
    o.attrListValue("attrs", back.list, 3, nullptr);
    EXPECT_EQ(back.list.count, 0u);

    // A refused nested object adds nothing to the list.
    o.setBufferValue("broken", "\x30\x05", 2, 0, nullptr);
    EXPECT_THROW(o.attrListValue("broken", back.list, 0, nullptr), ZInvalidParameterException_6_0);
    EXPECT_EQ(back.list.count, 0u);
}

}  // namespace
