// Array list and hash maps of objects.
#include <ovz/collections.h>

#include <cstdlib>
#include <cstring>

#include <ovz/exceptions.h>

namespace {

// Least room of a list's first array (beyond its inline room) and least bucket count of a
// map's first table.
constexpr unsigned long kFirstRoom = 8;
constexpr unsigned long kFirstBuckets = 8;

// The memory of the collections themselves (list arrays, bucket tables, map nodes) comes from
// the object allocator, like the objects they hold: small pieces from its per-thread free
// lists, large ones from malloc. Null when memory is exhausted.
void* allocateMemory(std::size_t n) noexcept { return ZObject_6_0::operator new(n, std::nothrow); }
void releaseMemory(void* p) noexcept { ZObject_6_0::operator delete(p); }

[[noreturn]] void outOfMemory() {
    ZOutOfMemoryException_6_0().throwException(__FILE__, __LINE__);
}

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

// The first kInlineRoom elements live in the list object itself (most lists, the value lists
// of map entries above all, hold a few elements or none). The first array is allocated when
// the list outgrows that room, with room for `capacity` elements but at least kFirstRoom.
ZArrayList_6_0::ZArrayList_6_0(unsigned long capacity, int owns)
    : owns_(owns ? 1 : 0), initialCapacity_(capacity) {}

ZArrayList_6_0::ZArrayList_6_0(const ZArrayList_6_0& other)
    : ZObject_6_0(other), owns_(other.owns_), initialCapacity_(other.initialCapacity_) {
    reserve(other.size_);
    try {
        for (unsigned long i = 0; i < other.size_; ++i) add(*other.items_[i]);
    } catch (...) {
        removeAll();
        releaseArray();
        throw;
    }
}

ZArrayList_6_0& ZArrayList_6_0::operator=(const ZArrayList_6_0& other) {
    if (this == &other) return *this;
    ZArrayList_6_0 copy(other);  // may throw; this list is unchanged then
    removeAll();
    releaseArray();
    if (copy.items_ == copy.inline_) {
        std::memcpy(inline_, copy.inline_, copy.size_ * sizeof(ZObject_6_0*));
        items_ = inline_;
    } else {
        items_ = copy.items_;
    }
    size_ = copy.size_;
    capacity_ = copy.capacity_;
    owns_ = copy.owns_;
    initialCapacity_ = copy.initialCapacity_;
    // The elements and the array are this list's now; the copy dies empty.
    copy.items_ = copy.inline_;
    copy.size_ = 0;
    copy.capacity_ = kInlineRoom;
    return *this;
}

ZArrayList_6_0::~ZArrayList_6_0() {
    removeAll();
    releaseArray();
}

void ZArrayList_6_0::releaseArray() {
    if (items_ != inline_) releaseMemory(items_);
    items_ = inline_;
    capacity_ = kInlineRoom;
}

unsigned long ZArrayList_6_0::hash() const {
    unsigned long h = size_;
    for (unsigned long i = 0; i < size_; ++i) h = h * 31 + items_[i]->hash();
    return h;
}

ZObject_6_0* ZArrayList_6_0::clone() const { return new ZArrayList_6_0(*this); }

bool ZArrayList_6_0::equals(const ZObject_6_0& other) const {
    if (this == &other) return true;
    const auto* list = dynamic_cast<const ZArrayList_6_0*>(&other);
    if (list == nullptr || list->size() != size()) return false;
    for (unsigned long i = 0; i < size_; ++i)
        if (!items_[i]->equals(*list->get(i))) return false;
    return true;
}

void ZArrayList_6_0::reserve(unsigned long capacity) {
    if (capacity <= capacity_) return;
    if (capacity > ~0ul / sizeof(ZObject_6_0*)) outOfMemory();
    auto** p = static_cast<ZObject_6_0**>(allocateMemory(capacity * sizeof(ZObject_6_0*)));
    if (p == nullptr) outOfMemory();
    std::memcpy(p, items_, size_ * sizeof(ZObject_6_0*));
    if (items_ != inline_) releaseMemory(items_);
    items_ = p;
    capacity_ = capacity;
}

ZObject_6_0* ZArrayList_6_0::store(const ZObject_6_0& element) const {
    return owns_ ? element.clone() : const_cast<ZObject_6_0*>(&element);
}

void ZArrayList_6_0::dispose(ZObject_6_0* element) const {
    if (owns_) delete element;
}

void ZArrayList_6_0::add(const ZObject_6_0& element) {
    if (size_ == capacity_) {
        if (items_ == inline_) reserve(initialCapacity_ > kFirstRoom ? initialCapacity_ : kFirstRoom);
        else reserve(capacity_ * 2);
    }
    items_[size_] = store(element);
    ++size_;
}

ZObject_6_0* ZArrayList_6_0::get(unsigned long index) const {
    return index < size_ ? items_[index] : nullptr;
}

void ZArrayList_6_0::set(unsigned long index, const ZObject_6_0& element) {
    if (index >= size_)
        ZInvalidParameterException_6_0("list index out of range").throwException(__FILE__, __LINE__);
    ZObject_6_0* replacement = store(element);
    ZObject_6_0* old = items_[index];
    items_[index] = replacement;
    dispose(old);
}

void ZArrayList_6_0::remove(unsigned long index) {
    if (index >= size_)
        ZInvalidParameterException_6_0("list index out of range").throwException(__FILE__, __LINE__);
    ZObject_6_0* old = items_[index];
    std::memmove(items_ + index, items_ + index + 1, (size_ - index - 1) * sizeof(ZObject_6_0*));
    --size_;
    dispose(old);
}

void ZArrayList_6_0::removeAll() {
    // Detach first: an element's destructor must not see a half-emptied list.
    unsigned long n = size_;
    size_ = 0;
    for (unsigned long i = 0; i < n; ++i) dispose(items_[i]);
}

unsigned long ZArrayList_6_0::size() const { return size_; }

unsigned long ZArrayList_6_0::indexOf(const ZObject_6_0& element) const {
    for (unsigned long i = 0; i < size_; ++i)
        if (items_[i]->equals(element)) return i;
    return size_;
}

// ---- ZHashKeyMap_6_0

struct ZHashKeyMap_6_0::Node {
    ZObject_6_0* key;
    ZObject_6_0* value;
    unsigned long hash;
    Node* chain;  // next in the bucket
    Node* prev;   // listing order
    Node* next;
};

// Each node is one block of the object allocator (no malloc call, no header), released as
// soon as its entry goes. NodeBlock, the earlier carving of nodes out of malloc'ed blocks, is
// no longer used: blocks_ stays null.
ZHashKeyMap_6_0::Node* ZHashKeyMap_6_0::allocateNode() {
    auto* n = static_cast<Node*>(allocateMemory(sizeof(Node)));
    if (n == nullptr) outOfMemory();
    return n;
}

void ZHashKeyMap_6_0::releaseNode(Node* n) { releaseMemory(n); }

void ZHashKeyMap_6_0::releaseBlocks() { blocks_ = nullptr; }

// The bucket array is allocated by the first insertion, with at least kFirstBuckets buckets:
// most maps (the subtrees of map entries above all) are made and copied while empty and stay
// so, and a map that is filled then skips the first few doublings.
ZHashKeyMap_6_0::ZHashKeyMap_6_0(unsigned long buckets, int owns) : owns_(owns ? 1 : 0) {
    bucketCount_ = buckets == 0 ? 1 : buckets;
    if (bucketCount_ > ~0ul / sizeof(Node*)) outOfMemory();
}

ZHashKeyMap_6_0::ZHashKeyMap_6_0(const ZHashKeyMap_6_0& other)
    : ZHashKeyMap_6_0(other.bucketCount_, other.owns_) {
    // The delegated constructor has completed, so on an exception the destructor frees
    // what was copied so far.
    copyFrom(other);
}

ZHashKeyMap_6_0& ZHashKeyMap_6_0::operator=(const ZHashKeyMap_6_0& other) {
    if (this == &other) return *this;
    ZHashKeyMap_6_0 copy(other);
    std::swap(buckets_, copy.buckets_);
    std::swap(bucketCount_, copy.bucketCount_);
    std::swap(size_, copy.size_);
    std::swap(first_, copy.first_);
    std::swap(last_, copy.last_);
    std::swap(owns_, copy.owns_);
    std::swap(blocks_, copy.blocks_);
    return *this;
}

ZHashKeyMap_6_0::~ZHashKeyMap_6_0() {
    destroyAll();
    releaseMemory(buckets_);
}

void ZHashKeyMap_6_0::copyFrom(const ZHashKeyMap_6_0& other) {
    for (Node* n = other.first_; n != nullptr; n = n->next) putEntry(*n->key, *n->value);
}

void ZHashKeyMap_6_0::destroyAll() {
    Node* n = first_;
    first_ = last_ = nullptr;
    size_ = 0;
    if (buckets_ != nullptr) std::memset(buckets_, 0, bucketCount_ * sizeof(Node*));
    while (n != nullptr) {
        Node* next = n->next;
        if (owns_) {
            // A set stores one object as both key and value only when it does not own them.
            if (n->value != n->key) delete n->value;
            delete n->key;
        }
        releaseNode(n);
        n = next;
    }
    releaseBlocks();
}

unsigned long ZHashKeyMap_6_0::hash() const {
    // Independent of order: equal maps hash alike whatever order they were filled in.
    unsigned long h = size_;
    for (Node* n = first_; n != nullptr; n = n->next) h += n->hash * 31 + n->value->hash();
    return h;
}

ZObject_6_0* ZHashKeyMap_6_0::clone() const { return new ZHashKeyMap_6_0(*this); }

bool ZHashKeyMap_6_0::equals(const ZObject_6_0& other) const {
    if (this == &other) return true;
    const auto* map = dynamic_cast<const ZHashKeyMap_6_0*>(&other);
    if (map == nullptr || map->size() != size()) return false;
    for (Node* n = first_; n != nullptr; n = n->next) {
        ZObject_6_0* v = map->getEntry(*n->key);
        if (v == nullptr || !n->value->equals(*v)) return false;
    }
    return true;
}

ZHashKeyMap_6_0::Node* ZHashKeyMap_6_0::find(const ZObject_6_0& key, unsigned long h) const {
    if (buckets_ == nullptr) return nullptr;  // nothing was ever inserted
    for (Node* n = buckets_[h % bucketCount_]; n != nullptr; n = n->chain)
        if (n->hash == h && n->key->equals(key)) return n;
    return nullptr;
}

void ZHashKeyMap_6_0::grow() {
    unsigned long count = bucketCount_ * 2;
    if (count < bucketCount_ || count > ~0ul / sizeof(Node*)) return;  // stay as we are
    auto** fresh = static_cast<Node**>(allocateMemory(count * sizeof(Node*)));
    if (fresh == nullptr) return;  // a full table is slower, not wrong
    std::memset(fresh, 0, count * sizeof(Node*));
    for (Node* n = first_; n != nullptr; n = n->next) {
        Node** slot = &fresh[n->hash % count];
        n->chain = *slot;
        *slot = n;
    }
    releaseMemory(buckets_);
    buckets_ = fresh;
    bucketCount_ = count;
}

bool ZHashKeyMap_6_0::isEmpty() const { return size_ == 0; }
unsigned long ZHashKeyMap_6_0::size() const { return size_; }

bool ZHashKeyMap_6_0::contains(const ZObject_6_0& key) const {
    return find(key, key.hash()) != nullptr;
}

ZObject_6_0* ZHashKeyMap_6_0::getEntry(const ZObject_6_0& key) const {
    Node* n = find(key, key.hash());
    return n ? n->value : nullptr;
}

ZObject_6_0* ZHashKeyMap_6_0::getKey(const ZObject_6_0& key) const {
    Node* n = find(key, key.hash());
    return n ? n->key : nullptr;
}

void ZHashKeyMap_6_0::putEntry(const ZObject_6_0& key, const ZObject_6_0& value) {
    unsigned long h = key.hash();
    Node* existing = find(key, h);
    if (existing != nullptr) {
        ZObject_6_0* fresh = owns_ ? value.clone() : const_cast<ZObject_6_0*>(&value);
        ZObject_6_0* old = existing->value;
        existing->value = fresh;
        if (owns_ && old != existing->key) delete old;
        return;
    }
    insert(key, value, h);
}

ZObject_6_0* ZHashKeyMap_6_0::getOrPutEntry(const ZObject_6_0& key, const ZObject_6_0& value) {
    unsigned long h = key.hash();
    if (Node* existing = find(key, h)) return existing->value;
    return insert(key, value, h)->value;
}

ZHashKeyMap_6_0::Node* ZHashKeyMap_6_0::insert(const ZObject_6_0& key, const ZObject_6_0& value,
                                               unsigned long h) {
    if (buckets_ == nullptr) {
        unsigned long count = bucketCount_ > kFirstBuckets ? bucketCount_ : kFirstBuckets;
        auto** fresh = static_cast<Node**>(allocateMemory(count * sizeof(Node*)));
        if (fresh == nullptr) outOfMemory();
        std::memset(fresh, 0, count * sizeof(Node*));
        buckets_ = fresh;
        bucketCount_ = count;
    }
    CloneGuard k{owns_ ? key.clone() : const_cast<ZObject_6_0*>(&key), owns_ != 0};
    CloneGuard v{owns_ ? value.clone() : const_cast<ZObject_6_0*>(&value), owns_ != 0};
    Node* n = allocateNode();
    *n = Node{k.object, v.object, h, nullptr, last_, nullptr};
    k.owned = v.owned = false;
    link(n);
    if (size_ > bucketCount_ - bucketCount_ / 4) grow();
    return n;
}

void ZHashKeyMap_6_0::link(Node* n) {
    Node** slot = &buckets_[n->hash % bucketCount_];
    n->chain = *slot;
    *slot = n;
    if (last_ != nullptr) last_->next = n;
    else first_ = n;
    last_ = n;
    ++size_;
}

void ZHashKeyMap_6_0::unlink(Node* n) {
    for (Node** p = &buckets_[n->hash % bucketCount_]; *p != nullptr; p = &(*p)->chain) {
        if (*p == n) {
            *p = n->chain;
            break;
        }
    }
    if (n->prev) n->prev->next = n->next;
    else first_ = n->next;
    if (n->next) n->next->prev = n->prev;
    else last_ = n->prev;
    --size_;
}

void ZHashKeyMap_6_0::putAll(const ZHashKeyMap_6_0& other) {
    if (&other == this) return;  // every key is already here with its own value
    for (Node* n = other.first_; n != nullptr; n = n->next) putEntry(*n->key, *n->value);
}

bool ZHashKeyMap_6_0::removeEntry(const ZObject_6_0& key) {
    Node* n = find(key, key.hash());
    if (n == nullptr) return false;
    unlink(n);
    if (owns_) {
        if (n->value != n->key) delete n->value;
        delete n->key;
    }
    releaseNode(n);
    return true;
}

void ZHashKeyMap_6_0::removeAll() { destroyAll(); }

void ZHashKeyMap_6_0::listKeys(ZArrayList_6_0& out) const {
    for (Node* n = first_; n != nullptr; n = n->next) out.add(*n->key);
}

void ZHashKeyMap_6_0::listObjects(ZArrayList_6_0& out) const {
    for (Node* n = first_; n != nullptr; n = n->next) out.add(*n->value);
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
