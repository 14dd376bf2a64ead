// `ovutil b64 encode|decode`: base64 of standard input.
#include <climits>
#include <cstdlib>
#include <new>
#include <string>

#include <ovutil/mime64.h>

#include "commands.h"
#include "tool.h"

namespace ovtool {

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

}  // namespace ovtool
