// Collections of the object library: an array list and hash maps of ZObject_6_0.
//
// Owning and non-owning collections:
//  - An owning collection (owns != 0) ends what it stores when the object is replaced,
//    removed, or the collection dies. How an object comes to be stored (a clone, an object
//    taken over, or a string placed in storage the list does not own) is the call's, as
//    "Ownership and lifetimes" below says for each.
//  - A non-owning collection (owns == 0) stores the very addresses it is given and never
//    deletes them; the caller keeps the objects alive while they are stored.
// Copy construction and assignment take the source's ownership: an owning source's objects
// are cloned, a non-owning source's addresses are copied. Assignment gives the strong
// guarantee (on an exception the target is unchanged).
//
// Ownership and lifetimes, in full:
//  - Clone: add, set, putEntry, getOrPutEntry and copies store element.clone() in an owning
//    collection. The clone is made before anything else changes, so the argument may be one
//    of the collection's own elements, and a failed call deletes it again.
//  - Take over: addOwned, setOwned, getOrPutOwned and getOrPutText store the very object they
//    are handed, which the owning collection then deletes as its own; it is the collection's
//    from the call on, also when the call throws (it is deleted then).
//  - Placement: addTexts, addTextsAt and getOrPutText make strings inside storage of the
//    collection (a list's packed block, a map's key store) or of its owner (addTextsAt)
//    instead of allocations of their own. Such a string is ended in place, never deleted;
//    its storage lives as long as the collection (a list keeps its packed block as an arena
//    when other objects join it, a map keeps its key store until it is emptied or dies).
//  - Lifetimes: an element stays at its address from the call that stores it until it is
//    replaced (set, setOwned, putEntry of its key) or removed (remove, removeAll,
//    removeEntry) or the collection dies. Growth, other adds and sets, rebuilds of a map's
//    table and a list leaving its packed block move no element: a reference or pointer to
//    one stays valid. What moves is only the collection's own array of addresses, so the
//    results of elements() and entries() are valid only while the collection is unchanged.
//  - Failure: a call that throws (ZOutOfMemoryException_6_0 above all) leaves the collection
//    as it was, except addTexts to a list that holds elements already, whose texts added
//    before the failure stay.
//
// Checked builds (without NDEBUG) verify each collection's state on entry to and exit from
// every mutator and abort at the first call that finds it broken.
//
// A collection is used by one thread at a time.
#ifndef OVZ_COLLECTIONS_H
#define OVZ_COLLECTIONS_H

#include <cstddef>

#include <ovz/export.h>
#include <ovz/object.h>

// A growable array of objects, in index order.
//
//   ZArrayList_6_0 values(1, 1);                 // owning
//   values.add(ZUTF8String_6_0("a"));            // stores a clone
//   auto* first = static_cast<ZUTF8String_6_0*>(values.get(0));
class OVZ_EXPORT ZArrayList_6_0 : public ZObject_6_0 {
public:
    // `capacity` is the initial room (0 is allowed); `owns` see above.
    explicit ZArrayList_6_0(unsigned long capacity = 10, int owns = 1);
    // Copies take the source's ownership (see the file comment); assignment is all or nothing.
    ZArrayList_6_0(const ZArrayList_6_0& other);
    // Copy assignment: as the copy constructor, all or nothing.
    ZArrayList_6_0& operator=(const ZArrayList_6_0& other);
    ~ZArrayList_6_0() override;

    // hash/equals: element by element (same size and pairwise equals).
    unsigned long hash() const override;
    ZObject_6_0* clone() const override;  // a copy-constructed list
    bool equals(const ZObject_6_0& other) const override;

    // Appends `element` (a clone when owning, its address when not).
    virtual void add(const ZObject_6_0& element);
    // The element at `index`, or null when index >= size(). The element stays the list's.
    virtual ZObject_6_0* get(unsigned long index) const;
    // Replaces the element at `index` (an owning list deletes the old one).
    // Throws ZInvalidParameterException_6_0 when index >= size(); nothing changes then.
    virtual void set(unsigned long index, const ZObject_6_0& element);
    // Removes the element at `index`, shifting later ones down (an owning list deletes it).
    // Throws ZInvalidParameterException_6_0 when index >= size(); nothing changes then.
    virtual void remove(unsigned long index);
    // Removes every element (deleting them when owning).
    virtual void removeAll();
    // The number of elements.
    virtual unsigned long size() const;

