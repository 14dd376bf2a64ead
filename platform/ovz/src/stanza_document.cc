#include "stanza_document.h"

#include <sys/mman.h>

#include <climits>
#include <cstring>
#include <stdexcept>

namespace ovz_stanza {

namespace {

inline bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

inline std::string_view trim(const char* b, const char* e) {
    while (b < e && isBlank(*b)) ++b;
    while (e > b && isBlank(e[-1])) --e;
    return std::string_view(b, static_cast<size_t>(e - b));
}

inline uint64_t load64(const char* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// A multiply-rotate hash over 8-byte words: names are short, so this stays cheaper than a
// byte-at-a-time hash while spreading well enough for linear probing.
inline uint32_t hashText(std::string_view s) {
    constexpr uint64_t kMul = 0x9E3779B97F4A7C15ull;
    uint64_t h = s.size() * kMul;
    const char* p = s.data();
    size_t n = s.size();
    while (n >= 8) {
        h = (h ^ load64(p)) * kMul;
        h ^= h >> 29;
        p += 8;
        n -= 8;
    }
    if (n > 0) {
        uint64_t t = 0;
        std::memcpy(&t, p, n);
        h = (h ^ t) * kMul;
    }
    h ^= h >> 32;
    h *= 0xD6E8FEB86659FD93ull;
    h ^= h >> 32;
    return static_cast<uint32_t>(h);
}

constexpr std::string_view kEol[] = {"", "\n", "\r\n"};
constexpr std::string_view kBom = "\xEF\xBB\xBF";

// The end of a header's name: the first ']' after `open` that only blanks, or blanks and a
// comment, follow. Null when there is none.
const char* headerClose(const char* open, const char* end) {
    for (const char* c = open + 1;
         (c = static_cast<const char*>(std::memchr(c, ']', static_cast<size_t>(end - c)))); ++c) {
        const char* r = c + 1;
        while (r < end && isBlank(*r)) ++r;
        if (r == end || *r == '#') return c;
    }
    return nullptr;
}

}  // namespace

// ---- large arrays -----------------------------------------------------------------------

namespace {
size_t roundedToLarge(size_t bytes) { return (bytes + kLargeArray - 1) & ~(kLargeArray - 1); }
}  // namespace

void* allocateLarge(size_t bytes) {
    const size_t size = roundedToLarge(bytes);
    // Map one huge page more than needed and cut the mapping down to an aligned range: huge
    // pages need 2 MiB alignment, which mmap does not promise.
    void* p = ::mmap(nullptr, size + kLargeArray, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    const uintptr_t start = reinterpret_cast<uintptr_t>(p);
    const uintptr_t aligned = (start + kLargeArray - 1) & ~(uintptr_t{kLargeArray} - 1);
    if (aligned > start) ::munmap(p, aligned - start);
    const size_t tail = start + size + kLargeArray - (aligned + size);
    if (tail > 0) ::munmap(reinterpret_cast<void*>(aligned + size), tail);
#ifdef MADV_HUGEPAGE
    ::madvise(reinterpret_cast<void*>(aligned), size,
              MADV_HUGEPAGE);  // advice only: failure changes nothing
#endif
    return reinterpret_cast<void*>(aligned);
}

void releaseLarge(void* p, size_t bytes) { ::munmap(p, roundedToLarge(bytes)); }

// ---- IdIndex ----------------------------------------------------------------------------

void IdIndex::grow(size_t capacity) {
    std::vector<Slot> old;
    old.swap(slots_);
    slots_.assign(capacity, Slot{0, kNone});
    mask_ = capacity - 1;
    for (const Slot& s : old) {
        if (s.id == kNone) continue;
        size_t i = s.hash & mask_;
        while (slots_[i].id != kNone) i = (i + 1) & mask_;
        slots_[i] = s;
    }
}

void IdIndex::reserve(size_t n) {
    size_t cap = 16;
    while (cap * 3 < n * 4) cap <<= 1;
    if (cap > slots_.size()) grow(cap);
}

void IdIndex::insert(uint32_t hash, uint32_t id) {
    // A load factor of at most 3/4 keeps probe runs short with a well-mixed hash, and the
    // table small enough to stay in cache for files of ten thousand keys.
    if ((size_ + 1) * 4 > slots_.size() * 3) grow(slots_.empty() ? 16 : slots_.size() * 2);
    size_t i = hash & mask_;
    while (slots_[i].id != kNone) i = (i + 1) & mask_;
    slots_[i] = Slot{hash, id};
    ++size_;
}

void IdIndex::erase(uint32_t hash, uint32_t id) {
    if (slots_.empty()) return;
    size_t i = hash & mask_;
    while (slots_[i].id != id) {
        if (slots_[i].id == kNone) return;
        i = (i + 1) & mask_;
    }
    // Backward-shift: move later members of the probe run into the hole so that no
    // tombstones are needed.
    size_t hole = i;
    for (size_t j = (hole + 1) & mask_; slots_[j].id != kNone; j = (j + 1) & mask_) {
        size_t home = slots_[j].hash & mask_;
        bool movable = (hole <= j) ? (home <= hole || home > j) : (home <= hole && home > j);
        if (movable) {
            slots_[hole] = slots_[j];
            hole = j;
        }
    }
    slots_[hole] = Slot{0, kNone};
    --size_;
}

// ---- parsing and serialising ------------------------------------------------------------

void Document::clear() {
    buffer_.clear();
    extra_.clear();
    lines_.clear();
    stanzas_.clear();
    keys_.clear();
    stanzaIndex_.clear();
    head_ = tail_ = fileCommentTail_ = kNone;
    defaultEol_ = 1;
    bom_ = false;
    liveStanzas_ = 0;
}

// Reserving by the exact line count costs one memchr pass but saves regrowing (and touching
// twice the memory), which costs far more.
void Document::reserveForLines() {
    const char* const end = buffer_.data() + buffer_.size();
    size_t lineCount = 1;
    for (const char* p = buffer_.data();
         (p = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)))); ++p)
        ++lineCount;
    lines_.reserve(lineCount);
    keys_.reserve(lineCount);
}

