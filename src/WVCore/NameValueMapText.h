// Private to the NameValueMap units: the text of a stored value, the model of a new entry.
#ifndef OVUTIL_SRC_WVCORE_NAMEVALUEMAPTEXT_H
#define OVUTIL_SRC_WVCORE_NAMEVALUEMAPTEXT_H

#include <typeinfo>

#include <ovz/object.h>
#include <ovz/strings.h>

#include "internal/objectlib.h"

// The UTF-8 text of a stored value ("" for an empty string), or `other` for an object that
// is no string. Nearly every value is a ZUTF8String_6_0, which the exact type test finds
// without the hierarchy walk of a cross-library dynamic_cast.
inline char const* nvmValueText(ZObject_6_0 const* value, char const* other) {
    if (value == nullptr) return other;
    if (typeid(*value) == typeid(ZUTF8String_6_0)) {
        return ovutil_internal::textOf(*static_cast<ZUTF8String_6_0 const*>(value));
    }
    auto const* text = dynamic_cast<ZAbstractString_6_0 const*>(value);
    return text != nullptr ? ovutil_internal::textOf(*text) : other;
}

// An empty entry, the model that a map clones for every name it adds. It is only read, so
// threads working on different maps share it safely.
class NameValueEntry;
NameValueEntry const& nvmEmptyEntry();

#endif  // OVUTIL_SRC_WVCORE_NAMEVALUEMAPTEXT_H
