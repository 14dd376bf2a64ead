// Array list and hash maps of objects.
#include <ovz/collections.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <typeinfo>
#include <utility>

#include <ovz/exceptions.h>
#include <ovz/strings.h>

#include "hash_bytes.h"
#include "invariants.h"

#if defined(__SANITIZE_ADDRESS__)
#define OVZ_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OVZ_ASAN 1
#endif
#endif
#ifdef OVZ_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace {

// The memory of the collections themselves (list arrays, map tables) comes from the object
// allocator, like the objects they hold: small pieces from its per-thread free lists, large
// ones from malloc. Null when memory is exhausted.
void* allocateMemory(std::size_t n) noexcept { return ZObject_6_0::operator new(n, std::nothrow); }
void releaseMemory(void* p) noexcept { ZObject_6_0::operator delete(p); }

[[noreturn]] void outOfMemory() { ZOutOfMemoryException_6_0().throwException(__FILE__, __LINE__); }

// Deletes a clone when the owner that was to take it could not; keeps exception paths tidy.
struct CloneGuard {
    ZObject_6_0* object;
    bool owned;
    ~CloneGuard() {
        if (owned) delete object;
    }
};

}  // namespace

// ---- ZArrayList_6_0
//
// A list holds its first element in room_.one; the array is allocated when the list outgrows
// that room, with room for at least the capacity given to the constructor (and then doubles).
//
// A packed list (kPacked, made by addTexts) has one allocation: the array, then the strings
// that addTexts made, one after the other. All its elements are such strings: they are ended
// in place, never deleted, and the allocation goes when the array does. A list packed by
// addTextsAt (kExternal as well) is the same in memory its owner provides: it is never freed
// by the list.
//
// Whatever would put another object into a packed list (add, set, a larger array) gives it an
// array of its own and keeps the packed block as an arena (kExternal without kPacked): the
// strings stay where they are, so that a reference to one stays valid for as long as the
// string is in the list. The array then has an Arena behind its last place, which holds the
// block (when it is the list's to free) and the range of the strings in it; an element in
// that range is ended in place, any other is deleted. The block goes with the array.

namespace {

// The least room of a first array: a list that outgrows its one element usually stays small.
constexpr unsigned long kFirstRoom = 2;

// What an array keeps behind its last place once its list has left its packed block (see
// above): the block, when the list frees it, and the range of the strings made in it.
struct Arena {
    void* block;        // null: the owner's memory (addTextsAt)
    const char* first;  // the lowest string in the block
    const char* last;   // the highest string in the block
};
constexpr std::size_t kArenaPlaces = sizeof(Arena) / sizeof(ZObject_6_0*);
static_assert(sizeof(Arena) % sizeof(ZObject_6_0*) == 0, "an Arena takes whole places");

}  // namespace

ZArrayList_6_0::ZArrayList_6_0(unsigned long capacity, int owns)
    : state_((owns ? kOwns : 0) |
             static_cast<unsigned int>(capacity < kRoomMask ? capacity : kRoomMask)) {}

ZArrayList_6_0::ZArrayList_6_0(const ZArrayList_6_0& other)
    : ZObject_6_0(other), state_(other.state_ & kOwns) {
    // The copy's first array is exactly as large as it needs.
    if (other.size_ > 1) reserve(other.size_);
    try {
        ZObject_6_0** from = other.items();
        for (unsigned int i = 0; i < other.size_; ++i) add(*from[i]);
    } catch (...) {
        removeAll();
        releaseArray();
        throw;
    }
}

ZArrayList_6_0& ZArrayList_6_0::operator=(const ZArrayList_6_0& other) {
    OVZ_CHECKED();
    if (this == &other) return *this;
    ZArrayList_6_0 copy(other);  // may throw; this list is unchanged then
    removeAll();
    releaseArray();
    std::swap(room_, copy.room_);
    std::swap(size_, copy.size_);
    std::swap(state_, copy.state_);
    return *this;
}

ZArrayList_6_0::~ZArrayList_6_0() {
#if OVZ_INVARIANTS
    checkInvariants();
#endif
    removeAll();
    releaseArray();
}

ZObject_6_0** ZArrayList_6_0::items() const {
    return (state_ & kArray) ? room_.array : const_cast<ZObject_6_0**>(&room_.one);
}

unsigned long ZArrayList_6_0::capacity() const {
    return (state_ & kArray) ? state_ & kRoomMask : 1;
}

namespace {

// What ZUTF8String_6_0::sizeWithBytes gives, read once from it so that the many texts of a
// decoder cost no call each: the size of a string holding nothing, and the bytes a string
// takes besides its text and the NUL after it once the text outgrows the object.
const std::size_t kEmptyStringSize = ZUTF8String_6_0::sizeWithBytes(0);
const std::size_t kStringHeader = ZUTF8String_6_0::sizeWithBytes(1024) - 1025;

// The bytes a string made by addTexts takes in a packed list's allocation: sizeWithBytes,
// rounded up to 8. Texts of a GiB or more ask sizeWithBytes itself, which refuses those too
// long for a string.
inline std::size_t packedSize(std::size_t length) {
    std::size_t size;
    if (length < (std::size_t{1} << 30)) {
        size = kStringHeader + length + 1;
        if (size < kEmptyStringSize) size = kEmptyStringSize;
    } else {
        size = ZUTF8String_6_0::sizeWithBytes(length);
    }
    return (size + 7) & ~std::size_t{7};
}

// Ends a string held in a packed list's allocation. Under AddressSanitizer the object's own
// bytes (every such string takes at least those) are then poisoned, so that a use after its
// removal is reported as for an object of its own.
inline void endInPlace(ZObject_6_0* element) {
    // Every element of a packed list is a string that placeWithBytes made.
    ZUTF8String_6_0::endPlaced(static_cast<ZUTF8String_6_0*>(element));
#ifdef OVZ_ASAN
    __asan_poison_memory_region(element, sizeof(ZUTF8String_6_0));
#endif
}

}  // namespace

