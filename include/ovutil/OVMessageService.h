/// @file
/// OVMessageService: the product's message service for the object library.
///
/// Start-up installs one instance with ZMessageService_6_0::setMessageService, so that every
/// exception the object library raises is logged as a numbered message of this product
/// (0x35E51002 to 0x35E51036 on ovz_svc_handle, one number per exception kind), with the
/// source file and line where it was raised. Plain messages go on unchanged to the object
/// library's default service.
///
/// The service has no state: any thread may call any operation at any time.
#ifndef OVUTIL_OVMESSAGESERVICE_H
#define OVUTIL_OVMESSAGESERVICE_H

#include <cstdarg>

#include <ovutil/export.h>
#include <ovz/exceptions.h>
#include <ovz/message_service.h>
#include <ovz/strings.h>

/// The product's message service; start-up installs one instance (see the file description).
class OVUTIL_EXPORT OVMessageService : public ZMessageService_6_0 {
public:
    OVMessageService() = default;

    /// Hand the message with all ten arguments to defaultMessageService() and return its result.
    int outputMessage(const char* text, int msgid, int severity, int subcomp,
                      const ZLCString_6_0* s1, const ZLCString_6_0* s2, const ZLCString_6_0* s3,
                      const ZLCString_6_0* s4, const ZLCString_6_0* s5,
                      const ZLCString_6_0* s6) const override;
    /// The same for the UTF-8 form of the message.
    int outputMessageUTF8(const char* text, int msgid, int severity, int subcomp,
                          const ZUTF8String_6_0* s1, const ZUTF8String_6_0* s2,
                          const ZUTF8String_6_0* s3, const ZUTF8String_6_0* s4,
                          const ZUTF8String_6_0* s5, const ZUTF8String_6_0* s6) const override;

    /// Has the exception log itself: returns exception.report().
    int outputException(ZException_6_0& exception) const override;

    /// Logs `record` as the message of its kind, at the place where it was raised, with the
    /// inserts its kind names taken from `inserts`:
    /// @code{.unparsed}
    ///   kind 1..22  -> 0x35E51001 + kind
    ///   kind 24..54 -> 0x35E51018 + (kind - 24)
    /// @endcode
    /// at attributes 16, or 32 for kinds 53 and 54. Kind 0, 23, and every other kind go to
    /// printDefault. Returns the result of the serviceability call.
    int outputException(const ZZException_6_0* record, va_list inserts) const override;

    ~OVMessageService() override;

    /// Logs `record` as the generic exception message 0x35E51001 with the format "%s%s%d%d"
    /// and the inserts: its text, its source file, its source line and its kind code.
    /// Returns the result of the serviceability call.
    int printDefault(const ZZException_6_0* record) const;
};

#endif  // OVUTIL_OVMESSAGESERVICE_H
