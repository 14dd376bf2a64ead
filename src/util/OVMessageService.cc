// OVMessageService: the product's message service for the object library. Start-up
// (getpath.cc) installs the one instance of the process.

#include <ovutil/OVMessageService.h>

#include <ovmsg/messages.h>
#include <ovsvc/svc.h>

namespace {

// The records of the message service keep the source name they have always carried, that of
// start-up, which installs the service; their line is the line of the call in this file.
const char kSourceFile[] = "src/util/getpath";

// The kind table of the exception messages: message number, attributes and insert format of
// every kind that has its own message. Kind 0 and 23 have none.
struct KindRow {
    unsigned int msgid;
    unsigned int attributes;
    const char* format;
};

constexpr int kLastKind = 54;

constexpr const char* kindFormat(int kind) {
    switch (kind) {
        case 1:
        case 11:
        case 14:
        case 19:
        case 22:
        case 31:
        case 45:
        case 46:
        case 48:
            return "";
        case 3:
        case 4:
        case 5:
        case 6:
        case 7:
        case 8:
        case 9:
        case 10:
        case 15:
        case 16:
        case 17:
        case 18:
        case 20:
        case 21:
        case 24:
        case 25:
        case 26:
        case 27:
        case 29:
        case 30:
        case 33:
        case 34:
        case 35:
        case 36:
            return "%d";
        case 32:
        case 42:
        case 49:
        case 50:
        case 53:
        case 54:
            return "%s";
        case 12:
        case 13:
        case 47:
            return "%s%s";
        case 37:
        case 38:
            return "%d%s";
        case 2:
        case 43:
            return "%s%s%d";
        case 44:
        case 51:
            return "%s%d%s";
        case 28:
            return "%s%s%s";
        case 39:
        case 40:
        case 41:
            return "%s%s%s%s";
        case 52:
            return "%s%s%d%s";
        default:
            return nullptr;
    }
}

constexpr KindRow kindRow(int kind) {
    if (kind >= 1 && kind <= 22)
        return {OV_MSG_OVZ_EXCEPTION + kind, OV_SVC_FATAL, kindFormat(kind)};
    if (kind >= 24 && kind <= kLastKind)
        return {OV_MSG_OVZ_EXCEPTION_KIND_24 + (kind - 24),
                kind >= 53 ? OV_SVC_ERROR : OV_SVC_FATAL, kindFormat(kind)};
    return {0, 0, nullptr};
}

}  // namespace

int OVMessageService::outputMessage(const char* text, int msgid, int severity, int subcomp,
                                    const ZLCString_6_0* s1, const ZLCString_6_0* s2,
                                    const ZLCString_6_0* s3, const ZLCString_6_0* s4,
                                    const ZLCString_6_0* s5, const ZLCString_6_0* s6) const {
    return ZMessageService_6_0::defaultMessageService()->outputMessage(
        text, msgid, severity, subcomp, s1, s2, s3, s4, s5, s6);
}

int OVMessageService::outputMessageUTF8(const char* text, int msgid, int severity, int subcomp,
                                        const ZUTF8String_6_0* s1, const ZUTF8String_6_0* s2,
                                        const ZUTF8String_6_0* s3, const ZUTF8String_6_0* s4,
                                        const ZUTF8String_6_0* s5,
                                        const ZUTF8String_6_0* s6) const {
    return ZMessageService_6_0::defaultMessageService()->outputMessageUTF8(
        text, msgid, severity, subcomp, s1, s2, s3, s4, s5, s6);
}

int OVMessageService::outputException(ZException_6_0& exception) const {
    return exception.report();
}

int OVMessageService::outputException(const ZZException_6_0* record, va_list inserts) const {
    // Compared as unsigned, so that negative kinds fall out of the table too.
    unsigned int kind = static_cast<unsigned int>(record->kind());
    KindRow row = kind <= static_cast<unsigned int>(kLastKind) ? kindRow(static_cast<int>(kind))
                                                               : KindRow{0, 0, nullptr};
    if (row.format == nullptr) return printDefault(record);
    return ov_svc_vprintf_withfile(ovz_svc_handle, record->sourceFile(), record->sourceLine(),
                                   row.format, 0, row.attributes, row.msgid, inserts);
}

OVMessageService::~OVMessageService() = default;

int OVMessageService::printDefault(const ZZException_6_0* record) const {
    // The generic message names four inserts: the catalog text shows the kind code as the
    // fourth, so an exception without a message of its own can still be told apart.
    return ov_svc_printf_withfile(ovz_svc_handle, kSourceFile, __LINE__, "%s%s%d%d", 0,
                                  OV_SVC_FATAL, OV_MSG_OVZ_EXCEPTION, record->text(),
                                  record->sourceFile(), record->sourceLine(), record->kind());
}
