// Strings of the object library.
//
//   ZAbstractString_6_0                 read-only text: getChars, length, equals, hash
//     ZAbstractMutableString_6_0        owns its bytes: assign, append, clear
//       ZUTF8String_6_0                 UTF-8 text
//       ZLCString_6_0                   text in the local code set (LC_CTYPE of the process)
//     ZUTF8ConstString_6_0              view over a caller's UTF-8 text; copies nothing
//     ZLCConstString_6_0                view over a caller's local-code-set text
//
// Rules shared by every string class:
//  - getChars() of an empty string MAY be null. A mutable string returns null whenever it is
//    empty; a view returns the pointer it was given (which may be null). Every consumer
//    treats null as "". `c_str()` is the same text but never null.
//  - equals, hash and compare work on the bytes, case-sensitively, and ignore the class and
//    the code set: a ZUTF8String_6_0, a ZUTF8ConstString_6_0 view and a ZLCString_6_0 of
//    the same bytes are equal and hash alike, so a key stored as one class is found with
//    another. Strings never equal objects that are not strings.
//  - Texts are NUL-terminated; a string holds no NUL byte of its own.
//  - Conversions between UTF-8 and the local code set use iconv with the code set named by
//    nl_langinfo(CODESET) of the calling thread's locale. When that is UTF-8, or the plain
//    ASCII of the C/POSIX locale (handled as UTF-8), the bytes are copied as they are, valid
//    or not. Otherwise a text converts whole or not at all: a character that the target
//    cannot represent, or an invalid or truncated sequence in the source, is refused with
//    ZInvalidParameterException_6_0 and the target string keeps its old text. Nothing is
//    ever replaced by another character. A caller that must keep a text whatever the locale
//    (a value it writes back, a path, a text it compares) keeps it as the bytes it got,
//    in a ZUTF8String_6_0 or with assign(), instead of converting it.
//  - Out of memory throws ZOutOfMemoryException_6_0.
//
// Ownership and lifetimes:
//  - A mutable string owns its bytes: in the object (up to 11 bytes), right behind the object
//    in the same allocation (a string made by clone(), newWithBytes or newToFill), or in a
//    malloc'd buffer once a change outgrows where the text is. A view owns nothing: the text
//    it was given must outlive it and stay unchanged.
//  - Clone: clone() of any string class gives an owning string of the same bytes (a view's
//    clone owns a copy), allocated with ZObject_6_0::operator new; the caller owns it, and an
//    owning collection keeps exactly such clones.
//  - Placement: placeWithBytes makes a string in memory its caller provides (sizeWithBytes
//    bytes); it is ended with endPlaced or its destructor, never deleted, and the memory stays
//    the caller's. The collections place strings this way in storage of their own.
//  - Lifetimes: getChars(), c_str() and bytes() point into the string and are valid until the
//    string is changed or destroyed; a string object itself never moves, so a reference to it
//    stays valid for as long as its owner keeps it.
//  - A failed change (out of memory) leaves the string's text as it was.
//  - Checked builds (without NDEBUG) verify a string's state (where its text is, its room, the
//    NUL after it) on entry to and exit from each change and abort when it is broken.
//
// Example:
//   ZUTF8String_6_0 name("Müller");
//   name.upper();                               // "MÜLLER"
//   ZLCString_6_0 local(name);                  // C locale: "MÜLLER" as it was;
//                                               // ISO-8859-1: "M\xDCLLER";
//                                               // a code set without Ü: throws
//   ZUTF8ConstString_6_0 probe("MÜLLER");       // a view, copies nothing
//   bool same = name.equals(probe);             // true
#ifndef OVZ_STRINGS_H
#define OVZ_STRINGS_H

#include <cstddef>

#include <ovz/export.h>
#include <ovz/object.h>

class ZUTF8String_6_0;
class ZLCString_6_0;

// The code set a string's bytes are in.
enum ZCodeSet_6_0 : int {
    ZCODESET_UTF8 = 0,   // UTF-8
    ZCODESET_LOCAL = 1,  // the local code set of the process locale
};

// Read-only text: the interface of every string class (see the rules above).
class OVZ_EXPORT ZAbstractString_6_0 : public ZObject_6_0 {
public:
    ~ZAbstractString_6_0() override;

