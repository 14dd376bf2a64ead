// Loading a stanza file from memory, at sizes from 1k to 400k lines: the argument is the
// number of stanzas, each of 58 lines (a comment, the header, 50 keys under 5 group comments,
// a blank line), so 200 stanzas are 11.6k lines and 6897 are 400k. Each benchmark reports
// items_per_second with one item per line of the file, so ns/line = 1e9 / items_per_second.
//
//   Floor               copy the bytes and find every line end (the least any loader does)
//   StanzaDocument      our parser: the whole document kept for a byte-exact store
//   StanzaDocumentStore parse, then serialise the unchanged document
//   StanzaDocumentSerialize  serialise a document parsed once, beside Floor
//   StanzaDocumentSerializeChunks  the same in 64 KiB pieces, as a store writes it
//
// The store figures count the minor page faults per iteration. Each iteration frees its
// copy of the text and the serialised text; at 400k lines these are 12 MB each, and glibc
// then gives the top of its heap back to the system, so the next iteration faults the whole
// result in again (about 3,000 faults per 12 MB, a few microseconds each on a virtual
// machine). At 100k lines the heap keeps the memory and the faults disappear: that, not the
// serialiser, is the jump in per-line cost between the two sizes. StanzaDocumentSerialize
// shows the serialiser alone.
//   GKeyFile/*          g_key_file_load_from_data, with and without keeping comments
//   Inih                ini_parse_string with a handler that only counts
#include <benchmark/benchmark.h>
#include <glib.h>
#include <ini.h>
#include <sys/resource.h>

#include <cstring>
#include <map>
#include <string>

#include "stanza_document.h"

namespace {

struct Sample {
    std::string text;
    size_t lines = 0;
};

const Sample& sample(int stanzas) {
    static std::map<int, Sample> made;  // benchmarks run one at a time
    auto found = made.find(stanzas);
    if (found != made.end()) return found->second;
    Sample& out = made[stanzas];
    {
        for (int st = 0; st < stanzas; ++st) {
            out.text += "# settings of component " + std::to_string(st) + "\n";
            out.text += "[component-" + std::to_string(st) + "]\n";
            out.lines += 2;
            for (int k = 0; k < 50; ++k) {
                if (k % 10 == 0) {
                    out.text += "# option group " + std::to_string(k / 10) + "\n";
                    ++out.lines;
                }
                out.text += "option-" + std::to_string(k) + " = value " +
                            std::to_string(st * 50 + k) + (k % 7 == 0 ? " with a=sign" : "") + "\n";
                ++out.lines;
            }
            out.text += "\n";
            ++out.lines;
        }
    }
    return out;
}

const Sample& sample(const benchmark::State& state) {
    return sample(static_cast<int>(state.range(0)));
}

void setCounters(benchmark::State& state) {
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * sample(state).lines));
    state.counters["lines"] = static_cast<double>(sample(state).lines);
}

// 1k, 11.6k, 40k, 100k and 400k lines.
void Sizes(benchmark::internal::Benchmark* b) {
    for (int stanzas : {18, 200, 700, 1724, 6897}) b->Arg(stanzas);
}

void Floor(benchmark::State& state) {
    const std::string& text = sample(state).text;
    for (auto _ : state) {
        std::string copy(text);
        size_t lines = 0;
        const char* p = copy.data();
        const char* end = p + copy.size();
        while (const char* nl =
                   static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)))) {
            ++lines;
            p = nl + 1;
        }
        benchmark::DoNotOptimize(lines);
        benchmark::DoNotOptimize(copy.data());
    }
    setCounters(state);
}
BENCHMARK(Floor)->Apply(Sizes);

void StanzaDocument(benchmark::State& state) {
    const std::string& text = sample(state).text;
    for (auto _ : state) {
        ovz_stanza::Document doc;
        ovz_stanza::Document::ParseError error;
        if (!doc.parse(text, &error)) state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(doc.stanzaCount());
    }
    setCounters(state);
}
BENCHMARK(StanzaDocument)->Apply(Sizes);

