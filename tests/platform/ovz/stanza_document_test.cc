// The stanza document: byte-exact round trip, look-ups, and edits that touch only their lines.
#include "stanza_document.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

using ovz_stanza::Document;

std::unique_ptr<Document> parsed(const std::string& text) {
    auto doc = std::make_unique<Document>();
    Document::ParseError err;
    EXPECT_TRUE(doc->parse(text, &err))
        << "line " << err.line << ": " << (err.reason ? err.reason : "");
    return doc;
}

TEST(StanzaDocumentTest, UnchangedDocumentSerialisesByteForByte) {
    const char* cases[] = {
        "",
        "\n",
        "[a]",
        "[a]\nk = v",
        "[a]\nk = v\n",
        "# head\n\n[a]\r\nk = v\r\n\r\n",
        "[a]\r\nk=v\nmixed = endings\r\n",
        "  [ spaced name ]  \n\t key\t=\t value with = signs \t\n",
        "[a]\nempty =\nempty2 =   \nk = v\nk = v2\n",
        "\n\n# only comments\n   # indented\n\n",
        "[a]\nk = v\r",  // a lone '\r' at the end is part of the last line
        "[a]\nk = v\n\n\n\n",
        "[a]\nk = caf\xc3\xa9 \xff\xfe\n",  // bytes are kept whatever they are
        "[a]\n[a]\nk = 1\n[b]\n[a]\nk = 2\n",
    };
    for (const char* text : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::string(text)));
        auto doc = parsed(text);
        EXPECT_EQ(doc->serialize(), text);
    }
}

// Serialised in pieces through a buffer of any size, a document gives the bytes of its
// serialisation in one string, cut anywhere (in a line, in a "\r\n", in the byte-order mark),
// in full buffers but the last; a sink that fails stops it with its value.
TEST(StanzaDocumentTest, SerialisesInPiecesThroughABufferOfAnySize) {
    std::string text = "\xEF\xBB\xBF# head\r\n[a]\r\n";
    for (int i = 0; i < 200; ++i)
        text += "k" + std::to_string(i) + " = " + std::string(static_cast<size_t>(i % 37), 'v') +
                (i % 3 ? "\n" : "\r\n");
    text += "last = no line end";
    auto doc = parsed(text);
    doc->setValue("a", "k5", "edited");  // a rewritten line: its text is held apart
    doc->addValue("new", "k", "v");
    const std::string whole = doc->serialize();
    ASSERT_NE(whole.find("k5 = edited"), std::string::npos);

    struct Out {
        std::string text;
        size_t pieces = 0, largest = 0;
        int failAt = -1;  // the piece whose sink fails, -1: none
    };
    Document::Sink sink = [](void* context, const char* data, size_t size) {
        auto* out = static_cast<Out*>(context);
        if (static_cast<int>(out->pieces++) == out->failAt) return 28;
        out->text.append(data, size);
        out->largest = std::max(out->largest, size);
        return 0;
    };
    for (size_t size :
         {size_t{1}, size_t{2}, size_t{3}, size_t{7}, size_t{64}, size_t{4096}, size_t{1} << 20}) {
        SCOPED_TRACE(size);
        std::vector<char> buffer(size);
        Out out;
        EXPECT_EQ(doc->serialize(buffer.data(), size, sink, &out), 0);
        EXPECT_EQ(out.text, whole);
        EXPECT_LE(out.largest, size);
        EXPECT_EQ(out.pieces, (whole.size() + size - 1) / size);

        Out failing;
        failing.failAt = 2;
        const int rc = doc->serialize(buffer.data(), size, sink, &failing);
        if (out.pieces > 2) {
            EXPECT_EQ(rc, 28);
            EXPECT_EQ(failing.pieces, 3u);
            EXPECT_EQ(failing.text, whole.substr(0, 2 * size));
        } else {
            EXPECT_EQ(rc, 0);
        }
    }
    Document empty;
    char one[1];
    Out out;
    EXPECT_EQ(empty.serialize(one, sizeof one, sink, &out), 0);
    EXPECT_EQ(out.pieces, 0u);
}

