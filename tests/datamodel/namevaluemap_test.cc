// NameValueMap model rules: entries, indexes, text forms and deep copies.

#include <ovutil/NameValueMap.h>

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "datamodel/map_content.h"

namespace {

std::string Text(NameValueMap const& map, char const* name, unsigned int index) {
    ZUTF8String_6_0* s = map.getString(name, index);
    return s != nullptr ? s->c_str() : "<null>";
}

bool Listed(NameValueMap const& map, char const* name) {
    ZArrayList_6_0 names(10, 0);
    map.getNames(names);
    return names.indexOf(ZUTF8ConstString_6_0(name)) < names.size();
}

TEST(NameValueMap, SetPastTheEndAppendsAndSetInsideReplaces) {
    NameValueMap map;
    map.addString("n", "a");
    map.addString("n", "b");
    map.setString("n", "c", 5u);
    ASSERT_EQ(map.getValueCount("n"), 3u);
    EXPECT_EQ(Text(map, "n", 2), "c");
    map.setString("n", 1u, "B");
    EXPECT_EQ(Text(map, "n", 1), "B");
    EXPECT_EQ(map.getValueCount("n"), 3u);
    EXPECT_EQ(map.getValue("n", 3), nullptr);
    EXPECT_EQ(map.getValue("absent", 0), nullptr);
    EXPECT_EQ(map.getValues("absent"), nullptr);
}

TEST(NameValueMap, EntriesOutliveTheirValues) {
    NameValueMap map;
    map.addString("n", "only");
    map.removeValue("n", 0);
    EXPECT_FALSE(map.exist("n"));
    EXPECT_EQ(map.getValueCount("n"), 0u);
    EXPECT_NE(map.getSubtree("n"), nullptr);
    EXPECT_TRUE(Listed(map, "n"));

    // Out-of-range and unknown removals change nothing.
    map.addString("m", "x");
    map.removeString("m", 1);
    map.removeValue("absent", 0);
    EXPECT_EQ(map.getValueCount("m"), 1u);
    EXPECT_FALSE(Listed(map, "absent"));

    NameValueMap* sub = map.addSubtree("s");
    EXPECT_FALSE(map.exist("s"));
    EXPECT_EQ(map.getSubtreeCount("s"), 0u);
    EXPECT_TRUE(Listed(map, "s"));
    EXPECT_EQ(map.addSubtree("s"), sub);
    sub->addString("inner", "v");
    EXPECT_TRUE(map.exist("s"));
    EXPECT_EQ(map.getSubtreeCount("s"), 1u);

    map.removeAll();
    EXPECT_FALSE(Listed(map, "n"));
    EXPECT_EQ(map.getSubtree("s"), nullptr);
}

TEST(NameValueMap, ValueCountIgnoresSubtrees) {
    NameValueMap map;
    map.addSubtree("s")->addString("inner", "v");
    EXPECT_EQ(map.getValueCount(), 0u);
    map.addString("a", "1");
    map.addString("a", "2");
    map.addString("b", "3");
    EXPECT_EQ(map.getValueCount(), 3u);
}

TEST(NameValueMap, NamesAreCaseSensitive) {
    NameValueMap map;
    map.addString("a", "lower");
    map.addString("A", "upper");
    EXPECT_EQ(Text(map, "a", 0), "lower");
    EXPECT_EQ(Text(map, "A", 0), "upper");
    EXPECT_EQ(map.getValueCount("a"), 1u);
}

TEST(NameValueMap, TextFormsOfTheStringVariants) {
    struct Case {
        char const* label;
        void (*write)(NameValueMap&);
        char const* expected;
    } const cases[] = {
        {"set flag 0", [](NameValueMap& m) { m.setString("n", 0, 1u); }, "false"},
        {"set flag 5", [](NameValueMap& m) { m.setString("n", 5, 1u); }, "true"},
        {"set unsigned", [](NameValueMap& m) { m.setString("n", 443u, 1u); }, "443"},
        {"set bytes", [](NameValueMap& m) { m.setString("n", "\x01\x02\x03", 3u, 1u); }, "AQID"},
        {"add unsigned 7", [](NameValueMap& m) { m.addString("n", 7u); }, "7"},
        {"add unsigned max", [](NameValueMap& m) { m.addString("n", UINT_MAX); }, "4294967295"},
        {"add flag -1", [](NameValueMap& m) { m.addString("n", -1); }, "true"},
        {"add flag 0", [](NameValueMap& m) { m.addString("n", 0); }, "false"},
        {"add no bytes", [](NameValueMap& m) { m.addString("n", "\x01", 0u); }, ""},
        {"add NULL bytes", [](NameValueMap& m) { m.addString("n", nullptr, 4u); }, ""},
        {"add NULL text", [](NameValueMap& m) { m.addString("n", static_cast<char const*>(nullptr)); }, ""},
        {"add binary bytes", [](NameValueMap& m) { m.addString("n", "\xDE\xAD\xBE\xEF", 4u); }, "3q2+7w=="},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.label);
        NameValueMap map;
        map.addString("n", "before");
        c.write(map);
        ASSERT_EQ(map.getValueCount("n"), 2u);
        EXPECT_EQ(Text(map, "n", 1), c.expected);
        EXPECT_EQ(Text(map, "n", 0), "before");
    }
}

