// The ASN.1 codec: round trips, the exact DER it writes, and strict, safe refusal of every
// malformed input, with the list left empty.

#include <ovasn/asn.h>

#include "asn_tree.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" int ov_asn_c_round_trip(void);
extern "C" unsigned long ov_asn_c_status_texts(void);

namespace {

using asntest::Node;
using asntest::Records;

// An independent DER writer, for expected bytes and for hand-made (also malformed) input.
std::string der_length(size_t n) {
    if (n < 0x80) return std::string(1, static_cast<char>(n));
    std::string bytes;
    for (; n; n >>= 8) bytes.insert(bytes.begin(), static_cast<char>(n & 0xFF));
    return static_cast<char>(0x80 | bytes.size()) + bytes;
}
std::string tlv(unsigned char tag, const std::string& content) {
    return static_cast<char>(tag) + der_length(content.size()) + content;
}
std::string utf8(const std::string& s) { return tlv(0x0C, s); }
std::string seq(const std::string& content) { return tlv(0x30, content); }
std::string der(const Node& n) {
    std::string values, subtrees;
    for (const auto& v : n.values) values += utf8(v);
    for (const auto& s : n.subtrees) subtrees += der(s);
    return seq(utf8(n.name) + seq(values) + seq(subtrees));
}
std::string der(const std::vector<Node>& nodes) {
    std::string content;
    for (const auto& n : nodes) content += der(n);
    return seq(content);
}

// Encodes, expecting success, and returns the bytes.
std::string encode(const namevalueList_s_t& list) {
    ov_asn_buffer_t out{0, nullptr};
    EXPECT_EQ(ovAsnEncodeObj(out, list), OV_ASN_OK);
    std::string bytes(reinterpret_cast<const char*>(out.data), out.length);
    ov_asn_buffer_free(out);
    return bytes;
}

// Decodes `bytes`, returning the status; on success the tree is read into `nodes` and freed.
// On failure the list must have been left empty.
unsigned long decode(const std::string& bytes, std::vector<Node>* nodes = nullptr) {
    ov_asn_buffer_t in{static_cast<unsigned int>(bytes.size()),
                       reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data()))};
    namevalue_s_t* garbage = reinterpret_cast<namevalue_s_t*>(0x1);
    namevalueList_s_t list{77, &garbage};
    const unsigned long status = ovAsnDecodeObj(in, list);
    if (status == OV_ASN_OK) {
        if (nodes) *nodes = asntest::to_nodes(list);
        ovAsnFreeObj(list);
        EXPECT_EQ(list.count, 0u);
        EXPECT_EQ(list.entries, nullptr);
    } else {
        EXPECT_EQ(list.count, 0u);
        EXPECT_EQ(list.entries, nullptr);
    }
    return status;
}

Node typical(int i) {
    return Node{"name" + std::to_string(i), {"value " + std::to_string(i), "second"}, {}};
}

TEST(AsnCodec, TreesRoundTripAndEncodeAsDer) {
    std::vector<Node> many;
    for (int i = 0; i < 5000; ++i) many.push_back(typical(i));
    const struct {
        const char* what;
        std::vector<Node> nodes;
    } cases[] = {
        {"empty list", {}},
        {"a name without values or subtrees", {Node{"alone", {}, {}}}},
        {"empty texts", {Node{"", {"", ""}, {Node{"", {""}, {}}}}}},
        {"non-ASCII UTF-8",
         {Node{"n\xC3\xA4me", {"\xE6\x97\xA5\xE6\x9C\xAC", "\xF0\x9F\x94\x91"}, {}}}},
        {"values keep their order", {Node{"n", {"3", "1", "2"}, {}}}},
        {"subtrees",
         {Node{"a", {"1"}, {Node{"b", {}, {Node{"c", {"2", "3"}, {}}}}, Node{"d", {}, {}}}},
          Node{"e", {}, {}}}},
        {"every length form",
         {Node{std::string(127, 'a'),
               {std::string(128, 'b'), std::string(255, 'c'), std::string(256, 'd'),
                std::string(65535, 'e'), std::string(65536, 'f'), std::string(1 << 24, 'g')},
               {}}}},
        {"thousands of names", many},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Records records(c.nodes);
        const std::string bytes = encode(records.list);
        EXPECT_EQ(bytes, der(c.nodes));
        std::vector<Node> back;
        ASSERT_EQ(decode(bytes, &back), OV_ASN_OK);
        EXPECT_EQ(back, c.nodes);
    }
}

