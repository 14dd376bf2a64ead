// OVObject: typed values kept as text in the object's NameValueMap, nested objects and
// attribute lists as base64 of their encodings, the whole object on the wire, and its trace.
//
// Everything goes through the map's public operations; the object keeps no state of its own.

#include <ovutil/OVObject.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <typeinfo>

#include <ovutil/mime64.h>
#include <ovz/exceptions.h>

#include "internal/AttrlistBatch.h"
#include "internal/NameValueMapText.h"
#include "internal/logging.h"
#include "internal/mime64_new.h"
#include "internal/objectlib.h"

namespace {

// Every record and exception of this unit names this source.
constexpr char kSourceFile[] = "src/WVCore/OVObject";

// Keys of the flattened attribute-list layout; peers rebuild lists from exactly these.
const char kNamesKey[] = "attrlistnames";
const char kTypeSuffix[] = "attrlistvaltype";

// The one string that every read which finds nothing returns. It lives in static storage,
// so creating it cannot fail, and it is never destroyed: threads may still hold it while the
// process exits.
pthread_once_t emptyOnce = PTHREAD_ONCE_INIT;
alignas(ZUTF8String_6_0) unsigned char emptyStorage[sizeof(ZUTF8String_6_0)];
const ZUTF8String_6_0* empty = nullptr;

void createEmpty() { empty = ::new (static_cast<void*>(emptyStorage)) ZUTF8String_6_0(); }

const ZUTF8String_6_0& emptyString() {
    pthread_once(&emptyOnce, createEmpty);
    return *empty;
}

// The debug line of a throw site, then the exception; `line` is the line of the throw.
[[noreturn]] void throwInvalidParameter(int line, const char* what) {
    ovutil_internal::traceThrown(kSourceFile, line, "ZInvalidParameterException");
    ZInvalidParameterException_6_0(what).throwException(kSourceFile, line);
}

// A stored value as the string readers see it: a ZUTF8String_6_0, or null for anything
// else.
const ZUTF8String_6_0* asString(const ZObject_6_0* value) {
    return ovutil_internal::asUTF8String(value);
}

// The text of value `index` of a value list; "" when there is none.
const char* textAt(const ZArrayList_6_0* values, unsigned long index) {
    if (values == nullptr) return "";
    const ZUTF8String_6_0* text = asString(values->get(index));
    return text != nullptr ? text->c_str() : "";
}

unsigned int parseUnsigned(const char* text) {
    // Up to nineteen plain digits (this library writes at most ten) cannot overflow the
    // 64 bits of strtoul's unsigned long, so they read as strtoul reads them, cut to 32 bits
    // as its result is; anything else (blanks, signs, more digits) goes through strtoul.
    static_assert(sizeof(unsigned long) == 8, "strtoul gives 64 bits");
    unsigned long value = 0;
    const char* digit = text;
    for (; digit - text < 19 && *digit >= '0' && *digit <= '9'; ++digit)
        value = value * 10 + static_cast<unsigned long>(*digit - '0');
    if (*digit == '\0' && digit != text) return static_cast<unsigned int>(value);
    return static_cast<unsigned int>(strtoul(text, nullptr, 10));
}

// The "%u" text of a number.
struct DecimalText {
    // Written by hand: the text of "%u" without a trip through the printf machinery, which
    // a flattened attribute list pays for every value twice.
    explicit DecimalText(unsigned int value) {
        char reversed[10];
        int digits = 0;
        do {
            reversed[digits++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        for (int i = 0; i < digits; ++i) text[i] = reversed[digits - 1 - i];
        text[digits] = '\0';
    }
    char text[16];
};

const char* flagText(unsigned int value) { return value != 0 ? "true" : "false"; }

// The base64 decoding of a stored text into a new malloc'ed buffer: (NULL, 0) for no text.
void decodeBase64(const ZUTF8String_6_0* text, char*& data, unsigned int& length) {
    data = nullptr;
    length = 0;
    if (text == nullptr) return;
    std::size_t n = 0;
    const char* const chars = ovutil_internal::bytesOf(*text, n);
    if (n == 0) return;
    // The decoder takes an int length; a longer text cannot be decoded at all.
    if (n > static_cast<std::size_t>(INT_MAX)) {
        ZOutOfMemoryException_6_0().throwException(kSourceFile, __LINE__);
    }
    mime64_new_decode(chars, static_cast<int>(n), &data, &length);
    // The decoder reports a failed allocation only as "no result" for a non-empty text.
    if (data == nullptr) ZOutOfMemoryException_6_0().throwException(kSourceFile, __LINE__);
}

// A codec buffer released with ov_asn_buffer_free when the scope ends, whatever happens.
struct OwnedBuffer {
    OwnedBuffer() = default;
    ~OwnedBuffer() { ov_asn_buffer_free(buffer); }
    OwnedBuffer(const OwnedBuffer&) = delete;
    OwnedBuffer& operator=(const OwnedBuffer&) = delete;
    ov_asn_buffer_t buffer = {0, nullptr};
};

// Bytes from malloc, released with free when the scope ends.
struct OwnedBytes {
    ~OwnedBytes() { free(data); }
    char* data = nullptr;
};

const OVObject& objectElement(const ZArrayList_6_0& list, unsigned long index, int line) {
    const auto* element = dynamic_cast<const OVObject*>(list.get(index));
    if (element == nullptr) throwInvalidParameter(line, "list element is not an OVObject");
    return *element;
}

}  // namespace

// ---- Construction, copy ----

OVObject::OVObject() = default;

OVObject::OVObject(const char* name) { setStringValue("name", name, 0, nullptr); }

OVObject::OVObject(const OVObject& other) : ZObject_6_0(other), map(other.map) {}

OVObject& OVObject::operator=(const OVObject& other) {
    if (this != &other) map = other.map;
    return *this;
}

OVObject::~OVObject() = default;

unsigned long OVObject::hash() const { return 0; }

int OVObject::compare(const ZObject_6_0&) const { return 0; }

ZObject_6_0* OVObject::clone() const { return new OVObject(*this); }

// ---- Target maps ----

NameValueMap* OVObject::writeTarget(const char* scope) {
    return scope != nullptr ? map.addSubtree(scope) : &map;
}

const NameValueMap* OVObject::readTarget(const char* scope) const {
    return scope != nullptr ? map.getSubtree(scope) : &map;
}

NameValueMap* OVObject::changeTarget(const char* scope) {
    return scope != nullptr ? map.getSubtree(scope) : &map;
}

// ---- Name and description ----

const ZUTF8String_6_0& OVObject::getName() const { return getStringValue("name", 0, nullptr); }

OVObject& OVObject::setName(ZUTF8String_6_0& text) {
    return setStringValue("name", text.getChars(), 0, nullptr);
}

const ZUTF8String_6_0& OVObject::getDescription() const {
    return getStringValue("description", 0, nullptr);
}

OVObject& OVObject::setDescription(ZUTF8String_6_0& text) {
    return setStringValue("description", text.getChars(), 0, nullptr);
}

// ---- Writes ----

OVObject& OVObject::setStringValue(const char* name, const char* value, unsigned int index,
                                   const char* scope) {
    if (name == nullptr) return *this;
    writeTarget(scope)->setString(name, value, index);
    return *this;
}

OVObject& OVObject::addStringValue(const char* name, const char* value, const char* scope) {
    if (name == nullptr) return *this;
    writeTarget(scope)->addString(name, value);
    return *this;
}

OVObject& OVObject::setIntegerValue(const char* name, unsigned int value, unsigned int index,
                                    const char* scope) {
    return setStringValue(name, DecimalText(value).text, index, scope);
}

OVObject& OVObject::addIntegerValue(const char* name, unsigned int value, const char* scope) {
    return addStringValue(name, DecimalText(value).text, scope);
}

OVObject& OVObject::setBooleanValue(const char* name, unsigned int value, unsigned int index,
                                    const char* scope) {
    return setStringValue(name, flagText(value), index, scope);
}

OVObject& OVObject::addBooleanValue(const char* name, unsigned int value, const char* scope) {
    return addStringValue(name, flagText(value), scope);
}

OVObject& OVObject::setBufferValue(const char* name, const char* data, unsigned int length,
                                   unsigned int index, const char* scope) {
    if (name == nullptr) return *this;
    writeTarget(scope)->setString(name, data, length, index);
    return *this;
}

OVObject& OVObject::addBufferValue(const char* name, const char* data, unsigned int length,
                                   const char* scope) {
    if (name == nullptr) return *this;
    writeTarget(scope)->addString(name, data, length);
    return *this;
}

// A nested object is stored as the base64 text of what its (virtual) encode gives, as
// setBufferValue / addBufferValue of those bytes would store it, in a string that the target
// map takes over. For an OVObject itself, whose encode is its map's, the encoding goes from
// the map's writer straight into that text.
ZUTF8String_6_0* OVObject::newNestedText(const OVObject& value) {
    unsigned long status = 0;
    ZUTF8String_6_0* text = nullptr;
    if (typeid(value) == typeid(OVObject)) {
        text = NameValueMap::newEncodingText(value.map, status);
    } else {
        OwnedBuffer encoded;
        value.encode(encoded.buffer, status);
        if (status == 0)
            text = ovutil_internal::newBase64String(encoded.buffer.data, encoded.buffer.length);
    }
    // Memory that ran out while encoding is what the caller is told, as for any other write.
    if (text == nullptr && status == OV_ASN_E_NOMEM)
        ZOutOfMemoryException_6_0().throwException(kSourceFile, __LINE__);
    if (text == nullptr) throwInvalidParameter(__LINE__, "nested object could not be encoded");
    return text;
}

OVObject& OVObject::setObjectValue(const char* name, const OVObject& value, unsigned int index,
                                   const char* scope) {
    if (name == nullptr) throwInvalidParameter(__LINE__, "name is null");
    std::unique_ptr<ZUTF8String_6_0> text(newNestedText(value));
    NameValueMap* const target = writeTarget(scope);
    target->storeText(name, index, false, text.release());  // the map takes it over
    return *this;
}

OVObject& OVObject::addObjectValue(const char* name, const OVObject& value, const char* scope) {
    if (name == nullptr) throwInvalidParameter(__LINE__, "name is null");
    std::unique_ptr<ZUTF8String_6_0> text(newNestedText(value));
    NameValueMap* const target = writeTarget(scope);
    target->storeText(name, 0, true, text.release());
    return *this;
}

namespace {

// The text of a list element that is a string; null for any other element.
const char* elementText(const ZArrayList_6_0& list, unsigned long index) {
    const auto* text = dynamic_cast<const ZAbstractString_6_0*>(list.get(index));
    return text != nullptr ? text->c_str() : nullptr;
}

// Copies of the texts of the strings of a list, taken before the list's own strings may
// go: one malloc'ed block of the texts one after the other, each ending in its NUL.
class TextCopies {
public:
    explicit TextCopies(const ZArrayList_6_0& list) {
        const unsigned long size = list.size();
        std::size_t bytes = 0;
        for (unsigned long i = 0; i < size; ++i) {
            const char* text = elementText(list, i);
            if (text == nullptr) continue;
            bytes += strlen(text) + 1;
            ++count_;
        }
        if (count_ == 0) return;
        block_ = static_cast<char*>(malloc(bytes));
        if (block_ == nullptr) ZOutOfMemoryException_6_0().throwException(kSourceFile, __LINE__);
        char* next = block_;
        for (unsigned long i = 0; i < size; ++i) {
            const char* text = elementText(list, i);
            if (text == nullptr) continue;
            std::size_t length = strlen(text) + 1;
            memcpy(next, text, length);
            next += length;
        }
    }
    ~TextCopies() { free(block_); }
    TextCopies(const TextCopies&) = delete;
    TextCopies& operator=(const TextCopies&) = delete;