namespace {

inline Arena* arenaOf(ZObject_6_0** array, unsigned long capacity) {
    return reinterpret_cast<Arena*>(array + capacity);
}

// Whether `element` of a list whose array of `capacity` keeps an arena is one of the strings
// in the arena's block.
inline bool inArena(ZObject_6_0** array, unsigned long capacity, const ZObject_6_0* element) {
    const Arena* arena = arenaOf(array, capacity);
    const auto* at = reinterpret_cast<const char*>(element);
    return at >= arena->first && at <= arena->last;
}

// An array of `capacity` places with room for an Arena behind them when `arena`; null when
// memory is exhausted or the capacity is past the list's limit.
ZObject_6_0** allocateArray(unsigned long capacity, bool arena) {
    if (capacity > (std::size_t{1} << 28)) return nullptr;
    return static_cast<ZObject_6_0**>(
        allocateMemory((capacity + (arena ? kArenaPlaces : 0)) * sizeof(ZObject_6_0*)));
}

}  // namespace

void ZArrayList_6_0::checkInvariants() const {
#if OVZ_INVARIANTS
    // The states of a list: whether it has an array, is packed (in its own block or in its
    // owner's memory), or keeps a packed block as its array's arena; and its size.
    const bool array = (state_ & kArray) != 0;
    const bool packed = (state_ & kPacked) != 0;
    const bool external = (state_ & kExternal) != 0;
    OVZ_INVARIANT(size_ <= capacity() && capacity() <= kRoomMask);
    OVZ_INVARIANT(array || size_ <= 1);
    OVZ_INVARIANT(!array || (room_.array != nullptr && (state_ & kRoomMask) != 0));
    OVZ_INVARIANT(!(packed || external) || (state_ & kOwns));  // only owning lists pack
    OVZ_INVARIANT(!packed || array || external);  // one packed text: in its owner's memory
    if (external && !packed) {
        OVZ_INVARIANT(array);  // an arena lives behind an array
        const Arena* arena = arenaOf(room_.array, state_ & kRoomMask);
        OVZ_INVARIANT(arena->first != nullptr && arena->first <= arena->last);
    }
    if (size_ != 0) OVZ_INVARIANT(items()[0] != nullptr && items()[size_ - 1] != nullptr);
#endif
}

void ZArrayList_6_0::releaseArray() {
    if (state_ & kArray) {
        if ((state_ & (kPacked | kExternal)) == kExternal) {
            // An array that keeps its list's packed block: both go.
            releaseMemory(arenaOf(room_.array, state_ & kRoomMask)->block);
            releaseMemory(room_.array);
        } else if (!(state_ & kExternal)) {
            releaseMemory(room_.array);
        }
        state_ &= kOwns;  // the first array of a list that was emptied gets the least room
    }
    state_ &= ~(kPacked | kExternal);  // also for one string held in room_.one
    room_.one = nullptr;
}

// Gives a packed list an ordinary array of `capacity` that keeps the packed block as its
// arena: the elements stay where they are. On an exception the list is unchanged.
void ZArrayList_6_0::unpack(unsigned long capacity) {
    if (capacity < size_) capacity = size_;
    if (capacity > kRoomMask) outOfMemory();
    ZObject_6_0** fresh = allocateArray(capacity, true);
    if (fresh == nullptr) outOfMemory();
    ZObject_6_0** packed = items();  // one string made by addTextsAt is held in room_.one
    Arena arena = {(state_ & kExternal) ? nullptr : static_cast<void*>(packed), nullptr, nullptr};
    // The strings lie behind the array in the block (or are the one string in room_.one);
    // after a removeAll the list holds none, and the range is that of where they were.
    const char* const start = (state_ & kArray)
                                  ? reinterpret_cast<const char*>(packed + (state_ & kRoomMask))
                                  : reinterpret_cast<const char*>(room_.one);
    arena.first = arena.last = start;
    for (unsigned int i = 0; i < size_; ++i) {
        const auto* at = reinterpret_cast<const char*>(packed[i]);
        if (at > arena.last) arena.last = at;
    }
    std::memcpy(fresh, packed, size_ * sizeof(ZObject_6_0*));
    *arenaOf(fresh, capacity) = arena;
    room_.array = fresh;
    state_ = (state_ & kOwns) | kArray | kExternal | static_cast<unsigned int>(capacity);
}

unsigned long ZArrayList_6_0::hash() const {
    unsigned long h = size_;
    ZObject_6_0** elements = items();
    for (unsigned int i = 0; i < size_; ++i) h = h * 31 + elements[i]->hash();
    return h;
}

ZObject_6_0* ZArrayList_6_0::clone() const { return new ZArrayList_6_0(*this); }

bool ZArrayList_6_0::equals(const ZObject_6_0& other) const {
    if (this == &other) return true;
    const auto* list = dynamic_cast<const ZArrayList_6_0*>(&other);
    if (list == nullptr || list->size() != size()) return false;
    ZObject_6_0** elements = items();
    for (unsigned int i = 0; i < size_; ++i)
        if (!elements[i]->equals(*list->get(i))) return false;
    return true;
}

void ZArrayList_6_0::reserve(unsigned long capacity) {
    const unsigned long room = this->capacity();
    if (capacity <= room) return;
    if (capacity > kRoomMask) outOfMemory();
    // A list that outgrows an array of its own grows it at least twofold (up to the limit), so
    // that adds in batches of any size, a decoder's records of one name above all, cost
    // amortised constant time per element. Only the first array is made exactly as large as
    // asked, for a list whose final size is known.
    if (state_ & (kArray | kPacked)) {
        const unsigned long grown = room < kRoomMask / 2 ? room * 2 : kRoomMask;
        if (capacity < grown) capacity = grown;
    }
    if (state_ & kPacked) {
        unpack(capacity);
        return;
    }
    const bool arena = (state_ & kExternal) != 0;  // an array that keeps a packed block
    ZObject_6_0** p = allocateArray(capacity, arena);
    if (p == nullptr) outOfMemory();
    ZObject_6_0** old = items();
    std::memcpy(p, old, size_ * sizeof(ZObject_6_0*));
    if (arena) *arenaOf(p, capacity) = *arenaOf(old, state_ & kRoomMask);
    if (state_ & kArray) releaseMemory(old);
    room_.array = p;
    state_ = (state_ & (kOwns | kExternal)) | kArray | static_cast<unsigned int>(capacity);
}

