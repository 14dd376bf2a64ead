/* The UTF-8 classification called from plain C: the header compiles as C and links. */
#include <ovz/multibyte.h>

#include <stdio.h>
#include <string.h>

static int failures = 0;

static void expect(int got, int want, const char* what) {
    if (got != want) {
        fprintf(stderr, "%s: got %d, want %d\n", what, got, want);
        ++failures;
    }
}

int main(void) {
    const ZCodeSetHandle_6_0* h = zgetUTF8Handle_6_0();
    const char* euro = "\xe2\x82\xac";
    expect(h != NULL, 1, "handle");
    expect(zmblen_6_0(h, euro, strlen(euro)), 3, "three-byte character");
    expect(zmblen_6_0(h, euro, 2), 0, "cut character");
    expect(zmblen_6_0(h, "\xc0\x80", 2), -1, "overlong");
    expect(zstrchr_6_0(h, "*()", '('), 1, "listed byte");
    expect(zstrchr_6_0(h, "*()", '#'), 0, "unlisted byte");
    return failures == 0 ? 0 : 1;
}