// A stanza header line: its text [s, textEnd) starts with '['. Makes the line a header of
// its stanza (a new stanza, or one more header of a known one).
const char* Document::parseHeader(const char* s, const char* textEnd, uint32_t id, bool mayHoldNul,
                                  Line& line) {
    const char* close = headerClose(s, textEnd);
    if (!close) return "a stanza header does not end with ']' (or ']' and a comment)";
    if (mayHoldNul && std::memchr(s, '\0', static_cast<size_t>(close - s)))
        return "a stanza header holds a NUL byte";
    std::string_view name = trim(s + 1, close);
    if (name.empty()) return "the stanza name is empty";
    uint32_t h = hashText(name);
    uint32_t st = stanzaIndex_.find(h, [&](uint32_t i) { return nameOf(stanzas_[i]) == name; });
    if (st == kNone) {
        st = newStanza(static_cast<uint32_t>(name.data() - buffer_.data()),
                       static_cast<uint32_t>(name.size()), h);
        stanzas_[st].firstHeader = id;
    } else {
        lines_[stanzas_[st].lastHeader].nextSame = id;
    }
    stanzas_[st].lastHeader = id;
    line.kind = kHeader;
    line.owner = st;
    return nullptr;
}

// A "key = value" line of `stanza` (kNone before the first header): the line starts at `p`,
// its text past leading blanks is [s, textEnd). Makes the line one more value line of its key.
const char* Document::parseEntry(const char* p, const char* s, const char* textEnd, uint32_t id,
                                 bool mayHoldNul, uint32_t stanza, Line& line) {
    const char* eq =
        static_cast<const char*>(std::memchr(s, '=', static_cast<size_t>(textEnd - s)));
    if (!eq) return "the line is neither a comment, a stanza header nor key = value";
    if (mayHoldNul && std::memchr(s, '\0', static_cast<size_t>(textEnd - s)))
        return "a key or value holds a NUL byte";
    if (stanza == kNone) return "a key appears before the first stanza header";
    std::string_view key = trim(s, eq);
    if (key.empty()) return "the key is empty";
    const char* vb = eq + 1;
    const char* ve = textEnd;
    while (vb < ve && isBlank(*vb)) ++vb;
    while (ve > vb && isBlank(ve[-1])) --ve;
    if (vb == ve) vb = ve = eq + 1;  // an empty value sits right after '='
    line.kind = kEntry;
    line.valOff = static_cast<uint32_t>(vb - p);
    line.valLen = static_cast<uint32_t>(ve - vb);
    uint32_t h = hashText(key);
    uint32_t k =
        stanzas_[stanza].keyIndex.find(h, [&](uint32_t i) { return nameOf(keys_[i]) == key; });
    if (k == kNone) {
        k = newKey(stanza, static_cast<uint32_t>(key.data() - buffer_.data()),
                   static_cast<uint32_t>(key.size()), h);
        keys_[k].firstLine = id;
    } else {
        lines_[keys_[k].lastLine].nextSame = id;
    }
    keys_[k].lastLine = id;
    ++keys_[k].count;
    ++stanzas_[stanza].valueLines;
    line.owner = k;
    return nullptr;
}