    // Whether the list holds no element.
    bool isEmpty() const { return size_ == 0; }
    // Whether the list owns (clones and deletes) its elements.
    bool ownsElements() const { return (state_ & kOwns) != 0; }
    // The elements in index order, read in place (size() of them). Valid while the list is
    // unchanged.
    ZObject_6_0* const* elements() const { return (state_ & kArray) ? room_.array : &room_.one; }
    // Index of the first element equal to `element` (equals), or size() when none is.
    unsigned long indexOf(const ZObject_6_0& element) const;

    // Makes room for `capacity` elements in all, so that adds up to that many allocate
    // nothing: exactly that room for the list's first array, at least twice the room it had
    // for a larger one (adds grow the list as much). The most a list holds is 2^28 - 1
    // elements. Throws ZOutOfMemoryException_6_0 when memory runs out or `capacity` is more.
    void ensureCapacity(unsigned long capacity);
    // Appends `element` itself instead of a clone: an owning list takes it over and deletes
    // it as its own (also when this call throws); a non-owning list stores the address, as
    // add does. REQUIRES: `element` is not null.
    void addOwned(ZObject_6_0* element);
    // Replaces the element at `index` by `element` itself instead of a clone, as addOwned
    // appends: an owning list takes it over (and deletes it also when this call throws) and
    // deletes the old element; a non-owning list stores the address, as set does.
    // REQUIRES: `element` is not null and is not the element at `index`. Throws
    // ZInvalidParameterException_6_0 when index >= size(); the list is unchanged then.
    void setOwned(unsigned long index, ZObject_6_0* element);
    // The bytes of one text for addTexts.
    struct Text {
        const char* data;  // the first byte
        std::size_t size;  // the byte count
    };
    // Appends `n` new ZUTF8String_6_0 objects holding the texts, as adds of views over them
    // would. A list that holds nothing yet makes them all in one allocation with its array:
    // elements held in the list's own storage, which remove and removeAll end in place; when
    // other objects join them (add, set, more room) they stay where they are and that
    // allocation lives on as long as the list.
    // REQUIRES: an owning list; no text holds a NUL byte. Throws ZOutOfMemoryException_6_0.
    void addTexts(const Text* texts, unsigned long n);
    // The bytes addTextsAt needs for `n` texts (at least 1): the strings, and for more than
    // one the array that addTexts would allocate with them (the list holds a single element
    // in itself). Throws ZOutOfMemoryException_6_0 when that is more than memory can hold.
    static std::size_t textsSize(const Text* texts, unsigned long n);
    // addTexts, with the strings (and their array) made in the textsSize(texts, n) bytes at
    // `memory` (aligned as ZObject_6_0::operator new aligns) instead of an allocation of the
    // list's: for an object that carries its list's texts in its own allocation. The list
    // never frees that memory; its owner keeps it until the list is destroyed (the strings
    // stay there also when other objects join them, as for addTexts).
    // REQUIRES: an owning list that holds nothing and has no array of its own yet (as
    // constructed); n >= 1; no text holds a NUL byte.
    void addTextsAt(void* memory, const Text* texts, unsigned long n) noexcept;

private:
    // state_: whether the list owns its elements, whether they are in an array of their own,
    // whether that array's allocation also holds elements (addTexts), whether that memory is
    // not the list's to free (addTextsAt), and the capacity of the array (without one: the
    // least capacity of the first array).
    static constexpr unsigned int kOwns = 1u << 31;
    static constexpr unsigned int kArray = 1u << 30;
    static constexpr unsigned int kPacked = 1u << 29;
    static constexpr unsigned int kExternal = 1u << 28;
    static constexpr unsigned int kRoomMask = kExternal - 1;

    OVZ_LOCAL ZObject_6_0** items() const;  // room_.array, or the element held in room_.one
    OVZ_LOCAL unsigned long capacity() const;
    OVZ_LOCAL void reserve(unsigned long capacity);
    // Frees the array and goes back to the room in the list itself.
    OVZ_LOCAL void releaseArray();
    OVZ_LOCAL ZObject_6_0* store(const ZObject_6_0& element) const;
    OVZ_LOCAL void dispose(ZObject_6_0* element) const;
    OVZ_LOCAL void makeRoomForOne();
    // A packed list to an array that keeps its block.
    OVZ_LOCAL void unpack(unsigned long capacity);
    // Aborts when the list's state is not sound (checked builds only; see invariants.h).
    OVZ_LOCAL void checkInvariants() const;

