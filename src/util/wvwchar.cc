// Multibyte-safe checks, search-filter quoting and the quoting printf.
//
// Every operation walks its text one character at a time in UTF-8: a byte below 0x80 is a
// character of its own, and for any other byte the object library's code-set handle tells
// the length of the character it starts (zmblen_6_0), 0 when the text ends inside it and -1
// when it starts no valid character. Whether a one-byte character is in a list is the
// handle's answer too (zstrchr_6_0). The handle is asked only about bytes of 0x80 and above
// because in UTF-8 every smaller byte is a one-byte character; that keeps plain ASCII text
// at a table look-up per byte.
//
// The lists of this unit are fixed, so their members are asked of the handle once per
// process. A list that a caller passes is asked about lazily, at most once per byte value
// and call.

#include <ovutil/wvwchar.h>

#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include <ovsvc/svc.h>
#include <ovz/exceptions.h>
#include <ovz/multibyte.h>

#include "internal/logging.h"

namespace {

// Every record of this unit names this source file.
constexpr char kSourceFile[] = "src/util/wvwchar";

// The character lists.
constexpr char patrejlist[] = "?():\\";      // rejected in a search pattern ("*" allowed)
constexpr char rejlist[] = "*?():\\";        // rejected in a plain name
constexpr char patquotelist[] = "()\\";      // quoted in a search pattern (%P)
constexpr char nopatquotelist[] = "*()\\";   // quoted in a literal value (%Q)
constexpr char adsearchlist[] = "()";        // %L
constexpr char nopatadsearchlist[] = "*()";  // %M
constexpr char speciallist[] = "#";          // escaped with a backslash (%A)
constexpr char hexdigit[] = "0123456789abcdef";

using Handle = const ZCodeSetHandle_6_0*;

// The length of the character at `p`, as zmblen_6_0 gives it; `remaining` (at least 1) is
// the number of bytes left before the text's NUL.
inline int charLength(Handle handle, const char* p, std::size_t remaining) {
    if (static_cast<unsigned char>(*p) < 0x80) return 1;
    const int n = zmblen_6_0(handle, p, remaining);
    // A length beyond what is left would walk past the NUL; read it as a cut character.
    return n > 0 && static_cast<std::size_t>(n) > remaining ? 0 : n;
}

// The one-byte characters of a fixed list, asked of the handle once per byte value.
class FixedSet {
public:
    FixedSet(Handle handle, const char* list) {
        for (int b = 0; b < 256; ++b) in_[b] = zstrchr_6_0(handle, list, b) != 0;
    }
    bool contains(unsigned char b) const { return in_[b]; }

private:
    bool in_[256];
};

enum ListId { kPatReject, kReject, kPatQuote, kNoPatQuote, kAdSearch, kNoPatAdSearch, kSpecial };

const FixedSet& fixedSet(ListId id) {
    static const FixedSet sets[] = {
        {zgetUTF8Handle_6_0(), patrejlist},   {zgetUTF8Handle_6_0(), rejlist},
        {zgetUTF8Handle_6_0(), patquotelist}, {zgetUTF8Handle_6_0(), nopatquotelist},
        {zgetUTF8Handle_6_0(), adsearchlist}, {zgetUTF8Handle_6_0(), nopatadsearchlist},
        {zgetUTF8Handle_6_0(), speciallist},
    };
    return sets[id];
}

// The one-byte characters of a caller's list, asked of the handle the first time a byte
// value comes up in a call.
class CallerSet {
public:
    CallerSet(Handle handle, const char* list) : handle_(handle), list_(list) {
        std::memset(known_, -1, sizeof known_);
    }
    bool contains(unsigned char b) const {
        if (known_[b] < 0) known_[b] = zstrchr_6_0(handle_, list_, b) != 0;
        return known_[b] != 0;
    }

private:
    Handle handle_;
    const char* list_;
    mutable signed char known_[256];  // -1 until asked, then 0 or 1
};

template <class Set>
int validChars(Handle handle, const char* text, const Set& reject, bool nocontrol) {
    const char* p = text;
    std::size_t remaining = std::strlen(text);
    while (remaining > 0) {
        const unsigned char b = static_cast<unsigned char>(*p);
        int n = charLength(handle, p, remaining);
        if (n == 0) return 0;
        if (n < 0) {
            n = 1;  // not a character: acceptable without a look-up
        } else if (n == 1) {
            if ((nocontrol && b <= 0x1F) || reject.contains(b)) return 0;
        }
        p += n;
        remaining -= static_cast<std::size_t>(n);
    }
    return 1;
}

// Writes the one-byte character `b` quoted: as a backslash and two hexadecimal digits, or
// with `backslashOnly` as a backslash and the character. Returns the end of what it wrote.
inline char* putQuoted(char* out, unsigned char b, bool backslashOnly) {
    out[0] = '\\';
    if (backslashOnly) {
        out[1] = static_cast<char>(b);
        return out + 2;
    }
    out[1] = hexdigit[b >> 4];
    out[2] = hexdigit[b & 0x0F];
    return out + 3;
}

// Writes `n` bytes of `text` to `out`, each one-byte character of `set` quoted (putQuoted).
// `out` has room for 3 * n bytes. Returns the end of what was written, or null when `text`
// holds an invalid or cut character.
template <class Set>
char* quoteInto(Handle handle, char* out, const char* text, std::size_t n, const Set& set,
                bool backslashOnly) {
    const char* p = text;
    std::size_t remaining = n;
    while (remaining > 0) {
        const unsigned char b = static_cast<unsigned char>(*p);
        const int len = charLength(handle, p, remaining);
        if (len <= 0) return nullptr;
        if (len == 1) {
            if (set.contains(b))
                out = putQuoted(out, b, backslashOnly);
            else
                *out++ = static_cast<char>(b);
        } else {
            std::memcpy(out, p, static_cast<std::size_t>(len));
            out += len;
        }
        p += len;
        remaining -= static_cast<std::size_t>(len);
    }
    return out;
}

char* quoteCopy(Handle handle, const char* text, const FixedSet* fixed, const CallerSet* caller) {
    if (text == nullptr) return nullptr;
    const std::size_t n = std::strlen(text);
    if (n > (SIZE_MAX - 1) / 3) return nullptr;
    char* const result = static_cast<char*>(std::malloc(3 * n + 1));
    if (result == nullptr) return nullptr;
    char* end = fixed ? quoteInto(handle, result, text, n, *fixed, false)
                      : quoteInto(handle, result, text, n, *caller, false);
    if (end == nullptr) {
        std::free(result);
        return nullptr;
    }
    *end = '\0';
    return result;
}

void debugText(int line, const char* format, const char* insert) {
    ov_svc__debug_utf8_withfile(wvcore_svc_handle, kSourceFile, line, 0, 1, format, insert);
}

// ---- wv_mbs_sprintf ---------------------------------------------------------------------

// The result under construction: `limit` is one less than the allocated size, so that the
// terminating NUL always fits.
class Output {
public:
    Output() = default;
    ~Output() { std::free(data_); }
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    bool start() {
        data_ = static_cast<char*>(std::malloc(kFirst));
        limit_ = kFirst - 1;
        return data_ != nullptr;
    }
    std::size_t room() const { return limit_ - length_; }
    // Makes room for `need` more bytes, if there is not enough, in one step that leaves
    // kSpare bytes to spare beyond them.
    bool reserve(std::size_t need) { return need <= room() || grow(need); }
    // Appends a run of format bytes as copying them one at a time would: whenever the text
    // has reached the limit, the buffer grows by kSpare + 1 bytes.
    bool appendRun(const char* p, std::size_t n) {
        while (n > 0) {
            if (room() == 0 && !grow(0)) return false;
            const std::size_t step = n < room() ? n : room();
            std::memcpy(data_ + length_, p, step);
            length_ += step;
            p += step;
            n -= step;
        }
        return true;
    }
    void append(const char* p, std::size_t n) {
        std::memcpy(data_ + length_, p, n);
        length_ += n;
    }
    char* end() { return data_ + length_; }
    void setEnd(char* end) { length_ = static_cast<std::size_t>(end - data_); }
    char* release() {
        data_[length_] = '\0';
        char* result = data_;
        data_ = nullptr;
        return result;
    }

private:
    // Resizes to length + need + kSpare bytes and the NUL.
    bool grow(std::size_t need) {
        if (need > SIZE_MAX - kSpare - 1 - length_) return false;
        const std::size_t size = length_ + need + kSpare + 1;
        char* grown = static_cast<char*>(std::realloc(data_, size));
        if (grown == nullptr) return false;
        data_ = grown;
        limit_ = size - 1;
        return true;
    }

