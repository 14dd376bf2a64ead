// ovmsggen: what it accepts from a definition file and the names it gives the numbers.
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

// Runs the generator on `definitions` in a directory of its own and keeps what it wrote.
class Generator : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::path(::testing::TempDir()) / "ovmsggen_XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    // The exit status of the generator (-1 when it did not exit normally).
    int Run(const std::string& definitions) {
        const fs::path def = dir_ / "messages.def";
        std::ofstream(def, std::ios::binary) << definitions;
        const std::string command = std::string(OVMSGGEN) + " " + def.string() + " " +
                                    dir_.string() + " " + (dir_ / "defaults.cc").string() + " " +
                                    (dir_ / "messages.h").string() + " 2>" +
                                    (dir_ / "err").string();
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string read(const char* name) const {
        std::ifstream in(dir_ / name, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }

    fs::path dir_;
};

const char kCatalog[] = "catalog 0x12345 ovtest\n";

TEST_F(Generator, NamesEveryNumberFromTheFileOrFromItsCatalog) {
    ASSERT_EQ(Run(std::string(kCatalog) + "0x12345001 OV_MSG_TEST_NAMED A named message %s.\n"
                                          "0x123450A2 A message without a name.\n"),
              0)
        << read("err");
    const std::string header = read("messages.h");
    EXPECT_NE(header.find("#define OV_MSG_TEST_NAMED 0x12345001u /* A named message %s. */\n"),
              std::string::npos)
        << header;
    EXPECT_NE(
        header.find("#define OV_MSG_OVTEST_0A2 0x123450A2u /* A message without a name. */\n"),
        std::string::npos)
        << header;
    // The name is not part of the text.
    const std::string source = read("ovtest.msg");
    EXPECT_NE(source.find("1 \"A named message %s.\"\n"), std::string::npos) << source;
    EXPECT_NE(source.find("162 \"A message without a name.\"\n"), std::string::npos) << source;
}

TEST_F(Generator, KeepsACommentInTheHeaderClosedWhereTheTextSaysStarSlash) {
    ASSERT_EQ(Run(std::string(kCatalog) + "0x12345001 OV_MSG_TEST_PATTERN Files matching */x.\n"),
              0)
        << read("err");
    EXPECT_NE(read("messages.h").find("/* Files matching * /x. */"), std::string::npos);
}

TEST_F(Generator, RefusesNamesThatClashOrAreMalformed) {
    const struct {
        const char* what;
        const char* lines;
    } cases[] = {
        {"one name twice", "0x12345001 OV_MSG_TEST_A One.\n0x12345002 OV_MSG_TEST_A Two.\n"},
        {"a given name equal to a derived one",
         "0x12345001 OV_MSG_OVTEST_002 One.\n0x12345002 Two.\n"},
        {"lower case in a name", "0x12345001 OV_MSG_Test One.\n"},
        {"a name without a text", "0x12345001 OV_MSG_TEST_A\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Run(std::string(kCatalog) + c.lines), 1);
        EXPECT_FALSE(read("err").empty());
    }
}

// An inserts column declares what the logging calls pass; the header lists the declared
// columns by number, and the column is not part of the text.
TEST_F(Generator, ListsTheDeclaredInsertsOfMessages) {
    ASSERT_EQ(Run(std::string(kCatalog) + "0x12345002 OV_MSG_TEST_B {%s%d} File %s, line %d.\n"
                                          "0x12345001 {%d%s} Reordered: %2$s at %1$d.\n"
                                          "0x12345003 {} No inserts, 100%% sure.\n"
                                          "0x12345004 Undeclared %s.\n"),
              0)
        << read("err");
    const std::string header = read("messages.h");
    EXPECT_NE(header.find("#define OV_MSG_INSERTS_TABLE \\\n    {0x12345001u, \"%d%s\"},\\\n"
                          "    {0x12345002u, \"%s%d\"},\\\n    {0x12345003u, \"\"}\n"),
              std::string::npos)
        << header;
    EXPECT_NE(read("ovtest.msg").find("2 \"File %s, line %d.\"\n"), std::string::npos);
}

TEST_F(Generator, RefusesAnInsertsColumnTheTextDoesNotFollow) {
    const struct {
        const char* what;
        const char* line;
    } cases[] = {
        {"a missing insert", "0x12345001 {%s%s} Only %s.\n"},
        {"an extra insert", "0x12345001 {%s} Both %s and %s.\n"},
        {"another type", "0x12345001 {%d} Text %s.\n"},
        {"a positional gap", "0x12345001 {%s%s} Second %2$s only.\n"},
        {"mixed positional and sequential", "0x12345001 {%s%s} %1$s and %s.\n"},
        {"another conversion", "0x12345001 {%s} Hex %x of %s.\n"},
        {"a malformed column", "0x12345001 {%q} Text.\n"},
        {"an unclosed column", "0x12345001 {%s Text %s.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Run(std::string(kCatalog) + c.line), 1);
        EXPECT_NE(read("err").find("messages.def:2"), std::string::npos) << read("err");
    }
}

// The texts go into the catalogs and the compiled-in defaults as they are, so only valid
// UTF-8 in its shortest form may pass.
TEST_F(Generator, AcceptsOnlyValidUtf8Texts) {
    const struct {
        const char* what;
        const char* text;
        int status;
    } cases[] = {
        {"two, three and four bytes", "M\xC3\xBCller \xE2\x82\xAC \xF0\x9F\x98\x80", 0},
        {"overlong slash", "a \xC0\xAF b", 1},
        {"overlong three-byte form", "a \xE0\x80\xAF b", 1},
        {"overlong four-byte form", "a \xF0\x80\x80\xAF b", 1},
        {"surrogate", "a \xED\xA0\x80 b", 1},
        {"above U+10FFFF", "a \xF4\x90\x80\x80 b", 1},
        {"stray continuation byte", "a \x80 b", 1},
        {"character cut short", "a \xE2\x82", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Run(std::string(kCatalog) + "0x12345001 " + c.text + "\n"), c.status)
            << read("err");
        if (c.status == 0) {
            EXPECT_NE(read("ovtest.msg").find(std::string("1 \"") + c.text + "\"\n"),
                      std::string::npos);
        }
    }
}

}  // namespace
