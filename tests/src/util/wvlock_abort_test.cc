// A failing threads-library call inside a lock call is logged with its message number and
// stops the process; so does exhausted memory in lock__create.
//
// This binary is linked with --wrap for the pthread calls the lock makes (and for malloc), so
// a test can make the next such call fail. The lock's source is compiled into the binary,
// since --wrap reaches only the objects of this link. Each case runs in a death test whose
// child hands every serviceability record to standard error as structured fields.
#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <ostream>
#include <string>
#include <thread>

#include <ovsvc/capture.h>
#include <ovsvc/svc.h>
#include <ovutil/wvlock.h>

#include "src/util/wvlock_test_support.h"

// ---- Faults: the wrapped calls behave normally until a test arms one of them.

namespace {

enum Call {
    kMutexInit,
    kCondInit,
    kMutexLock,
    kMutexTrylock,
    kMutexUnlock,
    kCondWait,
    kCondBroadcast,
    kSetCancelState,
    kMalloc,
    kCallCount
};

// An armed call lets `skip` calls through, then returns `rc` without calling the real
// function, every time. rc 0 for pthread_cond_wait is a spurious wake-up.
struct Fault {
    std::atomic<bool> armed{false};
    std::atomic<int> skip{0};
    std::atomic<int> rc{0};
};
Fault faults[kCallCount];

void arm(Call call, int rc, int skip = 0) {
    faults[call].rc = rc;
    faults[call].skip = skip;
    faults[call].armed = true;
}

// True when the call must fail now (and *rc says how).
bool fault(Call call, int* rc) {
    Fault& f = faults[call];
    if (!f.armed.load()) return false;
    if (f.skip.fetch_sub(1) > 0) return false;
    *rc = f.rc.load();
    return true;
}

}  // namespace

// The wrappers are visible outside the executable: a sanitizer's runtime library refers to
// some of these calls by name, and the link must be able to hand it the wrapper.
#define WRAPPER extern "C" __attribute__((visibility("default")))

extern "C" {
int __real_pthread_mutex_init(pthread_mutex_t*, const pthread_mutexattr_t*);
int __real_pthread_cond_init(pthread_cond_t*, const pthread_condattr_t*);
int __real_pthread_mutex_lock(pthread_mutex_t*);
int __real_pthread_mutex_trylock(pthread_mutex_t*);
int __real_pthread_mutex_unlock(pthread_mutex_t*);
int __real_pthread_cond_wait(pthread_cond_t*, pthread_mutex_t*);
int __real_pthread_cond_broadcast(pthread_cond_t*);
int __real_pthread_setcancelstate(int, int*);
void* __real_malloc(size_t);
}  // extern "C"

WRAPPER int __wrap_pthread_mutex_init(pthread_mutex_t* m, const pthread_mutexattr_t* a) {
    int rc;
    return fault(kMutexInit, &rc) ? rc : __real_pthread_mutex_init(m, a);
}
WRAPPER int __wrap_pthread_cond_init(pthread_cond_t* c, const pthread_condattr_t* a) {
    int rc;
    return fault(kCondInit, &rc) ? rc : __real_pthread_cond_init(c, a);
}
WRAPPER int __wrap_pthread_mutex_lock(pthread_mutex_t* m) {
    int rc;
    return fault(kMutexLock, &rc) ? rc : __real_pthread_mutex_lock(m);
}
WRAPPER int __wrap_pthread_mutex_trylock(pthread_mutex_t* m) {
    int rc;
    return fault(kMutexTrylock, &rc) ? rc : __real_pthread_mutex_trylock(m);
}
WRAPPER int __wrap_pthread_mutex_unlock(pthread_mutex_t* m) {
    int rc;
    return fault(kMutexUnlock, &rc) ? rc : __real_pthread_mutex_unlock(m);
}
WRAPPER int __wrap_pthread_cond_wait(pthread_cond_t* c, pthread_mutex_t* m) {
    int rc;
    return fault(kCondWait, &rc) ? rc : __real_pthread_cond_wait(c, m);
}
WRAPPER int __wrap_pthread_cond_broadcast(pthread_cond_t* c) {
    int rc;
    return fault(kCondBroadcast, &rc) ? rc : __real_pthread_cond_broadcast(c);
}
WRAPPER int __wrap_pthread_setcancelstate(int state, int* old) {
    int rc;
    return fault(kSetCancelState, &rc) ? rc : __real_pthread_setcancelstate(state, old);
}
WRAPPER void* __wrap_malloc(size_t size) {
    int rc;
    return fault(kMalloc, &rc) ? nullptr : __real_malloc(size);
}

