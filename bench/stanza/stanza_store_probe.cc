// Stores a stanza file the way a run of the tool does, from a fresh process.
//
//   stanza_store_probe make FILE STANZAS   writes FILE: STANZAS stanzas of 52 lines each (the
//                                          header, 50 keys, a blank line)
//   stanza_store_probe store FILE STORES   loads FILE, then stores it in place STORES times and
//                                          prints the CPU time of each store in nanoseconds,
//                                          one line per store, and last the file's line count
//
// stanza_store_bench runs it once per iteration, so that every first store is the first of
// its process.
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <ovz/exceptions.h>
#include <ovz/properties.h>

namespace {

long long cpuNanoseconds() {
    struct timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<long long>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

int make(const char* file, long stanzas) {
    std::FILE* out = std::fopen(file, "w");
    if (!out) {
        std::perror(file);
        return 1;
    }
    for (long st = 0; st < stanzas; ++st) {
        std::fprintf(out, "[component-%ld]\n", st);
        for (int k = 0; k < 50; ++k)
            std::fprintf(out, "option-%d = value %ld%s\n", k, st * 50 + k,
                         k % 7 == 0 ? " with a=sign" : "");
        std::fputs("\n", out);
    }
    return std::fclose(out) == 0 ? 0 : 1;
}

int store(const char* file, long stores) {
    try {
        ZStanzaFileProperties_6_0 props;
        props.load(file);
        for (long i = 0; i < stores; ++i) {
            const long long before = cpuNanoseconds();
            props.store();
            std::printf("%lld\n", cpuNanoseconds() - before);
        }
    } catch (ZException_6_0& e) {
        std::fprintf(stderr, "store failed: %s\n", e.text());
        return 1;
    }
    long lines = 0;
    if (std::FILE* in = std::fopen(file, "r")) {
        for (int c; (c = std::getc(in)) != EOF;) lines += c == '\n';
        std::fclose(in);
    }
    std::printf("%ld\n", lines);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "make") == 0)
        return make(argv[2], std::strtol(argv[3], nullptr, 10));
    if (argc == 4 && std::strcmp(argv[1], "store") == 0)
        return store(argv[2], std::strtol(argv[3], nullptr, 10));
    std::fputs("usage: stanza_store_probe make FILE STANZAS | store FILE STORES\n", stderr);
    return 2;
}
