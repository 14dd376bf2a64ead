// The product's stanza-file class: value-level operations on multi-valued keys and the
// registry factory.
#include <ovutil/OVStanzaFileProperties.h>

#include <gtest/gtest.h>

#include "harness/temp_dir.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <ovz/collections.h>
#include <ovz/exceptions.h>
#include <ovz/strings.h>

namespace {

using ovtest::TempDir;

std::vector<std::string> valuesOf(OVStanzaFileProperties& props, const char* stanza,
                                  const char* key) {
    ZArrayList_6_0 list(4, 1);
    props.getValues(stanza, key, list, ZPROPERTY_STRING_UTF8);
    std::vector<std::string> out;
    for (unsigned long i = 0; i < list.size(); ++i) {
        const char* chars = static_cast<ZUTF8String_6_0*>(list.get(i))->getChars();
        out.emplace_back(chars ? chars : "");
    }
    return out;
}

// A stanza whose key "k" holds the given values in order.
void fill(OVStanzaFileProperties& props, const std::vector<std::string>& values) {
    props.addStanza("s");
    for (const auto& v : values) props.addValue("s", "k", v.c_str(), 0);
}

using Values = std::vector<std::string>;

TEST(OVStanzaFileProperties, ExistsValueComparesBytesExactly) {
    OVStanzaFileProperties props;
    fill(props, {"a", "b", "a"});
    EXPECT_EQ(1, props.existsValue("s", "k", "a"));
    EXPECT_EQ(1, props.existsValue("s", "k", "b"));
    EXPECT_EQ(0, props.existsValue("s", "k", "A"));
    EXPECT_EQ(0, props.existsValue("s", "k", "a "));
    EXPECT_EQ(0, props.existsValue("s", "missing", "a"));
    EXPECT_EQ(0, props.existsValue("missing", "k", "a"));
}

TEST(OVStanzaFileProperties, DeleteValueRemovesOnlyTheFirstEqualValue) {
    OVStanzaFileProperties props;
    fill(props, {"a", "b", "a"});
    props.deleteValue("s", "k", "a");
    EXPECT_EQ((Values{"b", "a"}), valuesOf(props, "s", "k"));
    props.deleteValue("s", "k", "a");
    EXPECT_EQ((Values{"b"}), valuesOf(props, "s", "k"));
    props.deleteValue("s", "k", "a");  // no match: unchanged
    props.deleteValue("s", "missing", "b");
    EXPECT_EQ((Values{"b"}), valuesOf(props, "s", "k"));
}

TEST(OVStanzaFileProperties, DeleteValuesRemovesOneValuePerListElement) {
    struct Case {
        const char* name;
        Values before;
        Values remove;
        Values after;
    } cases[] = {
        {"empty list", {"a", "b", "a"}, {}, {"a", "b", "a"}},
        {"a twice", {"a", "b", "a"}, {"a", "a"}, {"b"}},
        {"one of each", {"a", "b", "c"}, {"c", "a"}, {"b"}},
        {"more than present", {"a"}, {"a", "a"}, {}},
        {"no match", {"a"}, {"x"}, {"a"}},
        {"repeats in both, in other orders",
         {"a", "b", "a", "c", "a", "b"},
         {"b", "a", "a", "x", "b", "b"},
         {"c", "a"}},
        {"the empty value", {"", "a", ""}, {"", "a"}, {""}},
        // Every other value of many, listed from the last: each text goes once.
        {"many",
         [] {
             Values v;
             for (int i = 0; i < 2000; ++i) v.push_back(std::to_string(i));
             return v;
         }(),
         [] {
             Values v;
             for (int i = 1999; i >= 0; i -= 2) v.push_back(std::to_string(i));
             return v;
         }(),
         [] {
             Values v;
             for (int i = 0; i < 2000; i += 2) v.push_back(std::to_string(i));
             return v;
         }()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OVStanzaFileProperties props;
        fill(props, c.before);
        ZArrayList_6_0 remove(4, 1);
        for (const auto& v : c.remove) remove.add(ZUTF8String_6_0(v.c_str()));
        props.deleteValues("s", "k", remove);
        EXPECT_EQ(c.after, valuesOf(props, "s", "k"));
        EXPECT_EQ(c.remove.size(), remove.size());  // the caller's list is left alone
    }
}

// A null value is never found and deletes nothing (an empty value included).
TEST(OVStanzaFileProperties, NullValueIsNeverFoundAndDeletesNothing) {
    OVStanzaFileProperties props;
    fill(props, {"", "a"});
    EXPECT_EQ(0, props.existsValue("s", "k", nullptr));
    props.deleteValue("s", "k", nullptr);
    EXPECT_EQ((Values{"", "a"}), valuesOf(props, "s", "k"));
    EXPECT_EQ(0, props.existsValue("s", "missing", nullptr));
    props.deleteValue("missing", "k", nullptr);
    EXPECT_EQ((Values{"", "a"}), valuesOf(props, "s", "k"));
}

// deleteValues goes through the virtual deleteValue, so a subclass sees every removal.
TEST(OVStanzaFileProperties, DeleteValuesCallsTheVirtualDeleteValue) {
    struct Recording : OVStanzaFileProperties {
        std::vector<std::string> seen;
        void deleteValue(const char* stanza, const char* key, const char* value) override {
            seen.emplace_back(value);
            OVStanzaFileProperties::deleteValue(stanza, key, value);
        }
    } props;
    fill(props, {"x", "y"});
    ZArrayList_6_0 remove(2, 1);
    remove.add(ZUTF8String_6_0("y"));
    remove.add(ZUTF8String_6_0("x"));
    props.deleteValues("s", "k", remove);
    EXPECT_EQ((Values{"y", "x"}), props.seen);
    EXPECT_TRUE(valuesOf(props, "s", "k").empty());
}

TEST(OVStanzaFileProperties, RegistryHandsOutOneLoadedObjectPerFile) {
    TempDir dir;
    const std::string path = dir.file("one.conf", "[s]\nk = v\n");
    ZStanzaFileProperties_6_0* first =
        OVStanzaFileProperties::getRegisteredPropertiesFor(path.c_str(), 0);
    ZStanzaFileProperties_6_0* second =
        OVStanzaFileProperties::getRegisteredPropertiesFor(path.c_str(), 0);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(first, second);
    EXPECT_NE(nullptr, dynamic_cast<OVStanzaFileProperties*>(first));
    ZUTF8String_6_0 value;
    first->getValue("s", "k", value, 0, nullptr);
    EXPECT_STREQ("v", value.getChars());
    EXPECT_NE(nullptr, OVStanzaFileProperties::factory_);
}

TEST(OVStanzaFileProperties, RegistryTellsMissingFilesFromInvalidData) {
    TempDir dir;
    const std::string bad = dir.file("bad.conf", "[s]\nthis line is not valid\n");
    EXPECT_THROW(OVStanzaFileProperties::getRegisteredPropertiesFor(bad.c_str(), 0),
                 ZPropertiesInvalidDataException_6_0);
    const std::string missing = bad + ".missing";
    try {
        OVStanzaFileProperties::getRegisteredPropertiesFor(missing.c_str(), 0);
        FAIL() << "a missing file was loaded";
    } catch (ZPropertiesInvalidDataException_6_0&) {
        FAIL() << "a missing file was reported as invalid data";
    } catch (ZException_6_0&) {
    }
}

TEST(OVStanzaFileProperties, ConcurrentFirstRequestsShareOneObject) {
    TempDir dir;
    const std::string path = dir.file("shared.conf", "[s]\nk = v\n");
    constexpr int kThreads = 8;
    std::vector<ZStanzaFileProperties_6_0*> got(kThreads, nullptr);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] {
            got[i] = OVStanzaFileProperties::getRegisteredPropertiesFor(path.c_str(), 0);
        });
    for (auto& t : threads) t.join();
    ASSERT_NE(nullptr, got[0]);
    for (auto* p : got) EXPECT_EQ(got[0], p);
}

}  // namespace
