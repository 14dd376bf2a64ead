// Java properties files: separators, comments, escapes, continuation lines, the key filter.
#include <ovz/properties.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace {

class JavaPropertiesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* base = std::getenv("TMPDIR");
    file_ = std::string(base && *base ? base : "/tmp") + "/ovz-java-XXXXXX";
    int fd = mkstemp(file_.data());
    ASSERT_GE(fd, 0);
    close(fd);
  }
  void TearDown() override { unlink(file_.c_str()); }
  void write(const std::string& text) {
    std::ofstream out(file_, std::ios::binary | std::ios::trunc);
    out << text;
  }
  std::string file_;
};

TEST_F(JavaPropertiesTest, ParsesSeparatorsEscapesAndContinuations) {
  struct Case {
    const char* name;
    const char* text;
    const char* key;
    const char* value;  // null: the key must be absent
  } cases[] = {
      {"equals", "selvan_common_dir=/var/common\n", "selvan_common_dir", "/var/common"},
      {"colon with blanks", "  key :  value  \n", "key", "value  "},
      {"white space separator", "key value with spaces\n", "key", "value with spaces"},
      {"blank then equals", "key   =   v\n", "key", "v"},
      {"second separator is value", "key==v\n", "key", "=v"},
      {"empty value", "key=\n", "key", ""},
      {"key alone", "key\n", "key", ""},
      {"hash comment", "#key=v\n", "#key", nullptr},
      {"bang comment", "  ! key=v\n", "key", nullptr},
      {"escaped separator in key", "a\\=b\\:c\\ d=e\n", "a=b:c d", "e"},
      {"control escapes", "k=\\t\\n\\r\\f\n", "k", "\t\n\r\f"},
      {"unicode escape", "k=caf\\u00e9 \\u20AC\n", "k", "caf\xc3\xa9 \xe2\x82\xac"},
      {"surrogate pair", "k=\\ud83d\\ude00\n", "k", "\xf0\x9f\x98\x80"},
      {"lone surrogate", "k=\\ud83dx\n", "k", "\xef\xbf\xbdx"},
      {"short unicode escape", "k=\\u12\n", "k", "u12"},
      {"other escape is the character", "k=\\q\\\\\n", "k", "q\\"},
      {"continuation", "k=one \\\n    two\n", "k", "one two"},
      {"continuation with CRLF", "k=one\\\r\n  two\\\r  three\r\n", "k", "onetwothree"},
      {"even backslashes end the line", "k=a\\\\\nb=c\n", "k", "a\\"},
      {"continued line is no comment", "k=a\\\n#b\n", "k", "a#b"},
      {"last one wins", "k=1\nk=2\n", "k", "2"},
      {"no final line break", "k=v", "k", "v"},
      {"backslash at the end of the file", "k=v\\", "k", "v"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write(c.text);
    ZJavaProperties_6_0 props;
    ASSERT_EQ(props.load(file_.c_str()), 1);
    ZUTF8String_6_0 out("stale");
    if (c.value) {
      EXPECT_EQ(props.getValue(c.key, out), 1);
      EXPECT_EQ(std::string(out.c_str()), c.value);
    } else {
      EXPECT_EQ(props.getValue(c.key, out), 0);
      EXPECT_TRUE(out.isEmpty());
    }
  }
}

TEST_F(JavaPropertiesTest, KeyArgumentKeepsOnlyThatKey) {
  write("a=1\nselvan_common_dir=/x\nb=2\n");
  ZJavaProperties_6_0 props;
  ASSERT_EQ(props.load(file_.c_str(), "selvan_common_dir"), 1);
  EXPECT_EQ(props.size(), 1u);
  ZUTF8String_6_0 v;
  EXPECT_EQ(props.getValue("selvan_common_dir", v), 1);
  EXPECT_STREQ(v.c_str(), "/x");
  EXPECT_EQ(props.getValue("a", v), 0);
  ASSERT_EQ(props.load(file_.c_str()), 1);
  EXPECT_EQ(props.size(), 3u);
}

TEST_F(JavaPropertiesTest, UnreadableFileReturnsZeroAndKeepsTheContents) {
  write("k=v\n");
  ZJavaProperties_6_0 props;
  ASSERT_EQ(props.load(file_.c_str()), 1);
  EXPECT_EQ(props.load((file_ + ".missing").c_str()), 0);
  EXPECT_EQ(props.load("/"), 0);
  EXPECT_EQ(props.load(nullptr), 0);
  ZLCString_6_0 v;
  EXPECT_EQ(props.getValue("k", v), 1);
  EXPECT_STREQ(v.c_str(), "v");
}

}  // namespace
