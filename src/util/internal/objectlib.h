// The calls of src/ that the object library's interface does not promise.
//
// The stand-in under platform/ovz offers a few conveniences beyond the interface of the
// object library the product ships with. src/ reaches them only through this header, so that
// building against the real library means changing this header alone; each function says how
// to write it with the promised interface.
#ifndef OVUTIL_INTERNAL_OBJECTLIB_H
#define OVUTIL_INTERNAL_OBJECTLIB_H

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

}  // namespace ovutil_internal

#endif  // OVUTIL_INTERNAL_OBJECTLIB_H