TEST(StanzaDocumentTest, LooksUpTrimmedKeysAndValuesAndRepeatedKeysInFileOrder) {
    auto doc = parsed(
        "# file\n"
        "[ server ]\n"
        "  port   =  8080  \n"
        "url = http://h/?a=b\n"
        "empty =\n"
        "list = one\n"
        "other = x\n"
        "list = two\n"
        "[client]\n"
        "list = three\n"
        "[server]\n"
        "list = four\n");
    EXPECT_EQ(doc->stanzaCount(), 2u);
    EXPECT_TRUE(doc->hasStanza("server"));
    EXPECT_FALSE(doc->hasStanza(" server "));
    std::string_view v;
    ASSERT_TRUE(doc->value("server", "port", 0, &v));
    EXPECT_EQ(v, "8080");
    ASSERT_TRUE(doc->value("server", "url", 0, &v));
    EXPECT_EQ(v, "http://h/?a=b");
    ASSERT_TRUE(doc->value("server", "empty", 0, &v));
    EXPECT_EQ(v, "");
    EXPECT_FALSE(doc->value("server", "missing", 0, &v));
    EXPECT_FALSE(doc->value("nostanza", "port", 0, &v));
    EXPECT_EQ(doc->values("server", "list"), (std::vector<std::string_view>{"one", "two", "four"}));
    EXPECT_EQ(doc->values("client", "list"), (std::vector<std::string_view>{"three"}));
    EXPECT_EQ(doc->keyNames("server"),
              (std::vector<std::string_view>{"port", "url", "empty", "list", "other"}));
    EXPECT_EQ(doc->keyCount("server"), 5u);
    EXPECT_EQ(doc->valueCount("server"), 7u);
    EXPECT_EQ(doc->valueCount("server", "list"), 3u);
    auto pairs = doc->pairs("server");
    ASSERT_EQ(pairs.size(), 7u);
    EXPECT_EQ(pairs[5].first, "list");
    EXPECT_EQ(pairs[5].second, "two");
    EXPECT_EQ(pairs[6].second, "four");
}

