// Edit scripts and JSON strings of the ovutil tool, from arbitrary bytes:
// - a script that splits is split again, after its words are quoted back, into the same
//   commands, and its commands' lines rise;
// - a JSON string is valid UTF-8 holding no raw control character, and a reference decoder
//   (surrogate escapes \udcXX give the byte XX back) returns exactly the input bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "text_forms.h"

namespace {

std::string quoted(const std::string& word) {
    std::string out = "'";
    for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

void checkScript(const std::string& text) {
    std::vector<ovtool::ScriptCommand> commands;
    try {
        commands = ovtool::splitScript(text);
    } catch (const ovtool::ScriptSyntaxError&) {
        return;
    }
    std::string again;
    unsigned last = 0;
    for (const ovtool::ScriptCommand& c : commands) {
        if (c.words.empty() || c.line <= last) std::abort();
        last = c.line;
        for (size_t i = 0; i < c.words.size(); ++i) again += (i ? " " : "") + quoted(c.words[i]);
        again += '\n';
    }
    std::vector<ovtool::ScriptCommand> back = ovtool::splitScript(again);
    if (back.size() != commands.size()) std::abort();
    for (size_t i = 0; i < back.size(); ++i)
        if (back[i].words != commands[i].words) std::abort();
}

int hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    std::abort();
}

void appendUtf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Whether `s` is valid UTF-8 (the plain definition: no overlong form, no surrogate, at most
// U+10FFFF), decoded code point by code point.
bool validUtf8(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        unsigned cp = n == 1 ? c : c & (0x7F >> n);
        for (size_t k = 1; k < n; ++k) {
            unsigned char d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = cp << 6 | (d & 0x3F);
        }
        static const unsigned least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += n;
    }
    return true;
}

void checkJson(const std::string& bytes) {
    const std::string json = ovtool::jsonString(bytes);
    if (json.size() < 2 || json.front() != '"' || json.back() != '"') std::abort();
    if (!validUtf8(json)) std::abort();
    std::string back;
    for (size_t i = 1; i + 1 < json.size(); ++i) {
        const char c = json[i];
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == '"') std::abort();
        if (c != '\\') {
            back += c;
            continue;
        }
        const char e = json[++i];
        if (e == '"' || e == '\\' || e == '/') {
            back += e;
        } else if (e == 'n') {
            back += '\n';
        } else if (e == 't') {
            back += '\t';
        } else if (e == 'r') {
            back += '\r';
        } else if (e == 'u') {
            unsigned cp = 0;
            for (int k = 0; k < 4; ++k) cp = cp << 4 | static_cast<unsigned>(hex(json[++i]));
            if (cp >= 0xDC80 && cp <= 0xDCFF)
                back += static_cast<char>(cp - 0xDC00);
            else if (cp >= 0xD800 && cp <= 0xDFFF)
                std::abort();  // no other surrogate is ever written
            else
                appendUtf8(back, cp);
        } else {
            std::abort();
        }
    }
    if (back != bytes) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    checkScript(input);
    checkJson(input);
    return 0;
}
