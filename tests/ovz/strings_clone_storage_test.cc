// Clones of the owned string classes keep their bytes in the clone's own allocation. These
// tests take such clones across every change that can outgrow, reuse or drop that room, and
// check the text, the null characters of an empty string, and independence from the source.
#include <ovz/strings.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

// Owns a clone and gives it back as the class clone() promises.
template <class S>
std::unique_ptr<S> CloneAs(const ZObject_6_0& source) {
    ZObject_6_0* copy = source.clone();
    auto* typed = dynamic_cast<S*>(copy);
    if (typed == nullptr) delete copy;
    return std::unique_ptr<S>(typed);
}

void ExpectText(const ZAbstractString_6_0& s, const std::string& expected) {
    EXPECT_EQ(s.length(), expected.size());
    EXPECT_STREQ(s.c_str(), expected.c_str());
    if (expected.empty()) {
        EXPECT_EQ(s.getChars(), nullptr);  // an empty owned string has no characters
    } else {
        ASSERT_NE(s.getChars(), nullptr);
        EXPECT_EQ(std::strlen(s.getChars()), expected.size());
    }
}

const std::string kLong(300, 'x');  // far beyond any clone's room

TEST(StringCloneStorage, ClonesOfEveryClassHoldTheBytesAndClass) {
    struct Case {
        const char* name;
        std::string text;
    };
    const Case cases[] = {{"empty", ""}, {"one byte", "a"}, {"short", "host-name"},
                          {"long", kLong}, {"multibyte", "M\xC3\xBCller \xE2\x82\xAC"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ZUTF8String_6_0 utf8(c.text.c_str());
        ZUTF8ConstString_6_0 utf8View(c.text.c_str());
        ZLCString_6_0 local(c.text.c_str());
        ZLCConstString_6_0 localView(c.text.c_str());
        auto a = CloneAs<ZUTF8String_6_0>(utf8);
        auto b = CloneAs<ZUTF8String_6_0>(utf8View);
        auto d = CloneAs<ZLCString_6_0>(local);
        auto e = CloneAs<ZLCString_6_0>(localView);
        ASSERT_TRUE(a && b && d && e);
        for (const ZAbstractString_6_0* s :
             {static_cast<const ZAbstractString_6_0*>(a.get()), static_cast<const ZAbstractString_6_0*>(b.get()),
              static_cast<const ZAbstractString_6_0*>(d.get()), static_cast<const ZAbstractString_6_0*>(e.get())}) {
            ExpectText(*s, c.text);
            EXPECT_TRUE(s->equals(utf8));
            EXPECT_EQ(s->hash(), utf8.hash());
        }
        EXPECT_EQ(a->codeSet(), ZCODESET_UTF8);
        EXPECT_EQ(d->codeSet(), ZCODESET_LOCAL);
        // A clone of a clone is the same again.
        auto again = CloneAs<ZUTF8String_6_0>(*a);
        ASSERT_TRUE(again);
        ExpectText(*again, c.text);
    }
}

// Each change is made on a clone of "abcdef"; the source must stay as it was.
TEST(StringCloneStorage, ChangesToAClone) {
    struct Case {
        const char* name;
        void (*change)(ZUTF8String_6_0&);
        std::string expected;
    };
    const Case cases[] = {
        {"append within the room's length", [](ZUTF8String_6_0& s) { s.append(""); }, "abcdef"},
        {"append beyond the room", [](ZUTF8String_6_0& s) { s.append("ghij"); }, "abcdefghij"},
        {"append a long text", [](ZUTF8String_6_0& s) { s.append(kLong.c_str()); },
         "abcdef" + kLong},
        {"append its own text", [](ZUTF8String_6_0& s) { s.append(s); }, "abcdefabcdef"},
        {"append a view of its own bytes",
         [](ZUTF8String_6_0& s) { s.append(ZUTF8ConstString_6_0(s.getChars() + 2)); },
         "abcdefcdef"},
        {"assign a shorter text", [](ZUTF8String_6_0& s) { s = "xy"; }, "xy"},
        {"assign a longer text", [](ZUTF8String_6_0& s) { s = kLong.c_str(); }, kLong},
        {"assign the empty text", [](ZUTF8String_6_0& s) { s = ""; }, ""},
        {"assign null", [](ZUTF8String_6_0& s) { s.assign(static_cast<const char*>(nullptr)); },
         ""},
        {"assign a tail of itself", [](ZUTF8String_6_0& s) { s.assign(s.getChars() + 3); },
         "def"},
        {"assign a view of itself",
         [](ZUTF8String_6_0& s) { s.assign(ZUTF8ConstString_6_0(s.getChars() + 1)); }, "bcdef"},
        {"assign a string", [](ZUTF8String_6_0& s) { s = ZUTF8String_6_0("other text"); },
         "other text"},
        {"clear", [](ZUTF8String_6_0& s) { s.clear(); }, ""},
        {"clear then append", [](ZUTF8String_6_0& s) { s.clear(); s += "q"; }, "q"},
        {"shorter, then longer again",
         [](ZUTF8String_6_0& s) { s = "ab"; s += "cdefgh"; }, "abcdefgh"},
        {"upper", [](ZUTF8String_6_0& s) { s.upper(); }, "ABCDEF"},
        {"assignLocal", [](ZUTF8String_6_0& s) { s.assignLocal("plain"); }, "plain"},
    };
    ZUTF8String_6_0 source("abcdef");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto copy = CloneAs<ZUTF8String_6_0>(source);
        ASSERT_TRUE(copy);
        c.change(*copy);
        ExpectText(*copy, c.expected);
        ExpectText(source, "abcdef");
        // Copies and assignments from the changed clone carry its text.
        ZUTF8String_6_0 copied(*copy);
        ExpectText(copied, c.expected);
        ZUTF8String_6_0 assigned("something else entirely, longer than the room");
        assigned = *copy;
        ExpectText(assigned, c.expected);
        // And a clone of the changed clone.
        auto second = CloneAs<ZUTF8String_6_0>(*copy);
        ASSERT_TRUE(second);
        ExpectText(*second, c.expected);
    }
}

TEST(StringCloneStorage, LocalCloneConvertsAndGrows) {
    ZLCString_6_0 local("abc");
    auto copy = CloneAs<ZLCString_6_0>(local);
    ASSERT_TRUE(copy);
    *copy += "defghijklmnop";
    ExpectText(*copy, "abcdefghijklmnop");
    *copy = *copy + "!";
    ExpectText(*copy, "abcdefghijklmnop!");
    copy->assignUTF8("xyz");  // ASCII converts to itself in every locale
    ExpectText(*copy, "xyz");
    ExpectText(local, "abc");
    ZUTF8String_6_0 back(*copy);
    ExpectText(back, "xyz");
}

TEST(StringCloneStorage, ClonesAreIndependentOfEachOther) {
    ZUTF8ConstString_6_0 view("shared-text");
    auto a = CloneAs<ZUTF8String_6_0>(view);
    auto b = CloneAs<ZUTF8String_6_0>(view);
    ASSERT_TRUE(a && b);
    EXPECT_NE(a->getChars(), b->getChars());
    a->append("-more");
    ExpectText(*a, "shared-text-more");
    ExpectText(*b, "shared-text");
}

}  // namespace
