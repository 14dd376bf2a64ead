// Encoding and decoding a typical request tree: the DER codec beside Protocol Buffers.
//
// The tree: 20 top-level names of 8-16 characters, each with 1-3 values of 10-60 characters;
// 3 of them hold a subtree of 5 names with 2 values each (about 3.4 KB of DER).

#include <ovasn/asn.h>

#include "namevalue.pb.h"

#include <benchmark/benchmark.h>

#include <deque>
#include <random>
#include <string>
#include <vector>

namespace {

struct Node {
    std::string name;
    std::vector<std::string> values;
    std::vector<Node> subtrees;
};

std::string random_text(std::mt19937& rng, size_t min, size_t max) {
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_.-";
    std::string s(min + rng() % (max - min + 1), ' ');
    for (auto& c : s) c = kChars[rng() % (sizeof kChars - 1)];
    return s;
}

std::vector<Node> typical_request() {
    std::mt19937 rng(2024);
    std::vector<Node> nodes;
    for (int i = 0; i < 20; ++i) {
        Node n{random_text(rng, 8, 16), {}, {}};
        for (int v = 1 + rng() % 3; v > 0; --v) n.values.push_back(random_text(rng, 10, 60));
        if (i % 7 == 3) {
            for (int s = 0; s < 5; ++s)
                n.subtrees.push_back(Node{random_text(rng, 8, 16),
                                          {random_text(rng, 10, 60), random_text(rng, 10, 60)}, {}});
        }
        nodes.push_back(std::move(n));
    }
    return nodes;
}

// The C records of the tree, borrowing its texts.
struct Records {
    explicit Records(const std::vector<Node>& nodes) {
        list.count = static_cast<unsigned int>(nodes.size());
        list.entries = array(nodes);
    }
    namevalue_s_t** array(const std::vector<Node>& nodes) {
        auto& a = pointers.emplace_back();
        for (const auto& n : nodes) {
            namevalue_s_t& r = records.emplace_back();
            r.name = const_cast<char*>(n.name.c_str());
            auto& v = texts.emplace_back();
            for (const auto& s : n.values) v.push_back(const_cast<char*>(s.c_str()));
            r.nvalues = static_cast<unsigned int>(v.size());
            r.values = v.empty() ? nullptr : v.data();
            r.nsubtrees = static_cast<unsigned int>(n.subtrees.size());
            r.subtrees = n.subtrees.empty() ? nullptr : array(n.subtrees);
            a.push_back(&r);
        }
        return a.empty() ? nullptr : a.data();
    }
    namevalueList_s_t list{};
    std::deque<namevalue_s_t> records;
    std::deque<std::vector<namevalue_s_t*>> pointers;
    std::deque<std::vector<char*>> texts;
};

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
    const auto nodes = typical_request();
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
    const auto message = to_message(typical_request());
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
    const auto nodes = typical_request();
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
    const std::string wire = to_message(typical_request()).SerializeAsString();
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