    static constexpr std::size_t kFirst = 128;
    static constexpr std::size_t kSpare = 128;
    char* data_ = nullptr;
    std::size_t length_ = 0;
    std::size_t limit_ = 0;
};

char* formatQuoted(const char* format, va_list args) {
    Output out;
    if (!out.start()) return nullptr;
    Handle handle = nullptr;
    const char* p = format;
    for (;;) {
        const char* percent = std::strchr(p, '%');
        const std::size_t run = percent ? static_cast<std::size_t>(percent - p) : std::strlen(p);
        if (!out.appendRun(p, run)) return nullptr;
        if (percent == nullptr) break;
        const char letter = percent[1];
        const FixedSet* set = nullptr;
        bool backslashOnly = false;
        switch (letter) {
            case 's':
                break;
            case 'Q':
                set = &fixedSet(kNoPatQuote);
                break;
            case 'P':
                set = &fixedSet(kPatQuote);
                break;
            case 'M':
                set = &fixedSet(kNoPatAdSearch);
                break;
            case 'L':
                set = &fixedSet(kAdSearch);
                break;
            case 'A':
                set = &fixedSet(kSpecial);
                backslashOnly = true;
                break;
            default:
                return nullptr;  // another letter, "%%", or the format's end
        }
        const char* arg = va_arg(args, const char*);
        if (arg == nullptr) return nullptr;
        const std::size_t n = std::strlen(arg);
        if (set == nullptr) {
            if (!out.reserve(n)) return nullptr;
            out.append(arg, n);
        } else {
            // The worst case, three bytes out for every byte in, is reserved once.
            if (n > SIZE_MAX / 3 || !out.reserve(3 * n)) return nullptr;
            if (handle == nullptr) handle = zgetUTF8Handle_6_0();
            char* end = quoteInto(handle, out.end(), arg, n, *set, backslashOnly);
            if (end == nullptr) return nullptr;
            out.setEnd(end);
        }
        p = percent + 2;
    }
    return out.release();
}

}  // namespace

