// Shared pieces of the administrator's tool: how a failure travels to main, how messages are
// printed, and reading whole inputs.
#ifndef OVUTIL_TOOL_TOOL_H
#define OVUTIL_TOOL_TOOL_H

#include <functional>
#include <string>
#include <vector>

#include <ovmsg/messages.h>

namespace ovtool {

// Exit statuses of the tool.
enum ExitStatus : int { kOk = 0, kFailed = 1, kUsage = 2 };

// Message numbers of the tool's own messages (texts in the message catalogs).
enum : unsigned {
    kMsgUsage = OV_MSG_TOOL_USAGE,                   // "%s": what is wrong with the command line
    kMsgCannotRead = OV_MSG_TOOL_CANNOT_READ,        // "%s%s": file name, system error text
    kMsgNoValue = OV_MSG_TOOL_NO_VALUE,              // "%s%s%s": file, stanza, key
    kMsgNoStanza = OV_MSG_TOOL_NO_STANZA,            // "%s%s": file, stanza
    kMsgBadWire = OV_MSG_TOOL_BAD_WIRE,              // "%s%d": codec status text, status
    kMsgBadNumber = OV_MSG_TOOL_BAD_NUMBER,          // "%s": the argument
    kMsgUnknownNumber = OV_MSG_TOOL_UNKNOWN_NUMBER,  // "%s": the number
    kMsgCannotWrite = OV_MSG_TOOL_CANNOT_WRITE,      // "%s": system error text
    kMsgTooLarge = OV_MSG_TOOL_TOO_LARGE,            // "%s": input name
};

// One insert of a message: a text or a number.
struct Insert {
    Insert(const char* t) : text(t ? t : ""), isNumber(false) {}
    Insert(const std::string& t) : text(t), isNumber(false) {}
    Insert(long n) : number(n), isNumber(true) {}
    std::string text;
    long number = 0;
    bool isNumber;
};

// A failure that ends the command: the message number and its inserts, and the exit status.
struct Failure {
    unsigned number;
    std::vector<Insert> inserts;
    int status = kFailed;
};

// The catalog text of `number` with `inserts` filled in ("%s", "%d", "%n$s", "%n$d", "%%").
std::string formatMessage(unsigned number, const std::vector<Insert>& inserts);

// Writes "ovutil: 0xNNNNNNNN: text" to standard error.
void printError(unsigned number, const std::vector<Insert>& inserts);

// Reads all of `path` ("-" for standard input) as bytes; throws Failure when it cannot.
// Only regular files, pipes and terminals are read, so a device cannot feed it for ever.
std::string readInput(const std::string& path);

// Writes `bytes` to standard output; throws Failure when the write fails.
void writeOutput(const std::string& bytes);

// Runs a command body, turning Failure and the object library's exceptions into a message on
// standard error and the exit status kFailed (kUsage for a usage Failure).
int runGuarded(const std::function<int()>& body);

}  // namespace ovtool

#endif  // OVUTIL_TOOL_TOOL_H
