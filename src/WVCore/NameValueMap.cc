// NameValueMap and NameValueEntry: the model, its readers and its writers.
//
// Keys are ZUTF8String_6_0 strings made from the bytes of the name in the map's own key store
// (getOrPutText), whether a caller gave the name or the decoder read it; a map assigned from
// another holds clones of its keys. Look-ups hand the map the bytes of the caller's text
// (getTextEntry), which it hashes and compares with the stored keys' bytes as the string
// classes would, so no probe copies the name or calls through a key's virtual operations.
//
// A set of a text over a value that is a ZUTF8String_6_0 assigns the text to that string
// (setString): no new object, and the string keeps the room it has when the text fits there.

#include <ovutil/NameValueMap.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <ovz/exceptions.h>

#include "internal/NameValueMapText.h"
#include "internal/objectlib.h"

namespace {

// The text form of an unsigned number, "%u".
struct DecimalText {
    explicit DecimalText(unsigned int value) { snprintf(text, sizeof text, "%u", value); }
    char text[16];
};

const char* flagText(int flag) { return flag != 0 ? "true" : "false"; }

}  // namespace

// ---- NameValueEntry ----

NameValueEntry::NameValueEntry() : values(1, 1) {}
NameValueEntry::NameValueEntry(const NameValueEntry& other) = default;
NameValueEntry& NameValueEntry::operator=(const NameValueEntry& other) = default;
NameValueEntry::~NameValueEntry() = default;

ZObject_6_0* NameValueEntry::clone() const { return new NameValueEntry(*this); }

// ---- NameValueMap: construction ----

// ---- NameValueMap: copy and teardown of nested maps ----
//
// A map built through the API may be nested to any depth (the wire stops at
// OV_ASN_MAX_DEPTH, the API does not), so neither the copy nor the destructor recurses into
// subtrees: the copy keeps the maps still to fill on a heap stack, and the destructor empties
// the deepest maps first along a path of bounded length.

class __attribute__((visibility("hidden"))) NameValueMap::Walk {
public:
    struct Pending {
        const NameValueMap* from;
        NameValueMap* to;
    };

    // Fills the empty map `to` with copies of the entries of `from`, in its listing order:
    // each key, each entry with clones of its values and an empty subtree; the subtrees that
    // hold names are left on `pending` for the caller to fill in turn.
    static void copyLevel(const NameValueMap& from, NameValueMap& to,
                          ovutil_internal::WorkStack<Pending>& pending) {
        unsigned long count = 0;
        const ZHashKeyMap_6_0::Entry* entries = ovutil_internal::entriesOf(from.map_, count);
        ovutil_internal::reserveEntries(to.map_, from.map_.size());
        for (unsigned long i = 0; i < count; ++i) {
            if (entries[i].key == nullptr) continue;  // a removed entry's place
            const auto* source = static_cast<const NameValueEntry*>(entries[i].value);
            std::unique_ptr<NameValueEntry> made(new NameValueEntry);
            made->values = source->values;
            // Every key of a map is a ZUTF8String_6_0 (the clone of the view it was found
            // with, or one made from decoded bytes).
            std::size_t n = 0;
            const char* bytes =
                ovutil_internal::bytesOf(*static_cast<const ZUTF8String_6_0*>(entries[i].key), n);
            auto* entry = static_cast<NameValueEntry*>(
                ovutil_internal::getOrPutText(to.map_, bytes, n, made.release()));
            if (source->subtree.map_.size() != 0) pending.push({&source->subtree, &entry->subtree});
        }
    }

    // The subtree of the first entry of `map`, from `next` on, whose subtree holds a name;
    // null when there is none. `next` moves past it.
    static NameValueMap* nextNested(NameValueMap& map, unsigned long& next) {
        unsigned long count = 0;
        const ZHashKeyMap_6_0::Entry* entries = ovutil_internal::entriesOf(map.map_, count);
        for (; next < count; ++next) {
            if (entries[next].value == nullptr) continue;
            auto* entry = static_cast<NameValueEntry*>(entries[next].value);
            if (ovutil_internal::mayHoldEntries(entry->subtree.map_) &&
                entry->subtree.map_.size() != 0) {
                ++next;
                return &entry->subtree;
            }
        }
        return nullptr;
    }

