// Exceptions: records with owned texts and the inserts of their kind's message.
#include <ovz/exceptions.h>

#include <cstdio>
#include <new>
#include <string>
#include <utility>

#include <ovz/message_service.h>

namespace {

// Insert formats of kinds 0 to 54; null where a kind has no message of its own.
const char* const kKindFormats[55] = {
    /*  0 */ nullptr,    "",         "%s%s%d",   "%d",     "%d",
    /*  5 */ "%d",       "%d",       "%d",       "%d",     "%d",
    /* 10 */ "%d",       "",         "%s%s",     "%s%s",   "",
    /* 15 */ "%d",       "%d",       "%d",       "%d",     "",
    /* 20 */ "%d",       "%d",       "",         nullptr,  "%d",
    /* 25 */ "%d",       "%d",       "%d",       "%s%s%s", "%d",
    /* 30 */ "%d",       "",         "%s",       "%d",     "%d",
    /* 35 */ "%d",       "%d",       "%d%s",     "%d%s",   "%s%s%s%s",
    /* 40 */ "%s%s%s%s", "%s%s%s%s", "%s",       "%s%s%d", "%s%d%s",
    /* 45 */ "",         "",         "%s%s",     "",       "%s",
    /* 50 */ "%s",       "%s%d%s",   "%s%s%d%s", "%s",     "%s",
};

// How the inserts read in the exception's text, for the kinds this library raises.
std::string describe(int kind, const std::vector<ZExceptionInsert_6_0>& in) {
    auto s = [&](std::size_t i) { return std::string(in[i].text()); };
    switch (kind) {
        case ZEXC_OUT_OF_MEMORY:
            return "out of memory";
        case ZEXC_FILE_READ:
            return "cannot open or read file " + s(0) + ": " + s(1);
        case ZEXC_FILE_WRITE:
            return "cannot write file " + s(0) + ": " + s(1);
        case ZEXC_INVALID_PARAMETER:
            return "invalid parameter: " + s(0);
        case ZEXC_FAILURE:
            return in[0].text()[0] != '\0' ? s(0) : std::string("object library failure");
        case ZEXC_PROPERTIES_INVALID_DATA:
            return "invalid data in " + s(1) + " at line " + std::to_string(in[2].number()) + ": " +
                   s(0);
        case ZEXC_LOCK_FAILURE:
            return "lock failure: " + s(0);
        default:
            break;
    }
    std::string text = "exception of kind " + std::to_string(kind);
    for (std::size_t i = 0; i < in.size(); ++i) {
        text += i == 0 ? ": " : ", ";
        text += in[i].isText() ? s(i) : std::to_string(in[i].number());
    }
    return text;
}

// Calls service.outputException(record, va_list) with the inserts as real variadic
// arguments: each step appends one insert, typed as the format wants it.
constexpr std::size_t kMaxInserts = 6;

int callWithList(const ZMessageService_6_0* service, const ZZException_6_0* record, ...) {
    va_list ap;
    va_start(ap, record);
    int rc = service->outputException(record, ap);
    va_end(ap);
    return rc;
}

template <class... A>
int expand(const ZMessageService_6_0& service, const ZZException_6_0* record,
           const std::vector<ZExceptionInsert_6_0>& in, A... args) {
    constexpr std::size_t n = sizeof...(A);
    if constexpr (n < kMaxInserts) {
        if (n < in.size()) {
            const ZExceptionInsert_6_0& next = in[n];
            if (next.isText()) return expand(service, record, in, args..., next.text());
            return expand(service, record, in, args..., next.number());
        }
    }
    return callWithList(&service, record, args...);
}

}  // namespace

extern "C" const char* zexceptionFormat_6_0(int kind) {
    if (kind < 0 || kind > 54) return nullptr;
    return kKindFormats[kind];
}

ZExceptionInsert_6_0::ZExceptionInsert_6_0(const char* text)
    : isText_(true), text_(text ? text : ""), number_(0) {}
ZExceptionInsert_6_0::ZExceptionInsert_6_0(const std::string& text)
    : isText_(true), text_(text), number_(0) {}
ZExceptionInsert_6_0::ZExceptionInsert_6_0(int number) : isText_(false), number_(number) {}

ZZException_6_0::~ZZException_6_0() = default;
const char* ZZException_6_0::sourceFile() const { return ""; }
int ZZException_6_0::sourceLine() const { return 0; }

ZException_6_0::ZException_6_0(int kind, std::initializer_list<ZExceptionInsert_6_0> inserts)
    : ZZException_6_0(kind, "") {
    build(inserts, nullptr);
}

