// NameValueMap and NameValueEntry: the model, its readers and its writers.
//
// Keys are stored as ZUTF8String_6_0 (the clone of whatever string the map is given); look-ups
// probe with a ZUTF8ConstString_6_0 view over the caller's text, which the string classes
// hash and compare exactly like the stored key, so no probe copies the name.

#include <ovutil/NameValueMap.h>

#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include <ovz/exceptions.h>

#include "internal/NameValueMapText.h"
#include "internal/objectlib.h"

namespace {

// The model of every new entry (see findOrCreateEntry): made once under pthread_once, never
// destroyed.
pthread_once_t emptyEntry_once = PTHREAD_ONCE_INIT;
const NameValueEntry* emptyEntry_ = nullptr;

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

ZObject_6_0* NameValueEntry::clone() const {
    // The empty model that maps clone for each new name: a fresh entry is the same thing,
    // made without walking an empty list and an empty map.
    if (this == &ovutil_internal::emptyEntry()) return new NameValueEntry;
    return new NameValueEntry(*this);
}

// ---- NameValueMap: construction ----

NameValueMap::NameValueMap() : map_(1, 1) {}

NameValueMap::NameValueMap(const NameValueMap& other) : ZObject_6_0(other), map_(other.map_) {}

NameValueMap::NameValueMap(const attrlist_s_t& list) : map_(1, 1) {
    if (list.attrs == nullptr) return;
    for (unsigned int i = 0; i < list.count; ++i) addNameValue(list.attrs[i]);
}

NameValueMap::NameValueMap(const namevalue_s_t& record) : map_(1, 1) { addNameValue(record); }

NameValueMap::~NameValueMap() = default;

NameValueMap& NameValueMap::operator=(const NameValueMap& other) {
    if (this != &other) map_ = other.map_;
    return *this;
}

ZObject_6_0* NameValueMap::clone() const { return new NameValueMap(*this); }

// ---- Entries ----

NameValueEntry* NameValueMap::findEntry(const char* name) const {
    return static_cast<NameValueEntry*>(map_.getEntry(ZUTF8ConstString_6_0(name)));
}

// Made once under emptyEntry_once and never freed: maps of every thread clone it.
const NameValueEntry& ovutil_internal::emptyEntry() {
    pthread_once(&emptyEntry_once, [] { emptyEntry_ = new NameValueEntry; });
    return *emptyEntry_;
}

NameValueEntry* NameValueMap::findOrCreateEntry(const char* name) {
    // When the name is absent the owning map stores clones of both: the view's clone is an
    // owning ZUTF8String_6_0, the entry's a fresh empty entry (whose list and subtree
    // allocate nothing until they are filled). One empty entry serves as the model for every
    // clone; it is only read, so threads working on different maps share it safely.
    return static_cast<NameValueEntry*>(ovutil_internal::getOrPutEntry(
        map_, ZUTF8ConstString_6_0(name), ovutil_internal::emptyEntry()));
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
    return dynamic_cast<ZUTF8String_6_0*>(getValue(name, index));
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

// The string variants hand the map a view over their text; the owning list keeps the view's
// clone, an owning ZUTF8String_6_0, which is exactly what the map stores for a string.

void NameValueMap::setString(const char* name, const char* value, unsigned int index) {
    ZUTF8ConstString_6_0 text(value);
    setValue(name, index, &text);
}

void NameValueMap::setString(const char* name, unsigned int index, const char* value) {
    setString(name, value, index);
}

void NameValueMap::storeText(const char* name, unsigned int index, bool append,
                             ZUTF8String_6_0* text) {
    std::unique_ptr<ZUTF8String_6_0> owned(text);
    NameValueEntry* entry = findOrCreateEntry(name);
    // The lists take the string over also when they throw.
    if (!append && index < entry->values.size()) {
        ovutil_internal::setOwned(entry->values, index, owned.release());
    } else {
        ovutil_internal::addOwned(entry->values, owned.release());
    }
}

// The base64 texts are made in their strings and stored as they are: what setValue with a
// view over the text would store, without the text's own buffer and the clone of the view.

void NameValueMap::setString(const char* name, const char* data, unsigned int length,
                             unsigned int index) {
    storeText(
        name, index, false,
        ovutil_internal::newBase64String(reinterpret_cast<const unsigned char*>(data), length));
}

void NameValueMap::setString(const char* name, unsigned int value, unsigned int index) {
    setString(name, DecimalText(value).text, index);
}

void NameValueMap::setString(const char* name, int flag, unsigned int index) {
    setString(name, flagText(flag), index);
}

void NameValueMap::addString(const char* name, const char* value) {
    ZUTF8ConstString_6_0 text(value);
    addValue(name, &text);
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
