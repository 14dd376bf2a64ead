// Writes inputs that a hostile peer or file could hand the decoders, for timing the tool from
// outside (bench/hostile/time-hostile) and as large seeds of the fuzz targets:
//
//   hostile_inputs der-repeat N FILE            N records of one name, one value each
//   hostile_inputs der-values N PER FILE        N records of one name, PER values each
//   hostile_inputs der-names colliding|random N FILE
//                                               N records of distinct 16-byte names
//   hostile_inputs stanza colliding|random N FILE
//                                               one stanza "s" with N distinct 16-byte keys;
//                                               prints the last key
//   hostile_inputs seeds DIR                    the fuzz seeds: DIR/der and DIR/stanza
//
// "colliding" names all have one hash under the unkeyed word-at-a-time hashes that the
// object library's maps and the stanza document's index once used (their code is below): the
// state after the first 8-byte word decides which second word brings every name to the same
// state. Against a keyed hash they are as good as random names, which is what the timings
// show. The names are printable ASCII without blanks, '=', '#' or '['.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>

namespace {

constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15u;

// One step of the maps' former hash of a text's bytes: h = (h ^ w) * C; h ^= h >> 29,
// from h = kGolden ^ length.
std::uint64_t mapStep(std::uint64_t h, std::uint64_t w) {
    h = (h ^ w) * 0xFF51AFD7ED558CCDu;
    return h ^ (h >> 29);
}
// One step of the stanza index's former hash: h = (h ^ w) * kGolden; h ^= h >> 29, from
// h = length * kGolden.
std::uint64_t stanzaStep(std::uint64_t h, std::uint64_t w) {
    h = (h ^ w) * kGolden;
    return h ^ (h >> 29);
}

bool usable(unsigned char c) {
    return c > ' ' && c < 0x7F && c != '=' && c != '#' && c != '[' && c != ']';
}

// A fast generator of 64-bit numbers (splitmix64): the colliding names take some thousand
// candidates each.
struct Random {
    std::uint64_t state = 27;
    std::uint64_t operator()() {
        std::uint64_t z = (state += kGolden);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        return z ^ (z >> 31);
    }
};

// Eight letters, digits, '_' or '-' (6 bits of one random number each).
std::uint64_t randomWord(Random& rng) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-";
    std::uint64_t r = rng();
    std::uint64_t w = 0;
    for (int i = 0; i < 8; ++i, r >>= 6)
        w |= std::uint64_t{static_cast<unsigned char>(kAlphabet[r & 63])} << (8 * i);
    return w;
}

std::string wordsText(std::uint64_t a, std::uint64_t b) {
    std::string s(16, '\0');
    std::memcpy(&s[0], &a, 8);
    std::memcpy(&s[8], &b, 8);
    return s;
}

// `n` distinct 16-byte names: random ones, or ones that all reach one hash state under
// `step` from `start` (the first word random, the second solved from it).
std::vector<std::string> names(bool colliding, std::size_t n,
                               std::uint64_t (*step)(std::uint64_t, std::uint64_t),
                               std::uint64_t start) {
    Random rng;
    std::vector<std::string> out;
    std::set<std::string> seen;
    out.reserve(n);
    const std::uint64_t target = 0x5F5F5F5F5F5F5F5Fu;  // any state will do
    while (out.size() < n) {
        const std::uint64_t first = randomWord(rng);
        std::uint64_t second = colliding ? step(start, first) ^ target : randomWord(rng);
        bool ok = true;
        for (int i = 0; i < 8 && ok; ++i)
            ok = usable(static_cast<unsigned char>(second >> (8 * i)));
        if (!ok) continue;
        std::string name = wordsText(first, second);
        if (seen.insert(name).second) out.push_back(std::move(name));
    }
    return out;
}

// ---- DER ----------------------------------------------------------------------------------

