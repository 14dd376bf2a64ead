// NameValueMap storage: maps and entries that are made, copied or assigned while empty and
// filled afterwards, and records added in one pass that must store exactly what addSubtree
// and addString per value would: same names in the same order, same values, same classes.
#include <gtest/gtest.h>

#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

#include <ovutil/NameValueMap.h>

#include "map_content.h"

namespace {

// `prefix` followed by the decimal `n`.
std::string Numbered(const char* prefix, int n) {
    std::string out(prefix);
    out += std::to_string(n);
    return out;
}

std::vector<std::string> NamesInOrder(NameValueMap const& map) {
    ZArrayList_6_0 names(10, 0);
    map.getNames(names);
    std::vector<std::string> out;
    for (unsigned long i = 0; i < names.size(); ++i)
        out.push_back(static_cast<ZAbstractString_6_0*>(names.get(i))->c_str());
    return out;
}

// Every key and value of the map and its subtrees is a ZUTF8String_6_0; order is compared too.
void ExpectSameStructure(NameValueMap const& a, NameValueMap const& b) {
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
    original.addSubtree("only-subtree");       // entry with nothing in it
    original.addString("removed", "v");
    original.removeValue("removed", 0);         // entry whose list held a value once
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

    namevalue_s_t const& Build() {
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
void AddByHand(NameValueMap& map, RecordNode const& node) {
    for (const char* v : node.values) map.addString(node.name.c_str(), v);
    for (RecordNode const& child : node.children) AddByHand(*map.addSubtree(node.name.c_str()), child);
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
