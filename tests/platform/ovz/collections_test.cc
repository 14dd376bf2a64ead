// Array list and hash maps: ownership (clone on store, delete on replace/remove), growth
// from one bucket, copies, listing order, and the library's allocator.
#include <ovz/collections.h>
#include <ovz/exceptions.h>
#include <ovz/strings.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

// Huge requests must come back as null (or as the library's exception), not abort the test.
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}
extern "C" __attribute__((visibility("default"), used)) const char* __tsan_default_options() {
    return "allocator_may_return_null=1";
}

namespace {

// Counts live instances so a test can see what a collection cloned and deleted.
class Counted : public ZObject_6_0 {
public:
    explicit Counted(int id) : id_(id) { ++live; }
    Counted(const Counted& other) : ZObject_6_0(other), id_(other.id_) {
        ++live;
        ++clones;
    }
    ~Counted() override { --live; }
    unsigned long hash() const override { return static_cast<unsigned long>(id_); }
    ZObject_6_0* clone() const override { return new Counted(*this); }
    bool equals(const ZObject_6_0& other) const override {
        auto* c = dynamic_cast<const Counted*>(&other);
        return c != nullptr && c->id_ == id_;
    }
    int id() const { return id_; }

    static int live;
    static int clones;

private:
    int id_;
};
int Counted::live = 0;
int Counted::clones = 0;

class CollectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        Counted::live = 0;
        Counted::clones = 0;
    }
    void TearDown() override { EXPECT_EQ(Counted::live, 0) << "objects leaked or over-freed"; }
};

int idAt(const ZArrayList_6_0& list, unsigned long i) {
    auto* c = dynamic_cast<Counted*>(list.get(i));
    return c ? c->id() : -1;
}

using ListTest = CollectionTest;

TEST_F(ListTest, OwningListStoresClonesAndDeletesThem) {
    {
        ZArrayList_6_0 list(1, 1);
        Counted a(1), b(2), c(3);
        list.add(a);
        list.add(b);
        list.add(Counted(4));  // a temporary is fine: the list keeps its own clone
        EXPECT_EQ(list.size(), 3u);
        EXPECT_NE(list.get(0), &a);
        EXPECT_EQ(Counted::clones, 3);
        EXPECT_EQ(Counted::live, 6);  // a, b, c and three clones

        list.set(1, c);  // the clone of b is deleted
        EXPECT_EQ(Counted::live, 6);
        EXPECT_EQ(idAt(list, 1), 3);

        list.remove(0);  // the clone of a is deleted, the rest shift down
        EXPECT_EQ(Counted::live, 5);
        ASSERT_EQ(list.size(), 2u);
        EXPECT_EQ(idAt(list, 0), 3);
        EXPECT_EQ(idAt(list, 1), 4);
    }
}

TEST_F(ListTest, NonOwningListStoresPointersAndDeletesNothing) {
    Counted a(1), b(2), c(3);
    {
        ZArrayList_6_0 list(0, 0);
        list.add(a);
        list.add(b);
        EXPECT_EQ(list.get(0), &a);
        EXPECT_EQ(list.get(1), &b);
        list.set(0, c);
        EXPECT_EQ(list.get(0), &c);
        list.remove(0);
        EXPECT_EQ(list.get(0), &b);
        EXPECT_EQ(Counted::clones, 0);
    }
    EXPECT_EQ(Counted::live, 3);  // nothing was deleted (ASan would also flag a stack delete)
}

TEST_F(ListTest, IndexOutOfRange) {
    ZArrayList_6_0 list(2, 1);
    list.add(Counted(1));
    EXPECT_EQ(list.get(1), nullptr);
    EXPECT_EQ(list.get(~0ul), nullptr);
    EXPECT_THROW(list.set(1, Counted(2)), ZInvalidParameterException_6_0);
    EXPECT_THROW(list.remove(1), ZInvalidParameterException_6_0);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(idAt(list, 0), 1);
}

TEST_F(ListTest, CopiesOfOwningListsAreIndependent) {
    ZArrayList_6_0 list(1, 1);
    list.add(Counted(1));
    list.add(Counted(2));
    ZArrayList_6_0 copy(list);
    EXPECT_NE(copy.get(0), list.get(0));
    EXPECT_TRUE(copy.equals(list));
    copy.set(0, Counted(9));
    copy.add(Counted(3));
    EXPECT_EQ(idAt(list, 0), 1);
    EXPECT_EQ(list.size(), 2u);

    ZArrayList_6_0 assigned(5, 1);
    assigned.add(Counted(7));
    assigned = list;
    EXPECT_EQ(assigned.size(), 2u);
    EXPECT_NE(assigned.get(1), list.get(1));
    EXPECT_EQ(idAt(assigned, 1), 2);
    assigned = assigned;
    EXPECT_EQ(idAt(assigned, 1), 2);

    std::unique_ptr<ZObject_6_0> cloned(list.clone());
    EXPECT_TRUE(cloned->equals(list));
}

TEST_F(ListTest, IndexOfFindsEqualElements) {
    ZArrayList_6_0 list(4, 1);
    list.add(ZUTF8String_6_0("a"));
    list.add(ZUTF8String_6_0("b"));
    EXPECT_EQ(list.indexOf(ZUTF8ConstString_6_0("b")), 1u);
    EXPECT_EQ(list.indexOf(ZUTF8ConstString_6_0("c")), list.size());
}

using MapTest = CollectionTest;

TEST_F(MapTest, GrowsFromOneBucketAndFindsEveryKey) {
    ZHashKeyMap_6_0 map(1, 1);
    const int n = 20000;
    for (int i = 0; i < n; ++i) map.putEntry(ZUTF8String_6_0(i), Counted(i));
    ASSERT_EQ(map.size(), static_cast<unsigned long>(n));
    for (int i = 0; i < n; ++i) {
        std::string key = std::to_string(i);
        auto* v = dynamic_cast<Counted*>(map.getEntry(ZUTF8ConstString_6_0(key.c_str())));
        ASSERT_NE(v, nullptr) << key;
        ASSERT_EQ(v->id(), i);
    }
    for (int i = 0; i < n; i += 2) ASSERT_TRUE(map.removeEntry(ZUTF8String_6_0(i)));
    EXPECT_EQ(map.size(), static_cast<unsigned long>(n / 2));
    for (int i = 0; i < n; ++i) ASSERT_EQ(map.contains(ZUTF8String_6_0(i)), i % 2 == 1) << i;
    EXPECT_FALSE(map.removeEntry(ZUTF8String_6_0(0)));
}

