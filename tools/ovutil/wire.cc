// `ovutil msg`, `paths`, `der dump` and `b64`: message texts, the path table and the wire.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <new>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <ovasn/asn.h>
#include <ovmsg/msg.h>
#include <ovutil/NameValueMap.h>
#include <ovutil/PathMap.h>
#include <ovutil/encode.h>
#include <ovutil/mime64.h>
#include <ovutil/wvmsg.h>
#include <ovz/collections.h>
#include <ovz/strings.h>

#include "commands.h"
#include "tool.h"

namespace ovtool {

namespace {

bool parseNumber(const std::string& text, unsigned& number) {
    const char* s = text.c_str();
    if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s += 2;
    if (!*s || std::strlen(s) > 8 || std::strspn(s, "0123456789abcdefABCDEF") != std::strlen(s))
        return false;
    number = static_cast<unsigned>(std::strtoul(s, nullptr, 16));
    return true;
}

}  // namespace

int msgShow(const std::vector<std::string>& numbers, bool utf8) {
    std::vector<unsigned> parsed;
    for (const std::string& n : numbers) {
        unsigned value = 0;
        if (!parseNumber(n, value)) throw Failure{kMsgBadNumber, {n}, kUsage};
        parsed.push_back(value);
    }
    int result = kOk;
    for (unsigned number : parsed) {
        // Ask the message library first, to tell an unknown number from a known one.
        unsigned int status = 0;
        const char* known = ov_msg_get_msg_utf8(number, &status);
        if (!known) {
            char hex[16];
            std::snprintf(hex, sizeof hex, "0x%08X", number);
            printError(kMsgUnknownNumber, {hex});
            result = kFailed;
            continue;
        }
        const char* text = utf8 ? wv_i18n_msg_utf8(number) : wv_i18n_msg(number);
        char line[16];
        std::snprintf(line, sizeof line, "0x%08X ", number);
        writeOutput(std::string(line) + (text ? text : "") + "\n");
    }
    return result;
}

int pathsShow() {
    ovutil_init();
    std::vector<std::pair<std::string, std::string>> rows;
    if (PathMap::ovPaths_) {
        ZArrayList_6_0 keys(64, 1);
        PathMap::ovPaths_->listKeys(keys);
        for (unsigned long i = 0; i < keys.size(); ++i) {
            const auto* key = static_cast<const ZAbstractString_6_0*>(keys.get(i));
            if (!key) continue;
            const auto* value =
                static_cast<const ZAbstractString_6_0*>(PathMap::ovPaths_->getEntry(*key));
            rows.emplace_back(key->c_str(), value ? value->c_str() : "");
        }
    }
    std::sort(rows.begin(), rows.end());
    std::string out;
    for (const auto& [key, value] : rows) out += key + " = " + value + "\n";
    writeOutput(out);
    return kOk;
}

int derDump(const std::string& input) {
    // The codec's buffers count their bytes in an unsigned int.
    std::string bytes = readInput(input, UINT_MAX);
    ov_asn_buffer_t in{static_cast<unsigned int>(bytes.size()),
                       reinterpret_cast<unsigned char*>(bytes.data())};
    NameValueMap map;
    unsigned long status = 0;
    map.decode(in, status);
    if (status != 0)
        throw Failure{kMsgBadWire, {ov_asn_status_text(status), static_cast<long>(status)}};
    ZUTF8String_6_0 trace;
    map.buildTraceBuf(trace, 0);
    writeOutput(trace.c_str());
    return kOk;
}

int b64Encode() {
    std::string bytes = readInput("-", UINT_MAX);
    char* text = mime64_new_encode(reinterpret_cast<const unsigned char*>(bytes.data()),
                                   static_cast<unsigned int>(bytes.size()));
    if (!text) throw std::bad_alloc();
    std::string out = std::string(text) + "\n";
    std::free(text);
    writeOutput(out);
    return kOk;
}

int b64Decode() {
    std::string text = readInput("-", INT_MAX);
    if (text.empty()) return kOk;
    char* bytes = nullptr;
    unsigned int length = 0;
    mime64_new_decode(text.data(), static_cast<int>(text.size()), &bytes, &length);
    std::string out(bytes ? bytes : "", length);
    std::free(bytes);
    writeOutput(out);
    return kOk;
}

namespace {

int printCoded(char* (*code)(const char*), const std::string& value) {
    char* out = code(value.c_str());
    if (!out) throw std::bad_alloc();
    std::string line = std::string(out) + "\n";
    std::free(out);
    writeOutput(line);
    return kOk;
}

}  // namespace

int valueEncode(const std::string& value) { return printCoded(util_encode, value); }

int valueDecode(const std::string& value) {
    // A value that carries the marker decodes to something shorter; util_decode gives such a
    // value back unchanged only when it cannot decode it, after writing a complaint of its own
    // to standard output, which must not reach the caller's output.
    const bool encoded = value.size() > 2 && value.compare(0, 3, symb, 3) == 0;
    std::fflush(stdout);
    int saved = encoded ? ::dup(STDOUT_FILENO) : -1;
    int devNull = saved >= 0 ? ::open("/dev/null", O_WRONLY | O_CLOEXEC) : -1;
    if (devNull >= 0) ::dup2(devNull, STDOUT_FILENO);
    char* out = util_decode(value.c_str());
    if (devNull >= 0) {
        std::fflush(stdout);
        ::dup2(saved, STDOUT_FILENO);
        ::close(devNull);
    }
    if (saved >= 0) ::close(saved);
    if (!out) throw std::bad_alloc();
    std::string decoded(out);
    std::free(out);
    if (encoded && decoded == value) throw Failure{kMsgCannotDecode, {value}};
    writeOutput(decoded + "\n");
    return kOk;
}

}  // namespace ovtool
