// The process-wide FIPS mode flag.
//
// FIPSenabled_ goes from -1 (unsettled) to 0 or 1 exactly once, by one atomic
// compare-and-exchange: an explicit setFIPSMode and the first reading of the configuration may
// race, and only the first store may win. The mutex only makes sure that a single thread
// reads the configuration while the others wait for its answer; once the flag is settled,
// getFIPSMode is a single acquire load.
#include <ovutil/fipsMode.h>

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>

#include <ovmsg/messages.h>
#include <ovsvc/svc.h>
#include <ovutil/cfgfile.h>
#include <ovutil/getpath.h>
#include <ovz/properties.h>
#include <ovz/strings.h>

#include "internal/logging.h"

namespace {

constexpr char kSourceFile[] = "src/util/fipsMode";
using ovutil_internal::kProductConfigFile;

std::atomic<std::int32_t> FIPSenabled_{-1};

pthread_mutex_t fipsMutex;
pthread_once_t fipsMutexOnce = PTHREAD_ONCE_INIT;

std::int32_t current() { return FIPSenabled_.load(std::memory_order_acquire); }

// The setting read from the product configuration: 1 only for "yes" in any case.
int readConfiguredMode() {
    const char* file = ov_get_path(kProductConfigFile);
    if (file == nullptr) file = kProductConfigFile;
    try {
        ZLCString_6_0 value;
        ZStzFileItem_6_0 item = {ZSTZ_ITEM_LCSTRING, "ssl", "ssl-enable-fips", 0, &value, 0};
        if (config_item_load(file, &item, 1, 0) != 0) {
            ov_svc_printf_cs_withfile(ovc_svc_handle, ov_svc_utf8_cs, kSourceFile, __LINE__, "%s",
                                      0, OV_SVC_ERROR, OV_MSG_FIPS_CONFIG_UNREADABLE, file);
            return 0;
        }
        if (value.isEmpty()) {
            ov_svc_printf_cs_withfile(ovc_svc_handle, ov_svc_utf8_cs, kSourceFile, __LINE__, "", 0,
                                      OV_SVC_NOTICE, OV_MSG_FIPS_NOT_SET);
            return 0;
        }
        return value.compareignorecase("yes") == 0 ? 1 : 0;
    } catch (...) {
        // Nothing may leave this C entry point with the mutex held; a reading that failed in
        // an unexpected way counts as an unreadable configuration.
        ov_svc_printf_cs_withfile(ovc_svc_handle, ov_svc_utf8_cs, kSourceFile, __LINE__, "%s", 0,
                                  OV_SVC_ERROR, OV_MSG_FIPS_CONFIG_UNREADABLE, file);
        return 0;
    }
}

}  // namespace

extern "C" {

// The once-routine that creates the mutex; without it the flag cannot be settled safely.
static void getFIPSMode_mutex_init(void) {
    if (pthread_mutex_init(&fipsMutex, nullptr) != 0) std::abort();
}

// The first question: one thread reads the configuration under the mutex while the others
// wait for its answer.
static __attribute__((noinline)) int settleFIPSMode(void) {
    pthread_once(&fipsMutexOnce, getFIPSMode_mutex_init);
    if (pthread_mutex_lock(&fipsMutex) != 0) std::abort();
    if (current() == -1) setFIPSMode(readConfiguredMode());
    const int mode = current();
    pthread_mutex_unlock(&fipsMutex);
    return mode;
}

int getFIPSMode(void) {
    // Once settled the flag never changes again, so one acquire load answers every later
    // call without the mutex.
    const std::int32_t mode = current();
    if (mode != -1) return mode;
    return settleFIPSMode();
}

void setFIPSMode(int mode) {
    std::int32_t unsettled = -1;
    FIPSenabled_.compare_exchange_strong(unsettled, static_cast<std::int32_t>(mode),
                                         std::memory_order_acq_rel, std::memory_order_acquire);
}

}  // extern "C"
