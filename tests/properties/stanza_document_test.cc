// The stanza document: byte-exact round trip, look-ups, and edits that touch only their lines.
#include "stanza_document.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using ovz_stanza::Document;

std::unique_ptr<Document> parsed(const std::string& text) {
  auto doc = std::make_unique<Document>();
  Document::ParseError err;
  EXPECT_TRUE(doc->parse(text, &err)) << "line " << err.line << ": " << (err.reason ? err.reason : "");
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
      "[a]\nk = v\r",               // a lone '\r' at the end is part of the last line
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
  EXPECT_EQ(doc->keyNames("server"), (std::vector<std::string_view>{"port", "url", "empty", "list", "other"}));
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
      {"k = v\n", 1},                        // key before any header
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
       "# file comment\n\n# about a\n[a]\n  one   =   uno   \n# about two\ntwo = 2\nmulti = x\nmulti = y\n\n# about b\n[b]\nk = v\n"},
      {"set on a multi-valued key keeps only the first line",
       [](Document& d) { d.setValue("a", "multi", "z"); },
       "# file comment\n\n# about a\n[a]\n  one   =   1   \n# about two\ntwo = 2\nmulti = z\n\n# about b\n[b]\nk = v\n"},
      {"new key goes after the stanza's last entry", [](Document& d) { d.setValue("a", "new", "n"); },
       "# file comment\n\n# about a\n[a]\n  one   =   1   \n# about two\ntwo = 2\nmulti = x\nmulti = y\nnew = n\n\n# about b\n[b]\nk = v\n"},
      {"added value follows the key's last value", [](Document& d) { d.addValue("a", "one", "1b"); },
       "# file comment\n\n# about a\n[a]\n  one   =   1   \none = 1b\n# about two\ntwo = 2\nmulti = x\nmulti = y\n\n# about b\n[b]\nk = v\n"},
      {"delete key takes its comment block", [](Document& d) { d.deleteKey("a", "two"); },
       "# file comment\n\n# about a\n[a]\n  one   =   1   \nmulti = x\nmulti = y\n\n# about b\n[b]\nk = v\n"},
      {"delete stanza takes its comments but not the next stanza's",
       [](Document& d) { d.deleteStanza("a"); },
       "# file comment\n\n# about b\n[b]\nk = v\n"},
      {"delete last stanza", [](Document& d) { d.deleteStanza("b"); },
       "# file comment\n\n# about a\n[a]\n  one   =   1   \n# about two\ntwo = 2\nmulti = x\nmulti = y\n\n"},
      {"new stanza is appended after a blank line",
       [](Document& d) { d.setValue("c", "key", ""); },
       "# file comment\n\n# about a\n[a]\n  one   =   1   \n# about two\ntwo = 2\nmulti = x\nmulti = y\n\n# about b\n[b]\nk = v\n\n[c]\nkey =\n"},
      {"stanza comment goes directly above the header, below its block",
       [](Document& d) { d.addStanzaComment("b", "#\n# Meta stanza\n#"); },
       "# file comment\n\n# about a\n[a]\n  one   =   1   \n# about two\ntwo = 2\nmulti = x\nmulti = y\n\n# about b\n#\n# Meta stanza\n#\n[b]\nk = v\n"},
      {"entry comment lines without '#' get one",
       [](Document& d) { d.addEntryComment("a", "multi", "first\n\n  # kept\nlast\n"); },
       "# file comment\n\n# about a\n[a]\n  one   =   1   \n# about two\ntwo = 2\n# first\n#\n  # kept\n# last\nmulti = x\nmulti = y\n\n# about b\n[b]\nk = v\n"},
      {"file comments go on top, in call order",
       [](Document& d) {
         d.addFileComment("# one");
         d.addFileComment("two");
       },
       "# one\n# two\n\n# file comment\n\n# about a\n[a]\n  one   =   1   \n# about two\ntwo = 2\nmulti = x\nmulti = y\n\n# about b\n[b]\nk = v\n"},
      {"removing one value leaves the others", [](Document& d) { d.deleteValueAt("a", "multi", 0); },
       "# file comment\n\n# about a\n[a]\n  one   =   1   \n# about two\ntwo = 2\nmulti = y\n\n# about b\n[b]\nk = v\n"},
      {"removing the last value removes the key and its comments",
       [](Document& d) { d.deleteValueAt("a", "two", 0); },
       "# file comment\n\n# about a\n[a]\n  one   =   1   \nmulti = x\nmulti = y\n\n# about b\n[b]\nk = v\n"},
      {"empty value becomes non-empty", [](Document& d) {
         d.setValue("b", "k", "");
         d.setValue("b", "k", "w");
       },
       "# file comment\n\n# about a\n[a]\n  one   =   1   \n# about two\ntwo = 2\nmulti = x\nmulti = y\n\n# about b\n[b]\nk = w\n"},
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
      doc->addValue("s" + std::to_string(s), "k" + std::to_string(k), std::to_string(s * 100 + k));
  for (int s = 0; s < 50; s += 2) ASSERT_TRUE(doc->deleteStanza("s" + std::to_string(s)));
  for (int k = 0; k < 40; k += 3) ASSERT_TRUE(doc->deleteKey("s1", "k" + std::to_string(k)));
  EXPECT_EQ(doc->stanzaCount(), 25u);
  for (int s = 0; s < 50; ++s) {
    for (int k = 0; k < 40; ++k) {
      std::string_view v;
      bool present = s % 2 == 1 && !(s == 1 && k % 3 == 0);
      ASSERT_EQ(doc->value("s" + std::to_string(s), "k" + std::to_string(k), 0, &v), present) << s << " " << k;
      if (present) {
        EXPECT_EQ(v, std::to_string(s * 100 + k));
      }
    }
  }
  auto again = parsed(doc->serialize());
  EXPECT_EQ(again->keyCount("s1"), 26u);
  EXPECT_EQ(again->stanzaCount(), 25u);
}

TEST(StanzaDocumentTest, RefusesNamesAndValuesThatWouldNotReadBack) {
  EXPECT_EQ(Document::checkStanzaName("ok-name"), nullptr);
  EXPECT_EQ(Document::checkKey("LEGACY_x:y"), nullptr);
  EXPECT_EQ(Document::checkValue(""), nullptr);
  EXPECT_EQ(Document::checkValue("a = b # c"), nullptr);
  const char* badNames[] = {"", "a\nb", " a", "a\r"};
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
  } bools[] = {{"yes", true, true}, {"TRUE", true, true}, {"On", true, true}, {"1", true, true},
               {"no", true, false}, {"False", true, false}, {"off", true, false}, {"0", true, false},
               {"", false, false}, {"yess", false, false}, {"2", false, false}};
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
  } ints[] = {{"0", true, 0},           {"1552", true, 1552},      {"0x610", true, 0x610},
              {"0X1f", true, 31},       {"-7", true, -7},          {"+7", true, 7},
              {"2147483647", true, 2147483647}, {"-2147483648", true, -2147483647 - 1},
              {"0xFFFFFFFF", true, -1}, {"4294967296", false, 0},  {"", false, 0},
              {"0x", false, 0},         {"12a", false, 0},         {"1 2", false, 0},
              {"-", false, 0},          {"0x1g", false, 0}};
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
