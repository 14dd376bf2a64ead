// String classes: byte-wise identity across classes, empty texts, upper-casing and the
// conversion between UTF-8 and the local code set.
#include <ovz/strings.h>

#include <gtest/gtest.h>

#include "harness/eight_bit_locale.h"
#include <ovz/exceptions.h>

#include <clocale>
#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

namespace {

TEST(Strings, SameBytesAreEqualAndHashAlikeAcrossClasses) {
    const char* text = "Path/Map key";
    ZUTF8String_6_0 utf8(text);
    ZUTF8ConstString_6_0 utf8View(text);
    ZLCString_6_0 local(text);
    ZLCConstString_6_0 localView(text);
    const ZAbstractString_6_0* all[] = {&utf8, &utf8View, &local, &localView};
    for (const auto* a : all) {
        for (const auto* b : all) {
            EXPECT_TRUE(a->equals(*b));
            EXPECT_EQ(a->hash(), b->hash());
            EXPECT_EQ(a->compare(*b), 0);
        }
    }
}

TEST(Strings, EqualityIsByteWiseAndCaseSensitive) {
    struct Case {
        const char* a;
        const char* b;
        bool equal;
    } cases[] = {
        {"abc", "abc", true}, {"abc", "ABC", false}, {"abc", "abcd", false},
        {"", "", true},       {"abc", "", false},    {"\xc3\xa9", "\xc3\xa9", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        ZUTF8String_6_0 a(c.a);
        ZUTF8ConstString_6_0 b(c.b);
        EXPECT_EQ(a.equals(b), c.equal);
        EXPECT_EQ(b.equals(a), c.equal);
        EXPECT_EQ(a.equals(c.b), c.equal);
        if (c.equal) {
            EXPECT_EQ(a.hash(), b.hash());
        }
    }
}

TEST(Strings, CompareOrdersLikeStrcmp) {
    ZUTF8String_6_0 abc("abc");
    EXPECT_LT(abc.compare(ZUTF8ConstString_6_0("abd")), 0);
    EXPECT_GT(abc.compare(ZUTF8ConstString_6_0("ab")), 0);
    EXPECT_GT(ZUTF8String_6_0("\xc3\xa9").compare(abc), 0);  // bytes compare unsigned
}

TEST(Strings, StringNeverEqualsAnObjectThatIsNotAString) {
    struct Plain : ZObject_6_0 {};
    Plain plain;
    EXPECT_FALSE(ZUTF8String_6_0("x").equals(plain));
}

TEST(Strings, EmptyStringsMayHaveNullCharacters) {
    ZUTF8String_6_0 fresh;
    ZUTF8String_6_0 fromNull(static_cast<const char*>(nullptr));
    ZUTF8String_6_0 fromEmpty("");
    ZUTF8String_6_0 cleared("gone");
    cleared.clear();
    ZLCString_6_0 local;
    ZUTF8ConstString_6_0 nullView(nullptr);
    ZUTF8ConstString_6_0 emptyView("");
    const ZAbstractString_6_0* all[] = {&fresh, &fromNull, &fromEmpty, &cleared,
                                        &local, &nullView, &emptyView};
    for (const auto* s : all) {
        EXPECT_TRUE(s->isEmpty());
        EXPECT_EQ(s->length(), 0u);
        EXPECT_STREQ(s->c_str(), "");
        EXPECT_TRUE(s->equals(""));
        EXPECT_TRUE(s->equals(static_cast<const char*>(nullptr)));
        EXPECT_TRUE(s->equals(fresh));
        EXPECT_EQ(s->hash(), fresh.hash());
    }
    // Owned empty strings hold no buffer at all.
    EXPECT_EQ(fresh.getChars(), nullptr);
    EXPECT_EQ(fromEmpty.getChars(), nullptr);
    EXPECT_EQ(cleared.getChars(), nullptr);
    EXPECT_EQ(nullView.getChars(), nullptr);
}

// A string filled by its maker equals one made from the same bytes, and grows like one.
TEST(Strings, FilledStringsAreOrdinaryStrings) {
    for (const std::string& text : {std::string(), std::string("eleven byte"),
                                    std::string("twelve bytes"), std::string(5000, 'q')}) {
        SCOPED_TRACE(text.size());
        char* room = nullptr;
        std::unique_ptr<ZUTF8String_6_0> filled(ZUTF8String_6_0::newToFill(text.size(), room));
        ASSERT_NE(room, nullptr);
        if (!text.empty()) std::memcpy(room, text.data(), text.size());
        EXPECT_EQ(filled->length(), text.size());
        EXPECT_STREQ(filled->c_str(), text.c_str());
        EXPECT_TRUE(filled->equals(ZUTF8ConstString_6_0(text.c_str())));
        EXPECT_EQ(filled->hash(), ZUTF8String_6_0(text.c_str()).hash());
        filled->append("+more");
        EXPECT_EQ(std::string(filled->c_str()), text + "+more");
    }
}

TEST(Strings, FromIntIsDecimal) {
    struct Case {
        int value;
        const char* text;
    } cases[] = {
        {0, "0"}, {7, "7"}, {-42, "-42"}, {INT_MAX, "2147483647"}, {INT_MIN, "-2147483648"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_STREQ(ZUTF8String_6_0(c.value).c_str(), c.text);
    }
}

TEST(Strings, AppendAssignAndCopyOwnTheirBytes) {
    ZUTF8String_6_0 s("ab");
    s.append("cd");
    s.append(ZUTF8ConstString_6_0("ef"));
    s += "g";
    EXPECT_STREQ(s.c_str(), "abcdefg");
    s.append(s);  // appending itself must not read a moved buffer
    EXPECT_STREQ(s.c_str(), "abcdefgabcdefg");
    s.assign(s.getChars() + 7);  // assigning from its own bytes
    EXPECT_STREQ(s.c_str(), "abcdefg");

    ZUTF8String_6_0 copy(s);
    s = "changed";
    EXPECT_STREQ(copy.c_str(), "abcdefg");
    copy = copy;
    EXPECT_STREQ(copy.c_str(), "abcdefg");
    s.append(static_cast<const char*>(nullptr));
    EXPECT_STREQ(s.c_str(), "changed");
}

TEST(Strings, UpperCasesUTF8CharactersAndLeavesInvalidBytes) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"abc xyz 09", "ABC XYZ 09"},
        {"M\xc3\xbcller", "M\xc3\x9cLLER"},        // ü -> Ü
        {"\xd0\xb4\xd0\xb0", "\xd0\x94\xd0\x90"},  // Cyrillic да -> ДА
        {"\xc4\xb1", "I"},                         // dotless i: two bytes become one
        {"a\xff"
         "b",
         "A\xff"
         "B"},                               // invalid byte stays
        {"a\xc3", "A\xc3"},                  // truncated character stays
        {"\xed\xa0\x80x", "\xed\xa0\x80X"},  // surrogate bytes stay
        {"ALREADY", "ALREADY"},
        {"`az{@AZ[ 0-9_~", "`AZ{@AZ[ 0-9_~"},  // ASCII: only a..z change
        {"a name longer than the object's own room", "A NAME LONGER THAN THE OBJECT'S OWN ROOM"},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        ZUTF8String_6_0 s(c.in);
        s.upper();
        EXPECT_STREQ(s.c_str(), c.out);
    }
}

