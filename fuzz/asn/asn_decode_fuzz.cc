// Arbitrary bytes into the decoder. Whatever it accepts must encode back to the very same
// bytes, since DER has exactly one encoding per tree; whatever it refuses must leave the list
// empty.

#include <ovasn/asn.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) return 0;
    const ov_asn_buffer_t in{static_cast<unsigned int>(size), const_cast<uint8_t*>(data)};
    namevalueList_s_t list{0, nullptr};
    if (ovAsnDecodeObj(in, list) != OV_ASN_OK) {
        if (list.count != 0 || list.entries != nullptr) std::abort();
        return 0;
    }
    ov_asn_buffer_t out{0, nullptr};
    if (ovAsnEncodeObj(out, list) != OV_ASN_OK) std::abort();
    if (out.length != size || std::memcmp(out.data, data, size) != 0) std::abort();
    ov_asn_buffer_free(out);
    ovAsnFreeObj(list);
    return 0;
}
