#include "text_forms.h"

#include <cstdio>

namespace ovtool {

namespace {

// The length of the valid UTF-8 sequence at s[i] (1 to 4), or 0 when the byte there does not
// start one: overlong forms, surrogates and values above U+10FFFF are not valid.
size_t utf8Length(const std::string& s, size_t i) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    if (c < 0x80) return 1;
    size_t n = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // the allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    if (b(i + 1) < lo || b(i + 1) > hi) return 0;
    for (size_t k = 2; k < n; ++k)
        if (b(i + k) < 0x80 || b(i + k) > 0xBF) return 0;
    return n;
}

}  // namespace

std::string jsonString(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size() + 2);
    out += '"';
    char escape[8];
    for (size_t i = 0; i < bytes.size();) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c == '\n') {
            out += "\\n";
            ++i;
        } else if (c == '\t') {
            out += "\\t";
            ++i;
        } else if (c == '\r') {
            out += "\\r";
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
            ++i;
        } else if (size_t n = utf8Length(bytes, i); n > 0) {
            out.append(bytes, i, n);
            i += n;
        } else {
            std::snprintf(escape, sizeof escape, "\\udc%02x", c);
            out += escape;
            ++i;
        }
    }
    out += '"';
    return out;
}

std::vector<ScriptCommand> splitScript(const std::string& text) {
    std::vector<ScriptCommand> commands;
    ScriptCommand current;
    std::string word;
    bool inWord = false;  // a word has begun (possibly empty: '' is a word)
    unsigned line = 1;
    auto endWord = [&] {
        if (inWord) current.words.push_back(word);
        word.clear();
        inWord = false;
    };
    auto endCommand = [&] {
        endWord();
        if (!current.words.empty()) commands.push_back(current);
        current = ScriptCommand();
    };
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        const char c = text[i];
        if (current.words.empty() && !inWord) current.line = line;
        if (c == '\n') {
            endCommand();
            ++line;
            ++i;
        } else if (c == ' ' || c == '\t') {
            endWord();
            ++i;
        } else if (c == '#' && !inWord) {
            while (i < n && text[i] != '\n') ++i;
        } else if (c == '\\') {
            if (i + 1 >= n) throw ScriptSyntaxError{line, "a backslash ends the script"};
            if (text[i + 1] == '\n') {
                ++line;  // joins the lines
            } else {
                word += text[i + 1];
                inWord = true;
            }
            i += 2;
        } else if (c == '\'') {
            const unsigned start = line;
            size_t end = text.find('\'', i + 1);
            if (end == std::string::npos)
                throw ScriptSyntaxError{start, "a single quote is not closed"};
            for (size_t k = i + 1; k < end; ++k)
                if (text[k] == '\n') ++line;
            word.append(text, i + 1, end - i - 1);
            inWord = true;
            i = end + 1;
        } else if (c == '"') {
            const unsigned start = line;
            size_t k = i + 1;
            for (;;) {
                if (k >= n) throw ScriptSyntaxError{start, "a double quote is not closed"};
                const char d = text[k];
                if (d == '"') break;
                if (d == '\\' && k + 1 < n) {
                    const char e = text[k + 1];
                    if (e == '\n') {
                        ++line;
                        k += 2;
                        continue;
                    }
                    if (e == '$' || e == '`' || e == '"' || e == '\\') {
                        word += e;
                        k += 2;
                        continue;
                    }
                }
                if (d == '\n') ++line;
                word += d;
                ++k;
            }
            inWord = true;
            i = k + 1;
        } else {
            word += c;
            inWord = true;
            ++i;
        }
    }
    endCommand();
    return commands;
}

}  // namespace ovtool
