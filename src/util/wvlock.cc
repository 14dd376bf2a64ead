// Reader/writer locks with read-intend-write, built on one mutex and one condition variable.
//
// The mutex guards the record's fields and is held only inside the calls, so a hold itself
// costs nothing while it lasts and an uncontended call is one lock and one unlock of the
// mutex. Whoever must wait waits on the single condition variable; a release that may admit
// somebody broadcasts after it has let go of the mutex, so the woken threads do not run into
// a held mutex, and only when somebody waits at all.
//
// The threads library is not expected to fail here; when it does the lock's state can no
// longer be trusted, so the failure is logged and the process stops. Each call's result is
// also left in errno, which is how callers tell a try that met another thread (EBUSY) from
// one that found the hold taken (0).
#include <errno.h>
#include <pthread.h>
#include <stdlib.h>

#include <ovmsg/messages.h>
#include <ovsvc/svc.h>
#include <ovutil/wvlock.h>

#include "internal/wvlock.h"

namespace {

using namespace ovutil_internal;

constexpr char kSourceFile[] = "src/util/wvlock";
constexpr unsigned int kSubcompLocks = 2;

constexpr unsigned int kMsgMutexInit = OV_MSG_LOCK_MUTEX_INIT_FAILED;
constexpr unsigned int kMsgMutexLock =
    OV_MSG_LOCK_MUTEX_LOCK_FAILED;  // pthread_mutex_lock and _trylock
constexpr unsigned int kMsgMutexUnlock = OV_MSG_LOCK_MUTEX_UNLOCK_FAILED;
constexpr unsigned int kMsgCondInit = OV_MSG_LOCK_COND_INIT_FAILED;
constexpr unsigned int kMsgCondWait = OV_MSG_LOCK_COND_WAIT_FAILED;
constexpr unsigned int kMsgCondBroadcast = OV_MSG_LOCK_COND_BROADCAST_FAILED;
constexpr unsigned int kMsgCancelState = OV_MSG_LOCK_CANCEL_STATE_FAILED;
constexpr unsigned int kMsgOutOfMemory = OV_MSG_OUT_OF_MEMORY;

// The calling thread's errno, which every call sets. Asking the C library for its address
// is a call out of this library each time, a measurable share of an uncontended
// read+unlock; each thread asks once and keeps the address in a thread-local pointer.
// Initial-exec: the pointer sits at a fixed offset from the thread pointer, with no look-up
// (it takes eight bytes of the static TLS room that the C library keeps for shared
// libraries). A thread's TLS starts zeroed, so every new thread asks again.
__thread int* threadErrno __attribute__((tls_model("initial-exec")));

inline int& callerErrno() {
    int* e = threadErrno;
    if (e == nullptr) [[unlikely]]
        threadErrno = e = &errno;
    return *e;
}

[[noreturn]] __attribute__((noinline, cold)) void fatal(unsigned int msgid, int rc, int line) {
    try {
        ov_svc_printf_cs_withfile(wvcore_svc_handle, ov_svc_utf8_cs, kSourceFile, line, "%d",
                                  kSubcompLocks, OV_SVC_ERROR, msgid, rc);
    } catch (...) {
        // The process stops either way; nothing may unwind out of a C entry point.
    }
    abort();
}

// Every threads-library result goes to errno; anything but success is fatal.
inline void check(int rc, unsigned int msgid, int line) {
    callerErrno() = rc;
    if (rc != 0) [[unlikely]]
        fatal(msgid, rc, line);
}

// Takes the record's mutex. A try (wait 0) gives up with false, errno EBUSY, when another
// thread is inside a call on this lock.
inline bool enter(lock_s_t* lock, int wait) {
    const int rc = wait ? pthread_mutex_lock(&lock->mutex) : pthread_mutex_trylock(&lock->mutex);
    callerErrno() = rc;
    if (rc == 0) [[likely]]
        return true;
    if (!wait && rc == EBUSY) return false;
    fatal(kMsgMutexLock, rc, __LINE__);
}

inline void leave(lock_s_t* lock) {
    check(pthread_mutex_unlock(&lock->mutex), kMsgMutexUnlock, __LINE__);
}

// One wait on the condition, with the mutex held. Cancellation is off for the wait, so a
// thread is never cancelled inside a lock call with the record half-updated (waiters counted,
// a claim outstanding); the caller re-tests its condition afterwards. Out of line, so that
// the calls that need not wait do not pay for its registers and stack.
__attribute__((noinline)) void waitForChange(lock_s_t* lock) {
    int old = 0;
    check(pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &old), kMsgCancelState, __LINE__);
    ++lock->waiters;
    check(pthread_cond_wait(&lock->cond, &lock->mutex), kMsgCondWait, __LINE__);
    --lock->waiters;
    if (old != PTHREAD_CANCEL_DISABLE)
        check(pthread_setcancelstate(old, &old), kMsgCancelState, __LINE__);
}