void ZArrayList_6_0::ensureCapacity(unsigned long capacity) {
    OVZ_CHECKED();
    reserve(capacity);
}

ZObject_6_0* ZArrayList_6_0::store(const ZObject_6_0& element) const {
    return (state_ & kOwns) ? element.clone() : const_cast<ZObject_6_0*>(&element);
}

void ZArrayList_6_0::dispose(ZObject_6_0* element) const {
    if (!(state_ & kOwns)) return;
    if (state_ & kPacked) {
        endInPlace(element);  // its memory is the list's array or its owner's
    } else if ((state_ & kExternal) && inArena(room_.array, state_ & kRoomMask, element)) {
        endInPlace(element);  // its memory is the packed block the array keeps
    } else {
        delete element;
    }
}

void ZArrayList_6_0::makeRoomForOne() {
    const unsigned long room = capacity();
    if (state_ & kPacked) {
        if (size_ < room) {
            unpack(room);  // another object is to join
            return;
        }
    } else if (size_ < room) {
        return;
    }
    if (state_ & (kArray | kPacked)) {
        reserve(room + 1);  // grows twofold, up to the limit
    } else {
        const unsigned long least = state_ & kRoomMask;
        reserve(least > kFirstRoom ? least : kFirstRoom);
    }
}

void ZArrayList_6_0::add(const ZObject_6_0& element) {
    OVZ_CHECKED();
    // The clone first: `element` may be one of this list's own, which making room may end.
    CloneGuard stored{store(element), (state_ & kOwns) != 0};
    makeRoomForOne();
    stored.owned = false;
    items()[size_] = stored.object;
    ++size_;
}

void ZArrayList_6_0::addOwned(ZObject_6_0* element) {
    OVZ_CHECKED();
    CloneGuard guard{element, (state_ & kOwns) != 0};
    makeRoomForOne();
    guard.owned = false;
    items()[size_] = element;
    ++size_;
}

void ZArrayList_6_0::setOwned(unsigned long index, ZObject_6_0* element) {
    OVZ_CHECKED();
    CloneGuard replacement{element, (state_ & kOwns) != 0};
    if (index >= size_)
        ZInvalidParameterException_6_0("list index out of range")
            .throwException(__FILE__, __LINE__);
    if (state_ & kPacked) unpack(capacity());  // the replacement is not one of its strings
    replacement.owned = false;
    ZObject_6_0** elements = items();
    ZObject_6_0* old = elements[index];
    elements[index] = element;
    dispose(old);
}

void ZArrayList_6_0::addTexts(const Text* texts, unsigned long n) {
    OVZ_CHECKED();
    if (n == 0) return;
    if (size_ != 0 || (state_ & kArray) || n < 2 || n > kRoomMask) {
        // Objects of their own: the list already has storage, or one text needs none.
        ensureCapacity(size_ + n);
        for (unsigned long i = 0; i < n; ++i)
            addOwned(ZUTF8String_6_0::newWithBytes(texts[i].data, texts[i].size));
        return;
    }
    // One allocation: the array, then each string (8-byte aligned, as the allocator aligns
    // its blocks).
    void* memory = allocateMemory(textsSize(texts, n));
    if (memory == nullptr) outOfMemory();
    addTextsAt(memory, texts, n);
    state_ &= ~kExternal;  // the allocation is the list's
}

std::size_t ZArrayList_6_0::textsSize(const Text* texts, unsigned long n) {
    if (n > kRoomMask) outOfMemory();
    // One string needs no array: the list holds it in room_.one.
    std::size_t bytes = n > 1 ? n * sizeof(ZObject_6_0*) : 0;
    for (unsigned long i = 0; i < n; ++i) {
        const std::size_t size = packedSize(texts[i].size);
        if (size > ~std::size_t{0} - bytes) outOfMemory();
        bytes += size;
    }
    return bytes;
}

void ZArrayList_6_0::addTextsAt(void* memory, const Text* texts, unsigned long n) noexcept {
    OVZ_CHECKED();
    if (n == 1) {
        room_.one = ZUTF8String_6_0::placeWithBytes(memory, texts[0].data, texts[0].size);
        size_ = 1;
        state_ |= kPacked | kExternal;  // still without an array: the least capacity stays
        return;
    }
    auto** array = static_cast<ZObject_6_0**>(memory);
    char* at = reinterpret_cast<char*>(array + n);
    for (unsigned long i = 0; i < n; ++i) {
        array[i] = ZUTF8String_6_0::placeWithBytes(at, texts[i].data, texts[i].size);
        at += packedSize(texts[i].size);
    }
    room_.array = array;
    size_ = static_cast<unsigned int>(n);
    state_ = (state_ & kOwns) | kArray | kPacked | kExternal | static_cast<unsigned int>(n);
}

ZObject_6_0* ZArrayList_6_0::get(unsigned long index) const {
    return index < size_ ? items()[index] : nullptr;
}

void ZArrayList_6_0::set(unsigned long index, const ZObject_6_0& element) {
    OVZ_CHECKED();
    if (index >= size_)
        ZInvalidParameterException_6_0("list index out of range")
            .throwException(__FILE__, __LINE__);
    CloneGuard replacement{store(element), (state_ & kOwns) != 0};
    if (state_ & kPacked) unpack(capacity());  // the replacement is not one of its strings
    replacement.owned = false;
    ZObject_6_0** elements = items();
    ZObject_6_0* old = elements[index];
    elements[index] = replacement.object;
    dispose(old);
}

