/* The codec's interface called from plain C: a two-level tree goes out and comes back. */
#include <ovasn/asn.h>

#include <string.h>

/* Returns 0 when the round trip gives the tree back, otherwise the step that failed. */
int ov_asn_c_round_trip(void) {
    char* child_values[] = {"x", "y"};
    namevalue_s_t child = {"child", 2, child_values, 0, NULL};
    namevalue_s_t* children[] = {&child};
    char* values[] = {"1"};
    namevalue_s_t top = {"top", 1, values, 1, children};
    namevalue_s_t* entries[] = {&top};
    namevalueList_s_t list = {1, entries};
    ov_asn_buffer_t wire = {0, NULL};
    namevalueList_s_t back = {0, NULL};
    int result = 0;

    if (ovAsnEncodeObj(&wire, &list) != OV_ASN_OK) return 1;
    if (ovAsnDecodeObj(&wire, &back) != OV_ASN_OK) {
        result = 2;
    } else if (back.count != 1 || strcmp(back.entries[0]->name, "top") != 0 ||
               back.entries[0]->nvalues != 1 || strcmp(back.entries[0]->values[0], "1") != 0 ||
               back.entries[0]->nsubtrees != 1 ||
               strcmp(back.entries[0]->subtrees[0]->name, "child") != 0 ||
               back.entries[0]->subtrees[0]->nvalues != 2 ||
               strcmp(back.entries[0]->subtrees[0]->values[1], "y") != 0) {
        result = 3;
    }
    ovAsnFreeObj(&back);
    if (back.count != 0 || back.entries != NULL) result = 4;
    ov_asn_buffer_free(&wire);
    if (wire.length != 0 || wire.data != NULL) result = 5;
    return result;
}

/* Returns 0 when every codec status has a text of its own and other values the generic one,
 * otherwise the first status that fails. */
unsigned long ov_asn_c_status_texts(void) {
    static const unsigned long statuses[] = {
        OV_ASN_OK,        OV_ASN_E_EMPTY, OV_ASN_E_TAG,   OV_ASN_E_LENGTH,
        OV_ASN_E_TRUNCATED, OV_ASN_E_TRAILING, OV_ASN_E_DEPTH, OV_ASN_E_NOMEM,
        OV_ASN_E_INVALID, OV_ASN_E_TOO_LARGE, OV_ASN_E_TEXT};
    const size_t count = sizeof statuses / sizeof statuses[0];
    const char* unknown = ov_asn_status_text(OV_ASN_E_TEXT + 1);
    size_t i, j;
    if (unknown == NULL || strcmp(unknown, "unknown codec status") != 0) return 1000;
    if (ov_asn_status_text((unsigned long)-1) != unknown) return 1001;
    for (i = 0; i < count; ++i) {
        const char* text = ov_asn_status_text(statuses[i]);
        if (text == NULL || text[0] == '\0' || strcmp(text, unknown) == 0) return statuses[i] + 1;
        for (j = 0; j < i; ++j)
            if (strcmp(text, ov_asn_status_text(statuses[j])) == 0) return statuses[i] + 1;
    }
    return 0;
}
