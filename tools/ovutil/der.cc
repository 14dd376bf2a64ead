// `ovutil der dump`: a wire object (DER of a name/value map) decoded into its masked trace.
#include <climits>
#include <string>

#include <ovasn/asn.h>
#include <ovutil/NameValueMap.h>
#include <ovz/strings.h>

#include "commands.h"
#include "tool.h"

namespace ovtool {

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

}  // namespace ovtool
