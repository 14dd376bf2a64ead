// Routes: where the records of each severity go, and the one write of each record.
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "internal.h"
#include "settings.h"

namespace ovsvc_internal {

namespace {

struct Route {
    RouteKind kind = RouteKind::Discard;
    int fd = -1;  // RouteKind::File only; owned
};

// Index by severity: debug, fatal, error, warning, notice.
constexpr int kRoutes = 5;

int routeIndex(unsigned severity) {
    switch (severity) {
        case OV_SVC_DEBUG:
            return 0;
        case OV_SVC_FATAL:
            return 1;
        case OV_SVC_ERROR:
            return 2;
        case OV_SVC_WARNING:
            return 3;
        case OV_SVC_NOTICE:
            return 4;
        default:
            return -1;
    }
}

// The priority of syslog(3) and of the journal's "<N>" prefix for each severity.
int priority(unsigned severity) {
    switch (severity) {
        case OV_SVC_FATAL:
            return LOG_CRIT;
        case OV_SVC_ERROR:
            return LOG_ERR;
        case OV_SVC_WARNING:
            return LOG_WARNING;
        case OV_SVC_NOTICE:
            return LOG_NOTICE;
        case OV_SVC_DEBUG:
            return LOG_DEBUG;
        default:
            return LOG_ERR;
    }
}

struct Routes {
    std::mutex mutex;  // guards `routes` and serialises the writes
    Route routes[kRoutes] = {{RouteKind::Discard, -1},
                             {RouteKind::Stderr, -1},
                             {RouteKind::Stderr, -1},
                             {RouteKind::Stderr, -1},
                             {RouteKind::Discard, -1}};
};

// Made on first use and never destroyed: records may be written during exit. Like every
// first use in this library, a function-local static, so that running out of memory retries
// at the next use instead of unwinding through pthread_once.
Routes& theRoutes() {
    static Routes* const routes = new Routes;
    return *routes;
}

// The stream the journal reads, from JOURNAL_STREAM ("<device>:<inode>" in decimal), which
// the service manager sets when it connects standard output or error to the journal.
struct JournalStream {
    bool set = false;
    dev_t device = 0;
    ino_t inode = 0;
};

// A decimal number of digits only, that fits its type.
bool parseUnsigned(const char* begin, const char* end, unsigned long long& value) {
    if (begin == end) return false;
    unsigned long long v = 0;
    for (const char* p = begin; p != end; ++p) {
        if (*p < '0' || *p > '9') return false;
        unsigned digit = static_cast<unsigned>(*p - '0');
        if (v > (~0ull - digit) / 10) return false;
        v = v * 10 + digit;
    }
    value = v;
    return true;
}

const JournalStream& journalStream() {
    static const JournalStream journal = [] {
        JournalStream j;
        const char* env = std::getenv("JOURNAL_STREAM");
        if (!env) return j;
        const char* colon = std::strchr(env, ':');
        unsigned long long device = 0, inode = 0;
        if (!colon || !parseUnsigned(env, colon, device) ||
            !parseUnsigned(colon + 1, colon + std::strlen(colon), inode))
            return j;
        j.set = true;
        j.device = static_cast<dev_t>(device);
        j.inode = static_cast<ino_t>(inode);
        return j;
    }();
    return journal;
}

// Whether `fd` is the journal's stream. Checked at each write: the program may redirect the
// stream after start-up.
bool isJournal(int fd) {
    const JournalStream& journal = journalStream();
    if (!journal.set) return false;
    struct stat st;
    return fstat(fd, &st) == 0 && st.st_dev == journal.device && st.st_ino == journal.inode;
}

// The bytes of a record on a stream or in a file. The journal stamps records itself and
// reads the priority from a "<N>" in front of each line.
std::string lineText(unsigned severity, const std::string& stamp, const std::string& body,
                     bool journal) {
    if (!journal) return stamp + " " + body + "\n";
    char prefix[8];
    std::snprintf(prefix, sizeof prefix, "<%d>", priority(severity));
    std::string text = prefix;
    for (char c : body) {
        text += c;
        if (c == '\n') text += prefix;
    }
    text += '\n';
    return text;
}

// Opens the file of a FILE route for appending. Only a regular file or a character device
// (such as /dev/null or a terminal) is used: a FIFO would block the open until a reader comes
// and every write once the reader stops, a socket cannot be opened, and writing records onto
// a block device would destroy what is stored there. The open never blocks.
bool openFile(const std::string& path, int& fd, std::string& why) {
    fd =
        open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0640);
    if (fd < 0) {
        // A FIFO without a reader (or a socket) refuses a non-blocking open with ENXIO.
        why = errno == ENXIO ? "not a regular file or character device" : std::strerror(errno);
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISCHR(st.st_mode))) {
        why = "not a regular file or character device";
        close(fd);
        fd = -1;
        return false;
    }
    // Writes wait as they would on standard error; only the open had to be non-blocking.
    int flags = fcntl(fd, F_GETFL);
    if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return true;
}