    // Where the elements are: a list holds its first element in itself (most lists, the value
    // lists of map entries above all, hold one element or none), more in an array.
    union Room {
        ZObject_6_0** array;
        ZObject_6_0* one;
    };
    Room room_ = {nullptr};
    unsigned int size_ = 0;
    unsigned int state_;
};

// A hash map from key objects to value objects. Keys are placed by their hash() and matched
// with equals(), so any string class finds a key stored as another string class of the same
// bytes. Entries sit in one array in listing order, with an index by hash beside them once
// there are more than a few; the array doubles when it is full, so look-up stays O(1) on
// average whatever the initial bucket count, which is only the least capacity of the first
// array.
//
// listKeys and listObjects report entries in insertion order (a replaced value keeps its
// key's place); the order of an unchanged map is the same on every call.
//
// The virtual slots after ZObject_6_0's are, in this order: isEmpty, size, contains,
// getEntry, putEntry, putAll, removeEntry, removeAll, listKeys, listObjects. Derived classes
// of other components rely on this order.
class OVZ_EXPORT ZHashKeyMap_6_0 : public ZObject_6_0 {
public:
    // `buckets` is the initial bucket count (0 is taken as 1); `owns` see above.
    explicit ZHashKeyMap_6_0(unsigned long buckets = 16, int owns = 1);
    // Copies take the source's ownership (see the file comment).
    ZHashKeyMap_6_0(const ZHashKeyMap_6_0& other);
    // Copy assignment: as the copy constructor, all or nothing.
    ZHashKeyMap_6_0& operator=(const ZHashKeyMap_6_0& other);
    ~ZHashKeyMap_6_0() override;

    // hash/equals: same size and every key maps to an equal value.
    unsigned long hash() const override;
    ZObject_6_0* clone() const override;  // a copy-constructed map
    bool equals(const ZObject_6_0& other) const override;

    // Whether the map holds no entry.
    virtual bool isEmpty() const;
    // The number of entries.
    virtual unsigned long size() const;
    // True when a key equal to `key` is stored.
    virtual bool contains(const ZObject_6_0& key) const;
    // The value stored under a key equal to `key`, or null. It stays the map's.
    virtual ZObject_6_0* getEntry(const ZObject_6_0& key) const;
    // Stores `value` under `key`. When an equal key is present its value is replaced (an
    // owning map deletes the old value) and the stored key object is kept; otherwise a new
    // entry (clones of both when owning) is added at the end of the listing order.
    virtual void putEntry(const ZObject_6_0& key, const ZObject_6_0& value);
    // putEntry for every entry of `other`, in its listing order. `other` may be this map.
    virtual void putAll(const ZHashKeyMap_6_0& other);
    // Removes the entry of a key equal to `key` (an owning map deletes key and value).
    // Returns true when there was one.
    virtual bool removeEntry(const ZObject_6_0& key);
    // Removes every entry.
    virtual void removeAll();
    // Appends the map's own key objects (the stored ones, not copies, when `out` does not
    // own its elements) to `out`. Valid while the map is unchanged.
    virtual void listKeys(ZArrayList_6_0& out) const;
    // Appends the stored value objects to `out`, in the same order as listKeys.
    virtual void listObjects(ZArrayList_6_0& out) const;

