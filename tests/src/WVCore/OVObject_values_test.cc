// OVObject values: where each kind lands in the map and how it reads back, the index and
// scope rules, deletion, arrays, nested objects, and the two ways a null name is handled.

#include <ovutil/OVObject.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <ovsvc/capture.hpp>
#include <ovz/exceptions.h>

#include "src/WVCore/OVObject_test_util.h"

namespace {

using objtest::Names;
using objtest::Values;
using Strings = std::vector<std::string>;

std::string Buffer(const OVObject& object, const char* name, unsigned int index = 0,
                   const char* scope = nullptr) {
    char* data = reinterpret_cast<char*>(1);
    unsigned int length = 99;
    object.bufferValue(name, data, length, index, scope);
    std::string bytes = data != nullptr ? std::string(data, length) : "<null>";
    if (data == nullptr && length != 0) bytes += "<length not 0>";
    free(data);
    return bytes;
}

// A nested object whose own encoding the codec refuses, as an override may report.
class Unencodable : public OVObject {
public:
    using OVObject::encode;
    void encode(ov_asn_buffer_t&, unsigned long& status) const override { status = OV_ASN_E_DEPTH; }
};

// A nested object that stores only what its override decides.
class Summary : public OVObject {
public:
    using OVObject::encode;
    void encode(ov_asn_buffer_t& buffer, unsigned long& status) const override {
        OVObject only("summary");
        only.encode(buffer, status);
    }
};

TEST(OVObjectValues, TheWorkedExampleLaysOutTheMap) {
    OVObject o("o");
    o.setIntegerValue("port", 443, 0, nullptr);
    o.setBooleanValue("secure", 1, 0, nullptr);
    o.addStringValue("host", "h1", "conn");
    o.addStringValue("host", "h2", "conn");
    o.setBufferValue("key", "\x01\x02\x03", 3, 0, nullptr);

    EXPECT_EQ(Names(o.map), (Strings{"conn", "key", "name", "port", "secure"}));
    EXPECT_EQ(Values(o.map, "name"), Strings{"o"});
    EXPECT_EQ(Values(o.map, "port"), Strings{"443"});
    EXPECT_EQ(Values(o.map, "secure"), Strings{"true"});
    EXPECT_EQ(Values(o.map, "key"), Strings{"AQID"});
    EXPECT_EQ(Values(o.map, "conn"), Strings{});
    EXPECT_EQ(Names(*o.map.getSubtree("conn")), Strings{"host"});
    EXPECT_EQ(Values(o.map, "host", "conn"), (Strings{"h1", "h2"}));
    for (const char* name : {"name", "port", "secure", "key"}) {
        EXPECT_EQ(o.map.getSubtreeCount(name), 0u) << name;
    }

    EXPECT_EQ(o.length(), 4u);
    EXPECT_EQ(o.length("host", "conn"), 2u);
    EXPECT_EQ(o.length("host", nullptr), 0u);
    EXPECT_STREQ(o.getName().c_str(), "o");
}

TEST(OVObjectValues, SetReplacesBelowTheCountAndAppendsAtOrPastIt) {
    struct Case {
        unsigned int existing;
        unsigned int index;
        unsigned int landsAt;
        unsigned int countAfter;
    } const cases[] = {
        {0, 0, 0, 1}, {0, 7, 0, 1}, {2, 7, 2, 3}, {2, 2, 2, 3},
        {2, 1, 1, 2}, {8, 7, 7, 8}, {8, 8, 8, 9}, {3, 4294967295u, 3, 4},
    };
    for (const char* scope : {static_cast<const char*>(nullptr), "s"}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::to_string(c.existing) + " values, set at " + std::to_string(c.index) +
                         (scope ? " in scope s" : ""));
            OVObject o;
            for (unsigned int i = 0; i < c.existing; ++i) o.addIntegerValue("a", i, scope);
            o.setStringValue("a", "new", c.index, scope);
            EXPECT_EQ(o.length("a", scope), c.countAfter);
            EXPECT_STREQ(o.getStringValue("a", c.landsAt, scope).c_str(), "new");
            if (c.landsAt > 0) {
                EXPECT_EQ(o.integerValue("a", c.landsAt - 1, scope), c.landsAt - 1);
            }
        }
    }
}