TEST_F(MapTest, KeysAreFoundWithAnyStringClassOfTheSameBytes) {
    ZHashKeyMap_6_0 map(50, 1);
    map.putEntry(ZUTF8String_6_0("/var/log"), ZLCString_6_0("/data/log"));
    EXPECT_NE(map.getEntry(ZUTF8ConstString_6_0("/var/log")), nullptr);
    EXPECT_NE(map.getEntry(ZLCString_6_0("/var/log")), nullptr);
    EXPECT_NE(map.getEntry(ZLCConstString_6_0("/var/log")), nullptr);
    EXPECT_EQ(map.getEntry(ZUTF8ConstString_6_0("/VAR/LOG")), nullptr);
    EXPECT_TRUE(map.isEmpty() == false);
}

TEST_F(MapTest, ViewsHandedToAnOwningMapAreStoredAsOwnedCopies) {
    ZHashKeyMap_6_0 map(1, 1);
    {
        std::string key = "temporary";
        std::string value = "value";
        map.putEntry(ZUTF8ConstString_6_0(key.c_str()), ZUTF8ConstString_6_0(value.c_str()));
    }  // the viewed texts are gone; the map must not point at them
    auto* v = dynamic_cast<ZAbstractString_6_0*>(map.getEntry(ZUTF8ConstString_6_0("temporary")));
    ASSERT_NE(v, nullptr);
    EXPECT_STREQ(v->c_str(), "value");
}

TEST_F(MapTest, PuttingAnEqualKeyReplacesAndDeletesTheOldValue) {
    ZHashKeyMap_6_0 map(1, 1);
    map.putEntry(Counted(1), Counted(10));
    ZObject_6_0* storedKey = map.getKey(Counted(1));
    map.putEntry(Counted(1), Counted(11));
    EXPECT_EQ(map.size(), 1u);
    EXPECT_EQ(Counted::live, 2);  // one key and one value remain
    auto* v = dynamic_cast<Counted*>(map.getEntry(Counted(1)));
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->id(), 11);
    EXPECT_EQ(map.getKey(Counted(1)), storedKey);
    EXPECT_TRUE(map.removeEntry(Counted(1)));
    EXPECT_EQ(Counted::live, 0);
}

TEST_F(MapTest, CopiesAreIndependent) {
    ZHashKeyMap_6_0 map(1, 1);
    map.putEntry(ZUTF8String_6_0("a"), Counted(1));
    map.putEntry(ZUTF8String_6_0("b"), Counted(2));

    ZHashKeyMap_6_0 copy(map);
    EXPECT_TRUE(copy.equals(map));
    EXPECT_NE(copy.getEntry(ZUTF8ConstString_6_0("a")), map.getEntry(ZUTF8ConstString_6_0("a")));
    copy.putEntry(ZUTF8String_6_0("a"), Counted(5));
    copy.removeEntry(ZUTF8String_6_0("b"));
    copy.putEntry(ZUTF8String_6_0("c"), Counted(3));
    EXPECT_FALSE(copy.equals(map));
    EXPECT_EQ(dynamic_cast<Counted*>(map.getEntry(ZUTF8ConstString_6_0("a")))->id(), 1);
    EXPECT_TRUE(map.contains(ZUTF8ConstString_6_0("b")));
    EXPECT_FALSE(map.contains(ZUTF8ConstString_6_0("c")));

    ZHashKeyMap_6_0 assigned(3, 1);
    assigned.putEntry(ZUTF8String_6_0("z"), Counted(26));
    assigned = map;
    EXPECT_TRUE(assigned.equals(map));
    EXPECT_FALSE(assigned.contains(ZUTF8ConstString_6_0("z")));
    assigned = assigned;
    EXPECT_TRUE(assigned.equals(map));
    map.removeAll();
    EXPECT_TRUE(map.isEmpty());
    EXPECT_EQ(assigned.size(), 2u);

    std::unique_ptr<ZObject_6_0> cloned(assigned.clone());
    EXPECT_TRUE(cloned->equals(assigned));
}

TEST_F(MapTest, ListKeysReportsTheMapsOwnKeysInAStableOrder) {
    ZHashKeyMap_6_0 map(1, 1);
    const char* names[] = {"delta", "alpha", "charlie", "bravo", "echo"};
    for (const char* n : names) map.putEntry(ZUTF8String_6_0(n), Counted(1));
    map.putEntry(ZUTF8String_6_0("alpha"), Counted(2));  // a replaced value keeps its place

    ZArrayList_6_0 first(10, 0), second(10, 0), values(10, 0);
    map.listKeys(first);
    map.listKeys(second);
    map.listObjects(values);
    ASSERT_EQ(first.size(), 5u);
    ASSERT_EQ(values.size(), 5u);
    for (unsigned long i = 0; i < first.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(first.get(i), second.get(i));
        EXPECT_EQ(first.get(i), map.getKey(*first.get(i)));  // the stored key itself
        EXPECT_EQ(values.get(i), map.getEntry(*first.get(i)));
        EXPECT_TRUE(first.get(i)->equals(ZUTF8ConstString_6_0(names[i])));
    }
}

