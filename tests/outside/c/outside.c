/* An outside C program built against an installed copy through pkg-config: it calls the C
 * entry points and checks their results. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <ovmsg/msg.h>
#include <ovsvc/svc.h>
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

    ov_svc_set_progname("outside_c", &status);
    if (status != 0) {
        fprintf(stderr, "ov_svc_set_progname: status 0x%x\n", status);
        return 1;
    }
    message = ov_msg_get_default_msg(0x1354A0C3u, &status);
    if (message == NULL || strstr(message, "%s") == NULL) {
        fprintf(stderr, "no default text for 0x1354A0C3\n");
        return 1;
    }
    printf("outside C program: base64 and message texts work (%s)\n", message);
    return 0;
}
