// Lists and maps allocate their arrays on the first insertion. These tests fill collections
// only after they were made, copied, assigned or emptied, and check contents, order and
// ownership; and they check getOrPutEntry, the one-look-up find-or-insert of the maps.
#include <ovz/collections.h>
#include <ovz/strings.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

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
    const Case cases[] = {{"room 0, one", 0, 1},     {"room 1, one", 1, 1},
                          {"room 1, three", 1, 3},   {"room 1, many", 1, 40},
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
    const Case cases[] = {{"0 buckets, one", 0, 1},   {"1 bucket, five", 1, 5},
                          {"1 bucket, 200", 1, 200},  {"16 buckets, 13", 16, 13},
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
                EXPECT_TRUE(static_cast<ZAbstractString_6_0*>(v)->equals(
                    Numbered("v", i).c_str()));
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
    const Case cases[] = {{"one key", 1, 1},       {"every second of 10", 10, 2},
                          {"all of 7", 7, 1},      {"every third of 3000", 3000, 3},
                          {"every key of 2100", 2100, 1}};
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
