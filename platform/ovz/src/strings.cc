// String classes: owned and viewed texts, UTF-8 and local code set.
#include <ovz/strings.h>

#include <errno.h>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <pthread.h>
#include <strings.h>
#include <wchar.h>
#include <wctype.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>

#include <ovz/exceptions.h>

#include "hash_bytes.h"
#include "invariants.h"
#include "utf8.h"

namespace {

[[noreturn]] void outOfMemory() { ZOutOfMemoryException_6_0().throwException(__FILE__, __LINE__); }

bool isUTF8Name(const char* codeset) {
    return codeset != nullptr &&
           (strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "UTF8") == 0);
}

[[noreturn]] void refuseConversion(const char* from, const char* to) {
    std::string what = "a character of the text cannot be converted from ";
    what += from;
    what += " to ";
    what += to;
    ZInvalidParameterException_6_0(what.c_str()).throwException(__FILE__, __LINE__);
}

// Releases an iconv descriptor on every way out, exceptions included.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (ok()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

// Converts `n` bytes of `in` from code set `from` to `to` with iconv. The text converts
// whole or not at all: a character that the target cannot represent, an invalid or
// truncated sequence in the source, or a result that would hold a NUL is refused with
// ZInvalidParameterException_6_0. Nothing is ever replaced, so a converted text always
// means what the original meant.
std::string convert(const char* from, const char* to, const char* in, std::size_t n) {
    std::string out;
    if (n == 0) return out;
    Converter cd(to, from);
    if (!cd.ok()) {
        // No converter between the two: ASCII is the same in every code set we meet.
        for (std::size_t i = 0; i < n; ++i)
            if (static_cast<unsigned char>(in[i]) >= 0x80) refuseConversion(from, to);
        return std::string(in, n);
    }
    char buffer[1024];
    char* src = const_cast<char*>(in);
    std::size_t left = n;
    while (left > 0) {
        char* dst = buffer;
        std::size_t room = sizeof buffer;
        std::size_t rc = iconv(cd.get(), &src, &left, &dst, &room);
        const int err = errno;
        out.append(buffer, static_cast<std::size_t>(dst - buffer));
        // EILSEQ (not representable or invalid) or EINVAL (the text ends inside a
        // character): the text cannot be converted as it is.
        if (rc == static_cast<std::size_t>(-1) && err != E2BIG) refuseConversion(from, to);
    }
    // Flush any shift state of a stateful target code set.
    char* dst = buffer;
    std::size_t room = sizeof buffer;
    if (iconv(cd.get(), nullptr, nullptr, &dst, &room) == static_cast<std::size_t>(-1))
        refuseConversion(from, to);
    out.append(buffer, static_cast<std::size_t>(dst - buffer));
    // A string holds no NUL of its own; a text that would need one is refused, not cut.
    if (out.find('\0') != std::string::npos) refuseConversion(from, to);
    return out;
}

// The C/POSIX locale names plain ASCII as its code set. Its texts are handled as UTF-8, of
// which ASCII is a part, so that a program that never chose a locale passes every byte
// through unchanged instead of losing each character beyond ASCII.
bool isAsciiName(const char* codeset) {
    return strcasecmp(codeset, "ANSI_X3.4-1968") == 0 || strcasecmp(codeset, "ASCII") == 0 ||
           strcasecmp(codeset, "US-ASCII") == 0;
}

const char* localCodeSet() {
    const char* cs = nl_langinfo(CODESET);
    return (cs != nullptr && *cs != '\0') ? cs : "ANSI_X3.4-1968";
}

// True when texts of the local code set are the same bytes as UTF-8 texts.
bool localIsUTF8(const char* codeset) { return isUTF8Name(codeset) || isAsciiName(codeset); }

std::string utf8ToLocal(const char* text, std::size_t n) {
    const char* cs = localCodeSet();
    if (localIsUTF8(cs)) return std::string(text ? text : "", n);
    return convert("UTF-8", cs, text, n);
}

std::string localToUTF8(const char* text, std::size_t n) {
    const char* cs = localCodeSet();
    if (localIsUTF8(cs)) return std::string(text ? text : "", n);
    return convert(cs, "UTF-8", text, n);
}

