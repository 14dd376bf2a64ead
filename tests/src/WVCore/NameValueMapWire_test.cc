// NameValueMap conversions: the wire encoding through the codec, the wrapper, attribute
// lists in both directions, and the record tree.

#include <ovutil/NameValueMap.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <ovutil/mime64.h>

#include "src/WVCore/NameValueMap_content.h"

namespace {

// DER of the wire module, written independently of the codec so that hostile and
// hand-shaped inputs can be made.
std::string Tlv(unsigned char tag, const std::string& content) {
    std::string out(1, static_cast<char>(tag));
    size_t n = content.size();
    if (n < 0x80) {
        out += static_cast<char>(n);
    } else {
        std::string len;
        for (; n != 0; n >>= 8) len.insert(len.begin(), static_cast<char>(n & 0xFF));
        out += static_cast<char>(0x80 | len.size());
        out += len;
    }
    return out + content;
}

std::string Record(const std::string& name, const std::vector<std::string>& values,
                   const std::string& children = "") {
    std::string texts;
    for (const auto& v : values) texts += Tlv(0x0C, v);
    return Tlv(0x30, Tlv(0x0C, name) + Tlv(0x30, texts) + Tlv(0x30, children));
}

std::string List(const std::string& records) { return Tlv(0x30, records); }

// A chain of records n -> n -> ... whose deepest record sits at `level`.
std::string Chain(int level) {
    std::string record = Record("n", {"leaf"});
    for (int i = 0; i < level; ++i) record = Record("n", {}, record);
    return List(record);
}

ov_asn_buffer_t View(const std::string& bytes) {
    return {static_cast<unsigned int>(bytes.size()),
            reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data()))};
}

std::string Encode(const NameValueMap& map, unsigned long& status) {
    ov_asn_buffer_t out = {0, nullptr};
    status = 99;
    map.encode(out, status);
    std::string bytes;
    if (status == OV_ASN_OK) {
        bytes.assign(reinterpret_cast<char*>(out.data), out.length);
        ov_asn_buffer_free(out);
    }
    return bytes;
}

unsigned long Decode(NameValueMap& map, const std::string& bytes) {
    ov_asn_buffer_t in = View(bytes);
    unsigned long status = 99;
    map.decode(in, status);
    return status;
}

// The codec's status for `bytes`.
unsigned long CodecStatus(const std::string& bytes) {
    namevalueList_s_t list = {0, nullptr};
    unsigned long status = ovAsnDecodeObj(View(bytes), list);
    ovAsnFreeObj(list);
    return status;
}

// What the codec makes of the record tree that encodeMap builds for each name of `map`.
std::string CodecBytesOf(const NameValueMap& map) {
    ZArrayList_6_0 names(10, 0);
    map.getNames(names);
    std::vector<namevalue_s_t> records(names.size());
    std::vector<namevalue_s_t*> entries(names.size());
    for (unsigned long i = 0; i < names.size(); ++i) {
        map.encodeMap(&records[i], static_cast<ZAbstractString_6_0*>(names.get(i))->getChars());
        entries[i] = &records[i];
    }
    namevalueList_s_t list = {static_cast<unsigned int>(names.size()),
                              entries.empty() ? nullptr : entries.data()};
    ov_asn_buffer_t out = {0, nullptr};
    std::string bytes = ovAsnEncodeObj(out, list) == OV_ASN_OK
                            ? std::string(reinterpret_cast<char*>(out.data), out.length)
                            : "<codec refused>";
    ov_asn_buffer_free(out);
    for (auto& record : records) map.freeMap(&record);
    return bytes;
}

// Subtrees nested `levels` deep below the top-level name "n"; the leaf record sits at that
// level of the codec's count.
void Nest(NameValueMap& map, int levels) {
    NameValueMap* at = &map;
    for (int i = 0; i < levels; ++i) at = at->addSubtree("n");
    at->addString("n", "leaf");
}

