// Attribute lists: sorted, case-merging C records that own everything they hold.

#include <ovutil/attrlist.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <ovasn/asn.h>
#include <ovz/exceptions.h>
#include <ovz/strings.h>

namespace {

value_s_t StringValue(const char* text) {
    return {ATTR_VALUE_STRING, const_cast<char*>(text), 0, nullptr};
}

value_s_t BytesValue(unsigned int type, void* bytes, unsigned int length) {
    return {type, nullptr, length, bytes};
}

std::vector<std::string> Names(const attrlist_s_t* list) {
    std::vector<std::string> names;
    for (unsigned int i = 0; i < list->count; ++i) names.emplace_back(list->attrs[i].name);
    return names;
}

std::vector<std::string> Texts(const attr_s_t& attr) {
    std::vector<std::string> texts;
    for (unsigned int i = 0; i < attr.nvalues; ++i) texts.emplace_back(attr.values[i].string);
    return texts;
}

// A heap list the test fills and the fixture releases.
class AttrlistTest : public ::testing::Test {
protected:
    void SetUp() override { list_ = static_cast<attrlist_s_t*>(calloc(1, sizeof(attrlist_s_t))); }
    void TearDown() override { attrlist_delete(&list_); }

    void Add(const char* name, const char* text) {
        value_s_t value = StringValue(text);
        attrlist_add_entry(list_, const_cast<char*>(name), &value);
    }