// The UTF-8 locale in which upper() maps characters; null when the system has none. Made
// on first use under pthread_once and never freed.
pthread_once_t utf8Locale_once = PTHREAD_ONCE_INIT;
locale_t utf8Locale_ = static_cast<locale_t>(0);

locale_t utf8Locale() {
    pthread_once(&utf8Locale_once, [] {
        utf8Locale_ = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        if (utf8Locale_ == static_cast<locale_t>(0))
            utf8Locale_ = newlocale(LC_CTYPE_MASK, "en_US.UTF-8", static_cast<locale_t>(0));
    });
    return utf8Locale_;
}

}  // namespace

// ---- ZAbstractString_6_0

ZAbstractString_6_0::~ZAbstractString_6_0() = default;

unsigned long ZAbstractString_6_0::hash() const {
    // Over the bytes only, so the same for every string class holding the same bytes.
    return ovz_internal::hashBytes(reinterpret_cast<const unsigned char*>(getChars()), length());
}

int ZAbstractString_6_0::compare(const ZObject_6_0& other) const {
    const auto* s = dynamic_cast<const ZAbstractString_6_0*>(&other);
    if (s == nullptr) return ZObject_6_0::compare(other);
    std::size_t a = length(), b = s->length();
    int c = std::memcmp(c_str(), s->c_str(), a < b ? a : b);
    if (c != 0) return c < 0 ? -1 : 1;
    return a < b ? -1 : (a > b ? 1 : 0);
}

bool ZAbstractString_6_0::equals(const ZObject_6_0& other) const {
    const auto* s = dynamic_cast<const ZAbstractString_6_0*>(&other);
    if (s == nullptr) return false;
    std::size_t n = length();
    return n == s->length() && std::memcmp(c_str(), s->c_str(), n) == 0;
}

bool ZAbstractString_6_0::equals(const char* text) const {
    const char* t = text ? text : "";
    std::size_t n = length();
    return std::strlen(t) == n && std::memcmp(c_str(), t, n) == 0;
}

const char* ZAbstractString_6_0::c_str() const {
    const char* p = getChars();
    return p ? p : "";
}

// ---- ZAbstractMutableString_6_0
//
// Where the text is: in room_ and, for a clone, on behind the object (an inline text), or in
// a malloc'd buffer whose address and capacity room_ holds (kOnHeap set in length_). An
// inline text always has room for max(sizeof room_, length + 1) bytes: a clone is allocated
// with room for its text and NUL, and an inline text never grows in place beyond either.

namespace {

// An inline text starts right after length_, which follows the virtual table pointer.
static_assert(sizeof(ZAbstractMutableString_6_0) == sizeof(void*) + sizeof(unsigned int) + 12,
              "room_ must follow length_ and end the object");
static_assert(sizeof(void*) == 8, "a heap buffer's address is kept at an 8-byte boundary");
constexpr std::size_t kMaxLength = 0x7FFFFFFEu;

// Where room_ keeps a heap buffer's capacity and address. The address sits at an 8-byte
// boundary of the object (room_ starts 4 bytes short of one), so that tools which scan
// memory for pointers, LeakSanitizer among them, see the buffer as reachable.
constexpr std::size_t kHeapCapacityAt = 0;
constexpr std::size_t kHeapDataAt = sizeof(unsigned int);

}  // namespace

ZAbstractMutableString_6_0::ZAbstractMutableString_6_0(const char* text) { append(text); }

ZAbstractMutableString_6_0::ZAbstractMutableString_6_0(const ZAbstractMutableString_6_0& other)
    : ZAbstractString_6_0(other) {
    append(other.getChars(), other.length());
}

ZAbstractMutableString_6_0& ZAbstractMutableString_6_0::operator=(
    const ZAbstractMutableString_6_0& other) {
    if (this != &other) assign(other);
    return *this;
}

ZAbstractMutableString_6_0::~ZAbstractMutableString_6_0() { releaseHeapBuffer(); }

char* ZAbstractMutableString_6_0::text() const {
    auto* room = const_cast<unsigned char*>(room_);
    if (!(length_ & kOnHeap)) return reinterpret_cast<char*>(room);
    char* data;
    std::memcpy(&data, room + kHeapDataAt, sizeof data);
    return data;
}

