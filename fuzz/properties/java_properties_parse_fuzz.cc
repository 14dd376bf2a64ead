// Any bytes parse. The entries must equal those of a small reference parser written here
// from the format's rules (natural lines first, then logical lines, then key, separator and
// escapes), and writing the entries back as "key=value" lines with escapes must read back
// as the very same entries.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "java_properties_parser.h"

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

void check(bool ok) {
  if (!ok) __builtin_trap();
}

bool isWhite(char c) { return c == ' ' || c == '\t' || c == '\f'; }

// ---- reference parser --------------------------------------------------------------------

// Natural lines: the text between line terminators ("\n", "\r" or "\r\n"). A text that ends
// in a terminator has no empty last line.
std::vector<std::string> naturalLines(std::string_view text) {
  std::vector<std::string> lines;
  std::string current;
  bool open = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(current);
      current.clear();
      open = false;
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      current.push_back(c);
      open = true;
    }
  }
  if (open) lines.push_back(current);
  return lines;
}

std::string dropLeadingWhite(const std::string& s) {
  size_t b = 0;
  while (b < s.size() && isWhite(s[b])) ++b;
  return s.substr(b);
}

bool continues(const std::string& s) {
  size_t run = 0;
  for (size_t i = s.size(); i > 0 && s[i - 1] == '\\'; --i) ++run;
  return run % 2 == 1;
}

// Logical lines: blank and comment lines dropped; a line that ends in an odd number of
// backslashes loses that last backslash and goes on with the next natural line, whose
// leading white space is dropped (whatever that line holds).
std::vector<std::string> logicalLines(std::string_view text) {
  std::vector<std::string> natural = naturalLines(text);
  std::vector<std::string> out;
  for (size_t i = 0; i < natural.size(); ++i) {
    std::string line = dropLeadingWhite(natural[i]);
    if (line.empty() || line[0] == '#' || line[0] == '!') continue;
    while (continues(line)) {
      line.pop_back();
      if (i + 1 == natural.size()) break;
      line += dropLeadingWhite(natural[++i]);
    }
    out.push_back(line);
  }
  return out;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool fourHex(std::string_view s, size_t at, uint32_t* out) {
  if (s.size() < at + 4) return false;
  uint32_t v = 0;
  for (size_t k = at; k < at + 4; ++k) {
    int d = hexValue(s[k]);
    if (d < 0) return false;
    v = v * 16 + static_cast<uint32_t>(d);
  }
  *out = v;
  return true;
}

void putUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Escapes: \t \n \r \f; \uXXXX as UTF-8 (a surrogate pair written as two escapes is one
// character, a lone surrogate U+FFFD, a \u without four hex digits the letter u); a
// backslash before anything else stands for that character; a backslash at the very end
// stands for nothing.
std::string unescape(std::string_view s) {
  std::string out;
  size_t i = 0;
  while (i < s.size()) {
    if (s[i] != '\\') {
      out += s[i++];
      continue;
    }
    if (i + 1 == s.size()) break;
    char c = s[i + 1];
    i += 2;
    if (c == 't') {
      out += '\t';
    } else if (c == 'n') {
      out += '\n';
    } else if (c == 'r') {
      out += '\r';
    } else if (c == 'f') {
      out += '\f';
    } else if (c != 'u') {
      out += c;
    } else {
      uint32_t unit;
      if (!fourHex(s, i, &unit)) {
        out += 'u';
        continue;
      }
      i += 4;
      uint32_t low;
      if (unit >= 0xD800 && unit < 0xDC00 && s.substr(i, 2) == "\\u" && fourHex(s, i + 2, &low) && low >= 0xDC00 &&
          low < 0xE000) {
        i += 6;
        putUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
      } else {
        putUtf8(out, unit >= 0xD800 && unit < 0xE000 ? 0xFFFD : unit);
      }
    }
  }
  return out;
}

// A logical line: the key runs to the first '=', ':' or white space that no backslash
// escapes; white space follows, and one '=' or ':' within it when the key ended at white
// space; the value is the rest.
std::pair<std::string, std::string> entryOf(const std::string& line) {
  size_t k = 0;
  while (k < line.size()) {
    char c = line[k];
    if (c == '\\') {
      k += 2;
      continue;
    }
    if (c == '=' || c == ':' || isWhite(c)) break;
    ++k;
  }
  if (k > line.size()) k = line.size();
  size_t v = k;
  bool separator = false;
  if (v < line.size() && (line[v] == '=' || line[v] == ':')) {
    separator = true;
    ++v;
  }
  for (; v < line.size(); ++v) {
    if (isWhite(line[v])) continue;
    if (!separator && (line[v] == '=' || line[v] == ':')) {
      separator = true;
      continue;
    }
    break;
  }
  return {unescape(std::string_view(line).substr(0, k)), unescape(std::string_view(line).substr(v))};
}

Entries reference(std::string_view text) {
  Entries out;
  for (const std::string& line : logicalLines(text)) out.push_back(entryOf(line));
  return out;
}

// ---- writing entries back ------------------------------------------------------------------

std::string escaped(const std::string& s, bool key) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\f': out += "\\f"; break;
      default:
        if ((key && (c == '=' || c == ':' || c == ' ')) || (i == 0 && (c == ' ' || c == '#' || c == '!')))
          out += '\\';
        out += c;
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  Entries entries = ovz_java::parseJavaProperties(input);
  check(entries == reference(input));

  std::string written;
  for (const auto& [k, v] : entries) written += escaped(k, true) + "=" + escaped(v, false) + "\n";
  check(ovz_java::parseJavaProperties(written) == entries);
  return 0;
}
