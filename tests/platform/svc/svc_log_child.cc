// Logs one record of each severity and one debug line (of two lines), then exits. The routing
// tests run it with the environment and standard streams of each case. With an argument, it
// first routes notices there by a call and prints "route <result>" on standard output.
#include <cstdio>
#include <initializer_list>

#include "ovsvc/svc.h"

int main(int argc, char** argv) {
    unsigned status = 0;
    ov_svc_set_progname("svc_log_child", &status);
    ov_svc_init(0, &status);
    if (status != 0) return 2;
    if (argc > 1) {
        std::printf("route %d\n", ov_svc_route(OV_SVC_NOTICE, argv[1]));
        std::fflush(stdout);
    }
    // Every product handle reads OV_SVC_DEBUG.
    for (dce_svc_handle_t h : {bas_svc_handle, wvcore_svc_handle, ov_ras_svc_handle, ovc_svc_handle, ovz_svc_handle})
        ov_svc__debug_fillin2(h, 0);
    ov_svc_set_debug_level(bas_svc_handle, 1, 3);
    const unsigned severities[] = {OV_SVC_FATAL, OV_SVC_ERROR, OV_SVC_WARNING, OV_SVC_NOTICE};
    for (unsigned s : severities)
        if (ov_svc_printf_withfile(bas_svc_handle, "child", static_cast<int>(s), "", 0, s, 0x10652065) != 0)
            return 1;
    ov_svc__debug_withfile(bas_svc_handle, "child", 1, 1, 3, "debug %s\nnext line", "line");
    return 0;
}
