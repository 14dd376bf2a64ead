// The record behind lock_s_t, for wvlock.cc and for the tests that watch a lock's state.
//
// Every field is read and written only with `mutex` held. The mutex is held only inside the
// lock__ calls (and re-taken by the condition wait), never while a caller owns the lock.
#ifndef OVUTIL_INTERNAL_WVLOCK_H
#define OVUTIL_INTERNAL_WVLOCK_H

#include <pthread.h>
#include <stdint.h>

#include <ovutil/wvlock.h>

namespace ovutil_internal {

// The values of lock_s::state.
enum LockState : int32_t {
    kLockFree = 1,
    kLockRead = 2,    // plain readers only (readers > 0), no owner
    kLockIntent = 3,  // one riw owner, plus any number of readers
    kLockWrite = 4,   // the owner writes, or has claimed the lock and waits for readers
};

}  // namespace ovutil_internal

// The record behind the public lock_s_t: its tag is the one the public header names, so it
// lives in the global namespace.

struct lock_s {
    pthread_mutex_t mutex;
    // The one condition every waiting thread waits on, whatever hold it wants; woken only by
    // broadcast, so every waiter re-tests its own condition.
    pthread_cond_t cond;
    int32_t readers;  // plain read holds outstanding
    int32_t state;    // ovutil_internal::kLockFree ... kLockWrite
    pthread_t owner;  // meaningful in WVLOCK_INTENT and WVLOCK_WRITE only
    void* createWord1;
    void* createWord2;
    void* holderWord1;  // words of the latest riw or write hold
    void* holderWord2;
    int32_t waiters;  // threads inside the condition wait; 0 lets a release skip the broadcast
};

#endif  // OVUTIL_INTERNAL_WVLOCK_H
