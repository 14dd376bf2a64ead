// `ovutil msg`: message texts by number, as the product's programs show them.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <ovmsg/msg.h>
#include <ovutil/wvmsg.h>

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

}  // namespace ovtool
