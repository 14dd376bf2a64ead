// JSON strings of arbitrary bytes and the words of edit scripts, as the tool writes and reads
// them.
#include "text_forms.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using ovtool::jsonString;
using ovtool::ScriptCommand;
using ovtool::ScriptSyntaxError;
using ovtool::splitScript;

TEST(JsonString, EscapesWhatJsonNeedsAndCarriesOtherBytesAsSurrogateEscapes) {
    struct Case {
        std::string bytes, json;
    } cases[] = {
        {"", R"("")"},
        {"plain = text", R"("plain = text")"},
        {"a\"b\\c", R"("a\"b\\c")"},
        {"\n\t\r\x01\x1f\x7f", R"("\n\t\r\u0001\u001f\u007f")"},
        {std::string("\0x", 2), R"("\u0000x")"},
        {"Gr\xc3\xb6\xc3\x9f"
         "e \xe2\x82\xac \xf0\x9f\x98\x80",
         "\"Gr\xc3\xb6\xc3\x9f"
         "e \xe2\x82\xac \xf0\x9f\x98\x80\""},
        {"\xff", R"("\udcff")"},
        {"\xc0\x80", R"("\udcc0\udc80")"},                      // overlong NUL
        {"\xe0\x80\xaf", R"("\udce0\udc80\udcaf")"},            // overlong '/'
        {"\xed\xa0\x80", R"("\udced\udca0\udc80")"},            // a surrogate in UTF-8
        {"\xf4\x90\x80\x80", R"("\udcf4\udc90\udc80\udc80")"},  // above U+10FFFF
        {"\xe2\x82", R"("\udce2\udc82")"},                      // cut short at the end
        {"\xe2\x82x", R"("\udce2\udc82x")"},                    // cut short before ASCII
        {"\x80\xc3\xa9", "\"\\udc80\xc3\xa9\""},                // a stray continuation, then valid
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        EXPECT_EQ(jsonString(c.bytes), c.json);
    }
}

std::vector<std::vector<std::string>> words(const std::vector<ScriptCommand>& commands) {
    std::vector<std::vector<std::string>> out;
    for (const ScriptCommand& c : commands) out.push_back(c.words);
    return out;
}

TEST(SplitScript, QuotesAsAPosixShellDoes) {
    using W = std::vector<std::vector<std::string>>;
    struct Case {
        std::string script;
        W commands;
        std::vector<unsigned> lines;
    } cases[] = {
        {"", {}, {}},
        {"\n  \n# only a comment\n", {}, {}},
        {"set s k v", {{"set", "s", "k", "v"}}, {1}},
        {"  set\ts  k   v  \n", {{"set", "s", "k", "v"}}, {1}},
        {"add s k 'h 2'", {{"add", "s", "k", "h 2"}}, {1}},
        {"add s k 'a\\b\"c'", {{"add", "s", "k", "a\\b\"c"}}, {1}},
        {R"(add s k "say \"hi\" \\ \$x \`y\` \n")",
         {{"add", "s", "k", "say \"hi\" \\ $x `y` \\n"}},
         {1}},
        {R"(add s k it\'s\ plain)", {{"add", "s", "k", "it's plain"}}, {1}},
        {"add s k ''", {{"add", "s", "k", ""}}, {1}},
        {"add s k a''b\"\"c", {{"add", "s", "k", "abc"}}, {1}},
        {"add s k $HOME", {{"add", "s", "k", "$HOME"}}, {1}},
        {"set s k a # comment", {{"set", "s", "k", "a"}}, {1}},
        {"set s k a#b", {{"set", "s", "k", "a#b"}}, {1}},
        {"set s k '#'", {{"set", "s", "k", "#"}}, {1}},
        {"set s k a \\\n  b\ndel s k\n", {{"set", "s", "k", "a", "b"}, {"del", "s", "k"}}, {1, 3}},
        {"set s k 'x\ny'\ndel s k", {{"set", "s", "k", "x\ny"}, {"del", "s", "k"}}, {1, 3}},
        {"\n\nset s k v\n\ndel s k\n", {{"set", "s", "k", "v"}, {"del", "s", "k"}}, {3, 5}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        std::vector<ScriptCommand> got = splitScript(c.script);
        EXPECT_EQ(words(got), c.commands);
        std::vector<unsigned> lines;
        for (const ScriptCommand& g : got) lines.push_back(g.line);
        EXPECT_EQ(lines, c.lines);
    }
}

TEST(SplitScript, RefusesUnclosedQuotesAndATrailingBackslashNamingTheLine) {
    struct Case {
        std::string script;
        unsigned line;
        std::string reason;
    } cases[] = {
        {"set s k 'open", 1, "a single quote is not closed"},
        {"set s k v\n\nset s k \"open\nmore", 3, "a double quote is not closed"},
        {"set s k \"\\", 1, "a double quote is not closed"},
        {"set s k v \\", 1, "a backslash ends the script"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        try {
            splitScript(c.script);
            ADD_FAILURE() << "no refusal";
        } catch (const ScriptSyntaxError& e) {
            EXPECT_EQ(e.line, c.line);
            EXPECT_EQ(e.reason, c.reason);
        }
    }
}

}  // namespace
