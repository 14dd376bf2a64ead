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
