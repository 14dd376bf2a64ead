// Message look-up: catalogs through catopen/catgets, compiled-in defaults, and the
// process-wide cache that keeps every returned text alive.
#include "ovmsg/msg.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <nl_types.h>
#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <tuple>

#include "defaults.h"

using ovmsg_internal::kCatalogCount;
using ovmsg_internal::kCatalogs;
using ovmsg_internal::kDefaultCount;
using ovmsg_internal::kDefaults;

namespace {

enum class Source { Catalog, Default };

struct Found {
    const char* text = nullptr;  // UTF-8
    Source source = Source::Catalog;
};

// Everything below is guarded by lock(). A look-up is short (a map search, at most one
// catopen/catgets and one iconv), and a process asks for few distinct numbers.
//
// The lock and the tables are made on first use and never destroyed: look-ups may run at
// exit. A function-local static rather than pthread_once: when the first use runs out of
// memory, std::bad_alloc must not unwind through the C library's pthread_once (unwinding C
// frames needs the C library to load the unwinder, which needs memory; it aborts the process
// when that fails), and the next use tries again.
using LocalKey = std::tuple<std::string, unsigned, int>;
struct Tables {
    std::mutex lock;
    // Catalog handles by prefix, opened once and never closed.
    std::map<unsigned, nl_catd> handles;
    // UTF-8 texts taken from the catalogs, by number. Node-based, so the strings never move.
    std::map<unsigned, std::string> utf8Texts;
    // Copies of default texts handed out as UTF-8, by number.
    std::map<unsigned, std::string> utf8DefaultCopies;
    // Texts in a local code set, by (code set, number, source).
    std::map<LocalKey, std::string> localTexts;
};
Tables& theTables() {
    static Tables* const tables = new Tables;
    return *tables;
}

std::mutex& lock() { return theTables().lock; }
std::map<unsigned, nl_catd>& catalogHandles() { return theTables().handles; }
std::map<unsigned, std::string>& utf8Texts() { return theTables().utf8Texts; }
std::map<unsigned, std::string>& utf8DefaultCopies() { return theTables().utf8DefaultCopies; }
std::map<LocalKey, std::string>& localTexts() { return theTables().localTexts; }

const ov_msg_entry_t* findDefault(unsigned number) {
    const ov_msg_entry_t* end = kDefaults + kDefaultCount;
    const ov_msg_entry_t* it = std::lower_bound(
        kDefaults, end, number, [](const ov_msg_entry_t& e, unsigned n) { return e.number < n; });
    return it != end && it->number == number ? it : nullptr;
}

void setStatus(unsigned* status, unsigned value) {
    if (status) *status = value;
}

// What catopen searched with: NLSPATH and the LC_MESSAGES locale name (its %L). A catalog
// that could not be opened is not looked for again while both stay the same.
struct SearchState {
    bool hasNlspath = false;
    std::string nlspath;
    std::string locale;

    static SearchState now() {
        SearchState s;
        if (const char* path = std::getenv("NLSPATH")) {
            s.hasNlspath = true;
            s.nlspath = path;
        }
        if (const char* name = setlocale(LC_MESSAGES, nullptr)) s.locale = name;
        return s;
    }
    bool operator==(const SearchState& o) const {
        return hasNlspath == o.hasNlspath && nlspath == o.nlspath && locale == o.locale;
    }
};

// Catalogs that could not be opened, by prefix, with the search that failed.
std::map<unsigned, SearchState>& failedOpens() {
    static auto* f = new std::map<unsigned, SearchState>;
    return *f;
}

// REQUIRES: lock() held.
nl_catd catalogFor(unsigned number) {
    const unsigned prefix = number >> 12;
    auto& handles = catalogHandles();
    auto it = handles.find(prefix);
    if (it != handles.end()) return it->second;
    const nl_catd none = reinterpret_cast<nl_catd>(-1);
    SearchState now = SearchState::now();
    auto& failed = failedOpens();
    auto f = failed.find(prefix);
    if (f != failed.end() && f->second == now) return none;
    char name[32];
    ov_msg_catalog_name(number, name, sizeof name);
    nl_catd catd = catopen(name, NL_CAT_LOCALE);
    if (catd == none) {
        // Remembered until the program changes NLSPATH or its locale.
        failed[prefix] = std::move(now);
        return none;
    }
    if (f != failed.end()) failed.erase(f);
    try {
        handles.emplace(prefix, catd);
    } catch (const std::bad_alloc&) {
        // Not kept, so not left open either.
        catclose(catd);
        throw;
    }
    return catd;
}

// REQUIRES: lock() held.
Found lookupUtf8(unsigned number) {
    auto& texts = utf8Texts();
    if (auto it = texts.find(number); it != texts.end())
        return {it->second.c_str(), Source::Catalog};
    nl_catd catd = catalogFor(number);
    if (catd != reinterpret_cast<nl_catd>(-1)) {
        // catgets hands back the default argument (null here) when the message is absent.
        const char* text = catgets(catd, 1, static_cast<int>(number & 0xFFF), nullptr);
        if (text) {
            auto [it, inserted] = texts.emplace(number, text);
            (void)inserted;
            return {it->second.c_str(), Source::Catalog};
        }
    }
    if (const ov_msg_entry_t* d = findDefault(number)) return {d->text, Source::Default};
    return {};
}

bool isUtf8Codeset(const char* codeset) {
    return strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "UTF8") == 0;
}

