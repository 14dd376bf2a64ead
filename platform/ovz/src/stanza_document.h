// Private: a stanza file held as a document of lines.
//
// The document keeps every line of the file it was parsed from (blank lines, comments,
// headers and `key = value` entries) together with its line ending, so that serialising an
// unchanged document gives back the parsed bytes exactly. An index over the lines answers
// look-ups by stanza and key in O(1) on average; edits touch only the lines they concern.
//
// Text layout rules:
//  - A line ends at '\n'; "\r\n" is kept as the line's ending. The last line may lack one.
//  - Blanks are ' ', '\t', '\v', '\f' and '\r'. A line of blanks only is a blank line.
//  - A comment line starts with '#' after optional blanks.
//  - A UTF-8 byte-order mark at the very start of the file is kept apart from the lines:
//    it is written back at the start of the file whatever edits do.
//  - A header is '[' name ']' after optional blanks, with optional blanks after it and
//    optionally a comment ('#' and the rest of the line); the name ends at the first ']'
//    that only blanks or such a comment follow, and is trimmed of blanks. An empty name is
//    invalid. A stanza may appear in several sections; they form one stanza.
//  - An entry is `key = value`: the key is the text before the first '=', the value the text
//    after it, both trimmed of blanks. The key must not be empty; the value may be empty and
//    may contain '='. A key may repeat: every line is one more value, in file order.
//  - A NUL byte in a header's name or in an entry line is invalid (names and values are
//    handed out as C strings); comment lines may hold any byte.
//  - The comment lines directly above a header or an entry line (no blank line between)
//    form its comment block: they go when the header's stanza goes, or when the entry line
//    goes (its key is deleted, or the value is removed or replaced by setValue).
//
// This class takes no lock and throws nothing but std::bad_alloc; callers validate names,
// values and comments with the check* functions before an edit.
#ifndef OVZ_SRC_STANZA_DOCUMENT_H
#define OVZ_SRC_STANZA_DOCUMENT_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "byte_buffer.h"

namespace ovz_stanza {

// The document's per-line arrays: huge pages where the system offers them (byte_buffer.h).
using ovz_properties::LargeArrayAllocator;

// Open-addressing hash index of record ids (linear probing, backward-shift deletion).
// The owner supplies the hash and the equality test; the table stores ids only.
class IdIndex {
public:
    static constexpr uint32_t kNone = 0xFFFFFFFFu;

    template <class Eq>
    uint32_t find(uint32_t hash, Eq&& eq) const {
        if (slots_.empty()) return kNone;
        for (size_t i = hash & mask_;; i = (i + 1) & mask_) {
            const Slot& s = slots_[i];
            if (s.id == kNone) return kNone;
            if (s.hash == hash && eq(s.id)) return s.id;
        }
    }
    void insert(uint32_t hash, uint32_t id);
    void erase(uint32_t hash, uint32_t id);
    void clear() {
        slots_.clear();
        size_ = 0;
        mask_ = 0;
    }
    void reserve(size_t n);

private:
    struct Slot {
        uint32_t hash;
        uint32_t id;
    };
    void grow(size_t capacity);
    std::vector<Slot> slots_;
    size_t size_ = 0;
    size_t mask_ = 0;
};

class Document {
public:
    static constexpr uint32_t kNone = IdIndex::kNone;

    Document() = default;
    // Lines point into the document's own buffers (a short std::string keeps its bytes inside
    // the object), so a document stays where it was made.
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    struct ParseError {
        size_t line = 0;               // 1-based number of the offending line
        const char* reason = nullptr;  // static English text
    };

    // Replaces the contents with the parse of `bytes`. On invalid data returns false, fills
    // `*error` (the first invalid line) and leaves the document empty. Files of 2 GiB or more
    // are refused. With `every`, parsing goes on past invalid lines and appends each of them
    // to `*every`, in file order, by the same rules.
    bool parse(ovz_properties::ByteBuffer bytes, ParseError* error,
               std::vector<ParseError>* every = nullptr);
    bool parse(std::string_view bytes, ParseError* error, std::vector<ParseError>* every = nullptr);
    void clear();
    std::string serialize() const;
    // Serialises the document in pieces, without holding it whole: fills `buffer` (`size`
    // bytes, at least 1) and hands it to `sink` each time it is full, and the rest at the end.
    // `sink` returns 0 to go on; anything else stops the serialisation and is returned. 0 once
    // every byte went to the sink. Allocates nothing.
    using Sink = int (*)(void* context, const char* data, size_t size);
    int serialize(char* buffer, size_t size, Sink sink, void* context) const;

