/**
 * @file
 * Reader/writer locks for a caller's own data, with a read-intend-write mode.
 *
 * Three kinds of hold:
 *  - read: shared; any number of threads at once;
 *  - read-intend-write ("riw"): one thread at a time, beside any number of readers; its owner
 *    may later upgrade it to a write hold with lock__write;
 *  - write: exclusive; taken from scratch with lock__justwrite or by upgrading a riw hold.
 *
 * Example: read a table, and change it only when the reading shows that a change is due.
 *
 *     lock_s_t* lock;
 *     lock__create(&lock, NULL, NULL);
 *     lock__riw(lock, NULL, NULL, 1);        // readers may still come and go
 *     if (entry_is_stale(table)) {
 *         lock__write(lock, NULL, NULL, 1);  // waits until the readers have left
 *         refresh(table);
 *     }
 *     lock__unlock(lock);                    // releases the riw or the write hold
 *     lock__delete(lock);
 *
 * Conventions of this interface:
 *  1. Waiting. Every acquiring call takes `wait`: non-zero blocks until the hold is granted;
 *     0 only tries and returns 0 at once when the hold cannot be had. A try also gives up
 *     (0, errno EBUSY) when another thread is inside any call on the same lock at that
 *     moment, even if the hold itself would be free.
 *  2. Fairness. A writer claims the lock before the readers already inside have left; readers
 *     that arrive after the claim wait until the writer has finished. There is no queue:
 *     after a release, whichever waiting thread gets in first wins.
 *  3. Holds are not recursive. A thread holding a write or riw hold must not ask the same
 *     lock for another hold, and a reader must not ask for riw or write while it reads; the
 *     lock does not detect either (it deadlocks).
 *  4. Errors. Every call stores the result of each threads-library call it makes in errno, so
 *     a call that returns leaves errno 0, or EBUSY after a try that met another thread. A
 *     failure of the threads library, or exhausted memory in lock__create, is logged as a
 *     numbered message and the process is aborted: no call returns an error.
 *  5. Cancellation. A thread blocked in a lock call is never cancelled there: cancellation is
 *     disabled while it waits and its previous state is restored afterwards, so a pending
 *     cancellation takes effect at the thread's next cancellation point after the call.
 *  6. Caller words. The calls take two opaque pointer-sized words that the lock stores
 *     (the create words, and the words of the latest riw or write hold) and never interprets.
 *
 * All calls may be made from any thread. This header compiles as C and as C++.
 */
#ifndef OVUTIL_WVLOCK_H
#define OVUTIL_WVLOCK_H

#include <ovutil/export.h>

#ifdef __cplusplus
extern "C" {
#endif

/**
 * A reader/writer lock. Opaque: callers hold only the pointer that lock__create gives them
 * and pass it to the other calls.
 */
typedef struct lock_s lock_s_t;

/**
 * Creates a free lock and stores it in `*out`.
 *
 * `word1` and `word2` are kept with the lock and never interpreted. The lock belongs to the
 * caller, who releases it with lock__delete.
 *
 * @return 0. There is no failure return: when memory or the threads library fails, the
 *         failure is logged and the process aborts; `*out` is written only on success.
 */
OVUTIL_EXPORT int lock__create(lock_s_t** out, void* word1, void* word2);

/**
 * Releases the lock and everything it uses.
 *
 * REQUIRES: no thread holds the lock, waits for it, or is still inside a call on it.
 */
OVUTIL_EXPORT void lock__delete(lock_s_t* lock);

/**
 * Takes a shared (read) hold.
 *
 * Granted while nobody writes or has claimed the lock for writing; beside a riw hold too.
 * `word1` and `word2` are ignored.
 *
 * @return 1 when the hold was granted, 0 when not (only with `wait` 0).
 */
OVUTIL_EXPORT int lock__read(lock_s_t* lock, void* word1, void* word2, int wait);

/**
 * Takes a read-intend-write hold: the calling thread becomes the lock's owner, readers keep
 * coming and going, and the owner may upgrade with lock__write.
 *
 * Granted while no other thread has a riw or write hold; readers are neither counted nor
 * waited for. `word1` and `word2` are stored with the hold.
 *
 * @return 1 when the hold was granted, 0 when not (only with `wait` 0).
 */
OVUTIL_EXPORT int lock__riw(lock_s_t* lock, void* word1, void* word2, int wait);

/**
 * Takes an exclusive (write) hold from scratch.
 *
 * Once no other thread has a riw or write hold, the caller claims the lock: from then on new
 * readers, riw and writers wait. With `wait` the call then waits for the readers inside to
 * leave. A try that finds readers inside withdraws its claim and returns 0; the readers keep
 * their holds. `word1` and `word2` are stored with the hold.
 *
 * @return 1 when the hold was granted, 0 when not (only with `wait` 0).
 */
OVUTIL_EXPORT int lock__justwrite(lock_s_t* lock, void* word1, void* word2, int wait);

/**
 * Upgrades the calling thread's riw hold to an exclusive (write) hold.
 *
 * New readers wait from the moment of the call; with `wait` the call waits for the readers
 * inside to leave. A try that finds readers inside returns 0 and the caller keeps its riw
 * hold. `word1` and `word2` are stored with the hold.
 *
 * REQUIRES: the calling thread holds the lock in riw mode (not checked).
 *
 * @return 1 when the hold was granted, 0 when not (only with `wait` 0).
 */
OVUTIL_EXPORT int lock__write(lock_s_t* lock, void* word1, void* word2, int wait);

/**
 * Releases the calling thread's hold: its riw or write hold if it is the lock's owner, else
 * one read hold. Waiting threads are woken when the release may admit them.
 *
 * A call on a free lock changes nothing. A thread that got 0 from a try holds nothing and
 * must not call this for it.
 */
OVUTIL_EXPORT void lock__unlock(lock_s_t* lock);

/**
 * Does nothing, whatever it is passed. It exists so that programs that name it still link.
 */
OVUTIL_EXPORT void lock__spy(lock_s_t* lock, ...);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* OVUTIL_WVLOCK_H */
