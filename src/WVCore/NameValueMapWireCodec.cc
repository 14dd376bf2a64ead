// NameValueMap on the wire through the codec: encode builds the record tree of encodeMap and
// hands it to ovAsnEncodeObj; decode adds the records of ovAsnDecodeObj's tree as
// addNameValue adds them, then releases the tree with ovAsnFreeObj.
//
// The build compiles this file instead of NameValueMapWire.cc when OV_WIRE_VIA_CODEC is on.
// The map then needs nothing of the codec but ovAsnEncodeObj, ovAsnDecodeObj, ovAsnFreeObj
// and ov_asn_buffer_free, so any codec that keeps their contract can take the stand-in's
// place. Both roads give the same bytes, statuses and maps for every input.

#include <ovutil/NameValueMap.h>

#include <climits>
#include <cstdlib>

#include "internal/NameValueMapText.h"

namespace {

// The top-level records of one encode, released whatever happens.
class RecordList {
public:
    RecordList() = default;
    RecordList(const RecordList&) = delete;
    RecordList& operator=(const RecordList&) = delete;
    ~RecordList() {
        for (unsigned int i = 0; i < list.count; ++i) {
            if (list.entries[i] == nullptr) continue;
            owner->freeMap(list.entries[i]);
            free(list.entries[i]);
        }
        free(list.entries);
    }

    const NameValueMap* owner = nullptr;
    namevalueList_s_t list = {0, nullptr};
};

// A tree filled by ovAsnDecodeObj, released whatever happens.
struct DecodedTree {
    DecodedTree() = default;
    DecodedTree(const DecodedTree&) = delete;
    DecodedTree& operator=(const DecodedTree&) = delete;
    ~DecodedTree() { ovAsnFreeObj(list); }
    namevalueList_s_t list = {0, nullptr};
};

}  // namespace

void NameValueMap::encode(ov_asn_buffer_t& out, unsigned long& status) const {
    try {
        ZArrayList_6_0 names(10, 0);
        ZArrayList_6_0 entries(10, 0);
        map_.listKeys(names);
        map_.listObjects(entries);
        const unsigned long count = names.size();
        if (count > UINT_MAX) {
            status = OV_ASN_E_TOO_LARGE;
            return;
        }
        RecordList records;
        records.owner = this;
        if (count != 0) {
            records.list.entries =
                static_cast<namevalue_s_t**>(calloc(count, sizeof(namevalue_s_t*)));
            if (records.list.entries == nullptr) {
                status = OV_ASN_E_NOMEM;
                return;
            }
            records.list.count = static_cast<unsigned int>(count);
        }
        for (unsigned long i = 0; i < count; ++i) {
            auto* record = static_cast<namevalue_s_t*>(malloc(sizeof(namevalue_s_t)));
            if (record == nullptr) {
                status = OV_ASN_E_NOMEM;
                return;
            }
            records.list.entries[i] = record;
            const auto* name = static_cast<const ZAbstractString_6_0*>(names.get(i));
            // A tree cut short by exhausted memory would encode as a smaller map: refused.
            if (!buildRecord(record, name->c_str(),
                             static_cast<const NameValueEntry*>(entries.get(i)))) {
                status = OV_ASN_E_NOMEM;
                return;
            }
        }
        status = ovAsnEncodeObj(out, records.list);
    } catch (...) {
        status = OV_ASN_E_NOMEM;  // listing the names ran out of memory; nothing was made
    }
}

ZUTF8String_6_0* NameValueMap::newEncodingText(const NameValueMap& value, unsigned long& status) {
    ov_asn_buffer_t bytes = {0, nullptr};
    value.encode(bytes, status);
    if (status != OV_ASN_OK) return nullptr;
    struct Release {
        ov_asn_buffer_t& buffer;
        ~Release() { ov_asn_buffer_free(buffer); }
    } release{bytes};
    return ovutil_internal::newBase64String(bytes.data, bytes.length);
}

void NameValueMap::decode(ov_asn_buffer_t& in, unsigned long& status) {
    DecodedTree tree;
    status = ovAsnDecodeObj(in, tree.list);
    if (status != OV_ASN_OK) return;
    // Object-library exceptions pass through; what was added before stays in the map.
    for (unsigned int i = 0; i < tree.list.count; ++i) addNameValue(*tree.list.entries[i]);
}