    // Reads. Names are compared byte for byte. Returned views are valid until the next edit.
    bool hasStanza(std::string_view stanza) const { return findStanza(stanza) != kNone; }
    bool hasKey(std::string_view stanza, std::string_view key) const;
    size_t stanzaCount() const { return liveStanzas_; }
    size_t keyCount(std::string_view stanza) const;
    size_t valueCount(std::string_view stanza) const;  // value lines of all keys of the stanza
    size_t valueCount(std::string_view stanza, std::string_view key) const;
    // The value at `index` (file order) of the key; false when there is none.
    bool value(std::string_view stanza, std::string_view key, size_t index,
               std::string_view* out) const;
    std::vector<std::string_view> values(std::string_view stanza, std::string_view key) const;
    // Key names of the stanza in the order of their first line.
    std::vector<std::string_view> keyNames(std::string_view stanza) const;
    std::vector<std::string_view> stanzaNames() const;
    // One (key, value) pair per entry line of the stanza, in file order.
    std::vector<std::pair<std::string_view, std::string_view>> pairs(std::string_view stanza) const;

    // Edits. REQUIRES: names, values and texts passed the check* functions below and do not
    // point into this document.
    // Replaces the first value of the key in place and removes its other value lines (with
    // their comment blocks); a missing key is added (and a missing stanza appended to the
    // file).
    void setValue(std::string_view stanza, std::string_view key, std::string_view value);
    // Adds one more value after the key's last value line; a new key goes after the last
    // entry of its stanza (or right after the header of a stanza without entries).
    void addValue(std::string_view stanza, std::string_view key, std::string_view value);
    bool deleteKey(std::string_view stanza, std::string_view key);
    // Removes the value at `index` (file order) with its comment block; removing the last
    // value removes the key.
    bool deleteValueAt(std::string_view stanza, std::string_view key, size_t index);
    // Appends "[stanza]" (after a blank line) when the stanza does not exist yet.
    bool addStanza(std::string_view stanza);
    bool deleteStanza(std::string_view stanza);
    // Gives every header of the stanza `from` the name `to`, in place (blanks and a comment
    // after the header stay); its keys and comments stay where they are. False when `from`
    // does not exist or `to` does.
    bool renameStanza(std::string_view from, std::string_view to);
    // Comment lines directly above the (first) header of the stanza / the first line of the
    // key, below the comments already there. False when the stanza or key does not exist.
    bool addStanzaComment(std::string_view stanza, std::string_view text);
    bool addEntryComment(std::string_view stanza, std::string_view key, std::string_view text);
    // Comment lines at the top of the file, after those added before, set off from the
    // rest of the file by a blank line.
    void addFileComment(std::string_view text);

    // Each returns nullptr when the argument may be written, else why not.
    static const char* checkStanzaName(std::string_view name);
    static const char* checkKey(std::string_view key);
    static const char* checkValue(std::string_view value);

    // Splits a comment text into lines at '\n' (a final '\r' of a line and a final empty line
    // are dropped) and makes every line a comment line: a line that does not start with '#'
    // after optional blanks gets "# " in front ("#" for an empty line). Empty text: no lines.
    static std::vector<std::string> commentLines(std::string_view text);

private:
    enum Kind : uint8_t { kBlank, kComment, kHeader, kEntry, kDead };
    // Texts are addressed by 32-bit offsets: into buffer_, or with kExtra set into extra_,
    // which holds the texts of new and rewritten lines. Offsets stay valid while extra_ grows.
    static constexpr uint32_t kExtra = 0x80000000u;

