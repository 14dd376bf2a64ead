// NameValueMap::encode and ::decode of a typical request, beside ovAsnEncodeObj and
// ovAsnDecodeObj (+ ovAsnFreeObj) of the same record tree and beside Protocol Buffers'
// serialisation and parse of the same tree, so that the cost of the map reads as a ratio.
// The request is the one of common/typical_request.h.
//
// Memory is counted by a counting allocator: this binary defines malloc and its relatives,
// which every library in the process then calls, and keeps the bytes in use (the usable size
// of each block). The object library's chunks of small objects come from malloc too, so the
// figures are the memory the process really holds for what was decoded. Each memory figure
// is taken in a fresh process (this binary, started again with --probe=...), since the
// object library keeps the blocks of freed objects for reuse: in the benchmark process the
// objects freed by earlier benchmarks would hide the cost.
//  - BM_HeapBytesPerValue: bytes held per stored value, for maps decoded from the request
//    and for the codec's decoded trees, measured over a batch decoded after a warm-up batch
//    (the figure is what a further map costs, without the half-filled chunks of the start).
//  - BM_HostileHeldPerInputByte: bytes held after decoding inputs made to amplify (many empty
//    values, many short names, many empty records) per input byte, for the map and for the
//    codec's tree; the second and third of three decodes held at once are measured.

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <ovutil/NameValueMap.h>

#include "common/typical_request.h"
#include "namevalue.pb.h"

// ---- Counting allocator -----------------------------------------------------------------

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);
}

namespace {

std::atomic<long long> heapInUse{0};

void* counted(void* p) {
    if (p != nullptr)
        heapInUse.fetch_add(static_cast<long long>(malloc_usable_size(p)),
                            std::memory_order_relaxed);
    return p;
}

void uncount(void* p) {
    if (p != nullptr)
        heapInUse.fetch_sub(static_cast<long long>(malloc_usable_size(p)),
                            std::memory_order_relaxed);
}

long long HeapInUse() { return heapInUse.load(std::memory_order_relaxed); }

}  // namespace

extern "C" {
void* malloc(size_t n) { return counted(__libc_malloc(n)); }
void* calloc(size_t n, size_t m) { return counted(__libc_calloc(n, m)); }
void free(void* p) {
    uncount(p);
    __libc_free(p);
}
void* realloc(void* p, size_t n) {
    long long before = p != nullptr ? static_cast<long long>(malloc_usable_size(p)) : 0;
    void* q = __libc_realloc(p, n);
    if (q != nullptr || n == 0) {
        heapInUse.fetch_sub(before, std::memory_order_relaxed);
        counted(q);
    }
    return q;
}
void* memalign(size_t alignment, size_t n) { return counted(__libc_memalign(alignment, n)); }
void* aligned_alloc(size_t alignment, size_t n) { return counted(__libc_memalign(alignment, n)); }
int posix_memalign(void** out, size_t alignment, size_t n) {
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
    void* p = counted(__libc_memalign(alignment, n));
    if (p == nullptr) return ENOMEM;
    *out = p;
    return 0;
}
}