extern "C" {

int wv_mbs_validchars_int(const char* text, const char* reject, int nocontrol) {
    if (text == nullptr) return 0;
    if (*text == '\0') return 1;
    Handle handle = zgetUTF8Handle_6_0();
    CallerSet set(handle, reject);
    return validChars(handle, text, set, nocontrol != 0);
}

int wv_mbs_validchars2(const char* text, const char* reject) {
    return wv_mbs_validchars_int(text, reject, 0);
}

int wv_mbs_validpchars2(const char* text, const char* reject) {
    return wv_mbs_validchars_int(text, reject, 1);
}

int wv_mbs_validpatchars(const char* text) {
    if (text == nullptr) return 0;
    return validChars(zgetUTF8Handle_6_0(), text, fixedSet(kPatReject), true);
}

int wv_mbs_validpchars(const char* text) {
    if (text == nullptr) return 0;
    return validChars(zgetUTF8Handle_6_0(), text, fixedSet(kReject), true);
}

int wv_mbs_checkchars2(const char* text, const char* allowed) {
    if (text == nullptr) return 0;
    if (allowed == nullptr) allowed = "";
    // The allowed bytes as a table: each character of the text is then looked up at once
    // instead of searched for through the whole list.
    bool isAllowed[256] = {};
    for (const unsigned char* a = reinterpret_cast<const unsigned char*>(allowed); *a; ++a)
        isAllowed[*a] = true;
    Handle handle = zgetUTF8Handle_6_0();
    const bool debug = ov_svc_debug_level(wvcore_svc_handle, 0) != 0;
    const char* p = text;
    std::size_t remaining = std::strlen(text);
    while (remaining > 0) {
        int n = charLength(handle, p, remaining);
        if (n == 0) {
            if (debug)
                ov_svc__debug_utf8_withfile(wvcore_svc_handle, kSourceFile, __LINE__, 0, 1,
                                            "premature end of string");
            return 0;
        }
        if (n < 0) {
            if (debug) debugText(__LINE__, "invalid multibyte hibit-set: %s", p);
            n = 1;
        } else if (n == 1 && !isAllowed[static_cast<unsigned char>(*p)]) {
            if (debug) debugText(__LINE__, "invalid single byte character: %s", p);
            return 0;
        }
        p += n;
        remaining -= static_cast<std::size_t>(n);
    }
    return 1;
}

char* wv_mb_strchr(const char* text, int c) {
    if (text == nullptr || c <= 0 || c > 255) return nullptr;
    Handle handle = zgetUTF8Handle_6_0();
    const char* p = text;
    std::size_t remaining = std::strlen(text);
    while (remaining > 0) {
        int n = charLength(handle, p, remaining);
        if (n == 0) return nullptr;
        if (n < 0) n = 1;  // not a character: compared as a one-byte character
        if (n == 1 && static_cast<unsigned char>(*p) == c) return const_cast<char*>(p);
        p += n;
        remaining -= static_cast<std::size_t>(n);
    }
    return nullptr;
}

int utf8_validchars(const char* text, const char* reject) {
    if (text == nullptr || *text == '\0') return 0;
    // The bytes the text holds, noted on the way: each byte of `reject` is then looked up
    // at once instead of searched for through the whole text.
    bool inText[256] = {};
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if (*p <= 0x1F) return 0;
        inText[*p] = true;
    }
    if (reject == nullptr) return 1;
    for (const unsigned char* r = reinterpret_cast<const unsigned char*>(reject); *r; ++r) {
        if (*r >= 0x80) {
            // A byte of this size is never a character of its own in UTF-8: the caller's
            // list is wrong, and silently finding nothing would hide that.
            try {
                ovutil_internal::traceThrown(kSourceFile, __LINE__, "ZInvalidParameterException");
                ZInvalidParameterException_6_0("reject list holds a byte of 0x80 or above")
                    .throwException(kSourceFile, __LINE__);
            } catch (std::bad_alloc&) {
                // The exception itself could not be built: refuse the text instead, since no
                // other exception may leave this function.
                return 0;
            }
        }
        if (inText[*r]) return 0;
    }
    return 1;
}

char* wv_mbs_patquote2(const char* text, const char* quote) {
    Handle handle = zgetUTF8Handle_6_0();
    CallerSet set(handle, quote);
    return quoteCopy(handle, text, nullptr, &set);
}

char* wv_mbs_patquote(const char* text) {
    return quoteCopy(zgetUTF8Handle_6_0(), text, &fixedSet(kPatQuote), nullptr);
}

char* wv_mbs_nopatquote(const char* text) {
    return quoteCopy(zgetUTF8Handle_6_0(), text, &fixedSet(kNoPatQuote), nullptr);
}

char* wv_mbs_sprintf(const char* format, ...) {
    if (format == nullptr) return nullptr;
    va_list args;
    va_start(args, format);
    char* result = formatQuoted(format, args);
    va_end(args);
    return result;
}

}  // extern "C"
