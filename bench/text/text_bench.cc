// Text utilities beside their peers, in one binary so that the ratios hold on a busy machine:
//  - validation (wv_mbs_validpchars) and quoting (wv_mbs_nopatquote) of 1 KiB of ASCII text and
//    of mixed UTF-8 text (Latin, Cyrillic, CJK, emoji), beside the usual loop that classifies
//    each character with glibc's mbrtowc and does the same work, and beside strlen and memchr
//    over the same bytes as a floor;
//  - wv_mbs_sprintf of a typical filter beside snprintf of the same format with "%s" and no
//    quoting (into a stack buffer, and into a malloc'd one as wv_mbs_sprintf returns);
//  - util_encode + util_decode of 16 and 256 bytes;
//  - utf8_validchars and wv_mbs_checkchars2 with lists as long as their texts, 1k to 100k.
// Argument 0 is the ASCII text, 1 the mixed text.

#include <ovutil/encode.h>
#include <ovutil/wvwchar.h>

#include <benchmark/benchmark.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <string>

namespace {

constexpr std::size_t kTextSize = 1024;

// 1 KiB of text made of `words`, each followed by a blank, cut at a character boundary.
std::string textOf(const char* const* words, std::size_t count) {
    std::string s;
    for (std::size_t i = 0; s.size() < kTextSize; i = (i + 1) % count) {
        const std::string w = std::string(words[i]) + " ";
        if (s.size() + w.size() > kTextSize) break;
        s += w;
    }
    while (s.size() < kTextSize) s += 'x';
    return s;
}

// A name a validation accepts: no reject character, no control byte.
const std::string& sample(bool mixed) {
    static const char* const ascii[] = {"cn=Alice Smith", "ou=Engineering", "o=Example Corp",
                                        "mail=alice.smith@example.com", "uid=asmith42"};
    static const char* const utf8[] = {
        "Ren\xC3\xA9"
        "e",
        "M\xC3\xBCller",                                     // Latin
        "\xD0\x90\xD0\xBB\xD0\xB8\xD1\x81\xD0\xB0",          // Cyrillic
        "\xE5\xB1\xB1\xE7\x94\xB0\xE5\xA4\xAA\xE9\x83\x8E",  // CJK
        "team\xF0\x9F\x9A\x80",
        "ou=Vertrieb"};
    static const std::string a = textOf(ascii, std::size(ascii));
    static const std::string m = textOf(utf8, std::size(utf8));
    return mixed ? m : a;
}

// The same with a character to quote every 32 bytes or so.
const std::string& quotable(bool mixed) {
    static const auto withSpecials = [](std::string s) {
        const char specials[] = "*()\\";
        for (std::size_t i = 16, k = 0; i < s.size(); i += 32)
            while (i < s.size()) {
                if (static_cast<unsigned char>(s[i]) < 0x80) {
                    s[i] = specials[k++ % 4];
                    break;
                }
                ++i;
            }
        return s;
    };
    static const std::string a = withSpecials(sample(false));
    static const std::string m = withSpecials(sample(true));
    return mixed ? m : a;
}

void label(benchmark::State& state, const std::string& text) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.SetLabel(state.range(0) ? "mixed UTF-8" : "ASCII");
}

void texts(benchmark::internal::Benchmark* b) { b->Arg(0)->Arg(1); }

// ---- Validation --------------------------------------------------------------------------

