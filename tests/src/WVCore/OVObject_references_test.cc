// References to an object's strings: a string returned by reference belongs to the object and
// stays valid until that value is replaced or deleted or the object is destroyed, whether the
// value was written through the API or decoded from the wire. Each road that changes a name
// while a reference to one of its values is held; the sanitizer build reports any read of
// memory that the object let go.

#include <ovutil/OVObject.h>

#include <ovutil/mime64.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <typeinfo>
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

// A set over a value that is a string may give that string the new text instead of storing a
// new one; the text written may come from the very string it replaces. Each way of writing,
// over index 0 of a name whose values were stored each way there is, must leave exactly the
// text written there, keep the value beside it, and touch no memory the value does not own
// (the sanitizer build checks that).
TEST(OVObjectReferences, SetsOverEveryKindOfStoredValue) {
    const std::string longText(40, 'L');
    const std::string big(1500, '\x5a');  // base64 text longer than what fits in a frame
    struct Write {
        const char* name;
        // Writes index 0 of "member" and returns the text that must be there afterwards,
        // worked out from what the object held before.
        std::function<std::string(OVObject&)> apply;
    };
    const auto base64 = [](const char* data, std::size_t n) {
        char* text = mime64_new_encode(reinterpret_cast<const unsigned char*>(data),
                                       static_cast<unsigned int>(n));
        std::string out = text;
        free(text);
        return out;
    };
    const Write writes[] = {
        {"a shorter text",
         [&](OVObject& o) {
             o.setStringValue("member", "al", 0, nullptr);
             return std::string("al");
         }},
        {"a text longer than any room",
         [&](OVObject& o) {
             o.setStringValue("member", longText.c_str(), 0, nullptr);
             return longText;
         }},
        {"the empty text",
         [&](OVObject& o) {
             o.setStringValue("member", "", 0, nullptr);
             return std::string();
         }},
        {"its own text",
         [&](OVObject& o) {
             const char* own = o.getStringValue("member", 0, nullptr).c_str();
             std::string expected = own;
             o.setStringValue("member", own, 0, nullptr);
             return expected;
         }},
        {"a tail of its own text",
         [&](OVObject& o) {
             const char* own = o.getStringValue("member", 0, nullptr).c_str();
             std::string expected = own + std::strlen(own) / 2;
             o.setStringValue("member", own + std::strlen(own) / 2, 0, nullptr);
             return expected;
         }},
        {"the text of the value beside it",
         [&](OVObject& o) {
             o.setStringValue("member", o.getStringValue("member", 1, nullptr).c_str(), 0, nullptr);
             return std::string("bob");
         }},
        {"an integer",
         [&](OVObject& o) {
             o.setIntegerValue("member", 4294967295u, 0, nullptr);
             return std::string("4294967295");
         }},
        {"a boolean",
         [&](OVObject& o) {
             o.setBooleanValue("member", 7, 0, nullptr);
             return std::string("true");
         }},
        {"a few bytes",
         [&](OVObject& o) {
             o.setBufferValue("member", "\1\2\3", 3, 0, nullptr);
             return std::string("AQID");
         }},
        {"the bytes of its own text",
         [&](OVObject& o) {
             const ZUTF8String_6_0& own = o.getStringValue("member", 0, nullptr);
             std::string expected = base64(own.c_str(), own.length());
             o.setBufferValue("member", own.c_str(), static_cast<unsigned int>(own.length()), 0,
                              nullptr);
             return expected;
         }},
        {"many bytes",
         [&](OVObject& o) {
             o.setBufferValue("member", big.data(), static_cast<unsigned int>(big.size()), 0,
                              nullptr);
             return base64(big.data(), big.size());
         }},
        {"many bytes of its own text",
         [&](OVObject& o) {
             o.setStringValue("member", big.c_str(), 0, nullptr);
             const ZUTF8String_6_0& own = o.getStringValue("member", 0, nullptr);
             std::string expected = base64(own.c_str(), own.length());
             o.setBufferValue("member", own.c_str(), static_cast<unsigned int>(own.length()), 0,
                              nullptr);
             return expected;
         }},
    };
    // How member = [<first>, bob] came to be: written, decoded (strings kept in the list's own
    // block), written long and then short (a text in a buffer of its own), or with a first
    // value of another class than the one the setters store.
    const struct {
        const char* name;
        void (*prepare)(OVObject&);
    } stores[] = {
        {"written",
         [](OVObject& o) {
             o.addStringValue("member", "alice", nullptr);
             o.addStringValue("member", "bob", nullptr);
         }},
        {"decoded",
         [](OVObject& o) {
             ov_asn_buffer_t wire = MemberWire();
             unsigned long status = 1;
             o.decode(wire, status);
             ov_asn_buffer_free(wire);
         }},
        {"grown, then shortened",
         [](OVObject& o) {
             o.addStringValue("member", "a text that outgrows every room a string has", nullptr);
             o.setStringValue("member", "alice", 0, nullptr);
             o.addStringValue("member", "bob", nullptr);
         }},
        {"a local-code-set string",
         [](OVObject& o) {
             const ZLCString_6_0 local("alice");
             o.map.setValue("member", 0, &local);
             o.addStringValue("member", "bob", nullptr);
         }},
        {"an object that is no string",
         [](OVObject& o) {
             const ZArrayList_6_0 list(1, 1);
             o.map.setValue("member", 0, &list);
             o.addStringValue("member", "bob", nullptr);
         }},
    };
    for (const auto& store : stores)
        for (const Write& write : writes) {
            SCOPED_TRACE(std::string(write.name) + " over a value " + store.name);
            OVObject object;
            store.prepare(object);
            ASSERT_EQ(object.length("member", nullptr), 2u);
            const std::string expected = write.apply(object);
            EXPECT_EQ(Values(object.map, "member"), (Strings{expected, "bob"}));
            // Written again, the other way round in length, and read as the setters' class.
            object.setStringValue("member", "x", 0, nullptr);
            object.setStringValue("member", longText.c_str(), 0, nullptr);
            EXPECT_EQ(Values(object.map, "member"), (Strings{longText, "bob"}));
            EXPECT_EQ(typeid(*object.map.getValue("member", 0)), typeid(ZUTF8String_6_0));
        }
}
