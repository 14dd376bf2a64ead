// OVObject beside its peers, each pair in this binary so that the ratio is what counts:
//  - whole-object encode + decode into an empty object, beside NameValueMap encode + decode
//    of the same map (goal: the object adds at most 10%);
//  - nested-object write + read of an object holding the typical request, beside the floor
//    of the same work done with the codec and base64 alone: codec encode, base64 encode,
//    base64 decode, codec decode of the same tree (goal: at most 1.5x the floor);
//  - attribute-list flatten + rebuild of 10 attributes with 3 values each, beside
//    attrlist_dup of the same list (reported as a ratio).
//
// The object: the typical request (common/typical_request.h) as string values, its subtrees
// as scopes, plus an integer, a boolean, a 1 KiB buffer, a nested object of 10 names and
// the attribute list above as a nested attribute-list value.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <ovutil/OVObject.h>
#include <ovutil/mime64.h>

#include "common/typical_request.h"

namespace {

using ovbench::Node;

void FillRequest(OVObject& object, std::vector<Node> const& nodes) {
    for (Node const& node : nodes) {
        for (auto const& value : node.values)
            object.addStringValue(node.name.c_str(), value.c_str(), nullptr);
        for (Node const& sub : node.subtrees) {
            for (auto const& value : sub.values) {
                object.addStringValue(sub.name.c_str(), value.c_str(), node.name.c_str());
            }
        }
    }
}

// 10 attributes, 3 values each: a text, a number and a 16-byte buffer.
struct AttrList {
    AttrList() {
        std::string const bytes(16, '\x5a');
        for (unsigned int i = 0; i < 10; ++i) {
            std::string name = std::string("attribute").append(std::to_string(i));
            std::string text = std::string("value of attribute ").append(std::to_string(i));
            value_s_t textValue = {ATTR_VALUE_STRING, text.data(), 0, nullptr};
            unsigned int number = 1000 + i;
            value_s_t numberValue = {ATTR_VALUE_UINT, nullptr, sizeof number, &number};
            value_s_t bufferValue = {ATTR_VALUE_BUFFER, nullptr, 16,
                                     const_cast<char*>(bytes.data())};
            attrlist_add_entry(&list, name.data(), &textValue);
            attrlist_add_entry(&list, name.data(), &numberValue);
            attrlist_add_entry(&list, name.data(), &bufferValue);
        }
    }
    attrlist_s_t list = {0, nullptr};
};

struct Fixture {
    Fixture() : nodes(ovbench::typicalRequest()) {
        FillRequest(request, nodes);
        object = request;
        object.addIntegerValue("count", 4294967295u, nullptr);
        object.addBooleanValue("enabled", 1, nullptr);
        std::string const kib(1024, '\xa5');
        object.addBufferValue("blob", kib.data(), static_cast<unsigned int>(kib.size()), nullptr);
        OVObject nested("nested");
        char name[] = "n0";
        for (char digit = '1'; digit <= '9'; ++digit) {
            name[1] = digit;
            nested.addStringValue(name, "nested value text", nullptr);
        }
        object.addObjectValue("nested", nested, nullptr);
        object.addAttrListValue("attrs", attrs.list, nullptr);
        map = object.map;
    }
    std::vector<Node> nodes;
    OVObject request;  // the typical request alone
    OVObject object;   // the whole benchmark object
    NameValueMap map;  // the object's map, for the map's own round trip
    AttrList attrs;
};

Fixture& Shared() {
    static Fixture* fixture = new Fixture;
    return *fixture;
}

// ---- Whole object on the wire ----

void BM_ObjectRoundTrip(benchmark::State& state) {
    OVObject const& source = Shared().object;
    for (auto _ : state) {
        ov_asn_buffer_t wire = {0, nullptr};
        unsigned long status = 0;
        source.encode(wire, status);
        OVObject back;
        back.decode(wire, status);
        benchmark::DoNotOptimize(status);
        ov_asn_buffer_free(wire);
    }
}

void BM_MapRoundTrip(benchmark::State& state) {
    NameValueMap const& source = Shared().map;
    for (auto _ : state) {
        ov_asn_buffer_t wire = {0, nullptr};
        unsigned long status = 0;
        source.encode(wire, status);
        NameValueMap back;
        back.decode(wire, status);
        benchmark::DoNotOptimize(status);
        ov_asn_buffer_free(wire);
    }
}

// ---- Nested object ----

void BM_NestedObjectWriteRead(benchmark::State& state) {
    OVObject const& nested = Shared().request;
    OVObject holder("holder");
    for (auto _ : state) {
        holder.setObjectValue("nested", nested, 0, nullptr);
        OVObject back;
        holder.objectValue("nested", back, 0, nullptr);
        benchmark::DoNotOptimize(back.length());
    }
}

void BM_NestedFloorCodecAndBase64(benchmark::State& state) {
    static ovbench::Records* records = new ovbench::Records(Shared().nodes);
    for (auto _ : state) {
        ov_asn_buffer_t wire = {0, nullptr};
        ovAsnEncodeObj(wire, records->list);
        char* text = mime64_new_encode(wire.data, wire.length);
        ov_asn_buffer_free(wire);
        char* bytes = nullptr;
        unsigned int length = 0;
        mime64_new_decode(text, static_cast<int>(strlen(text)), &bytes, &length);
        free(text);
        ov_asn_buffer_t in = {length, reinterpret_cast<unsigned char*>(bytes)};
        namevalueList_s_t tree = {0, nullptr};
        benchmark::DoNotOptimize(ovAsnDecodeObj(in, tree));
        ovAsnFreeObj(tree);
        free(bytes);
    }
}

// Not a goal, a diagnosis: the same steps with the name/value map in place of the codec's
// tree (map encode, base64 encode, base64 decode, map decode into an empty map), so that
// what the object adds over its map reads apart from what the map adds over the codec.
void BM_NestedMapCodecAndBase64(benchmark::State& state) {
    NameValueMap const& source = Shared().request.map;
    for (auto _ : state) {
        ov_asn_buffer_t wire = {0, nullptr};
        unsigned long status = 0;
        source.encode(wire, status);
        char* text = mime64_new_encode(wire.data, wire.length);
        ov_asn_buffer_free(wire);
        char* bytes = nullptr;
        unsigned int length = 0;
        mime64_new_decode(text, static_cast<int>(strlen(text)), &bytes, &length);
        free(text);
        ov_asn_buffer_t in = {length, reinterpret_cast<unsigned char*>(bytes)};
        NameValueMap back;
        back.decode(in, status);
        benchmark::DoNotOptimize(status);
        free(bytes);
    }
}

// ---- Attribute list ----

void BM_AttrListFlattenRebuild(benchmark::State& state) {
    attrlist_s_t& list = Shared().attrs.list;
    for (auto _ : state) {
        OVObject flat;
        flat.addAttrListValue_internal("", list, nullptr);
        attrlist_s_t* back = static_cast<attrlist_s_t*>(calloc(1, sizeof(attrlist_s_t)));
        flat.attrListValue_internal("", *back, nullptr);
        benchmark::DoNotOptimize(back->count);
        attrlist_delete(&back);
    }
}

void BM_AttrListDup(benchmark::State& state) {
    attrlist_s_t const& list = Shared().attrs.list;
    for (auto _ : state) {
        attrlist_s_t* copy = attrlist_dup(&list);
        benchmark::DoNotOptimize(copy);
        attrlist_delete(&copy);
    }
}

// Sanity check of the pairs before timing: the same work is compared.
void BM_Check(benchmark::State& state) {
    Fixture& f = Shared();
    ov_asn_buffer_t a = {0, nullptr}, b = {0, nullptr};
    unsigned long sa = 1, sb = 1;
    f.object.encode(a, sa);
    f.map.encode(b, sb);
    bool same = sa == 0 && sb == 0 && a.length == b.length && memcmp(a.data, b.data, a.length) == 0;
    ov_asn_buffer_t tree = {0, nullptr};
    ovbench::Records records(f.nodes);
    ovAsnEncodeObj(tree, records.list);
    ov_asn_buffer_t request = {0, nullptr};
    f.request.encode(request, sa);
    bool sameTree =
        tree.length == request.length && memcmp(tree.data, request.data, tree.length) == 0;
    for (auto _ : state) benchmark::DoNotOptimize(same);
    state.counters["object_bytes"] = a.length;
    state.counters["nested_request_bytes"] = request.length;
    if (!same) state.SkipWithError("object and map encodings differ");
    if (!sameTree) state.SkipWithError("the nested request is not the floor's tree");
    ov_asn_buffer_free(a);
    ov_asn_buffer_free(b);
    ov_asn_buffer_free(tree);
    ov_asn_buffer_free(request);
}

BENCHMARK(BM_Check)->Iterations(1);
BENCHMARK(BM_ObjectRoundTrip);
BENCHMARK(BM_MapRoundTrip);
BENCHMARK(BM_NestedObjectWriteRead);
BENCHMARK(BM_NestedFloorCodecAndBase64);
BENCHMARK(BM_NestedMapCodecAndBase64);
BENCHMARK(BM_AttrListFlattenRebuild);
BENCHMARK(BM_AttrListDup);

}  // namespace

BENCHMARK_MAIN();