TEST(OVObjectValues, EveryKindReadsBackAsWritten) {
    OVObject o;
    // Integers: "%u" text, strtoul back.
    for (unsigned int n : {0u, 7u, 10u, 443u, 100000u, 999999999u, 1000000000u, 4294967295u}) {
        SCOPED_TRACE(n);
        o.setIntegerValue("n", n, 0, nullptr);
        EXPECT_EQ(Values(o.map, "n"), Strings{std::to_string(n)});
        EXPECT_EQ(o.integerValue("n", 0, nullptr), n);
    }
    struct Parse {
        const char* text;
        unsigned int value;
    } const parses[] = {{"12abc", 12},
                        {"abc", 0},
                        {"", 0},
                        {" 42", 42},
                        {"007", 7},
                        {"+5", 5},
                        {"123456789", 123456789},
                        {"000000000012", 12},
                        {"4294967295", 4294967295u},
                        // strtoul's own result, cut to 32 bits: past the range, or negated.
                        {"4294967296", 0},
                        {"-1", 4294967295u},
                        {"99999999999999999999", 4294967295u}};
    for (const Parse& p : parses) {
        SCOPED_TRACE(p.text);
        o.setStringValue("t", p.text, 0, nullptr);
        EXPECT_EQ(o.integerValue("t", 0, nullptr), p.value);
    }
    EXPECT_EQ(o.integerValue("t", 1, nullptr), 0u);

    // Booleans: any non-zero is "true"; only the exact text "true" reads as true.
    o.setBooleanValue("b", 2, 0, nullptr);
    EXPECT_EQ(Values(o.map, "b"), Strings{"true"});
    EXPECT_TRUE(o.booleanValue("b", 0, nullptr));
    o.setBooleanValue("b", 0, 0, nullptr);
    EXPECT_EQ(Values(o.map, "b"), Strings{"false"});
    EXPECT_FALSE(o.booleanValue("b", 0, nullptr));
    for (const char* text : {"yes", "TRUE", "true ", "1"}) {
        o.setStringValue("b", text, 0, nullptr);
        EXPECT_FALSE(o.booleanValue("b", 0, nullptr)) << text;
    }
    o.addBooleanValue("b", 1, nullptr);
    EXPECT_TRUE(o.booleanValue("b", 1, nullptr));

    // Buffers: base64 text, bytes back byte for byte, zeros included.
    const std::string zeros("\0a\0\0b\xff\0", 7);
    o.addBufferValue("buf", zeros.data(), static_cast<unsigned int>(zeros.size()), nullptr);
    o.addBufferValue("buf", "", 0, nullptr);
    o.addBufferValue("buf", "\xfb", 1, nullptr);
    EXPECT_EQ(Values(o.map, "buf"), (Strings{"AGEAAGL/AA==", "", "+w=="}));
    EXPECT_EQ(Buffer(o, "buf", 0), zeros);
    EXPECT_EQ(Buffer(o, "buf", 1), "<null>");
    EXPECT_EQ(Buffer(o, "buf", 2), "\xfb");
    EXPECT_EQ(Buffer(o, "buf", 3), "<null>");

    // Strings are stored objects: the same one is returned until it is replaced.
    o.setStringValue("s", "first", 0, nullptr);
    const ZUTF8String_6_0& first = o.getStringValue("s", 0, nullptr);
    EXPECT_EQ(&first, &o.getStringValue("s", 0, nullptr));
    EXPECT_STREQ(first.c_str(), "first");
}

TEST(OVObjectValues, NameAndDescriptionAreOrdinaryValues) {
    OVObject o("svc");
    EXPECT_EQ(o.length(), 1u);
    ZUTF8String_6_0 description("the service");
    o.setDescription(description);
    EXPECT_EQ(o.length(), 2u);
    o.addStringValue("x", "1", "scope");
    EXPECT_EQ(o.length(), 2u) << "scoped values are not counted";
    EXPECT_STREQ(o.getDescription().c_str(), "the service");
    ZUTF8String_6_0 renamed("other");
    o.setName(renamed);
    EXPECT_EQ(Values(o.map, "name"), Strings{"other"});
    o.setStringValue("name", "direct", 0, nullptr);
    EXPECT_STREQ(o.getName().c_str(), "direct");

    OVObject none;
    EXPECT_EQ(none.length(), 0u);
    EXPECT_STREQ(none.getName().c_str(), "");
    EXPECT_EQ(&none.getName(), &none.getDescription()) << "both are the shared empty string";
}