bool openRoute(const RouteSetting& setting, Route& out, std::string& why) {
    if (setting.kind != RouteKind::File) {
        out = {setting.kind, -1};
        return true;
    }
    int fd = -1;
    if (!openFile(setting.path, fd, why)) return false;
    out = {RouteKind::File, fd};
    return true;
}

// REQUIRES: State().mutex held.
void replace(int index, Route route) {
    Route& old = theRoutes().routes[index];
    if (old.kind == RouteKind::File) close(old.fd);
    old = route;
}

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// REQUIRES: State().mutex held.
int writeStream(int fd, unsigned severity, const std::string& stamp, const std::string& body) {
    std::string text = lineText(severity, stamp, body, isJournal(fd));
    return writeAll(fd, text.data(), text.size()) ? 0 : -1;
}

struct Warning {
    unsigned msgid;
    std::string variable, value, reason;
};

void readEnvironment() {
    static const struct {
        const char* variable;
        unsigned severity;
    } kVariables[] = {
        {"OV_SVC_ROUTE_FATAL", OV_SVC_FATAL},     {"OV_SVC_ROUTE_ERROR", OV_SVC_ERROR},
        {"OV_SVC_ROUTE_WARNING", OV_SVC_WARNING}, {"OV_SVC_ROUTE_NOTICE", OV_SVC_NOTICE},
        {"OV_SVC_ROUTE_DEBUG", OV_SVC_DEBUG},
    };
    std::vector<Warning> warnings;
    {
        Routes& state = theRoutes();
        std::lock_guard<std::mutex> guard(state.mutex);
        for (const auto& v : kVariables) {
            const char* value = std::getenv(v.variable);
            if (!value || !*value) continue;
            RouteSetting setting;
            if (!parseRoute(value, setting)) {
                // Not understood: the severity keeps its default route.
                warnings.push_back({kMsgUnknownRoute, v.variable, value, {}});
                continue;
            }
            Route route;
            std::string why;
            if (!openRoute(setting, route, why)) {
                // Meant to be kept, so not thrown away: standard error has them instead.
                warnings.push_back({kMsgRouteUnusable, v.variable, value, why});
                route = {RouteKind::Stderr, -1};
            }
            replace(routeIndex(v.severity), route);
        }
    }
    // Written once the routes are settled, and not through them.
    for (const Warning& w : warnings) {
        if (w.msgid == kMsgUnknownRoute)
            warnOnStderr(__FILE__, __LINE__, w.msgid, w.variable.c_str(), w.value.c_str());
        else
            warnOnStderr(__FILE__, __LINE__, w.msgid, w.variable.c_str(), w.value.c_str(),
                         w.reason.c_str());
    }
}

}  // namespace

// Read again at the next record when memory ran out while reading.
void initRoutesFromEnvironment() {
    static const bool read = (readEnvironment(), true);
    (void)read;
}