bool Document::parse(std::string bytes, ParseError* error, std::vector<ParseError>* every) {
    clear();
    // Offsets are 31-bit (the top bit tells the two text buffers apart).
    if (bytes.size() >= 0x7FFFFFF0u) {
        const ParseError tooLarge{1, "the file is 2 GiB or larger"};
        if (error) *error = tooLarge;
        if (every) every->push_back(tooLarge);
        return false;
    }
    buffer_ = std::move(bytes);
    const char* const begin = buffer_.data();
    const char* const end = begin + buffer_.size();
    // A byte-order mark is no part of the first line: it stays at the start of the file
    // whatever happens to that line.
    bom_ = std::string_view(buffer_).substr(0, kBom.size()) == kBom;
    const char* const first = bom_ ? begin + kBom.size() : begin;
    // A NUL byte cannot be part of a name or value (they are handed out as C strings); one
    // search of the whole file spares the per-line search in the usual case of none.
    const bool mayHoldNul = std::memchr(begin, '\0', buffer_.size()) != nullptr;
    reserveForLines();
    bool eolSeen = false;
    uint32_t stanza = kNone;
    uint32_t prev = kNone;
    size_t lineNo = 0;

    for (const char* p = first; p < end;) {
        ++lineNo;
        const char* nl =
            static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        const char* textEnd = nl ? nl : end;
        uint8_t eol = 0;
        if (nl) {
            eol = 1;
            if (nl > p && nl[-1] == '\r') {
                eol = 2;
                --textEnd;
            }
            if (!eolSeen) {
                defaultEol_ = eol;
                eolSeen = true;
            }
        }
        const char* s = p;
        while (s < textEnd && isBlank(*s)) ++s;

        const uint32_t id = static_cast<uint32_t>(lines_.size());
        Line line{static_cast<uint32_t>(p - begin),
                  static_cast<uint32_t>(textEnd - p),
                  prev,
                  kNone,
                  kNone,
                  kNone,
                  0,
                  0,
                  kBlank,
                  eol};
        const char* refused = nullptr;
        if (s == textEnd) {
            line.kind = kBlank;
        } else if (*s == '#') {
            line.kind = kComment;
        } else if (*s == '[') {
            refused = parseHeader(s, textEnd, id, mayHoldNul, line);
            if (!refused) stanza = line.owner;
        } else {
            refused = parseEntry(p, s, textEnd, id, mayHoldNul, stanza, line);
        }
        if (refused) {
            if (!every) {
                clear();
                if (error) *error = ParseError{lineNo, refused};
                return false;
            }
            // Checking the whole file: note the line and go on as if it were a comment. The
            // entries below a refused header belong to a stand-in stanza without a name (no
            // real stanza has one), so that they are not reported as keys before the first
            // header.
            if (every->empty() && error) *error = ParseError{lineNo, refused};
            every->push_back(ParseError{lineNo, refused});
            line.kind = kComment;
            if (*s == '[') {
                stanza = findStanza({});
                if (stanza == kNone) stanza = newStanza(0, 0, hashText({}));
            }
        }
        lines_.push_back(line);
        if (prev != kNone) {
            lines_[prev].next = id;
        } else {
            head_ = id;
        }
        prev = id;
        p = nl ? nl + 1 : end;
    }
    tail_ = prev;
    if (every && !every->empty()) {
        clear();
        return false;
    }
    return true;
}

std::string Document::serialize() const {
    size_t total = bom_ ? kBom.size() : 0;
    for (uint32_t i = head_; i != kNone; i = lines_[i].next) total += lines_[i].len + lines_[i].eol;
    std::string out;
    out.reserve(total);
    if (bom_) out.append(kBom);
    for (uint32_t i = head_; i != kNone; i = lines_[i].next) {
        const Line& l = lines_[i];
        out.append(at(l.off), l.len);
        out.append(kEol[l.eol]);
    }
    return out;
}