void ZArrayList_6_0::remove(unsigned long index) {
    OVZ_CHECKED();
    if (index >= size_)
        ZInvalidParameterException_6_0("list index out of range")
            .throwException(__FILE__, __LINE__);
    ZObject_6_0** elements = items();
    ZObject_6_0* old = elements[index];
    std::memmove(elements + index, elements + index + 1,
                 (size_ - index - 1) * sizeof(ZObject_6_0*));
    --size_;
    dispose(old);
}

void ZArrayList_6_0::removeAll() {
    OVZ_CHECKED();
    // Detach first: an element's destructor must not see a half-emptied list.
    const unsigned int n = size_;
    size_ = 0;
    ZObject_6_0** elements = items();
    for (unsigned int i = 0; i < n; ++i) dispose(elements[i]);
}

unsigned long ZArrayList_6_0::size() const { return size_; }

unsigned long ZArrayList_6_0::indexOf(const ZObject_6_0& element) const {
    ZObject_6_0** elements = items();
    for (unsigned int i = 0; i < size_; ++i)
        if (elements[i]->equals(element)) return i;
    return size_;
}

// ---- ZHashKeyMap_6_0
//
// One allocation (the Table) holds, after its header:
//  - slots: key and value of each entry, in listing order; a removed entry leaves its slot
//    empty until the table is rebuilt;
//  - tags: one byte per slot, 0x80 and 7 bits of the key's hash, 0 for an empty slot; a
//    look-up calls equals only where the tag matches;
//  - kinds: one byte per slot, kPlacedKey when the key is a string that getOrPutText made
//    in the table's key store;
//  - the index (tables of more than kLinear slots): open addressing by hash, each place
//    holding a slot number + 1 (0: free), 1, 2 or 4 bytes wide by the table's capacity. A
//    removed entry's place stays taken, so that probes go on past it. Small tables have no
//    index: the tags are searched in order.
// A full table is rebuilt: at twice the capacity, or at the same one when at most half of its
// slots hold entries.
//
// The key store: blocks, chained from the table, in which getOrPutText makes its keys one
// after the other (as a packed list makes its strings), so that a decoder's keys cost no
// allocation of their own and no virtual destructor. Such a key is ended in place when its
// entry goes; the blocks go when the map is emptied or dies, and pass to the new table when
// one is rebuilt, so that keys never move.

namespace {

constexpr unsigned long kLinear = 8;
constexpr unsigned long kNoTable = 1;  // state_ bit: no table yet
constexpr unsigned long kStateOwns = 2;
constexpr unsigned long kMaxCapacity = 0x7FFFFFFFul;

using Slot = ZHashKeyMap_6_0::Entry;

// Spreads the bits of a hash (many classes hash to small or aligned numbers).
inline std::uint64_t mix(unsigned long h) {
    return static_cast<std::uint64_t>(h) * 0x9E3779B97F4A7C15u;
}
inline unsigned char tagOf(std::uint64_t m) {
    return static_cast<unsigned char>(0x80 | (m & 0x7F));
}

constexpr unsigned char kPlacedKey = 1;  // a slot's kind: the key lives in the key store

// A block of the key store: its header, then the keys. A block holds less than 4 GiB (a key
// is a string, at most 2 GiB).
struct KeyBlock {
    KeyBlock* next;      // the block filled before this one
    std::uint32_t room;  // bytes for keys after the header
    std::uint32_t used;  // bytes taken
    char* at(std::size_t offset) { return reinterpret_cast<char*>(this + 1) + offset; }
};
static_assert(sizeof(KeyBlock) % 8 == 0, "keys start 8-aligned");

constexpr std::size_t kLargestKeyBlock = (std::size_t{1} << 16) - sizeof(KeyBlock);
// The most reserveTextKeys makes at once.
constexpr std::size_t kReservedKeyBlock = 4096 - sizeof(KeyBlock);

// A new block of the key store with `room` bytes for keys, after `before`.
KeyBlock* newKeyBlock(KeyBlock* before, std::size_t room) {
    if (room > UINT32_MAX - sizeof(KeyBlock)) outOfMemory();
    auto* block = static_cast<KeyBlock*>(allocateMemory(sizeof(KeyBlock) + room));
    if (block == nullptr) outOfMemory();
    *block = KeyBlock{before, static_cast<std::uint32_t>(room), 0};
    return block;
}

// Ends a key made in the key store, as endInPlace ends a packed list's string.
inline void endPlacedKey(ZObject_6_0* key) {
    ZUTF8String_6_0::endPlaced(static_cast<ZUTF8String_6_0*>(key));
#ifdef OVZ_ASAN
    __asan_poison_memory_region(key, sizeof(ZUTF8String_6_0));
#endif
}

void releaseKeyBlocks(KeyBlock* block) {
    while (block != nullptr) {
        KeyBlock* next = block->next;
        releaseMemory(block);
        block = next;
    }
}

// Whether the stored key `key` holds exactly the `n` bytes at `bytes`: a string of those bytes,
// as ZAbstractString_6_0::equals compares strings.
inline bool keyHoldsBytes(const ZObject_6_0* key, const char* bytes, std::size_t n) {
    std::size_t length;
    const char* text;
    if (typeid(*key) == typeid(ZUTF8String_6_0)) {
        text = static_cast<const ZUTF8String_6_0*>(key)->bytes(length);
    } else if (const auto* s = dynamic_cast<const ZAbstractString_6_0*>(key)) {
        text = s->c_str();
        length = s->length();
    } else {
        return false;
    }
    return length == n && std::memcmp(text, bytes, n) == 0;
}

}  // namespace