int writeRecord(unsigned severity, const std::string& stamp, const std::string& body) {
    initRoutesFromEnvironment();
    int index = routeIndex(severity);
    if (index < 0) index = routeIndex(OV_SVC_ERROR);
    Routes& state = theRoutes();
    std::unique_lock<std::mutex> guard(state.mutex);
    const Route route = state.routes[index];
    switch (route.kind) {
        case RouteKind::Discard:
            return 0;
        case RouteKind::Syslog:
            // syslog(3) serialises its own writes; the program's openlog settings (name,
            // facility, LOG_PID) apply, the priority is the record's.
            guard.unlock();
            syslog(priority(severity), "%s", body.c_str());
            return 0;
        case RouteKind::Stderr:
            return writeStream(STDERR_FILENO, severity, stamp, body);
        case RouteKind::Stdout:
            return writeStream(STDOUT_FILENO, severity, stamp, body);
        case RouteKind::File: {
            std::string text = lineText(severity, stamp, body, false);
            return writeAll(route.fd, text.data(), text.size()) ? 0 : -1;
        }
    }
    return 0;
}

int writeShortRecord(unsigned severity, const char* stamp, const char* body) noexcept {
    int index = routeIndex(severity);
    if (index < 0) index = routeIndex(OV_SVC_ERROR);
    Route route = {index == routeIndex(OV_SVC_DEBUG) || index == routeIndex(OV_SVC_NOTICE)
                       ? RouteKind::Discard
                       : RouteKind::Stderr,
                   -1};
    Routes* state = nullptr;
    try {
        initRoutesFromEnvironment();
        state = &theRoutes();
    } catch (const std::exception&) {
        // The environment is read again at the next record; until the routes exist, the
        // default route stands.
    }
    std::unique_lock<std::mutex> guard;
    if (state != nullptr) {
        guard = std::unique_lock<std::mutex>(state->mutex);
        route = state->routes[index];
    }
    int fd = STDERR_FILENO;
    switch (route.kind) {
        case RouteKind::Discard:
            return 0;
        case RouteKind::Syslog:
            if (guard.owns_lock()) guard.unlock();
            syslog(priority(severity), "%s", body);
            return 0;
        case RouteKind::Stderr:
            break;
        case RouteKind::Stdout:
            fd = STDOUT_FILENO;
            break;
        case RouteKind::File:
            fd = route.fd;
            break;
    }
    char text[2048];
    int n = route.kind != RouteKind::File && isJournal(fd)
                ? std::snprintf(text, sizeof text, "<%d>%s\n", priority(severity), body)
                : std::snprintf(text, sizeof text, "%s %s\n", stamp, body);
    if (n < 0) return -1;
    if (static_cast<size_t>(n) >= sizeof text) {
        n = sizeof text - 1;
        text[n - 1] = '\n';
    }
    return writeAll(fd, text, static_cast<size_t>(n)) ? 0 : -1;
}

int writeToStderr(unsigned severity, const std::string& stamp, const std::string& body) {
    Routes& state = theRoutes();
    std::lock_guard<std::mutex> guard(state.mutex);
    return writeStream(STDERR_FILENO, severity, stamp, body);
}

}  // namespace ovsvc_internal

extern "C" int ov_svc_route(unsigned int severity, const char* destination) {
    using namespace ovsvc_internal;
    try {
        // The environment is read first, so that it never overrides a program's own choice.
        initRoutesFromEnvironment();
        int index = routeIndex(severity);
        RouteSetting setting;
        Route route;
        std::string why;
        if (index < 0 || !destination || !parseRoute(destination, setting) ||
            !openRoute(setting, route, why))
            return -1;
        Routes& state = theRoutes();
        std::lock_guard<std::mutex> guard(state.mutex);
        replace(index, route);
        return 0;
    } catch (const std::bad_alloc&) {
        // Nothing has changed: the route is replaced only after everything is in hand.
        return -1;
    }
}
