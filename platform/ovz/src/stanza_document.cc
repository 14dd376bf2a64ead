// The stanza document's look-ups and edits: the records of stanzas, keys and lines, and the
// edits that callers make through them.

#include "stanza_document.h"

#include <cstring>

#include "stanza_text.h"

namespace ovz_stanza {

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
    keys_.push_back(Key{nameOff, nameLen, hash, stanza, kNone, kNone, kNone, s.lastKey, 0});
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
    const uint32_t before = k.prevKey;
    if (before == kNone) {
        s.firstKey = k.nextKey;
    } else {
        keys_[before].nextKey = k.nextKey;
    }
    if (k.nextKey == kNone) {
        s.lastKey = before;
    } else {
        keys_[k.nextKey].prevKey = before;
    }
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

}  // namespace ovz_stanza
