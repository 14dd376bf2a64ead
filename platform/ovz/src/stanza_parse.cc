// The stanza document's parser and serialiser, and the syntax of names, values and comments
// that callers check before an edit.

#include "stanza_document.h"

#include <climits>
#include <cstring>

#include "stanza_text.h"

namespace ovz_stanza {

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
    if (buffer_.empty()) return;  // its data() may be null, which memchr must not get
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

bool Document::parse(std::string_view bytes, ParseError* error, std::vector<ParseError>* every) {
    return parse(ovz_properties::ByteBuffer(bytes.begin(), bytes.end()), error, every);
}

bool Document::parse(ovz_properties::ByteBuffer bytes, ParseError* error,
                     std::vector<ParseError>* every) {
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
    bom_ = std::string_view(begin, buffer_.size()).substr(0, kBom.size()) == kBom;
    const char* const first = bom_ ? begin + kBom.size() : begin;
    // A NUL byte cannot be part of a name or value (they are handed out as C strings); one
    // search of the whole file spares the per-line search in the usual case of none.
    const bool mayHoldNul = !buffer_.empty() && std::memchr(begin, '\0', buffer_.size()) != nullptr;
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
        // A line without text may point into an empty buffer, whose data() is null.
        if (l.len != 0) out.append(at(l.off), l.len);
        out.append(kEol[l.eol]);
    }
    return out;
}

namespace {
// Copies text into a bounded buffer, handing each full buffer to the sink.
class ChunkWriter {
public:
    ChunkWriter(char* buffer, size_t size, Document::Sink sink, void* context)
        : begin_(buffer), at_(buffer), end_(buffer + size), sink_(sink), context_(context) {}
    // `p` may be null when `n` is 0 (a line without text in an empty buffer).
    int append(const char* p, size_t n) {
        if (n == 0) return 0;
        while (n > static_cast<size_t>(end_ - at_)) {
            const size_t room = static_cast<size_t>(end_ - at_);
            std::memcpy(at_, p, room);
            at_ = end_;
            p += room;
            n -= room;
            if (int err = flush()) return err;
        }
        std::memcpy(at_, p, n);
        at_ += n;
        return 0;
    }
    int flush() {
        const size_t n = static_cast<size_t>(at_ - begin_);
        at_ = begin_;
        return n ? sink_(context_, begin_, n) : 0;
    }

private:
    char* const begin_;
    char* at_;
    char* const end_;
    Document::Sink sink_;
    void* context_;
};
}  // namespace

int Document::serialize(char* buffer, size_t size, Sink sink, void* context) const {
    ChunkWriter out(buffer, size, sink, context);
    if (bom_)
        if (int err = out.append(kBom.data(), kBom.size())) return err;
    for (uint32_t i = head_; i != kNone; i = lines_[i].next) {
        const Line& l = lines_[i];
        if (int err = out.append(at(l.off), l.len)) return err;
        if (int err = out.append(kEol[l.eol].data(), kEol[l.eol].size())) return err;
    }
    return out.flush();
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
