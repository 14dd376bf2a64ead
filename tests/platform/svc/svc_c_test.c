/* The C interface of serviceability and message catalogs, from a plain C program. */
#include <stdio.h>
#include <string.h>

#include "ovmsg/msg.h"
#include "ovsvc/capture.h"
#include "ovsvc/svc.h"

static unsigned int seen_msgid;
static char seen_text[256];

static void onRecord(void* context, const ov_svc_record_t* record) {
    (void)context;
    seen_msgid = record->msgid;
    snprintf(seen_text, sizeof seen_text, "%s", record->text);
}

#define CHECK(cond)                                                            \
    do {                                                                       \
        if (!(cond)) {                                                         \
            fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #cond); \
            return 1;                                                          \
        }                                                                      \
    } while (0)

int main(void) {
    unsigned int status = 1;
    const char* text;
    ov_svc_set_progname("svc_c_test", &status);
    CHECK(status == OV_SVC_S_OK);
    ov_svc_init(0, &status);
    CHECK(status == OV_SVC_S_OK);
    CHECK(ov_svc_route(OV_SVC_ERROR, "DISCARD") == 0);

    text = ov_msg_get_msg(0x15E3A003u, &status);
    CHECK(text != NULL && status == OV_MSG_S_OK);
    CHECK(ov_msg_get_default_msg(0x15E3A003u, &status) != NULL);

    ov_svc_set_capture(onRecord, NULL);
    CHECK(ov_svc_printf_cs_withfile(ovc_svc_handle, ov_svc_utf8_cs, "src/util/fipsMode", 7, "%s", 0,
                                    32, 0x15E3A003u, "/opt/Orvan/etc/ov.conf") == 0);
    ov_svc_set_capture(NULL, NULL);
    CHECK(seen_msgid == 0x15E3A003u);
    CHECK(strstr(seen_text, "/opt/Orvan/etc/ov.conf") != NULL);
    CHECK(ov_svc_debug_level(ov_ras_svc_handle, 3) == 0);
    return 0;
}