    // The stored key object equal to `key`, or null.
    ZObject_6_0* getKey(const ZObject_6_0& key) const;
    // The value stored under a key that is a string of the `n` bytes at `bytes`, or null:
    // what getEntry finds with a string of those bytes, without making one. The bytes are
    // hashed as the string classes hash them and compared with each candidate key's bytes,
    // with no call of a key's virtual operations when it is a ZUTF8String_6_0 (the keys the
    // maps make themselves). For callers that look names up as C text, many times over.
    // REQUIRES: no NUL among the bytes; `bytes` may be null only when `n` is 0.
    ZObject_6_0* getTextEntry(const char* bytes, std::size_t n) const;
    // The value stored under a key equal to `key`; when there is none, first stores `value`
    // under `key` as putEntry does (clones of both when owning). One look-up where
    // getEntry, putEntry and getEntry again would take three.
    ZObject_6_0* getOrPutEntry(const ZObject_6_0& key, const ZObject_6_0& value);
    // getOrPutEntry with key and value objects that the map takes over: when an equal key is
    // stored, `key` and `value` are deleted and the stored value returned; otherwise both are
    // stored themselves (no clones). Both are deleted also when this call throws. For
    // decoders that make a new key and value for nearly every entry, which clones would make
    // twice. REQUIRES: the map owns its entries; neither is null.
    ZObject_6_0* getOrPutOwned(ZObject_6_0* key, ZObject_6_0* value);
    // getOrPutOwned with a key given as the `n` bytes at `bytes`: a stored key that is a
    // string of those bytes is found (as equals compares strings); otherwise `value` is stored
    // under a new ZUTF8String_6_0 of the bytes, which the map makes in storage of its own (no
    // allocation of its own; its room is reclaimed when the map is emptied). `value` is the
    // map's in every case: stored itself, or deleted when the key was there or this call
    // throws. For decoders that make the keys of a map from bytes.
    // REQUIRES: the map owns its entries; `value` is not null; no NUL among the bytes.
    ZObject_6_0* getOrPutText(const char* bytes, std::size_t n, ZObject_6_0* value);
    // The room a key of `n` bytes takes in that storage. Throws ZOutOfMemoryException_6_0 for
    // a text too long for a string.
    static std::size_t textKeySize(std::size_t n);
    // Tells getOrPutText that keys taking `bytes` in all (the sum of their textKeySize) are to
    // come, so that it sizes that storage for them at once (up to a bound) instead of as it
    // goes. Throws ZOutOfMemoryException_6_0 when memory runs out (making the first table).
    void reserveTextKeys(std::size_t bytes);
    // Makes room for `count` entries in all, so that insertions up to that many allocate
    // nothing but their clones. Throws ZOutOfMemoryException_6_0 when memory runs out.
    void reserve(unsigned long count);
    // Whether the map owns (clones and deletes) its keys and values.
    bool ownsEntries() const;
    // False for a map that never held an entry nor reserved room (it has no table yet), which
    // is therefore empty; true otherwise, whether it holds entries or not. Inline, for walks
    // over many maps most of which were never filled.
    bool hasTable() const { return (state_ & 1) == 0; }

    // One entry as the map keeps it (see entries()).
    struct Entry {
        ZObject_6_0* key;    // null for a removed entry
        ZObject_6_0* value;  // null for a removed entry
    };
    // The entries in listing order, read in place: `count` pairs, of which those of removed
    // entries hold two nulls (null when the map never held an entry). Valid while the map is
    // unchanged. For code that walks maps often, such as encoders; listKeys and listObjects
    // give the same without the gaps.
    const Entry* entries(unsigned long& count) const;

private:
    struct Table;  // the entries, their hash tags and the index (see collections.cc)
    OVZ_LOCAL Table* table() const;
    OVZ_LOCAL unsigned long find(const ZObject_6_0& key, unsigned long h) const;
    OVZ_LOCAL unsigned long insert(ZObject_6_0* key, ZObject_6_0* value, unsigned long h);
    OVZ_LOCAL void makeRoom(unsigned long count);
    OVZ_LOCAL void rebuild(unsigned long capacity);
    OVZ_LOCAL void destroyAll();
    OVZ_LOCAL void copyFrom(const ZHashKeyMap_6_0& other);
    // Aborts when the map's state is not sound (checked builds only; see invariants.h).
    OVZ_LOCAL void checkInvariants() const;

    // The Table, made by the first insertion; until then (low bit set) whether the map owns
    // its entries and the least capacity of its first table.
    unsigned long state_;
};

// A hash map with the same interface, also usable as a set: add(element) stores the element
// as its own value (putEntry(element, element)) and contains(element) tests membership.
//
//   ZHashMap_6_0 names(10, 0);                               // non-owning set
//   names.add(*new ZUTF8ConstString_6_0("pwd"));             // caller keeps the objects
//   bool masked = names.contains(ZUTF8ConstString_6_0(n));
class OVZ_EXPORT ZHashMap_6_0 : public ZHashKeyMap_6_0 {
public:
    // The initial bucket count and the ownership, as for ZHashKeyMap_6_0.
    explicit ZHashMap_6_0(unsigned long buckets = 16, int owns = 1);
    // Copies take the source's ownership (see the file comment).
    ZHashMap_6_0(const ZHashMap_6_0& other);
    // Copy assignment: as the copy constructor, all or nothing.
    ZHashMap_6_0& operator=(const ZHashMap_6_0& other);
    ~ZHashMap_6_0() override;

    ZObject_6_0* clone() const override;

    // putEntry(element, element).
    void add(const ZObject_6_0& element);
};

#endif  // OVZ_COLLECTIONS_H