TEST(AsnCodec, KnownTreeGivesExactBytes) {
    Records records({Node{"a", {"b"}, {}}});
    EXPECT_EQ(encode(records.list), std::string("\x30\x0C\x30\x0A\x0C\x01"
                                                "a\x30\x03\x0C\x01"
                                                "b\x30\x00",
                                                14));
    Records empty({});
    EXPECT_EQ(encode(empty.list), std::string("\x30\x00", 2));
}

TEST(AsnCodec, NullTextsEncodeAsEmptyTexts) {
    char* values[] = {nullptr, const_cast<char*>("x")};
    namevalue_s_t record{nullptr, 2, values, 0, nullptr};
    namevalue_s_t* entries[] = {&record};
    namevalueList_s_t list{1, entries};
    std::vector<Node> back;
    ASSERT_EQ(decode(encode(list), &back), OV_ASN_OK);
    EXPECT_EQ(back, (std::vector<Node>{Node{"", {"", "x"}, {}}}));
}

TEST(AsnCodec, DecodedTreeHasNullArraysWhereCountsAreZero) {
    Records records({Node{"a", {}, {}}});
    const std::string bytes = encode(records.list);
    ov_asn_buffer_t in{static_cast<unsigned int>(bytes.size()),
                       reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data()))};
    namevalueList_s_t list{0, nullptr};
    ASSERT_EQ(ovAsnDecodeObj(in, list), OV_ASN_OK);
    ASSERT_EQ(list.count, 1u);
    EXPECT_STREQ(list.entries[0]->name, "a");
    EXPECT_EQ(list.entries[0]->values, nullptr);
    EXPECT_EQ(list.entries[0]->subtrees, nullptr);
    ovAsnFreeObj(list);
}

TEST(AsnCodec, SubtreesUpToTheDepthLimitAndNoDeeper) {
    const std::vector<Node> deepest{asntest::chain(OV_ASN_MAX_DEPTH)};
    Records ok(deepest);
    std::vector<Node> back;
    ASSERT_EQ(decode(encode(ok.list), &back), OV_ASN_OK);
    EXPECT_EQ(back, deepest);

    const std::vector<Node> too_deep{asntest::chain(OV_ASN_MAX_DEPTH + 1)};
    Records refused(too_deep);
    ov_asn_buffer_t out{3, nullptr};
    EXPECT_EQ(ovAsnEncodeObj(out, refused.list), OV_ASN_E_DEPTH);
    EXPECT_EQ(out.length, 3u);
    EXPECT_EQ(decode(der(too_deep)), OV_ASN_E_DEPTH);
}

TEST(AsnCodec, CyclicTreeIsRefusedNotFollowedForever) {
    namevalue_s_t record{const_cast<char*>("loop"), 0, nullptr, 1, nullptr};
    namevalue_s_t* self[] = {&record};
    record.subtrees = self;
    namevalueList_s_t list{1, self};
    ov_asn_buffer_t out{0, nullptr};
    EXPECT_EQ(ovAsnEncodeObj(out, list), OV_ASN_E_DEPTH);
    EXPECT_EQ(out.data, nullptr);
}