std::size_t ZAbstractMutableString_6_0::capacity() const {
    if (length_ & kOnHeap) {
        unsigned int capacity;
        std::memcpy(&capacity, room_ + kHeapCapacityAt, sizeof capacity);
        return capacity;
    }
    const std::size_t n = length_;
    return n + 1 > sizeof room_ ? n + 1 : sizeof room_;
}

void ZAbstractMutableString_6_0::checkInvariants() const {
#if OVZ_INVARIANTS
    // The bit that says where the text is, the room there and the NUL after the text. A text
    // in the object may run on behind it (a clone made with its text); there its room cannot
    // be checked, only its end.
    const std::size_t n = length();
    OVZ_INVARIANT(n <= kMaxLength);
    if (length_ & kOnHeap) {
        const std::size_t room = capacity();
        OVZ_INVARIANT(room >= n + 1 && room <= kMaxLength + 1 && room > sizeof room_);
        OVZ_INVARIANT(text() != nullptr);
        OVZ_INVARIANT(text()[n] == '\0');
    } else if (n != 0) {
        OVZ_INVARIANT(text()[n] == '\0');
    }
    if (n != 0) OVZ_INVARIANT(text()[0] != '\0' && text()[n - 1] != '\0');
#endif
}

void ZAbstractMutableString_6_0::releaseHeapBuffer() {
    if (length_ & kOnHeap) std::free(text());
    length_ = 0;
}

template <class S>
std::size_t ZAbstractMutableString_6_0::sizeWithText(std::size_t n) {
    // The text starts at room_ and runs on past the object's end, which is where room_ ends
    // only when S adds no members.
    static_assert(sizeof(S) == sizeof(ZAbstractMutableString_6_0), "S must add no members");
    constexpr std::size_t kHeader = sizeof(S) - sizeof(room_);
    return kHeader + n + 1 > sizeof(S) ? kHeader + n + 1 : sizeof(S);
}

template <class S>
S* ZAbstractMutableString_6_0::placeWithText(void* memory, const char* text, std::size_t n) {
    static_assert(std::is_nothrow_default_constructible_v<S>, "S() must not throw");
    S* s = ::new (memory) S();
    if (text == nullptr || n == 0) return s;  // empty: getChars() is null
    ZAbstractMutableString_6_0* base = s;
    char* room = reinterpret_cast<char*>(base->room_);
    std::memcpy(room, text, n);
    room[n] = '\0';
    base->length_ = static_cast<unsigned int>(n);
    return s;
}

template <class S>
S* ZAbstractMutableString_6_0::makeWithText(const char* text, std::size_t n) {
    if (text == nullptr || n == 0) return new S();  // empty: no buffer, getChars() is null
    if (n > kMaxLength) outOfMemory();
    void* block = ZObject_6_0::operator new(sizeWithText<S>(n));  // throws when out of memory
    // `delete s` runs the destructors and ZObject_6_0::operator delete frees the block.
    return placeWithText<S>(block, text, n);
}

const char* ZAbstractMutableString_6_0::getChars() const { return length() ? text() : nullptr; }
std::size_t ZAbstractMutableString_6_0::length() const { return length_ & ~kOnHeap; }

void ZAbstractMutableString_6_0::reserveFor(std::size_t extra) {
    const std::size_t n = length();
    if (extra > kMaxLength - n) outOfMemory();
    const std::size_t need = n + extra + 1;
    const std::size_t room = capacity();
    if (need <= room) return;
    std::size_t cap = room < 32 ? 32 : room;
    while (cap < need) cap = cap > (kMaxLength + 1) / 2 ? kMaxLength + 1 : cap * 2;
    char* p;
    if (length_ & kOnHeap) {
        p = static_cast<char*>(std::realloc(text(), cap));
        if (p == nullptr) outOfMemory();
    } else {
        // The inline room stays with the object: copy out of it.
        p = static_cast<char*>(std::malloc(cap));
        if (p == nullptr) outOfMemory();
        std::memcpy(p, room_, n);
        p[n] = '\0';
    }
    const auto capacity = static_cast<unsigned int>(cap);
    std::memcpy(room_ + kHeapCapacityAt, &capacity, sizeof capacity);
    std::memcpy(room_ + kHeapDataAt, &p, sizeof p);
    length_ = static_cast<unsigned int>(n) | kOnHeap;
}

