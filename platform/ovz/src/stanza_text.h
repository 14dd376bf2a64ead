// Private: the text helpers that the stanza document's parser and its edits share (blanks,
// trimming, where a header's name ends, the hash of names in its indexes, line endings).
#ifndef OVZ_SRC_STANZA_TEXT_H
#define OVZ_SRC_STANZA_TEXT_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "hash_bytes.h"

namespace ovz_stanza {

inline bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

inline std::string_view trim(const char* b, const char* e) {
    while (b < e && isBlank(*b)) ++b;
    while (e > b && isBlank(e[-1])) --e;
    return std::string_view(b, static_cast<size_t>(e - b));
}

// The hash of a name in the document's indexes: the object library's keyed text hash (see
// hash_bytes.h), so that a file's keys cannot be chosen to collide in them.
inline uint32_t hashText(std::string_view s) {
    return static_cast<uint32_t>(
        ovz_internal::hashBytes(reinterpret_cast<const unsigned char*>(s.data()), s.size()));
}

// A line's ending by its eol index, and the UTF-8 byte-order mark kept apart from the lines.
inline constexpr std::string_view kEol[] = {"", "\n", "\r\n"};
inline constexpr std::string_view kBom = "\xEF\xBB\xBF";

// The end of a header's name: the first ']' after `open` that only blanks, or blanks and a
// comment, follow. Null when there is none.
inline const char* headerClose(const char* open, const char* end) {
    for (const char* c = open + 1;
         (c = static_cast<const char*>(std::memchr(c, ']', static_cast<size_t>(end - c)))); ++c) {
        const char* r = c + 1;
        while (r < end && isBlank(*r)) ++r;
        if (r == end || *r == '#') return c;
    }
    return nullptr;
}

}  // namespace ovz_stanza

#endif  // OVZ_SRC_STANZA_TEXT_H