// ---- look-ups ---------------------------------------------------------------------------

uint32_t Document::findStanza(std::string_view name) const {
    return stanzaIndex_.find(hashText(name),
                             [&](uint32_t i) { return nameOf(stanzas_[i]) == name; });
}

uint32_t Document::findKey(uint32_t stanza, std::string_view key) const {
    if (stanza == kNone) return kNone;
    return stanzas_[stanza].keyIndex.find(hashText(key),
                                          [&](uint32_t i) { return nameOf(keys_[i]) == key; });
}

uint32_t Document::findKey(std::string_view stanza, std::string_view key) const {
    return findKey(findStanza(stanza), key);
}

bool Document::hasKey(std::string_view stanza, std::string_view key) const {
    return findKey(stanza, key) != kNone;
}

size_t Document::keyCount(std::string_view stanza) const {
    uint32_t s = findStanza(stanza);
    return s == kNone ? 0 : stanzas_[s].keys;
}

size_t Document::valueCount(std::string_view stanza) const {
    uint32_t s = findStanza(stanza);
    return s == kNone ? 0 : stanzas_[s].valueLines;
}

size_t Document::valueCount(std::string_view stanza, std::string_view key) const {
    uint32_t k = findKey(stanza, key);
    return k == kNone ? 0 : keys_[k].count;
}

bool Document::value(std::string_view stanza, std::string_view key, size_t index,
                     std::string_view* out) const {
    uint32_t k = findKey(stanza, key);
    if (k == kNone) return false;
    uint32_t l = keys_[k].firstLine;
    for (; l != kNone && index > 0; --index) l = lines_[l].nextSame;
    if (l == kNone) return false;
    *out = valueOf(lines_[l]);
    return true;
}

std::vector<std::string_view> Document::values(std::string_view stanza,
                                               std::string_view key) const {
    std::vector<std::string_view> out;
    uint32_t k = findKey(stanza, key);
    if (k == kNone) return out;
    for (uint32_t l = keys_[k].firstLine; l != kNone; l = lines_[l].nextSame)
        out.push_back(valueOf(lines_[l]));
    return out;
}

std::vector<std::string_view> Document::keyNames(std::string_view stanza) const {
    std::vector<std::string_view> out;
    uint32_t s = findStanza(stanza);
    if (s == kNone) return out;
    for (uint32_t k = stanzas_[s].firstKey; k != kNone; k = keys_[k].nextKey)
        out.push_back(nameOf(keys_[k]));
    return out;
}

std::vector<std::string_view> Document::stanzaNames() const {
    std::vector<std::string_view> out;
    for (const Stanza& s : stanzas_)
        if (s.live) out.push_back(nameOf(s));
    return out;
}

std::vector<std::pair<std::string_view, std::string_view>> Document::pairs(
    std::string_view stanza) const {
    std::vector<std::pair<std::string_view, std::string_view>> out;
    uint32_t s = findStanza(stanza);
    if (s == kNone) return out;
    out.reserve(stanzas_[s].valueLines);
    // Walk each section of the stanza from its header to the next header.
    for (uint32_t h = stanzas_[s].firstHeader; h != kNone; h = lines_[h].nextSame) {
        for (uint32_t l = lines_[h].next; l != kNone && lines_[l].kind != kHeader;
             l = lines_[l].next) {
            if (lines_[l].kind == kEntry)
                out.emplace_back(nameOf(keys_[lines_[l].owner]), valueOf(lines_[l]));
        }
    }
    return out;
}

// ---- record and line management ---------------------------------------------------------

uint32_t Document::own(const std::string& text) {
    if (extra_.size() + text.size() >= kExtra)
        throw std::length_error("stanza document edits exceed 2 GiB");
    uint32_t off = static_cast<uint32_t>(extra_.size()) | kExtra;
    extra_.append(text);
    return off;
}

uint32_t Document::newStanza(uint32_t nameOff, uint32_t nameLen, uint32_t hash) {
    uint32_t id = static_cast<uint32_t>(stanzas_.size());
    stanzas_.push_back(
        Stanza{nameOff, nameLen, hash, kNone, kNone, kNone, kNone, 0, 0, true, IdIndex()});
    stanzaIndex_.insert(hash, id);
    ++liveStanzas_;
    return id;
}

