// The calls of src/ that the object library's interface does not promise.
//
// The stand-in under platform/ovz offers a few conveniences beyond the interface of the
// object library the product ships with. src/ reaches them only through this header, so that
// building against the real library means changing this header alone; each function says how
// to write it with the promised interface.
#ifndef OVUTIL_INTERNAL_OBJECTLIB_H
#define OVUTIL_INTERNAL_OBJECTLIB_H

#include <cstddef>
#include <typeinfo>

#include <ovz/collections.h>
#include <ovz/object.h>
#include <ovz/strings.h>

namespace ovutil_internal {

// The text of a string object, never null: "" for an empty string, whose characters may be
// null. (Promised interface: getChars(), with null read as "".)
inline const char* textOf(const ZAbstractString_6_0& text) { return text.c_str(); }

// True when a string object holds exactly the bytes of `text`; null counts as "".
// (Promised interface: strcmp of the getChars() texts, null read as "".)
inline bool textEquals(const ZAbstractString_6_0& string, const char* text) {
    return string.equals(text);
}

// The value stored under `key`; when there is none, first stores `value` under `key` as
// putEntry does (clones of both in an owning map). (Promised interface: getEntry, and on
// null putEntry then getEntry again.)
inline ZObject_6_0* getOrPutEntry(ZHashKeyMap_6_0& map, const ZObject_6_0& key,
                                  const ZObject_6_0& value) {
    return map.getOrPutEntry(key, value);
}

// The value stored under the key given as `n` bytes (no NUL among them); when there is none,
// `value` itself is stored under a new ZUTF8String_6_0 of the bytes, which the map may keep in
// storage of its own. The owning map takes `value` over in every case (deleting it when the key
// was there). (Promised interface: getOrPutEntry with a ZUTF8ConstString_6_0 over a
// NUL-terminated copy of the bytes and *value, then delete value.)
inline ZObject_6_0* getOrPutText(ZHashKeyMap_6_0& map, const char* bytes, std::size_t n,
                                 ZObject_6_0* value) {
    return map.getOrPutText(bytes, n, value);
}

// The value stored under the key given as the `n` bytes at `bytes` (no NUL among them), or
// null, found without a key object and without calls through the keys' virtual operations.
// (Promised interface: getEntry with a ZUTF8ConstString_6_0 over a NUL-terminated copy of
// the bytes.)
inline ZObject_6_0* getTextEntry(const ZHashKeyMap_6_0& map, const char* bytes, std::size_t n) {
    return map.getTextEntry(bytes, n);
}

// Replaces the text of a string by the `n` bytes at `bytes` (no NUL among them), in the room
// the string has when they fit; `bytes` may lie inside the string. (Promised interface:
// assign, or operator= of ZUTF8String_6_0, with a NUL-terminated copy of the bytes.)
inline void assignText(ZAbstractMutableString_6_0& text, const char* bytes, std::size_t n) {
    text.assign(bytes, n);
}

// The string itself when `value` is a ZUTF8String_6_0, else null. The exact class, which
// nearly every stored value has, is recognised by its type alone, without the hierarchy walk
// of a dynamic_cast across libraries; only other classes are cast. (Promised interface:
// dynamic_cast.)
inline ZUTF8String_6_0* asUTF8String(ZObject_6_0* value) {
    if (value == nullptr) return nullptr;
    if (typeid(*value) == typeid(ZUTF8String_6_0)) return static_cast<ZUTF8String_6_0*>(value);
    return dynamic_cast<ZUTF8String_6_0*>(value);
}
inline const ZUTF8String_6_0* asUTF8String(const ZObject_6_0* value) {
    return asUTF8String(const_cast<ZObject_6_0*>(value));
}

// Whether `value` is exactly a ZUTF8String_6_0 (not a subclass): a value whose text may be
// replaced in place without changing what kind of object the caller stored.
inline bool isExactlyUTF8String(const ZObject_6_0& value) {
    return typeid(value) == typeid(ZUTF8String_6_0);
}

// Appends `element` itself to an owning list, which takes it over (and deletes it on an
// exception). (Promised interface: add(*element), then delete element.)
inline void addOwned(ZArrayList_6_0& list, ZObject_6_0* element) { list.addOwned(element); }

// Replaces the element at `index` (below the list's size) of an owning list by `element`
// itself, which the list takes over (and deletes on an exception). (Promised interface:
// set(index, *element), then delete element.)
inline void setOwned(ZArrayList_6_0& list, unsigned long index, ZObject_6_0* element) {
    list.setOwned(index, element);
}

// Appends new ZUTF8String_6_0 objects holding `n` texts (no NUL in them) to an owning list,
// which may keep them in its own storage. (Promised interface: add() of a ZUTF8ConstString_6_0
// over a NUL-terminated copy of each text.)
inline void addTexts(ZArrayList_6_0& list, const ZArrayList_6_0::Text* texts, unsigned long n) {
    list.addTexts(texts, n);
}

// The bytes that addTextsAt needs for `n` texts (n >= 1). (Promised interface: nothing; see
// addTextsAt.)
inline std::size_t textsSize(const ZArrayList_6_0::Text* texts, unsigned long n) {
    return ZArrayList_6_0::textsSize(texts, n);
}

// addTexts to an owning list as constructed (nothing added yet), with the strings made in the
// textsSize(texts, n) bytes at `memory`, which the caller keeps for as long as the list lives
// (an object carrying its list's texts in its own allocation). (Promised interface: addTexts,
// leaving `memory` unused.)
inline void addTextsAt(ZArrayList_6_0& list, void* memory, const ZArrayList_6_0::Text* texts,
                       unsigned long n) {
    list.addTextsAt(memory, texts, n);
}

// The room a key of `n` bytes takes in a map's key store (see getOrPutText), and the room
// that keys still to come will take there, so that the store is sized for them at once.
// (Promised interface: nothing; keys are objects of their own.)
inline std::size_t textKeySize(std::size_t n) { return ZHashKeyMap_6_0::textKeySize(n); }
inline void reserveTextKeys(ZHashKeyMap_6_0& map, std::size_t bytes) { map.reserveTextKeys(bytes); }

// Room for `count` entries in all, or `count` elements in all: a decoder that knows what it
// will add allocates once. (Promised interface: nothing; the collections grow as they fill.)
inline void reserveEntries(ZHashKeyMap_6_0& map, unsigned long count) { map.reserve(count); }
inline void reserveElements(ZArrayList_6_0& list, unsigned long count) {
    list.ensureCapacity(count);
}

// A new ZUTF8String_6_0 of the `n` bytes at `bytes` (no NUL among them, none needed after
// them); the caller owns it. (Promised interface: a ZUTF8String_6_0 made from a NUL-terminated
// copy of the bytes.)
inline ZUTF8String_6_0* newString(const char* bytes, std::size_t n) {
    return ZUTF8String_6_0::newWithBytes(bytes, n);
}

// A new ZUTF8String_6_0 of `n` bytes that the caller writes at `text` (none of them NUL)
// before the string is used; the caller owns it. (Promised interface: write the bytes into a
// buffer of n + 1, end it with a NUL, and make the string from it.)
inline ZUTF8String_6_0* newStringToFill(std::size_t n, char*& text) {
    return ZUTF8String_6_0::newToFill(n, text);
}

// The entries of a map in listing order, read in place: `count` (key, value) pairs, those of
// removed entries two nulls. Valid while the map is unchanged. (Promised interface: listKeys
// and listObjects into non-owning lists.)
inline const ZHashKeyMap_6_0::Entry* entriesOf(const ZHashKeyMap_6_0& map, unsigned long& count) {
    return map.entries(count);
}

// False when a map certainly holds nothing (it never held an entry); a cheap test before a
// call that looks inside. (Promised interface: size() != 0.)
inline bool mayHoldEntries(const ZHashKeyMap_6_0& map) { return map.hasTable(); }

// The elements of a list in index order, read in place. (Promised interface: get(i).)
inline ZObject_6_0* const* elementsOf(const ZArrayList_6_0& list) { return list.elements(); }

// The text of a string, never null, and its byte count. (Promised interface: getChars(), with
// null read as "", and length().)
inline const char* bytesOf(const ZUTF8String_6_0& text, std::size_t& n) { return text.bytes(n); }

}  // namespace ovutil_internal

#endif  // OVUTIL_INTERNAL_OBJECTLIB_H
