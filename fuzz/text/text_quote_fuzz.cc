// Hostile bytes into the checks, the quoting operations and the quoting printf. The input is
// cut at NUL bytes into a format, up to four arguments and a list; each piece gets an
// allocation of exactly its own size, so that reading past its NUL is caught. Every result
// must equal the plain reference walk's.

#include <ovutil/wvwchar.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "src/util/wvwchar_reference.h"

namespace {

// A NUL-terminated copy in an allocation of exactly its size.
struct Piece {
    explicit Piece(const std::string& s) : text(static_cast<char*>(std::malloc(s.size() + 1))) {
        std::memcpy(text, s.c_str(), s.size() + 1);
    }
    ~Piece() { std::free(text); }
    Piece(const Piece&) = delete;
    Piece& operator=(const Piece&) = delete;
    char* text;
};

std::optional<std::string> taken(char* text) {
    if (text == nullptr) return std::nullopt;
    std::string s(text);
    std::free(text);
    return s;
}

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            if (parts.size() == 6) break;
            parts.emplace_back();
        } else {
            parts.back() += static_cast<char>(data[i]);
        }
    }
    parts.resize(6);
    const std::string& format = parts[0];
    const std::vector<std::string> args(parts.begin() + 1, parts.begin() + 5);
    const std::string& list = parts[5];
    Piece f(format), a0(args[0]), a1(args[1]), a2(args[2]), a3(args[3]), l(list);

    // Each percent sign takes at most one argument; four are passed.
    size_t percents = 0;
    for (char c : format) percents += c == '%';
    if (percents <= 4)
        check(taken(wv_mbs_sprintf(f.text, a0.text, a1.text, a2.text, a3.text)) ==
              textref::sprintf_of(format, args));

    for (const Piece* text : {&f, &a0}) {
        check(taken(wv_mbs_patquote2(text->text, l.text)) == textref::quote(text->text, l.text));
        check(taken(wv_mbs_patquote(text->text)) == textref::quote(text->text, textref::kPatQuote));
        check(taken(wv_mbs_nopatquote(text->text)) == textref::quote(text->text, textref::kNoPatQuote));
        for (int nocontrol = 0; nocontrol < 2; ++nocontrol)
            check(wv_mbs_validchars_int(text->text, l.text, nocontrol) ==
                  textref::validchars_int(text->text, l.text, nocontrol));
        check(wv_mbs_validpatchars(text->text) == textref::validchars_int(text->text, textref::kPatReject, 1));
        check(wv_mbs_validpchars(text->text) == textref::validchars_int(text->text, textref::kReject, 1));
        check(wv_mbs_checkchars2(text->text, l.text) == textref::checkchars2(text->text, l.text));
        for (unsigned char c : list)
            check(wv_mb_strchr(text->text, c) == textref::mb_strchr(text->text, c));
    }
    return 0;
}