uint32_t Document::newKey(uint32_t stanza, uint32_t nameOff, uint32_t nameLen, uint32_t hash) {
    uint32_t id = static_cast<uint32_t>(keys_.size());
    Stanza& s = stanzas_[stanza];
    keys_.push_back(Key{nameOff, nameLen, hash, stanza, kNone, kNone, kNone, 0});
    if (s.lastKey != kNone) {
        keys_[s.lastKey].nextKey = id;
    } else {
        s.firstKey = id;
    }
    s.lastKey = id;
    ++s.keys;
    s.keyIndex.insert(hash, id);
    return id;
}

uint32_t Document::newLine(uint32_t off, uint32_t len, Kind kind) {
    uint32_t id = static_cast<uint32_t>(lines_.size());
    lines_.push_back(Line{off, len, kNone, kNone, kNone, kNone, 0, 0, kind, defaultEol_});
    return id;
}

void Document::linkAfter(uint32_t line, uint32_t after) {
    Line& l = lines_[line];
    if (after == kNone) {
        l.prev = kNone;
        l.next = head_;
        if (head_ != kNone) {
            lines_[head_].prev = line;
        } else {
            tail_ = line;
        }
        head_ = line;
        return;
    }
    Line& a = lines_[after];
    if (a.eol == 0) {
        // The new line follows what used to be the unterminated last line: it takes over the
        // missing terminator so that the file keeps its style.
        a.eol = defaultEol_;
        l.eol = 0;
    }
    l.prev = after;
    l.next = a.next;
    if (a.next != kNone) {
        lines_[a.next].prev = line;
    } else {
        tail_ = line;
    }
    a.next = line;
}

void Document::linkBefore(uint32_t line, uint32_t before) { linkAfter(line, lines_[before].prev); }

void Document::unlink(uint32_t line) {
    Line& l = lines_[line];
    if (l.kind == kDead) return;
    l.kind = kDead;
    if (l.prev != kNone) {
        lines_[l.prev].next = l.next;
    } else {
        head_ = l.next;
    }
    if (l.next != kNone) {
        lines_[l.next].prev = l.prev;
    } else {
        tail_ = l.prev;
        if (l.eol == 0 && tail_ != kNone) lines_[tail_].eol = 0;
    }
    if (fileCommentTail_ == line) fileCommentTail_ = l.prev;
}

void Document::unlinkCommentBlockAbove(uint32_t line) {
    uint32_t c = lines_[line].prev;
    while (c != kNone && lines_[c].kind == kComment) {
        uint32_t up = lines_[c].prev;
        unlink(c);
        c = up;
    }
}

void Document::appendValueLine(uint32_t key, uint32_t line) {
    Key& k = keys_[key];
    lines_[line].owner = key;
    lines_[line].nextSame = kNone;
    if (k.lastLine == kNone) {
        k.firstLine = line;
    } else {
        lines_[k.lastLine].nextSame = line;
    }
    k.lastLine = line;
    ++k.count;
    ++stanzas_[k.stanza].valueLines;
}

void Document::detachValueLine(uint32_t line) {
    Key& k = keys_[lines_[line].owner];
    uint32_t before = kNone;
    for (uint32_t l = k.firstLine; l != line; l = lines_[l].nextSame) before = l;
    uint32_t after = lines_[line].nextSame;
    if (before == kNone) {
        k.firstLine = after;
    } else {
        lines_[before].nextSame = after;
    }
    if (after == kNone) k.lastLine = before;
    --k.count;
    --stanzas_[k.stanza].valueLines;
    // The comment lines directly above a value line are that line's: they go with it.
    unlinkCommentBlockAbove(line);
    unlink(line);
}

void Document::dropKey(uint32_t key) {
    Key& k = keys_[key];
    Stanza& s = stanzas_[k.stanza];
    uint32_t before = kNone;
    for (uint32_t i = s.firstKey; i != key; i = keys_[i].nextKey) before = i;
    if (before == kNone) {
        s.firstKey = k.nextKey;
    } else {
        keys_[before].nextKey = k.nextKey;
    }
    if (s.lastKey == key) s.lastKey = before;
    --s.keys;
    s.keyIndex.erase(k.hash, key);
    k.stanza = kNone;
}

uint32_t Document::ensureStanza(std::string_view name) {
    uint32_t s = findStanza(name);
    if (s != kNone) return s;
    addStanza(name);
    return findStanza(name);
}