    // Byte-wise, over all string classes (see the rules above). compare orders like strcmp
    // and, for an object that is not a string, falls back to the root's order.
    unsigned long hash() const override;
    int compare(const ZObject_6_0& other) const override;
    bool equals(const ZObject_6_0& other) const override;

    // The text, NUL-terminated; null is allowed for an empty string. Valid until the string
    // is changed or destroyed.
    virtual const char* getChars() const = 0;
    // Number of bytes, without the terminating NUL.
    virtual std::size_t length() const = 0;
    // The code set of the bytes.
    virtual ZCodeSet_6_0 codeSet() const = 0;

    // Whether the text has no bytes.
    bool isEmpty() const { return length() == 0; }
    // getChars(), or "" when that is null.
    const char* c_str() const;
    // Byte-wise equality with a C text; null equals "".
    bool equals(const char* text) const;

protected:
    ZAbstractString_6_0() = default;
    // The base holds no text of its own; the derived classes copy theirs.
    ZAbstractString_6_0(const ZAbstractString_6_0&) = default;
    // The base holds no text of its own; the derived classes assign theirs.
    ZAbstractString_6_0& operator=(const ZAbstractString_6_0&) = default;
};

// A string that owns its bytes. A text of up to 11 bytes lives in the object itself; a string
// made by clone() of a string class of this library keeps its bytes in the same allocation
// as the object, right behind it, so that a stored copy costs one allocation and no more room
// than its header of 12 bytes. A text that outgrows where it lives moves to a malloc'd buffer;
// clear() leaves the string with no buffer at all. Texts are limited to 2 GiB - 2 bytes
// (longer ones throw ZOutOfMemoryException_6_0).
class OVZ_EXPORT ZAbstractMutableString_6_0 : public ZAbstractString_6_0 {
public:
    ~ZAbstractMutableString_6_0() override;

    const char* getChars() const override;
    std::size_t length() const override;

    // Appends bytes as they are; no code-set conversion (convert first when the code sets
    // differ, e.g. with assignUTF8 on a temporary). A null text appends nothing.
    void append(const char* text);
    void append(const char* data, std::size_t n);  // REQUIRES: data holds no NUL in n bytes
    void append(const ZAbstractString_6_0& text);
    // Replaces the bytes, as they are. Null assigns "". The text keeps the room it has when
    // the new one fits there (no allocation; a reference to the string stays valid in any
    // case); `text` may lie inside this string.
    void assign(const char* text);
    void assign(const ZAbstractString_6_0& text);
    void assign(const char* text, std::size_t n);  // REQUIRES: text holds no NUL in n bytes
    // Replaces the text with `utf8`, converted into this string's code set.
    virtual void assignUTF8(const char* utf8) = 0;
    // Replaces the text with `local` (local code set), converted into this string's code set.
    virtual void assignLocal(const char* local) = 0;
    // Empties the string and releases its buffer.
    void clear();

    // c_str() and length() in one call that the compiler can inline, for code that reads
    // many strings (encoders): the text, never null, with its byte count in `n`.
    const char* bytes(std::size_t& n) const {
        n = length_ & ~kOnHeap;
        if (n == 0) return "";
        if (!(length_ & kOnHeap)) return reinterpret_cast<const char*>(room_);
        const char* heap;
        __builtin_memcpy(&heap, room_ + sizeof(unsigned int), sizeof heap);  // see strings.cc
        return heap;
    }

protected:
    ZAbstractMutableString_6_0() = default;
    // A string of the bytes of `text` (null: empty).
    ZAbstractMutableString_6_0(const char* text);
    // A string of the bytes of `other`.
    ZAbstractMutableString_6_0(const ZAbstractMutableString_6_0& other);
    // Replaces the bytes by those of `other`.
    ZAbstractMutableString_6_0& operator=(const ZAbstractMutableString_6_0& other);

private:
    // The clones of the string classes are made by makeWithText.
    friend class ZUTF8String_6_0;
    friend class ZLCString_6_0;
    friend class ZUTF8ConstString_6_0;
    friend class ZLCConstString_6_0;