TEST(OVObjectValues, CopiesAreDeepAndIndependent) {
    OVObject source("src");
    source.addStringValue("a", "1", nullptr);
    source.addStringValue("b", "2", "s");

    OVObject copy(source);
    std::unique_ptr<ZObject_6_0> cloned(source.clone());
    auto* clone = dynamic_cast<OVObject*>(cloned.get());
    ASSERT_NE(clone, nullptr);
    OVObject assigned("old");
    assigned.addStringValue("gone", "x", nullptr);
    assigned = source;
    OVObject& self = assigned;
    assigned = self;

    source.setStringValue("a", "changed", 0, nullptr);
    source.addStringValue("b", "3", "s");
    for (const OVObject* o : {&copy, clone, &assigned}) {
        EXPECT_EQ(Names(o->map), (Strings{"a", "name", "s"}));
        EXPECT_EQ(Values(o->map, "a"), Strings{"1"});
        EXPECT_EQ(Values(o->map, "b", "s"), Strings{"2"});
    }

    // No content takes part in hash or compare.
    EXPECT_EQ(source.hash(), 0u);
    EXPECT_EQ(OVObject().hash(), 0u);
    EXPECT_EQ(source.compare(OVObject()), 0);
    EXPECT_EQ(OVObject().compare(source), 0);
}

TEST(OVObjectValues, WritesCreateTheScopeAndNothingElseDoes) {
    OVObject o;
    o.setStringValue("v", "x", 0, "s");
    EXPECT_EQ(Names(o.map), Strings{"s"});
    EXPECT_TRUE(o.exist("s", nullptr)) << "the entry has a non-empty subtree";
    EXPECT_EQ(o.length("s", nullptr), 0u);
    EXPECT_EQ(o.length(), 0u);

    // A top-level name that holds values serves as a scope too, and keeps its values.
    o.addStringValue("both", "top", nullptr);
    o.addStringValue("inner", "scoped", "both");
    EXPECT_EQ(Values(o.map, "both"), Strings{"top"});
    EXPECT_EQ(Values(o.map, "inner", "both"), Strings{"scoped"});

    // Nothing that reads, counts, tests or deletes creates the scope it names.
    OVObject target;
    objtest::List list;
    const std::vector<std::pair<const char*, std::function<void()>>> readers = {
        {"getStringValue", [&] { EXPECT_STREQ(o.getStringValue("v", 0, "missing").c_str(), ""); }},
        {"integerValue", [&] { EXPECT_EQ(o.integerValue("v", 0, "missing"), 0u); }},
        {"booleanValue", [&] { EXPECT_FALSE(o.booleanValue("v", 0, "missing")); }},
        {"bufferValue", [&] { EXPECT_EQ(Buffer(o, "v", 0, "missing"), "<null>"); }},
        {"objectValue", [&] { o.objectValue("v", target, 0, "missing"); }},
        {"stringArrayValue",
         [&] {
             ZArrayList_6_0 strings(1, 1);
             o.stringArrayValue("v", strings, "missing");
             EXPECT_EQ(strings.size(), 0u);
         }},
        {"length", [&] { EXPECT_EQ(o.length("v", "missing"), 0u); }},
        {"exist", [&] { EXPECT_FALSE(o.exist("v", "missing")); }},
        {"deleteValue", [&] { o.deleteValue("v", 0, "missing"); }},
        {"deleteName index", [&] { o.deleteName("v", 0u, "missing"); }},
        {"deleteName all", [&] { o.deleteName("v", "missing"); }},
        {"attrListValue", [&] { o.attrListValue("v", list.list, 0, "missing"); }},
        {"getNameValues", [&] { o.getNameValues(target, "missing"); }},
        {"getAllScope", [&] { o.getAllScope(target, "missing"); }},
    };
    const MapContent before = ContentOf(o.map);
    for (const auto& [label, read] : readers) {
        SCOPED_TRACE(label);
        read();
        EXPECT_EQ(ContentOf(o.map), before);
    }
    EXPECT_EQ(target.length(), 0u);
    EXPECT_EQ(list.list.count, 0u);
}