// Where a new key of the stanza goes: after the last entry line of its last section, or
// after that section's header when the section holds no entry.
uint32_t Document::stanzaAnchor(uint32_t stanza) const {
    uint32_t h = stanzas_[stanza].lastHeader;
    uint32_t anchor = h;
    for (uint32_t l = lines_[h].next; l != kNone && lines_[l].kind != kHeader; l = lines_[l].next)
        if (lines_[l].kind == kEntry) anchor = l;
    return anchor;
}

// Adds the line "key = value" after the key's last value (or, for a new key, after the
// stanza's anchor).
void Document::appendEntry(uint32_t stanza, std::string_view key, std::string_view value) {
    std::string text;
    text.reserve(key.size() + value.size() + 3);
    text.append(key);
    text.append(value.empty() ? " =" : " = ");
    text.append(value);
    const uint32_t valOff = static_cast<uint32_t>(value.empty() ? key.size() + 2 : key.size() + 3);
    const uint32_t nameLen = static_cast<uint32_t>(key.size());
    uint32_t k = findKey(stanza, key);
    const uint32_t off = own(text);  // `key` and `value` may not be used after this
    uint32_t line = newLine(off, static_cast<uint32_t>(text.size()), kEntry);
    lines_[line].valOff = valOff;
    lines_[line].valLen = static_cast<uint32_t>(text.size() - valOff);
    if (k == kNone) {
        linkAfter(line, stanzaAnchor(stanza));
        k = newKey(stanza, off, nameLen, hashText(std::string_view(at(off), nameLen)));
    } else {
        linkAfter(line, keys_[k].lastLine);
    }
    appendValueLine(k, line);
}

// Rewrites the value of one entry line, keeping what precedes the value (indentation,
// spacing around '=') and what follows it.
void Document::setLineValue(uint32_t line, std::string_view value) {
    std::string_view old = text(lines_[line]);
    const uint32_t valOff = lines_[line].valOff, valLen = lines_[line].valLen;
    std::string prefix(old.substr(0, valOff));
    std::string_view suffix = old.substr(valOff + valLen);
    if (valLen == 0) {
        // "key =" or "key = ": put a space after '=' when the key side has one before it.
        while (!prefix.empty() && isBlank(prefix.back())) prefix.pop_back();
        size_t eq = prefix.size() - 1;
        if (!value.empty() && eq > 0 && isBlank(prefix[eq - 1])) prefix.push_back(' ');
        suffix = std::string_view();
    } else if (value.empty()) {
        while (!prefix.empty() && isBlank(prefix.back())) prefix.pop_back();
        suffix = std::string_view();
    }
    std::string out = prefix;
    out.append(value);
    out.append(suffix);
    const uint32_t off = own(out);
    Line& l = lines_[line];
    l.off = off;
    l.len = static_cast<uint32_t>(out.size());
    l.valOff = static_cast<uint32_t>(prefix.size());
    l.valLen = static_cast<uint32_t>(value.size());
}

// ---- edits ------------------------------------------------------------------------------

void Document::setValue(std::string_view stanza, std::string_view key, std::string_view value) {
    uint32_t s = ensureStanza(stanza);
    uint32_t k = findKey(s, key);
    if (k == kNone) {
        appendEntry(s, key, value);
        return;
    }
    uint32_t first = keys_[k].firstLine;
    while (keys_[k].lastLine != first) detachValueLine(keys_[k].lastLine);
    setLineValue(first, value);
}

void Document::addValue(std::string_view stanza, std::string_view key, std::string_view value) {
    appendEntry(ensureStanza(stanza), key, value);
}

bool Document::deleteKey(std::string_view stanza, std::string_view key) {
    uint32_t k = findKey(stanza, key);
    if (k == kNone) return false;
    for (uint32_t l = keys_[k].firstLine; l != kNone;) {
        uint32_t next = lines_[l].nextSame;
        unlinkCommentBlockAbove(l);
        unlink(l);
        --stanzas_[keys_[k].stanza].valueLines;
        l = next;
    }
    keys_[k].firstLine = keys_[k].lastLine = kNone;
    keys_[k].count = 0;
    dropKey(k);
    return true;
}

bool Document::deleteValueAt(std::string_view stanza, std::string_view key, size_t index) {
    uint32_t k = findKey(stanza, key);
    if (k == kNone) return false;
    if (keys_[k].count == 1) return index == 0 && deleteKey(stanza, key);
    uint32_t l = keys_[k].firstLine;
    for (; l != kNone && index > 0; --index) l = lines_[l].nextSame;
    if (l == kNone) return false;
    detachValueLine(l);
    return true;
}

