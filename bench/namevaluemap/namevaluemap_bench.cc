// NameValueMap::encode and ::decode of a typical request, beside ovAsnEncodeObj and
// ovAsnDecodeObj (+ ovAsnFreeObj) of the same record tree, so that the cost the map adds
// over the codec reads as a ratio. The request is the one of common/typical_request.h.
//
// Heap per value: glibc's mallinfo2().uordblks (bytes in use, chunk overhead included) before
// and after building maps by decoding, divided by the values they hold. Every allocation of
// the map, its keys, lists and strings goes through malloc (the object library's operator
// new is malloc based), so this catches them all without replacing the allocator.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <ovutil/NameValueMap.h>

#include "common/typical_request.h"

namespace {

using ovbench::Node;

void Fill(NameValueMap& map, std::vector<Node> const& nodes) {
    for (Node const& node : nodes) {
        for (auto const& value : node.values) map.addString(node.name.c_str(), value.c_str());
        if (!node.subtrees.empty()) Fill(*map.addSubtree(node.name.c_str()), node.subtrees);
    }
}

struct Fixture {
    Fixture() : nodes(ovbench::typicalRequest()) {
        Fill(map, nodes);
        unsigned long status = 0;
        map.encode(wire, status);
        if (status != OV_ASN_OK) abort();
    }
    ~Fixture() { ov_asn_buffer_free(wire); }
    std::vector<Node> nodes;
    NameValueMap map;
    ov_asn_buffer_t wire = {0, nullptr};
};

Fixture& Shared() {
    static Fixture fixture;
    return fixture;
}

// The equivalent record tree, built once; it borrows the texts of the shared nodes.
namevalueList_s_t const& SharedTree() {
    static ovbench::Records* records = new ovbench::Records(Shared().nodes);
    return records->list;
}

void BM_MapEncode(benchmark::State& state) {
    NameValueMap const& map = Shared().map;
    for (auto _ : state) {
        ov_asn_buffer_t out = {0, nullptr};
        unsigned long status = 0;
        map.encode(out, status);
        benchmark::DoNotOptimize(out.data);
        ov_asn_buffer_free(out);
    }
}

void BM_CodecEncode(benchmark::State& state) {
    namevalueList_s_t const& tree = SharedTree();
    for (auto _ : state) {
        ov_asn_buffer_t out = {0, nullptr};
        benchmark::DoNotOptimize(ovAsnEncodeObj(out, tree));
        ov_asn_buffer_free(out);
    }
}

void BM_MapDecode(benchmark::State& state) {
    ov_asn_buffer_t wire = Shared().wire;
    for (auto _ : state) {
        NameValueMap map;
        unsigned long status = 0;
        map.decode(wire, status);
        benchmark::DoNotOptimize(status);
    }
}

void BM_CodecDecode(benchmark::State& state) {
    ov_asn_buffer_t const wire = Shared().wire;
    for (auto _ : state) {
        namevalueList_s_t list = {0, nullptr};
        benchmark::DoNotOptimize(ovAsnDecodeObj(wire, list));
        ovAsnFreeObj(list);
    }
}

void BM_MapRoundTrip(benchmark::State& state) {
    NameValueMap const& source = Shared().map;
    for (auto _ : state) {
        ov_asn_buffer_t out = {0, nullptr};
        unsigned long status = 0;
        source.encode(out, status);
        NameValueMap map;
        map.decode(out, status);
        benchmark::DoNotOptimize(status);
        ov_asn_buffer_free(out);
    }
}

void BM_CodecRoundTrip(benchmark::State& state) {
    namevalueList_s_t const& tree = SharedTree();
    for (auto _ : state) {
        ov_asn_buffer_t out = {0, nullptr};
        ovAsnEncodeObj(out, tree);
        namevalueList_s_t list = {0, nullptr};
        benchmark::DoNotOptimize(ovAsnDecodeObj(out, list));
        ovAsnFreeObj(list);
        ov_asn_buffer_free(out);
    }
}

// Not a timing: heap bytes in use per stored value, for a map decoded from the request and
// for the codec's decoded tree of the same request.
void BM_HeapBytesPerValue(benchmark::State& state) {
    constexpr int kCopies = 200;
    double values = static_cast<double>(ovbench::countValues(Shared().nodes)) * kCopies;
    ov_asn_buffer_t wire = Shared().wire;
    double mapBytes = 0, treeBytes = 0;
    for (auto _ : state) {
        std::vector<NameValueMap*> maps;
        maps.reserve(kCopies);
        std::vector<namevalueList_s_t> trees(kCopies);
        size_t before = mallinfo2().uordblks;
        for (int i = 0; i < kCopies; ++i) {
            auto* map = new NameValueMap;
            unsigned long status = 0;
            map->decode(wire, status);
            maps.push_back(map);
        }
        size_t afterMaps = mallinfo2().uordblks;
        for (auto& tree : trees) ovAsnDecodeObj(wire, tree);
        size_t afterTrees = mallinfo2().uordblks;
        mapBytes = static_cast<double>(afterMaps - before) / values;
        treeBytes = static_cast<double>(afterTrees - afterMaps) / values;
        for (auto* map : maps) delete map;
        for (auto& tree : trees) ovAsnFreeObj(tree);
    }
    state.counters["values_per_request"] = static_cast<double>(ovbench::countValues(Shared().nodes));
    state.counters["map_bytes_per_value"] = mapBytes;
    state.counters["codec_tree_bytes_per_value"] = treeBytes;
}

BENCHMARK(BM_MapEncode);
BENCHMARK(BM_CodecEncode);
BENCHMARK(BM_MapDecode);
BENCHMARK(BM_CodecDecode);
BENCHMARK(BM_MapRoundTrip);
BENCHMARK(BM_CodecRoundTrip);
BENCHMARK(BM_HeapBytesPerValue)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
