// The subcommands of the administrator's tool. Each returns the exit status, or throws
// Failure or an exception of the object library, which main turns into a message.
#ifndef OVUTIL_TOOL_COMMANDS_H
#define OVUTIL_TOOL_COMMANDS_H

#include <optional>
#include <string>
#include <vector>

namespace ovtool {

// How names and values are printed for scripts.
enum class OutputForm {
    kLines,  // one per line, as the file holds them
    kNul,    // each followed by a NUL byte (-z)
    kShell,  // shell assignments NAME='value' (--shell)
    kJson,   // one JSON text (--json)
};

// Options of the commands that read a file.
struct ReadOptions {
    OutputForm form = OutputForm::kLines;
    std::string shellPrefix;                  // --prefix: in front of every shell variable name
    std::optional<std::string> defaultValue;  // get --default: printed when the key is absent
};

// Options of the commands that write a file.
struct WriteOptions {
    bool create = false;     // a file that does not exist starts empty
    bool missingOk = false;  // deleting what is not there (or from no file) is success
    bool verbose = false;    // say on standard error whether the file was written
    bool dryRun = false;     // change nothing; report what the command would do
    bool diff = false;       // print the unified diff of the file's change
    bool json = false;       // print the result as one JSON object
    std::optional<std::string> backupSuffix;  // before a store, copy the file to FILE+suffix
    bool unique = false;                      // add: nothing when the key holds the value already
    bool ifAbsent = false;                    // set: nothing when the key exists already
    // How long to wait for the file's edit lock, in milliseconds, before failing.
    unsigned waitMs = 30000;
};

// Prints every value of stanza/key in file order.
// FILE "-" reads standard input in every reading command.
int cfgGet(const std::string& file, const std::string& stanza, const std::string& key,
           const ReadOptions& options);
// The names of the stanzas in file order, or of the keys of one stanza (`stanza` not null) in
// the order of their first line.
int cfgNames(const std::string& file, const std::string* stanza, const ReadOptions& options);
// Prints the stanzas (or the one named) with their "key = value" lines.
int cfgList(const std::string& file, const std::string* stanza, const ReadOptions& options);

// set: the key holds exactly these values, in this order; add: one more value.
int cfgSet(const std::string& file, const std::string& stanza, const std::string& key,
           const std::vector<std::string>& values, const WriteOptions& options);
int cfgAdd(const std::string& file, const std::string& stanza, const std::string& key,
           const std::string& value, const WriteOptions& options);
// Removes the first value equal to `*value`, or the whole key when `value` is null.
int cfgDelete(const std::string& file, const std::string& stanza, const std::string& key,
              const std::string* value, const WriteOptions& options);
// Removes a stanza with its keys and comments.
int cfgDeleteStanza(const std::string& file, const std::string& stanza,
                    const WriteOptions& options);
// Gives a stanza another name where it stands.
int cfgRenameStanza(const std::string& file, const std::string& stanza, const std::string& name,
                    const WriteOptions& options);

// Applies the edits of a script (`script` names a file, or "-" standard input), one writing
// command per line, all under one edit lock and with one store, or none of them.
int cfgApply(const std::string& file, const std::string& script, const WriteOptions& options);
// Sets every key of a stanza-file fragment (a file, or "-") to the values it has there.
int cfgMerge(const std::string& file, const std::string& fragment, const WriteOptions& options);

// Reports every invalid line as "file:line: reason" on standard error; 1 when there is one.
int cfgCheck(const std::string& file);
// Shows, as a unified diff, what loading the file in a product program changes; with
// `dryRun` the file itself is left alone.
int cfgMigrate(const std::string& file, bool dryRun, bool json, unsigned waitMs);

// The texts of message numbers (hexadecimal, with or without "0x").
int msgShow(const std::vector<std::string>& numbers, bool utf8);
// The install path table after start-up, "key = value" per line, sorted by key.
int pathsShow();
// Decodes a wire object (DER of a name/value map) and prints its masked trace.
int derDump(const std::string& input);
// Base64 of standard input to standard output, in blocks: memory stays the same whatever
// the input's size.
int b64Encode();
int b64Decode();
// The reversible value encoder: prints util_encode / util_decode of `value`.
int valueEncode(const std::string& value);
int valueDecode(const std::string& value);

}  // namespace ovtool

#endif  // OVUTIL_TOOL_COMMANDS_H