TEST(OVObjectValues, DeletesRemoveValuesButKeepTheName) {
    OVObject o;
    for (const char* v : {"x", "y", "z"}) o.addStringValue("a", v, nullptr);
    o.deleteValue("a", 0, nullptr);
    EXPECT_EQ(Values(o.map, "a"), (Strings{"y", "z"}));
    o.deleteName("a", 5u, nullptr);  // past the end: nothing
    o.deleteName("a", 1u, nullptr);
    EXPECT_EQ(Values(o.map, "a"), Strings{"y"});

    for (const char* v : {"1", "2", "3"}) o.addStringValue("b", v, "s");
    o.deleteName("b", "s");
    EXPECT_FALSE(o.exist("b", "s"));
    EXPECT_EQ(o.length("b", "s"), 0u);
    EXPECT_EQ(Names(*o.map.getSubtree("s")), Strings{"b"}) << "the name stays listed";
    EXPECT_TRUE(o.exist("a", nullptr)) << "other names are untouched";
}

TEST(OVObjectValues, StringArraysKeepListOrder) {
    ZArrayList_6_0 list(4, 1);
    for (const char* s : {"one", "", "three"}) list.add(ZUTF8String_6_0(s));
    list.add(OVObject("not a string"));

    OVObject o;
    o.addStringValue("arr", "old1", "s");
    o.addStringValue("arr", "old2", "s");
    o.addStringArrayValue("arr", list, "s");
    EXPECT_EQ(Values(o.map, "arr", "s"), (Strings{"old1", "old2", "one", "", "three"}));
    o.setStringArrayValue("arr", list, "s");
    EXPECT_EQ(Values(o.map, "arr", "s"), (Strings{"one", "", "three"}));

    ZArrayList_6_0 back(1, 1);
    back.add(ZUTF8String_6_0("kept"));
    o.stringArrayValue("arr", back, "s");
    ASSERT_EQ(back.size(), 4u);
    EXPECT_STREQ(static_cast<ZUTF8String_6_0*>(back.get(0))->c_str(), "kept");
    EXPECT_STREQ(static_cast<ZUTF8String_6_0*>(back.get(3))->c_str(), "three");

    // A non-owning list holds the object's own strings; writing them back over the same
    // name must copy them before the old values go.
    ZArrayList_6_0 own(1, 0);
    o.stringArrayValue("arr", own, "s");
    EXPECT_EQ(own.get(0), &o.getStringValue("arr", 0, "s"));
    o.setStringArrayValue("arr", own, "s");
    EXPECT_EQ(Values(o.map, "arr", "s"), (Strings{"one", "", "three"}));
    // The name's own value list, which grows while it is appended to.
    o.addStringArrayValue("arr", *o.map.getSubtree("s")->getValues("arr"), "s");
    EXPECT_EQ(Values(o.map, "arr", "s"), (Strings{"one", "", "three", "one", "", "three"}));
}