TEST_F(MapTest, NonOwningSetOfViews) {
    // The masked-name set: views over constant texts, membership by the key's own equality.
    ZUTF8ConstString_6_0 members[] = {ZUTF8ConstString_6_0("resourcepassword"),
                                      ZUTF8ConstString_6_0("pwd"), ZUTF8ConstString_6_0("password"),
                                      ZUTF8ConstString_6_0("server_pwd")};
    ZHashMap_6_0 set(10, 0);
    for (auto& m : members) set.add(m);
    EXPECT_EQ(set.size(), 4u);
    EXPECT_EQ(set.getKey(ZUTF8ConstString_6_0("pwd")), &members[1]);
    struct Case {
        const char* name;
        bool member;
    } cases[] = {
        {"pwd", true},  {"password", true}, {"server_pwd", true}, {"resourcepassword", true},
        {"PWD", false}, {"mypwd", false},   {"pwd2", false},      {"", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(set.contains(ZUTF8ConstString_6_0(c.name)), c.member);
        EXPECT_EQ(set.contains(ZUTF8String_6_0(c.name)), c.member);
    }
}

TEST_F(MapTest, NonOwningMapNeverDeletes) {
    Counted k(1), v1(10), v2(11);
    {
        ZHashKeyMap_6_0 map(1, 0);
        map.putEntry(k, v1);
        map.putEntry(k, v2);
        EXPECT_EQ(map.getEntry(k), &v2);
        EXPECT_EQ(map.getKey(Counted(1)), &k);
        map.removeEntry(k);
        map.putEntry(k, v1);
    }
    EXPECT_EQ(Counted::live, 3);
    EXPECT_EQ(Counted::clones, 0);
}

TEST_F(MapTest, PutAllCopiesEntriesAndIgnoresItself) {
    ZHashKeyMap_6_0 a(1, 1), b(1, 1);
    a.putEntry(ZUTF8String_6_0("x"), Counted(1));
    b.putEntry(ZUTF8String_6_0("x"), Counted(2));
    b.putEntry(ZUTF8String_6_0("y"), Counted(3));
    a.putAll(b);
    EXPECT_EQ(a.size(), 2u);
    EXPECT_EQ(dynamic_cast<Counted*>(a.getEntry(ZUTF8ConstString_6_0("x")))->id(), 2);
    a.putAll(a);
    EXPECT_EQ(a.size(), 2u);
}

}  // namespace

// Lists and maps allocate their arrays on the first insertion. These tests fill collections
// only after they were made, copied, assigned or emptied, and check contents, order and
// ownership; and they check getOrPutEntry, the one-look-up find-or-insert of the maps.