void ZAbstractMutableString_6_0::append(const char* data, std::size_t n) {
    OVZ_CHECKED();
    if (data == nullptr || n == 0) return;
    // `data` may lie inside this string's own buffer, which reserveFor may move.
    const char* const own = text();
    if (data >= own && data < own + capacity()) {
        std::string copy(data, n);
        append(copy.data(), n);
        return;
    }
    reserveFor(n);
    char* const to = text();
    const std::size_t at = length();
    std::memcpy(to + at, data, n);
    to[at + n] = '\0';
    length_ += static_cast<unsigned int>(n);
}

void ZAbstractMutableString_6_0::append(const char* text) {
    if (text != nullptr) append(text, std::strlen(text));
}

void ZAbstractMutableString_6_0::append(const ZAbstractString_6_0& text) {
    append(text.getChars(), text.length());
}

void ZAbstractMutableString_6_0::assign(const char* text) {
    assign(text, text != nullptr ? std::strlen(text) : 0);
}

void ZAbstractMutableString_6_0::assign(const ZAbstractString_6_0& text) {
    if (&text == this) return;
    assign(text.getChars(), text.length());
}

// Replaces the bytes with the `n` bytes at `text`, keeping the buffer when they fit.
void ZAbstractMutableString_6_0::assign(const char* text, std::size_t n) {
    OVZ_CHECKED();
    const char* const own = this->text();
    if (text != nullptr && text >= own && text < own + capacity()) {
        std::string copy(text, n);  // `text` lies in this string's own buffer
        assign(copy.data(), n);
        return;
    }
    if (n + 1 <= capacity()) {
        // The text fits where the old one is: no allocation, and nothing that can fail.
        char* const to = this->text();
        if (n != 0) std::memcpy(to, text, n);
        to[n] = '\0';
        length_ = (length_ & kOnHeap) | static_cast<unsigned int>(n);
        return;
    }
    // The room first, so that running out of memory leaves the old text.
    reserveFor(n - length());
    length_ &= kOnHeap;
    this->text()[0] = '\0';
    append(text, n);
}

void ZAbstractMutableString_6_0::clear() {
    OVZ_CHECKED();
    releaseHeapBuffer();
}

// ---- ZUTF8String_6_0

ZUTF8String_6_0::ZUTF8String_6_0(const char* utf8) : ZAbstractMutableString_6_0(utf8) {}

ZUTF8String_6_0::ZUTF8String_6_0(int value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%d", value);
    append(buf);
}

ZUTF8String_6_0::ZUTF8String_6_0(const ZLCString_6_0& local) {
    std::string s = localToUTF8(local.c_str(), local.length());
    append(s.data(), s.size());
}

ZUTF8String_6_0::ZUTF8String_6_0(const ZUTF8String_6_0& other)
    : ZAbstractMutableString_6_0(other) {}
ZUTF8String_6_0::~ZUTF8String_6_0() = default;

ZUTF8String_6_0& ZUTF8String_6_0::operator=(const ZUTF8String_6_0& other) {
    ZAbstractMutableString_6_0::operator=(other);
    return *this;
}
ZUTF8String_6_0& ZUTF8String_6_0::operator=(const char* utf8) {
    assign(utf8);
    return *this;
}
ZUTF8String_6_0& ZUTF8String_6_0::operator+=(const char* utf8) {
    append(utf8);
    return *this;
}
ZUTF8String_6_0& ZUTF8String_6_0::operator+=(const ZAbstractString_6_0& other) {
    append(other);
    return *this;
}

