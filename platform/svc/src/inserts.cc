// Inserts: pulling them from the argument list as `format` types them, and filling them
// into a message text. Message texts come from catalogs, that is from data, so they are
// parsed here and never handed to printf; only formats built here from checked pieces are.
#include <cinttypes>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "internal.h"

namespace ovsvc_internal {

namespace {

// Widths and precisions beyond this are clipped: a catalog text must not make a record huge.
constexpr int kMaxWidth = 256;

struct Directive {
    int position = 0;  // 1-based from %n$, 0 when sequential
    std::string flags;
    int width = -1;  // -1: none
    bool star_width = false;
    int precision = -1;
    bool star_precision = false;
    std::string_view length;  // "", hh, h, l, ll, z, j, t, L, q (static texts)
    char conversion = 0;
    size_t end = 0;  // index just past the conversion character
};

int readNumber(std::string_view s, size_t& i) {
    long v = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
        if (v < 100000) v = v * 10 + (s[i] - '0');
        ++i;
    }
    return static_cast<int>(v);
}

// Parses the conversion starting at s[start] == '%'. Returns false when the text ends inside it.
bool parseDirective(std::string_view s, size_t start, Directive& directive) {
    size_t i = start + 1;
    // %n$: a run of digits followed by '$' is a position, otherwise it was a width.
    size_t digits_end = i;
    while (digits_end < s.size() && s[digits_end] >= '0' && s[digits_end] <= '9') ++digits_end;
    if (digits_end > i && digits_end < s.size() && s[digits_end] == '$' && s[i] != '0') {
        directive.position = readNumber(s, i);
        ++i;
    }
    while (i < s.size() && std::strchr("-+ #0'", s[i])) directive.flags += s[i++];
    if (i < s.size() && s[i] == '*') {
        directive.star_width = true;
        ++i;
        while (i < s.size() && ((s[i] >= '0' && s[i] <= '9') || s[i] == '$')) ++i;
    } else if (i < s.size() && s[i] >= '1' && s[i] <= '9') {
        directive.width = readNumber(s, i);
    }
    if (i < s.size() && s[i] == '.') {
        ++i;
        if (i < s.size() && s[i] == '*') {
            directive.star_precision = true;
            ++i;
            while (i < s.size() && ((s[i] >= '0' && s[i] <= '9') || s[i] == '$')) ++i;
        } else {
            directive.precision = readNumber(s, i);
        }
    }
    static const char* const kLengths[] = {"hh", "ll", "h", "l", "z", "j", "t", "L", "q"};
    for (const char* len : kLengths) {
        if (s.substr(i, std::strlen(len)) == len) {
            directive.length = len;
            i += std::strlen(len);
            break;
        }
    }
    if (i >= s.size()) return false;
    directive.conversion = s[i];
    directive.end = i + 1;
    return true;
}

std::string pad(std::string body, const Directive& directive) {
    int width = directive.width < 0 ? 0 : directive.width > kMaxWidth ? kMaxWidth : directive.width;
    if (static_cast<int>(body.size()) >= width) return body;
    std::string fill(width - body.size(), ' ');
    return directive.flags.find('-') != std::string::npos ? body + fill : fill + body;
}

// printf of one number through a format assembled here from the parsed flags, clipped width
// and precision, and a conversion and length chosen to match the value's C type.
std::string formatNumber(const Directive& directive, char conversion, bool is_signed, long long s,
                         unsigned long long u) {
    std::string fmt = "%";
    for (char f : directive.flags)
        if (std::strchr("-+ 0", f) || (f == '#' && conversion != 'd' && conversion != 'u'))
            if (fmt.find(f) == std::string::npos) fmt += f;
    if (directive.width >= 0)
        fmt += std::to_string(directive.width > kMaxWidth ? kMaxWidth : directive.width);
    if (directive.precision >= 0) {
        fmt += '.';
        fmt += std::to_string(directive.precision > kMaxWidth ? kMaxWidth : directive.precision);
    }
    fmt += "ll";
    fmt += conversion;
    char buf[2 * kMaxWidth + 64];
    if (is_signed)
        std::snprintf(buf, sizeof buf, fmt.c_str(), s);
    else
        std::snprintf(buf, sizeof buf, fmt.c_str(), u);
    return buf;
}

std::string renderInsert(const Insert& in, const Directive& directive) {
    const char conv = directive.conversion;
    const bool numeric_conv = std::strchr("diuxXo", conv) != nullptr;
    switch (in.kind) {
        case Insert::Kind::Signed:
        case Insert::Kind::Unsigned:
            if (numeric_conv) {
                if (conv == 'd' || conv == 'i')
                    return formatNumber(directive, conv == 'i' ? 'd' : conv,
                                        in.kind == Insert::Kind::Signed, in.s, in.u);
                return formatNumber(directive, conv, false, 0, in.u);
            }
            if (conv == 'c' && in.u < 0x80)
                return pad(std::string(1, static_cast<char>(in.u)), directive);
            return pad(in.natural(), directive);
        case Insert::Kind::Char:
            if (numeric_conv)
                return formatNumber(directive, conv == 'i' ? 'd' : conv, false, 0, in.u);
            return pad(in.natural(), directive);
        case Insert::Kind::Pointer:
            return pad(in.natural(), directive);
        case Insert::Kind::String:
        default: {
            std::string body = in.str;
            if (conv == 's' && directive.precision >= 0 &&
                static_cast<size_t>(directive.precision) < body.size())
                body.resize(directive.precision);
            return pad(std::move(body), directive);
        }
    }
}

}  // namespace