// Converts UTF-8 text to `codeset`. Characters the code set cannot hold are transliterated
// where iconv knows how, else written as '?', so a message is never lost to one character.
bool convertFromUtf8(const char* text, const char* codeset, std::string& out) {
    std::string target = std::string(codeset) + "//TRANSLIT";
    iconv_t cd = iconv_open(target.c_str(), "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) cd = iconv_open(codeset, "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    out.clear();
    char* in = const_cast<char*>(text);
    size_t in_left = std::strlen(text);
    char buf[512];
    bool ok = true;
    while (ok && in_left > 0) {
        char* o = buf;
        size_t o_left = sizeof buf;
        size_t r = iconv(cd, &in, &in_left, &o, &o_left);
        out.append(buf, o - buf);
        if (r != static_cast<size_t>(-1) || errno == E2BIG) continue;
        if (errno != EILSEQ && errno != EINVAL) {
            ok = false;
            break;
        }
        // Skip one UTF-8 character: its lead byte and its continuation bytes.
        out += '?';
        ++in;
        --in_left;
        while (in_left > 0 && (static_cast<unsigned char>(*in) & 0xC0) == 0x80) {
            ++in;
            --in_left;
        }
    }
    if (ok) {
        char* o = buf;
        size_t o_left = sizeof buf;
        if (iconv(cd, nullptr, nullptr, &o, &o_left) == static_cast<size_t>(-1)) ok = false;
        out.append(buf, o - buf);
    }
    iconv_close(cd);
    return ok;
}

const char* getMsgUtf8(unsigned int number, unsigned int* status) {
    std::lock_guard<std::mutex> guard(lock());
    Found found = lookupUtf8(number);
    if (!found.text) {
        setStatus(status, OV_MSG_S_NOT_FOUND);
        return nullptr;
    }
    setStatus(status, found.source == Source::Catalog ? OV_MSG_S_OK : OV_MSG_S_DEFAULT);
    if (found.source == Source::Catalog) return found.text;
    // A default text has its own copy here, so that the UTF-8 and local pointers of one
    // number always differ, whatever the source.
    return utf8DefaultCopies().try_emplace(number, found.text).first->second.c_str();
}

const char* getMsg(unsigned int number, unsigned int* status) {
    std::lock_guard<std::mutex> guard(lock());
    Found found = lookupUtf8(number);
    if (!found.text) {
        setStatus(status, OV_MSG_S_NOT_FOUND);
        return nullptr;
    }
    unsigned result = found.source == Source::Catalog ? OV_MSG_S_OK : OV_MSG_S_DEFAULT;
    const char* codeset = nl_langinfo(CODESET);
    if (!codeset || !*codeset) codeset = "ANSI_X3.4-1968";
    LocalKey key{codeset, number, static_cast<int>(found.source)};
    auto& local = localTexts();
    if (auto it = local.find(key); it != local.end()) {
        setStatus(status, result);
        return it->second.c_str();
    }
    std::string converted;
    if (isUtf8Codeset(codeset)) {
        converted = found.text;
    } else if (!convertFromUtf8(found.text, codeset, converted)) {
        converted = found.text;
        result = OV_MSG_S_CONVERSION;
    }
    auto it = local.emplace(std::move(key), std::move(converted)).first;
    setStatus(status, result);
    return it->second.c_str();
}

// A look-up that runs out of memory keeps no part of what it was building and answers null.
const char* answer(const char* (*lookup)(unsigned int, unsigned int*), unsigned int number,
                   unsigned int* status) {
    try {
        return lookup(number, status);
    } catch (const std::bad_alloc&) {
        setStatus(status, OV_MSG_S_NO_MEMORY);
        return nullptr;
    }
}

}  // namespace

extern "C" {

const char* ov_msg_get_msg_utf8(unsigned int number, unsigned int* status) {
    return answer(getMsgUtf8, number, status);
}

const char* ov_msg_get_msg(unsigned int number, unsigned int* status) {
    return answer(getMsg, number, status);
}

const char* ov_msg_get_default_msg(unsigned int number, unsigned int* status) {
    const ov_msg_entry_t* d = findDefault(number);
    setStatus(status, d ? OV_MSG_S_OK : OV_MSG_S_NOT_FOUND);
    return d ? d->text : nullptr;
}

void ov_msg_load_defaults(unsigned int* status) {
    bool ordered = kDefaultCount > 0;
    for (unsigned i = 1; ordered && i < kDefaultCount; ++i)
        ordered = kDefaults[i - 1].number < kDefaults[i].number;
    setStatus(status, ordered ? OV_MSG_S_OK : OV_MSG_S_BAD_TABLE);
}

const ov_msg_entry_t* ov_msg_default_table(size_t* count) {
    if (count) *count = kDefaultCount;
    return kDefaults;
}

size_t ov_msg_catalog_name(unsigned int number, char* name, size_t size) {
    const unsigned prefix = number >> 12;
    const char* known = nullptr;
    for (unsigned i = 0; i < kCatalogCount; ++i)
        if (kCatalogs[i].prefix == prefix) known = kCatalogs[i].name;
    char generic[16];
    if (!known) {
        std::snprintf(generic, sizeof generic, "ov%05x", prefix);
        known = generic;
    }
    const size_t len = std::strlen(known);
    if (name && size) {
        const size_t n = std::min(len, size - 1);
        std::memcpy(name, known, n);
        name[n] = '\0';
    }
    return len;
}

const char* ucx_get_nlspath(void) { return std::getenv("NLSPATH"); }

const char* ucx_get_dir(void) { return std::getenv("UCXDIR"); }

}  // extern "C"