struct ZHashKeyMap_6_0::Table {
    unsigned int count;        // live entries
    unsigned int used;         // slots taken, emptied ones included
    unsigned int capacity;     // slots
    unsigned char indexBits;   // log2 of the index's places; 0: no index
    unsigned char indexWidth;  // bytes per index place
    unsigned char owns;
    unsigned char unused;
    KeyBlock* keys;  // the key store's newest block; null when it has none

    Slot* slots() { return reinterpret_cast<Slot*>(this + 1); }
    unsigned char* tags() { return reinterpret_cast<unsigned char*>(slots() + capacity); }
    unsigned char* kinds() { return tags() + ((capacity + 3) & ~3u); }
    unsigned char* index() { return kinds() + ((capacity + 3) & ~3u); }
    std::size_t places() const { return indexBits ? std::size_t{1} << indexBits : 0; }

    std::size_t at(std::size_t place) {
        switch (indexWidth) {
            case 1:
                return index()[place];
            case 2:
                return reinterpret_cast<std::uint16_t*>(index())[place];
            default:
                return reinterpret_cast<std::uint32_t*>(index())[place];
        }
    }
    void put(std::size_t place, std::size_t slot) {
        switch (indexWidth) {
            case 1:
                index()[place] = static_cast<unsigned char>(slot + 1);
                break;
            case 2:
                reinterpret_cast<std::uint16_t*>(index())[place] =
                    static_cast<std::uint16_t>(slot + 1);
                break;
            default:
                reinterpret_cast<std::uint32_t*>(index())[place] =
                    static_cast<std::uint32_t>(slot + 1);
                break;
        }
    }
    // The first place to probe for a mixed hash.
    std::size_t home(std::uint64_t m) const {
        return static_cast<std::size_t>(m >> (64 - indexBits));
    }
    // Enters slot `slot` under mixed hash `m` in the index (there is one).
    void link(std::size_t slot, std::uint64_t m) {
        const std::size_t mask = places() - 1;
        std::size_t place = home(m);
        while (at(place) != 0) place = (place + 1) & mask;
        put(place, slot);
    }

    // The slot of the entry whose tag is that of mixed hash `m` and whose key `matches`, or
    // ~0ul: the tags in order in a small table, else the index from the hash's home place.
    template <class Match>
    unsigned long probe(std::uint64_t m, Match matches) {
        if (count == 0) return ~0ul;
        const unsigned char tag = tagOf(m);
        const unsigned char* const t = tags();
        Slot* const s = slots();
        if (indexBits == 0) {
            for (unsigned int i = 0; i < used; ++i)
                if (t[i] == tag && matches(s[i].key)) return i;
            return ~0ul;
        }
        const std::size_t mask = places() - 1;
        for (std::size_t place = home(m);; place = (place + 1) & mask) {
            const std::size_t entry = at(place);
            if (entry == 0) return ~0ul;
            const std::size_t i = entry - 1;
            if (t[i] == tag && matches(s[i].key)) return i;
        }
    }

    // A new, empty table of `capacity` slots; null when memory is exhausted.
    static Table* make(unsigned long capacity, bool owns) {
        unsigned char bits = 0;
        unsigned char width = 0;
        if (capacity > kLinear) {
            // At most two thirds of the places are taken.
            while ((std::size_t{1} << bits) < capacity + capacity / 2) ++bits;
            width = capacity < 0xFF ? 1 : capacity < 0xFFFF ? 2 : 4;
        }
        const std::size_t bytes = sizeof(Table) + capacity * sizeof(Slot) +
                                  2 * ((capacity + 3) & ~3ul) +
                                  (bits ? (std::size_t{1} << bits) * width : 0);
        auto* t = static_cast<Table*>(allocateMemory(bytes));
        if (t == nullptr) return nullptr;
        *t = Table{0, 0, static_cast<unsigned int>(capacity), bits, width, owns, 0, nullptr};
        std::memset(t->tags(), 0, bytes - sizeof(Table) - capacity * sizeof(Slot));
        return t;
    }
};

static_assert(sizeof(void*) == sizeof(unsigned long), "state_ holds a table's address");

#if OVZ_INVARIANTS
namespace {

// The soundness of one slot of a table: its tag, its kind and its key and value agree.
template <class T>
void checkSlot(T* t, unsigned int i) {
    const unsigned char tag = t->tags()[i];
    const Slot slot = t->slots()[i];
    OVZ_INVARIANT((tag == 0) == (slot.key == nullptr) && (tag == 0) == (slot.value == nullptr));
    OVZ_INVARIANT(tag == 0 || (tag & 0x80) != 0);
    const unsigned char kind = t->kinds()[i];
    OVZ_INVARIANT(kind == 0 || (kind == kPlacedKey && tag != 0 && t->owns && t->keys != nullptr));
}

// The header of a table, its newest slot and its newest key block; with `everySlot`, also
// every slot, the count of live ones, the free slots and the index. T is the map's Table.
template <class T>
void checkTable(T* t, bool everySlot) {
    OVZ_INVARIANT(t->count <= t->used && t->used <= t->capacity && t->capacity <= kMaxCapacity);
    OVZ_INVARIANT(t->owns <= 1);
    OVZ_INVARIANT((t->capacity > kLinear) == (t->indexBits != 0));
    if (t->indexBits != 0) {
        OVZ_INVARIANT(t->places() >= t->capacity + t->capacity / 2);
        OVZ_INVARIANT(t->indexWidth == (t->capacity < 0xFF ? 1 : t->capacity < 0xFFFF ? 2 : 4));
    }
    if (t->keys != nullptr) OVZ_INVARIANT(t->owns && t->keys->used <= t->keys->room);
    if (t->used != 0) checkSlot(t, t->used - 1);
    if (!everySlot) return;
    unsigned int live = 0;
    for (unsigned int i = 0; i < t->used; ++i) {
        checkSlot(t, i);
        if (t->tags()[i] != 0) ++live;
    }
    OVZ_INVARIANT(live == t->count);
    for (unsigned int i = t->used; i < t->capacity; ++i)
        OVZ_INVARIANT(t->tags()[i] == 0 && t->kinds()[i] == 0);
    // Every slot taken since the table was built holds one place of the index.
    std::size_t taken = 0;
    for (std::size_t place = 0; place < t->places(); ++place) {
        const std::size_t entry = t->at(place);
        OVZ_INVARIANT(entry <= t->used);
        if (entry != 0) ++taken;
    }
    if (t->indexBits != 0) OVZ_INVARIANT(taken == t->used);
    for (const KeyBlock* block = t->keys; block != nullptr; block = block->next)
        OVZ_INVARIANT(block->used <= block->room);
}

}  // namespace
#endif