bool Document::addStanza(std::string_view stanza) {
    if (findStanza(stanza) != kNone) return false;
    if (tail_ != kNone && lines_[tail_].kind != kBlank) linkAfter(newLine(0, 0, kBlank), tail_);
    std::string header;
    header.reserve(stanza.size() + 2);
    header.push_back('[');
    header.append(stanza);
    header.push_back(']');
    const uint32_t off = own(header);  // `stanza` may not be used after this
    const uint32_t nameLen = static_cast<uint32_t>(header.size() - 2);
    uint32_t s = newStanza(off + 1, nameLen, hashText(std::string_view(at(off + 1), nameLen)));
    uint32_t line = newLine(off, static_cast<uint32_t>(header.size()), kHeader);
    lines_[line].owner = s;
    linkAfter(line, tail_);
    stanzas_[s].firstHeader = stanzas_[s].lastHeader = line;
    return true;
}

bool Document::deleteStanza(std::string_view stanza) {
    uint32_t s = findStanza(stanza);
    if (s == kNone) return false;
    for (uint32_t h = stanzas_[s].firstHeader; h != kNone;) {
        uint32_t nextHeader = lines_[h].nextSame;
        // The section runs to the next header; the comments directly above that header are
        // the next stanza's.
        uint32_t stop = lines_[h].next;
        while (stop != kNone && lines_[stop].kind != kHeader) stop = lines_[stop].next;
        uint32_t last = stop == kNone ? tail_ : lines_[stop].prev;
        if (stop != kNone)
            while (last != h && lines_[last].kind == kComment) last = lines_[last].prev;
        unlinkCommentBlockAbove(h);
        for (uint32_t l = h;;) {
            uint32_t next = lines_[l].next;
            bool done = l == last;
            unlink(l);
            if (done) break;
            l = next;
        }
        h = nextHeader;
    }
    for (uint32_t k = stanzas_[s].firstKey; k != kNone;) {
        uint32_t next = keys_[k].nextKey;
        keys_[k].stanza = kNone;
        k = next;
    }
    stanzaIndex_.erase(stanzas_[s].hash, s);
    stanzas_[s].keyIndex.clear();
    stanzas_[s].live = false;
    --liveStanzas_;
    return true;
}

bool Document::renameStanza(std::string_view from, std::string_view to) {
    uint32_t s = findStanza(from);
    if (s == kNone || findStanza(to) != kNone) return false;
    const std::string name(to);
    for (uint32_t h = stanzas_[s].firstHeader; h != kNone; h = lines_[h].nextSame) {
        // Only the name changes: blanks around it and a comment after the header stay. The
        // old text is copied first, since own() may move the buffer it lies in.
        const std::string old(text(lines_[h]));
        const char* b = old.data();
        const char* e = b + old.size();
        const char* open = b;
        while (open < e && isBlank(*open)) ++open;
        std::string_view oldName = trim(open + 1, headerClose(open, e));
        const size_t at = static_cast<size_t>(oldName.data() - b);
        std::string renamed = old.substr(0, at);
        renamed.append(name);
        renamed.append(old, at + oldName.size(), std::string::npos);
        lines_[h].off = own(renamed);
        lines_[h].len = static_cast<uint32_t>(renamed.size());
    }
    stanzaIndex_.erase(stanzas_[s].hash, s);
    stanzas_[s].nameOff = own(name);
    stanzas_[s].nameLen = static_cast<uint32_t>(name.size());
    stanzas_[s].hash = hashText(name);
    stanzaIndex_.insert(stanzas_[s].hash, s);
    return true;
}

void Document::insertCommentsBefore(uint32_t line, std::string_view text) {
    for (const std::string& c : commentLines(text))
        linkBefore(newLine(own(c), static_cast<uint32_t>(c.size()), kComment), line);
}

bool Document::addStanzaComment(std::string_view stanza, std::string_view text) {
    uint32_t s = findStanza(stanza);
    if (s == kNone) return false;
    insertCommentsBefore(stanzas_[s].firstHeader, text);
    return true;
}

bool Document::addEntryComment(std::string_view stanza, std::string_view key,
                               std::string_view text) {
    uint32_t k = findKey(stanza, key);
    if (k == kNone) return false;
    insertCommentsBefore(keys_[k].firstLine, text);
    return true;
}