    // Appends the texts, in list order, to `name` in `target`.
    void appendTo(NameValueMap& target, const char* name) const {
        const char* text = block_;
        for (unsigned long i = 0; i < count_; ++i) {
            target.addString(name, text);
            text += strlen(text) + 1;
        }
    }
    bool empty() const { return count_ == 0; }

private:
    unsigned long count_ = 0;
    char* block_ = nullptr;
};

}  // namespace

OVObject& OVObject::setStringArrayValue(const char* name, const ZArrayList_6_0& list,
                                        const char* scope) {
    if (name == nullptr) return *this;
    // The list may hold (or be) the very strings that are replaced: copy the texts first,
    // then delete the old values from the last (no value moves), then append the copies.
    const TextCopies texts(list);
    deleteName(name, scope);
    // Nothing to store creates nothing, not even the scope's entry.
    if (!texts.empty()) texts.appendTo(*writeTarget(scope), name);
    return *this;
}

OVObject& OVObject::addStringArrayValue(const char* name, const ZArrayList_6_0& list,
                                        const char* scope) {
    if (name == nullptr) return *this;
    // The count is taken first: the list may be the name's own value list, which grows.
    const unsigned long count = list.size();
    unsigned long first = 0;
    while (first < count && elementText(list, first) == nullptr) ++first;
    // Nothing to store creates nothing, not even the scope's entry.
    if (first == count) return *this;
    NameValueMap* target = writeTarget(scope);
    for (unsigned long i = first; i < count; ++i) {
        const char* text = elementText(list, i);
        if (text != nullptr) target->addString(name, text);
    }
    return *this;
}

OVObject& OVObject::setObjectArrayValue(const char* name, const ZArrayList_6_0& list,
                                        const char* scope) {
    if (name == nullptr) throwInvalidParameter(__LINE__, "name is null");
    deleteName(name, scope);
    return addObjectArrayValue(name, list, scope);
}

OVObject& OVObject::addObjectArrayValue(const char* name, const ZArrayList_6_0& list,
                                        const char* scope) {
    unsigned long count = list.size();
    for (unsigned long i = 0; i < count; ++i) {
        if (name == nullptr) throwInvalidParameter(__LINE__, "name is null");
        addObjectValue(name, objectElement(list, i, __LINE__), scope);
    }
    return *this;
}

// ---- Reads ----

const ZUTF8String_6_0& OVObject::getStringValue(const char* name, unsigned int index,
                                                const char* scope) const {
    if (name != nullptr) {
        const NameValueMap* target = readTarget(scope);
        if (target != nullptr) {
            const ZUTF8String_6_0* text = target->getString(name, index);
            if (text != nullptr) return *text;
        }
    }
    return emptyString();
}

unsigned int OVObject::integerValue(const char* name, unsigned int index, const char* scope) const {
    std::size_t n = 0;
    return parseUnsigned(ovutil_internal::bytesOf(getStringValue(name, index, scope), n));
}

bool OVObject::booleanValue(const char* name, unsigned int index, const char* scope) const {
    // The string's byte-wise comparison with the C text, on its bytes read in place.
    std::size_t n = 0;
    const char* const text = ovutil_internal::bytesOf(getStringValue(name, index, scope), n);
    return n == 4 && std::memcmp(text, "true", 4) == 0;
}

void OVObject::bufferValue(const char* name, char*& data, unsigned int& length, unsigned int index,
                           const char* scope) const {
    decodeBase64(&getStringValue(name, index, scope), data, length);
}

void OVObject::objectValue(const char* name, OVObject& value, unsigned int index,
                           const char* scope) const {
    const ZUTF8String_6_0& text = getStringValue(name, index, scope);
    std::size_t n = 0;
    const char* chars = ovutil_internal::bytesOf(text, n);
    if (n == 0) return;
    // The bytes go straight to the map's decoder: into this frame while they are few, else
    // into a block of their own. A decoding is never longer than its text.
    constexpr std::size_t kOnStack = 8192;
    unsigned char onStack[kOnStack];
    std::unique_ptr<unsigned char[]> onHeap;
    unsigned char* bytes = onStack;
    if (n > kOnStack) {
        onHeap.reset(new (std::nothrow) unsigned char[n]);
        if (onHeap == nullptr) ZOutOfMemoryException_6_0().throwException(kSourceFile, __LINE__);
        bytes = onHeap.get();
    }
    const std::size_t length = ovutil_internal::mime64::decodeTo(chars, n, bytes);
    if (length == 0) return;
    ov_asn_buffer_t wire = {static_cast<unsigned int>(length), bytes};
    unsigned long status = 0;
    value.decode(wire, status);
    if (status != 0) throwInvalidParameter(__LINE__, "nested object could not be decoded");
}

void OVObject::stringArrayValue(const char* name, ZArrayList_6_0& list, const char* scope) const {
    if (name == nullptr) return;
    const NameValueMap* target = readTarget(scope);
    if (target == nullptr) return;
    const ZArrayList_6_0* values = target->getValues(name);
    if (values == nullptr) return;
    // The count is taken once: `list` may be this very value list, which grows as it is
    // added to; reading it into itself then doubles it.
    const unsigned long count = values->size();
    for (unsigned long i = 0; i < count; ++i) {
        const ZUTF8String_6_0* text = asString(values->get(i));
        list.add(text != nullptr ? *text : emptyString());
    }
}

// ---- Counts, existence, deletion ----

unsigned int OVObject::length() const { return map.getValueCount(); }

unsigned int OVObject::length(const char* name, const char* scope) const {
    if (name == nullptr) return 0;
    const NameValueMap* target = readTarget(scope);
    return target != nullptr ? target->getValueCount(name) : 0;
}

bool OVObject::exist(const char* name, const char* scope) const {
    if (name == nullptr) throwInvalidParameter(__LINE__, "name is null");
    const NameValueMap* target = readTarget(scope);
    return target != nullptr && target->exist(name);
}

OVObject& OVObject::deleteValue(const char* name, unsigned int index, const char* scope) {
    if (name == nullptr) return *this;
    NameValueMap* target = changeTarget(scope);
    if (target != nullptr) target->removeValue(name, index);
    return *this;
}

OVObject& OVObject::deleteName(const char* name, unsigned int index, const char* scope) {
    return deleteValue(name, index, scope);
}

OVObject& OVObject::deleteName(const char* name, const char* scope) {
    if (name == nullptr) return *this;
    NameValueMap* target = changeTarget(scope);
    if (target == nullptr) return *this;
    for (unsigned int i = target->getValueCount(name); i > 0; --i) target->removeValue(name, i - 1);
    return *this;
}

// ---- Whole-object encoding ----

void OVObject::encode(ov_asn_buffer_t& buffer, unsigned long& status) const {
    map.encode(buffer, status);
}

void OVObject::encode(wvobj_t& object, unsigned long& status) { map.encode(object, status); }

void OVObject::decode(ov_asn_buffer_t& buffer, unsigned long& status) {
    map.decode(buffer, status);
}

void OVObject::decode(unsigned int length, const unsigned char* data, unsigned long& status) {
    // The codec only reads the bytes; the buffer record is a view over the caller's.
    ov_asn_buffer_t buffer = {length, const_cast<unsigned char*>(data)};
    map.decode(buffer, status);
}

void OVObject::decode(wvobj_t& object, unsigned long& status) { map.decode(object, status); }

void OVObject::init_wvobj(wvobj_t& object, unsigned int type) {
    object.type = type;
    object.length = 0;
    object.data = nullptr;
}

// ---- Header and copies between objects ----

int OVObject::encode(const char* name, const char* scope, OVObject& target) {
    target.addStringValue("name", name, scope);
    target.addStringValue("description", getDescription().c_str(), scope);
    return 0;
}

int OVObject::decode(const char*, const char*, OVObject&) { return 0; }

void OVObject::getNameValues(OVObject& target, const char* scope) const {
    if (&target == this) {
        // Appending to the level being read would change it under the reader: read a copy.
        const OVObject source(*this);
        source.getNameValues(target, scope);
        return;
    }
    const NameValueMap* level = readTarget(scope);
    if (level == nullptr) return;
    ZArrayList_6_0 names(10, 0);
    level->getNames(names);
    for (unsigned long i = 0; i < names.size(); ++i) {
        const char* name = static_cast<const ZAbstractString_6_0*>(names.get(i))->c_str();
        const ZArrayList_6_0* values = level->getValues(name);
        unsigned long count = values != nullptr ? values->size() : 0;
        for (unsigned long k = 0; k < count; ++k)
            target.addStringValue(name, textAt(values, k), nullptr);
    }
}

void OVObject::getAllScope(OVObject& target, const char* scope) const {
    if (scope == nullptr || map.getSubtreeCount(scope) == 0) return;
    const NameValueMap* subtree = map.getSubtree(scope);
    if (&target == this) {
        // The subtree lives inside the map it replaces: copy it out first.
        const NameValueMap copy(*subtree);
        target.map = copy;
    } else {
        target.map = *subtree;
    }
}

// ---- Attribute-list values ----

namespace {

// Appends texts to one name of a map, looking the name up at most twice: the first text
// goes in with addString, which makes the entry; from the second on, texts go straight to
// the entry's value list. Each append stores what addString stores.
class Appender {
public:
    Appender(NameValueMap& target, const std::string& name) : target_(target), name_(name) {}