    // A new object of the string class S (ZObject_6_0::operator new) holding the `n` bytes at
    // `text`, with room for them in the object's own allocation (see above). S adds no
    // members to this class. Defined in strings.cc, the only place that uses it.
    template <class S>
    OVZ_LOCAL static S* makeWithText(const char* text, std::size_t n);
    // The bytes such an object takes, and the object made in memory the caller provides.
    template <class S>
    OVZ_LOCAL static std::size_t sizeWithText(std::size_t n);
    template <class S>
    OVZ_LOCAL static S* placeWithText(void* memory, const char* text, std::size_t n);

    OVZ_LOCAL void reserveFor(std::size_t extra);
    // Aborts when the string's state is not sound (checked builds only).
    OVZ_LOCAL void checkInvariants() const;
    OVZ_LOCAL void releaseHeapBuffer();
    OVZ_LOCAL char* text() const;            // where the bytes are (never null)
    OVZ_LOCAL std::size_t capacity() const;  // room for bytes and NUL at text()

    // The byte count, and in its top bit (kOnHeap) whether the text is in a malloc'd buffer.
    static constexpr unsigned int kOnHeap = 0x80000000u;
    unsigned int length_ = 0;
    // The text itself (a text in the object, or the first bytes of one behind it), or, for a
    // text in a malloc'd buffer, that buffer's capacity and then its address (at an 8-byte
    // boundary of the object). Kept as bytes, so that the text starts right after length_
    // (read here by bytes() and otherwise only in strings.cc).
    unsigned char room_[12];
};

// UTF-8 text that the string owns.
class OVZ_EXPORT ZUTF8String_6_0 : public ZAbstractMutableString_6_0 {
public:
    ZUTF8String_6_0() = default;
    // The bytes of `utf8` (null gives the empty string).
    explicit ZUTF8String_6_0(const char* utf8);
    // The decimal text of `value`, e.g. "-42".
    explicit ZUTF8String_6_0(int value);
    // `local` converted from the local code set.
    explicit ZUTF8String_6_0(const ZLCString_6_0& local);
    ZUTF8String_6_0(const ZUTF8String_6_0& other);
    ~ZUTF8String_6_0() override;

    // Replaces the bytes, as they are (a null text counts as "").
    ZUTF8String_6_0& operator=(const ZUTF8String_6_0& other);
    ZUTF8String_6_0& operator=(const char* utf8);
    // Appends the bytes, as they are (a null text counts as "").
    ZUTF8String_6_0& operator+=(const char* utf8);
    ZUTF8String_6_0& operator+=(const ZAbstractString_6_0& other);  // bytes as they are

    // A ZUTF8String_6_0 with the same bytes.
    ZObject_6_0* clone() const override;
    ZCodeSet_6_0 codeSet() const override;
    void assignUTF8(const char* utf8) override;
    void assignLocal(const char* local) override;

    // A new string (ZObject_6_0::operator new) of the `n` bytes at `bytes`, which need not be
    // followed by a NUL, made as a clone is (its text in the object's own allocation); the
    // caller owns it. What a clone of a view over those bytes would give, without the view.
    // REQUIRES: none of the `n` bytes is NUL. Throws ZOutOfMemoryException_6_0.
    static ZUTF8String_6_0* newWithBytes(const char* bytes, std::size_t n);
    // A new string of `n` bytes, made as newWithBytes makes one, whose bytes the caller writes
    // at `text` (the NUL after them is there already): for producers that write a text
    // straight into its string instead of into a buffer that is then copied. Until the caller
    // has written them the bytes are undefined; none of them may be NUL.
    // Throws ZOutOfMemoryException_6_0.
    static ZUTF8String_6_0* newToFill(std::size_t n, char*& text);
    // The same made in memory that the caller provides, for collections that keep strings in
    // storage of their own: sizeWithBytes(n) bytes, aligned as ZObject_6_0::operator new
    // aligns. The caller ends the object with its destructor (not delete) and then reuses or
    // frees the memory. sizeWithBytes throws ZOutOfMemoryException_6_0 for a text too long.
    static std::size_t sizeWithBytes(std::size_t n);
    // The string of the `n` bytes at `bytes`, made in the sizeWithBytes(n) bytes at `memory`.
    static ZUTF8String_6_0* placeWithBytes(void* memory, const char* bytes, std::size_t n) noexcept;
    // Ends a string that placeWithBytes made, as its destructor would (the text's heap buffer,
    // if it grew one, is freed), without a virtual call: for collections that end many.
    static void endPlaced(ZUTF8String_6_0* s) noexcept {
        if (s->length_ & kOnHeap) s->releaseHeapBuffer();
    }