    // Whether `map` has maps two levels below it (a subtree whose entries have subtrees that
    // were ever filled). A map without them is destroyed by its entries' destructors at a
    // recursion of two levels, which needs no walk: this test is all that most maps cost.
    static bool nestedTwice(const NameValueMap& map) {
        if (!ovutil_internal::mayHoldEntries(map.map_)) return false;
        unsigned long count = 0;
        const ZHashKeyMap_6_0::Entry* entries = ovutil_internal::entriesOf(map.map_, count);
        for (unsigned long i = 0; i < count; ++i) {
            if (entries[i].value == nullptr) continue;
            const NameValueMap& below =
                static_cast<const NameValueEntry*>(entries[i].value)->subtree;
            if (!ovutil_internal::mayHoldEntries(below.map_)) continue;
            unsigned long n = 0;
            const ZHashKeyMap_6_0::Entry* lower = ovutil_internal::entriesOf(below.map_, n);
            for (unsigned long j = 0; j < n; ++j) {
                if (lower[j].value != nullptr &&
                    ovutil_internal::mayHoldEntries(
                        static_cast<const NameValueEntry*>(lower[j].value)->subtree.map_))
                    return true;
            }
        }
        return false;
    }

    // Empties every subtree below `root`, deepest first, so that what is left to delete is
    // one level of entries whose subtrees are empty. The path from `root` down to the map
    // being emptied is kept on the stack while it is short and on the heap beyond. Without
    // memory for a longer path, the path keeps its deeper part, and once that is emptied the
    // walk starts again from `root` (emptied subtrees are passed over at once): slower, but
    // a destructor cannot fail.
    __attribute__((noinline)) static void emptyBelow(NameValueMap& root) noexcept {
        struct Step {
            NameValueMap* map;
            unsigned long next;  // where the search for a nested subtree goes on
        };
        constexpr std::size_t kOnStack = 64;
        Step onStack[kOnStack];
        Step* path = onStack;
        std::size_t room = kOnStack;
        std::size_t depth = 0;
        path[0] = {&root, 0};
        for (;;) {
            NameValueMap* nested = nextNested(*path[depth].map, path[depth].next);
            if (nested != nullptr) {
                if (depth + 1 == room) {
                    Step* grown = static_cast<Step*>(
                        path == onStack ? std::malloc(2 * room * sizeof(Step))
                                        : std::realloc(path, 2 * room * sizeof(Step)));
                    if (grown != nullptr) {
                        if (path == onStack) std::memcpy(grown, onStack, sizeof onStack);
                        path = grown;
                        room *= 2;
                    } else {
                        std::memmove(path, path + room / 2, room / 2 * sizeof(Step));
                        depth -= room / 2;
                    }
                }
                path[++depth] = {nested, 0};
                continue;
            }
            NameValueMap* const done = path[depth].map;
            if (done == &root) break;
            // Every entry of `done` has an empty subtree: deleting them recurses no further.
            done->map_.removeAll();
            if (depth > 0) {
                --depth;
            } else {
                path[0] = {&root, 0};
            }
        }
        if (path != onStack) std::free(path);
    }
};

NameValueMap::NameValueMap() : map_(1, 1) {}

NameValueMap::NameValueMap(const NameValueMap& other) : ZObject_6_0(other), map_(1, 1) {
    // On an exception the members' destructors delete what was copied (without recursion).
    ovutil_internal::WorkStack<Walk::Pending> pending;
    Walk::copyLevel(other, *this, pending);
    while (!pending.empty()) {
        const Walk::Pending level = pending.top();
        pending.pop();
        Walk::copyLevel(*level.from, *level.to, pending);
    }
}

NameValueMap::NameValueMap(const attrlist_s_t& list) : map_(1, 1) {
    if (list.attrs == nullptr) return;
    for (unsigned int i = 0; i < list.count; ++i) addNameValue(list.attrs[i]);
}

NameValueMap::NameValueMap(const namevalue_s_t& record) : map_(1, 1) { addNameValue(record); }

NameValueMap::~NameValueMap() {
    if (Walk::nestedTwice(*this)) Walk::emptyBelow(*this);
}