void ZHashKeyMap_6_0::checkInvariants() const {
#if OVZ_INVARIANTS
    Table* t = table();
    if (t == nullptr) {
        OVZ_INVARIANT((state_ >> 2) != 0);  // the least capacity of the first table
        return;
    }
    checkTable(t, false);
#endif
}

ZHashKeyMap_6_0::Table* ZHashKeyMap_6_0::table() const {
    return (state_ & kNoTable) ? nullptr : reinterpret_cast<Table*>(state_);
}

ZHashKeyMap_6_0::ZHashKeyMap_6_0(unsigned long buckets, int owns)
    : state_(kNoTable | (owns ? kStateOwns : 0) |
             ((buckets == 0             ? 1
               : buckets < kMaxCapacity ? buckets
                                        : kMaxCapacity)
              << 2)) {}

ZHashKeyMap_6_0::ZHashKeyMap_6_0(const ZHashKeyMap_6_0& other)
    : ZHashKeyMap_6_0(1, other.ownsEntries() ? 1 : 0) {
    // The delegated state is complete, so on an exception the destructor frees what was
    // copied so far.
    copyFrom(other);
}

ZHashKeyMap_6_0& ZHashKeyMap_6_0::operator=(const ZHashKeyMap_6_0& other) {
    OVZ_CHECKED();
    if (this == &other) return *this;
    ZHashKeyMap_6_0 copy(other);
    std::swap(state_, copy.state_);
    return *this;
}

ZHashKeyMap_6_0::~ZHashKeyMap_6_0() {
#if OVZ_INVARIANTS
    checkInvariants();
#endif
    destroyAll();
    releaseMemory(table());
}

bool ZHashKeyMap_6_0::ownsEntries() const {
    const Table* t = table();
    return t ? t->owns != 0 : (state_ & kStateOwns) != 0;
}

void ZHashKeyMap_6_0::copyFrom(const ZHashKeyMap_6_0& other) {
    Table* from = other.table();
    if (from == nullptr || from->count == 0) return;
    reserve(from->count);  // a copy is exactly as large as it needs
    for (unsigned int i = 0; i < from->used; ++i) {
        if (from->tags()[i] == 0) continue;
        putEntry(*from->slots()[i].key, *from->slots()[i].value);
    }
}

void ZHashKeyMap_6_0::destroyAll() {
    Table* t = table();
    if (t == nullptr) return;
    // Detach first: a destructor must not see a half-emptied map.
    const unsigned int used = t->used;
    const bool owns = t->owns != 0;
    Slot* slots = t->slots();
    unsigned char* tags = t->tags();
    t->count = 0;
    t->used = 0;
    unsigned char* kinds = t->kinds();
    for (unsigned int i = 0; i < used; ++i) {
        if (tags[i] == 0) continue;
        tags[i] = 0;
        const Slot slot = slots[i];
        if (kinds[i] == kPlacedKey) {
            kinds[i] = 0;
            delete slot.value;  // only an owning map has placed keys
            endPlacedKey(slot.key);
        } else if (owns) {
            // A set stores one object as both key and value only when it does not own them.
            if (slot.value != slot.key) delete slot.value;
            delete slot.key;
        }
    }
    KeyBlock* const keys = t->keys;
    t->keys = nullptr;
    releaseKeyBlocks(keys);
    if (t->indexBits) std::memset(t->index(), 0, t->places() * t->indexWidth);
}

unsigned long ZHashKeyMap_6_0::hash() const {
    // Independent of order: equal maps hash alike whatever order they were filled in.
    Table* t = table();
    unsigned long h = t ? t->count : 0;
    if (t == nullptr) return h;
    for (unsigned int i = 0; i < t->used; ++i) {
        if (t->tags()[i] == 0) continue;
        h += t->slots()[i].key->hash() * 31 + t->slots()[i].value->hash();
    }
    return h;
}

ZObject_6_0* ZHashKeyMap_6_0::clone() const { return new ZHashKeyMap_6_0(*this); }

bool ZHashKeyMap_6_0::equals(const ZObject_6_0& other) const {
    if (this == &other) return true;
    const auto* map = dynamic_cast<const ZHashKeyMap_6_0*>(&other);
    if (map == nullptr || map->size() != size()) return false;
    Table* t = table();
    if (t == nullptr) return true;
    for (unsigned int i = 0; i < t->used; ++i) {
        if (t->tags()[i] == 0) continue;
        ZObject_6_0* v = map->getEntry(*t->slots()[i].key);
        if (v == nullptr || !t->slots()[i].value->equals(*v)) return false;
    }
    return true;
}

// The slot of the entry whose key equals `key` (hash `h`), or ~0ul.
unsigned long ZHashKeyMap_6_0::find(const ZObject_6_0& key, unsigned long h) const {
    Table* t = table();
    if (t == nullptr) return ~0ul;
    return t->probe(mix(h), [&key](const ZObject_6_0* stored) { return stored->equals(key); });
}

