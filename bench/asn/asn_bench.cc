// Encoding and decoding a typical request tree: the DER codec beside Protocol Buffers.
//
// The tree: the typical request of common/typical_request.h.

#include <ovasn/asn.h>

#include "common/typical_request.h"
#include "namevalue.pb.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

using ovbench::Node;
using ovbench::Records;

void fill(ovbench::NameValue* m, const Node& n) {
    m->set_name(n.name);
    for (const auto& v : n.values) m->add_values(v);
    for (const auto& s : n.subtrees) fill(m->add_subtrees(), s);
}

ovbench::NameValueList to_message(const std::vector<Node>& nodes) {
    ovbench::NameValueList list;
    for (const auto& n : nodes) fill(list.add_entries(), n);
    return list;
}

void BM_AsnEncode(benchmark::State& state) {
    const auto nodes = ovbench::typicalRequest();
    Records records(nodes);
    size_t bytes = 0;
    for (auto _ : state) {
        ov_asn_buffer_t out{0, nullptr};
        if (ovAsnEncodeObj(out, records.list) != OV_ASN_OK) state.SkipWithError("encode failed");
        bytes = out.length;
        benchmark::DoNotOptimize(out.data);
        ov_asn_buffer_free(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.counters["wire_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_AsnEncode);

void BM_ProtobufSerialize(benchmark::State& state) {
    const auto message = to_message(ovbench::typicalRequest());
    size_t bytes = 0;
    for (auto _ : state) {
        std::string out;
        message.SerializeToString(&out);
        bytes = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.counters["wire_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_ProtobufSerialize);

void BM_AsnDecode(benchmark::State& state) {
    const auto nodes = ovbench::typicalRequest();
    Records records(nodes);
    ov_asn_buffer_t wire{0, nullptr};
    ovAsnEncodeObj(wire, records.list);
    for (auto _ : state) {
        namevalueList_s_t list{0, nullptr};
        if (ovAsnDecodeObj(wire, list) != OV_ASN_OK) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(list.entries);
        ovAsnFreeObj(list);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * wire.length));
    ov_asn_buffer_free(wire);
}
BENCHMARK(BM_AsnDecode);

void BM_ProtobufParse(benchmark::State& state) {
    const std::string wire = to_message(ovbench::typicalRequest()).SerializeAsString();
    for (auto _ : state) {
        ovbench::NameValueList list;
        if (!list.ParseFromString(wire)) state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(list.entries_size());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * wire.size()));
}
BENCHMARK(BM_ProtobufParse);

}  // namespace

BENCHMARK_MAIN();