NameValueMap& NameValueMap::operator=(const NameValueMap& other) {
    if (this != &other) map_ = other.map_;
    return *this;
}

ZObject_6_0* NameValueMap::clone() const { return new NameValueMap(*this); }

// ---- Entries ----

NameValueEntry* NameValueMap::findEntry(const char* name) const {
    const char* const text = name != nullptr ? name : "";
    return static_cast<NameValueEntry*>(
        ovutil_internal::getTextEntry(map_, text, std::strlen(text)));
}

NameValueEntry* NameValueMap::findOrCreateEntry(const char* name) {
    const char* const text = name != nullptr ? name : "";
    const std::size_t n = std::strlen(text);
    // A name that is there (the usual case of a set) is found by its bytes alone.
    auto* entry = static_cast<NameValueEntry*>(ovutil_internal::getTextEntry(map_, text, n));
    if (entry != nullptr) return entry;
    // An absent name gets a fresh empty entry (its list and subtree allocate nothing until
    // they are filled) under a key that the map makes from the bytes in its own key store,
    // as for the names the decoder reads; the map owns the entry from the call on.
    return static_cast<NameValueEntry*>(
        ovutil_internal::getOrPutText(map_, text, n, new NameValueEntry));
}

// ---- Reading ----

void NameValueMap::getNames(ZArrayList_6_0& out) const { map_.listKeys(out); }

ZArrayList_6_0* NameValueMap::getValues(const char* name) const {
    NameValueEntry* entry = findEntry(name);
    return entry != nullptr ? &entry->values : nullptr;
}

ZObject_6_0* NameValueMap::getValue(const char* name, unsigned int index) const {
    NameValueEntry* entry = findEntry(name);
    return entry != nullptr ? entry->values.get(index) : nullptr;
}

ZUTF8String_6_0* NameValueMap::getString(const char* name, unsigned int index) const {
    return ovutil_internal::asUTF8String(getValue(name, index));
}

unsigned int NameValueMap::getValueCount(const char* name) const {
    NameValueEntry* entry = findEntry(name);
    return entry != nullptr ? static_cast<unsigned int>(entry->values.size()) : 0;
}

unsigned int NameValueMap::getValueCount() const {
    // The entries read in place: no list of them is made, so counting allocates nothing.
    unsigned long count = 0;
    const ZHashKeyMap_6_0::Entry* entries = ovutil_internal::entriesOf(map_, count);
    unsigned long total = 0;
    for (unsigned long i = 0; i < count; ++i) {
        if (entries[i].value == nullptr) continue;  // a removed entry's place
        total += static_cast<const NameValueEntry*>(entries[i].value)->values.size();
    }
    return static_cast<unsigned int>(total);
}

NameValueMap* NameValueMap::getSubtree(const char* name) const {
    NameValueEntry* entry = findEntry(name);
    return entry != nullptr ? &entry->subtree : nullptr;
}

unsigned int NameValueMap::getSubtreeCount(const char* name) const {
    NameValueEntry* entry = findEntry(name);
    return entry != nullptr ? static_cast<unsigned int>(entry->subtree.map_.size()) : 0;
}

bool NameValueMap::exist(const char* name) const {
    NameValueEntry* entry = findEntry(name);
    return entry != nullptr && (entry->values.size() != 0 || entry->subtree.map_.size() != 0);
}

// ---- Writing ----

void NameValueMap::setValue(const char* name, unsigned int index, const ZObject_6_0* value) {
    NameValueEntry* entry = findOrCreateEntry(name);
    if (value == nullptr) return;
    if (index < entry->values.size()) {
        entry->values.set(index, *value);
    } else {
        entry->values.add(*value);
    }
}

void NameValueMap::addValue(const char* name, const ZObject_6_0* value) {
    NameValueEntry* entry = findOrCreateEntry(name);
    if (value == nullptr) return;
    entry->values.add(*value);
}

NameValueMap* NameValueMap::addSubtree(const char* name) {
    return &findOrCreateEntry(name)->subtree;
}

// The string variants store a new ZUTF8String_6_0 of their text, which is what setValue and
// addValue store for a view over it (its clone), or give the text to the string they replace.

