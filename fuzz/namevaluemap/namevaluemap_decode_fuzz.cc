// NameValueMap::decode of arbitrary bytes. What decodes must encode again, and the second
// encoding must decode into a map with as many values at every level as the first.

#include <ovutil/NameValueMap.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// Values of the map and of all its subtrees.
unsigned long TotalValues(NameValueMap const& map) {
    ZArrayList_6_0 names(10, 0);
    map.getNames(names);
    unsigned long total = map.getValueCount();
    for (unsigned long i = 0; i < names.size(); ++i) {
        total += TotalValues(*map.getSubtree(static_cast<ZAbstractString_6_0*>(names.get(i))->c_str()));
    }
    return total;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0xFFFFFFFFu) return 0;
    ov_asn_buffer_t in = {static_cast<unsigned int>(size), const_cast<unsigned char*>(data)};
    NameValueMap first;
    unsigned long status = 0;
    first.decode(in, status);
    if (status != OV_ASN_OK) {
        if (first.getValueCount() != 0) abort();  // a refused input must add nothing
        return 0;
    }

    ov_asn_buffer_t again = {0, nullptr};
    first.encode(again, status);
    if (status != OV_ASN_OK) abort();
    NameValueMap second;
    second.decode(again, status);
    if (status != OV_ASN_OK) abort();
    if (TotalValues(first) != TotalValues(second) || first.getValueCount() != second.getValueCount()) {
        abort();
    }
    ov_asn_buffer_free(again);
    return 0;
}