void BM_ValidPchars(benchmark::State& state) {
    const std::string& text = sample(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(wv_mbs_validpchars(text.c_str()));
    if (!wv_mbs_validpchars(text.c_str())) state.SkipWithError("sample refused");
    label(state, text);
}
BENCHMARK(BM_ValidPchars)->Apply(texts);

// The usual way: mbrtowc per character, then the one-byte checks.
int mbrtowcValid(const char* text, const char* reject) {
    std::mbstate_t st{};
    std::size_t remaining = std::strlen(text);
    const char* p = text;
    while (remaining > 0) {
        wchar_t wc;
        const std::size_t n = std::mbrtowc(&wc, p, remaining, &st);
        if (n == static_cast<std::size_t>(-2)) return 0;
        if (n == static_cast<std::size_t>(-1)) {
            st = std::mbstate_t{};
            ++p;
            --remaining;
            continue;
        }
        if (n == 1 && (wc <= 0x1F || std::strchr(reject, static_cast<int>(wc)))) return 0;
        p += n;
        remaining -= n;
    }
    return 1;
}

void BM_MbrtowcValidate(benchmark::State& state) {
    const std::string& text = sample(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(mbrtowcValid(text.c_str(), "*?():\\"));
    if (!mbrtowcValid(text.c_str(), "*?():\\")) state.SkipWithError("sample refused");
    label(state, text);
}
BENCHMARK(BM_MbrtowcValidate)->Apply(texts);

void BM_Strlen(benchmark::State& state) {
    const std::string& text = sample(state.range(0));
    for (auto _ : state) {
        const char* p = text.c_str();
        benchmark::DoNotOptimize(p);
        benchmark::DoNotOptimize(std::strlen(p));
    }
    label(state, text);
}
BENCHMARK(BM_Strlen)->Apply(texts);

void BM_Memchr(benchmark::State& state) {
    const std::string& text = sample(state.range(0));
    for (auto _ : state) {
        const char* p = text.c_str();
        benchmark::DoNotOptimize(p);
        benchmark::DoNotOptimize(std::memchr(p, '\\', text.size()));
    }
    label(state, text);
}
BENCHMARK(BM_Memchr)->Apply(texts);

// ---- Long lists ---------------------------------------------------------------------------
//
// utf8_validchars with a reject list as long as its text, and wv_mbs_checkchars2 with an
// allowed list as long as its text, that list naming the text's bytes only at its end; at
// sizes from 1k to 100k bytes each, per byte of text and list, beside strlen over the same
// bytes. Each byte of either should cost the same at every size.

std::string cycleOf(const std::string& alphabet, std::size_t n) {
    std::string s;
    s.reserve(n);
    while (s.size() < n) s += alphabet[s.size() % alphabet.size()];
    return s;
}

struct LongLists {
    explicit LongLists(std::size_t n)
        : text(cycleOf("abcdefghijklmnopqrstuvwxyz", n)),
          others(cycleOf("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789!$%&+,-./;<=>@[]^_{|}~", n)),
          allowed(others.substr(0, n - 26) + "abcdefghijklmnopqrstuvwxyz") {}
    std::string text;
    std::string others;   // no byte of the text
    std::string allowed;  // every byte of the text, at its end
};

const LongLists& longLists(const benchmark::State& state) {
    static std::map<int64_t, LongLists*> made;
    LongLists*& lists = made[state.range(0)];
    if (lists == nullptr) lists = new LongLists(static_cast<std::size_t>(state.range(0)));
    return *lists;
}

void longSizes(benchmark::internal::Benchmark* b) {
    for (int n : {1000, 10000, 100000}) b->Arg(n);
}

void BM_Utf8ValidcharsLongReject(benchmark::State& state) {
    const LongLists& lists = longLists(state);
    for (auto _ : state)
        benchmark::DoNotOptimize(utf8_validchars(lists.text.c_str(), lists.others.c_str()));
    if (utf8_validchars(lists.text.c_str(), lists.others.c_str()) != 1)
        state.SkipWithError("text refused");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2 * state.range(0));
}
BENCHMARK(BM_Utf8ValidcharsLongReject)->Apply(longSizes);

void BM_CheckChars2LongAllowed(benchmark::State& state) {
    const LongLists& lists = longLists(state);
    for (auto _ : state)
        benchmark::DoNotOptimize(wv_mbs_checkchars2(lists.text.c_str(), lists.allowed.c_str()));
    if (wv_mbs_checkchars2(lists.text.c_str(), lists.allowed.c_str()) != 1)
        state.SkipWithError("text refused");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2 * state.range(0));
}
BENCHMARK(BM_CheckChars2LongAllowed)->Apply(longSizes);

void BM_StrlenLongFloor(benchmark::State& state) {
    const LongLists& lists = longLists(state);
    for (auto _ : state) {
        const char* t = lists.text.c_str();
        const char* o = lists.others.c_str();
        benchmark::DoNotOptimize(t);
        benchmark::DoNotOptimize(o);
        benchmark::DoNotOptimize(std::strlen(t) + std::strlen(o));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2 * state.range(0));
}
BENCHMARK(BM_StrlenLongFloor)->Apply(longSizes);

// ---- Quoting -----------------------------------------------------------------------------