namespace {

// The value at `index` of `entry` when it is exactly a ZUTF8String_6_0, whose text a set may
// replace in place; null otherwise (no such value, or one of another class, which a set
// replaces by a string as setValue replaces it).
ZUTF8String_6_0* reusableString(NameValueEntry& entry, unsigned int index) {
    if (index >= entry.values.size()) return nullptr;
    ZObject_6_0* const old = entry.values.get(index);
    return ovutil_internal::isExactlyUTF8String(*old) ? static_cast<ZUTF8String_6_0*>(old)
                                                      : nullptr;
}

// Puts `text` at `index` of the entry's values, or after them with `append` or an index past
// the end. The lists take the string over also when they throw.
void placeString(NameValueEntry& entry, unsigned int index, bool append, ZUTF8String_6_0* text) {
    if (!append && index < entry.values.size()) {
        ovutil_internal::setOwned(entry.values, index, text);
    } else {
        ovutil_internal::addOwned(entry.values, text);
    }
}

}  // namespace

void NameValueMap::setString(const char* name, const char* value, unsigned int index) {
    const char* const text = value != nullptr ? value : "";
    const std::size_t n = std::strlen(text);
    NameValueEntry* entry = findOrCreateEntry(name);
    if (ZUTF8String_6_0* stored = reusableString(*entry, index)) {
        // The string keeps its place: `text` may even be its own (assign copies it first).
        ovutil_internal::assignText(*stored, text, n);
    } else {
        placeString(*entry, index, false, ovutil_internal::newString(text, n));
    }
}

void NameValueMap::setString(const char* name, unsigned int index, const char* value) {
    setString(name, value, index);
}

void NameValueMap::storeText(const char* name, unsigned int index, bool append,
                             ZUTF8String_6_0* text) {
    std::unique_ptr<ZUTF8String_6_0> owned(text);
    NameValueEntry* entry = findOrCreateEntry(name);
    placeString(*entry, index, append, owned.release());
}

// The base64 texts are made in their strings and stored as they are: what setValue with a
// view over the text would store, without the text's own buffer and the clone of the view.
// A set over a string value writes a short text in this frame and assigns it to that string.

void NameValueMap::setString(const char* name, const char* data, unsigned int length,
                             unsigned int index) {
    constexpr std::size_t kOnStack = 1024;
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    if (bytes == nullptr) length = 0;
    const std::size_t n = ovutil_internal::mime64::encodedSize(length) - 1;
    NameValueEntry* entry = findOrCreateEntry(name);
    ZUTF8String_6_0* const stored = reusableString(*entry, index);
    if (stored != nullptr && n <= kOnStack) {
        char text[kOnStack];
        ovutil_internal::mime64::encodeTo(bytes, length, text);
        ovutil_internal::assignText(*stored, text, n);
        return;
    }
    placeString(*entry, index, false, ovutil_internal::newBase64String(bytes, length));
}

void NameValueMap::setString(const char* name, unsigned int value, unsigned int index) {
    setString(name, DecimalText(value).text, index);
}

void NameValueMap::setString(const char* name, int flag, unsigned int index) {
    setString(name, flagText(flag), index);
}

void NameValueMap::addString(const char* name, const char* value) {
    const char* const text = value != nullptr ? value : "";
    NameValueEntry* entry = findOrCreateEntry(name);
    ovutil_internal::addOwned(entry->values, ovutil_internal::newString(text, std::strlen(text)));
}

void NameValueMap::addString(const char* name, const char* data, unsigned int length) {
    storeText(
        name, 0, true,
        ovutil_internal::newBase64String(reinterpret_cast<const unsigned char*>(data), length));
}

void NameValueMap::addString(const char* name, unsigned int value) {
    addString(name, DecimalText(value).text);
}

void NameValueMap::addString(const char* name, int flag) { addString(name, flagText(flag)); }

void NameValueMap::removeValue(const char* name, unsigned int index) {
    NameValueEntry* entry = findEntry(name);
    if (entry == nullptr || index >= entry->values.size()) return;
    entry->values.remove(index);
}

void NameValueMap::removeString(const char* name, unsigned int index) { removeValue(name, index); }

void NameValueMap::removeAll() { map_.removeAll(); }
