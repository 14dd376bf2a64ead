#include "java_properties_parser.h"

#include <cstdint>

#include "utf8.h"

namespace ovz_java {

namespace {

inline bool isWhite(char c) { return c == ' ' || c == '\t' || c == '\f'; }
inline bool isEol(char c) { return c == '\n' || c == '\r'; }

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The four hex digits of a \u escape at s[i..], or -1.
int32_t unit(std::string_view s, size_t i) {
  if (i + 4 > s.size()) return -1;
  int32_t v = 0;
  for (size_t k = 0; k < 4; ++k) {
    int d = hexDigit(s[i + k]);
    if (d < 0) return -1;
    v = v * 16 + d;
  }
  return v;
}

// Resolves the escapes of a key or value taken from a logical line.
std::string unescape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    char c = s[i++];
    if (c != '\\') {
      out.push_back(c);
      continue;
    }
    if (i == s.size()) break;  // a lone backslash at the very end of the file
    c = s[i++];
    switch (c) {
      case 't': out.push_back('\t'); break;
      case 'n': out.push_back('\n'); break;
      case 'r': out.push_back('\r'); break;
      case 'f': out.push_back('\f'); break;
      case 'u': {
        int32_t u = unit(s, i);
        if (u < 0) {
          out.push_back('u');
          break;
        }
        i += 4;
        uint32_t cp = static_cast<uint32_t>(u);
        if (cp >= 0xD800 && cp <= 0xDBFF) {
          int32_t low = (i + 1 < s.size() && s[i] == '\\' && s[i + 1] == 'u') ? unit(s, i + 2) : -1;
          if (low >= 0xDC00 && low <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<uint32_t>(low) - 0xDC00);
            i += 6;
          } else {
            cp = 0xFFFD;
          }
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
          cp = 0xFFFD;
        }
        ovz_utf8::append(out, cp);
        break;
      }
      default: out.push_back(c); break;
    }
  }
  return out;
}

// The start of the next logical line at or after `pos`, past white space, blank lines and
// comment lines; text.size() when none is left.
size_t skipToLogicalLine(std::string_view text, size_t pos) {
  const size_t n = text.size();
  while (pos < n) {
    while (pos < n && isWhite(text[pos])) ++pos;
    if (pos == n) break;
    if (isEol(text[pos])) {
      ++pos;
      continue;
    }
    if (text[pos] == '#' || text[pos] == '!') {
      while (pos < n && !isEol(text[pos])) ++pos;
      continue;
    }
    break;
  }
  return pos;
}

// Reads the logical line that starts at `pos` into `line` and moves `pos` past it. The
// natural lines of one logical line are joined: a line ending in an odd number of
// backslashes goes on with the next line, whose leading white space is dropped.
void readLogicalLine(std::string_view text, size_t& pos, std::string& line) {
  const size_t n = text.size();
  line.clear();
  for (;;) {
    size_t start = pos;
    while (pos < n && !isEol(text[pos])) ++pos;
    std::string_view piece = text.substr(start, pos - start);
    size_t slashes = 0;
    while (slashes < piece.size() && piece[piece.size() - 1 - slashes] == '\\') ++slashes;
    if (pos < n) pos += (text[pos] == '\r' && pos + 1 < n && text[pos + 1] == '\n') ? 2 : 1;
    if (slashes % 2 == 0) {
      line.append(piece);
      break;
    }
    line.append(piece.substr(0, piece.size() - 1));
    while (pos < n && isWhite(text[pos])) ++pos;
    if (pos == n) break;
  }
}

// Splits a logical line into its key, line[0, keyEnd), and its value, from valueStart.
struct KeyValueBounds {
  size_t keyEnd;
  size_t valueStart;
};

KeyValueBounds splitKeyValue(const std::string& line) {
  // Key: up to the first unescaped '=', ':' or white space.
  size_t keyEnd = 0, valueStart = line.size();
  bool separator = false, escaped = false;
  for (; keyEnd < line.size(); ++keyEnd) {
    char c = line[keyEnd];
    if (!escaped && (c == '=' || c == ':')) {
      valueStart = keyEnd + 1;
      separator = true;
      break;
    }
    if (!escaped && isWhite(c)) {
      valueStart = keyEnd + 1;
      break;
    }
    escaped = c == '\\' ? !escaped : false;
  }
  // Value: after white space and at most one '=' or ':' (when the key did not end at one).
  while (valueStart < line.size()) {
    char c = line[valueStart];
    if (!isWhite(c)) {
      if (separator || (c != '=' && c != ':')) break;
      separator = true;
    }
    ++valueStart;
  }
  return {keyEnd, valueStart};
}

}  // namespace

std::vector<std::pair<std::string, std::string>> parseJavaProperties(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> entries;
  size_t pos = 0;
  std::string line;
  while ((pos = skipToLogicalLine(text, pos)) < text.size()) {
    readLogicalLine(text, pos, line);
    const KeyValueBounds bounds = splitKeyValue(line);
    std::string_view whole(line);
    entries.emplace_back(unescape(whole.substr(0, bounds.keyEnd)),
                         unescape(whole.substr(std::min(bounds.valueStart, line.size()))));
  }
  return entries;
}

}  // namespace ovz_java
