// The message service: where the object library sends its messages and exception reports.
//
// One service is installed per process. Until a program installs its own with
// setMessageService, the library's default service is used; it logs through serviceability
// on ovz_svc_handle, sub-component 0.
//
// Plain messages (outputMessage, outputMessageUTF8) take:
//   text      the message text; "%1" to "%6" in it stand for the inserts s1 to s6 ("%%" is
//             one "%"); null is "". A null insert is "".
//   msgid     the message number under which the record is logged.
//   severity  the attribute word: OV_SVC_FATAL (16), OV_SVC_ERROR (32), OV_SVC_WARNING (48)
//             or OV_SVC_NOTICE (64); any other value is logged as a notice.
//   subcomp   the sub-component of ovz_svc_handle.
// The default service fills the inserts into the text and logs message `msgid` with the
// format "%s" and the filled text as its one insert (outputMessageUTF8 marks the insert as
// UTF-8 with ov_svc_utf8_cs). It returns what the serviceability call returns (0 written).
//
// Exception records: the default service logs every record as message 0x35E51001 with the
// format "%s%s%d%d" and the inserts text, source file, source line and kind code, at
// attributes 16, whatever the kind; the va_list of inserts is not read. A product service
// may log each kind under its own number, reading the inserts named by
// zexceptionFormat_6_0(kind) from the va_list.
//
// All operations may be called from any thread; a service must be stateless or guard itself.
#ifndef OVZ_MESSAGE_SERVICE_H
#define OVZ_MESSAGE_SERVICE_H

#include <cstdarg>

#include <ovz/exceptions.h>
#include <ovz/export.h>
#include <ovz/strings.h>

// Message number of the generic exception record.
#define OVZ_EXCEPTION_MSGID 0x35E51001u

// Where the object library sends its messages and exception reports (see the file comment).
class OVZ_EXPORT ZMessageService_6_0 {
public:
    // Virtual slots in this order; derived services rely on it.
    virtual int outputMessage(const char* text, int msgid, int severity, int subcomp,
                              const ZLCString_6_0* s1, const ZLCString_6_0* s2,
                              const ZLCString_6_0* s3, const ZLCString_6_0* s4,
                              const ZLCString_6_0* s5, const ZLCString_6_0* s6) const = 0;
    // outputMessage with UTF-8 text and inserts.
    virtual int outputMessageUTF8(const char* text, int msgid, int severity, int subcomp,
                                  const ZUTF8String_6_0* s1, const ZUTF8String_6_0* s2,
                                  const ZUTF8String_6_0* s3, const ZUTF8String_6_0* s4,
                                  const ZUTF8String_6_0* s5, const ZUTF8String_6_0* s6) const = 0;
    // Logs a caught exception (a service normally calls its report()).
    virtual int outputException(ZException_6_0& exception) const = 0;
    // Logs an exception record; `inserts` holds the inserts named by
    // zexceptionFormat_6_0(record->kind()), in order.
    virtual int outputException(const ZZException_6_0* record, va_list inserts) const = 0;
    virtual ~ZMessageService_6_0();

    // Installs `service` for every later message and report of the process; null reinstalls
    // the default service. The service is not owned: it must live as long as it is installed
    // (in practice, for the rest of the process). Safe from any thread.
    static void setMessageService(ZMessageService_6_0* service);
    // The installed service (the default service until one is installed). Never null.
    static ZMessageService_6_0* messageService();
    // The library's own service: one process-wide object, never freed.
    static ZMessageService_6_0* defaultMessageService();

protected:
    ZMessageService_6_0() = default;
    // A service holds no state of its own; copies copy nothing.
    ZMessageService_6_0(const ZMessageService_6_0&) = default;
    // Assigns nothing: a service holds no state of its own.
    ZMessageService_6_0& operator=(const ZMessageService_6_0&) = default;
};

#endif  // OVZ_MESSAGE_SERVICE_H