    // Kept small: a document holds one per line of the file.
    struct Line {
        uint32_t off, len;        // text without the line ending
        uint32_t prev, next;      // document order
        uint32_t owner;           // stanza (header) or key (entry)
        uint32_t nextSame;        // next header of the stanza / next value line of the key
        uint32_t valOff, valLen;  // value within the text (entry)
        uint8_t kind;
        uint8_t eol;  // 0: none, 1: "\n", 2: "\r\n"
    };
    struct Stanza {
        uint32_t nameOff, nameLen;
        uint32_t hash;
        uint32_t firstHeader, lastHeader;
        uint32_t firstKey, lastKey;  // key order (first appearance)
        uint32_t keys;
        uint32_t valueLines;
        bool live;
        // The stanza's own key index: parsing a stanza touches a table of its size only, which
        // stays in cache however large the file is.
        IdIndex keyIndex;
    };
    struct Key {
        uint32_t nameOff, nameLen;
        uint32_t hash;    // of the name
        uint32_t stanza;  // kNone once the key is gone
        uint32_t firstLine, lastLine;
        uint32_t nextKey, prevKey;  // the stanza's key order, both ways: a key drops in O(1)
        uint32_t count;
    };

    const char* at(uint32_t off) const {
        return (off & kExtra) ? extra_.data() + (off & ~kExtra) : buffer_.data() + off;
    }
    std::string_view text(const Line& l) const { return std::string_view(at(l.off), l.len); }
    std::string_view valueOf(const Line& l) const {
        return std::string_view(at(l.off) + l.valOff, l.valLen);
    }
    std::string_view nameOf(const Stanza& s) const {
        return std::string_view(at(s.nameOff), s.nameLen);
    }
    std::string_view nameOf(const Key& k) const {
        return std::string_view(at(k.nameOff), k.nameLen);
    }
    uint32_t own(const std::string& text);

    uint32_t findStanza(std::string_view name) const;
    uint32_t findKey(uint32_t stanza, std::string_view key) const;
    uint32_t findKey(std::string_view stanza, std::string_view key) const;
    uint32_t newStanza(uint32_t nameOff, uint32_t nameLen, uint32_t hash);
    uint32_t newKey(uint32_t stanza, uint32_t nameOff, uint32_t nameLen, uint32_t hash);
    // Steps of parse(); parseHeader and parseEntry return nullptr, or the reason the line is refused.
    void reserveForLines();
    const char* parseHeader(const char* s, const char* textEnd, uint32_t id, bool mayHoldNul,
                            Line& line);
    const char* parseEntry(const char* p, const char* s, const char* textEnd, uint32_t id,
                           bool mayHoldNul, uint32_t stanza, Line& line);
    uint32_t ensureStanza(std::string_view name);
    uint32_t newLine(uint32_t off, uint32_t len, Kind kind);
    void linkAfter(uint32_t line, uint32_t after);  // after == kNone: at the head
    void linkBefore(uint32_t line, uint32_t before);
    void unlink(uint32_t line);
    void unlinkCommentBlockAbove(uint32_t line);
    void appendValueLine(uint32_t key, uint32_t line);
    void detachValueLine(uint32_t line);
    void dropKey(uint32_t key);
    uint32_t stanzaAnchor(uint32_t stanza) const;
    void appendEntry(uint32_t stanza, std::string_view key, std::string_view value);
    void setLineValue(uint32_t line, std::string_view value);
    void insertCommentsBefore(uint32_t line, std::string_view text);

    ovz_properties::ByteBuffer buffer_;  // the parsed bytes
    std::string extra_;                  // texts of new and rewritten lines
    std::vector<Line, LargeArrayAllocator<Line>> lines_;
    std::vector<Stanza> stanzas_;
    std::vector<Key, LargeArrayAllocator<Key>> keys_;
    IdIndex stanzaIndex_;
    uint32_t head_ = kNone, tail_ = kNone;
    uint32_t fileCommentTail_ = kNone;
    uint8_t defaultEol_ = 1;
    bool bom_ = false;  // the file starts with a UTF-8 byte-order mark
    size_t liveStanzas_ = 0;
};

// Booleans read true from "yes", "true", "on" and "1", false from "no", "false", "off" and
// "0", ignoring case; anything else is no boolean.
bool parseBoolean(std::string_view text, bool* out);
// Integers: optional sign, then decimal digits or "0x"/"0X" and hex digits. Accepts the range
// of int and of unsigned int (values above INT_MAX wrap to their 32-bit two's complement,
// so "0xFFFFFFFF" reads -1); anything else is no integer.
bool parseInteger(std::string_view text, int* out);

}  // namespace ovz_stanza

#endif
