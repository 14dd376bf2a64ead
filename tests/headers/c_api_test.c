/* A plain C program that includes the C headers and calls the C entry points: the C
 * interface works from C, not only from C++. Exits non-zero and says why on the first
 * wrong result. */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <ovmsg/msg.h>
#include <ovsvc/svc.h>
#include <ovutil/ovutil.h>

static int failures;

static void expect(int ok, const char* what) {
    if (!ok) {
        fprintf(stderr, "c_api_test: %s\n", what);
        ++failures;
    }
}

static void base64(void) {
    static const unsigned char bytes[] = {0xDE, 0xAD, 0xBE, 0xEF};
    char* text = mime64_new_encode(bytes, sizeof bytes);
    char* back = NULL;
    unsigned int length = 0;
    expect(text != NULL && strcmp(text, "3q2+7w==") == 0, "mime64_new_encode of DE AD BE EF");
    mime64_new_decode(text, text ? (int)strlen(text) : 0, &back, &length);
    expect(back != NULL && length == 4 && memcmp(back, bytes, 4) == 0, "mime64_new_decode round trip");
    free(text);
    free(back);
}

static void attributes(void) {
    attrlist_s_t* list = calloc(1, sizeof *list);
    attrlist_s_t* copy;
    value_s_t value;
    char name_b[] = "beta";
    char name_a[] = "Alpha";
    memset(&value, 0, sizeof value);
    value.type = ATTR_VALUE_STRING;
    value.string = "one";
    attrlist_add_entry(list, name_b, &value);
    value.string = "two";
    attrlist_add_entry(list, name_a, &value);
    expect(list->count == 2 && strcmp(list->attrs[0].name, "Alpha") == 0, "attributes sorted by name");
    expect(attrlist_find_entry(list, "BETA") == 1, "attrlist_find_entry ignores case");
    copy = attrlist_dup(list);
    expect(copy != NULL && copy->count == 2 && strcmp(copy->attrs[1].values[0].string, "one") == 0,
           "attrlist_dup copies values");
    attrlist_delete(&list);
    attrlist_delete(&copy);
    expect(list == NULL && copy == NULL, "attrlist_delete clears the pointer");
}

static void messages(void) {
    unsigned int status = 1;
    const char* text = ov_msg_get_default_msg(0x1354A0C7u, &status);
    expect(text != NULL && status == 0, "default text of 0x1354A0C7");
    ov_svc_set_progname("c_api_test", &status);
    expect(status == 0, "ov_svc_set_progname");
    ov_svc_route(OV_SVC_ERROR, "DISCARD");
    expect(ov_svc_printf_withfile(wvcore_svc_handle, "tests/headers/c_api_test", __LINE__, "%s", 0,
                                  OV_SVC_ERROR, 0x1354A0C7u, "file.conf") == 0,
           "ov_svc_printf_withfile from C");
}

static void text(void) {
    char* filter = wv_mbs_sprintf("(cn=%Q)", "a*(b)");
    char* stored = util_encode("pw");
    char* plain = util_decode(stored);
    expect(filter != NULL && strcmp(filter, "(cn=a\\2a\\28b\\29)") == 0, "wv_mbs_sprintf %Q");
    expect(wv_mbs_validpchars("alice") == 1 && wv_mbs_validpchars("a*") == 0, "wv_mbs_validpchars");
    expect(stored != NULL && strcmp(stored, "~^+p~w~") == 0, "util_encode of pw");
    expect(plain != NULL && strcmp(plain, "pw") == 0, "util_decode round trip");
    free(filter);
    free(stored);
    free(plain);
}

static void locks(void) {
    lock_s_t* lock = NULL;
    int word = 0;
    expect(lock__create(&lock, &word, NULL) == 0 && lock != NULL, "lock__create");
    expect(lock__read(lock, NULL, NULL, 1) == 1, "lock__read on a free lock");
    lock__unlock(lock);
    expect(lock__riw(lock, &word, NULL, 0) == 1, "lock__riw on a free lock");
    expect(lock__write(lock, &word, NULL, 0) == 1, "lock__write upgrade without readers");
    lock__unlock(lock);
    errno = EINVAL;
    expect(lock__justwrite(lock, NULL, NULL, 0) == 1 && errno == 0,
           "lock__justwrite on a free lock, errno 0");
    lock__spy(lock, &word);
    lock__unlock(lock);
    lock__delete(lock);
}

/* The macros follow the project's version, and the library runs with the same one. */
static void version(void) {
    char numbers[64];
    snprintf(numbers, sizeof numbers, "%d.%d.%d", OVUTIL_VERSION_MAJOR, OVUTIL_VERSION_MINOR,
             OVUTIL_VERSION_PATCH);
    expect(strcmp(OVUTIL_VERSION_STRING, OV_PROJECT_VERSION) == 0, "OVUTIL_VERSION_STRING is the project's version");
    expect(strcmp(numbers, OV_PROJECT_VERSION) == 0, "OVUTIL_VERSION_MAJOR.MINOR.PATCH is the project's version");
    expect(ovutil_version() != NULL && strcmp(ovutil_version(), OVUTIL_VERSION_STRING) == 0,
           "ovutil_version() is OVUTIL_VERSION_STRING");
}

int main(void) {
    version();
    base64();
    locks();
    attributes();
    messages();
    text();
    if (failures == 0)
        printf("c_api_test: the C interface works from C\n");
    return failures == 0 ? 0 : 1;
}
