// Exceptions of the object library.
//
// An exception is a record (ZZException_6_0: kind code, text, source file and line) plus the
// inserts of its message. The kind selects the numbered message under which the installed
// message service logs it, and the kind's format (zexceptionFormat_6_0) says which inserts
// the message takes; an exception always stores exactly the inserts its kind's format names.
//
// Raising: construct, then call throwException(__FILE__, __LINE__), which records the place
// and throws the exception's dynamic type:
//
//   ZInvalidParameterException_6_0("name is null").throwException(__FILE__, __LINE__);
//   ZOutOfMemoryException_6_0().throwException(__FILE__, __LINE__);
//   ZPropertiesInvalidDataException_6_0("line is not key = value", path, 12)
//       .throwException(__FILE__, __LINE__);
//   ZException_6_0(ZEXC_FILE_READ, {path, strerror(err)}).throwException(__FILE__, __LINE__);
//   ZException_6_0(ZEXC_FAILURE, {"registry entry lost"}).throwException(__FILE__, __LINE__);
//
// Catching and logging:
//
//   try { ... } catch (ZException_6_0& e) { e.report(); }   // logs through the message service
//
// A subclass written elsewhere overrides `throwException` (so that the thrown type is its
// own) and `name`:
//
//   [[noreturn]] void throwException(const char* file, int line) override {
//       setSource(file, line);
//       throw *this;
//   }
//
// Exceptions own all their texts and are safe to copy and to throw.
#ifndef OVZ_EXCEPTIONS_H
#define OVZ_EXCEPTIONS_H

#include <cstdarg>
#include <initializer_list>
#include <string>
#include <vector>

#include <ovz/export.h>

class ZMessageService_6_0;

// Kind codes used by this library. The whole table of formats (kinds 1 to 54) is known to
// zexceptionFormat_6_0.
enum ZExceptionKind_6_0 : int {
    ZEXC_OUT_OF_MEMORY = 1,             // format ""
    ZEXC_FILE_READ = 12,                // "%s%s": file name, system error text
    ZEXC_FILE_WRITE = 13,               // "%s%s": file name, system error text
    ZEXC_INVALID_PARAMETER = 32,        // "%s": what was refused
    ZEXC_FAILURE = 42,                  // "%s": description of the failure
    ZEXC_PROPERTIES_INVALID_DATA = 43,  // "%s%s%d": reason, file name, line number
    ZEXC_LOCK_FAILURE = 49,             // "%s": description of the lock failure
};

// The insert format of `kind`: a string of "%s" (const char*) and "%d" (int) conversions,
// "" for a kind without inserts, or null for a kind that has no message of its own (0, 23,
// negative, above 54); such kinds are logged with the generic exception message. The
// returned text is static.
extern "C" OVZ_EXPORT const char* zexceptionFormat_6_0(int kind);

// One insert of an exception message: a text (%s) or an integer (%d).
class OVZ_EXPORT ZExceptionInsert_6_0 {
public:
    ZExceptionInsert_6_0(const char* text);  // null is stored as ""
    // A text insert; a number insert.
    ZExceptionInsert_6_0(const std::string& text);
    ZExceptionInsert_6_0(int number);

    // Whether the insert is a text (%s) rather than a number (%d).
    bool isText() const { return isText_; }
    const char* text() const { return text_.c_str(); }  // "" for a number
    int number() const { return number_; }              // 0 for a text

private:
    bool isText_;
    std::string text_;
    int number_;
};

// The record that a message service reads. Members in this order: kind code, text.
class OVZ_EXPORT ZZException_6_0 {
public:
    virtual ~ZZException_6_0();
    // The source file and line where the exception was raised by throwException; "" and 0
    // before that.
    virtual const char* sourceFile() const;
    // The source line where the exception was raised; 0 before that.
    virtual int sourceLine() const;

    // The kind code (ZEXC_*), which selects the message the exception is logged with.
    int kind() const { return kind_; }
    // A readable description of the exception (never null), e.g.
    // "invalid parameter: name is null".
    const char* text() const { return text_; }

protected:
    // A record of `kind` whose text lives in the derived exception.
    ZZException_6_0(int kind, const char* text) : kind_(kind), text_(text) {}
    // Copies the kind and the text pointer; the derived exception points it at its own copy.
    ZZException_6_0(const ZZException_6_0&) = default;
    // Assigns the kind and the text pointer, as the copy constructor.
    ZZException_6_0& operator=(const ZZException_6_0&) = default;