long minorFaults() {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

void setFaultCounter(benchmark::State& state, long faults) {
    state.counters["faults"] =
        benchmark::Counter(static_cast<double>(faults), benchmark::Counter::kAvgIterations);
}

void StanzaDocumentStore(benchmark::State& state) {
    const std::string& text = sample(state).text;
    const long faultsBefore = minorFaults();
    for (auto _ : state) {
        ovz_stanza::Document doc;
        ovz_stanza::Document::ParseError error;
        if (!doc.parse(text, &error)) state.SkipWithError("parse failed");
        std::string out = doc.serialize();
        if (out.size() != text.size()) state.SkipWithError("round trip changed the size");
        benchmark::DoNotOptimize(out.data());
    }
    setFaultCounter(state, minorFaults() - faultsBefore);
    setCounters(state);
}
BENCHMARK(StanzaDocumentStore)->Apply(Sizes);

void StanzaDocumentSerialize(benchmark::State& state) {
    const std::string& text = sample(state).text;
    ovz_stanza::Document doc;
    ovz_stanza::Document::ParseError error;
    if (!doc.parse(text, &error)) state.SkipWithError("parse failed");
    if (doc.serialize() != text) state.SkipWithError("round trip changed the text");
    const long faultsBefore = minorFaults();
    for (auto _ : state) {
        std::string out = doc.serialize();
        if (out.size() != text.size()) state.SkipWithError("round trip changed the size");
        benchmark::DoNotOptimize(out.data());
    }
    setFaultCounter(state, minorFaults() - faultsBefore);
    setCounters(state);
}
BENCHMARK(StanzaDocumentSerialize)->Apply(Sizes);

// The store's serialisation: in pieces through a 64 KiB buffer, each piece handed to a sink
// (here one that only looks at it), so the cost per line stays that of a buffer in cache.
void StanzaDocumentSerializeChunks(benchmark::State& state) {
    const std::string& text = sample(state).text;
    ovz_stanza::Document doc;
    ovz_stanza::Document::ParseError error;
    if (!doc.parse(text, &error)) state.SkipWithError("parse failed");
    static char buffer[size_t{64} << 10];
    ovz_stanza::Document::Sink sink = [](void* total, const char* data, size_t size) {
        benchmark::DoNotOptimize(data);
        *static_cast<size_t*>(total) += size;
        return 0;
    };
    const long faultsBefore = minorFaults();
    for (auto _ : state) {
        size_t total = 0;
        doc.serialize(buffer, sizeof buffer, sink, &total);
        if (total != text.size()) state.SkipWithError("round trip changed the size");
    }
    setFaultCounter(state, minorFaults() - faultsBefore);
    setCounters(state);
}
BENCHMARK(StanzaDocumentSerializeChunks)->Apply(Sizes);

void GKeyFile(benchmark::State& state, GKeyFileFlags flags) {
    const std::string& text = sample(state).text;
    for (auto _ : state) {
        ::GKeyFile* kf = g_key_file_new();
        GError* error = nullptr;
        if (!g_key_file_load_from_data(kf, text.data(), text.size(), flags, &error)) {
            state.SkipWithError(error ? error->message : "load failed");
            g_clear_error(&error);
        }
        g_key_file_free(kf);
    }
    setCounters(state);
}
BENCHMARK_CAPTURE(GKeyFile, KeepComments, G_KEY_FILE_KEEP_COMMENTS)->Apply(Sizes);
BENCHMARK_CAPTURE(GKeyFile, None, G_KEY_FILE_NONE)->Apply(Sizes);

int countEntry(void* user, const char*, const char*, const char*) {
    ++*static_cast<size_t*>(user);
    return 1;
}

void Inih(benchmark::State& state) {
    const std::string& text = sample(state).text;
    for (auto _ : state) {
        size_t entries = 0;
        if (ini_parse_string(text.c_str(), countEntry, &entries) != 0)
            state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(entries);
    }
    setCounters(state);
}
BENCHMARK(Inih)->Apply(Sizes);

}  // namespace

BENCHMARK_MAIN();