    attrlist_s_t* list_ = nullptr;
};

TEST_F(AttrlistTest, FindEntryIgnoresCaseAndReportsCountWhenAbsent) {
    EXPECT_EQ(attrlist_find_entry(list_, "anything"), 0u);
    Add("Alpha", "1");
    Add("beta", "2");
    EXPECT_EQ(attrlist_find_entry(list_, "ALPHA"), 0u);
    EXPECT_EQ(attrlist_find_entry(list_, "Beta"), 1u);
    EXPECT_EQ(attrlist_find_entry(list_, "gamma"), 2u);
    EXPECT_EQ(attrlist_find_entry(list_, nullptr), 2u);
    EXPECT_EQ(attrlist_find_entry(nullptr, "alpha"), 0u);
}

TEST(AttrlistOrder, SortsByUpperCasedNameAndMergesCaseVariants) {
    struct Case {
        const char* label;
        std::vector<const char*> added;
        std::vector<std::string> names;
        std::vector<unsigned int> counts;
    } const cases[] = {
        {"b, A, c then B", {"b", "A", "c", "B"}, {"A", "b", "c"}, {1, 2, 1}},
        {"first spelling kept", {"x", "X", "x"}, {"x"}, {3}},
        {"prefix sorts first", {"z", "a_", "A"}, {"A", "a_", "z"}, {1, 1, 1}},
        // "_" (0x5F) sorts after the upper-case letters but before the lower-case ones.
        {"upper-cased bytes decide", {"a_b", "aab"}, {"aab", "a_b"}, {1, 1}},
        // Multibyte characters sort by their bytes, after every ASCII letter.
        {"non-ASCII letters merge",
         {"\xC3\xA4rger", "\xC3\x84RGER", "zeta"},
         {"zeta", "\xC3\xA4rger"},
         {1, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        attrlist_s_t* list = static_cast<attrlist_s_t*>(calloc(1, sizeof(attrlist_s_t)));
        for (const char* name : c.added) {
            value_s_t value = StringValue(name);
            attrlist_add_entry(list, const_cast<char*>(name), &value);
        }
        EXPECT_EQ(Names(list), c.names);
        ASSERT_EQ(list->count, c.counts.size());
        for (unsigned int i = 0; i < list->count; ++i)
            EXPECT_EQ(list->attrs[i].nvalues, c.counts[i]);
        attrlist_delete(&list);
        EXPECT_EQ(list, nullptr);
    }
}

// What a list must hold after a run of adds, worked out without the list: attributes by
// upper-cased name, each named as first given, with its values in the order added.
std::vector<std::pair<std::string, std::vector<std::string>>> Expected(
    const std::vector<std::pair<std::string, std::string>>& adds) {
    std::map<std::string, std::pair<std::string, std::vector<std::string>>> byKey;
    for (const auto& [name, text] : adds) {
        ZUTF8String_6_0 key(name.c_str());
        key.upper();
        auto& attr = byKey[key.c_str()];
        if (attr.second.empty()) attr.first = name;
        attr.second.push_back(text);
    }
    std::vector<std::pair<std::string, std::vector<std::string>>> out;
    for (const auto& [key, attr] : byKey) out.push_back(attr);
    return out;
}

std::vector<std::pair<std::string, std::vector<std::string>>> Content(const attrlist_s_t* list) {
    std::vector<std::pair<std::string, std::vector<std::string>>> out;
    for (unsigned int i = 0; i < list->count; ++i)
        out.emplace_back(list->attrs[i].name, Texts(list->attrs[i]));
    return out;
}

TEST(AttrlistOrder, AnyOrderOfAddsGivesTheSortedMergedListAndEveryNameIsFound) {
    std::vector<std::string> ascending;
    for (int i = 0; i < 40; ++i) ascending.push_back("name" + std::to_string(100 + i));
    std::vector<std::string> descending(ascending.rbegin(), ascending.rend());
    std::vector<std::string> shuffled = ascending;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(21));
    // From the middle outwards, with every name given again in other case further on.
    std::vector<std::string> outwards;
    for (int i = 0; i < 20; ++i) {
        outwards.push_back(ascending[static_cast<size_t>(19 - i)]);
        outwards.push_back(ascending[static_cast<size_t>(20 + i)]);
    }
    for (int i = 0; i < 40; i += 3) outwards.push_back("NAME" + std::to_string(100 + i));
    struct Case {
        const char* label;
        std::vector<std::string> names;
    } const cases[] = {
        {"ascending", ascending},
        {"descending", descending},
        {"shuffled", shuffled},
        {"outwards, then case variants", outwards},
        {"case variants and multibyte names",
         {"\xC3\xA4x", "b", "\xC3\x84X", "A", "B", "a", "\xC3\xA4", "_", "Z", "z"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        attrlist_s_t* list = static_cast<attrlist_s_t*>(calloc(1, sizeof(attrlist_s_t)));
        std::vector<std::pair<std::string, std::string>> adds;
        for (size_t i = 0; i < c.names.size(); ++i) {
            std::string text = std::to_string(i);
            value_s_t value = StringValue(text.c_str());
            attrlist_add_entry(list, const_cast<char*>(c.names[i].c_str()), &value);
            adds.emplace_back(c.names[i], text);
        }
        const auto expected = Expected(adds);
        EXPECT_EQ(Content(list), expected);

        // Every name is found at its index, in any case; names between, before and after
        // the stored ones are not.
        for (unsigned int i = 0; i < list->count; ++i) {
            std::string lower = list->attrs[i].name;
            std::string upper = lower;
            for (char& ch : lower) ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
            for (char& ch : upper) ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
            EXPECT_EQ(attrlist_find_entry(list, lower.c_str()), i) << lower;
            EXPECT_EQ(attrlist_find_entry(list, upper.c_str()), i) << upper;
            std::string between = std::string(list->attrs[i].name) + "0";
            EXPECT_EQ(attrlist_find_entry(list, between.c_str()), list->count) << between;
        }
        EXPECT_EQ(attrlist_find_entry(list, ""), list->count);
        EXPECT_EQ(attrlist_find_entry(list, "\x01"), list->count);
        EXPECT_EQ(attrlist_find_entry(list, "\xFF"), list->count);
        attrlist_delete(&list);
    }
}

TEST_F(AttrlistTest, ValuesAreCopiedInOrderAndStayTheCallersAfterwards) {
    char text[] = "first";
    unsigned char bytes[] = {1, 2, 3};
    unsigned int number = 42;
    value_s_t s = StringValue(text);
    value_s_t b = BytesValue(ATTR_VALUE_BUFFER, bytes, sizeof bytes);
    value_s_t u = BytesValue(ATTR_VALUE_UINT, &number, sizeof number);
    attrlist_add_entry(list_, const_cast<char*>("n"), &s);
    attrlist_add_entry(list_, const_cast<char*>("n"), &b);
    attrlist_add_entry(list_, const_cast<char*>("n"), &u);
    // The list must not see later changes of what the caller passed.
    text[0] = 'X';
    bytes[0] = 99;
    number = 7;

    ASSERT_EQ(list_->count, 1u);
    const attr_s_t& attr = list_->attrs[0];
    ASSERT_EQ(attr.nvalues, 3u);
    EXPECT_STREQ(attr.values[0].string, "first");
    EXPECT_EQ(attr.values[0].data, nullptr);
    EXPECT_EQ(attr.values[1].length, 3u);
    EXPECT_EQ(memcmp(attr.values[1].data, "\x01\x02\x03", 3), 0);
    EXPECT_EQ(attr.values[1].string, nullptr);
    EXPECT_EQ(*static_cast<unsigned int*>(attr.values[2].data), 42u);
}

TEST_F(AttrlistTest, DeleteValueRemovesOneAndKeepsTheAttribute) {
    Add("n", "a");
    Add("n", "b");
    Add("n", "c");
    attr_s_t& attr = list_->attrs[0];

    attrlist_del_value(&attr, 3);  // index == nvalues: nothing
    EXPECT_EQ(Texts(attr), (std::vector<std::string>{"a", "b", "c"}));
    attrlist_del_value(&attr, 1);
    EXPECT_EQ(Texts(attr), (std::vector<std::string>{"a", "c"}));
    attrlist_del_value(&attr, 1);
    attrlist_del_value(&attr, 0);
    EXPECT_EQ(attr.nvalues, 0u);
    EXPECT_EQ(attr.values, nullptr);
    EXPECT_EQ(list_->count, 1u);

    // An emptied attribute takes values again.
    Add("N", "again");
    EXPECT_EQ(Texts(list_->attrs[0]), std::vector<std::string>{"again"});
    EXPECT_STREQ(list_->attrs[0].name, "n");
}

TEST_F(AttrlistTest, RefusedValuesLeaveTheListAsItWas) {
    Add("keep", "1");
    attr_s_t* attrsBefore = list_->attrs;
    value_s_t* valuesBefore = list_->attrs[0].values;

    struct Case {
        const char* label;
        const char* name;
        value_s_t value;
    } const cases[] = {
        {"new attribute, string NULL", "other", StringValue(nullptr)},
        {"new attribute sorting first, string NULL", "a", StringValue(nullptr)},
        {"existing attribute, string NULL", "KEEP", StringValue(nullptr)},
        {"empty buffer without text", "keep", BytesValue(ATTR_VALUE_BUFFER, nullptr, 0)},
        {"bytes claimed without data", "keep", BytesValue(ATTR_VALUE_BUFFER, nullptr, 8)},
        {"object claimed without data", "other", BytesValue(ATTR_VALUE_POBJ, nullptr, 8)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        value_s_t value = c.value;
        EXPECT_THROW(attrlist_add_entry(list_, const_cast<char*>(c.name), &value),
                     ZOutOfMemoryException_6_0);
        EXPECT_EQ(list_->count, 1u);
        EXPECT_EQ(list_->attrs, attrsBefore);
        EXPECT_EQ(list_->attrs[0].nvalues, 1u);
        EXPECT_EQ(list_->attrs[0].values, valuesBefore);
        EXPECT_STREQ(list_->attrs[0].values[0].string, "1");
    }
    value_s_t bad = StringValue(nullptr);
    EXPECT_THROW(attrlist_add_value(&list_->attrs[0], &bad), ZOutOfMemoryException_6_0);
    EXPECT_EQ(list_->attrs[0].nvalues, 1u);
}

TEST_F(AttrlistTest, NullListsAndAttributesAreIgnored) {
    value_s_t value = StringValue("v");
    attrlist_add_entry(nullptr, const_cast<char*>("n"), &value);
    attrlist_add_entry(list_, nullptr, &value);
    attrlist_add_entry(list_, const_cast<char*>("n"), nullptr);
    attrlist_add_value(nullptr, &value);
    attrlist_del_value(nullptr, 0);
    attr_free(nullptr);
    attrlist_delete(nullptr);
    attrlist_s_t* none = nullptr;
    attrlist_delete(&none);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(list_->count, 0u);
    EXPECT_EQ(list_->attrs, nullptr);
    EXPECT_EQ(loc_strdup(nullptr), nullptr);
}

TEST_F(AttrlistTest, DupIsDeepAndIndependent) {
    EXPECT_EQ(attrlist_dup(nullptr), nullptr);
    attrlist_s_t* empty = attrlist_dup(list_);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->count, 0u);
    EXPECT_EQ(empty->attrs, nullptr);
    attrlist_delete(&empty);

    // An encoded object as produced by the codec, for the POBJ value.
    char name[] = "n";
    char text[] = "v";
    char* texts[] = {text};
    namevalue_s_t record = {name, 1, texts, 0, nullptr};
    namevalue_s_t* records[] = {&record};
    namevalueList_s_t tree = {1, records};
    ov_asn_buffer_t encoded = {0, nullptr};
    ASSERT_EQ(ovAsnEncodeObj(encoded, tree), OV_ASN_OK);

    unsigned char bytes[] = {0xDE, 0xAD};
    value_s_t pobj = BytesValue(ATTR_VALUE_POBJ, encoded.data, encoded.length);
    value_s_t buffer = BytesValue(ATTR_VALUE_BUFFER, bytes, 2);
    value_s_t both = {9, const_cast<char*>("odd type"), 2, bytes};
    attrlist_add_entry(list_, const_cast<char*>("obj"), &pobj);
    attrlist_add_entry(list_, const_cast<char*>("buf"), &buffer);
    attrlist_add_entry(list_, const_cast<char*>("odd"), &both);
    Add("gone", "x");
    attrlist_del_value(&list_->attrs[attrlist_find_entry(list_, "gone")], 0);

    attrlist_s_t* copy = attrlist_dup(list_);
    ASSERT_NE(copy, nullptr);
    ASSERT_EQ(Names(copy), Names(list_));
    for (unsigned int i = 0; i < copy->count; ++i) {
        const attr_s_t& from = list_->attrs[i];
        const attr_s_t& to = copy->attrs[i];
        SCOPED_TRACE(from.name);
        EXPECT_NE(to.name, from.name);
        ASSERT_EQ(to.nvalues, from.nvalues);
        if (to.nvalues == 0) {
            EXPECT_EQ(to.values, nullptr);
        }
        for (unsigned int v = 0; v < to.nvalues; ++v) {
            EXPECT_EQ(to.values[v].type, from.values[v].type);
            EXPECT_EQ(to.values[v].length, from.values[v].length);
            ASSERT_NE(to.values[v].data, nullptr);
            EXPECT_NE(to.values[v].data, from.values[v].data);
            EXPECT_EQ(memcmp(to.values[v].data, from.values[v].data, to.values[v].length), 0);
            if (from.values[v].string != nullptr) {
                EXPECT_STREQ(to.values[v].string, from.values[v].string);
                EXPECT_NE(to.values[v].string, from.values[v].string);
            }
        }
    }
    // Releasing the original must leave the copy whole (AddressSanitizer watches the reads).
    attrlist_delete(&list_);
    unsigned int obj = attrlist_find_entry(copy, "OBJ");
    ASSERT_LT(obj, copy->count);
    ov_asn_buffer_t copied = {copy->attrs[obj].values[0].length,
                              static_cast<unsigned char*>(copy->attrs[obj].values[0].data)};
    namevalueList_s_t back = {0, nullptr};
    ASSERT_EQ(ovAsnDecodeObj(copied, back), OV_ASN_OK);
    ASSERT_EQ(back.count, 1u);
    EXPECT_STREQ(back.entries[0]->values[0], "v");
    ovAsnFreeObj(back);
    attrlist_delete(&copy);
    ov_asn_buffer_free(encoded);
}

TEST(AttrlistPobj, CopyAndFreeGoThroughTheCodecBuffer) {
    unsigned char bytes[] = {0x30, 0x00};
    value_s_t from = BytesValue(ATTR_VALUE_POBJ, bytes, 2);
    value_s_t to = {ATTR_VALUE_POBJ, nullptr, 0, nullptr};
    attrlist_copy_value_pobj(&from, &to);
    ASSERT_NE(to.data, nullptr);
    EXPECT_NE(to.data, from.data);
    EXPECT_EQ(to.length, 2u);
    EXPECT_EQ(memcmp(to.data, bytes, 2), 0);
    attr_free_value_pobj(to);
}

}  // namespace