    // The kind code.
    int kind_;
    const char* text_;  // points into storage owned by the derived exception
};

// The root of the exceptions: what callers catch.
class OVZ_EXPORT ZException_6_0 : public ZZException_6_0 {
public:
    // An exception of `kind` with `inserts`, matched to the kind's format: missing inserts
    // are supplied as "" or 0, extra ones are dropped, and an insert of the wrong type is
    // converted (a number to its decimal text, a text to 0), so the record is always
    // well-formed for a message service. A kind without a message keeps no inserts.
    explicit ZException_6_0(int kind = ZEXC_FAILURE,
                            std::initializer_list<ZExceptionInsert_6_0> inserts = {});
    // Copies the kind, the text, the source place and the inserts.
    ZException_6_0(const ZException_6_0& other);
    // Takes the texts and inserts over without allocating; `other` is left empty.
    ZException_6_0(ZException_6_0&& other) noexcept;
    // Assigns the kind, the text, the source place and the inserts.
    ZException_6_0& operator=(const ZException_6_0& other);
    ~ZException_6_0() override;

    const char* sourceFile() const override;
    int sourceLine() const override;

    // Logs this exception: hands the record and its inserts (as a va_list, in the order of
    // the kind's format) to outputException(const ZZException_6_0*, va_list) of the
    // installed message service (ZMessageService_6_0::messageService()) and returns its
    // result. Safe from any thread.
    virtual int report();
    // The same with a given service.
    int reportTo(const ZMessageService_6_0& service) const;

    // Records `file` and `line` and throws *this as its dynamic type. Every subclass
    // overrides it (see the header comment).
    [[noreturn]] virtual void throwException(const char* file, int line);

    // The class name for debug lines, without the version suffix: "ZException",
    // "ZOutOfMemoryException", "ZInvalidParameterException", "ZPropertiesInvalidDataException".
    virtual const char* name() const;

    // The stored inserts, in the order of the kind's format.
    const std::vector<ZExceptionInsert_6_0>& inserts() const { return inserts_; }

protected:
    // For subclasses that compose their own text.
    ZException_6_0(int kind, std::initializer_list<ZExceptionInsert_6_0> inserts, const char* text);
    // Records where the exception is raised (for a subclass's throwException).
    void setSource(const char* file, int line);

private:
    OVZ_LOCAL void build(std::initializer_list<ZExceptionInsert_6_0> inserts, const char* text);

    std::string textStore_;
    std::string file_;
    int line_ = 0;
    std::vector<ZExceptionInsert_6_0> inserts_;
};

// Memory ran out. Kind ZEXC_OUT_OF_MEMORY, no inserts. Raising it needs no memory: when the
// source file cannot be recorded, throwException throws it without one (never std::bad_alloc
// instead).
class OVZ_EXPORT ZOutOfMemoryException_6_0 : public ZException_6_0 {
public:
    ZOutOfMemoryException_6_0();
    [[noreturn]] void throwException(const char* file, int line) override;
    const char* name() const override;
};

// A refused argument. Kind ZEXC_INVALID_PARAMETER, insert: what was refused.
class OVZ_EXPORT ZInvalidParameterException_6_0 : public ZException_6_0 {
public:
    // An exception whose insert says what was refused.
    explicit ZInvalidParameterException_6_0(const char* what = "parameter");
    [[noreturn]] void throwException(const char* file, int line) override;
    const char* name() const override;
};

// Invalid data in a properties (stanza or Java properties) file. Kind
// ZEXC_PROPERTIES_INVALID_DATA, inserts: reason, file name, line number (1-based).
class OVZ_EXPORT ZPropertiesInvalidDataException_6_0 : public ZException_6_0 {
public:
    // An exception for the line `lineNumber` (1-based) of `fileName`, refused for `reason`.
    ZPropertiesInvalidDataException_6_0(const char* reason, const char* fileName, int lineNumber);
    [[noreturn]] void throwException(const char* file, int line) override;
    const char* name() const override;

    // Why the line was refused.
    const char* reason() const { return inserts()[0].text(); }
    // The file that holds the line.
    const char* fileName() const { return inserts()[1].text(); }
    // The line, counted from 1.
    int lineNumber() const { return inserts()[2].number(); }
};

#endif  // OVZ_EXCEPTIONS_H
