// Logs one record of each severity and one debug line, then exits. The routing tests run it
// with the environment and standard streams of each case.
#include <cstdio>

#include "ovsvc/svc.h"

int main() {
    unsigned status = 0;
    ov_svc_set_progname("svc_log_child", &status);
    ov_svc_init(0, &status);
    if (status != 0) return 2;
    ov_svc_set_debug_level(bas_svc_handle, 1, 3);
    const unsigned severities[] = {OV_SVC_FATAL, OV_SVC_ERROR, OV_SVC_WARNING, OV_SVC_NOTICE};
    for (unsigned s : severities)
        if (ov_svc_printf_withfile(bas_svc_handle, "child", static_cast<int>(s), "", 0, s, 0x10652065) != 0)
            return 1;
    ov_svc__debug_withfile(bas_svc_handle, "child", 1, 1, 3, "debug %s", "line");
    return 0;
}