TEST(AsnCodec, EncoderRefusesUnusableRecords) {
    char* name = const_cast<char*>("n");
    namevalue_s_t values_missing{name, 2, nullptr, 0, nullptr};
    namevalue_s_t subtrees_missing{name, 0, nullptr, 1, nullptr};
    namevalue_s_t* null_child[] = {nullptr};
    namevalue_s_t child_missing{name, 0, nullptr, 1, null_child};
    namevalue_s_t* e1[] = {&values_missing};
    namevalue_s_t* e2[] = {&subtrees_missing};
    namevalue_s_t* e3[] = {&child_missing};
    namevalue_s_t* e4[] = {nullptr};
    const struct {
        const char* what;
        namevalueList_s_t list;
    } cases[] = {
        {"entries NULL with a count", {1, nullptr}},
        {"a NULL entry", {1, e4}},
        {"values NULL with nvalues 2", {1, e1}},
        {"subtrees NULL with nsubtrees 1", {1, e2}},
        {"a NULL child record", {1, e3}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ov_asn_buffer_t out{0, nullptr};
        EXPECT_EQ(ovAsnEncodeObj(out, c.list), OV_ASN_E_INVALID);
        EXPECT_EQ(out.data, nullptr);
    }
    namevalueList_s_t empty{0, nullptr};
    EXPECT_EQ(ovAsnEncodeObj(nullptr, &empty), OV_ASN_E_INVALID);
    ov_asn_buffer_t out{0, nullptr};
    EXPECT_EQ(ovAsnEncodeObj(&out, nullptr), OV_ASN_E_INVALID);
}

TEST(AsnCodec, MalformedInputIsRefusedWithItsStatus) {
    const std::string name = utf8("n");
    const std::string no_values = seq("");
    const std::string good_record = seq(name + no_values + seq(""));
    const struct {
        const char* what;
        std::string bytes;
        unsigned long status;
    } cases[] = {
        {"empty buffer", "", OV_ASN_E_EMPTY},
        {"outer SET instead of SEQUENCE", std::string("\x31\x00", 2), OV_ASN_E_TAG},
        {"record with a context tag", seq(tlv(0xA0, name + no_values + seq(""))), OV_ASN_E_TAG},
        {"name as OCTET STRING", seq(seq(tlv(0x04, "n") + no_values + seq(""))), OV_ASN_E_TAG},
        {"value as PrintableString", seq(seq(name + seq(tlv(0x13, "v")) + seq(""))), OV_ASN_E_TAG},
        {"a record among the values", seq(seq(name + seq(good_record) + seq(""))), OV_ASN_E_TAG},
        {"a text among the subtrees", seq(seq(name + no_values + seq(utf8("x")))), OV_ASN_E_TAG},
        {"fields in the wrong order", seq(seq(no_values + name + seq(""))), OV_ASN_E_TAG},
        {"indefinite length", std::string("\x30\x80\x00\x00", 4), OV_ASN_E_LENGTH},
        {"long form for a short length", std::string("\x30\x81\x00", 3), OV_ASN_E_LENGTH},
        {"long form 0x81 for 127", std::string("\x30\x81\x7F", 3) + std::string(127, '\0'),
         OV_ASN_E_LENGTH},
        {"leading zero length byte", std::string("\x30\x82\x00\x80", 4) + std::string(128, '\0'),
         OV_ASN_E_LENGTH},
        {"length wider than 32 bits", std::string("\x30\x85\x01\x00\x00\x00\x00", 7),
         OV_ASN_E_LENGTH},
        {"reserved length 0xFF", std::string("\x30\xFF", 2), OV_ASN_E_LENGTH},
        {"non-minimal text length", seq(seq(std::string("\x0C\x81\x01n", 4) + no_values + seq(""))),
         OV_ASN_E_LENGTH},
        {"a byte after the list", seq(good_record) + std::string(1, '\0'), OV_ASN_E_TRAILING},
        {"a fourth field in a record", seq(seq(name + no_values + seq("") + utf8("x"))),
         OV_ASN_E_TRAILING},
        {"subtrees field missing", seq(seq(name + no_values)), OV_ASN_E_TRUNCATED},
        {"record with only a name", seq(seq(name)), OV_ASN_E_TRUNCATED},
        {"empty record", seq(seq("")), OV_ASN_E_TRUNCATED},
        {"text longer than its record", seq(seq(std::string("\x0C\x09n", 3) + no_values + seq(""))),
         OV_ASN_E_TRUNCATED},
        {"list claiming 4 GiB", std::string("\x30\x84\xFF\xFF\xFF\xFF", 6) + good_record,
         OV_ASN_E_TRUNCATED},
        {"values claiming 16 MiB",
         seq(seq(name + std::string("\x30\x83\xFF\xFF\xFF", 5) + seq(""))), OV_ASN_E_TRUNCATED},
        {"a NUL inside a text", seq(seq(utf8(std::string("a\0b", 3)) + no_values + seq(""))),
         OV_ASN_E_TEXT},
        // Of several faults, the first in input order gives the status.
        {"a NUL inside a value, then a wrong tag",
         seq(seq(name + seq(utf8(std::string("v\0", 2))) + seq("")) + tlv(0x31, "")),
         OV_ASN_E_TEXT},
        {"a NUL inside a child's text, then a byte after the list",
         seq(seq(name + no_values + seq(seq(utf8(std::string("\0", 1)) + no_values + seq(""))))) +
             std::string(1, '\0'),
         OV_ASN_E_TEXT},
        {"a wrong tag, then a NUL inside a text",
         seq(tlv(0x31, "") + seq(utf8(std::string("a\0", 2)) + no_values + seq(""))), OV_ASN_E_TAG},
        {"a byte after the list of valid records", seq(good_record) + "x", OV_ASN_E_TRAILING},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(decode(c.bytes), c.status);
    }
}

TEST(AsnCodec, EveryTruncationOfAValidEncodingIsRefused) {
    const std::vector<Node> nodes{
        Node{"alpha", {"1", std::string(300, 'x')}, {Node{"beta", {"2"}, {Node{"gamma", {}, {}}}}}},
        Node{"delta", {}, {}}};
    const std::string bytes = der(nodes);
    ASSERT_EQ(decode(bytes), OV_ASN_OK);
    for (size_t n = 1; n < bytes.size(); ++n) {
        SCOPED_TRACE(n);
        EXPECT_EQ(decode(bytes.substr(0, n)), OV_ASN_E_TRUNCATED);
    }
}

// A NUL is found at every place in texts of every length around the decoder's 16- and 64-byte
// steps, whether the text ends the input or 64 bytes and more follow it, and whether the
// structure is valid throughout or a fault follows the NUL; 0 bytes outside the texts (the
// lengths of empty elements, the length bytes of long forms) are no NUL.
TEST(AsnCodec, NulInsideATextIsFoundWhereverItIs) {
    const std::string tail_value(70, 't');
    for (const size_t length : {1, 2, 15, 16, 17, 31, 32, 33, 48, 62, 63, 64, 65, 127, 128, 256}) {
        for (const size_t place : {size_t{0}, length / 2, length - 1}) {
            for (const bool room_after : {false, true}) {
                SCOPED_TRACE("length " + std::to_string(length) + ", NUL at " +
                             std::to_string(place) + (room_after ? ", input goes on" : ""));
                std::string text(length, 'x');
                const std::string clean_record =
                    der(Node{"n", {text, ""}, {}}) +
                    (room_after ? der(Node{"m", {tail_value}, {Node{"", {""}, {}}}}) : "");
                text[place] = '\0';
                const std::string record =
                    seq(utf8("n") + seq(utf8(text) + utf8("")) + seq("")) +
                    (room_after ? der(Node{"m", {tail_value}, {Node{"", {""}, {}}}}) : "");
                EXPECT_EQ(decode(seq(clean_record)), OV_ASN_OK);
                // A 0 byte right after a text is a wrong tag, not a NUL of the text.
                EXPECT_EQ(
                    decode(seq(seq(utf8("n") +
                                   seq(utf8(std::string(length, 'x')) + std::string(2, '\0')) +
                                   seq("")) +
                               (room_after ? std::string(70, '\0') : ""))),
                    OV_ASN_E_TAG);
                EXPECT_EQ(decode(seq(record)), OV_ASN_E_TEXT);
                EXPECT_EQ(decode(seq(record) + std::string(1, '\0')), OV_ASN_E_TEXT);
                EXPECT_EQ(decode(seq(record + tlv(0x31, ""))), OV_ASN_E_TEXT);
                // The same text as a name, and in a child.
                EXPECT_EQ(decode(seq(seq(utf8(text) + seq("") + seq("")))), OV_ASN_E_TEXT);
                EXPECT_EQ(decode(seq(seq(utf8("p") + seq("") + seq(record)))), OV_ASN_E_TEXT);
            }
        }
    }
}

TEST(AsnCodec, DecoderRefusesMissingArguments) {
    namevalueList_s_t list{0, nullptr};
    EXPECT_EQ(ovAsnDecodeObj(nullptr, &list), OV_ASN_E_INVALID);
    ov_asn_buffer_t no_data{4, nullptr};
    EXPECT_EQ(ovAsnDecodeObj(&no_data, &list), OV_ASN_E_INVALID);
    EXPECT_EQ(list.entries, nullptr);
    ov_asn_buffer_t empty{0, nullptr};
    EXPECT_EQ(ovAsnDecodeObj(&empty, nullptr), OV_ASN_E_INVALID);
}

TEST(AsnBuffer, CopyMakesAnIndependentCopy) {
    unsigned char bytes[] = {1, 2, 3, 0, 5};
    const ov_asn_buffer_t from{5, bytes};
    ov_asn_buffer_t to{0, nullptr};
    unsigned int status = 99;
    ov_asn_buffer_copy(from, to, status);
    ASSERT_EQ(status, OV_ASN_OK);
    ASSERT_EQ(to.length, 5u);
    ASSERT_NE(to.data, bytes);
    EXPECT_EQ(std::memcmp(to.data, bytes, 5), 0);
    ov_asn_buffer_free(to);
    EXPECT_EQ(to.length, 0u);
    EXPECT_EQ(to.data, nullptr);
}

TEST(AsnBuffer, CopyOfNothingGivesAnEmptyBuffer) {
    const ov_asn_buffer_t from{0, nullptr};
    ov_asn_buffer_t to{0, nullptr};
    unsigned int status = 99;
    ov_asn_buffer_copy(from, to, status);
    EXPECT_EQ(status, OV_ASN_OK);
    EXPECT_EQ(to.length, 0u);
    EXPECT_EQ(to.data, nullptr);
}

TEST(AsnBuffer, RefusedCopyLeavesTheTargetAlone) {
    const ov_asn_buffer_t from{3, nullptr};
    unsigned char mine = 0;
    ov_asn_buffer_t to{1, &mine};
    unsigned int status = 0;
    ov_asn_buffer_copy(from, to, status);
    EXPECT_EQ(status, OV_ASN_E_INVALID);
    EXPECT_EQ(to.length, 1u);
    EXPECT_EQ(to.data, &mine);
}

TEST(AsnBuffer, FreeReleasesCallerMemoryAndIsHarmlessTwice) {
    ov_asn_buffer_t buffer{16, static_cast<unsigned char*>(std::malloc(16))};
    ov_asn_buffer_free(buffer);
    EXPECT_EQ(buffer.length, 0u);
    EXPECT_EQ(buffer.data, nullptr);
    ov_asn_buffer_free(buffer);
    ov_asn_buffer_free(nullptr);
}

// Bytes of ov_asn_buffer_alloc are writable to their end and released by ov_asn_buffer_free
// (AddressSanitizer reports any mismatch of the two).
TEST(AsnBuffer, AllocGivesBytesThatFreeReleases) {
    for (unsigned int length : {0u, 1u, 127u, 4096u}) {
        SCOPED_TRACE(length);
        unsigned char keep = 7;
        ov_asn_buffer_t buffer{99, &keep};
        ASSERT_EQ(ov_asn_buffer_alloc(buffer, length), OV_ASN_OK);
        EXPECT_EQ(buffer.length, length);
        EXPECT_EQ(buffer.data == nullptr, length == 0);
        if (length != 0) std::memset(buffer.data, 0xA5, length);
        ov_asn_buffer_free(buffer);
        EXPECT_EQ(buffer.data, nullptr);
        EXPECT_EQ(keep, 7);
    }
    EXPECT_EQ(ov_asn_buffer_alloc(nullptr, 8), OV_ASN_E_INVALID);
}

TEST(AsnCApi, UsableFromPlainC) { EXPECT_EQ(ov_asn_c_round_trip(), 0); }

// Each status has a text of its own (a failing one is reported as status + 1), and the text
// of a refused decode names what was wrong.
TEST(AsnCApi, EveryStatusHasAText) {
    EXPECT_EQ(ov_asn_c_status_texts(), 0u);
    const unsigned char truncated[] = {0x30, 0x05, 0x30};
    ov_asn_buffer_t in = {sizeof truncated, const_cast<unsigned char*>(truncated)};
    namevalueList_s_t out = {0, nullptr};
    EXPECT_STREQ(ov_asn_status_text(ovAsnDecodeObj(&in, &out)),
                 "the input ends before an element or a field does");
}

}  // namespace
