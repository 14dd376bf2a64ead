// Shared pieces of the administrator's tool: how a failure travels to main, how messages are
// printed, and reading whole inputs.
#ifndef OVUTIL_TOOL_TOOL_H
#define OVUTIL_TOOL_TOOL_H

#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <ovmsg/messages.h>

class ZException_6_0;

namespace ovtool {

// Exit statuses of the tool: kNotFound when a key, value or stanza asked for is not there
// (the file itself was read), so that scripts can tell it from a failure.
enum ExitStatus : int { kOk = 0, kFailed = 1, kUsage = 2, kNotFound = 3 };

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
    kMsgTooLarge = OV_MSG_TOOL_TOO_LARGE,            // "%s%s": input name, its limit in bytes
    kMsgCannotDecode = OV_MSG_TOOL_CANNOT_DECODE,    // "%s": the value
    kMsgNoScratch = OV_MSG_TOOL_NO_SCRATCH,          // "%s%s": directory, system error text
    kMsgCannotCreate = OV_MSG_TOOL_CANNOT_CREATE,    // "%s%s": file name, system error text
    kMsgStanzaExists = OV_MSG_TOOL_STANZA_EXISTS,    // "%s%s": file, stanza
    kMsgInvalidLines = OV_MSG_TOOL_INVALID_LINES,    // "%s%d": file, number of lines
    kMsgShellName = OV_MSG_TOOL_SHELL_NAME,          // "%s%s%s": key, key, stanza
    kMsgScriptSyntax = OV_MSG_TOOL_SCRIPT_SYNTAX,    // "%s%d%s": script, line, reason
    kMsgScriptLine = OV_MSG_TOOL_SCRIPT_LINE,        // "%s%d%s": script, line, file
    kMsgLockWait = OV_MSG_TOOL_LOCK_WAIT,            // "%s%s": file, holding process
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

// The message under which the product logs `e` (the number of its kind, or the generic
// exception message for a kind without one of its own) and its inserts, typed as the kind's
// format says.
Failure exceptionFailure(const ZException_6_0& e);

// Reads all of `path` ("-" for standard input) as bytes; throws Failure when it cannot, and
// kMsgTooLarge as soon as the input turns out to hold more than `limit` bytes: a regular file
// by its size before anything is read, a pipe once it has given `limit` + 1 bytes. Of named
// files only regular ones are read, so a FIFO or a device cannot feed it for ever.
std::string readInput(const std::string& path, size_t limit);
// The same for a descriptor that is open already (not closed); `name` names it in messages.
std::string readDescriptor(int fd, const std::string& name, size_t limit);

// Writes `bytes` to standard output; throws Failure when the write fails.
void writeOutput(const std::string& bytes);

// Standard output written as it is produced, in pieces of 64 KiB (through stdio, after what
// was written there before): a long listing is never held whole. put and finish throw Failure (kMsgCannotWrite) when a write fails; what is
// still buffered when the object goes without finish() is dropped, so that a command that
// fails half-way writes no more than it had written when it failed.
class OutputStream {
public:
    OutputStream() = default;
    OutputStream(const OutputStream&) = delete;
    OutputStream& operator=(const OutputStream&) = delete;

    void put(std::string_view bytes) {
        if (bytes.size() <= sizeof buffer_ - used_) {
            std::memcpy(buffer_ + used_, bytes.data(), bytes.size());
            used_ += bytes.size();
        } else {
            spill(bytes);
        }
    }
    void put(char c) {
        if (used_ == sizeof buffer_) flush();
        buffer_[used_++] = c;
    }
    // Writes what is buffered and flushes standard output.
    void finish();

private:
    void flush();
    void spill(std::string_view bytes);
    char buffer_[65536];
    size_t used_ = 0;
};

// What is wrong with `text` as the seconds of --wait: "" for a finite number from 0 to 86400
// (a day), else the reason (NaN and infinities are refused).
std::string waitSecondsProblem(std::string& text);

// What a write tells the edit lock to do once it has waited a second for `file`: say on
// standard error that it waits, and for which process (OVStanzaFileEditLock::WaitNotice).
std::function<void(long)> lockWaitNotice(const std::string& file);

// The name an edit loads and stores: `given` when it names the file `held` (the edit lock's
// resolved path) without a symbolic link on the way, so that messages name the file as the
// user did; else `held`, so that a link switched during the edit is not followed again.
std::string editTarget(const std::string& given, const std::string& held);

// Runs a command body, turning Failure and the object library's exceptions into a message on
// standard error and the exit status kFailed (kUsage for a usage Failure).
int runGuarded(const std::function<int()>& body);

}  // namespace ovtool

#endif  // OVUTIL_TOOL_TOOL_H