    void text(const char* text) {
        if (values_ != nullptr) {
            append(text);
        } else if (!made_) {
            target_.addString(name_.c_str(), text);
            made_ = true;
        } else {
            values_ = target_.getValues(name_.c_str());
            append(text);
        }
    }
    void number(unsigned int value) { text(DecimalText(value).text); }
    void bytes(const void* data, unsigned int length) {
        char* base64 = mime64_new_encode(static_cast<const unsigned char*>(data),
                                         data != nullptr ? length : 0);
        if (base64 == nullptr) ZOutOfMemoryException_6_0().throwException(kSourceFile, __LINE__);
        try {
            text(base64);
        } catch (...) {
            free(base64);
            throw;
        }
        free(base64);
    }

private:
    // What add(ZUTF8ConstString_6_0(text)) stores, made once instead of a view and its clone.
    void append(const char* text) {
        ovutil_internal::addOwned(
            *values_, ovutil_internal::newString(text, text != nullptr ? strlen(text) : 0));
    }

    NameValueMap& target_;
    const std::string& name_;
    bool made_ = false;
    ZArrayList_6_0* values_ = nullptr;
};

}  // namespace

OVObject& OVObject::addAttrListValue_internal(const char* prefix, attrlist_s_t& list,
                                              const char* scope) try {
    if (list.count == 0 || list.attrs == nullptr) return *this;
    NameValueMap* target = writeTarget(scope);
    const std::string base = prefix != nullptr ? prefix : "";
    const std::string namesKey = base + kNamesKey;
    std::string valueKey;
    std::string typeKey;
    // The names key, the value key and the type key of one attribute may be one name (an
    // attribute named "attrlistnames", or names that run into each other's suffix): each
    // appender then holds the same value list, and the texts land in the order written.
    Appender names(*target, namesKey);
    for (unsigned int i = 0; i < list.count; ++i) {
        const attr_s_t& attr = list.attrs[i];
        const char* attrName = attr.name != nullptr ? attr.name : "";
        names.text(attrName);
        if (attr.values == nullptr) continue;
        valueKey.assign(base).append(attrName);
        typeKey.assign(valueKey).append(kTypeSuffix);
        Appender values(*target, valueKey);
        Appender types(*target, typeKey);
        for (unsigned int j = 0; j < attr.nvalues; ++j) {
            const value_s_t& value = attr.values[j];
            switch (value.type) {
                case ATTR_VALUE_STRING:
                    types.number(value.type);
                    values.text(value.string);
                    break;
                case ATTR_VALUE_BUFFER:
                case ATTR_VALUE_POBJ:
                    types.number(value.type);
                    values.bytes(value.data, value.length);
                    break;
                case ATTR_VALUE_UINT: {
                    // A number without its bytes cannot be read; leaving out its type entry
                    // as well keeps the two keys in step for the reader.
                    if (value.data == nullptr) break;
                    unsigned int number;
                    memcpy(&number, value.data, sizeof number);
                    types.number(value.type);
                    values.number(number);
                    break;
                }
                default:
                    // Recorded as a type only; the reader skips it.
                    types.number(value.type);
                    break;
            }
        }
    }
    return *this;
} catch (const std::bad_alloc&) {
    // The keys are built in std::strings: running out of memory there is reported as
    // everywhere else in this class.
    ZOutOfMemoryException_6_0().throwException(kSourceFile, __LINE__);
}

void OVObject::attrListValue_internal(const char* prefix, attrlist_s_t& list,
                                      const char* scope) const try {
    const NameValueMap* source = readTarget(scope);
    if (source == nullptr) return;
    const std::string base = prefix != nullptr ? prefix : "";
    const ZArrayList_6_0* names = source->getValues((base + kNamesKey).c_str());
    if (names == nullptr) return;
    std::string valueKey;
    std::string typeKey;
    // The records go to the list as one batch: the same list as one attrlist_add_entry per
    // record, without a search and a move of the list for each when names arrive unsorted.
    ovutil_internal::attrlist::Batch batch(list);
    for (unsigned long i = 0; i < names->size(); ++i) {
        const char* attrName = textAt(names, i);
        valueKey.assign(base).append(attrName);
        typeKey.assign(valueKey).append(kTypeSuffix);
        const ZArrayList_6_0* types = source->getValues(typeKey.c_str());
        if (types == nullptr) continue;
        const ZArrayList_6_0* values = source->getValues(valueKey.c_str());
        // The writer stores a value entry only for types 2-5, so only those advance the
        // value index; reading entry j for type j would shift every value after another
        // type onto its neighbour's entry.
        unsigned long next = 0;
        for (unsigned long j = 0; j < types->size(); ++j) {
            unsigned int type = parseUnsigned(textAt(types, j));
            value_s_t record = {type, nullptr, 0, nullptr};
            OwnedBytes bytes;
            unsigned int number = 0;
            switch (type) {
                case ATTR_VALUE_BUFFER: {
                    // The decoded bytes come from malloc, as a copy of them would: the batch
                    // takes them as they are.
                    char* decoded = nullptr;
                    decodeBase64(values != nullptr ? asString(values->get(next)) : nullptr, decoded,
                                 record.length);
                    record.data = decoded;
                    ++next;
                    batch.adopt(attrName, record);
                    continue;
                }
                case ATTR_VALUE_POBJ:
                    decodeBase64(values != nullptr ? asString(values->get(next)) : nullptr,
                                 bytes.data, record.length);
                    record.data = bytes.data;
                    ++next;
                    break;
                case ATTR_VALUE_STRING:
                    record.string = const_cast<char*>(textAt(values, next));
                    ++next;
                    break;
                case ATTR_VALUE_UINT:
                    number = parseUnsigned(textAt(values, next));
                    record.length = sizeof number;
                    record.data = &number;
                    ++next;
                    break;
                default:
                    continue;
            }
            // The batch copies the name, the text and the bytes.
            batch.add(attrName, &record);
        }
    }
    batch.commit();
} catch (const std::bad_alloc&) {
    // The keys are built in std::strings: running out of memory there is reported as
    // everywhere else in this class.
    ZOutOfMemoryException_6_0().throwException(kSourceFile, __LINE__);
}

OVObject& OVObject::v417_addAttrListValue_deprecated(const char* prefix, attrlist_s_t& list,
                                                     const char* scope) {
    return addAttrListValue_internal(prefix, list, scope);
}

void OVObject::v417_attrListValue_deprecated(const char* prefix, attrlist_s_t& list,
                                             const char* scope) const {
    attrListValue_internal(prefix, list, scope);
}

OVObject& OVObject::setAttrListValue(const char* name, const attrlist_s_t& list, unsigned int index,
                                     const char* scope) {
    if (name == nullptr) throwInvalidParameter(__LINE__, "name is null");
    OVObject nested;
    // The flattening only reads the list.
    nested.addAttrListValue_internal("", const_cast<attrlist_s_t&>(list), scope);
    return setObjectValue(name, nested, index, scope);
}

OVObject& OVObject::addAttrListValue(const char* name, const attrlist_s_t& list,
                                     const char* scope) {
    if (name == nullptr) throwInvalidParameter(__LINE__, "name is null");
    OVObject nested;
    nested.addAttrListValue_internal("", const_cast<attrlist_s_t&>(list), scope);
    return addObjectValue(name, nested, scope);
}

void OVObject::attrListValue(const char* name, attrlist_s_t& list, unsigned int index,
                             const char* scope) const {
    OVObject nested;
    objectValue(name, nested, index, scope);
    nested.attrListValue_internal("", list, scope);
}

// ---- Trace ----

void OVObject::traceDump(dce_svc_handle_s_t* handle, const char* file, int line, int subcomponent,
                         int level, const char* textPrefix) {
    if (handle == nullptr) return;
    const unsigned int sub = static_cast<unsigned int>(subcomponent);
    const unsigned int wanted = static_cast<unsigned int>(level);
    if (ov_svc_debug_level(handle, sub) < wanted) return;

    ZUTF8String_6_0 text(textPrefix);
    map.buildTraceBuf(text, 0);
    try {
        // The text is data: it goes in as an insert, never as the format.
        ov_svc__debug_utf8_withfile(handle, file, line, sub, wanted, "%s", text.c_str());
    } catch (...) {
        ovutil_internal::traceCaught(kSourceFile, __LINE__, "Unspecified");
        ov_svc__debug_utf8_withfile(handle, file, line, sub, wanted, "Bad textPrefix, %s",
                                    textPrefix != nullptr ? textPrefix : "");
    }
}