TEST(NameValueMap, StoresClonesSoTheCallerKeepsWhatItPassed) {
    NameValueMap map;
    ZUTF8String_6_0 value("v1");
    map.addValue("n", &value);
    map.setValue("n", 0, &value);
    value.append("-changed");
    EXPECT_EQ(Text(map, "n", 0), "v1");
    map.addValue("n", nullptr);  // nothing to store
    EXPECT_EQ(map.getValueCount("n"), 1u);

    // Any object may be stored; the string reader says when it is none.
    ZArrayList_6_0 notAString(1, 1);
    map.addValue("n", &notAString);
    EXPECT_NE(map.getValue("n", 1), nullptr);
    EXPECT_EQ(map.getString("n", 1), nullptr);
}

// A map with values, an empty text, a subtree two levels deep and an empty subtree.
class MapCopyTest : public ::testing::Test {
protected:
    void SetUp() override {
        original_.addString("a", "1");
        original_.addString("a", "");
        NameValueMap* s = original_.addSubtree("s");
        s->addString("x", "y");
        s->addSubtree("deeper")->addString("z", "w");
        original_.addSubtree("empty");
    }
    NameValueMap original_;
};

TEST_F(MapCopyTest, CopiesAreDeepAndIndependentBothWays) {
    MapContent before = ContentOf(original_);
    struct Case {
        char const* label;
        NameValueMap* (*make)(NameValueMap const&);
    } const cases[] = {
        {"copy constructor", [](NameValueMap const& m) { return new NameValueMap(m); }},
        {"clone", [](NameValueMap const& m) { return static_cast<NameValueMap*>(m.clone()); }},
        {"assignment",
         [](NameValueMap const& m) {
             auto* target = new NameValueMap;
             target->addString("old", "gone");
             *target = m;
             return target;
         }},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.label);
        NameValueMap* copy = c.make(original_);
        EXPECT_TRUE(SameContent(*copy, original_));

        copy->setString("a", "changed", 0u);
        copy->getSubtree("s")->getSubtree("deeper")->addString("z", "more");
        copy->addSubtree("empty")->addString("now", "full");
        copy->addString("new", "n");
        EXPECT_EQ(ContentOf(original_), before);

        MapContent copied = ContentOf(*copy);
        original_.getSubtree("s")->removeAll();
        original_.removeValue("a", 0);
        EXPECT_EQ(ContentOf(*copy), copied);
        delete copy;  // must not release anything the original still holds
        original_ = NameValueMap();
        SetUp();
    }
}

TEST_F(MapCopyTest, SelfAssignmentChangesNothing) {
    MapContent before = ContentOf(original_);
    NameValueMap& self = original_;
    original_ = self;
    EXPECT_EQ(ContentOf(original_), before);
}

}  // namespace
