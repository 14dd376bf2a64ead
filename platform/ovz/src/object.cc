// The root object and the library's allocator.
#include <ovz/object.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <typeinfo>

#include <ovz/exceptions.h>

ZObject_6_0::~ZObject_6_0() = default;

unsigned long ZObject_6_0::hash() const {
    // Objects are at least 8-byte aligned; drop the bits that never vary.
    return static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(this) >> 3);
}

int ZObject_6_0::compare(const ZObject_6_0& other) const {
    std::uintptr_t a = reinterpret_cast<std::uintptr_t>(this);
    std::uintptr_t b = reinterpret_cast<std::uintptr_t>(&other);
    return a < b ? -1 : (a > b ? 1 : 0);
}

ZObject_6_0* ZObject_6_0::clone() const {
    std::string what = std::string("clone is not supported by ") + typeid(*this).name();
    ZException_6_0(ZEXC_FAILURE, {what}).throwException(__FILE__, __LINE__);
}

bool ZObject_6_0::equals(const ZObject_6_0& other) const {
    return this == &other;
}

namespace {

// malloc(0) may return null without failing; every object has at least one byte.
void* ovz__allocate(std::size_t size) noexcept {
    return std::malloc(size == 0 ? 1 : size);
}

void* ovz__allocateOrThrow(std::size_t size) {
    void* p = ovz__allocate(size);
    if (p == nullptr) ZOutOfMemoryException_6_0().throwException(__FILE__, __LINE__);
    return p;
}

}  // namespace

void* ZObject_6_0::operator new(std::size_t size) { return ovz__allocateOrThrow(size); }
void* ZObject_6_0::operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return ovz__allocate(size);
}
void* ZObject_6_0::operator new[](std::size_t size) { return ovz__allocateOrThrow(size); }
void* ZObject_6_0::operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return ovz__allocate(size);
}
void ZObject_6_0::operator delete(void* p) noexcept { std::free(p); }
void ZObject_6_0::operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void ZObject_6_0::operator delete[](void* p) noexcept { std::free(p); }
void ZObject_6_0::operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
