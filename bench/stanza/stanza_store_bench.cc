// Storing a stanza file, at 800 and 6,400 stanzas of 52 lines (41.6k and 332.8k lines, 1 MB
// and 8.2 MB). Each benchmark reports items_per_second with one item per line of the file.
//
//   FreshProcess/<stanzas>/<n>  store number n of a fresh process: each iteration runs
//                               stanza_store_probe, which loads the file and stores it n times
//                               in place, and takes the CPU time of its n-th store (manual
//                               time: run with --benchmark_repetitions for medians). n = 1 is
//                               what every run of the tool pays; n = 3 a store of a process
//                               whose heap is already warm.
//   InProcess/<stanzas>         ZStanzaFileProperties_6_0::store of a loaded file, repeated
//   GKeyFileSave/<stanzas>      the same text in GLib's key file, saved to a file by
//                               g_key_file_save_to_file (a temporary file, fsync, rename)
//
// The stores sync the file: CPU time leaves out the wait for the disk, not the work of
// handing the pages to it.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <glib.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <ovz/properties.h>

extern char** environ;

namespace {

// A directory of the benchmark's own, removed at exit.
const std::string& workDir() {
    static const std::string dir = [] {
        std::string tmpl = std::filesystem::temp_directory_path() / "ovz-store-bench-XXXXXX";
        if (!mkdtemp(tmpl.data())) std::abort();
        std::atexit([] { std::filesystem::remove_all(workDir()); });
        return tmpl;
    }();
    return dir;
}

// Runs the probe with `args`; its standard output, or "" when it failed.
std::string runProbe(const std::vector<std::string>& args) {
    std::vector<char*> argv{const_cast<char*>(OV_STORE_PROBE)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return "";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    pid_t pid;
    const int spawned = posix_spawn(&pid, OV_STORE_PROBE, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    std::string out;
    char chunk[4096];
    for (ssize_t n; spawned == 0 && (n = read(pipeFds[0], chunk, sizeof chunk)) > 0;)
        out.append(chunk, static_cast<size_t>(n));
    close(pipeFds[0]);
    if (spawned != 0) return "";
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? out : "";
}

// The file of `stanzas` stanzas, made by the probe once.
const std::string& sampleFile(int stanzas) {
    static std::map<int, std::string> made;  // benchmarks run one at a time
    auto found = made.find(stanzas);
    if (found != made.end()) return found->second;
    const std::string file = workDir() + "/s" + std::to_string(stanzas) + ".conf";
    if (runProbe({"make", file, std::to_string(stanzas)}).empty() && !std::filesystem::exists(file))
        std::abort();
    return made[stanzas] = file;
}

size_t lineCount(const std::string& file) {
    std::FILE* in = std::fopen(file.c_str(), "r");
    size_t lines = 0;
    for (int c; in && (c = std::getc(in)) != EOF;) lines += c == '\n';
    if (in) std::fclose(in);
    return lines;
}

void setLines(benchmark::State& state, size_t lines) {
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * lines));
    state.counters["lines"] = static_cast<double>(lines);
}

void FreshProcess(benchmark::State& state) {
    const std::string& file = sampleFile(static_cast<int>(state.range(0)));
    const long nth = static_cast<long>(state.range(1));
    size_t lines = 0;
    for (auto _ : state) {
        std::istringstream out(runProbe({"store", file, std::to_string(nth)}));
        long long ns = 0;
        for (long i = 0; i < nth; ++i) out >> ns;
        if (!(out >> lines) || ns <= 0) {
            state.SkipWithError("the probe failed");
            return;
        }
        state.SetIterationTime(static_cast<double>(ns) * 1e-9);
    }
    setLines(state, lines);
}
BENCHMARK(FreshProcess)
    ->ArgsProduct({{800, 6400}, {1, 3}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void InProcess(benchmark::State& state) {
    const std::string& file = sampleFile(static_cast<int>(state.range(0)));
    ZStanzaFileProperties_6_0 props;
    props.load(file.c_str());
    for (auto _ : state) props.store();
    setLines(state, lineCount(file));
}
BENCHMARK(InProcess)->Arg(800)->Arg(6400)->Unit(benchmark::kMillisecond);

void GKeyFileSave(benchmark::State& state) {
    const std::string& file = sampleFile(static_cast<int>(state.range(0)));
    GKeyFile* kf = g_key_file_new();
    GError* error = nullptr;
    if (!g_key_file_load_from_file(kf, file.c_str(), G_KEY_FILE_KEEP_COMMENTS, &error)) {
        state.SkipWithError(error ? error->message : "load failed");
    } else {
        const std::string copy = file + ".glib";
        for (auto _ : state) {
            if (!g_key_file_save_to_file(kf, copy.c_str(), &error)) {
                state.SkipWithError(error ? error->message : "save failed");
                break;
            }
        }
    }
    g_clear_error(&error);
    g_key_file_free(kf);
    setLines(state, lineCount(file));
}
BENCHMARK(GKeyFileSave)->Arg(800)->Arg(6400)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