// Rebuilds the table with `capacity` slots (at least the live entries), keeping the listing
// order and dropping emptied slots. Throws ZOutOfMemoryException_6_0; the map is unchanged
// then.
void ZHashKeyMap_6_0::rebuild(unsigned long capacity) {
    Table* old = table();
    const bool owns = old ? old->owns != 0 : (state_ & kStateOwns) != 0;
    if (capacity > kMaxCapacity) outOfMemory();
    Table* fresh = Table::make(capacity, owns);
    if (fresh == nullptr) outOfMemory();
    if (old != nullptr) {
        for (unsigned int i = 0; i < old->used; ++i) {
            if (old->tags()[i] == 0) continue;
            const unsigned int at = fresh->used++;
            fresh->slots()[at] = old->slots()[i];
            fresh->tags()[at] = old->tags()[i];
            fresh->kinds()[at] = old->kinds()[i];
            // The index needs the whole hash, which only the tag's bits of are kept.
            if (fresh->indexBits) fresh->link(at, mix(old->slots()[i].key->hash()));
        }
        fresh->count = old->count;
        fresh->keys = old->keys;  // the keys stay where they are
        releaseMemory(old);
    }
    state_ = reinterpret_cast<unsigned long>(fresh);
#if OVZ_INVARIANTS
    checkTable(fresh, true);
#endif
}

// Makes sure that `count` more entries fit: a full table is rebuilt, at twice its capacity
// (or as much as the entries need) when more than half of it would hold entries, otherwise
// at the same capacity, which reclaims the slots of removed entries.
void ZHashKeyMap_6_0::makeRoom(unsigned long count) {
    Table* t = table();
    if (t == nullptr) {
        const unsigned long least = state_ >> 2;
        rebuild(count > least ? count : least);
        return;
    }
    if (count <= t->capacity - t->used) return;
    const unsigned long need = t->count + count;
    unsigned long capacity = t->capacity;
    if (need > capacity / 2) capacity = need > capacity * 2 ? need : capacity * 2;
    rebuild(capacity);
}

void ZHashKeyMap_6_0::reserve(unsigned long count) {
    OVZ_CHECKED();
    Table* t = table();
    const unsigned long live = t ? t->count : 0;
    if (count <= live) return;
    makeRoom(count - live);
}

// Stores `key` and `value` (already clones when the map owns) in a new slot; the room is there.
unsigned long ZHashKeyMap_6_0::insert(ZObject_6_0* key, ZObject_6_0* value, unsigned long h) {
    Table* t = table();
    const std::uint64_t m = mix(h);
    const unsigned int at = t->used++;
    t->slots()[at] = Slot{key, value};
    t->tags()[at] = tagOf(m);
    if (t->indexBits) t->link(at, m);
    ++t->count;
#if OVZ_INVARIANTS
    if ((t->used & (t->used - 1)) == 0) checkTable(t, true);  // amortised over the insertions
#endif
    return at;
}

bool ZHashKeyMap_6_0::isEmpty() const { return size() == 0; }

unsigned long ZHashKeyMap_6_0::size() const {
    Table* t = table();
    return t ? t->count : 0;
}

bool ZHashKeyMap_6_0::contains(const ZObject_6_0& key) const {
    return find(key, key.hash()) != ~0ul;
}

ZObject_6_0* ZHashKeyMap_6_0::getEntry(const ZObject_6_0& key) const {
    const unsigned long i = find(key, key.hash());
    return i != ~0ul ? table()->slots()[i].value : nullptr;
}

ZObject_6_0* ZHashKeyMap_6_0::getKey(const ZObject_6_0& key) const {
    const unsigned long i = find(key, key.hash());
    return i != ~0ul ? table()->slots()[i].key : nullptr;
}

ZObject_6_0* ZHashKeyMap_6_0::getTextEntry(const char* bytes, std::size_t n) const {
    Table* t = table();
    if (t == nullptr) return nullptr;
    if (bytes == nullptr) bytes = "";  // n is 0: the empty text
    // The same number as ZAbstractString_6_0::hash of a string of these bytes, so that keys
    // stored through any string class are found.
    const unsigned long h =
        ovz_internal::hashBytes(reinterpret_cast<const unsigned char*>(bytes), n);
    const unsigned long i = t->probe(
        mix(h), [bytes, n](const ZObject_6_0* stored) { return keyHoldsBytes(stored, bytes, n); });
    return i != ~0ul ? t->slots()[i].value : nullptr;
}

void ZHashKeyMap_6_0::putEntry(const ZObject_6_0& key, const ZObject_6_0& value) {
    OVZ_CHECKED();
    const unsigned long h = key.hash();
    const bool owns = ownsEntries();
    const unsigned long existing = find(key, h);
    if (existing != ~0ul) {
        Slot& slot = table()->slots()[existing];
        ZObject_6_0* fresh = owns ? value.clone() : const_cast<ZObject_6_0*>(&value);
        ZObject_6_0* old = slot.value;
        slot.value = fresh;
        if (owns && old != slot.key) delete old;
        return;
    }
    makeRoom(1);
    CloneGuard k{owns ? key.clone() : const_cast<ZObject_6_0*>(&key), owns};
    CloneGuard v{owns ? value.clone() : const_cast<ZObject_6_0*>(&value), owns};
    insert(k.object, v.object, h);
    k.owned = v.owned = false;
}

ZObject_6_0* ZHashKeyMap_6_0::getOrPutEntry(const ZObject_6_0& key, const ZObject_6_0& value) {
    OVZ_CHECKED();
    const unsigned long h = key.hash();
    const unsigned long existing = find(key, h);
    if (existing != ~0ul) return table()->slots()[existing].value;
    const bool owns = ownsEntries();
    makeRoom(1);
    CloneGuard k{owns ? key.clone() : const_cast<ZObject_6_0*>(&key), owns};
    CloneGuard v{owns ? value.clone() : const_cast<ZObject_6_0*>(&value), owns};
    const unsigned long at = insert(k.object, v.object, h);
    k.owned = v.owned = false;
    return table()->slots()[at].value;
}