TEST(StanzaDocumentTest, InvalidDataNamesTheLine) {
    struct Case {
        const char* text;
        size_t line;
    } cases[] = {
        {"k = v\n", 1},  // key before any header
        {"# c\n\nk = v\n", 3},
        {"[a]\njust words\n", 2},
        {"[a]\nk = v\n[unclosed\n", 3},
        {"[a]\n = no key\n", 2},
        {"[a]\r\nok = 1\r\nbad\r\n", 3},
        {"[a]\nk = v\n]\n", 3},
        {"[\n", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Document doc;
        Document::ParseError err;
        EXPECT_FALSE(doc.parse(c.text, &err));
        EXPECT_EQ(err.line, c.line);
        EXPECT_NE(err.reason, nullptr);
        EXPECT_EQ(doc.serialize(), "");
    }
}

// Each edit on the same starting file, compared with the whole text it must give.
TEST(StanzaDocumentTest, EditsTouchOnlyTheirLines) {
    const std::string base =
        "# file comment\n"
        "\n"
        "# about a\n"
        "[a]\n"
        "  one   =   1   \n"
        "# about two\n"
        "two = 2\n"
        "multi = x\n"
        "multi = y\n"
        "\n"
        "# about b\n"
        "[b]\n"
        "k = v\n";
    struct Case {
        const char* name;
        void (*edit)(Document&);
        const char* expected;
    } cases[] = {
        {"set keeps the line's spacing", [](Document& d) { d.setValue("a", "one", "uno"); },
         "# file comment\n\n# about a\n[a]\n  one   =   uno   \n# about two\ntwo = 2\nmulti = "
         "x\nmulti = y\n\n# about b\n[b]\nk = v\n"},
        {"set on a multi-valued key keeps only the first line",
         [](Document& d) { d.setValue("a", "multi", "z"); },
         "# file comment\n\n# about a\n[a]\n  one   =   1   \n# about two\ntwo = 2\nmulti = z\n\n# "
         "about b\n[b]\nk = v\n"},
        {"new key goes after the stanza's last entry",
         [](Document& d) { d.setValue("a", "new", "n"); },
         "# file comment\n\n# about a\n[a]\n  one   =   1   \n# about two\ntwo = 2\nmulti = "
         "x\nmulti = y\nnew = n\n\n# about b\n[b]\nk = v\n"},
        {"added value follows the key's last value",
         [](Document& d) { d.addValue("a", "one", "1b"); },
         "# file comment\n\n# about a\n[a]\n  one   =   1   \none = 1b\n# about two\ntwo = "
         "2\nmulti = x\nmulti = y\n\n# about b\n[b]\nk = v\n"},
        {"delete key takes its comment block", [](Document& d) { d.deleteKey("a", "two"); },
         "# file comment\n\n# about a\n[a]\n  one   =   1   \nmulti = x\nmulti = y\n\n# about "
         "b\n[b]\nk = v\n"},
        {"delete stanza takes its comments but not the next stanza's",
         [](Document& d) { d.deleteStanza("a"); }, "# file comment\n\n# about b\n[b]\nk = v\n"},
        {"delete last stanza", [](Document& d) { d.deleteStanza("b"); },
         "# file comment\n\n# about a\n[a]\n  one   =   1   \n# about two\ntwo = 2\nmulti = "
         "x\nmulti = y\n\n"},
        {"new stanza is appended after a blank line",
         [](Document& d) { d.setValue("c", "key", ""); },
         "# file comment\n\n# about a\n[a]\n  one   =   1   \n# about two\ntwo = 2\nmulti = "
         "x\nmulti = y\n\n# about b\n[b]\nk = v\n\n[c]\nkey =\n"},
        {"stanza comment goes directly above the header, below its block",
         [](Document& d) { d.addStanzaComment("b", "#\n# Meta stanza\n#"); },
         "# file comment\n\n# about a\n[a]\n  one   =   1   \n# about two\ntwo = 2\nmulti = "
         "x\nmulti = y\n\n# about b\n#\n# Meta stanza\n#\n[b]\nk = v\n"},
        {"entry comment lines without '#' get one",
         [](Document& d) { d.addEntryComment("a", "multi", "first\n\n  # kept\nlast\n"); },
         "# file comment\n\n# about a\n[a]\n  one   =   1   \n# about two\ntwo = 2\n# first\n#\n  "
         "# kept\n# last\nmulti = x\nmulti = y\n\n# about b\n[b]\nk = v\n"},
        {"file comments go on top, in call order",
         [](Document& d) {
             d.addFileComment("# one");
             d.addFileComment("two");
         },
         "# one\n# two\n\n# file comment\n\n# about a\n[a]\n  one   =   1   \n# about two\ntwo = "
         "2\nmulti = x\nmulti = y\n\n# about b\n[b]\nk = v\n"},
        {"removing one value leaves the others",
         [](Document& d) { d.deleteValueAt("a", "multi", 0); },
         "# file comment\n\n# about a\n[a]\n  one   =   1   \n# about two\ntwo = 2\nmulti = y\n\n# "
         "about b\n[b]\nk = v\n"},
        {"removing the last value removes the key and its comments",
         [](Document& d) { d.deleteValueAt("a", "two", 0); },
         "# file comment\n\n# about a\n[a]\n  one   =   1   \nmulti = x\nmulti = y\n\n# about "
         "b\n[b]\nk = v\n"},
        {"rename changes the header's name only",
         [](Document& d) { EXPECT_TRUE(d.renameStanza("a", "alpha")); },
         "# file comment\n\n# about a\n[alpha]\n  one   =   1   \n# about two\ntwo = 2\nmulti = "
         "x\nmulti = y\n\n# about b\n[b]\nk = v\n"},
        {"rename onto an existing stanza changes nothing",
         [](Document& d) { EXPECT_FALSE(d.renameStanza("a", "b")); },
         "# file comment\n\n# about a\n[a]\n  one   =   1   \n# about two\ntwo = 2\nmulti = "
         "x\nmulti = y\n\n# about b\n[b]\nk = v\n"},
        {"rename of a missing stanza changes nothing",
         [](Document& d) { EXPECT_FALSE(d.renameStanza("nosuch", "c")); },
         "# file comment\n\n# about a\n[a]\n  one   =   1   \n# about two\ntwo = 2\nmulti = "
         "x\nmulti = y\n\n# about b\n[b]\nk = v\n"},
        {"empty value becomes non-empty",
         [](Document& d) {
             d.setValue("b", "k", "");
             d.setValue("b", "k", "w");
         },
         "# file comment\n\n# about a\n[a]\n  one   =   1   \n# about two\ntwo = 2\nmulti = "
         "x\nmulti = y\n\n# about b\n[b]\nk = w\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto doc = parsed(base);
        c.edit(*doc);
        std::string out = doc->serialize();
        EXPECT_EQ(out, c.expected);
        // What was written reads back as the same document.
        auto again = parsed(out);
        EXPECT_EQ(again->serialize(), out);
    }
}

// Every section of a renamed stanza is renamed, a header's own spacing and comment stay, and
// look-ups and later edits find the stanza under its new name only.
TEST(StanzaDocumentTest, RenamedStanzaKeepsItsSectionsKeysAndHeaderComments) {
    auto doc = parsed("[a]  # first part\nk = 1\n[b]\nx = y\n  [ a ]\nk = 2\n");
    ASSERT_TRUE(doc->renameStanza("a", "c d"));
    EXPECT_EQ(doc->serialize(), "[c d]  # first part\nk = 1\n[b]\nx = y\n  [ c d ]\nk = 2\n");
    EXPECT_FALSE(doc->hasStanza("a"));
    EXPECT_EQ(doc->values("c d", "k"), (std::vector<std::string_view>{"1", "2"}));
    EXPECT_EQ(doc->stanzaNames(), (std::vector<std::string_view>{"c d", "b"}));
    doc->addValue("c d", "k", "3");
    doc->setValue("a", "k", "new");  // the old name is free again
    EXPECT_EQ(doc->serialize(),
              "[c d]  # first part\nk = 1\n[b]\nx = y\n  [ c d ]\nk = 2\nk = 3\n\n[a]\nk = new\n");
    // Renamed twice, the second time from a header that is itself a rewritten line.
    ASSERT_TRUE(doc->renameStanza("c d", "e"));
    EXPECT_EQ(parsed(doc->serialize())->values("e", "k"),
              (std::vector<std::string_view>{"1", "2", "3"}));
}

// Checking a whole file reports every invalid line, by the rules that stop a plain parse.
TEST(StanzaDocumentTest, CheckingGoesOnPastInvalidLinesAndReportsEachOnce) {
    struct Case {
        const char* text;
        std::vector<size_t> lines;
    } cases[] = {
        {"[a]\nk = v\n", {}},
        {"k = 1\nk = 2\n[a]\nk = 3\n", {1, 2}},
        // Entries below a refused header are not reported again as keys before any header.
        {"[]\nx = 1\n[a]\nbad\n[b\ny = 2\n = no key\n", {1, 4, 5, 7}},
        {"[a]\none\ntwo\nthree\n", {2, 3, 4}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Document doc;
        Document::ParseError first;
        std::vector<Document::ParseError> every;
        EXPECT_EQ(doc.parse(c.text, &first, &every), c.lines.empty());
        std::vector<size_t> lines;
        for (const auto& e : every) {
            lines.push_back(e.line);
            EXPECT_NE(e.reason, nullptr);
        }
        EXPECT_EQ(lines, c.lines);
        if (c.lines.empty()) {
            EXPECT_EQ(doc.serialize(), c.text);  // a valid file is parsed as usual
            continue;
        }
        // The first reported line is the one a plain parse stops at, for the same reason.
        Document plain;
        Document::ParseError stop;
        EXPECT_FALSE(plain.parse(c.text, &stop));
        EXPECT_EQ(first.line, stop.line);
        EXPECT_EQ(every[0].line, stop.line);
        EXPECT_STREQ(every[0].reason, stop.reason);
        EXPECT_EQ(doc.serialize(), "");
    }
}

// A value line that an edit removes takes the comment lines directly above it along, so they
// never end up above (and later deleted with) the next key.
TEST(StanzaDocumentTest, RemovedValueLinesTakeTheirCommentBlocks) {
    const std::string base =
        "[s]\n"
        "# about k\n"
        "k = a\n"
        "# about b\n"
        "# more about b\n"
        "k = b\n"
        "# about c\n"
        "\tk = c\n"
        "# about other\n"
        "other = x\n";
    struct Case {
        const char* name;
        void (*edit)(Document&);
        const char* expected;
    } cases[] = {
        {"set keeps the first line and its comments only",
         [](Document& d) { d.setValue("s", "k", "z"); },
         "[s]\n# about k\nk = z\n# about other\nother = x\n"},
        {"a later value goes with its comments", [](Document& d) { d.deleteValueAt("s", "k", 1); },
         "[s]\n# about k\nk = a\n# about c\n\tk = c\n# about other\nother = x\n"},
        {"the last value goes with its comments", [](Document& d) { d.deleteValueAt("s", "k", 2); },
         "[s]\n# about k\nk = a\n# about b\n# more about b\nk = b\n# about other\nother = x\n"},
        {"the first value goes with its comments",
         [](Document& d) { d.deleteValueAt("s", "k", 0); },
         "[s]\n# about b\n# more about b\nk = b\n# about c\n\tk = c\n# about other\nother = x\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto doc = parsed(base);
        c.edit(*doc);
        EXPECT_EQ(doc->serialize(), c.expected);
        // The next key keeps its own comment: deleting it leaves no stray comment behind.
        doc->deleteKey("s", "other");
        EXPECT_EQ(doc->serialize().find("# about other"), std::string::npos);
        EXPECT_EQ(parsed(doc->serialize())->valueCount("s", "other"), 0u);
    }
}

// A byte-order mark at the start of the file and a comment after a header are accepted and
// kept byte for byte; edits never move or drop the mark.
TEST(StanzaDocumentTest, ByteOrderMarkAndHeaderCommentsAreKept) {
    const std::string bom = "\xEF\xBB\xBF";
    struct Case {
        std::string text;
        const char* stanza;
        const char* key;  // null: the stanza has no key to look at
        const char* value;
    } cases[] = {
        {bom + "[s]\nk = v\n", "s", "k", "v"},
        {bom + "# top\n\n[s]\r\nk = v\r\n", "s", "k", "v"},
        {bom, nullptr, nullptr, nullptr},
        {bom + "\n[s]", "s", nullptr, nullptr},
        {"[s]   # note\nk = v\n", "s", "k", "v"},
        {"[ s ]# note ] [x]\nk = v\n", "s", "k", "v"},
        {"\t[s]\t#\nk = v\n", "s", "k", "v"},
        {bom + "[s] # note\r\nk = v", "s", "k", "v"},
        {"[a]b] # the name holds ']'\nk = v\n", "a]b", "k", "v"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.text));
        auto doc = parsed(c.text);
        EXPECT_EQ(doc->serialize(), c.text);
        if (c.stanza) {
            EXPECT_TRUE(doc->hasStanza(c.stanza));
            EXPECT_EQ(doc->stanzaCount(), 1u);
        }
        if (c.key) {
            std::string_view v;
            ASSERT_TRUE(doc->value(c.stanza, c.key, 0, &v));
            EXPECT_EQ(v, c.value);
        }
    }

    struct Edit {
        const char* name;
        std::string text;
        void (*edit)(Document&);
        std::string expected;
    } edits[] = {
        {"deleting the first stanza keeps the mark", bom + "# about s\n[s]\nk = v\n[t]\n",
         [](Document& d) { d.deleteStanza("s"); }, bom + "[t]\n"},
        {"a file comment goes after the mark", bom + "[s]\n",
         [](Document& d) { d.addFileComment("top"); }, bom + "# top\n\n[s]\n"},
        {"a new key goes after the header with its comment", "[s]  # note\n\n[t]\n",
         [](Document& d) { d.setValue("s", "k", "v"); }, "[s]  # note\nk = v\n\n[t]\n"},
        {"a stanza comment goes above the header with its comment", bom + "[s] # note\n",
         [](Document& d) { d.addStanzaComment("s", "about s"); }, bom + "# about s\n[s] # note\n"},
        {"an empty file with a mark gains a stanza", bom,
         [](Document& d) { d.setValue("s", "k", "v"); }, bom + "[s]\nk = v\n"},
    };
    for (const Edit& e : edits) {
        SCOPED_TRACE(e.name);
        auto doc = parsed(e.text);
        e.edit(*doc);
        EXPECT_EQ(doc->serialize(), e.expected);
        EXPECT_EQ(parsed(e.expected)->serialize(), e.expected);
    }
}

TEST(StanzaDocumentTest, EmptyHeadersAndNulBytesAreInvalidData) {
    using namespace std::string_literals;
    struct Case {
        std::string text;
        size_t line;
    } cases[] = {
        {"[]\n", 1},
        {"[a]\nk = v\n[  ]\n", 3},
        {"[] # note\n", 1},
        {"[a]\nk = v\0w\n"s, 2},
        {"[a]\nk\0 = v\n"s, 2},
        {"[a\0]\n"s, 1},
        {"[a] \0# note\n"s, 1},
        {"[a]\r\nk = \0\r\n"s, 2},
        {"[a] trailing words\n", 1},
        {"[a]\n\xEF\xBB\xBF[b]\n", 2},  // a byte-order mark only at the very start
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.text));
        Document doc;
        Document::ParseError err;
        EXPECT_FALSE(doc.parse(c.text, &err));
        EXPECT_EQ(err.line, c.line);
        EXPECT_NE(err.reason, nullptr);
    }
    // A NUL byte in a comment line is no data: it is kept like any other comment byte.
    const std::string comment = "[a]\n# odd \0 byte\nk = v\n"s;
    EXPECT_EQ(parsed(comment)->serialize(), comment);
}

TEST(StanzaDocumentTest, EditsKeepTheFilesLineEndings) {
    struct Case {
        const char* text;
        const char* expected;
    } cases[] = {
        {"[a]\r\nk = v\r\n", "[a]\r\nk = v\r\nn = 1\r\n"},
        {"[a]\nk = v", "[a]\nk = v\nn = 1"},  // no final line break before, none after
        {"", "[a]\nn = 1\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        auto doc = parsed(c.text);
        if (!doc->hasStanza("a")) doc->addStanza("a");
        doc->setValue("a", "n", "1");
        EXPECT_EQ(doc->serialize(), c.expected);
    }
}

TEST(StanzaDocumentTest, StanzaAndKeyIndexSurvivesManyEdits) {
    auto doc = parsed("");
    for (int s = 0; s < 50; ++s)
        for (int k = 0; k < 40; ++k)
            doc->addValue("s" + std::to_string(s), "k" + std::to_string(k),
                          std::to_string(s * 100 + k));
    for (int s = 0; s < 50; s += 2) ASSERT_TRUE(doc->deleteStanza("s" + std::to_string(s)));
    for (int k = 0; k < 40; k += 3) ASSERT_TRUE(doc->deleteKey("s1", "k" + std::to_string(k)));
    EXPECT_EQ(doc->stanzaCount(), 25u);
    for (int s = 0; s < 50; ++s) {
        for (int k = 0; k < 40; ++k) {
            std::string_view v;
            bool present = s % 2 == 1 && !(s == 1 && k % 3 == 0);
            ASSERT_EQ(doc->value("s" + std::to_string(s), "k" + std::to_string(k), 0, &v), present)
                << s << " " << k;
            if (present) {
                EXPECT_EQ(v, std::to_string(s * 100 + k));
            }
        }
    }
    auto again = parsed(doc->serialize());
    EXPECT_EQ(again->keyCount("s1"), 26u);
    EXPECT_EQ(again->stanzaCount(), 25u);

    // The key order after deletions at the front, in the middle and at the end, then after
    // deleting the rest from the back and from the front, and adding again.
    const auto keysOf = [&doc] {
        const std::vector<std::string_view> names = doc->keyNames("s1");
        return std::vector<std::string>(names.begin(), names.end());
    };
    std::vector<std::string> left;
    for (int k = 0; k < 40; ++k)
        if (k % 3 != 0) left.push_back("k" + std::to_string(k));
    EXPECT_EQ(keysOf(), left);
    for (std::size_t i = left.size(); i-- > left.size() / 2;)
        ASSERT_TRUE(doc->deleteKey("s1", left[i]));
    for (std::size_t i = 0; i < left.size() / 2; ++i) ASSERT_TRUE(doc->deleteKey("s1", left[i]));
    EXPECT_TRUE(keysOf().empty());
    doc->addValue("s1", "new", "1");
    doc->addValue("s1", "newer", "2");
    ASSERT_TRUE(doc->deleteKey("s1", "new"));
    doc->addValue("s1", "newest", "3");
    EXPECT_EQ(keysOf(), (std::vector<std::string>{"newer", "newest"}));
}

TEST(StanzaDocumentTest, RefusesNamesAndValuesThatWouldNotReadBack) {
    EXPECT_EQ(Document::checkStanzaName("ok-name"), nullptr);
    EXPECT_EQ(Document::checkKey("LEGACY_x:y"), nullptr);
    EXPECT_EQ(Document::checkValue(""), nullptr);
    EXPECT_EQ(Document::checkValue("a = b # c"), nullptr);
    // "[a] # b]" reads back as the stanza "a" with a comment.
    const char* badNames[] = {"", "a\nb", " a", "a\r", "a] # b", "a]#b", "x]\t#"};
    for (const char* n : badNames) EXPECT_NE(Document::checkStanzaName(n), nullptr) << n;
    const char* badKeys[] = {"", "a=b", "#a", "[a", "a ", "a\nb"};
    for (const char* k : badKeys) EXPECT_NE(Document::checkKey(k), nullptr) << k;
    const char* badValues[] = {"a\nb", " a", "a\t", "x\r"};
    for (const char* v : badValues) EXPECT_NE(Document::checkValue(v), nullptr) << v;
}

TEST(StanzaDocumentTest, BooleanAndIntegerSyntax) {
    struct B {
        const char* text;
        bool ok, value;
    } bools[] = {{"yes", true, true},    {"TRUE", true, true}, {"On", true, true},
                 {"1", true, true},      {"no", true, false},  {"False", true, false},
                 {"off", true, false},   {"0", true, false},   {"", false, false},
                 {"yess", false, false}, {"2", false, false}};
    for (const B& b : bools) {
        SCOPED_TRACE(b.text);
        bool v = !b.value;
        EXPECT_EQ(ovz_stanza::parseBoolean(b.text, &v), b.ok);
        if (b.ok) {
            EXPECT_EQ(v, b.value);
        }
    }
    struct I {
        const char* text;
        bool ok;
        int value;
    } ints[] = {{"0", true, 0},
                {"1552", true, 1552},
                {"0x610", true, 0x610},
                {"0X1f", true, 31},
                {"-7", true, -7},
                {"+7", true, 7},
                {"2147483647", true, 2147483647},
                {"-2147483648", true, -2147483647 - 1},
                {"0xFFFFFFFF", true, -1},
                {"4294967296", false, 0},
                {"", false, 0},
                {"0x", false, 0},
                {"12a", false, 0},
                {"1 2", false, 0},
                {"-", false, 0},
                {"0x1g", false, 0}};
    for (const I& i : ints) {
        SCOPED_TRACE(i.text);
        int v = 12345;
        EXPECT_EQ(ovz_stanza::parseInteger(i.text, &v), i.ok);
        if (i.ok) {
            EXPECT_EQ(v, i.value);
        }
    }
}

}  // namespace