void header(std::string& out, unsigned char tag, std::size_t length) {
    out += static_cast<char>(tag);
    if (length < 0x80) {
        out += static_cast<char>(length);
        return;
    }
    int bytes = 0;
    for (std::size_t l = length; l != 0; l >>= 8) ++bytes;
    out += static_cast<char>(0x80 | bytes);
    for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>(length >> (8 * i));
}

std::string element(unsigned char tag, const std::string& content) {
    std::string out;
    header(out, tag, content.size());
    return out + content;
}

// One record: name, its values, no subtree.
std::string record(const std::string& name, const std::vector<std::string>& values) {
    std::string list;
    for (const std::string& v : values) list += element(0x0C, v);
    return element(0x30, element(0x0C, name) + element(0x30, list) + element(0x30, ""));
}

std::string map(const std::string& records) { return element(0x30, records); }

std::string repeatedName(std::size_t n, std::size_t perRecord) {
    std::vector<std::string> values;
    for (std::size_t i = 0; i < perRecord; ++i) values.push_back(std::string(1, 'a' + i % 26));
    const std::string one = record("n", values);
    std::string records;
    records.reserve(one.size() * n);
    for (std::size_t i = 0; i < n; ++i) records += one;
    return map(records);
}

std::string distinctNames(bool colliding, std::size_t n) {
    std::string records;
    for (const std::string& name : names(colliding, n, mapStep, kGolden ^ 16))
        records += record(name, {"v"});
    return map(records);
}

std::string stanzaFile(bool colliding, std::size_t n, std::string& last) {
    std::string text = "[s]\n";
    for (const std::string& key : names(colliding, n, stanzaStep, 16 * kGolden)) {
        text += key + " = v\n";
        last = key;
    }
    return text;
}

// ---- output -------------------------------------------------------------------------------

bool write(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        std::perror(path.c_str());
        return false;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0 || !ok) {
        std::perror(path.c_str());
        return false;
    }
    return true;
}

bool makeDir(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST) return true;
    std::perror(path.c_str());
    return false;
}

// Seeds of a quarter MiB or less: under the sanitizers and the coverage of the fuzz targets
// the heaviest of them (which reads every value back several ways) takes some seconds on such
// an input, well within the time limit per input of the large runs, where a quadratic path
// takes far longer.
bool seeds(const std::string& dir) {
    std::string last;
    return makeDir(dir) && makeDir(dir + "/der") && makeDir(dir + "/stanza") &&
           write(dir + "/der/repeated_name", repeatedName(20000, 1)) &&
           write(dir + "/der/repeated_name_many_values", repeatedName(500, 100)) &&
           write(dir + "/der/colliding_names", distinctNames(true, 9500)) &&
           write(dir + "/stanza/colliding_keys", stanzaFile(true, 12000, last));
}

int usage() {
    std::fputs(
        "usage: hostile_inputs der-repeat N FILE | der-values N PER FILE |\n"
        "       der-names colliding|random N FILE | stanza colliding|random N FILE |\n"
        "       seeds DIR\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage();
    const std::string what = argv[1];
    if (what == "seeds" && argc == 3) return seeds(argv[2]) ? 0 : 1;
    if (what == "der-repeat" && argc == 4)
        return write(argv[3], repeatedName(std::strtoul(argv[2], nullptr, 10), 1)) ? 0 : 1;
    if (what == "der-values" && argc == 5)
        return write(argv[4], repeatedName(std::strtoul(argv[2], nullptr, 10),
                                           std::strtoul(argv[3], nullptr, 10)))
                   ? 0
                   : 1;
    if (argc != 5) return usage();
    const std::string kind = argv[2];
    if (kind != "colliding" && kind != "random") return usage();
    const bool colliding = kind == "colliding";
    const std::size_t n = std::strtoul(argv[3], nullptr, 10);
    if (what == "der-names") return write(argv[4], distinctNames(colliding, n)) ? 0 : 1;
    if (what == "stanza") {
        std::string last;
        if (!write(argv[4], stanzaFile(colliding, n, last))) return 1;
        std::printf("%s\n", last.c_str());
        return 0;
    }
    return usage();
}