TEST(NameValueMapCodec, RoundTripsKeepEveryNameValueAndSubtree) {
    struct Case {
        const char* label;
        void (*fill)(NameValueMap&);
    } const cases[] = {
        {"empty map", [](NameValueMap&) {}},
        {"empty name and texts",
         [](NameValueMap& m) {
             m.addString("", "");
             m.addString("e", "");
             m.addString("e", "");
         }},
        {"non-ASCII UTF-8",
         [](NameValueMap& m) {
             m.addString(
                 "gr\xC3\xBC\xC3\x9F"
                 "e",
                 "\xE6\x97\xA5\xE6\x9C\xAC");
             m.addString("emoji", "\xF0\x9F\x94\x92 locked");
         }},
        {"names with values and subtrees",
         [](NameValueMap& m) {
             m.addString("a", "1");
             m.addSubtree("a")->addString("b", "2");
             m.addSubtree("only")->addSubtree("inner")->addString("c", "3");
         }},
        {"thousands of names",
         [](NameValueMap& m) {
             for (unsigned int i = 0; i < 3000; ++i) {
                 std::string name = "name" + std::to_string(i);
                 m.addString(name.c_str(), i);
                 if (i % 7 == 0) m.addString(name.c_str(), std::string(200, 'v').c_str());
             }
         }},
        {"deepest subtree the codec carries", [](NameValueMap& m) { Nest(m, OV_ASN_MAX_DEPTH); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        NameValueMap map;
        c.fill(map);
        unsigned long status;
        std::string bytes = Encode(map, status);
        ASSERT_EQ(status, OV_ASN_OK);
        EXPECT_EQ(bytes, CodecBytesOf(map));
        NameValueMap back;
        ASSERT_EQ(Decode(back, bytes), OV_ASN_OK);
        EXPECT_TRUE(SameContent(back, map));
    }
}

TEST(NameValueMapCodec, EncodesTheSameBytesAsTheCodecGivenTheMirrorTree) {
    // The empty map is the empty list: count 0, entries NULL.
    namevalueList_s_t empty = {0, nullptr};
    ov_asn_buffer_t expected = {0, nullptr};
    ASSERT_EQ(ovAsnEncodeObj(expected, empty), OV_ASN_OK);
    unsigned long status;
    EXPECT_EQ(Encode(NameValueMap(), status),
              std::string(reinterpret_cast<char*>(expected.data), expected.length));
    ov_asn_buffer_free(expected);

    // A name holding only a subtree: no values, one child per subtree name.
    NameValueMap map;
    map.addSubtree("s")->addString("x", "1");
    map.getSubtree("s")->addString("x", "2");
    EXPECT_EQ(Encode(map, status), List(Record("s", {}, Record("x", {"1", "2"}))));
}

TEST(NameValueMapCodec, SubtreesPastTheCodecLimitAreRefused) {
    NameValueMap tooDeep;
    Nest(tooDeep, OV_ASN_MAX_DEPTH + 1);
    unsigned long status;
    Encode(tooDeep, status);
    EXPECT_EQ(status, OV_ASN_E_DEPTH);

    NameValueMap map;
    map.addString("keep", "1");
    MapContent before = ContentOf(map);
    EXPECT_EQ(Decode(map, Chain(OV_ASN_MAX_DEPTH + 1)), OV_ASN_E_DEPTH);
    EXPECT_EQ(ContentOf(map), before);
    EXPECT_EQ(Decode(map, Chain(OV_ASN_MAX_DEPTH)), OV_ASN_OK);
}

TEST(NameValueMapCodec, DamagedEncodingsAreRefusedAndLeaveTheMapAsItWas) {
    NameValueMap source;
    source.addString("name", "value");
    source.addSubtree("sub")->addString("x", "y");
    unsigned long status;
    std::string good = Encode(source, status);
    ASSERT_EQ(status, OV_ASN_OK);

    NameValueMap map;
    map.addString("name", "kept");
    MapContent before = ContentOf(map);

    // Every refusal carries the codec's own status for the same bytes.
    for (size_t n = 0; n < good.size(); ++n) {
        SCOPED_TRACE("truncated to " + std::to_string(n));
        const std::string bytes = good.substr(0, n);
        const unsigned long status = Decode(map, bytes);
        EXPECT_NE(status, OV_ASN_OK);
        EXPECT_EQ(status, CodecStatus(bytes));
        EXPECT_EQ(ContentOf(map), before);
    }

    struct Case {
        const char* label;
        std::string bytes;
    } const cases[] = {
        {"trailing byte", good + '\0'},
        {"wrong outer tag", "\x31" + good.substr(1)},
        {"indefinite length", std::string("\x30\x80", 2) + good.substr(2) + std::string(2, '\0')},
        {"length beyond the input",
         "\x30" + std::string(1, static_cast<char>(good[1] + 1)) + good.substr(2)},
        {"non-minimal length", std::string("\x30\x81", 2) + good.substr(1)},
        {"value text not UTF8String",
         List(Tlv(0x30, Tlv(0x0C, "n") + Tlv(0x30, Tlv(0x04, "v")) + Tlv(0x30, "")))},
        {"missing subtrees field", List(Tlv(0x30, Tlv(0x0C, "n") + Tlv(0x30, Tlv(0x0C, "v"))))},
        {"extra field",
         List(Tlv(0x30, Tlv(0x0C, "n") + Tlv(0x30, "") + Tlv(0x30, "") + Tlv(0x30, "")))},
        {"NUL inside a text", List(Record(std::string("a\0b", 3), {"v"}))},
        {"NUL inside a value", List(Record("a", {std::string("v\0", 2)}))},
        {"five length bytes", std::string("\x30\x85\x00\x00\x00\x00\x02", 7) + Record("n", {})},
        {"trailing bytes inside a record",
         List(Tlv(0x30, Tlv(0x0C, "n") + Tlv(0x30, "") + Tlv(0x30, "") + "x"))},
        {"too deep, then damaged", Chain(OV_ASN_MAX_DEPTH + 1) + "x"},
        {"damaged after a valid record", List(Record("ok", {"1"}) + Tlv(0x31, ""))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const unsigned long status = Decode(map, c.bytes);
        EXPECT_NE(status, OV_ASN_OK);
        EXPECT_EQ(status, CodecStatus(c.bytes));
        EXPECT_EQ(ContentOf(map), before);
    }
    // An empty buffer, and bytes without data.
    ov_asn_buffer_t none = {0, nullptr};
    status = 99;
    map.decode(none, status);
    EXPECT_EQ(status, OV_ASN_E_EMPTY);
    ov_asn_buffer_t noData = {4, nullptr};
    map.decode(noData, status);
    EXPECT_EQ(status, OV_ASN_E_INVALID);
    EXPECT_EQ(ContentOf(map), before);
}

// A record that holds neither values nor children adds nothing when decoded, as
// addNameValue adds nothing for it: such names are encoded, but a peer lists them no more.
TEST(NameValueMapCodec, RecordsThatHoldNothingAddNoName) {
    struct Case {
        const char* label;
        std::string bytes;
        std::vector<std::string> names;    // top-level names after decoding, in order
        std::vector<std::string> subtree;  // names in the subtree of the first of them
    } const cases[] = {
        {"bare record", List(Record("bare", {})), {}, {}},
        {"bare record between others",
         List(Record("a", {"1"}) + Record("bare", {}) + Record("b", {"2"})),
         {"a", "b"},
         {}},
        {"empty value is a value", List(Record("e", {""})), {"e"}, {}},
        {"child that holds nothing", List(Record("p", {}, Record("c", {}))), {"p"}, {}},
        {"bare child beside a full one",
         List(Record("p", {}, Record("c", {}) + Record("d", {"x"}))),
         {"p"},
         {"d"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        NameValueMap map;
        ASSERT_EQ(Decode(map, c.bytes), OV_ASN_OK);
        ZArrayList_6_0 names(10, 0);
        map.getNames(names);
        std::vector<std::string> listed;
        for (unsigned long i = 0; i < names.size(); ++i) {
            listed.emplace_back(static_cast<ZAbstractString_6_0*>(names.get(i))->c_str());
        }
        EXPECT_EQ(listed, c.names);
        std::vector<std::string> inner;
        if (!listed.empty()) {
            ZArrayList_6_0 subNames(10, 0);
            map.getSubtree(listed[0].c_str())->getNames(subNames);
            for (unsigned long i = 0; i < subNames.size(); ++i) {
                inner.emplace_back(static_cast<ZAbstractString_6_0*>(subNames.get(i))->c_str());
            }
        }
        EXPECT_EQ(inner, c.subtree);

        // The codec's records, added one by one, give the same map.
        namevalueList_s_t list = {0, nullptr};
        ASSERT_EQ(ovAsnDecodeObj(View(c.bytes), list), OV_ASN_OK);
        NameValueMap byRecords;
        for (unsigned int i = 0; i < list.count; ++i) byRecords.addNameValue(*list.entries[i]);
        ovAsnFreeObj(list);
        EXPECT_TRUE(SameContent(map, byRecords));
    }

    // Names whose entries hold nothing are still encoded, and are gone after decoding.
    NameValueMap source;
    source.addString("a", "1");
    source.addSubtree("empty");
    source.addString("emptied", "x");
    source.removeValue("emptied", 0);
    unsigned long status;
    std::string bytes = Encode(source, status);
    ASSERT_EQ(status, OV_ASN_OK);
    EXPECT_EQ(bytes, List(Record("a", {"1"}) + Record("empty", {}) + Record("emptied", {})));
    NameValueMap back;
    ASSERT_EQ(Decode(back, bytes), OV_ASN_OK);
    ZUTF8String_6_0 trace;
    back.buildTraceBuf(trace, 0);
    EXPECT_STREQ(trace.c_str(), "\tnumber of entries = 1\n\tnum values = 1\ta = 1\n");
}

TEST(NameValueMapCodec, DecodeAppendsToWhatTheMapHolds) {
    NameValueMap map;
    map.addString("n", "old");
    map.addSubtree("s")->addString("x", "old");
    ASSERT_EQ(Decode(map, List(Record("n", {"a", "b"}) + Record("s", {}, Record("x", {"new"})) +
                               Record("m", {"c"}))),
              OV_ASN_OK);
    EXPECT_EQ(ContentOf(map).names.at("n").values, (std::vector<std::string>{"old", "a", "b"}));
    EXPECT_EQ(ContentOf(*map.getSubtree("s")).names.at("x").values,
              (std::vector<std::string>{"old", "new"}));
    EXPECT_EQ(map.getValueCount("m"), 1u);
}

TEST(NameValueMapCodec, WrapperCarriesTheEncodingAndKeepsItsType) {
    NameValueMap map;
    map.addString("a", "1");
    wvobj_t object = {7, 7, 42, 5, reinterpret_cast<unsigned char*>(&map)};
    unsigned long status = 99;
    map.encode(object, status);
    ASSERT_EQ(status, OV_ASN_OK);
    EXPECT_EQ(object.reserved1, 0u);
    EXPECT_EQ(object.reserved2, 0u);
    EXPECT_EQ(object.type, 42u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(object.data), object.length),
              List(Record("a", {"1"})));

    NameValueMap back;
    back.decode(object, status);
    EXPECT_EQ(status, OV_ASN_OK);
    EXPECT_TRUE(SameContent(back, map));
    ov_asn_buffer_t owned = {object.length, object.data};
    ov_asn_buffer_free(owned);

    // A codec that refuses the tree leaves no bytes behind.
    NameValueMap tooDeep;
    Nest(tooDeep, OV_ASN_MAX_DEPTH + 1);
    object = {7, 7, 42, 5, reinterpret_cast<unsigned char*>(&map)};
    tooDeep.encode(object, status);
    EXPECT_EQ(status, OV_ASN_E_DEPTH);
    EXPECT_EQ(object.length, 0u);
    EXPECT_EQ(object.data, nullptr);
    EXPECT_EQ(object.type, 42u);
    EXPECT_EQ(object.reserved1, 0u);
}

TEST(NameValueMapRecords, EncodeMapBorrowsTextsAndFreeMapResetsTheRecord) {
    NameValueMap map;
    map.addString("n", "v1");
    map.addString("n", "v2");
    map.addSubtree("n")->addString("c", "w");
    map.addSubtree("s");

    char name[] = "n";
    namevalue_s_t record;
    map.encodeMap(&record, name);
    EXPECT_EQ(record.name, name);
    ASSERT_EQ(record.nvalues, 2u);
    EXPECT_STREQ(record.values[1], "v2");
    EXPECT_EQ(record.values[0], map.getString("n", 0)->getChars());
    ASSERT_EQ(record.nsubtrees, 1u);
    EXPECT_STREQ(record.subtrees[0]->name, "c");
    EXPECT_STREQ(record.subtrees[0]->values[0], "w");
    EXPECT_EQ(record.subtrees[0]->nsubtrees, 0u);
    EXPECT_EQ(record.subtrees[0]->subtrees, nullptr);

    // The record tree converts back into the same content.
    NameValueMap rebuilt(record);
    MapContent rebuiltContent = ContentOf(rebuilt);
    ASSERT_EQ(rebuiltContent.names.size(), 1u);
    EXPECT_TRUE(rebuiltContent.names.at("n") == ContentOf(map).names.at("n"));

    map.freeMap(&record);
    EXPECT_EQ(record.nvalues, 0u);
    EXPECT_EQ(record.values, nullptr);
    EXPECT_EQ(record.nsubtrees, 0u);
    EXPECT_EQ(record.subtrees, nullptr);

    namevalue_s_t empty;
    map.encodeMap(&empty, "s");
    EXPECT_EQ(empty.nvalues, 0u);
    EXPECT_EQ(empty.values, nullptr);
    EXPECT_EQ(empty.nsubtrees, 0u);
    EXPECT_EQ(empty.subtrees, nullptr);
}

std::vector<std::string> AttrTexts(const attrlist_s_t& list, const char* name) {
    std::vector<std::string> texts;
    unsigned int i = attrlist_find_entry(const_cast<attrlist_s_t*>(&list), name);
    if (i == list.count) return texts;
    for (unsigned int v = 0; v < list.attrs[i].nvalues; ++v) {
        EXPECT_EQ(list.attrs[i].values[v].type, static_cast<unsigned int>(ATTR_VALUE_STRING));
        texts.emplace_back(list.attrs[i].values[v].string);
    }
    return texts;
}

TEST(NameValueMapAttrlist, ToAttrlistFlattensSubtreesByConcatenation) {
    NameValueMap map;
    map.addString("x", "1");
    map.addSubtree("x")->addString("y", "2");
    map.addString("e", "");       // an empty text is a value like any other
    map.addString("a", "lower");  // names that meet once case is ignored...
    map.addString("A", "upper");
    map.addSubtree("ab")->addString("c", "p");  // ...or once concatenated
    map.addSubtree("a")->addString("bc", "q");
    map.addSubtree("nothing");

    attrlist_s_t list = {0, nullptr};
    value_s_t existing = {ATTR_VALUE_STRING, const_cast<char*>("0"), 0, nullptr};
    attrlist_add_entry(&list, const_cast<char*>("x"), &existing);
    map.toAttrlist(list);

    EXPECT_EQ(AttrTexts(list, "x"), (std::vector<std::string>{"0", "1"}));
    EXPECT_EQ(AttrTexts(list, "xy"), std::vector<std::string>{"2"});
    EXPECT_EQ(AttrTexts(list, "e"), std::vector<std::string>{""});
    EXPECT_EQ(AttrTexts(list, "a").size(), 2u);
    EXPECT_EQ(AttrTexts(list, "abc").size(), 2u);
    EXPECT_EQ(attrlist_find_entry(&list, "nothing"), list.count);
    EXPECT_EQ(list.count, 5u);  // a, abc, e, x, xy

    attrlist_s_t prefixed = {0, nullptr};
    map.toAttrlistInternal(prefixed, "p.");
    EXPECT_EQ(AttrTexts(prefixed, "p.xy"), std::vector<std::string>{"2"});
    for (unsigned int i = 0; i < list.count; ++i) attr_free(&list.attrs[i]);
    free(list.attrs);
    for (unsigned int i = 0; i < prefixed.count; ++i) attr_free(&prefixed.attrs[i]);
    free(prefixed.attrs);
}

// Every attribute of a list: its name and its texts.
std::vector<std::pair<std::string, std::vector<std::string>>> AllTexts(const attrlist_s_t& list) {
    std::vector<std::pair<std::string, std::vector<std::string>>> out;
    for (unsigned int i = 0; i < list.count; ++i) {
        std::vector<std::string> texts;
        for (unsigned int v = 0; v < list.attrs[i].nvalues; ++v)
            texts.emplace_back(list.attrs[i].values[v].string);
        out.emplace_back(list.attrs[i].name, texts);
    }
    return out;
}

// One attrlist_add_entry per value, in the map's listing order, each name's subtree right
// after its values: what toAttrlistInternal must leave.
void AddOneByOne(const NameValueMap& map, const std::string& prefix, attrlist_s_t& out) {
    ZArrayList_6_0 names(10, 0);
    map.getNames(names);
    for (unsigned long i = 0; i < names.size(); ++i) {
        std::string name = prefix + static_cast<ZAbstractString_6_0*>(names.get(i))->c_str();
        const char* key = static_cast<ZAbstractString_6_0*>(names.get(i))->c_str();
        for (unsigned int v = 0; v < map.getValueCount(key); ++v) {
            value_s_t value = {ATTR_VALUE_STRING, const_cast<char*>(map.getString(key, v)->c_str()),
                               0, nullptr};
            attrlist_add_entry(&out, name.data(), &value);
        }
        AddOneByOne(*map.getSubtree(key), name, out);
    }
}

TEST(NameValueMapAttrlist, ToAttrlistLeavesWhatOneAddEntryPerValueLeaves) {
    // Names in an order unrelated to the list's, case variants far apart, concatenations
    // that meet, into lists that already hold some of the names.
    NameValueMap map;
    std::vector<std::string> names;
    for (int i = 0; i < 60; ++i) names.push_back("k" + std::to_string(1000 + i * 7 % 60));
    for (size_t i = 0; i < names.size(); ++i) {
        map.addString(names[i].c_str(), ("v" + std::to_string(i)).c_str());
        if (i % 9 == 0) map.addString(names[i].c_str(), "second");
        if (i % 10 == 3) map.addSubtree(names[i].c_str())->addString("s", "sub");
    }
    map.addString("K1003", "upper case, listed last");
    map.addString("k10", "concatenation");
    map.addSubtree("k10")->addString("03s", "meets k1003s");

    struct Case {
        const char* label;
        std::vector<std::pair<const char*, const char*>> before;
        const char* prefix;
    } const cases[] = {
        {"into an empty list", {}, nullptr},
        {"into a list holding some names",
         {{"K1010", "old"}, {"a", "first"}, {"k1003S", "x"}},
         nullptr},
        {"with a prefix", {{"p.K1010", "old"}}, "p."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        attrlist_s_t* expected = static_cast<attrlist_s_t*>(calloc(1, sizeof(attrlist_s_t)));
        attrlist_s_t* actual = static_cast<attrlist_s_t*>(calloc(1, sizeof(attrlist_s_t)));
        for (const auto& [name, text] : c.before) {
            value_s_t value = {ATTR_VALUE_STRING, const_cast<char*>(text), 0, nullptr};
            attrlist_add_entry(expected, const_cast<char*>(name), &value);
            attrlist_add_entry(actual, const_cast<char*>(name), &value);
        }
        AddOneByOne(map, c.prefix != nullptr ? c.prefix : "", *expected);
        map.toAttrlistInternal(*actual, c.prefix);
        EXPECT_EQ(AllTexts(*actual), AllTexts(*expected));
        attrlist_delete(&expected);
        attrlist_delete(&actual);
    }
}

TEST(NameValueMapAttrlist, AttributeValuesBecomeTextByType) {
    unsigned int number = 42;
    unsigned char bytes[] = {0x01, 0x02, 0x03};
    // An encoded object as a POBJ value: its bytes travel as base64 and decode back.
    std::string object = List(Record("inner", {"v"}));
    struct Case {
        const char* label;
        value_s_t value;
        std::vector<std::string> texts;
    } const cases[] = {
        {"string", {ATTR_VALUE_STRING, const_cast<char*>("text"), 0, nullptr}, {"text"}},
        {"unsigned", {ATTR_VALUE_UINT, nullptr, 4, &number}, {"42"}},
        {"buffer", {ATTR_VALUE_BUFFER, nullptr, 3, bytes}, {"AQID"}},
        {"object",
         {ATTR_VALUE_POBJ, nullptr, static_cast<unsigned int>(object.size()),
          const_cast<char*>(object.data())},
         {}},
        {"type 0 skipped", {0, const_cast<char*>("t"), 3, bytes}, {}},
        {"type 7 skipped", {7, const_cast<char*>("t"), 3, bytes}, {}},
        {"string without text skipped", {ATTR_VALUE_STRING, nullptr, 0, nullptr}, {}},
        {"short number skipped", {ATTR_VALUE_UINT, nullptr, 2, &number}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        value_s_t values[] = {c.value};
        attr_s_t attr = {const_cast<char*>("n"), 1, values};
        attrlist_s_t list = {1, &attr};
        NameValueMap map(list);
        std::vector<std::string> texts;
        for (unsigned int v = 0; v < map.getValueCount("n"); ++v)
            texts.emplace_back(map.getString("n", v)->c_str());
        if (c.value.type == ATTR_VALUE_POBJ) {
            ASSERT_EQ(texts.size(), 1u);
            char* decoded = nullptr;
            unsigned int length = 0;
            mime64_new_decode(texts[0].c_str(), static_cast<int>(texts[0].size()), &decoded,
                              &length);
            EXPECT_EQ(std::string(decoded, length), object);
            free(decoded);
        } else {
            EXPECT_EQ(texts, c.texts);
        }
    }
}

}  // namespace
