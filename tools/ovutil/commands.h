// The subcommands of the administrator's tool. Each returns the exit status, or throws
// Failure or an exception of the object library, which main turns into a message.
#ifndef OVUTIL_TOOL_COMMANDS_H
#define OVUTIL_TOOL_COMMANDS_H

#include <string>
#include <vector>

namespace ovtool {

enum class CfgWrite { kSet, kAdd, kDelete };

// Prints every value of stanza/key, one per line, as the file holds them.
int cfgGet(const std::string& file, const std::string& stanza, const std::string& key);
// set: the key gets this one value; add: one more value; delete: the first equal value, or
// the whole key when `value` is null. The file is stored back crash-safe.
int cfgWrite(CfgWrite op, const std::string& file, const std::string& stanza,
             const std::string& key, const std::string* value);
// Prints the stanzas (or the one named) with their "key = value" lines.
int cfgList(const std::string& file, const std::string* stanza);
// Loads the file; invalid data is reported with file and line.
int cfgCheck(const std::string& file);
// Shows, as a unified diff, what loading the file in a product program changes; with
// `dryRun` the file itself is left alone.
int cfgMigrate(const std::string& file, bool dryRun);

// The texts of message numbers (hexadecimal, with or without "0x").
int msgShow(const std::vector<std::string>& numbers, bool utf8);
// The install path table after start-up, "key = value" per line, sorted by key.
int pathsShow();
// Decodes a wire object (DER of a name/value map) and prints its masked trace.
int derDump(const std::string& input);
// Base64 of standard input to standard output.
int b64Encode();
int b64Decode();
// The reversible value encoder: prints util_encode / util_decode of `value`.
int valueEncode(const std::string& value);
int valueDecode(const std::string& value);

}  // namespace ovtool

#endif  // OVUTIL_TOOL_COMMANDS_H
