// References to an object's strings: a string returned by reference belongs to the object and
// stays valid until that value is replaced or deleted or the object is destroyed, whether the
// value was written through the API or decoded from the wire. Each road that changes a name
// while a reference to one of its values is held; the sanitizer build reports any read of
// memory that the object let go.

#include <ovutil/OVObject.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "src/WVCore/OVObject_test_util.h"

namespace {

using objtest::Values;
using Strings = std::vector<std::string>;

// The encoding of an object whose name `member` holds alice and bob (and a second name, so
// that the decode has more than one record to place).
ov_asn_buffer_t MemberWire() {
    OVObject source;
    source.addStringValue("member", "alice", nullptr);
    source.addStringValue("member", "bob", nullptr);
    source.addStringValue("other", "x", nullptr);
    ov_asn_buffer_t wire = {0, nullptr};
    unsigned long status = 1;
    source.encode(wire, status);
    EXPECT_EQ(status, 0u);
    return wire;
}

TEST(OVObjectReferences, DecodedValuesStayWhileTheNameChanges) {
    struct Road {
        const char* name;
        void (*change)(OVObject&);
        Strings after;  // the values of member afterwards
    };
    const Road roads[] = {
        {"add",
         [](OVObject& o) { o.addStringValue("member", "carol", nullptr); },
         {"alice", "bob", "carol"}},
        {"many adds",
         [](OVObject& o) {
             for (int i = 0; i < 50; ++i) o.addIntegerValue("member", 7, nullptr);
         },
         [] {
             Strings s = {"alice", "bob"};
             s.insert(s.end(), 50, "7");
             return s;
         }()},
        {"set of another index",
         [](OVObject& o) { o.setStringValue("member", "b", 1, nullptr); },
         {"alice", "b"}},
        {"set past the end",
         [](OVObject& o) { o.setBufferValue("member", "\1\2\3", 3, 9, nullptr); },
         {"alice", "bob", "AQID"}},
        {"delete of another index",
         [](OVObject& o) { o.deleteValue("member", 1, nullptr); },
         {"alice"}},
        {"array add from the object's own strings",
         [](OVObject& o) {
             ZArrayList_6_0 own(1, 0);
             o.stringArrayValue("member", own, nullptr);
             o.addStringArrayValue("member", own, nullptr);
         },
         {"alice", "bob", "alice", "bob"}},
        {"array add of the name's own list",
         [](OVObject& o) { o.addStringArrayValue("member", *o.map.getValues("member"), nullptr); },
         {"alice", "bob", "alice", "bob"}},
        {"decode of the same names again",
         [](OVObject& o) {
             ov_asn_buffer_t wire = MemberWire();
             unsigned long status = 1;
             o.decode(wire, status);
             ov_asn_buffer_free(wire);
         },
         {"alice", "bob", "alice", "bob"}},
    };
    // How the decoded values reach the object: into a fresh object, into one whose entry
    // `member` exists without values (made by a scope write), and into one where it holds
    // values that were deleted.
    const struct {
        const char* name;
        void (*prepare)(OVObject&);
    } targets[] = {
        {"a new entry", [](OVObject&) {}},
        {"an existing entry", [](OVObject& o) { o.addStringValue("inner", "v", "member"); }},
        {"an emptied entry",
         [](OVObject& o) {
             o.addStringValue("member", "gone", nullptr);
             o.deleteName("member", nullptr);
         }},
    };
    for (const auto& target : targets)
        for (const Road& road : roads) {
            SCOPED_TRACE(std::string(road.name) + ", decoded into " + target.name);
            OVObject object;
            target.prepare(object);
            ov_asn_buffer_t wire = MemberWire();
            unsigned long status = 1;
            object.decode(wire, status);
            ov_asn_buffer_free(wire);
            ASSERT_EQ(status, 0u);
            ASSERT_EQ(Values(object.map, "member"), (Strings{"alice", "bob"}));

            const ZUTF8String_6_0& first = object.getStringValue("member", 0, nullptr);
            const char* const chars = first.c_str();
            road.change(object);
            EXPECT_EQ(&object.getStringValue("member", 0, nullptr), &first);
            EXPECT_STREQ(first.c_str(), "alice");
            EXPECT_EQ(first.c_str(), chars);
            EXPECT_EQ(Values(object.map, "member"), road.after);
            EXPECT_STREQ(object.getStringValue("other", 0, nullptr).c_str(), "x");
        }
}

// The case as a caller meets it: the reference still reads alice after the add.
TEST(OVObjectReferences, ADecodeIntoAnExistingEntryThenAnAddKeepsTheReference) {
    OVObject object;
    object.addStringValue("scoped", "1", "member");
    ov_asn_buffer_t wire = MemberWire();
    unsigned long status = 1;
    object.decode(wire, status);
    ov_asn_buffer_free(wire);
    ASSERT_EQ(status, 0u);
    const ZUTF8String_6_0& alice = object.getStringValue("member", 0, nullptr);
    object.addStringValue("member", "carol", nullptr);
    EXPECT_STREQ(alice.c_str(), "alice");
    // Copies hold strings of their own; the original's stay where they were.
    OVObject copy(object);
    object.setStringValue("member", "zed", 2, nullptr);
    EXPECT_STREQ(alice.c_str(), "alice");
    EXPECT_EQ(Values(copy.map, "member"), (Strings{"alice", "bob", "carol"}));
}

}  // namespace