ZObject_6_0* ZHashKeyMap_6_0::getOrPutOwned(ZObject_6_0* key, ZObject_6_0* value) {
    OVZ_CHECKED();
    CloneGuard k{key, true};
    CloneGuard v{value, true};
    const unsigned long h = key->hash();
    const unsigned long existing = find(*key, h);
    if (existing != ~0ul) return table()->slots()[existing].value;
    makeRoom(1);
    const unsigned long at = insert(key, value, h);
    k.owned = v.owned = false;
    return table()->slots()[at].value;
}

ZObject_6_0* ZHashKeyMap_6_0::getOrPutText(const char* bytes, std::size_t n, ZObject_6_0* value) {
    OVZ_CHECKED();
    CloneGuard v{value, true};
    const unsigned long h =
        ovz_internal::hashBytes(reinterpret_cast<const unsigned char*>(bytes), n);
    if (Table* t = table(); t != nullptr) {
        const unsigned long i = t->probe(mix(h), [bytes, n](const ZObject_6_0* stored) {
            return keyHoldsBytes(stored, bytes, n);
        });
        if (i != ~0ul) return t->slots()[i].value;
    }
    makeRoom(1);
    Table* t = table();
    // The key's room in the store: the newest block (reserveTextKeys may have made it for the
    // keys to come), or a new one with room for as many keys of this size as the table has
    // slots left (a decoder reserves one per key; a table that grows by doubling has about as
    // many left as it holds), at most kLargestKeyBlock, or as large as the key needs.
    const std::size_t size = packedSize(n);
    KeyBlock* block = t->keys;
    if (block == nullptr || block->room - block->used < size) {
        const std::size_t slotsLeft = t->capacity - t->used;
        std::size_t room =
            slotsLeft < kLargestKeyBlock / size ? slotsLeft * size : kLargestKeyBlock;
        if (room < size) room = size;
        t->keys = block = newKeyBlock(block, room);
    }
    ZObject_6_0* key = ZUTF8String_6_0::placeWithBytes(block->at(block->used), bytes, n);
    block->used += size;
    const unsigned long at = insert(key, value, h);
    t->kinds()[at] = kPlacedKey;
    v.owned = false;
    return value;
}

std::size_t ZHashKeyMap_6_0::textKeySize(std::size_t n) { return packedSize(n); }

void ZHashKeyMap_6_0::reserveTextKeys(std::size_t bytes) {
    OVZ_CHECKED();
    if (bytes == 0) return;
    if (table() == nullptr) makeRoom(1);
    Table* t = table();
    KeyBlock* block = t->keys;
    if (block != nullptr && block->room - block->used >= bytes) return;
    // The keys may turn out fewer (a decoder counts a repeated name each time): what is made
    // now is bounded, and getOrPutText makes more as it needs.
    if (bytes > kReservedKeyBlock) bytes = kReservedKeyBlock;
    t->keys = newKeyBlock(block, bytes);
}

void ZHashKeyMap_6_0::putAll(const ZHashKeyMap_6_0& other) {
    OVZ_CHECKED();
    if (&other == this) return;  // every key is already here with its own value
    Table* from = other.table();
    if (from == nullptr) return;
    for (unsigned int i = 0; i < from->used; ++i) {
        if (from->tags()[i] == 0) continue;
        putEntry(*from->slots()[i].key, *from->slots()[i].value);
    }
}

bool ZHashKeyMap_6_0::removeEntry(const ZObject_6_0& key) {
    OVZ_CHECKED();
    const unsigned long i = find(key, key.hash());
    if (i == ~0ul) return false;
    Table* t = table();
    const Slot slot = t->slots()[i];
    // The slot stays taken in the index, so that probes go on past it, until a rebuild.
    t->tags()[i] = 0;
    t->slots()[i] = Slot{nullptr, nullptr};
    --t->count;
    if (t->kinds()[i] == kPlacedKey) {
        // Its room in the key store stays taken until the map is emptied.
        t->kinds()[i] = 0;
        delete slot.value;
        endPlacedKey(slot.key);
    } else if (t->owns) {
        if (slot.value != slot.key) delete slot.value;
        delete slot.key;
    }
    return true;
}

void ZHashKeyMap_6_0::removeAll() {
    OVZ_CHECKED();
    destroyAll();
}

const ZHashKeyMap_6_0::Entry* ZHashKeyMap_6_0::entries(unsigned long& count) const {
    Table* t = table();
    count = t ? t->used : 0;
    return t ? t->slots() : nullptr;
}

void ZHashKeyMap_6_0::listKeys(ZArrayList_6_0& out) const {
    Table* t = table();
    if (t == nullptr) return;
    for (unsigned int i = 0; i < t->used; ++i)
        if (t->tags()[i] != 0) out.add(*t->slots()[i].key);
}

void ZHashKeyMap_6_0::listObjects(ZArrayList_6_0& out) const {
    Table* t = table();
    if (t == nullptr) return;
    for (unsigned int i = 0; i < t->used; ++i)
        if (t->tags()[i] != 0) out.add(*t->slots()[i].value);
}

// ---- ZHashMap_6_0

ZHashMap_6_0::ZHashMap_6_0(unsigned long buckets, int owns) : ZHashKeyMap_6_0(buckets, owns) {}
ZHashMap_6_0::ZHashMap_6_0(const ZHashMap_6_0& other) : ZHashKeyMap_6_0(other) {}
ZHashMap_6_0& ZHashMap_6_0::operator=(const ZHashMap_6_0& other) {
    ZHashKeyMap_6_0::operator=(other);
    return *this;
}
ZHashMap_6_0::~ZHashMap_6_0() = default;
ZObject_6_0* ZHashMap_6_0::clone() const { return new ZHashMap_6_0(*this); }
void ZHashMap_6_0::add(const ZObject_6_0& element) { putEntry(element, element); }