std::string Insert::natural() const {
    char buf[64];
    switch (kind) {
        case Kind::String:
            return str;
        case Kind::Signed:
            std::snprintf(buf, sizeof buf, "%lld", s);
            return buf;
        case Kind::Char:
            return std::string(1, static_cast<char>(u));
        case Kind::Pointer:
            std::snprintf(buf, sizeof buf, "0x%llx", u);
            return buf;
        case Kind::Unsigned:
        default:
            std::snprintf(buf, sizeof buf,
                          conversion == 'x'   ? "%llx"
                          : conversion == 'X' ? "%llX"
                          : conversion == 'o' ? "%llo"
                                              : "%llu",
                          u);
            return buf;
    }
}

namespace {

// The argument of a d or i conversion with length modifier `len`; false for a modifier that
// names no type read here.
bool pullSigned(std::string_view len, va_list* ap, Insert& in) {
    in.kind = Insert::Kind::Signed;
    if (len.empty() || len == "h" || len == "hh") {
        int v = va_arg(*ap, int);
        if (len == "h") v = static_cast<short>(v);
        if (len == "hh") v = static_cast<signed char>(v);
        in.s = v;
        in.u = len == "hh"  ? static_cast<unsigned char>(v)
               : len == "h" ? static_cast<unsigned short>(v)
                            : static_cast<unsigned int>(v);
    } else if (len == "l" || len == "z" || len == "t") {
        long v = va_arg(*ap, long);
        in.s = v;
        in.u = static_cast<unsigned long>(v);
    } else if (len == "ll" || len == "q" || len == "j") {
        long long v = va_arg(*ap, long long);
        in.s = v;
        in.u = static_cast<unsigned long long>(v);
    } else {
        return false;
    }
    return true;
}

// The argument of a u, x, X or o conversion with length modifier `len`; false as above.
bool pullUnsigned(std::string_view len, va_list* ap, Insert& in) {
    in.kind = Insert::Kind::Unsigned;
    if (len.empty() || len == "h" || len == "hh") {
        unsigned v = va_arg(*ap, unsigned);
        in.u = len == "h"    ? static_cast<unsigned short>(v)
               : len == "hh" ? static_cast<unsigned char>(v)
                             : v;
    } else if (len == "l" || len == "z" || len == "t") {
        in.u = va_arg(*ap, unsigned long);
    } else if (len == "ll" || len == "q" || len == "j") {
        in.u = va_arg(*ap, unsigned long long);
    } else {
        return false;
    }
    in.s = static_cast<long long>(in.u);
    return true;
}

// The argument of one conversion into `in`; false when its type is unknown, and then nothing
// after it can be read either.
bool pullOne(const Directive& directive, va_list* ap, Insert& in) {
    in.conversion = directive.conversion;
    const std::string_view len = directive.length;
    switch (directive.conversion) {
        case 's': {
            if (!len.empty()) return false;  // %ls: wide strings are not inserts here
            const char* p = va_arg(*ap, const char*);
            in.kind = Insert::Kind::String;
            in.str = p ? p : "(null)";
            return true;
        }
        case 'c':
            if (!len.empty()) return false;
            in.kind = Insert::Kind::Char;
            in.u = static_cast<unsigned char>(va_arg(*ap, int));
            return true;
        case 'd':
        case 'i':
            return pullSigned(len, ap, in);
        case 'u':
        case 'x':
        case 'X':
        case 'o':
            return pullUnsigned(len, ap, in);
        case 'p':
            in.kind = Insert::Kind::Pointer;
            in.u = reinterpret_cast<uintptr_t>(va_arg(*ap, void*));
            return true;
        default:
            return false;  // %n, %f, ...: the argument's type is unknown
    }
}

}  // namespace

