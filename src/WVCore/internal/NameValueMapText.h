// Private to the NameValueMap units: the text of a stored value, a base64 value made in its
// string, the work stack of walks over nested maps.
#ifndef OVUTIL_WVCORE_INTERNAL_NAMEVALUEMAPTEXT_H
#define OVUTIL_WVCORE_INTERNAL_NAMEVALUEMAPTEXT_H

#include <cstdlib>
#include <typeinfo>

#include <ovz/exceptions.h>
#include <ovz/object.h>
#include <ovz/strings.h>

#include "internal/mime64_new.h"
#include "internal/objectlib.h"

namespace ovutil_internal {

// The UTF-8 text of a stored value ("" for an empty string), or `other` for an object that
// is no string. Nearly every value is a ZUTF8String_6_0, which the exact type test finds
// without the hierarchy walk of a cross-library dynamic_cast.
inline const char* valueText(const ZObject_6_0* value, const char* other) {
    if (value == nullptr) return other;
    if (typeid(*value) == typeid(ZUTF8String_6_0)) {
        return textOf(*static_cast<const ZUTF8String_6_0*>(value));
    }
    const auto* text = dynamic_cast<const ZAbstractString_6_0*>(value);
    return text != nullptr ? textOf(*text) : other;
}

// A new string holding the base64 text of the `length` bytes at `data` (none when `data` is
// null), the text written straight into it; the caller owns it.
inline ZUTF8String_6_0* newBase64String(const unsigned char* data, unsigned int length) {
    if (data == nullptr) length = 0;
    char* text = nullptr;
    ZUTF8String_6_0* made = newStringToFill(mime64::encodedSize(length) - 1, text);
    mime64::encodeTo(data, length, text);
    return made;
}

// The work of a walk over nested maps, kept on the heap instead of the machine stack: maps
// built through the API may be nested far deeper than any stack could recurse. Holds plain
// records (T trivially copyable). push throws ZOutOfMemoryException_6_0 when memory runs out.
template <class T>
class WorkStack {
public:
    WorkStack() = default;
    WorkStack(const WorkStack&) = delete;
    WorkStack& operator=(const WorkStack&) = delete;
    ~WorkStack() { std::free(items_); }

    bool empty() const { return size_ == 0; }
    T& top() { return items_[size_ - 1]; }
    void pop() { --size_; }
    void push(const T& item) {
        if (size_ == capacity_) {
            const std::size_t capacity = capacity_ == 0 ? 16 : capacity_ * 2;
            void* grown = std::realloc(items_, capacity * sizeof(T));
            if (grown == nullptr)
                ZOutOfMemoryException_6_0().throwException("src/WVCore/NameValueMap", __LINE__);
            items_ = static_cast<T*>(grown);
            capacity_ = capacity;
        }
        items_[size_++] = item;
    }

private:
    T* items_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace ovutil_internal

#endif  // OVUTIL_WVCORE_INTERNAL_NAMEVALUEMAPTEXT_H