namespace {

// Writes each record as one line of fields to standard error, where the death test reads it:
//   record <component> 0x<number> sub=<n> attr=<n> fmt=[<format>] file=<file> inserts=[a,b]
void printRecord(void*, const ov_svc_record_t* r) {
    std::string inserts;
    for (unsigned i = 0; i < r->insert_count; ++i)
        inserts += (i ? "," : "") + std::string(r->inserts[i]);
    fprintf(stderr, "record %s 0x%08x sub=%u attr=%u fmt=[%s] file=%s inserts=[%s]\n", r->component,
            r->msgid, r->subcomp, r->attributes, r->format, r->file, inserts.c_str());
}

// Runs in the death test's child: records go to standard error as fields only.
void watchRecords() {
    for (unsigned severity : {OV_SVC_FATAL, OV_SVC_ERROR, OV_SVC_WARNING, OV_SVC_NOTICE})
        ov_svc_route(severity, "DISCARD");
    ov_svc_set_capture(printRecord, nullptr);
}

lock_s_t* newLock() {
    lock_s_t* lock = nullptr;
    lock__create(&lock, nullptr, nullptr);
    return lock;
}

// A read hold taken by a thread that then ends: the hold stays (the lock counts readers, not
// threads), so the calling thread can meet a reader without breaking the rule that a reader
// does not ask for more.
void readOnAnotherThread(lock_s_t* lock) {
    std::thread([lock] { lock__read(lock, nullptr, nullptr, 1); }).join();
}

// Blocks a second thread in the lock's condition wait behind a write hold of the calling
// thread, then makes the broadcast of the release fail.
void failTheBroadcast() {
    lock_s_t* lock = newLock();
    lock__justwrite(lock, nullptr, nullptr, 1);
    std::thread reader([lock] { lock__read(lock, nullptr, nullptr, 1); });
    locktest::awaitWaiters(lock, 1);
    arm(kCondBroadcast, EINVAL);
    lock__unlock(lock);
    reader.join();  // not reached
}

struct Case {
    const char* name;
    std::function<void()> body;  // arms a fault and makes the lock call that meets it
    const char* record;          // the expected record, as printRecord writes it
};

// Test names and failure messages show the case by its name.
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class WvLockAbort : public ::testing::TestWithParam<Case> {};

TEST_P(WvLockAbort, LogsTheFailingCallAndAborts) {
    const Case& c = GetParam();
    const std::string expected = std::string("record ") + c.record;
    EXPECT_EXIT(
        {
            watchRecords();
            c.body();
            fprintf(stderr, "the lock call returned\n");
            exit(0);
        },
        ::testing::KilledBySignal(SIGABRT), ::testing::ContainsRegex(expected));
}

// The record of a failed pthread call: wvcore handle, sub-component 2 (locks), attributes 32,
// format "%d" with the call's return code.
#define LOCK_RECORD(number, rc) \
    "wvcore " number " sub=2 attr=32 fmt=\\[%d\\] file=src/util/wvlock inserts=\\[" #rc "\\]"

INSTANTIATE_TEST_SUITE_P(
    EachFailingCall, WvLockAbort,
    ::testing::Values(
        Case{"MutexInit",
             [] {
                 arm(kMutexInit, EAGAIN);
                 newLock();
             },
             LOCK_RECORD("0x1354a1c6", 11)},
        Case{"CondInit",
             [] {
                 arm(kCondInit, ENOMEM);
                 newLock();
             },
             LOCK_RECORD("0x1354a1ca", 12)},
        Case{"MutexLock",
             [] {
                 lock_s_t* lock = newLock();
                 arm(kMutexLock, EINVAL);
                 lock__read(lock, nullptr, nullptr, 1);
             },
             LOCK_RECORD("0x1354a1c8", 22)},
        Case{"MutexTrylock",
             [] {
                 lock_s_t* lock = newLock();
                 arm(kMutexTrylock, EINVAL);  // only EBUSY means "another thread is inside"
                 lock__riw(lock, nullptr, nullptr, 0);
             },
             LOCK_RECORD("0x1354a1c8", 22)},
        Case{"MutexUnlock",
             [] {
                 lock_s_t* lock = newLock();
                 lock__read(lock, nullptr, nullptr, 1);
                 arm(kMutexUnlock, EPERM);
                 lock__unlock(lock);
             },
             LOCK_RECORD("0x1354a1c9", 1)},
        Case{"CondWait",
             [] {
                 lock_s_t* lock = newLock();
                 readOnAnotherThread(lock);
                 arm(kCondWait, EINVAL);
                 lock__justwrite(lock, nullptr, nullptr, 1);  // waits for the reader
             },
             LOCK_RECORD("0x1354a1cc", 22)},
        Case{"CondBroadcast", failTheBroadcast, LOCK_RECORD("0x1354a1cd", 22)},
        Case{"DisablingCancellation",
             [] {
                 lock_s_t* lock = newLock();
                 lock__riw(lock, nullptr, nullptr, 1);
                 readOnAnotherThread(lock);
                 arm(kSetCancelState, EINVAL);
                 lock__write(lock, nullptr, nullptr, 1);  // the upgrade waits for the reader
             },
             LOCK_RECORD("0x1354a1cf", 22)},
        Case{"RestoringCancellation",
             [] {
                 lock_s_t* lock = newLock();
                 readOnAnotherThread(lock);
                 arm(kCondWait, 0);                // the wait wakes at once, as it may
                 arm(kSetCancelState, EINVAL, 1);  // the disabling passes, the restoring fails
                 lock__justwrite(lock, nullptr, nullptr, 1);
             },
             LOCK_RECORD("0x1354a1cf", 22)},
        // Out of memory: the basic services' handle, sub-component 0, attributes 16 (fatal),
        // an empty format and no inserts.
        Case{"Malloc",
             [] {
                 arm(kMalloc, 0);
                 newLock();
             },
             "bas 0x10652065 sub=0 attr=16 fmt=\\[\\] file=src/util/wvlock inserts=\\[\\]"}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// The wrapping itself: unarmed, the calls work, and a try that meets another thread inside
// (EBUSY) is not a failure.
TEST(WvLockWrapped, UnarmedCallsWorkAndEbusyIsNoFailure) {
    lock_s_t* lock = newLock();
    ASSERT_EQ(lock__riw(lock, nullptr, nullptr, 1), 1);
    arm(kMutexTrylock, EBUSY);
    errno = 0;
    EXPECT_EQ(lock__write(lock, nullptr, nullptr, 0), 0);
    EXPECT_EQ(errno, EBUSY);
    faults[kMutexTrylock].armed = false;
    EXPECT_EQ(lock__write(lock, nullptr, nullptr, 0), 1);
    lock__unlock(lock);
    lock__delete(lock);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // The broadcast case starts a thread in the child; "threadsafe" re-runs the binary for
    // each death test instead of forking a process that may hold other threads' locks.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    return RUN_ALL_TESTS();
}
