// Attribute lists flattened into objects and rebuilt from them: the key names a peer reads,
// both layouts, and the rebuild of every value type (including types outside 2-5, whose
// values must not shift onto their neighbours' entries).

#include <ovutil/OVObject.h>

#include <gtest/gtest.h>

#include <string>
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
    EXPECT_EQ(Names(o.map), (Strings{"a", "aattrlistvaltype", "attrlistnames", "b", "battrlistvaltype"}));
    EXPECT_EQ(Values(o.map, "attrlistnames"), (Strings{"a", "b"}));
    EXPECT_EQ(Values(o.map, "a"), (Strings{"7", "8"}));
    EXPECT_EQ(Values(o.map, "aattrlistvaltype"), (Strings{"5", "5"}));
    EXPECT_EQ(Values(o.map, "b"), Strings{"x"});
    EXPECT_EQ(Values(o.map, "battrlistvaltype"), Strings{"4"});

    objtest::List back;
    o.attrListValue_internal("", back.list, nullptr);
    std::vector<Attribute> const expected = {
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

TEST(OVObjectAttrList, EveryCarriedTypeRoundTrips) {
    std::string const bytes("\0\x01\xff z\0", 6);
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

    for (char const* scope : {static_cast<char const*>(nullptr), "s"}) {
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
        char const* label;
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
    for (Case const& c : cases) {
        SCOPED_TRACE(c.label);
        objtest::List list;
        for (Value const& v : c.values) {
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
    EXPECT_EQ(Names(*scoped.map.getSubtree("s")), (Strings{"attrlistnames", "cn", "cnattrlistvaltype"}));

    std::vector<Attribute> const expected = {{"cn", {{4, "x"}}}};
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