ZObject_6_0* ZUTF8String_6_0::clone() const {
    return makeWithText<ZUTF8String_6_0>(getChars(), length());
}
ZUTF8String_6_0* ZUTF8String_6_0::newWithBytes(const char* bytes, std::size_t n) {
    return makeWithText<ZUTF8String_6_0>(bytes, n);
}
ZUTF8String_6_0* ZUTF8String_6_0::newToFill(std::size_t n, char*& text) {
    if (n == 0) {
        static char nothing[1] = {'\0'};
        text = nothing;  // nothing to write; the empty string has no buffer
        return new ZUTF8String_6_0();
    }
    if (n > kMaxLength) outOfMemory();
    void* block = ZObject_6_0::operator new(sizeWithText<ZUTF8String_6_0>(n));
    auto* s = ::new (block) ZUTF8String_6_0();
    ZAbstractMutableString_6_0* base = s;
    text = reinterpret_cast<char*>(base->room_);
    text[n] = '\0';
    base->length_ = static_cast<unsigned int>(n);
    return s;
}
std::size_t ZUTF8String_6_0::sizeWithBytes(std::size_t n) {
    if (n > kMaxLength) outOfMemory();
    return sizeWithText<ZUTF8String_6_0>(n);
}
ZUTF8String_6_0* ZUTF8String_6_0::placeWithBytes(void* memory, const char* bytes,
                                                 std::size_t n) noexcept {
    return placeWithText<ZUTF8String_6_0>(memory, bytes, n);
}
ZCodeSet_6_0 ZUTF8String_6_0::codeSet() const { return ZCODESET_UTF8; }
void ZUTF8String_6_0::assignUTF8(const char* utf8) { assign(utf8); }
void ZUTF8String_6_0::assignLocal(const char* local) {
    std::string s = localToUTF8(local, local ? std::strlen(local) : 0);
    clear();
    append(s.data(), s.size());
}

void ZUTF8String_6_0::upper() {
    std::size_t n = length();
    if (n == 0) return;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(getChars());
    // An ASCII text (names nearly always are) is upper-cased in place: in the UTF-8 locales
    // used below, towupper maps 'a'..'z' and nothing else of ASCII.
    std::size_t ascii = 0;
    while (ascii < n && p[ascii] < 0x80) ++ascii;
    if (ascii == n) {
        char* t = text();
        for (std::size_t i = 0; i < n; ++i)
            if (t[i] >= 'a' && t[i] <= 'z') t[i] = static_cast<char>(t[i] - 'a' + 'A');
        return;
    }
    locale_t loc = utf8Locale();
    std::string out;
    out.reserve(n);
    for (std::size_t i = 0; i < n;) {
        int len = ovz_utf8::sequenceLength(p + i, n - i);
        if (len <= 0) {  // invalid or truncated: the byte stays as it is
            out += static_cast<char>(p[i]);
            ++i;
            continue;
        }
        unsigned cp = ovz_utf8::decode(p + i, len);
        unsigned up = cp;
        if (loc != static_cast<locale_t>(0)) {
            up = static_cast<unsigned>(towupper_l(static_cast<wint_t>(cp), loc));
        } else if (cp >= 'a' && cp <= 'z') {
            up = cp - 'a' + 'A';
        }
        if (!ovz_utf8::isScalar(up)) up = cp;
        if (up == cp)
            out.append(reinterpret_cast<const char*>(p + i), static_cast<std::size_t>(len));
        else
            ovz_utf8::append(out, up);
        i += static_cast<std::size_t>(len);
    }
    clear();
    append(out.data(), out.size());
}

// ---- ZLCString_6_0

ZLCString_6_0::ZLCString_6_0(const char* local) : ZAbstractMutableString_6_0(local) {}

ZLCString_6_0::ZLCString_6_0(const ZUTF8String_6_0& utf8) {
    std::string s = utf8ToLocal(utf8.c_str(), utf8.length());
    append(s.data(), s.size());
}

ZLCString_6_0::ZLCString_6_0(const ZLCString_6_0& other) : ZAbstractMutableString_6_0(other) {}
ZLCString_6_0::~ZLCString_6_0() = default;

