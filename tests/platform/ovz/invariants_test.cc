// The checked builds (Debug and the sanitizer builds) verify the state of strings, lists and
// hash maps on entry to and exit from their mutators and abort at the first call that finds
// it broken. Each case damages one object's state in memory, as a stray write would, and
// expects the next mutation to stop the process with the report.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>

#include <ovz/collections.h>
#include <ovz/strings.h>

namespace {

#if defined(NDEBUG) && !defined(OVZ_CHECK_INVARIANTS)
constexpr bool kChecked = false;
#else
constexpr bool kChecked = true;
#endif

// The object's bytes after its virtual table pointer, where every class here keeps its state.
template <class T>
unsigned char* StateOf(T& object) {
    return reinterpret_cast<unsigned char*>(&object) + sizeof(void*);
}

TEST(InvariantsDeathTest, ABrokenStateStopsTheNextMutation) {
    if (!kChecked) GTEST_SKIP() << "the checks are compiled out of a release build";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const struct {
        const char* name;
        std::function<void()> damageThenChange;
    } cases[] = {
        {"a string whose heap bit points at no room",
         [] {
             ZUTF8String_6_0 text("abc");
             const unsigned int onHeap = 0x80000003u;
             std::memcpy(StateOf(text), &onHeap, sizeof onHeap);
             std::memset(StateOf(text) + sizeof onHeap, 0, 4);  // a capacity of 0
             text.append("x");
         }},
        {"a string without the NUL after its text",
         [] {
             ZUTF8String_6_0 text("abc");
             StateOf(text)[sizeof(unsigned int) + 3] = 'd';
             text.assign("y");
         }},
        {"a list larger than its room",
         [] {
             ZArrayList_6_0 list(1, 1);
             list.add(ZUTF8ConstString_6_0("a"));
             const unsigned int size = 5;
             std::memcpy(StateOf(list) + sizeof(void*), &size, sizeof size);
             list.add(ZUTF8ConstString_6_0("b"));
         }},
        {"a hash map counting more entries than it holds",
         [] {
             ZHashKeyMap_6_0 map(4, 1);
             map.putEntry(ZUTF8ConstString_6_0("k"), ZUTF8ConstString_6_0("v"));
             unsigned char* table;
             std::memcpy(&table, StateOf(map), sizeof table);
             const unsigned int count = 7;  // the table's first field
             std::memcpy(table, &count, sizeof count);
             map.putEntry(ZUTF8ConstString_6_0("k2"), ZUTF8ConstString_6_0("v"));
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_DEATH(c.damageThenChange(), "ovz: invariant broken at .*(collections|strings)\\.cc");
    }
}

}  // namespace