void BM_NoPatQuote(benchmark::State& state) {
    const std::string& text = quotable(state.range(0));
    for (auto _ : state) {
        char* quoted = wv_mbs_nopatquote(text.c_str());
        benchmark::DoNotOptimize(quoted);
        std::free(quoted);
    }
    label(state, text);
}
BENCHMARK(BM_NoPatQuote)->Apply(texts);

// The usual way: mbrtowc per character, quoting the listed one-byte characters.
char* mbrtowcQuote(const char* text, const char* quote) {
    static const char hex[] = "0123456789abcdef";
    const std::size_t length = std::strlen(text);
    char* out = static_cast<char*>(std::malloc(3 * length + 1));
    if (!out) return nullptr;
    char* o = out;
    std::mbstate_t st{};
    std::size_t remaining = length;
    const char* p = text;
    while (remaining > 0) {
        wchar_t wc;
        const std::size_t n = std::mbrtowc(&wc, p, remaining, &st);
        if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2)) {
            std::free(out);
            return nullptr;
        }
        if (n == 1 && std::strchr(quote, static_cast<int>(wc))) {
            *o++ = '\\';
            *o++ = hex[(*p >> 4) & 15];
            *o++ = hex[*p & 15];
        } else {
            std::memcpy(o, p, n);
            o += n;
        }
        p += n;
        remaining -= n;
    }
    *o = '\0';
    return out;
}

void BM_MbrtowcQuote(benchmark::State& state) {
    const std::string& text = quotable(state.range(0));
    for (auto _ : state) {
        char* quoted = mbrtowcQuote(text.c_str(), "*()\\");
        benchmark::DoNotOptimize(quoted);
        std::free(quoted);
    }
    char* ours = wv_mbs_nopatquote(text.c_str());
    char* theirs = mbrtowcQuote(text.c_str(), "*()\\");
    if (!ours || !theirs || std::strcmp(ours, theirs) != 0) state.SkipWithError("results differ");
    std::free(ours);
    std::free(theirs);
    label(state, text);
}
BENCHMARK(BM_MbrtowcQuote)->Apply(texts);

// ---- A search filter ---------------------------------------------------------------------

const char kClass[] = "person";
const char kName[] = "Alice Smith";

void BM_SprintfFilter(benchmark::State& state) {
    for (auto _ : state) {
        char* filter = wv_mbs_sprintf("(&(objectclass=%s)(cn=%Q))", kClass, kName);
        benchmark::DoNotOptimize(filter);
        std::free(filter);
    }
}
BENCHMARK(BM_SprintfFilter);

void BM_SnprintfFilter(benchmark::State& state) {
    char buffer[128];
    for (auto _ : state) {
        std::snprintf(buffer, sizeof buffer, "(&(objectclass=%s)(cn=%s))", kClass, kName);
        benchmark::DoNotOptimize(buffer);
    }
}
BENCHMARK(BM_SnprintfFilter);

void BM_SnprintfFilterMalloc(benchmark::State& state) {
    for (auto _ : state) {
        char* filter = static_cast<char*>(std::malloc(128));
        std::snprintf(filter, 128, "(&(objectclass=%s)(cn=%s))", kClass, kName);
        benchmark::DoNotOptimize(filter);
        std::free(filter);
    }
}
BENCHMARK(BM_SnprintfFilterMalloc);

// ---- Value encoder -----------------------------------------------------------------------

void BM_EncodeDecode(benchmark::State& state) {
    std::string value;
    for (int64_t i = 0; i < state.range(0); ++i) value += static_cast<char>(' ' + (i * 37) % 95);
    for (auto _ : state) {
        char* encoded = util_encode(value.c_str());
        char* decoded = util_decode(encoded);
        benchmark::DoNotOptimize(decoded);
        std::free(encoded);
        std::free(decoded);
    }
    char* encoded = util_encode(value.c_str());
    char* decoded = util_decode(encoded);
    if (value != decoded) state.SkipWithError("round trip failed");
    std::free(encoded);
    std::free(decoded);
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_EncodeDecode)->Arg(16)->Arg(256);

}  // namespace

int main(int argc, char** argv) {
    // mbrtowc classifies in the code set of the locale.
    if (!std::setlocale(LC_CTYPE, "C.UTF-8")) {
        std::fprintf(stderr, "text_bench: the C.UTF-8 locale is missing\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
