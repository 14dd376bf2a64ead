// OVObject on the wire (the map's encoding, three ways in and out), the header it writes
// into another object, and the copies of one level or one scope into another object.

#include <ovutil/OVObject.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "src/WVCore/OVObject_test_util.h"

namespace {

using objtest::Names;
using objtest::Values;
using Strings = std::vector<std::string>;

std::string Bytes(const ov_asn_buffer_t& buffer) {
    return std::string(reinterpret_cast<const char*>(buffer.data), buffer.length);
}

OVObject Sample() {
    OVObject o("sample");
    o.addIntegerValue("port", 443, nullptr);
    o.addStringValue("host", "h1", "conn");
    o.addStringValue("note", "100% \xC3\xBC", nullptr);
    o.addObjectValue("peer", OVObject("peer"), nullptr);
    return o;
}

TEST(OVObjectEncoding, TheObjectEncodesAsItsMap) {
    const OVObject o = Sample();
    ov_asn_buffer_t fromObject = {0, nullptr};
    ov_asn_buffer_t fromMap = {0, nullptr};
    unsigned long objectStatus = 99, mapStatus = 99;
    o.encode(fromObject, objectStatus);
    o.map.encode(fromMap, mapStatus);
    ASSERT_EQ(objectStatus, OV_ASN_OK);
    ASSERT_EQ(mapStatus, OV_ASN_OK);
    EXPECT_EQ(Bytes(fromObject), Bytes(fromMap));

    wvobj_t wire;
    wire.reserved1 = wire.reserved2 = 77;
    OVObject::init_wvobj(wire, 12);
    EXPECT_EQ(wire.type, 12u);
    EXPECT_EQ(wire.length, 0u);
    EXPECT_EQ(wire.data, nullptr);
    EXPECT_EQ(wire.reserved1, 77u) << "init_wvobj leaves the reserved fields";
    OVObject copy(o);
    copy.encode(wire, objectStatus);
    ASSERT_EQ(objectStatus, OV_ASN_OK);
    EXPECT_EQ(wire.type, 12u);
    EXPECT_EQ(wire.reserved1, 0u);
    EXPECT_EQ(wire.reserved2, 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(wire.data), wire.length), Bytes(fromMap));

    // The three ways back in give the same object.
    OVObject viaBuffer, viaBytes, viaWrapper;
    viaBuffer.decode(fromObject, objectStatus);
    EXPECT_EQ(objectStatus, OV_ASN_OK);
    const std::string bytes = Bytes(fromMap);
    viaBytes.decode(static_cast<unsigned int>(bytes.size()),
                    reinterpret_cast<const unsigned char*>(bytes.data()), objectStatus);
    EXPECT_EQ(objectStatus, OV_ASN_OK);
    viaWrapper.decode(wire, objectStatus);
    EXPECT_EQ(objectStatus, OV_ASN_OK);
    for (const OVObject* back : {&viaBuffer, &viaBytes, &viaWrapper}) {
        EXPECT_TRUE(SameContent(back->map, o.map));
    }
    EXPECT_EQ(Bytes(fromObject), bytes) << "decoding leaves the caller's bytes alone";

    ov_asn_buffer_t wrapped = {wire.length, wire.data};
    ov_asn_buffer_free(wrapped);
    ov_asn_buffer_free(fromObject);
    ov_asn_buffer_free(fromMap);
}

TEST(OVObjectEncoding, DecodingAppendsAndARefusedDecodeAddsNothing) {
    const OVObject source = Sample();
    ov_asn_buffer_t encoded = {0, nullptr};
    unsigned long status = 99;
    source.encode(encoded, status);
    ASSERT_EQ(status, OV_ASN_OK);

    OVObject o("mine");
    o.addIntegerValue("port", 80, nullptr);
    o.decode(encoded, status);
    ASSERT_EQ(status, OV_ASN_OK);
    EXPECT_EQ(Values(o.map, "name"), (Strings{"mine", "sample"}));
    EXPECT_EQ(Values(o.map, "port"), (Strings{"80", "443"}));

    const MapContent before = ContentOf(o.map);
    const std::string refused[] = {
        std::string(),                                 // no bytes
        "\x31\x00",                                    // wrong tag
        Bytes(encoded).substr(0, encoded.length - 1),  // truncated
        Bytes(encoded) + '\0',                         // trailing byte
    };
    for (const std::string& bytes : refused) {
        SCOPED_TRACE(bytes.size());
        const std::string copy = bytes;
        status = OV_ASN_OK;
        o.decode(static_cast<unsigned int>(bytes.size()),
                 reinterpret_cast<const unsigned char*>(bytes.data()), status);
        EXPECT_NE(status, OV_ASN_OK);
        EXPECT_EQ(bytes, copy);
        EXPECT_EQ(ContentOf(o.map), before);

        wvobj_t wire;
        OVObject::init_wvobj(wire, 1);
        wire.length = static_cast<unsigned int>(bytes.size());
        wire.data = reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data()));
        status = OV_ASN_OK;
        o.decode(wire, status);
        EXPECT_NE(status, OV_ASN_OK);
        EXPECT_EQ(ContentOf(o.map), before);
    }
    ov_asn_buffer_free(encoded);
}