TEST(Strings, UpperDoesNotDependOnTheProcessLocale) {
    ovtest::CTypeScope c("C");
    ZUTF8String_6_0 s("\xc3\xa9t\xc3\xa9");  // été
    s.upper();
    EXPECT_STREQ(s.c_str(), "\xc3\x89T\xc3\x89");
}

TEST(Strings, ViewsCopyNothingAndCloneIntoOwningStrings) {
    char buffer[] = "view text";
    ZUTF8ConstString_6_0 u(buffer);
    ZLCConstString_6_0 l(buffer);
    EXPECT_EQ(u.getChars(), buffer);
    EXPECT_EQ(l.getChars(), buffer);

    std::unique_ptr<ZObject_6_0> uc(u.clone());
    std::unique_ptr<ZObject_6_0> lc(l.clone());
    auto* uOwned = dynamic_cast<ZUTF8String_6_0*>(uc.get());
    auto* lOwned = dynamic_cast<ZLCString_6_0*>(lc.get());
    ASSERT_NE(uOwned, nullptr);
    ASSERT_NE(lOwned, nullptr);
    buffer[0] = 'X';
    EXPECT_STREQ(uOwned->c_str(), "view text");
    EXPECT_STREQ(lOwned->c_str(), "view text");
}

TEST(Strings, CodeSetsAreReported) {
    EXPECT_EQ(ZUTF8String_6_0("a").codeSet(), ZCODESET_UTF8);
    EXPECT_EQ(ZUTF8ConstString_6_0("a").codeSet(), ZCODESET_UTF8);
    EXPECT_EQ(ZLCString_6_0("a").codeSet(), ZCODESET_LOCAL);
    EXPECT_EQ(ZLCConstString_6_0("a").codeSet(), ZCODESET_LOCAL);
}