ZException_6_0::ZException_6_0(int kind, std::initializer_list<ZExceptionInsert_6_0> inserts,
                               const char* text)
    : ZZException_6_0(kind, "") {
    build(inserts, text);
}

void ZException_6_0::build(std::initializer_list<ZExceptionInsert_6_0> inserts, const char* text) {
    const char* format = zexceptionFormat_6_0(kind_);
    const ZExceptionInsert_6_0* given = inserts.begin();
    std::size_t count = inserts.size();
    std::size_t i = 0;
    // Fit the given inserts to the format so a service can always read them as it says.
    for (const char* f = format ? format : ""; f[0] == '%' && f[1] != '\0'; f += 2, ++i) {
        bool wantText = f[1] == 's';
        if (i < count && given[i].isText() == wantText) {
            inserts_.push_back(given[i]);
        } else if (i < count && wantText) {
            inserts_.emplace_back(std::to_string(given[i].number()));
        } else {
            inserts_.push_back(wantText ? ZExceptionInsert_6_0("") : ZExceptionInsert_6_0(0));
        }
    }
    textStore_ = text ? std::string(text) : describe(kind_, inserts_);
    text_ = textStore_.c_str();
}

ZException_6_0::ZException_6_0(const ZException_6_0& other)
    : ZZException_6_0(other),
      textStore_(other.textStore_),
      file_(other.file_),
      line_(other.line_),
      inserts_(other.inserts_) {
    text_ = textStore_.c_str();
}

ZException_6_0::ZException_6_0(ZException_6_0&& other) noexcept
    : ZZException_6_0(other),
      textStore_(std::move(other.textStore_)),
      file_(std::move(other.file_)),
      line_(other.line_),
      inserts_(std::move(other.inserts_)) {
    text_ = textStore_.c_str();
    other.text_ = other.textStore_.c_str();
}

ZException_6_0& ZException_6_0::operator=(const ZException_6_0& other) {
    if (this != &other) {
        ZZException_6_0::operator=(other);
        textStore_ = other.textStore_;
        file_ = other.file_;
        line_ = other.line_;
        inserts_ = other.inserts_;
        text_ = textStore_.c_str();
    }
    return *this;
}

ZException_6_0::~ZException_6_0() = default;

const char* ZException_6_0::sourceFile() const { return file_.c_str(); }
int ZException_6_0::sourceLine() const { return line_; }

void ZException_6_0::setSource(const char* file, int line) {
    file_ = file ? file : "";
    line_ = line;
}

int ZException_6_0::report() { return reportTo(*ZMessageService_6_0::messageService()); }

int ZException_6_0::reportTo(const ZMessageService_6_0& service) const {
    return expand(service, this, inserts_);
}

void ZException_6_0::throwException(const char* file, int line) {
    setSource(file, line);
    throw *this;
}

const char* ZException_6_0::name() const { return "ZException"; }

ZOutOfMemoryException_6_0::ZOutOfMemoryException_6_0() : ZException_6_0(ZEXC_OUT_OF_MEMORY) {}
void ZOutOfMemoryException_6_0::throwException(const char* file, int line) {
    // Raised because memory ran out, so it must not need any: its text fits the string's own
    // room and it has no inserts, recording the source file may fail (the exception then
    // goes without it), and it is moved into flight rather than copied.
    try {
        setSource(file, line);
    } catch (const std::bad_alloc&) {
    }
    throw std::move(*this);
}
const char* ZOutOfMemoryException_6_0::name() const { return "ZOutOfMemoryException"; }

ZInvalidParameterException_6_0::ZInvalidParameterException_6_0(const char* what)
    : ZException_6_0(ZEXC_INVALID_PARAMETER, {what}) {}
void ZInvalidParameterException_6_0::throwException(const char* file, int line) {
    setSource(file, line);
    throw *this;
}
const char* ZInvalidParameterException_6_0::name() const { return "ZInvalidParameterException"; }

ZPropertiesInvalidDataException_6_0::ZPropertiesInvalidDataException_6_0(const char* reason,
                                                                         const char* fileName,
                                                                         int lineNumber)
    : ZException_6_0(ZEXC_PROPERTIES_INVALID_DATA, {reason, fileName, lineNumber}) {}
void ZPropertiesInvalidDataException_6_0::throwException(const char* file, int line) {
    setSource(file, line);
    throw *this;
}
const char* ZPropertiesInvalidDataException_6_0::name() const {
    return "ZPropertiesInvalidDataException";
}