TEST(OVObjectValues, SetStringArrayValueReplacesTheValuesWhateverTheListHolds) {
    // The list may be the name's own value list, hold the object's own strings in another
    // order, or hold more or fewer texts than the name; the old values go only after the
    // new texts were taken.
    const Strings old = {"o0", "o1", "o2", "o3"};
    struct Case {
        const char* label;
        std::function<void(OVObject&, ZArrayList_6_0&)> fill;  // list of the case
        int owns;
        Strings expected;
    } const cases[] = {
        {"the name's own strings, reversed",
         [](OVObject& o, ZArrayList_6_0& l) {
             for (unsigned int i = 4; i > 0; --i) l.add(o.getStringValue("arr", i - 1, "s"));
         },
         0,
         {"o3", "o2", "o1", "o0"}},
        {"some of the name's own strings and other texts",
         [](OVObject& o, ZArrayList_6_0& l) {
             l.add(o.getStringValue("arr", 2, "s"));
             l.add(ZUTF8String_6_0("new"));
             l.add(o.getStringValue("arr", 0, "s"));
         },
         1,
         {"o2", "new", "o0"}},
        {"many more texts",
         [](OVObject&, ZArrayList_6_0& l) {
             for (int i = 0; i < 1000; ++i) l.add(ZUTF8String_6_0(std::to_string(i).c_str()));
         },
         1,
         [] {
             Strings all;
             for (int i = 0; i < 1000; ++i) all.push_back(std::to_string(i));
             return all;
         }()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        OVObject o;
        for (const std::string& text : old) o.addStringValue("arr", text.c_str(), "s");
        o.addStringValue("other", "kept", "s");
        ZArrayList_6_0 list(4, c.owns);
        c.fill(o, list);
        o.setStringArrayValue("arr", list, "s");
        EXPECT_EQ(Values(o.map, "arr", "s"), c.expected);
        EXPECT_EQ(Values(o.map, "other", "s"), Strings{"kept"});
    }

    // The name's own value list, handed over as the list itself.
    OVObject o;
    for (const std::string& text : old) o.addStringValue("arr", text.c_str(), nullptr);
    o.setStringArrayValue("arr", *o.map.getValues("arr"), nullptr);
    EXPECT_EQ(Values(o.map, "arr"), old);
    // Read into itself: the values present at the start are appended once, and the read ends.
    o.stringArrayValue("arr", *o.map.getValues("arr"), nullptr);
    EXPECT_EQ(Values(o.map, "arr"), (Strings{"o0", "o1", "o2", "o3", "o0", "o1", "o2", "o3"}));
}

TEST(OVObjectValues, StringArraysWithoutStringsCreateNothing) {
    // Nothing to store is no reason to create a scope: the object is listed, encoded and
    // traced exactly as before.
    ZArrayList_6_0 empty(1, 1);
    ZArrayList_6_0 noStrings(1, 1);
    noStrings.add(OVObject("not a string"));
    struct Case {
        const char* label;
        bool set;
        const ZArrayList_6_0* list;
    } const cases[] = {
        {"set, empty list", true, &empty},
        {"add, empty list", false, &empty},
        {"set, no strings in the list", true, &noStrings},
        {"add, no strings in the list", false, &noStrings},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        OVObject o("o");
        o.addStringValue("arr", "top", nullptr);
        ov_asn_buffer_t before = {0, nullptr};
        unsigned long status = 1;
        o.encode(before, status);
        ASSERT_EQ(status, 0u);
        ZUTF8String_6_0 traceBefore;
        o.map.buildTraceBuf(traceBefore, 0);

        for (const char* scope : {"missing", "arr"}) {
            if (c.set) {
                o.setStringArrayValue("arr", *c.list, scope);
            } else {
                o.addStringArrayValue("arr", *c.list, scope);
            }
        }
        EXPECT_EQ(Names(o.map), (Strings{"arr", "name"}));
        EXPECT_EQ(o.map.getSubtreeCount("arr"), 0u);
        EXPECT_EQ(o.length(), 2u);
        ov_asn_buffer_t after = {0, nullptr};
        o.encode(after, status);
        ASSERT_EQ(status, 0u);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(after.data), after.length),
                  std::string(reinterpret_cast<char*>(before.data), before.length));
        ZUTF8String_6_0 traceAfter;
        o.map.buildTraceBuf(traceAfter, 0);
        EXPECT_STREQ(traceAfter.c_str(), traceBefore.c_str());
        ov_asn_buffer_free(before);
        ov_asn_buffer_free(after);
    }

    // In a scope that exists, setting an empty list deletes the name's values and keeps the
    // name; adding one changes nothing.
    OVObject o;
    o.addStringValue("arr", "x", "s");
    o.addStringArrayValue("arr", empty, "s");
    EXPECT_EQ(Values(o.map, "arr", "s"), Strings{"x"});
    o.setStringArrayValue("arr", empty, "s");
    EXPECT_EQ(o.length("arr", "s"), 0u);
    EXPECT_EQ(Names(*o.map.getSubtree("s")), Strings{"arr"});
}

