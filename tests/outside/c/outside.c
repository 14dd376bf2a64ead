/* An outside C program built against an installed copy through pkg-config: it calls the C
 * entry points and checks their results, and that start-up found the installed message
 * catalogs by itself (it runs with an empty environment: no NLSPATH, no LD_LIBRARY_PATH). */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <ovmsg/msg.h>
#include <ovutil/ovutil.h>

int main(void) {
    static const unsigned char data[] = {'o', 'v', 'u', 't', 'i', 'l'};
    char* text = mime64_new_encode(data, sizeof data);
    char* back = NULL;
    unsigned int length = 0;
    unsigned int status = 0;
    const char* message;

    if (text == NULL || strcmp(text, "b3Z1dGls") != 0) {
        fprintf(stderr, "base64 encoding gave %s\n", text ? text : "(null)");
        return 1;
    }
    mime64_new_decode(text, (int)strlen(text), &back, &length);
    if (back == NULL || length != sizeof data || memcmp(back, data, length) != 0) {
        fprintf(stderr, "base64 decoding did not give the data back\n");
        return 1;
    }
    free(text);
    free(back);

    /* The installed headers and the installed library are the same version. */
    if (strcmp(ovutil_version(), OVUTIL_VERSION_STRING) != 0) {
        fprintf(stderr, "library %s, headers %s\n", ovutil_version(), OVUTIL_VERSION_STRING);
        return 1;
    }
    if (!wvmsg_init("outside_c")) {
        fprintf(stderr, "wvmsg_init failed\n");
        return 1;
    }
    message = ov_msg_get_default_msg(0x1354A0C3u, &status);
    if (message == NULL || strstr(message, "%s") == NULL) {
        fprintf(stderr, "no default text for 0x1354A0C3\n");
        return 1;
    }
    /* The catalog's text, not the compiled-in default: start-up put the installed catalogs
     * in the search path. */
    message = ov_msg_get_msg(0x1354A0C3u, &status);
    if (message == NULL || status != OV_MSG_S_OK) {
        fprintf(stderr, "no catalog text for 0x1354A0C3 (status 0x%x, NLSPATH=%s)\n", status,
                getenv("NLSPATH") ? getenv("NLSPATH") : "(unset)");
        return 1;
    }
    printf("outside C program (ovutil %s): base64 works; catalog text found through NLSPATH=%s: %s\n",
           ovutil_version(), getenv("NLSPATH"), message);
    return 0;
}