// Every way a text crosses between UTF-8 and the local code set, each giving the result
// or what the conversion threw.
struct Converted {
    std::string construct, assign, viaAbstract;  // UTF-8 -> local
    std::string toUTF8, assignLocal;             // local -> UTF-8 (from the same input bytes)
};

std::string attempt(const std::function<std::string()>& f) {
    try {
        return f();
    } catch (ZInvalidParameterException_6_0&) {
        return "<refused>";
    }
}

Converted convertAllWays(const char* in) {
    Converted c;
    c.construct = attempt([&] { return std::string(ZLCString_6_0{ZUTF8String_6_0(in)}.c_str()); });
    c.assign = attempt([&] {
        ZLCString_6_0 s("old");
        s = ZUTF8String_6_0(in);
        return std::string(s.c_str());
    });
    c.viaAbstract = attempt([&] {
        ZLCString_6_0 s;
        static_cast<ZAbstractMutableString_6_0&>(s).assignUTF8(in);
        return std::string(s.c_str());
    });
    c.toUTF8 = attempt([&] { return std::string(ZLCString_6_0(in).toUTF8().c_str()); });
    c.assignLocal = attempt([&] {
        ZUTF8String_6_0 u("old");
        u.assignLocal(in);
        return std::string(u.c_str());
    });
    return c;
}

// A program that never chose a locale runs in C/POSIX, whose code set is ASCII. Its texts
// are handled as UTF-8: every byte passes both ways as it is, nothing becomes '?'.
TEST(LocalStrings, CAndPosixLocalesPassEveryByteUnchanged) {
    const char* texts[] = {
        "plain ascii",
        "M\xc3\xbcller",  // Müller
        "/srv/Gr\xc3\xb6\xc3\x9f"
        "e",                      // /srv/Größe
        "\xf0\x9f\x94\x92 lock",  // four-byte character
        "a\xff"
        "b",            // not UTF-8 at all
        "end\xe2\x82",  // truncated character
        "",
    };
    for (const char* locale : {"C", "POSIX"}) {
        ovtest::CTypeScope scope(locale);
        ASSERT_TRUE(scope.ok()) << locale;
        for (const char* text : texts) {
            SCOPED_TRACE(std::string(locale) + ": " + text);
            Converted c = convertAllWays(text);
            EXPECT_EQ(c.construct, text);
            EXPECT_EQ(c.assign, text);
            EXPECT_EQ(c.viaAbstract, text);
            EXPECT_EQ(c.toUTF8, text);
            EXPECT_EQ(c.assignLocal, text);
        }
    }
}