namespace {

// `prefix` followed by the decimal `n`.
std::string Numbered(const char* prefix, int n) {
    std::string out(prefix);
    out += std::to_string(n);
    return out;
}

std::vector<std::string> Keys(const ZHashKeyMap_6_0& map) {
    ZArrayList_6_0 keys(10, 0);
    map.listKeys(keys);
    std::vector<std::string> out;
    for (unsigned long i = 0; i < keys.size(); ++i)
        out.push_back(static_cast<ZAbstractString_6_0*>(keys.get(i))->c_str());
    return out;
}

std::vector<std::string> Texts(const ZArrayList_6_0& list) {
    std::vector<std::string> out;
    for (unsigned long i = 0; i < list.size(); ++i)
        out.push_back(static_cast<ZAbstractString_6_0*>(list.get(i))->c_str());
    return out;
}

std::string Name(int i) { return Numbered("key", i); }

TEST(CollectionsFirstInsert, ListsFilledAfterCopyOrAssignment) {
    struct Case {
        const char* name;
        unsigned long capacity;
        int count;
    };
    const Case cases[] = {{"room 0, one", 0, 1},       {"room 1, one", 1, 1},
                          {"room 1, three", 1, 3},     {"room 1, many", 1, 40},
                          {"room 10, eleven", 10, 11}, {"room 100, five", 100, 5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ZArrayList_6_0 original(c.capacity, 1);
        ZArrayList_6_0 copy(original);
        ZArrayList_6_0 assigned(3, 1);
        assigned = original;
        EXPECT_EQ(original.size(), 0u);
        EXPECT_EQ(original.get(0), nullptr);
        EXPECT_EQ(original.indexOf(ZUTF8ConstString_6_0("x")), 0u);
        std::vector<std::string> expected;
        for (int i = 0; i < c.count; ++i) {
            expected.push_back(Name(i));
            for (ZArrayList_6_0* list : {&original, &copy, &assigned})
                list->add(ZUTF8ConstString_6_0(expected.back().c_str()));
        }
        for (ZArrayList_6_0* list : {&original, &copy, &assigned}) {
            EXPECT_EQ(Texts(*list), expected);
            EXPECT_TRUE(list->ownsElements());
        }
        // Owning lists hold their own clones.
        EXPECT_NE(original.get(0), copy.get(0));
        // Emptied and filled again.
        original.removeAll();
        original.add(ZUTF8ConstString_6_0("again"));
        EXPECT_EQ(Texts(original), std::vector<std::string>{"again"});
        EXPECT_EQ(Texts(copy), expected);
    }
}

TEST(CollectionsFirstInsert, MapsFilledAfterCopyOrAssignment) {
    struct Case {
        const char* name;
        unsigned long buckets;
        int count;
    };
    const Case cases[] = {{"0 buckets, one", 0, 1},
                          {"1 bucket, five", 1, 5},
                          {"1 bucket, 200", 1, 200},
                          {"16 buckets, 13", 16, 13},
                          {"1000 buckets, 3", 1000, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ZHashKeyMap_6_0 original(c.buckets, 1);
        ZHashKeyMap_6_0 copy(original);
        ZHashKeyMap_6_0 assigned(7, 1);
        assigned = original;
        for (ZHashKeyMap_6_0* map : {&original, &copy, &assigned}) {
            EXPECT_TRUE(map->isEmpty());
            EXPECT_EQ(map->getEntry(ZUTF8ConstString_6_0("absent")), nullptr);
            EXPECT_FALSE(map->contains(ZUTF8ConstString_6_0("absent")));
            EXPECT_FALSE(map->removeEntry(ZUTF8ConstString_6_0("absent")));
            EXPECT_TRUE(map->equals(original));
            map->removeAll();
        }
        std::vector<std::string> expected;
        for (int i = 0; i < c.count; ++i) {
            expected.push_back(Name(i));
            std::string value = Numbered("v", i);
            for (ZHashKeyMap_6_0* map : {&original, &copy, &assigned})
                map->putEntry(ZUTF8ConstString_6_0(expected.back().c_str()),
                              ZUTF8ConstString_6_0(value.c_str()));
        }
        for (ZHashKeyMap_6_0* map : {&original, &copy, &assigned}) {
            EXPECT_EQ(map->size(), static_cast<unsigned long>(c.count));
            EXPECT_EQ(Keys(*map), expected);  // insertion order
            for (int i = 0; i < c.count; ++i) {
                auto* v = map->getEntry(ZUTF8ConstString_6_0(Name(i).c_str()));
                ASSERT_NE(v, nullptr);
                EXPECT_TRUE(static_cast<ZAbstractString_6_0*>(v)->equals(Numbered("v", i).c_str()));
            }
        }
        // A copy of the filled map, then emptied and filled again.
        ZHashKeyMap_6_0 later(original);
        EXPECT_TRUE(later.equals(original));
        original.removeAll();
        EXPECT_EQ(original.getEntry(ZUTF8ConstString_6_0(Name(0).c_str())), nullptr);
        original.putEntry(ZUTF8ConstString_6_0("fresh"), ZUTF8ConstString_6_0("1"));
        EXPECT_EQ(Keys(original), std::vector<std::string>{"fresh"});
        EXPECT_EQ(Keys(later), expected);
    }
}

TEST(CollectionsFirstInsert, GetOrPutEntryInsertsOnlyWhenAbsent) {
    ZHashKeyMap_6_0 map(1, 1);
    ZUTF8String_6_0 first("first");
    ZObject_6_0* stored = map.getOrPutEntry(ZUTF8ConstString_6_0("k"), first);
    ASSERT_NE(stored, nullptr);
    EXPECT_NE(stored, &first);  // an owning map keeps a clone
    EXPECT_TRUE(stored->equals(first));
    EXPECT_EQ(map.getEntry(ZUTF8ConstString_6_0("k")), stored);
    // The key is stored as an owning string of the same bytes.
    auto* key = dynamic_cast<ZUTF8String_6_0*>(map.getKey(ZUTF8ConstString_6_0("k")));
    ASSERT_NE(key, nullptr);
    EXPECT_STREQ(key->c_str(), "k");

    // Present: the stored value comes back unchanged, nothing is replaced or added.
    ZObject_6_0* again = map.getOrPutEntry(ZUTF8String_6_0("k"), ZUTF8String_6_0("second"));
    EXPECT_EQ(again, stored);
    EXPECT_TRUE(again->equals(first));
    EXPECT_EQ(map.size(), 1u);

    // Non-owning: the very objects are stored.
    ZHashKeyMap_6_0 borrowed(1, 0);
    ZUTF8String_6_0 k("name"), v("value");
    EXPECT_EQ(borrowed.getOrPutEntry(k, v), &v);
    EXPECT_EQ(borrowed.getKey(ZUTF8ConstString_6_0("name")), &k);
    EXPECT_EQ(borrowed.getOrPutEntry(ZUTF8ConstString_6_0("name"), first), &v);
    EXPECT_EQ(Keys(borrowed), std::vector<std::string>{"name"});
}

}  // namespace

namespace {

// Entries live in blocks shared by the map; removing and adding again in every pattern must
// keep contents, listing order and ownership right.
TEST(CollectionsNodeReuse, RemovalsAndInsertionsInterleaved) {
    struct Case {
        const char* name;
        int count;
        int removeEvery;  // remove the keys i with i % removeEvery == 0
    };
    const Case cases[] = {{"one key", 1, 1},
                          {"every second of 10", 10, 2},
                          {"all of 7", 7, 1},
                          {"every third of 3000", 3000, 3},
                          {"every key of 2100", 2100, 1},
                          // Past the sizes whose index places take one and two bytes.
                          {"every fifth of 70000", 70000, 5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ZHashKeyMap_6_0 map(1, 1);
        for (int i = 0; i < c.count; ++i)
            map.putEntry(ZUTF8ConstString_6_0(Name(i).c_str()), ZUTF8ConstString_6_0("old"));
        std::vector<std::string> expected;
        for (int i = 0; i < c.count; ++i) {
            if (i % c.removeEvery == 0)
                EXPECT_TRUE(map.removeEntry(ZUTF8ConstString_6_0(Name(i).c_str())));
            else
                expected.push_back(Name(i));
        }
        // New keys take the freed places in storage but go to the end of the listing.
        for (int i = 0; i < c.count; ++i) {
            if (i % c.removeEvery != 0) continue;
            std::string key = Numbered("new", i);
            map.putEntry(ZUTF8ConstString_6_0(key.c_str()), ZUTF8ConstString_6_0("new"));
            expected.push_back(key);
        }
        EXPECT_EQ(Keys(map), expected);
        EXPECT_EQ(map.size(), expected.size());
        for (const std::string& key : expected) {
            auto* v = map.getEntry(ZUTF8ConstString_6_0(key.c_str()));
            ASSERT_NE(v, nullptr);
            EXPECT_TRUE(static_cast<ZAbstractString_6_0*>(v)->equals(
                key.rfind("new", 0) == 0 ? "new" : "old"));
        }
        ZHashKeyMap_6_0 copy(map);
        EXPECT_TRUE(copy.equals(map));
        map.removeAll();
        EXPECT_TRUE(map.isEmpty());
        map.putEntry(ZUTF8ConstString_6_0("after"), ZUTF8ConstString_6_0("1"));
        EXPECT_EQ(Keys(map), std::vector<std::string>{"after"});
        EXPECT_EQ(Keys(copy), expected);
    }
}

}  // namespace

namespace {

// A list holds its first few elements in itself and moves them to an array when it outgrows
// that room. Copies, assignments both ways, set, remove and removeAll on either side of the
// boundary must keep the elements, their order and their ownership.
TEST(CollectionsListStorage, AcrossTheListsOwnRoom) {
    const int sizes[] = {0, 1, 2, 3, 4, 5, 8, 9, 17};
    auto fill = [](ZArrayList_6_0& list, int n, const char* prefix) {
        std::vector<std::string> texts;
        for (int i = 0; i < n; ++i) {
            texts.push_back(Numbered(prefix, i));
            list.add(ZUTF8ConstString_6_0(texts.back().c_str()));
        }
        return texts;
    };
    for (int n : sizes) {
        for (int m : sizes) {
            SCOPED_TRACE(Numbered("source ", n) + Numbered(", target ", m));
            ZArrayList_6_0 source(1, 1);
            std::vector<std::string> expected = fill(source, n, "s");
            ZArrayList_6_0 target(1, 1);
            fill(target, m, "t");
            target = source;
            ZArrayList_6_0 copy(source);
            EXPECT_EQ(Texts(target), expected);
            EXPECT_EQ(Texts(copy), expected);
            if (n > 0) {
                EXPECT_NE(target.get(0), source.get(0));  // clones, not shared
                EXPECT_NE(copy.get(0), source.get(0));
            }
            // Changing the source leaves the others alone.
            source.add(ZUTF8ConstString_6_0("extra"));
            if (n > 0) {
                source.set(0, ZUTF8ConstString_6_0("replaced"));
                source.remove(n > 1 ? 1 : 0);
            }
            EXPECT_EQ(Texts(target), expected);
            EXPECT_EQ(Texts(copy), expected);
            // The target keeps working: grows past the room, shrinks, empties, fills again.
            std::vector<std::string> grown = expected;
            for (int i = 0; i < 5; ++i) {
                grown.push_back(Numbered("g", i));
                target.add(ZUTF8ConstString_6_0(grown.back().c_str()));
            }
            EXPECT_EQ(Texts(target), grown);
            target.remove(0);
            grown.erase(grown.begin());
            EXPECT_EQ(Texts(target), grown);
            EXPECT_EQ(target.indexOf(ZUTF8ConstString_6_0(grown.back().c_str())), grown.size() - 1);
            target.removeAll();
            EXPECT_EQ(target.size(), 0u);
            target.add(ZUTF8ConstString_6_0("again"));
            EXPECT_EQ(Texts(target), std::vector<std::string>{"again"});
            // Self-assignment changes nothing.
            ZArrayList_6_0& alias = copy;
            copy = alias;
            EXPECT_EQ(Texts(copy), expected);
        }
    }
}

TEST(CollectionsListStorage, NonOwningListsKeepTheAddresses) {
    std::vector<std::unique_ptr<ZUTF8String_6_0>> objects;
    for (int i = 0; i < 6; ++i)
        objects.push_back(std::make_unique<ZUTF8String_6_0>(Name(i).c_str()));
    for (int n = 0; n <= 6; ++n) {
        SCOPED_TRACE(n);
        ZArrayList_6_0 list(1, 0);
        for (int i = 0; i < n; ++i) list.add(*objects[i]);
        ZArrayList_6_0 copy(list);
        ZArrayList_6_0 assigned(10, 1);
        assigned.add(ZUTF8ConstString_6_0("dropped"));
        assigned = list;
        EXPECT_FALSE(assigned.ownsElements());
        for (int i = 0; i < n; ++i) {
            EXPECT_EQ(list.get(i), objects[i].get());
            EXPECT_EQ(copy.get(i), objects[i].get());
            EXPECT_EQ(assigned.get(i), objects[i].get());
        }
    }
}

}  // namespace

namespace {

// Room made ahead and objects handed over instead of cloned: the decoders that know how many
// entries and elements they will add use these to allocate once and copy nothing twice.
TEST_F(ListTest, EnsureCapacityAndAddOwnedKeepOrderAndOwnership) {
    for (unsigned long room : {0ul, 1ul, 2ul, 5ul, 40ul}) {
        SCOPED_TRACE(room);
        {
            ZArrayList_6_0 list(1, 1);
            list.add(Counted(100));
            list.ensureCapacity(room);
            for (int i = 0; i < 6; ++i) list.addOwned(new Counted(i));
            EXPECT_EQ(Counted::clones, 1);  // only the add cloned
            ASSERT_EQ(list.size(), 7u);
            EXPECT_EQ(idAt(list, 0), 100);
            for (int i = 0; i < 6; ++i) EXPECT_EQ(idAt(list, i + 1), i);
            list.remove(3);
            EXPECT_EQ(idAt(list, 3), 3);
        }
        EXPECT_EQ(Counted::live, 0);  // the owning list deleted what it was handed
        Counted::clones = 0;
    }
    Counted kept(7);
    ZArrayList_6_0 borrowed(1, 0);
    borrowed.addOwned(&kept);
    EXPECT_EQ(borrowed.get(0), &kept);  // a non-owning list stores the address
    Counted other(8);
    borrowed.setOwned(0, &other);
    EXPECT_EQ(borrowed.get(0), &other);
    EXPECT_EQ(kept.id(), 7);  // and deletes nothing
}

TEST_F(ListTest, SetOwnedReplacesWithoutACloneAndDeletesTheOld) {
    {
        ZArrayList_6_0 list(2, 1);
        list.add(Counted(1));
        list.add(Counted(2));
        Counted::clones = 0;
        auto* made = new Counted(3);
        list.setOwned(1, made);
        EXPECT_EQ(list.get(1), made);  // the object itself
        EXPECT_EQ(Counted::clones, 0);
        EXPECT_EQ(Counted::live, 2);  // the replaced one is gone
        // Past the end: the list is unchanged and the object handed over is deleted.
        EXPECT_THROW(list.setOwned(2, new Counted(4)), ZInvalidParameterException_6_0);
        EXPECT_EQ(Counted::live, 2);
        ASSERT_EQ(list.size(), 2u);
        EXPECT_EQ(idAt(list, 0), 1);
        EXPECT_EQ(idAt(list, 1), 3);
    }
    EXPECT_EQ(Counted::live, 0);
    Counted::clones = 0;
}

// Keys made from bytes live in the map's own store: they must be found by every string class,
// keep their addresses while the table is rebuilt, and go with their entries.
// Either with the store's room announced (as a decoder does, here twice what the keys need, as
// for names that repeat) or not.
TEST_F(MapTest, KeysMadeFromBytesBehaveAsStoredStrings) {
    for (bool announced : {false, true}) {
        SCOPED_TRACE(announced ? "room announced" : "room not announced");
        ZHashKeyMap_6_0 map(1, 1);
        // Bytes with no NUL after them; a key longer than a block of the store; many keys, so
        // that the table is rebuilt and the store takes several blocks.
        const std::string longKey(70000, 'L');
        std::vector<std::string> keys = {"", "ab", longKey};
        for (int i = 0; i < 300; ++i) keys.push_back(Name(i));
        if (announced) {
            std::size_t room = 0;
            for (const std::string& key : keys) room += ZHashKeyMap_6_0::textKeySize(key.size());
            map.reserve(2 * keys.size());
            map.reserveTextKeys(2 * room);
        }
        std::vector<ZObject_6_0*> stored;
        for (size_t i = 0; i < keys.size(); ++i) {
            std::string buffer = keys[i] + "tail";  // the bytes are not a C string
            auto* value = new Counted(static_cast<int>(i));
            EXPECT_EQ(map.getOrPutText(buffer.data(), keys[i].size(), value), value);
            stored.push_back(map.getKey(ZUTF8ConstString_6_0(keys[i].c_str())));
            ASSERT_NE(stored.back(), nullptr);
            EXPECT_EQ(typeid(*stored.back()), typeid(ZUTF8String_6_0));
        }
        EXPECT_EQ(map.size(), keys.size());
        for (size_t i = 0; i < keys.size(); ++i) {
            SCOPED_TRACE(i);
            // Found by a view and by a local-code-set string; the key did not move.
            EXPECT_EQ(map.getKey(ZUTF8ConstString_6_0(keys[i].c_str())), stored[i]);
            auto* value = dynamic_cast<Counted*>(map.getEntry(ZLCString_6_0(keys[i].c_str())));
            ASSERT_NE(value, nullptr);
            EXPECT_EQ(value->id(), static_cast<int>(i));
            EXPECT_TRUE(stored[i]->equals(ZUTF8ConstString_6_0(keys[i].c_str())));
        }
        // A key that is there: the stored value comes back and the one handed over is deleted.
        const int live = Counted::live;
        auto* again = dynamic_cast<Counted*>(map.getOrPutText("ab", 2, new Counted(-1)));
        ASSERT_NE(again, nullptr);
        EXPECT_EQ(again->id(), 1);
        EXPECT_EQ(Counted::live, live);
        // Keys stored by other means are found from bytes too.
        map.putEntry(ZLCString_6_0("local"), Counted(900));
        auto* local = dynamic_cast<Counted*>(map.getOrPutText("local", 5, new Counted(-2)));
        ASSERT_NE(local, nullptr);
        EXPECT_EQ(local->id(), 900);
        // Removal, copies and replacement of a value keep everything else.
        EXPECT_TRUE(map.removeEntry(ZUTF8ConstString_6_0("ab")));
        EXPECT_EQ(map.getEntry(ZUTF8ConstString_6_0("ab")), nullptr);
        map.putEntry(ZUTF8ConstString_6_0(keys[5].c_str()), Counted(500));
        EXPECT_EQ(map.getKey(ZUTF8ConstString_6_0(keys[5].c_str())), stored[5]);
        ZHashKeyMap_6_0 copy(map);
        EXPECT_TRUE(copy.equals(map));
        map.removeAll();
        EXPECT_EQ(map.size(), 0u);
        EXPECT_EQ(copy.size(), keys.size());
        EXPECT_NE(copy.getEntry(ZUTF8ConstString_6_0(longKey.c_str())), nullptr);
        // An emptied map makes keys from bytes again.
        map.getOrPutText("again", 5, new Counted(1));
        EXPECT_NE(map.getEntry(ZUTF8ConstString_6_0("again")), nullptr);
    }
    EXPECT_EQ(Counted::live, 0);
}

// getTextEntry finds from bytes what getEntry finds with a string of them, whatever class the
// key was stored as and whether the map is small (searched in order) or has its index.
TEST_F(MapTest, LookUpsByBytesFindWhatStringsFind) {
    for (int count : {3, 40}) {
        SCOPED_TRACE(count);
        ZHashKeyMap_6_0 map(1, 1);
        map.putEntry(ZUTF8String_6_0("utf8"), Counted(1));
        map.putEntry(ZLCString_6_0("local"), Counted(2));
        map.putEntry(ZUTF8ConstString_6_0(""), Counted(3));
        map.getOrPutText("placed", 6, new Counted(4));
        map.putEntry(Counted(77), Counted(5));  // a key that is no string
        for (int i = 0; i < count; ++i)
            map.putEntry(ZUTF8String_6_0(Name(i).c_str()), Counted(100 + i));
        const struct {
            const char* bytes;
            std::size_t n;
            int id;  // -1: nothing
        } cases[] = {
            {"utf8", 4, 1},   {"local", 5, 2},    {"", 0, 3},        {nullptr, 0, 3},
            {"placed", 6, 4}, {"utf8x", 4, 1},    {"utf", 3, -1},    {"utf8x", 5, -1},
            {"Local", 5, -1}, {"placedx", 7, -1}, {"absent", 6, -1},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.bytes != nullptr ? std::string(c.bytes, c.n) : "(null)");
            auto* found = dynamic_cast<Counted*>(map.getTextEntry(c.bytes, c.n));
            EXPECT_EQ(found != nullptr ? found->id() : -1, c.id);
            if (c.bytes != nullptr) {
                const std::string text(c.bytes, c.n);
                EXPECT_EQ(map.getTextEntry(c.bytes, c.n),
                          map.getEntry(ZUTF8ConstString_6_0(text.c_str())));
            }
        }
        for (int i = 0; i < count; ++i) {
            const std::string name = Name(i);
            auto* found = dynamic_cast<Counted*>(map.getTextEntry(name.data(), name.size()));
            ASSERT_NE(found, nullptr);
            EXPECT_EQ(found->id(), 100 + i);
        }
        EXPECT_TRUE(map.removeEntry(ZUTF8ConstString_6_0("utf8")));
        EXPECT_EQ(map.getTextEntry("utf8", 4), nullptr);
    }
    ZHashKeyMap_6_0 never(1, 1);
    EXPECT_EQ(never.getTextEntry("utf8", 4), nullptr);
}

TEST_F(MapTest, ReserveAndOwnedKeysKeepOrderAndOwnership) {
    {
        ZHashKeyMap_6_0 map(1, 1);
        map.reserve(30);
        for (int i = 0; i < 30; ++i) {
            auto* key = new ZUTF8String_6_0(Name(i).c_str());
            auto* made = new Counted(i);
            ZObject_6_0* value = map.getOrPutOwned(key, made);
            EXPECT_EQ(map.getKey(ZUTF8ConstString_6_0(Name(i).c_str())), key);  // not a clone
            EXPECT_EQ(value, made);                                             // nor the value
            EXPECT_EQ(dynamic_cast<Counted*>(value)->id(), i);
        }
        // A key already there: the new key and value objects are deleted, the stored value
        // comes back.
        ZHashKeyMap_6_0 counted(1, 1);
        counted.putEntry(Counted(5), Counted(50));
        const int live = Counted::live;
        ZObject_6_0* stored = counted.getOrPutOwned(new Counted(5), new Counted(51));
        EXPECT_EQ(dynamic_cast<Counted*>(stored)->id(), 50);
        EXPECT_EQ(Counted::live, live);
        std::vector<std::string> expected;
        for (int i = 0; i < 30; ++i) expected.push_back(Name(i));
        EXPECT_EQ(Keys(map), expected);
        map.reserve(5);  // less than it holds: nothing changes
        EXPECT_EQ(Keys(map), expected);
    }
    EXPECT_EQ(Counted::live, 0);
}

}  // namespace

namespace {

// Texts appended with addTexts to an empty list live in the list's own allocation. Every
// operation on such a list must keep the texts, their order and the list's ownership, also
// an add or set whose argument is one of the list's own elements (which the list moves to
// objects of their own before anything else joins them).
TEST(CollectionsPackedTexts, EveryOperationKeepsTheTexts) {
    const std::vector<std::string> texts = {"", "a", "eleven byte", "twelve bytes",
                                            std::string(300, 'x')};
    std::vector<ZArrayList_6_0::Text> views;
    for (const std::string& t : texts) views.push_back({t.data(), t.size()});
    struct Case {
        const char* name;
        void (*change)(ZArrayList_6_0&, std::vector<std::string>&);
    };
    const Case cases[] = {
        {"nothing", [](ZArrayList_6_0&, std::vector<std::string>&) {}},
        {"remove the first",
         [](ZArrayList_6_0& l, std::vector<std::string>& e) {
             l.remove(0);
             e.erase(e.begin());
         }},
        {"remove all, then add",
         [](ZArrayList_6_0& l, std::vector<std::string>& e) {
             l.removeAll();
             l.add(ZUTF8ConstString_6_0("new"));
             e = {"new"};
         }},
        {"add one of its own",
         [](ZArrayList_6_0& l, std::vector<std::string>& e) {
             l.add(*l.get(2));
             e.push_back(e[2]);
         }},
        {"set one of its own over another",
         [](ZArrayList_6_0& l, std::vector<std::string>& e) {
             l.set(0, *l.get(4));
             e[0] = e[4];
         }},
        {"set an element to itself",
         [](ZArrayList_6_0& l, std::vector<std::string>&) { l.set(3, *l.get(3)); }},
        {"add an owned object",
         [](ZArrayList_6_0& l, std::vector<std::string>& e) {
             l.addOwned(new ZUTF8String_6_0("owned"));
             e.push_back("owned");
         }},
        {"replace one by an owned object",
         [](ZArrayList_6_0& l, std::vector<std::string>& e) {
             l.setOwned(2, new ZUTF8String_6_0("in place of"));
             e[2] = "in place of";
         }},
        {"more room",
         [](ZArrayList_6_0& l, std::vector<std::string>&) { l.ensureCapacity(100); }},
        {"more texts",
         [](ZArrayList_6_0& l, std::vector<std::string>& e) {
             const ZArrayList_6_0::Text more[] = {{"x", 1}, {"yz", 2}};
             l.addTexts(more, 2);
             e.push_back("x");
             e.push_back("yz");
         }},
        {"a text changed in place",
         [](ZArrayList_6_0& l, std::vector<std::string>& e) {
             static_cast<ZUTF8String_6_0*>(l.get(1))->append(" and more than fits");
             e[1] += " and more than fits";
         }},
        {"assigned from another list",
         [](ZArrayList_6_0& l, std::vector<std::string>& e) {
             ZArrayList_6_0 other(1, 1);
             other.add(ZUTF8ConstString_6_0("other"));
             l = other;
             e = {"other"};
         }},
    };
    // Each case on a list packed in its own allocation and on one packed in memory its owner
    // provides, which the list must never free (a vector here: freeing it would be reported).
    for (const Case& c : cases)
        for (bool ownMemory : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (ownMemory ? "" : ", in its owner's memory"));
            std::vector<std::uint64_t> memory(
                ZArrayList_6_0::textsSize(views.data(), views.size()) / 8);
            ZArrayList_6_0 list(1, 1);
            if (ownMemory)
                list.addTexts(views.data(), views.size());
            else
                list.addTextsAt(memory.data(), views.data(), views.size());
            std::vector<std::string> expected = texts;
            EXPECT_EQ(Texts(list), expected);
            for (unsigned long i = 0; i < list.size(); ++i)
                EXPECT_EQ(typeid(*list.get(i)), typeid(ZUTF8String_6_0));
            ZArrayList_6_0 before(list);
            c.change(list, expected);
            EXPECT_EQ(Texts(list), expected);
            EXPECT_EQ(Texts(before), texts);  // a copy owns clones of its own
            ZArrayList_6_0 after(list);
            EXPECT_TRUE(after.equals(list));
            EXPECT_EQ(list.indexOf(ZUTF8ConstString_6_0(expected.back().c_str())),
                      static_cast<unsigned long>(
                          std::find(expected.begin(), expected.end(), expected.back()) -
                          expected.begin()));
        }
    // A list that already holds something makes objects of their own, in order.
    ZArrayList_6_0 list(1, 1);
    list.add(ZUTF8ConstString_6_0("first"));
    list.addTexts(views.data(), views.size());
    std::vector<std::string> expected = {"first"};
    expected.insert(expected.end(), texts.begin(), texts.end());
    EXPECT_EQ(Texts(list), expected);
}

// A packed list that grows or changes keeps its block: every element that stays in the list
// is the same object at the same address as before, so a reference taken to it stays valid
// (the promise that a stored string lives until it is replaced or removed).
TEST(CollectionsPackedTexts, ElementsThatStayKeepTheirAddress) {
    const std::vector<std::string> texts = {"alice", "bob", std::string(40, 'c')};
    std::vector<ZArrayList_6_0::Text> views;
    for (const std::string& t : texts) views.push_back({t.data(), t.size()});
    const struct {
        const char* name;
        void (*change)(ZArrayList_6_0&);
        unsigned long kept;  // elements 0 .. kept-1 must be the same objects afterwards
    } cases[] = {
        {"add", [](ZArrayList_6_0& l) { l.add(ZUTF8ConstString_6_0("carol")); }, 3},
        {"many adds",
         [](ZArrayList_6_0& l) {
             for (int i = 0; i < 100; ++i) l.add(ZUTF8ConstString_6_0("more"));
         },
         3},
        {"add one of its own", [](ZArrayList_6_0& l) { l.add(*l.get(0)); }, 3},
        {"addOwned", [](ZArrayList_6_0& l) { l.addOwned(new ZUTF8String_6_0("owned")); }, 3},
        {"set of the last", [](ZArrayList_6_0& l) { l.set(2, ZUTF8ConstString_6_0("s")); }, 2},
        {"setOwned of the last", [](ZArrayList_6_0& l) { l.setOwned(2, new ZUTF8String_6_0("s")); },
         2},
        {"more room", [](ZArrayList_6_0& l) { l.ensureCapacity(1000); }, 3},
        {"more texts",
         [](ZArrayList_6_0& l) {
             const ZArrayList_6_0::Text more[] = {{"x", 1}, {"yz", 2}};
             l.addTexts(more, 2);
         },
         3},
        {"remove the last, then add",
         [](ZArrayList_6_0& l) {
             l.remove(2);
             l.add(ZUTF8ConstString_6_0("n"));
             l.set(2, ZUTF8ConstString_6_0("m"));
         },
         2},
    };
    for (const auto& c : cases)
        for (unsigned long n : {1ul, 3ul})
            for (bool ownMemory : {true, false}) {
                // One text is packed by addTextsAt only; the cases that change index 2 need three.
                if (n == 1 && (c.kept < 3 || ownMemory)) continue;
                SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(n) + " texts" +
                             (ownMemory ? "" : ", in its owner's memory"));
                std::vector<std::uint64_t> memory(ZArrayList_6_0::textsSize(views.data(), n) / 8);
                ZArrayList_6_0 list(1, 1);
                if (ownMemory)
                    list.addTexts(views.data(), n);
                else
                    list.addTextsAt(memory.data(), views.data(), n);
                const unsigned long kept = c.kept < n ? c.kept : n;
                std::vector<const ZUTF8String_6_0*> before;
                for (unsigned long i = 0; i < kept; ++i)
                    before.push_back(static_cast<const ZUTF8String_6_0*>(list.get(i)));
                c.change(list);
                for (unsigned long i = 0; i < kept; ++i) {
                    EXPECT_EQ(list.get(i), before[i]) << i;
                    EXPECT_STREQ(before[i]->c_str(), texts[i].c_str()) << i;
                }
                // Removing and emptying end the kept strings in place (ASan reports a use
                // after that, or a free of memory the list does not own).
                if (list.size() > 1) list.remove(0);
                list.removeAll();
                list.add(ZUTF8ConstString_6_0("after"));
                EXPECT_EQ(Texts(list), std::vector<std::string>{"after"});
            }
}

// The room the collections count for a string is what the string class says it takes.
TEST(CollectionsPackedTexts, RoomIsWhatTheStringTakes) {
    for (std::size_t n : {0ul, 1ul, 10ul, 11ul, 12ul, 13ul, 19ul, 20ul, 100ul, 70000ul}) {
        SCOPED_TRACE(n);
        const std::size_t room = (ZUTF8String_6_0::sizeWithBytes(n) + 7) & ~std::size_t{7};
        EXPECT_EQ(ZHashKeyMap_6_0::textKeySize(n), room);
        const std::string text(n, 'x');
        const ZArrayList_6_0::Text one = {text.data(), n};
        EXPECT_EQ(ZArrayList_6_0::textsSize(&one, 1), room);
        const ZArrayList_6_0::Text two[] = {one, one};
        EXPECT_EQ(ZArrayList_6_0::textsSize(two, 2), 2 * room + 2 * sizeof(void*));
    }
    EXPECT_THROW(ZHashKeyMap_6_0::textKeySize(std::size_t{1} << 31), ZOutOfMemoryException_6_0);
}

// One text in its owner's memory is held without an array; whatever changes the list moves it
// out first, and the memory is never freed (a vector: freeing it would be reported).
TEST(CollectionsPackedTexts, OneTextInItsOwnersMemory) {
    const std::string text(40, 't');
    const ZArrayList_6_0::Text view = {text.data(), text.size()};
    const struct {
        const char* name;
        void (*change)(ZArrayList_6_0&);
        std::vector<std::string> expected;
    } cases[] = {
        {"nothing", [](ZArrayList_6_0&) {}, {text}},
        {"add", [](ZArrayList_6_0& l) { l.add(ZUTF8ConstString_6_0("b")); }, {text, "b"}},
        {"set", [](ZArrayList_6_0& l) { l.set(0, ZUTF8ConstString_6_0("s")); }, {"s"}},
        {"remove, then add",
         [](ZArrayList_6_0& l) {
             l.remove(0);
             l.add(ZUTF8ConstString_6_0("n"));
         },
         {"n"}},
        {"remove all", [](ZArrayList_6_0& l) { l.removeAll(); }, {}},
        {"more room", [](ZArrayList_6_0& l) { l.ensureCapacity(8); }, {text}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint64_t> memory(ZArrayList_6_0::textsSize(&view, 1) / 8);
        ZArrayList_6_0 list(1, 1);
        list.addTextsAt(memory.data(), &view, 1);
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(static_cast<void*>(list.get(0)), static_cast<void*>(memory.data()));
        c.change(list);
        EXPECT_EQ(Texts(list), c.expected);
        ZArrayList_6_0 copy(list);
        EXPECT_TRUE(copy.equals(list));
    }
}

}  // namespace