// An object whose description comes from its class, not from its map.
class Described : public OVObject {
public:
    const ZUTF8String_6_0& getDescription() const override { return text_; }

private:
    ZUTF8String_6_0 text_{"from the class"};
};

TEST(OVObjectEncoding, TheHeaderAppendsNameAndDescription) {
    OVObject plain("p");
    OVObject target("t");
    EXPECT_EQ(plain.encode("hdr", nullptr, target), 0);
    EXPECT_EQ(Values(target.map, "name"), (Strings{"t", "hdr"}));
    EXPECT_EQ(Values(target.map, "description"), Strings{""});

    Described described;
    EXPECT_EQ(described.encode("d", "s", target), 0);
    EXPECT_EQ(Values(target.map, "name", "s"), Strings{"d"});
    EXPECT_EQ(Values(target.map, "description", "s"), Strings{"from the class"});

    const MapContent before = ContentOf(target.map);
    EXPECT_EQ(plain.decode("hdr", nullptr, target), 0);
    EXPECT_EQ(ContentOf(target.map), before);
}

TEST(OVObjectEncoding, GetNameValuesCopiesOneLevelAsText) {
    OVObject o("o");
    o.addIntegerValue("n", 1, nullptr);
    o.addIntegerValue("n", 2, nullptr);
    o.addBooleanValue("b", 1, nullptr);
    o.addStringValue("scoped", "s1", "s");
    o.addStringValue("deeper", "x", "n");  // n's subtree: not copied
    o.deleteName("n", nullptr);
    o.addIntegerValue("n", 3, nullptr);

    OVObject top("t");
    o.getNameValues(top, nullptr);
    EXPECT_EQ(Values(top.map, "name"), (Strings{"t", "o"}));
    EXPECT_EQ(Values(top.map, "n"), Strings{"3"});
    EXPECT_EQ(Values(top.map, "b"), Strings{"true"});
    EXPECT_EQ(Names(top.map), (Strings{"b", "n", "name"})) << "names without values add nothing";
    EXPECT_EQ(top.map.getSubtreeCount("n"), 0u);

    OVObject scoped;
    o.getNameValues(scoped, "s");
    EXPECT_EQ(Names(scoped.map), Strings{"scoped"});
    EXPECT_EQ(Values(scoped.map, "scoped"), Strings{"s1"});

    OVObject untouched;
    o.getNameValues(untouched, "missing");
    EXPECT_EQ(untouched.length(), 0u);

    o.getNameValues(o, nullptr);
    EXPECT_EQ(Values(o.map, "n"), (Strings{"3", "3"}));
    EXPECT_EQ(Values(o.map, "name"), (Strings{"o", "o"}));
}

TEST(OVObjectEncoding, GetAllScopeReplacesTheTargetWithAPopulatedScope) {
    OVObject o("o");
    o.addStringValue("v", "1", "s");
    o.addStringValue("name", "inner", "s");
    o.addStringValue("s2", "only values", nullptr);

    OVObject target("t");
    ZUTF8String_6_0 description("d");
    target.setDescription(description);
    const MapContent before = ContentOf(target.map);
    for (const char* scope : {static_cast<const char*>(nullptr), "missing", "s2"}) {
        o.getAllScope(target, scope);
        EXPECT_EQ(ContentOf(target.map), before) << (scope ? scope : "null");
    }
    o.getAllScope(target, "s");
    EXPECT_EQ(Names(target.map), (Strings{"name", "v"}));
    EXPECT_STREQ(target.getName().c_str(), "inner");
    EXPECT_STREQ(target.getDescription().c_str(), "");
    target.addStringValue("v", "2", nullptr);
    EXPECT_EQ(Values(o.map, "v", "s"), Strings{"1"}) << "the copy is independent";

    o.getAllScope(o, "s");
    EXPECT_EQ(Names(o.map), (Strings{"name", "v"}));
    EXPECT_EQ(Values(o.map, "v"), Strings{"1"});
}

}  // namespace