TEST(OVObjectValues, NestedObjectsRoundTripAndAppendToTheTarget) {
    OVObject inner("inner");
    ZUTF8String_6_0 description("nested");
    inner.setDescription(description);
    inner.addIntegerValue("n", 7, nullptr);
    inner.addStringValue("s", "v", "scope");

    OVObject outer;
    outer.setObjectValue("child", inner, 0, nullptr);
    outer.addObjectValue("child", OVObject("second"), nullptr);
    outer.addObjectValue("self", outer, "s");  // its encoding is taken before it changes
    ASSERT_EQ(outer.length("child", nullptr), 2u);

    // The stored text is the base64 of the nested object's own encoding.
    ov_asn_buffer_t encoded = {0, nullptr};
    unsigned long status = 1;
    inner.encode(encoded, status);
    ASSERT_EQ(status, OV_ASN_OK);
    EXPECT_EQ(Buffer(outer, "child", 0),
              std::string(reinterpret_cast<char*>(encoded.data), encoded.length));
    ov_asn_buffer_free(encoded);

    OVObject back;
    outer.objectValue("child", back, 0, nullptr);
    EXPECT_TRUE(SameContent(back.map, inner.map));

    OVObject target("target");
    target.addIntegerValue("n", 1, nullptr);
    outer.objectValue("child", target, 0, nullptr);
    EXPECT_EQ(Values(target.map, "name"), (Strings{"target", "inner"}));
    EXPECT_EQ(Values(target.map, "n"), (Strings{"1", "7"}));

    OVObject self;
    outer.objectValue("self", self, 0, "s");
    EXPECT_EQ(Names(self.map), Strings{"child"});

    // Texts of every size read back: short ones are decoded on the stack, long ones not.
    for (std::size_t size : {std::size_t{10}, std::size_t{6000}, std::size_t{9000}}) {
        SCOPED_TRACE(size);
        OVObject big("big");
        big.addStringValue("blob", std::string(size, 'b').c_str(), nullptr);
        outer.setObjectValue("big", big, 0, nullptr);
        OVObject bigBack;
        outer.objectValue("big", bigBack, 0, nullptr);
        EXPECT_TRUE(SameContent(bigBack.map, big.map));
    }

    // Nothing stored (or the empty text) leaves the target as it was.
    outer.addStringValue("blank", "", nullptr);
    const MapContent before = ContentOf(target.map);
    outer.objectValue("missing", target, 0, nullptr);
    outer.objectValue("blank", target, 0, nullptr);
    outer.objectValue("child", target, 9, nullptr);
    EXPECT_EQ(ContentOf(target.map), before);

    // The nested object's virtual encode decides what is stored.
    outer.setObjectValue("summary", Summary(), 0, nullptr);
    OVObject summary;
    outer.objectValue("summary", summary, 0, nullptr);
    EXPECT_STREQ(summary.getName().c_str(), "summary");

    // Object arrays: one nested value per element; set deletes the old ones first.
    ZArrayList_6_0 objects(2, 1);
    objects.add(OVObject("a"));
    objects.add(OVObject("b"));
    outer.addObjectArrayValue("arr", objects, nullptr);
    outer.setObjectArrayValue("arr", objects, nullptr);
    ASSERT_EQ(outer.length("arr", nullptr), 2u);
    OVObject second;
    outer.objectValue("arr", second, 1, nullptr);
    EXPECT_STREQ(second.getName().c_str(), "b");
}