namespace {

using ovbench::Node;

void Fill(NameValueMap& map, const std::vector<Node>& nodes) {
    for (const Node& node : nodes) {
        for (const auto& value : node.values) map.addString(node.name.c_str(), value.c_str());
        if (!node.subtrees.empty()) Fill(*map.addSubtree(node.name.c_str()), node.subtrees);
    }
}

void FillMessage(ovbench::NameValue* m, const Node& n) {
    m->set_name(n.name);
    for (const auto& v : n.values) m->add_values(v);
    for (const auto& s : n.subtrees) FillMessage(m->add_subtrees(), s);
}

struct Fixture {
    Fixture() : nodes(ovbench::typicalRequest()) {
        Fill(map, nodes);
        unsigned long status = 0;
        map.encode(wire, status);
        if (status != OV_ASN_OK) abort();
        for (const auto& n : nodes) FillMessage(message.add_entries(), n);
        protoWire = message.SerializeAsString();
    }
    ~Fixture() { ov_asn_buffer_free(wire); }
    std::vector<Node> nodes;
    NameValueMap map;
    ov_asn_buffer_t wire = {0, nullptr};
    ovbench::NameValueList message;
    std::string protoWire;
};

Fixture& Shared() {
    static Fixture fixture;
    return fixture;
}

// The equivalent record tree, built once; it borrows the texts of the shared nodes.
const namevalueList_s_t& SharedTree() {
    static ovbench::Records* records = new ovbench::Records(Shared().nodes);
    return records->list;
}

void BM_MapEncode(benchmark::State& state) {
    const NameValueMap& map = Shared().map;
    for (auto _ : state) {
        ov_asn_buffer_t out = {0, nullptr};
        unsigned long status = 0;
        map.encode(out, status);
        benchmark::DoNotOptimize(out.data);
        ov_asn_buffer_free(out);
    }
}

void BM_CodecEncode(benchmark::State& state) {
    const namevalueList_s_t& tree = SharedTree();
    for (auto _ : state) {
        ov_asn_buffer_t out = {0, nullptr};
        benchmark::DoNotOptimize(ovAsnEncodeObj(out, tree));
        ov_asn_buffer_free(out);
    }
}

void BM_ProtobufSerialize(benchmark::State& state) {
    const ovbench::NameValueList& message = Shared().message;
    for (auto _ : state) {
        std::string out;
        message.SerializeToString(&out);
        benchmark::DoNotOptimize(out.data());
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
    const ov_asn_buffer_t wire = Shared().wire;
    for (auto _ : state) {
        namevalueList_s_t list = {0, nullptr};
        benchmark::DoNotOptimize(ovAsnDecodeObj(wire, list));
        ovAsnFreeObj(list);
    }
}

void BM_ProtobufParse(benchmark::State& state) {
    const std::string& wire = Shared().protoWire;
    for (auto _ : state) {
        ovbench::NameValueList list;
        if (!list.ParseFromString(wire)) state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(list.entries_size());
    }
}

void BM_MapRoundTrip(benchmark::State& state) {
    const NameValueMap& source = Shared().map;
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
    const namevalueList_s_t& tree = SharedTree();
    for (auto _ : state) {
        ov_asn_buffer_t out = {0, nullptr};
        ovAsnEncodeObj(out, tree);
        namevalueList_s_t list = {0, nullptr};
        benchmark::DoNotOptimize(ovAsnDecodeObj(out, list));
        ovAsnFreeObj(list);
        ov_asn_buffer_free(out);
    }
}

// ---- Memory probes (run in a fresh process) ---------------------------------------------

// Bytes held per stored value, printed as "map=<bytes> tree=<bytes> values=<n>".
void ProbeHeapPerValue() {
    constexpr int kWarmUp = 200;
    constexpr int kCopies = 2000;
    const double perCopy = static_cast<double>(ovbench::countValues(Shared().nodes));
    ov_asn_buffer_t wire = Shared().wire;
    std::vector<NameValueMap*> maps;
    maps.reserve(kWarmUp + kCopies);
    std::vector<namevalueList_s_t> trees(kWarmUp + kCopies);
    unsigned long status = 0;
    for (int i = 0; i < kWarmUp; ++i) {
        maps.push_back(new NameValueMap);
        maps.back()->decode(wire, status);
    }
    long long before = HeapInUse();
    for (int i = 0; i < kCopies; ++i) {
        maps.push_back(new NameValueMap);  // the map object is part of what a map costs
        maps.back()->decode(wire, status);
    }
    long long afterMaps = HeapInUse();
    for (int i = 0; i < kWarmUp; ++i) ovAsnDecodeObj(wire, trees[i]);
    long long treesBefore = HeapInUse();
    for (int i = kWarmUp; i < kWarmUp + kCopies; ++i) ovAsnDecodeObj(wire, trees[i]);
    long long afterTrees = HeapInUse();
    std::printf("map=%f tree=%f values=%f\n",
                static_cast<double>(afterMaps - before) / (perCopy * kCopies),
                static_cast<double>(afterTrees - treesBefore) / (perCopy * kCopies), perCopy);
}

std::string Tlv(unsigned char tag, const std::string& content) {
    std::string out(1, static_cast<char>(tag));
    size_t n = content.size();
    if (n < 0x80) {
        out += static_cast<char>(n);
    } else {
        std::string len;
        for (; n != 0; n >>= 8) len.insert(len.begin(), static_cast<char>(n & 0xFF));
        out += static_cast<char>(0x80 | len.size());
        out += len;
    }
    return out + content;
}

std::string Record(const std::string& name, const std::string& values,
                   const std::string& children = "") {
    return Tlv(0x30, Tlv(0x0C, name) + Tlv(0x30, values) + Tlv(0x30, children));
}

// About 1 MB of DER of one of the shapes below.
std::string HostileInput(int shape) {
    constexpr size_t kTarget = 1 << 20;
    const std::string emptyValue("\x0C\x00", 2);
    std::string records;
    switch (shape) {
        case 0: {  // one name with empty values: 2 bytes a value
            std::string values;
            while (values.size() < kTarget) values += emptyValue;
            records = Record("n", values);
            break;
        }
        case 1: {  // distinct short names with one empty value each
            for (unsigned i = 0; records.size() < kTarget; ++i) {
                std::string name;
                for (unsigned v = i; v != 0 || name.empty(); v /= 94)
                    name += static_cast<char>(33 + v % 94);
                records += Record(name, emptyValue);
            }
            break;
        }
        case 2: {  // records that hold nothing
            while (records.size() < kTarget) records += Record("", "");
            break;
        }
        default: {  // empty values under 26 names of a subtree, one per record
            std::string children;
            for (unsigned i = 0; children.size() < kTarget; ++i) {
                children += Record(std::string(1, static_cast<char>('a' + i % 26)), emptyValue);
            }
            records = Record("s", "", children);
            break;
        }
    }
    return Tlv(0x30, records);
}

// Bytes held per input byte after decoding a hostile input, printed as
// "map=<ratio> tree=<ratio> input=<bytes>".
void ProbeHostile(int shape) {
    const std::string input = HostileInput(shape);
    ov_asn_buffer_t wire = {static_cast<unsigned int>(input.size()),
                            reinterpret_cast<unsigned char*>(const_cast<char*>(input.data()))};
    NameValueMap maps[3];
    unsigned long status = 0;
    maps[0].decode(wire, status);
    if (status != OV_ASN_OK) std::exit(1);
    long long before = HeapInUse();
    maps[1].decode(wire, status);
    maps[2].decode(wire, status);
    const double mapRatio =
        static_cast<double>(HeapInUse() - before) / (2.0 * static_cast<double>(input.size()));
    namevalueList_s_t trees[3] = {};
    ovAsnDecodeObj(wire, trees[0]);
    before = HeapInUse();
    ovAsnDecodeObj(wire, trees[1]);
    ovAsnDecodeObj(wire, trees[2]);
    const double treeRatio =
        static_cast<double>(HeapInUse() - before) / (2.0 * static_cast<double>(input.size()));
    for (auto& tree : trees) ovAsnFreeObj(tree);
    std::printf("map=%f tree=%f input=%f\n", mapRatio, treeRatio,
                static_cast<double>(input.size()));
}

// Runs this binary again with `probe` and reads back the key=value pairs it prints.
std::map<std::string, double> RunProbe(const std::string& probe) {
    std::map<std::string, double> out;
    int fds[2];
    if (pipe(fds) != 0) return out;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::string arg = "--probe=" + probe;
    char self[] = "/proc/self/exe";
    char* argv[] = {self, arg.data(), nullptr};
    pid_t pid;
    int rc = posix_spawn(&pid, self, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    int wstatus = 0;
    if (rc != 0 || waitpid(pid, &wstatus, 0) != pid || !WIFEXITED(wstatus) ||
        WEXITSTATUS(wstatus) != 0) {
        return {};
    }
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find_first_of(" \n", at);
        if (end == std::string::npos) end = text.size();
        std::string pair = text.substr(at, end - at);
        size_t eq = pair.find('=');
        if (eq != std::string::npos)
            out[pair.substr(0, eq)] = std::strtod(pair.c_str() + eq + 1, nullptr);
        at = end + 1;
    }
    return out;
}

// Not a timing: heap bytes held per stored value.
void BM_HeapBytesPerValue(benchmark::State& state) {
    std::map<std::string, double> figures;
    for (auto _ : state) figures = RunProbe("heap");
    if (figures.empty()) state.SkipWithError("probe failed");
    state.counters["values_per_request"] = figures["values"];
    state.counters["map_bytes_per_value"] = figures["map"];
    state.counters["codec_tree_bytes_per_value"] = figures["tree"];
}

// Not a timing: heap bytes held per input byte of a hostile input.
void BM_HostileHeldPerInputByte(benchmark::State& state) {
    std::map<std::string, double> figures;
    for (auto _ : state) figures = RunProbe("hostile" + std::to_string(state.range(0)));
    if (figures.empty()) state.SkipWithError("probe failed");
    state.counters["input_bytes"] = figures["input"];
    state.counters["map_held_per_input_byte"] = figures["map"];
    state.counters["codec_tree_held_per_input_byte"] = figures["tree"];
}

BENCHMARK(BM_MapEncode);
BENCHMARK(BM_CodecEncode);
BENCHMARK(BM_ProtobufSerialize);
BENCHMARK(BM_MapDecode);
BENCHMARK(BM_CodecDecode);
BENCHMARK(BM_ProtobufParse);
BENCHMARK(BM_MapRoundTrip);
BENCHMARK(BM_CodecRoundTrip);
BENCHMARK(BM_HeapBytesPerValue)->Iterations(1);
// 0: empty values under one name, 1: distinct names, 2: empty records, 3: names in a subtree.
BENCHMARK(BM_HostileHeldPerInputByte)->DenseRange(0, 3)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strncmp(argv[1], "--probe=", 8) == 0) {
        std::string probe = argv[1] + 8;
        if (probe == "heap") {
            ProbeHeapPerValue();
        } else if (probe.rfind("hostile", 0) == 0) {
            ProbeHostile(std::atoi(probe.c_str() + 7));
        } else {
            return 2;
        }
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
