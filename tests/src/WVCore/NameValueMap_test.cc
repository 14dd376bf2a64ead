// NameValueMap model rules: entries, indexes, text forms and deep copies.

#include <ovutil/NameValueMap.h>

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>

#include "src/WVCore/NameValueMap_content.h"
#include <typeinfo>
#include <utility>
#include <vector>

namespace {

std::string Text(const NameValueMap& map, const char* name, unsigned int index) {
    ZUTF8String_6_0* s = map.getString(name, index);
    return s != nullptr ? s->c_str() : "<null>";
}

bool Listed(const NameValueMap& map, const char* name) {
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
        const char* label;
        void (*write)(NameValueMap&);
        const char* expected;
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
        {"add NULL text",
         [](NameValueMap& m) { m.addString("n", static_cast<const char*>(nullptr)); }, ""},
        {"add binary bytes", [](NameValueMap& m) { m.addString("n", "\xDE\xAD\xBE\xEF", 4u); },
         "3q2+7w=="},
    };
    for (const Case& c : cases) {
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
        const char* label;
        NameValueMap* (*make)(const NameValueMap&);
    } const cases[] = {
        {"copy constructor", [](const NameValueMap& m) { return new NameValueMap(m); }},
        {"clone", [](const NameValueMap& m) { return static_cast<NameValueMap*>(m.clone()); }},
        {"assignment",
         [](const NameValueMap& m) {
             auto* target = new NameValueMap;
             target->addString("old", "gone");
             *target = m;
             return target;
         }},
    };
    for (const Case& c : cases) {
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

// NameValueMap storage: maps and entries that are made, copied or assigned while empty and
// filled afterwards, and records added in one pass that must store exactly what addSubtree
// and addString per value would: same names in the same order, same values, same classes.

namespace {

// `prefix` followed by the decimal `n`.
std::string Numbered(const char* prefix, int n) {
    std::string out(prefix);
    out += std::to_string(n);
    return out;
}

std::vector<std::string> NamesInOrder(const NameValueMap& map) {
    ZArrayList_6_0 names(10, 0);
    map.getNames(names);
    std::vector<std::string> out;
    for (unsigned long i = 0; i < names.size(); ++i)
        out.push_back(static_cast<ZAbstractString_6_0*>(names.get(i))->c_str());
    return out;
}

// Every key and value of the map and its subtrees is a ZUTF8String_6_0; order is compared too.
void ExpectSameStructure(const NameValueMap& a, const NameValueMap& b) {
    ASSERT_EQ(NamesInOrder(a), NamesInOrder(b));
    ZArrayList_6_0 names(10, 0);
    a.getNames(names);
    for (unsigned long i = 0; i < names.size(); ++i) {
        EXPECT_EQ(typeid(*names.get(i)), typeid(ZUTF8String_6_0));
        std::string name = static_cast<ZAbstractString_6_0*>(names.get(i))->c_str();
        SCOPED_TRACE(name);
        ASSERT_EQ(a.getValueCount(name.c_str()), b.getValueCount(name.c_str()));
        for (unsigned int v = 0; v < a.getValueCount(name.c_str()); ++v) {
            ZObject_6_0* x = a.getValue(name.c_str(), v);
            ZObject_6_0* y = b.getValue(name.c_str(), v);
            ASSERT_NE(x, nullptr);
            ASSERT_NE(y, nullptr);
            EXPECT_EQ(typeid(*x), typeid(ZUTF8String_6_0));
            EXPECT_EQ(typeid(*y), typeid(ZUTF8String_6_0));
            EXPECT_TRUE(x->equals(*y));
            // An empty stored value has no characters, like any empty owned string.
            auto* s = static_cast<ZUTF8String_6_0*>(x);
            if (s->isEmpty()) {
                EXPECT_EQ(s->getChars(), nullptr);
            }
        }
        ExpectSameStructure(*a.getSubtree(name.c_str()), *b.getSubtree(name.c_str()));
    }
}

// A chain of `depth` subtrees named "d" below `root`, whose last map holds leaf = `leaf`.
void BuildChain(NameValueMap& root, int depth, const char* leaf) {
    NameValueMap* at = &root;
    for (int i = 0; i < depth; ++i) at = at->addSubtree("d");
    at->addString("leaf", leaf);
}

// The depth of such a chain and the text of its leaf.
std::pair<int, std::string> Chain(const NameValueMap& root) {
    int depth = 0;
    const NameValueMap* at = &root;
    for (; at->getSubtreeCount("d") != 0; ++depth) at = at->getSubtree("d");
    return {depth, Text(*at, "leaf", 0)};
}

// Through the API a map can be nested far deeper than the wire allows. Copies (construction,
// assignment, clone, an entry's copy), removal and destruction of such a map must not recurse
// once per level (100,000 levels would overflow the stack), and copies stay deep.
TEST(NameValueMap, DeepMapsAreCopiedAndDestroyedWithoutRecursion) {
    constexpr int kDepth = 100000;
    NameValueMap map;
    BuildChain(map, kDepth, "x");
    map.addString("top", "t");

    NameValueMap copy(map);
    EXPECT_EQ(Chain(copy), std::make_pair(kDepth, std::string("x")));
    EXPECT_EQ(Text(copy, "top", 0), "t");

    NameValueMap assigned;
    BuildChain(assigned, 1000, "old");  // replaced, and destroyed, by the assignment
    assigned = map;
    EXPECT_EQ(Chain(assigned), std::make_pair(kDepth, std::string("x")));

    std::unique_ptr<ZObject_6_0> cloned(map.clone());
    EXPECT_EQ(Chain(static_cast<NameValueMap&>(*cloned)), std::make_pair(kDepth, std::string("x")));

    // The copies are independent: changing the original's leaf changes none of them.
    NameValueMap* leaf = &map;
    while (leaf->getSubtreeCount("d") != 0) leaf = leaf->getSubtree("d");
    leaf->setString("leaf", "y", 0u);
    EXPECT_EQ(Chain(copy).second, "x");
    EXPECT_EQ(Chain(assigned).second, "x");

    NameValueEntry entry;
    BuildChain(entry.subtree, kDepth, "e");
    NameValueEntry entryCopy(entry);
    EXPECT_EQ(Chain(entryCopy.subtree), std::make_pair(kDepth, std::string("e")));

    // Wide levels on the way down, and a removeAll of the whole of it.
    NameValueMap wide;
    NameValueMap* at = &wide;
    for (int i = 0; i < 2000; ++i) {
        for (const char* name : {"a", "b", "c"}) at->addString(name, "v");
        at->addSubtree("side")->addSubtree("below")->addString("s", "v");
        at = at->addSubtree("d");
    }
    NameValueMap wideCopy(wide);
    EXPECT_EQ(Chain(wideCopy).first, 1999);  // the last "d" holds nothing
    EXPECT_EQ(Text(*wideCopy.getSubtree("d")->getSubtree("side")->getSubtree("below"), "s", 0),
              "v");
    wide.removeAll();
    EXPECT_EQ(wide.getSubtreeCount("d"), 0u);
    map.removeAll();
    EXPECT_FALSE(map.exist("d"));
}

TEST(NameValueMapStorage, FirstInsertionAfterConstructionAndCopy) {
    NameValueMap empty;
    NameValueMap copied(empty);
    NameValueMap assigned;
    assigned = empty;
    std::unique_ptr<NameValueMap> cloned(static_cast<NameValueMap*>(empty.clone()));
    NameValueMap* maps[] = {&empty, &copied, &assigned, cloned.get()};
    for (int m = 0; m < 4; ++m) {
        SCOPED_TRACE(m);
        NameValueMap& map = *maps[m];
        EXPECT_FALSE(map.exist("a"));
        EXPECT_EQ(map.getValues("a"), nullptr);
        EXPECT_EQ(map.getValueCount(), 0u);
        std::string mine = Numbered("value of map ", m);
        map.addString("a", mine.c_str());
        map.addSubtree("t")->addString("x", "1");
    }
    for (int m = 0; m < 4; ++m) {
        SCOPED_TRACE(m);
        NameValueMap& map = *maps[m];
        EXPECT_EQ(NamesInOrder(map), (std::vector<std::string>{"a", "t"}));
        ASSERT_EQ(map.getValueCount("a"), 1u);
        EXPECT_STREQ(map.getString("a", 0)->c_str(), Numbered("value of map ", m).c_str());
        EXPECT_EQ(map.getSubtreeCount("t"), 1u);
    }
}

TEST(NameValueMapStorage, EmptyEntriesFilledAfterTheMapWasCopied) {
    NameValueMap original;
    original.addSubtree("only-subtree");  // entry with nothing in it
    original.addString("removed", "v");
    original.removeValue("removed", 0);  // entry whose list held a value once
    NameValueMap copy(original);
    NameValueMap assigned;
    assigned = original;
    struct Case {
        const char* name;
        NameValueMap* map;
    };
    const Case cases[] = {{"original", &original}, {"copy", &copy}, {"assigned", &assigned}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(c.map->exist("only-subtree"));
        EXPECT_FALSE(c.map->exist("removed"));
        c.map->addSubtree("only-subtree")->addString("inner", c.name);
        c.map->addString("removed", c.name);
        c.map->addString("removed", "second value, long enough to need more room than the first");
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(NamesInOrder(*c.map), (std::vector<std::string>{"only-subtree", "removed"}));
        EXPECT_STREQ(c.map->getSubtree("only-subtree")->getString("inner", 0)->c_str(), c.name);
        ASSERT_EQ(c.map->getValueCount("removed"), 2u);
        EXPECT_STREQ(c.map->getString("removed", 0)->c_str(), c.name);
    }
}

// A record tree over caller texts; the nodes own the arrays the records point into.
struct RecordNode {
    RecordNode(std::string n, std::vector<const char*> v, std::vector<RecordNode> c)
        : name(std::move(n)), values(std::move(v)), children(std::move(c)) {}

    std::string name;
    std::vector<const char*> values;
    std::vector<RecordNode> children;
    std::vector<char*> valuePointers;
    std::vector<namevalue_s_t> childRecords;
    std::vector<namevalue_s_t*> childPointers;
    namevalue_s_t record{};

    const namevalue_s_t& Build() {
        valuePointers.assign(values.size(), nullptr);
        for (size_t i = 0; i < values.size(); ++i) valuePointers[i] = const_cast<char*>(values[i]);
        childRecords.clear();
        childPointers.clear();
        for (RecordNode& child : children) childRecords.push_back(child.Build());
        for (namevalue_s_t& r : childRecords) childPointers.push_back(&r);
        record = {const_cast<char*>(name.c_str()), static_cast<unsigned int>(values.size()),
                  values.empty() ? nullptr : valuePointers.data(),
                  static_cast<unsigned int>(children.size()),
                  children.empty() ? nullptr : childPointers.data()};
        return record;
    }
};

// What addNameValue(record) does, by hand: addString per text, then per child addSubtree on
// the record's name and the child. A record that holds neither values nor children adds
// nothing, not even its name.
void AddByHand(NameValueMap& map, const RecordNode& node) {
    for (const char* v : node.values) map.addString(node.name.c_str(), v);
    for (const RecordNode& child : node.children)
        AddByHand(*map.addSubtree(node.name.c_str()), child);
}

TEST(NameValueMapStorage, RecordAddsWhatAddStringPerValueAdds) {
    const std::string longText(200, 'L');
    struct Case {
        const char* name;
        RecordNode node;
    };
    std::vector<Case> cases;
    cases.push_back({"one value", {"n", {"v"}, {}}});
    cases.push_back({"no values, no children", {"bare", {}, {}}});
    cases.push_back({"empty and long values", {"n", {"", longText.c_str(), "x"}, {}}});
    cases.push_back({"null value text", {"n", {nullptr, "after"}, {}}});
    cases.push_back({"existing name gets more", {"pre", {"decoded1", "decoded2"}, {}}});
    cases.push_back({"children, nested",
                     {"top",
                      {"t1"},
                      {{"c1", {"a", "b"}, {{"g", {"deep"}, {}}}},
                       {"c2", {}, {}},
                       {"pre", {"child named like a top name"}, {}}}}});
    cases.push_back({"child repeated", {"top", {}, {{"c", {"1"}, {}}, {"c", {"2"}, {}}}}});
    cases.push_back({"only empty children", {"parent", {}, {{"e1", {}, {}}, {"e2", {}, {}}}}});
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        NameValueMap byRecord, byHand;
        for (NameValueMap* map : {&byRecord, &byHand}) {
            map->addString("pre", "existing");
            map->addSubtree("top")->addString("c1", "existing child value");
        }
        byRecord.addNameValue(c.node.Build());
        AddByHand(byHand, c.node);
        EXPECT_TRUE(SameContent(byRecord, byHand));
        ExpectSameStructure(byRecord, byHand);
    }
}

}  // namespace