    // Upper-cases the text in place, character by character with towupper in a UTF-8
    // locale (independent of the process locale). Invalid bytes are left as they are. The
    // byte length may change where an upper-case letter is encoded in another number of
    // bytes than its lower case (U+0131 becomes "I").
    void upper();
};

// Text in the local code set (LC_CTYPE of the process) that the string owns.
class OVZ_EXPORT ZLCString_6_0 : public ZAbstractMutableString_6_0 {
public:
    ZLCString_6_0() = default;
    // The bytes of `local` (null gives the empty string).
    explicit ZLCString_6_0(const char* local);
    // `utf8` converted into the local code set (see the conversion rule above).
    explicit ZLCString_6_0(const ZUTF8String_6_0& utf8);
    ZLCString_6_0(const ZLCString_6_0& other);
    ~ZLCString_6_0() override;

    // Replaces the text: local-code-set bytes as they are, a UTF-8 string converted; a null
    // text counts as "".
    ZLCString_6_0& operator=(const ZLCString_6_0& other);
    ZLCString_6_0& operator=(const char* local);
    ZLCString_6_0& operator=(const ZUTF8String_6_0& utf8);  // converts
    // Appends local-code-set bytes as they are (a null text counts as "").
    ZLCString_6_0& operator+=(const char* local);
    ZLCString_6_0& operator+=(const ZLCString_6_0& other);
    // A new string: this text followed by the local-code-set bytes of the argument.
    ZLCString_6_0 operator+(const char* local) const;
    ZLCString_6_0 operator+(const ZLCString_6_0& other) const;

    // A ZLCString_6_0 with the same bytes.
    ZObject_6_0* clone() const override;
    ZCodeSet_6_0 codeSet() const override;
    void assignUTF8(const char* utf8) override;
    void assignLocal(const char* local) override;

    // Compares ignoring case, character by character in the current locale (towlower of
    // each multibyte character; a byte that is not a valid character compares as itself).
    // Negative, 0 or positive; null counts as "".
    int compareignorecase(const char* local) const;
    int compareignorecase(const ZAbstractString_6_0& other) const;

    // The text converted to UTF-8.
    ZUTF8String_6_0 toUTF8() const;
};

// A view over a caller's UTF-8 text. The text must outlive the view and stay unchanged.
// clone() returns a ZUTF8String_6_0 that owns a copy, which is what an owning collection keeps.
class OVZ_EXPORT ZUTF8ConstString_6_0 : public ZAbstractString_6_0 {
public:
    // A view over `utf8` (null: empty).
    explicit ZUTF8ConstString_6_0(const char* utf8);
    // Another view over the same text.
    ZUTF8ConstString_6_0(const ZUTF8ConstString_6_0&) = default;
    // Makes this a view over the text of `other`.
    ZUTF8ConstString_6_0& operator=(const ZUTF8ConstString_6_0&) = default;
    ~ZUTF8ConstString_6_0() override;

    ZObject_6_0* clone() const override;
    const char* getChars() const override;
    std::size_t length() const override;
    ZCodeSet_6_0 codeSet() const override;

private:
    const char* text_;
    std::size_t length_;
};

// A view over a caller's local-code-set text; clone() returns an owning ZLCString_6_0.
class OVZ_EXPORT ZLCConstString_6_0 : public ZAbstractString_6_0 {
public:
    // A view over `local` (null: empty).
    explicit ZLCConstString_6_0(const char* local);
    // Another view over the same text.
    ZLCConstString_6_0(const ZLCConstString_6_0&) = default;
    // Makes this a view over the text of `other`.
    ZLCConstString_6_0& operator=(const ZLCConstString_6_0&) = default;
    ~ZLCConstString_6_0() override;

    ZObject_6_0* clone() const override;
    const char* getChars() const override;
    std::size_t length() const override;
    ZCodeSet_6_0 codeSet() const override;

private:
    const char* text_;
    std::size_t length_;
};

#endif  // OVZ_STRINGS_H