ZLCString_6_0& ZLCString_6_0::operator=(const ZLCString_6_0& other) {
    ZAbstractMutableString_6_0::operator=(other);
    return *this;
}
ZLCString_6_0& ZLCString_6_0::operator=(const char* local) {
    assign(local);
    return *this;
}
ZLCString_6_0& ZLCString_6_0::operator=(const ZUTF8String_6_0& utf8) {
    assignUTF8(utf8.c_str());
    return *this;
}
ZLCString_6_0& ZLCString_6_0::operator+=(const char* local) {
    append(local);
    return *this;
}
ZLCString_6_0& ZLCString_6_0::operator+=(const ZLCString_6_0& other) {
    append(other);
    return *this;
}
ZLCString_6_0 ZLCString_6_0::operator+(const char* local) const {
    ZLCString_6_0 r(*this);
    r += local;
    return r;
}
ZLCString_6_0 ZLCString_6_0::operator+(const ZLCString_6_0& other) const {
    ZLCString_6_0 r(*this);
    r += other;
    return r;
}

ZObject_6_0* ZLCString_6_0::clone() const {
    return ZAbstractMutableString_6_0::makeWithText<ZLCString_6_0>(getChars(), length());
}
ZCodeSet_6_0 ZLCString_6_0::codeSet() const { return ZCODESET_LOCAL; }
void ZLCString_6_0::assignUTF8(const char* utf8) {
    std::string s = utf8ToLocal(utf8, utf8 ? std::strlen(utf8) : 0);
    clear();
    append(s.data(), s.size());
}
void ZLCString_6_0::assignLocal(const char* local) { assign(local); }

int ZLCString_6_0::compareignorecase(const char* local) const {
    const char* a = c_str();
    const char* b = local ? local : "";
    std::size_t na = std::strlen(a), nb = std::strlen(b);
    mbstate_t sa{}, sb{};
    while (na > 0 && nb > 0) {
        wchar_t wa = 0, wb = 0;
        std::size_t la = mbrtowc(&wa, a, na, &sa);
        std::size_t lb = mbrtowc(&wb, b, nb, &sb);
        // A byte that is not a valid character compares as its own value.
        if (la == 0 || la > na) {
            wa = static_cast<unsigned char>(*a);
            la = 1;
            sa = mbstate_t{};
        }
        if (lb == 0 || lb > nb) {
            wb = static_cast<unsigned char>(*b);
            lb = 1;
            sb = mbstate_t{};
        }
        wint_t ca = towlower(static_cast<wint_t>(wa));
        wint_t cb = towlower(static_cast<wint_t>(wb));
        if (ca != cb) return ca < cb ? -1 : 1;
        a += la;
        na -= la;
        b += lb;
        nb -= lb;
    }
    return na > 0 ? 1 : (nb > 0 ? -1 : 0);
}

int ZLCString_6_0::compareignorecase(const ZAbstractString_6_0& other) const {
    return compareignorecase(other.c_str());
}

ZUTF8String_6_0 ZLCString_6_0::toUTF8() const { return ZUTF8String_6_0(*this); }

// ---- views

ZUTF8ConstString_6_0::ZUTF8ConstString_6_0(const char* utf8)
    : text_(utf8), length_(utf8 ? std::strlen(utf8) : 0) {}
ZUTF8ConstString_6_0::~ZUTF8ConstString_6_0() = default;
ZObject_6_0* ZUTF8ConstString_6_0::clone() const {
    return ZAbstractMutableString_6_0::makeWithText<ZUTF8String_6_0>(text_, length_);
}
const char* ZUTF8ConstString_6_0::getChars() const { return text_; }
std::size_t ZUTF8ConstString_6_0::length() const { return length_; }
ZCodeSet_6_0 ZUTF8ConstString_6_0::codeSet() const { return ZCODESET_UTF8; }

ZLCConstString_6_0::ZLCConstString_6_0(const char* local)
    : text_(local), length_(local ? std::strlen(local) : 0) {}
ZLCConstString_6_0::~ZLCConstString_6_0() = default;
ZObject_6_0* ZLCConstString_6_0::clone() const {
    return ZAbstractMutableString_6_0::makeWithText<ZLCString_6_0>(text_, length_);
}
const char* ZLCConstString_6_0::getChars() const { return text_; }
std::size_t ZLCConstString_6_0::length() const { return length_; }
ZCodeSet_6_0 ZLCConstString_6_0::codeSet() const { return ZCODESET_LOCAL; }
