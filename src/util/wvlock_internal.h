// The record behind lock_s_t, for wvlock.cc and for the tests that watch a lock's state.
//
// Every field is read and written only with `mutex` held. The mutex is held only inside the
// lock__ calls (and re-taken by the condition wait), never while a caller owns the lock.
#ifndef OVUTIL_WVLOCK_INTERNAL_H
#define OVUTIL_WVLOCK_INTERNAL_H

#include <pthread.h>
#include <stdint.h>

#include <ovutil/wvlock.h>

// The values of lock_s::state.
enum {
    WVLOCK_FREE = 1,
    WVLOCK_READ = 2,    // plain readers only (readers > 0), no owner
    WVLOCK_INTENT = 3,  // one riw owner, plus any number of readers
    WVLOCK_WRITE = 4,   // the owner writes, or has claimed the lock and waits for readers
};

struct lock_s {
    pthread_mutex_t mutex;
    // The one condition every waiting thread waits on, whatever hold it wants; woken only by
    // broadcast, so every waiter re-tests its own condition.
    pthread_cond_t cond;
    int32_t readers;  // plain read holds outstanding
    int32_t state;    // WVLOCK_FREE ... WVLOCK_WRITE
    pthread_t owner;  // meaningful in WVLOCK_INTENT and WVLOCK_WRITE only
    void* createWord1;
    void* createWord2;
    void* holderWord1;  // words of the latest riw or write hold
    void* holderWord2;
    int32_t waiters;  // threads inside the condition wait; 0 lets a release skip the broadcast
};

#endif  // OVUTIL_WVLOCK_INTERNAL_H
