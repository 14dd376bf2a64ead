// The process lock factory: one lazily made object that remembers which kind of named lock
// this process uses and where lock files go, and the newLock forms that make the locks.
//
// The lock classes are the object library's; this unit only picks one and constructs it.
#include <ovutil/MrProcessLock.h>

#include <new>

#include <ovz/exceptions.h>

#include "internal/logging.h"

namespace {

constexpr char kSourceFile[] = "src/util/MrProcessLock";

[[noreturn]] void throwOutOfMemory(int line) {
    ovutil_internal::traceThrown(kSourceFile, line, "ZOutOfMemoryException");
    ZOutOfMemoryException_6_0().throwException(kSourceFile, line);
    __builtin_unreachable();
}

// The lock of kind `type`, or null when there is no memory for it. The nothrow form of the
// object library's allocator hands the memory back by itself when a constructor throws.
ZAbstractReadWriteLock_6_0* makeLock(const char* name, mrproclocktype type, const char* directory) {
    if (type == unixFileLock)
        return new (std::nothrow) ZUnixProcessReadWriteFileLock_6_0(name, directory);
    if (type != stubLock) return new (std::nothrow) ZReadWriteLock_6_0();
    return new (std::nothrow) ZStubProcessReadWriteFileLock_6_0(name);
}

// The factory, which the short forms of newLock need; they report its absence as exhausted
// memory, the only way it can be missing.
MrProcessLockFactory& factoryOrThrow(int line) {
    MrProcessLockFactory* factory = MrProcessLockFactory::getLockFactory();
    if (factory == nullptr) throwOutOfMemory(line);
    return *factory;
}

// An empty string's characters may be null; a directory is then the empty text.
const char* textOf(const ZUTF8String_6_0& s) { return s.getChars() != nullptr ? s.getChars() : ""; }

}  // namespace

MrProcessLockFactory* MrProcessLockFactory::theLockFactory_ = nullptr;
pthread_once_t MrProcessLockFactory::mrplf_once_ = PTHREAD_ONCE_INIT;
const char* MrProcessLockFactory::policyserverPrefix = "ebb";

MrProcessLockFactory::MrProcessLockFactory() : lockDirectory_("."), factoryType_(stubLock) {}

MrProcessLockFactory::~MrProcessLockFactory() = default;

MrProcessLockFactory* MrProcessLockFactory::getLockFactory() {
    // The pointer is written once; the acquiring read pairs with the releasing store in
    // new_factory, so a thread that sees it also sees the finished factory.
    MrProcessLockFactory* factory = __atomic_load_n(&theLockFactory_, __ATOMIC_ACQUIRE);
    if (factory == nullptr) {
        pthread_once(&mrplf_once_, new_factory);
        factory = __atomic_load_n(&theLockFactory_, __ATOMIC_ACQUIRE);
    }
    return factory;
}

void MrProcessLockFactory::new_factory() {
    __atomic_store_n(&theLockFactory_, new MrProcessLockFactory(), __ATOMIC_RELEASE);
}

mrproclocktype MrProcessLockFactory::getFactoryType() const { return factoryType_; }

void MrProcessLockFactory::setFactoryType(mrproclocktype type) { factoryType_ = type; }

const ZUTF8String_6_0& MrProcessLockFactory::getLockDirectory() const { return lockDirectory_; }

void MrProcessLockFactory::setLockDirectory(const char* directory) { lockDirectory_ = directory; }

ZAbstractReadWriteLock_6_0* MrProcessLockFactory::newLock(const char* name, mrproclocktype type,
                                                          const char* directory) {
    ZAbstractReadWriteLock_6_0* lock = makeLock(name, type, directory);
    if (lock == nullptr) throwOutOfMemory(__LINE__);
    return lock;
}

ZAbstractReadWriteLock_6_0* MrProcessLockFactory::newLock(const char* name, mrproclocktype type) {
    const MrProcessLockFactory& factory = factoryOrThrow(__LINE__);
    return newLock(name, type, textOf(factory.lockDirectory_));
}

ZAbstractReadWriteLock_6_0* MrProcessLockFactory::newLock(const char* name) {
    const MrProcessLockFactory& factory = factoryOrThrow(__LINE__);
    return newLock(name, factory.factoryType_, textOf(factory.lockDirectory_));
}
