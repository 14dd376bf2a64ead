// NameValueMap's own DER reading and writing beside the codec, on arbitrary bytes.
//
// Reference: ovAsnDecodeObj, then addNameValue for each record (the map's conversion of the
// codec's tree); ovAsnEncodeObj of the tree that encodeMap builds for each name. The map's
// decode must give the codec's status for every input and, when it succeeds, the very map
// the reference builds: the same names in the same order, the same value bytes and classes,
// the same subtrees. Decoding twice into one map must append as the reference appends. The
// map's encode of the result must give the bytes the codec gives for its record tree, and
// those bytes must decode (both ways) to equal maps again.

#include <ovutil/NameValueMap.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <typeinfo>
#include <vector>

namespace {

// Same names in the same order, same value classes and bytes, same subtrees.
bool Same(const NameValueMap& a, const NameValueMap& b) {
    ZArrayList_6_0 na(10, 0), nb(10, 0);
    a.getNames(na);
    b.getNames(nb);
    if (na.size() != nb.size()) return false;
    for (unsigned long i = 0; i < na.size(); ++i) {
        const auto* ka = static_cast<const ZAbstractString_6_0*>(na.get(i));
        const auto* kb = static_cast<const ZAbstractString_6_0*>(nb.get(i));
        if (typeid(*ka) != typeid(*kb) || !ka->equals(*kb)) return false;
        const char* name = ka->c_str();
        const ZArrayList_6_0* va = a.getValues(name);
        const ZArrayList_6_0* vb = b.getValues(name);
        if (va == nullptr || vb == nullptr || va->size() != vb->size()) return false;
        for (unsigned long v = 0; v < va->size(); ++v) {
            const ZObject_6_0* x = va->get(v);
            const ZObject_6_0* y = vb->get(v);
            if (typeid(*x) != typeid(ZUTF8String_6_0) || typeid(*y) != typeid(ZUTF8String_6_0))
                return false;
            if (!x->equals(*y)) return false;
        }
        if (!Same(*a.getSubtree(name), *b.getSubtree(name))) return false;
    }
    return true;
}

// The reference decode: the codec's tree, added record by record.
unsigned long ReferenceDecode(const ov_asn_buffer_t& in, NameValueMap& map) {
    namevalueList_s_t list = {0, nullptr};
    unsigned long status = ovAsnDecodeObj(in, list);
    if (status != OV_ASN_OK) return status;
    for (unsigned int i = 0; i < list.count; ++i) map.addNameValue(*list.entries[i]);
    ovAsnFreeObj(list);
    return status;
}

// The reference encode: encodeMap for each name, then the codec.
unsigned long ReferenceEncode(const NameValueMap& map, ov_asn_buffer_t& out) {
    ZArrayList_6_0 names(10, 0);
    map.getNames(names);
    std::vector<namevalue_s_t> records(names.size());
    std::vector<namevalue_s_t*> entries(names.size());
    for (unsigned long i = 0; i < names.size(); ++i) {
        map.encodeMap(&records[i], static_cast<ZAbstractString_6_0*>(names.get(i))->getChars());
        entries[i] = &records[i];
    }
    namevalueList_s_t list = {static_cast<unsigned int>(names.size()),
                              entries.empty() ? nullptr : entries.data()};
    unsigned long status = ovAsnEncodeObj(out, list);
    for (auto& record : records) map.freeMap(&record);
    return status;
}

void Check(bool ok) {
    if (!ok) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0xFFFFFFFFu) return 0;
    ov_asn_buffer_t in = {static_cast<unsigned int>(size), const_cast<unsigned char*>(data)};

    NameValueMap direct;
    unsigned long status = 99;
    direct.decode(in, status);
    NameValueMap reference;
    const unsigned long expected = ReferenceDecode(in, reference);
    Check(status == expected);
    if (status != OV_ASN_OK) {
        ZArrayList_6_0 names(10, 0);
        direct.getNames(names);
        Check(names.size() == 0);  // a refused input adds nothing
        return 0;
    }
    Check(Same(direct, reference));

    // Decoding into a map that holds something appends, as the reference does.
    direct.decode(in, status);
    Check(status == OV_ASN_OK);
    Check(ReferenceDecode(in, reference) == OV_ASN_OK);
    Check(Same(direct, reference));

    // Encoding straight from the map gives the codec's bytes for the map's record tree.
    ov_asn_buffer_t mine = {0, nullptr};
    ov_asn_buffer_t theirs = {0, nullptr};
    direct.encode(mine, status);
    const unsigned long referenceStatus = ReferenceEncode(direct, theirs);
    Check(status == referenceStatus);
    if (status == OV_ASN_OK) {
        Check(mine.length == theirs.length &&
              std::memcmp(mine.data, theirs.data, mine.length) == 0);
        NameValueMap again, againReference;
        again.decode(mine, status);
        Check(status == OV_ASN_OK);
        Check(ReferenceDecode(mine, againReference) == OV_ASN_OK);
        Check(Same(again, againReference));
    }
    ov_asn_buffer_free(mine);
    ov_asn_buffer_free(theirs);
    return 0;
}