// Operations that refuse an argument log the throw site and throw; the object is unchanged.
TEST(OVObjectValues, RefusedArgumentsThrowAfterTheDebugLine) {
    ZArrayList_6_0 oneObject(1, 1);
    oneObject.add(OVObject("e"));
    ZArrayList_6_0 notObjects(1, 1);
    notObjects.add(ZUTF8String_6_0("text"));
    ZArrayList_6_0 none(1, 1);
    objtest::List list;
    list.AddText("cn", "x");

    const std::vector<std::pair<const char*, std::function<void(OVObject&)>>> cases = {
        {"exist", [](OVObject& o) { o.exist(nullptr, nullptr); }},
        {"setObjectValue", [](OVObject& o) { o.setObjectValue(nullptr, OVObject(), 0, nullptr); }},
        {"addObjectValue", [](OVObject& o) { o.addObjectValue(nullptr, OVObject(), "s"); }},
        {"setObjectArrayValue, empty list",
         [&](OVObject& o) { o.setObjectArrayValue(nullptr, none, nullptr); }},
        {"addObjectArrayValue",
         [&](OVObject& o) { o.addObjectArrayValue(nullptr, oneObject, nullptr); }},
        {"addObjectArrayValue, not an object",
         [&](OVObject& o) { o.addObjectArrayValue("x", notObjects, nullptr); }},
        {"setAttrListValue",
         [&](OVObject& o) { o.setAttrListValue(nullptr, list.list, 0, nullptr); }},
        {"addAttrListValue", [&](OVObject& o) { o.addAttrListValue(nullptr, list.list, nullptr); }},
        {"nested encoding refused",
         [](OVObject& o) { o.setObjectValue("x", Unencodable(), 0, nullptr); }},
        {"nested encoding refused, add",
         [](OVObject& o) { o.addObjectValue("x", Unencodable(), "s"); }},
        {"nested decoding refused",
         [](OVObject& o) {
             OVObject target;
             o.objectValue("junk", target, 0, nullptr);
         }},
    };
    for (unsigned int level : {9u, 8u}) {
        objtest::DebugLevel debug(ov_ras_svc_handle, 3, level);
        for (const auto& [label, operation] : cases) {
            SCOPED_TRACE(std::string(label) + ", ras:3 level " + std::to_string(level));
            OVObject o("kept");
            o.addBufferValue("junk", "not DER", 7, nullptr);
            const MapContent before = ContentOf(o.map);
            ovsvc::CaptureSink capture;
            int thrownAt = 0;
            try {
                operation(o);
                ADD_FAILURE() << "nothing thrown";
            } catch (ZInvalidParameterException_6_0& e) {
                EXPECT_STREQ(e.sourceFile(), "src/WVCore/OVObject");
                thrownAt = e.sourceLine();
            }
            EXPECT_EQ(ContentOf(o.map), before);
            const auto records = capture.debugRecords();
            if (level == 8) {
                EXPECT_TRUE(records.empty());
                continue;
            }
            ASSERT_EQ(records.size(), 1u);
            EXPECT_EQ(records[0].handle, ov_ras_svc_handle);
            EXPECT_EQ(records[0].subcomp, 3u);
            EXPECT_EQ(records[0].level, 9u);
            EXPECT_EQ(records[0].file, "src/WVCore/OVObject");
            EXPECT_EQ(records[0].line, thrownAt);
            EXPECT_EQ(records[0].format, "%s Exception thrown. \n");
            EXPECT_EQ(records[0].inserts, Strings{"ZInvalidParameterException"});
        }
    }
}

TEST(OVObjectValues, ANullNameIsQuietEverywhereElse) {
    ZArrayList_6_0 strings(1, 1);
    strings.add(ZUTF8String_6_0("s"));
    ZArrayList_6_0 noObjects(1, 1);
    OVObject nested("n");
    objtest::DebugLevel debug(ov_ras_svc_handle, 3, 9);

    OVObject o("kept");
    o.addStringValue("x", "1", nullptr);
    const MapContent before = ContentOf(o.map);
    ovsvc::CaptureSink capture;
    o.setStringValue(nullptr, "v", 0, nullptr)
        .addStringValue(nullptr, "v", "s")
        .setIntegerValue(nullptr, 1, 0, nullptr)
        .addIntegerValue(nullptr, 1, nullptr)
        .setBooleanValue(nullptr, 1, 0, "s")
        .addBooleanValue(nullptr, 1, nullptr)
        .setBufferValue(nullptr, "b", 1, 0, nullptr)
        .addBufferValue(nullptr, "b", 1, "s")
        .setStringArrayValue(nullptr, strings, "s")
        .addStringArrayValue(nullptr, strings, nullptr)
        .addObjectArrayValue(nullptr, noObjects, nullptr)
        .deleteValue(nullptr, 0, nullptr)
        .deleteName(nullptr, 0u, nullptr)
        .deleteName(nullptr, nullptr);
    EXPECT_EQ(ContentOf(o.map), before);

    EXPECT_EQ(&o.getStringValue(nullptr, 0, nullptr), &o.getStringValue("missing", 0, nullptr));
    EXPECT_EQ(o.integerValue(nullptr, 0, nullptr), 0u);
    EXPECT_FALSE(o.booleanValue(nullptr, 0, nullptr));
    EXPECT_EQ(Buffer(o, nullptr), "<null>");
    EXPECT_EQ(o.length(nullptr, nullptr), 0u);
    o.objectValue(nullptr, nested, 0, nullptr);
    EXPECT_EQ(nested.length(), 1u);
    o.stringArrayValue(nullptr, strings, nullptr);
    EXPECT_EQ(strings.size(), 1u);
    objtest::List list;
    o.attrListValue(nullptr, list.list, 0, nullptr);
    EXPECT_EQ(list.list.count, 0u);
    EXPECT_TRUE(capture.debugRecords().empty());
}

}  // namespace