void Document::addFileComment(std::string_view text) {
    std::vector<std::string> lines = commentLines(text);
    if (lines.empty()) return;
    bool first = fileCommentTail_ == kNone;
    uint32_t after = fileCommentTail_;
    for (const std::string& c : lines) {
        uint32_t l = newLine(own(c), static_cast<uint32_t>(c.size()), kComment);
        linkAfter(l, after);
        after = l;
    }
    fileCommentTail_ = after;
    // A blank line keeps the file comment from reading as the comment block of whatever
    // follows it.
    uint32_t next = lines_[after].next;
    if (first && next != kNone && lines_[next].kind != kBlank)
        linkAfter(newLine(0, 0, kBlank), after);
}

// ---- validation and value syntax --------------------------------------------------------

namespace {
bool hasLineBreak(std::string_view s) {
    return s.find('\n') != std::string_view::npos || s.find('\r') != std::string_view::npos;
}
bool hasOuterBlank(std::string_view s) {
    return !s.empty() && (isBlank(s.front()) || isBlank(s.back()));
}
}  // namespace

const char* Document::checkStanzaName(std::string_view name) {
    if (name.empty()) return "the stanza name is empty";
    if (hasLineBreak(name)) return "the stanza name holds a line break";
    if (hasOuterBlank(name)) return "the stanza name starts or ends with a blank";
    // "[a] # b]" reads back as the stanza "a" followed by a comment.
    std::string header = "[";
    header.append(name);
    header.push_back(']');
    if (headerClose(header.data(), header.data() + header.size()) !=
        header.data() + header.size() - 1)
        return "the stanza name holds ']' followed by a comment";
    return nullptr;
}

const char* Document::checkKey(std::string_view key) {
    if (key.empty()) return "the key is empty";
    if (hasLineBreak(key)) return "the key holds a line break";
    if (hasOuterBlank(key)) return "the key starts or ends with a blank";
    if (key.find('=') != std::string_view::npos) return "the key holds '='";
    if (key.front() == '#' || key.front() == '[') return "the key starts with '#' or '['";
    return nullptr;
}

const char* Document::checkValue(std::string_view value) {
    if (hasLineBreak(value)) return "the value holds a line break";
    if (hasOuterBlank(value)) return "the value starts or ends with a blank";
    return nullptr;
}

std::vector<std::string> Document::commentLines(std::string_view text) {
    std::vector<std::string> out;
    if (text.empty()) return out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string_view::npos) nl = text.size();
        std::string_view piece = text.substr(start, nl - start);
        if (!piece.empty() && piece.back() == '\r') piece.remove_suffix(1);
        if (nl == text.size() && piece.empty() && start > 0) break;  // text ended in a line break
        size_t b = 0;
        while (b < piece.size() && isBlank(piece[b])) ++b;
        if (b < piece.size() && piece[b] == '#') {
            out.emplace_back(piece);
        } else if (piece.empty()) {
            out.emplace_back("#");
        } else {
            std::string line("# ");
            line.append(piece);
            out.push_back(std::move(line));
        }
        start = nl + 1;
    }
    return out;
}

bool parseBoolean(std::string_view text, bool* out) {
    auto is = [&](std::string_view word) {
        if (text.size() != word.size()) return false;
        for (size_t i = 0; i < word.size(); ++i) {
            char c = text[i];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            if (c != word[i]) return false;
        }
        return true;
    };
    if (is("yes") || is("true") || is("on") || is("1")) {
        *out = true;
        return true;
    }
    if (is("no") || is("false") || is("off") || is("0")) {
        *out = false;
        return true;
    }
    return false;
}

bool parseInteger(std::string_view text, int* out) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    unsigned base = 10;
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == text.size()) return false;
    uint64_t v = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        unsigned d;
        if (c >= '0' && c <= '9') {
            d = static_cast<unsigned>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            d = static_cast<unsigned>(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            d = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return false;
        }
        if (d >= base) return false;
        v = v * base + d;
        if (v > UINT_MAX) return false;
    }
    if (negative) {
        if (v > static_cast<uint64_t>(INT_MAX) + 1) return false;
        *out = static_cast<int>(-static_cast<int64_t>(v));
    } else {
        *out = static_cast<int>(static_cast<uint32_t>(v));
    }
    return true;
}

}  // namespace ovz_stanza