// In an 8-bit locale a text converts whole or is refused; no character is ever replaced, and
// a refused conversion leaves the target as it was.
TEST(LocalStrings, EightBitLocaleConvertsWholeTextsOrRefusesThem) {
    const ovtest::EightBitLocale& latin1 = ovtest::eightBitLocale();
    if (latin1.unavailable()) GTEST_SKIP() << latin1.why;
    ASSERT_TRUE(latin1.ready()) << latin1.why;
    ovtest::CTypeScope scope(latin1);
    ASSERT_TRUE(scope.ok());

    struct Case {
        const char* utf8;
        const char* local;  // null: refused
    } toLocal[] = {
        {"plain ascii", "plain ascii"},
        {"M\xc3\xbcller", "M\xfcller"},
        {"gr\xc3\xb6\xc3\x9f"
         "e",
         "gr\xf6\xdf"
         "e"},
        {"", ""},
        {"\xe6\x97\xa5\xe6\x9c\xac", nullptr},  // 日本: not in ISO-8859-1
        {"price \xe2\x82\xac", nullptr},        // € neither
        {"M\xc3\xbcller \xf0\x9f\x94\x92", nullptr},
        {"a\xff"
         "b",
         nullptr},                 // invalid UTF-8
        {"end\xe2\x82", nullptr},  // truncated at the end
    };
    for (const Case& c : toLocal) {
        SCOPED_TRACE(c.utf8);
        Converted r = convertAllWays(c.utf8);
        if (c.local == nullptr) {
            EXPECT_EQ(r.construct, "<refused>");
            EXPECT_EQ(r.assign, "<refused>");
            EXPECT_EQ(r.viaAbstract, "<refused>");
            // Keeps its text when refused.
            ZLCString_6_0 kept("old");
            EXPECT_THROW(kept = ZUTF8String_6_0(c.utf8), ZInvalidParameterException_6_0);
            EXPECT_STREQ(kept.c_str(), "old");
        } else {
            EXPECT_EQ(r.construct, c.local);
            EXPECT_EQ(r.assign, c.local);
            EXPECT_EQ(r.viaAbstract, c.local);
        }
    }

    // Every byte is a character of ISO-8859-1, and comes back from UTF-8 as itself.
    std::string all;
    for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
    ZUTF8String_6_0 utf8 = ZLCString_6_0(all.c_str()).toUTF8();
    EXPECT_EQ(utf8.length(), 127u + 2u * 128u);
    EXPECT_STREQ(ZLCString_6_0(utf8).c_str(), all.c_str());
    EXPECT_STREQ(ZLCString_6_0("M\xfcller").toUTF8().c_str(), "M\xc3\xbcller");
}

TEST(LocalStrings, UTF8LocaleConvertsByIdentity) {
    ovtest::CTypeScope utf8("C.UTF-8");
    if (!utf8.ok()) GTEST_SKIP() << "no C.UTF-8 locale on this system";
    const char* text = "M\xc3\xbcller \xf0\x9f\x94\x92 \xff";
    ZLCString_6_0 local{ZUTF8String_6_0(text)};
    EXPECT_STREQ(local.c_str(), text);
    EXPECT_STREQ(local.toUTF8().c_str(), text);
}

TEST(LocalStrings, ConcatenationOperators) {
    ZLCString_6_0 a("log");
    ZLCString_6_0 b = a + "/" + ZLCString_6_0("file");
    EXPECT_STREQ(b.c_str(), "log/file");
    EXPECT_STREQ(a.c_str(), "log");
    a += ".d";
    a += ZLCString_6_0("/x");
    EXPECT_STREQ(a.c_str(), "log.d/x");
    a = "fresh";
    EXPECT_STREQ(a.c_str(), "fresh");
    a = a;
    EXPECT_STREQ(a.c_str(), "fresh");
}

TEST(LocalStrings, CompareIgnoringCase) {
    struct Case {
        const char* a;
        const char* b;
        int sign;
    } cases[] = {
        {"yes", "YES", 0}, {"Yes", "yEs", 0}, {"abc", "abd", -1}, {"b", "A", 1},
        {"ab", "ABC", -1}, {"abc", "AB", 1},  {"", "", 0},        {"x", "", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        int r = ZLCString_6_0(c.a).compareignorecase(c.b);
        EXPECT_EQ((r > 0) - (r < 0), c.sign);
        int v = ZLCString_6_0(c.a).compareignorecase(ZLCConstString_6_0(c.b));
        EXPECT_EQ((v > 0) - (v < 0), c.sign);
    }
    EXPECT_EQ(ZLCString_6_0().compareignorecase(static_cast<const char*>(nullptr)), 0);
}

TEST(LocalStrings, CompareIgnoringCaseFoldsMultibyteCharactersInUTF8Locale) {
    ovtest::CTypeScope utf8("C.UTF-8");
    if (!utf8.ok()) GTEST_SKIP() << "no C.UTF-8 locale on this system";
    EXPECT_EQ(ZLCString_6_0("M\xc3\xbcller").compareignorecase("M\xc3\x9cLLER"), 0);
}

}  // namespace