std::vector<Insert> pullInserts(const char* format, va_list args) {
    std::vector<Insert> out;
    if (!format) return out;
    // A copy of our own, so that the helpers can take the argument list by address.
    va_list ap;
    va_copy(ap, args);
    std::string_view f(format);
    for (size_t i = 0; i < f.size() && out.size() < kMaxInserts; ++i) {
        if (f[i] != '%') continue;
        Directive directive;
        if (!parseDirective(f, i, directive)) break;
        i = directive.end - 1;
        if (directive.conversion == '%') continue;
        // Positional arguments would need every type known up front; a program's format
        // names its inserts in order, so one that does not is not read at all.
        if (directive.position != 0) break;
        if (directive.star_width) (void)va_arg(ap, int);
        if (directive.star_precision) (void)va_arg(ap, int);
        Insert in;
        if (!pullOne(directive, &ap, in)) break;
        out.push_back(std::move(in));
    }
    va_end(ap);
    return out;
}

std::string fillText(std::string_view text, const std::vector<Insert>& inserts) {
    std::string out;
    out.reserve(text.size() + 32);
    size_t next = 0;  // next sequential insert
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        Directive directive;
        if (!parseDirective(text, i, directive)) {
            out.append(text.substr(i));  // a conversion cut off by the end of the text
            break;
        }
        std::string_view literal = text.substr(i, directive.end - i);
        i = directive.end - 1;
        if (directive.conversion == '%') {
            out += '%';
            continue;
        }
        const bool known = std::strchr("sdiuxXoc", directive.conversion) != nullptr &&
                           !directive.star_width && !directive.star_precision;
        size_t index = directive.position > 0 ? static_cast<size_t>(directive.position - 1) : next;
        if (!known || index >= inserts.size()) {
            // A conversion with nothing to fill it stays visible instead of reading garbage.
            out.append(literal);
            if (known && directive.position == 0) ++next;
            continue;
        }
        if (directive.position == 0) ++next;
        out += renderInsert(inserts[index], directive);
    }
    return out;
}

std::string fallbackText(unsigned msgid, const std::vector<Insert>& inserts) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "message 0x%08x", msgid);
    std::string out = buf;
    for (size_t i = 0; i < inserts.size(); ++i) {
        out += i == 0 ? ": " : ", ";
        out += inserts[i].natural();
    }
    return out;
}

}  // namespace ovsvc_internal