inline bool ownedByRiwOrWriter(const lock_s_t* lock) {
    return lock->state == kLockIntent || lock->state == kLockWrite;
}

}  // namespace

extern "C" {

int lock__create(lock_s_t** out, void* word1, void* word2) {
    auto* lock = static_cast<lock_s_t*>(malloc(sizeof(lock_s_t)));
    if (lock == nullptr) {
        try {
            ov_svc_printf_cs_withfile(bas_svc_handle, ov_svc_utf8_cs, kSourceFile, __LINE__, "", 0,
                                      OV_SVC_FATAL, kMsgOutOfMemory);
        } catch (...) {
        }
        abort();
    }
    check(pthread_mutex_init(&lock->mutex, nullptr), kMsgMutexInit, __LINE__);
    check(pthread_cond_init(&lock->cond, nullptr), kMsgCondInit, __LINE__);
    lock->readers = 0;
    lock->state = kLockFree;
    lock->owner = pthread_t();
    lock->createWord1 = word1;
    lock->createWord2 = word2;
    lock->holderWord1 = nullptr;
    lock->holderWord2 = nullptr;
    lock->waiters = 0;
    *out = lock;
    return 0;
}

void lock__delete(lock_s_t* lock) {
    errno = pthread_mutex_destroy(&lock->mutex);
    errno = pthread_cond_destroy(&lock->cond);
    free(lock);
}

int lock__read(lock_s_t* lock, void* /*word1*/, void* /*word2*/, int wait) {
    if (!enter(lock, wait)) return 0;
    while (lock->state == kLockWrite) {
        if (!wait) {
            leave(lock);
            return 0;
        }
        waitForChange(lock);
    }
    ++lock->readers;
    if (lock->state == kLockFree) lock->state = kLockRead;
    leave(lock);
    return 1;
}

int lock__riw(lock_s_t* lock, void* word1, void* word2, int wait) {
    if (!enter(lock, wait)) return 0;
    while (ownedByRiwOrWriter(lock)) {
        if (!wait) {
            leave(lock);
            return 0;
        }
        waitForChange(lock);
    }
    // Readers inside stay inside and are not counted against the riw hold.
    lock->holderWord1 = word1;
    lock->holderWord2 = word2;
    lock->owner = pthread_self();
    lock->state = kLockIntent;
    leave(lock);
    return 1;
}

int lock__justwrite(lock_s_t* lock, void* word1, void* word2, int wait) {
    if (!enter(lock, wait)) return 0;
    while (ownedByRiwOrWriter(lock)) {
        if (!wait) {
            leave(lock);
            return 0;
        }
        waitForChange(lock);
    }
    // Claim the lock now, so that readers arriving from here on wait behind this writer.
    lock->holderWord1 = word1;
    lock->state = kLockWrite;
    lock->holderWord2 = word2;
    lock->owner = pthread_self();
    while (lock->readers > 0) {
        if (!wait) {
            // Nobody saw the claim (the mutex was never let go): the readers keep the lock.
            lock->state = kLockRead;
            leave(lock);
            return 0;
        }
        waitForChange(lock);
    }
    leave(lock);
    return 1;
}

int lock__write(lock_s_t* lock, void* word1, void* word2, int wait) {
    if (!enter(lock, wait)) return 0;
    // The riw owner claims the write at once: new readers wait from here on.
    lock->state = kLockWrite;
    while (lock->readers > 0) {
        if (!wait) {
            lock->state = kLockIntent;  // the caller keeps its riw hold
            leave(lock);
            return 0;
        }
        waitForChange(lock);
    }
    lock->owner = pthread_self();
    lock->state = kLockWrite;
    lock->holderWord1 = word1;
    lock->holderWord2 = word2;
    leave(lock);
    return 1;
}

void lock__unlock(lock_s_t* lock) {
    enter(lock, 1);
    switch (lock->state) {
        case kLockRead:
            if (--lock->readers == 0) lock->state = kLockFree;
            break;
        case kLockIntent:
        case kLockWrite:
            // Only here does it matter who calls: the owner, or a reader beside it.
            if (pthread_equal(lock->owner, pthread_self())) {
                lock->state = lock->readers == 0 ? kLockFree : kLockRead;
            } else {
                --lock->readers;  // a plain reader beside the riw owner or a claimed write
            }
            break;
        default:
            break;  // a free lock: nothing to release
    }
    // A reader leaving a riw-held lock admits nobody; neither does one leaving a claimed
    // write while other readers remain. The last reader out of a claimed write wakes the
    // writer that waits for it.
    const bool wake = lock->waiters > 0 && lock->state != kLockIntent &&
                      !(lock->state == kLockWrite && lock->readers > 0);
    leave(lock);
    if (wake) check(pthread_cond_broadcast(&lock->cond), kMsgCondBroadcast, __LINE__);
}

void lock__spy(lock_s_t* /*lock*/, ...) {}

}  // extern "C"