// Clones of the owned string classes keep their bytes in the clone's own allocation. These
// tests take such clones across every change that can outgrow, reuse or drop that room, and
// check the text, the null characters of an empty string, and independence from the source.

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
    const Case cases[] = {{"empty", ""},
                          {"one byte", "a"},
                          {"short", "host-name"},
                          {"long", kLong},
                          {"multibyte", "M\xC3\xBCller \xE2\x82\xAC"}};
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
        for (const ZAbstractString_6_0* s : {static_cast<const ZAbstractString_6_0*>(a.get()),
                                             static_cast<const ZAbstractString_6_0*>(b.get()),
                                             static_cast<const ZAbstractString_6_0*>(d.get()),
                                             static_cast<const ZAbstractString_6_0*>(e.get())}) {
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
        {"assign a tail of itself", [](ZUTF8String_6_0& s) { s.assign(s.getChars() + 3); }, "def"},
        {"assign a view of itself",
         [](ZUTF8String_6_0& s) { s.assign(ZUTF8ConstString_6_0(s.getChars() + 1)); }, "bcdef"},
        {"assign a string", [](ZUTF8String_6_0& s) { s = ZUTF8String_6_0("other text"); },
         "other text"},
        {"assign counted bytes", [](ZUTF8String_6_0& s) { s.assign("xyzzy", 3); }, "xyz"},
        {"assign counted bytes beyond the room",
         [](ZUTF8String_6_0& s) { s.assign(kLong.data(), kLong.size() - 1); },
         kLong.substr(0, kLong.size() - 1)},
        {"assign counted bytes of itself",
         [](ZUTF8String_6_0& s) { s.assign(s.getChars() + 1, 3); }, "bcd"},
        {"assign no bytes", [](ZUTF8String_6_0& s) { s.assign(nullptr, 0); }, ""},
        {"clear", [](ZUTF8String_6_0& s) { s.clear(); }, ""},
        {"clear then append",
         [](ZUTF8String_6_0& s) {
             s.clear();
             s += "q";
         },
         "q"},
        {"shorter, then longer again",
         [](ZUTF8String_6_0& s) {
             s = "ab";
             s += "cdefgh";
         },
         "abcdefgh"},
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

// A string keeps a short text in the object itself and a clone's text behind the object, so
// the lengths around the object's own room (11 bytes and the NUL) and around a clone's size
// are where a text could be cut or run over. Every step is checked against std::string.
TEST(StringCloneStorage, TextsAroundTheObjectsOwnRoom) {
    for (size_t length : {0u, 1u, 10u, 11u, 12u, 13u, 23u, 24u, 25u, 40u, 300u}) {
        SCOPED_TRACE(length);
        std::string text;
        for (size_t i = 0; i < length; ++i) text += static_cast<char>('a' + i % 26);

        ZUTF8String_6_0 plain(text.c_str());
        ExpectText(plain, text);
        plain.append("!");
        ExpectText(plain, text + "!");

        auto clone = CloneAs<ZUTF8String_6_0>(ZUTF8ConstString_6_0(text.c_str()));
        ASSERT_TRUE(clone);
        ExpectText(*clone, text);
        // Shorter in place, then back to the full text and one byte more.
        *clone = text.substr(0, length / 2).c_str();
        ExpectText(*clone, text.substr(0, length / 2));
        clone->append(text.c_str() + length / 2);
        ExpectText(*clone, text);
        clone->append(*clone);
        ExpectText(*clone, text + text);
        *clone += "?";
        ExpectText(*clone, text + text + "?");
        // A clone of a string whose text has moved to the heap.
        auto again = CloneAs<ZUTF8String_6_0>(*clone);
        ASSERT_TRUE(again);
        ExpectText(*again, text + text + "?");
        *again = "";
        ExpectText(*again, "");
        ExpectText(*clone, text + text + "?");
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
