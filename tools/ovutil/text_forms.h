// Text forms of the tool's output and input for scripts: JSON strings of arbitrary bytes, and
// the words of an edit script quoted as a POSIX shell quotes them.
#ifndef OVUTIL_TOOL_TEXT_FORMS_H
#define OVUTIL_TOOL_TEXT_FORMS_H

#include <string>
#include <vector>

namespace ovtool {

// `bytes` as a JSON string, quotes included. Valid UTF-8 is copied as it is, apart from '"',
// '\' and the control characters below 0x20 and 0x7F, which are escaped. A byte that is not
// part of a valid UTF-8 sequence (0xXX) is written as the lone surrogate escape \udcXX, the
// convention of surrogate-escaped text: a parser that keeps lone surrogates gives the bytes
// back exactly (in Python, json.loads and then .encode("utf-8", "surrogateescape")).
std::string jsonString(const std::string& bytes);

// One command of an edit script: its words and the line it starts on (1-based).
struct ScriptCommand {
    unsigned line = 0;
    std::vector<std::string> words;
};

// A script line that cannot be split into words.
struct ScriptSyntaxError {
    unsigned line;
    std::string reason;
};

// Splits `text` into commands, one per line. Words are separated by blanks (spaces, tabs) and
// quoted as a POSIX shell quotes them: '...' keeps every byte literally; "..." keeps every
// byte but a backslash, which escapes a following $, `, ", \ or line break and is otherwise
// kept; outside quotes a backslash keeps the next byte literally, and a backslash before a
// line break joins the lines. A word that starts with an unquoted # starts a comment that
// runs to the end of the line; blank and comment lines give no command. Nothing is expanded:
// $ and ` are ordinary bytes. Throws ScriptSyntaxError for an unclosed quote and for a
// backslash at the very end.
std::vector<ScriptCommand> splitScript(const std::string& text);

}  // namespace ovtool

#endif  // OVUTIL_TOOL_TEXT_FORMS_H
