/* The C program of the API documentation's quick-start page (docs/quickstart.md shows the piece
 * between its two snippet markers): base64 and message texts through the C entry points. Built with
 * the examples and run as a test, so that the page's C code compiles and does what it says. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <ovmsg/messages.h>
#include <ovutil/ovutil.h>

int main(void) {
    int failures = 0;
    char* text;
    char* bytes = NULL;
    unsigned int length = 0;
    const char* message;

    //! [c]
    /* Start-up first: the program's name, its locale, logging, the message catalogs. */
    if (!wvmsg_init("quickstart_c")) return 1;

    /* Base64: a new malloc text, and back to a new malloc buffer (not NUL-terminated). */
    text = mime64_new_encode((const unsigned char*)"ovutil", 6); /* "b3Z1dGls" */
    if (text == NULL) return 1;                                  /* memory */
    mime64_new_decode(text, (int)strlen(text), &bytes, &length); /* 6 bytes "ovutil" */

    /* A message text by number (<ovmsg/messages.h> names every number): cached for the
     * life of the process, never freed by the caller. */
    message = wv_i18n_msg(OV_MSG_CONFIG_INVALID_DATA);
    printf("0x%08X %s\n", OV_MSG_CONFIG_INVALID_DATA, message);

    free(text);
    free(bytes);
    //! [c]
    if (length != 6) ++failures;
    if (message == NULL || strstr(message, "contains data that is not valid") == NULL) ++failures;
    if (failures) {
        fprintf(stderr, "quickstart_c: FAILED\n");
        return 1;
    }
    puts("quickstart_c: all steps did what the page says");
    return 0;
}
