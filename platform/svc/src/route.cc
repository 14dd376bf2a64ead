// Routes: where the records of each severity go, and the one write of each record.
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <strings.h>

#include "internal.h"

namespace ovsvc_internal {

namespace {

enum class Kind { Discard, Stderr, Stdout, File };

struct Route {
    Kind kind = Kind::Discard;
    int fd = -1;  // Kind::File only; owned
};

// Index by severity: debug, fatal, error, warning, notice.
constexpr int kRoutes = 5;

int RouteIndex(unsigned severity) {
    switch (severity) {
        case OV_SVC_DEBUG: return 0;
        case OV_SVC_FATAL: return 1;
        case OV_SVC_ERROR: return 2;
        case OV_SVC_WARNING: return 3;
        case OV_SVC_NOTICE: return 4;
        default: return -1;
    }
}

struct Routes {
    std::mutex mutex;  // guards `routes` and serialises the writes
    Route routes[kRoutes] = {{Kind::Discard, -1}, {Kind::Stderr, -1}, {Kind::Stderr, -1},
                             {Kind::Stderr, -1}, {Kind::Discard, -1}};
};

// Made on first use under pthread_once and never destroyed: records may be written during exit.
pthread_once_t routes_once = PTHREAD_ONCE_INIT;
Routes* routes_ = nullptr;

Routes& State() {
    pthread_once(&routes_once, [] { routes_ = new Routes; });
    return *routes_;
}

bool ParseDestination(const char* destination, Route& out) {
    if (!destination) return false;
    if (strcasecmp(destination, "STDERR") == 0) {
        out = {Kind::Stderr, -1};
    } else if (strcasecmp(destination, "STDOUT") == 0) {
        out = {Kind::Stdout, -1};
    } else if (strcasecmp(destination, "DISCARD") == 0) {
        out = {Kind::Discard, -1};
    } else if (strncasecmp(destination, "FILE:", 5) == 0 && destination[5] != '\0') {
        int fd = open(destination + 5, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
        if (fd < 0) return false;
        out = {Kind::File, fd};
    } else {
        return false;
    }
    return true;
}

// REQUIRES: State().mutex held.
void Replace(int index, Route route) {
    Route& old = State().routes[index];
    if (old.kind == Kind::File) close(old.fd);
    old = route;
}

bool WriteAll(int fd, const char* data, size_t size) {
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

pthread_once_t env_once = PTHREAD_ONCE_INIT;

void ReadEnvironment() {
    static const struct {
        const char* variable;
        unsigned severity;
    } kVariables[] = {
        {"OV_SVC_ROUTE_FATAL", OV_SVC_FATAL},     {"OV_SVC_ROUTE_ERROR", OV_SVC_ERROR},
        {"OV_SVC_ROUTE_WARNING", OV_SVC_WARNING}, {"OV_SVC_ROUTE_NOTICE", OV_SVC_NOTICE},
        {"OV_SVC_ROUTE_DEBUG", OV_SVC_DEBUG},
    };
    Routes& state = State();
    std::lock_guard<std::mutex> guard(state.mutex);
    for (const auto& v : kVariables) {
        Route route;
        // An unusable setting keeps the default route, so that the records are not lost.
        if (ParseDestination(std::getenv(v.variable), route)) Replace(RouteIndex(v.severity), route);
    }
}

}  // namespace

void InitRoutesFromEnvironment() { pthread_once(&env_once, ReadEnvironment); }

int WriteRecord(unsigned severity, const std::string& record) {
    InitRoutesFromEnvironment();
    int index = RouteIndex(severity);
    if (index < 0) index = RouteIndex(OV_SVC_ERROR);
    Routes& state = State();
    std::lock_guard<std::mutex> guard(state.mutex);
    const Route& route = state.routes[index];
    int fd = route.kind == Kind::Stderr ? STDERR_FILENO
           : route.kind == Kind::Stdout ? STDOUT_FILENO
           : route.kind == Kind::File   ? route.fd
                                        : -1;
    if (fd < 0) return 0;
    return WriteAll(fd, record.data(), record.size()) ? 0 : -1;
}

}  // namespace ovsvc_internal

extern "C" int ov_svc_route(unsigned int severity, const char* destination) {
    using namespace ovsvc_internal;
    // The environment is read first, so that it never overrides a program's own choice.
    InitRoutesFromEnvironment();
    int index = RouteIndex(severity);
    Route route;
    if (index < 0 || !ParseDestination(destination, route)) return -1;
    Routes& state = State();
    std::lock_guard<std::mutex> guard(state.mutex);
    Replace(index, route);
    return 0;
}
