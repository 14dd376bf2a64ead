// Plain reference versions of the text utilities, written straight from their definitions:
// every character is measured with zmblen_6_0 and every list look-up asks zstrchr_6_0, with
// none of the library's short cuts. Tests and fuzz targets hold the library to them.
#ifndef OVUTIL_TESTS_TEXT_REFERENCE_H
#define OVUTIL_TESTS_TEXT_REFERENCE_H

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <ovz/multibyte.h>

namespace textref {

// The lists, as the library documents them.
inline constexpr char kPatReject[] = "?():\\";
inline constexpr char kReject[] = "*?():\\";
inline constexpr char kPatQuote[] = "()\\";
inline constexpr char kNoPatQuote[] = "*()\\";
inline constexpr char kAdSearch[] = "()";
inline constexpr char kNoPatAdSearch[] = "*()";
inline constexpr char kSpecial[] = "#";

inline int validchars_int(const char* text, const char* reject, int nocontrol) {
    const ZCodeSetHandle_6_0* h = zgetUTF8Handle_6_0();
    std::size_t remaining = std::strlen(text);
    const char* p = text;
    while (remaining > 0) {
        int n = zmblen_6_0(h, p, remaining);
        if (n == 0) return 0;
        if (n < 0) {
            n = 1;
        } else if (n == 1) {
            const unsigned char b = static_cast<unsigned char>(*p);
            if (nocontrol && b <= 0x1F) return 0;
            if (zstrchr_6_0(h, reject, b)) return 0;
        }
        p += n;
        remaining -= static_cast<std::size_t>(n);
    }
    return 1;
}

inline int checkchars2(const char* text, const char* allowed) {
    const ZCodeSetHandle_6_0* h = zgetUTF8Handle_6_0();
    std::size_t remaining = std::strlen(text);
    const char* p = text;
    while (remaining > 0) {
        int n = zmblen_6_0(h, p, remaining);
        if (n == 0) return 0;
        if (n < 0) n = 1;
        else if (n == 1 && std::strchr(allowed, *p) == nullptr) return 0;
        p += n;
        remaining -= static_cast<std::size_t>(n);
    }
    return 1;
}

inline const char* mb_strchr(const char* text, int c) {
    if (c <= 0 || c > 255) return nullptr;
    const ZCodeSetHandle_6_0* h = zgetUTF8Handle_6_0();
    std::size_t remaining = std::strlen(text);
    const char* p = text;
    while (remaining > 0) {
        int n = zmblen_6_0(h, p, remaining);
        if (n == 0) return nullptr;
        if (n < 0) n = 1;
        if (n == 1 && static_cast<unsigned char>(*p) == c) return p;
        p += n;
        remaining -= static_cast<std::size_t>(n);
    }
    return nullptr;
}

// The quoting walk; `backslashOnly` is the %A form. Nothing for an invalid or cut character.
inline std::optional<std::string> quote(const std::string& text, const char* list,
                                        bool backslashOnly = false) {
    static const char hex[] = "0123456789abcdef";
    const ZCodeSetHandle_6_0* h = zgetUTF8Handle_6_0();
    std::string out;
    std::size_t remaining = text.size();
    const char* p = text.c_str();
    while (remaining > 0) {
        const int n = zmblen_6_0(h, p, remaining);
        if (n <= 0) return std::nullopt;
        const unsigned char b = static_cast<unsigned char>(*p);
        if (n == 1 && zstrchr_6_0(h, list, b)) {
            out += '\\';
            if (backslashOnly) {
                out += static_cast<char>(b);
            } else {
                out += hex[b >> 4];
                out += hex[b & 15];
            }
        } else {
            out.append(p, static_cast<std::size_t>(n));
        }
        p += n;
        remaining -= static_cast<std::size_t>(n);
    }
    return out;
}

// The formatted text of `format` with `args` in order; nothing where the library gives NULL.
// `args` must hold at least as many texts as the format has percent signs.
inline std::optional<std::string> sprintf_of(const std::string& format,
                                             const std::vector<std::string>& args) {
    std::string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') {
            out += format[i];
            continue;
        }
        const char letter = i + 1 < format.size() ? format[i + 1] : '\0';
        const char* list = nullptr;
        switch (letter) {
            case 's': break;
            case 'Q': list = kNoPatQuote; break;
            case 'P': list = kPatQuote; break;
            case 'M': list = kNoPatAdSearch; break;
            case 'L': list = kAdSearch; break;
            case 'A': list = kSpecial; break;
            default: return std::nullopt;
        }
        const std::string& arg = args.at(next++);
        if (list == nullptr) {
            out += arg;
        } else {
            auto quoted = quote(arg, list, letter == 'A');
            if (!quoted) return std::nullopt;
            out += *quoted;
        }
        ++i;
    }
    return out;
}

}  // namespace textref

#endif  // OVUTIL_TESTS_TEXT_REFERENCE_H
