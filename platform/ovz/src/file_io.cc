#include "file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include "descriptor.h"

namespace ovz_properties {

namespace {

using ovz_internal::Fd;

int refusal(const struct stat& st) { return S_ISDIR(st.st_mode) ? EISDIR : kNotRegularFile; }

constexpr std::string_view kTempMark = ".tmp.";
constexpr size_t kRandomLetters = 6;

bool isAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Whether `name` is a temporary file name of the target `base` (see ReplaceOptions).
bool isTempName(std::string_view name, std::string_view base) {
    if (name.size() < 1 + base.size() + kTempMark.size() || name[0] != '.' ||
        name.substr(1, base.size()) != base ||
        name.substr(1 + base.size(), kTempMark.size()) != kTempMark)
        return false;
    std::string_view rest = name.substr(1 + base.size() + kTempMark.size());
    size_t digits = 0;
    while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
    if (digits == 0 || rest.size() != digits + 1 + kRandomLetters || rest[digits] != '.')
        return false;
    for (char c : rest.substr(digits + 1))
        if (!isAlnum(c)) return false;
    return true;
}

std::string tempName(const std::string& dirPrefix, const std::string& base) {
    static std::atomic<uint64_t> counter{0};
    uint64_t bits = 0;
    if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits)) {
        // No entropy at hand: the clock and a counter still make clashes rare, and O_EXCL (or a
        // link that refuses an existing name) catches the rest.
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        bits = static_cast<uint64_t>(now.tv_nsec) ^ (static_cast<uint64_t>(now.tv_sec) << 30);
    }
    bits = (bits + counter.fetch_add(1, std::memory_order_relaxed)) * 0x9E3779B97F4A7C15ull;
    static const char kLetters[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::string name = dirPrefix + "." + base;
    name.append(kTempMark);
    name.append(std::to_string(::getpid()));
    name.push_back('.');
    for (size_t i = 0; i < kRandomLetters; ++i) {
        name.push_back(kLetters[bits % 62]);
        bits /= 62;
    }
    return name;
}

// A write lock on the whole file, held until the descriptor is closed. Open file description
// locks conflict between descriptors even within one process, so a store in one thread never
// takes the file another thread is writing for debris. A file system without such locks
// (EINVAL) leaves the file unlocked; cleaners there cannot lock either and remove nothing.
int lockForWriting(int fd, bool wait) {
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    while (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) != 0) {
        if (errno == EINTR) continue;
        return errno == EINVAL ? 0 : errno;
    }
    return 0;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Removes the temporary files of earlier replacements of `base` in `dir` that nobody holds
// locked: their writers were killed before renaming them. Best effort: whatever cannot be
// opened, locked or listed stays.
void removeDebris(const std::string& dir, const std::string& base) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) return;
    const int dfd = ::dirfd(d);
    while (const dirent* e = ::readdir(d)) {
        if (!isTempName(e->d_name, base)) continue;
        Fd fd(::openat(dfd, e->d_name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
        struct stat st;
        if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        // A read lock conflicts with the writer's write lock, and holding it keeps a writer
        // that has just made the file from locking it until this look is over (it then finds
        // its file gone and makes another).
        struct flock lock = {};
        lock.l_type = F_RDLCK;
        lock.l_whence = SEEK_SET;
        if (::fcntl(fd.get(), F_OFD_SETLK, &lock) != 0) continue;
        struct stat now;
        if (::fstatat(dfd, e->d_name, &now, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(now, st))
            ::unlinkat(dfd, e->d_name, 0);
    }
    ::closedir(d);
}

// What the new file gets before it is synced: the owner, group, permission bits and extended
// attributes of the file it replaces (POSIX ACLs are the extended attributes
// system.posix_acl_access and system.posix_acl_default, and travel with them).
struct Finish {
    bool replacing = false;  // an existing file is replaced
    bool chmod = false;
    mode_t mode = 0;
    bool chown = false;  // owner and group (root)
    bool chgrp = false;  // the group only (others: allowed when they belong to it)
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<std::pair<std::string, std::string>> xattrs;  // name, value
};

bool isAcl(const std::string& name) {
    return name == "system.posix_acl_access" || name == "system.posix_acl_default";
}

// The extended attributes of `path` that this process can read, into `out`. A file system
// without them gives none. Returns 0 or an errno value.
int readAttributes(const char* path, std::vector<std::pair<std::string, std::string>>& out) {
    std::vector<char> names;
    for (;;) {
        ssize_t size = ::listxattr(path, nullptr, 0);
        if (size < 0) return (errno == ENOTSUP || errno == ENOSYS) ? 0 : errno;
        if (size == 0) return 0;
        names.resize(static_cast<size_t>(size));
        size = ::listxattr(path, names.data(), names.size());
        if (size < 0 && errno == ERANGE) continue;  // grew meanwhile
        if (size < 0) return errno;
        names.resize(static_cast<size_t>(size));
        break;
    }
    for (size_t i = 0; i < names.size();) {
        std::string name(names.data() + i);
        i += name.size() + 1;
        if (name.empty()) continue;
        std::string value;
        for (;;) {
            ssize_t size = ::getxattr(path, name.c_str(), nullptr, 0);
            if (size < 0) break;
            value.resize(static_cast<size_t>(size));
            size = ::getxattr(path, name.c_str(), value.data(), value.size());
            if (size < 0 && errno == ERANGE) continue;
            if (size >= 0) {
                value.resize(static_cast<size_t>(size));
                out.emplace_back(std::move(name), std::move(value));
            }
            break;
        }
        // An attribute this process may not read (trusted.*, some security.*) stays
        // behind: there is nothing to copy.
    }
    return 0;
}

int fill(int fd, ContentWriter write, void* context, const Finish& finish) {
    if (int err = write(context, fd)) return err;
    // The attributes first, the owner next, the permission bits last: an access ACL sets the
    // group bits (its mask), a change of owner may clear the set-user-ID and set-group-ID bits,
    // and the final chmod gives the bits of the original, whose group bits are that same mask.
    for (const auto& [name, value] : finish.xattrs) {
        if (::fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) == 0) continue;
        // The ACLs decide who may read and write the file: the file is not replaced without
        // them. Other attributes are copied where this process may set them (security labels
        // and trusted.* need privileges it may lack).
        if (isAcl(name)) return errno;
    }
    // A file without an access ACL of its own does not take one from the directory's default.
    bool hadAccessAcl = false;
    for (const auto& attribute : finish.xattrs)
        if (attribute.first == "system.posix_acl_access") hadAccessAcl = true;
    if (finish.replacing && !hadAccessAcl && ::fremovexattr(fd, "system.posix_acl_access") != 0 &&
        errno != ENODATA && errno != ENOTSUP && errno != EOPNOTSUPP)
        return errno;
    if (finish.chown && ::fchown(fd, finish.uid, finish.gid) != 0) return errno;
    if (finish.chgrp && !finish.chown) ::fchown(fd, static_cast<uid_t>(-1), finish.gid);
    if (finish.chmod && ::fchmod(fd, finish.mode) != 0) return errno;
    if (::fsync(fd) != 0) return errno;
    return 0;
}

// Whether `err`, from creating a file in a directory or renaming in it, is the directory's
// refusal (permissions, a read-only file system), as opposed to a failure of the system.
bool directoryRefused(int err) { return err == EACCES || err == EPERM || err == EROFS; }

// Gives the complete unnamed file `fd` a temporary name. 0 when done; -1 when this system
// cannot link an unnamed file (the caller writes a named file instead); else an errno value.
int nameUnnamed(int fd, const std::string& dirPrefix, const std::string& base, std::string* name) {
    char proc[64];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name = tempName(dirPrefix, base);
        if (::linkat(AT_FDCWD, proc, AT_FDCWD, name->c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
        if (errno == EEXIST) continue;
        // Without /proc, only a caller with CAP_DAC_READ_SEARCH may link a descriptor itself.
        if (errno == ENOENT && ::linkat(fd, "", AT_FDCWD, name->c_str(), AT_EMPTY_PATH) == 0)
            return 0;
        if (errno == EEXIST) continue;
        return (errno == ENOENT || errno == EPERM || errno == EACCES || errno == EXDEV ||
                errno == EOPNOTSUPP)
                   ? -1
                   : errno;
    }
    return EEXIST;
}

// Makes, locks and names a new temporary file; the descriptor goes to `fd`.
int createNamed(const std::string& dirPrefix, const std::string& base, mode_t mode, Fd& fd,
                std::string* name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name = tempName(dirPrefix, base);
        fd.reset(::open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode));
        if (fd.get() < 0) {
            if (errno == EEXIST) continue;
            return errno;
        }
        // Until the lock is held, a cleaner may take the new file for debris: once it is held,
        // make sure the name is still this file's.
        if (int err = lockForWriting(fd.get(), true)) {
            ::unlink(name->c_str());
            return err;
        }
        struct stat mine, named;
        if (::fstat(fd.get(), &mine) == 0 && mine.st_nlink > 0 &&
            ::lstat(name->c_str(), &named) == 0 && sameFile(mine, named))
            return 0;
    }
    fd.reset();
    return EEXIST;
}

}  // namespace

const char* fileErrorText(int err) {
    if (err == kNotRegularFile) return "not a regular file";
    return std::strerror(err);
}

int writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}

int readWholeFile(const char* name, ByteBuffer& out, size_t maxSize) {
    struct stat st;
    // Look before opening: opening a device may have effects of its own, and opening a FIFO
    // waits for a writer.
    if (::stat(name, &st) == 0 && !S_ISREG(st.st_mode)) return refusal(st);
    // The path may change between the look and the open: O_NONBLOCK keeps the open of a FIFO
    // from waiting, and what was opened is checked again.
    Fd fd(::open(name, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0) return errno;
    if (::fstat(fd.get(), &st) != 0) return errno;
    if (!S_ISREG(st.st_mode)) return refusal(st);
    int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags >= 0) ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    if (st.st_size < 0 || static_cast<uint64_t>(st.st_size) > maxSize) return EFBIG;
    // The bytes are read straight into the buffer, sized by the file (and not cleared first);
    // the file may grow or shrink while it is read, so the buffer grows geometrically past
    // that size and is cut to what was read.
    ByteBuffer data;
    data.resize(static_cast<size_t>(st.st_size) + 1);
    size_t got = 0;
    for (;;) {
        if (got == data.size()) {
            if (data.size() > maxSize) return EFBIG;
            data.resize(data.size() <= maxSize / 2 ? data.size() * 2 : maxSize + 1);
        }
        ssize_t n = ::read(fd.get(), data.data() + got, data.size() - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
        if (got > maxSize) return EFBIG;
    }
    data.resize(got);
    out.swap(data);
    return 0;
}

int readWholeFile(const char* name, std::string& out, size_t maxSize) {
    ByteBuffer data;
    const int err = readWholeFile(name, data, maxSize);
    if (!err) out.assign(data.data(), data.size());
    return err;
}

int replaceFile(const char* name, const std::string& data, const ReplaceOptions& options,
                int* syncError, std::string* refusedBy) {
    auto write = [](void* context, int fd) {
        const std::string& text = *static_cast<const std::string*>(context);
        return writeAll(fd, text.data(), text.size());
    };
    return replaceFile(name, write, const_cast<std::string*>(&data), options, syncError, refusedBy);
}

int replaceFile(const char* name, ContentWriter write, void* context, const ReplaceOptions& options,
                int* syncError, std::string* refusedBy) {
    if (syncError) *syncError = 0;
    if (refusedBy) refusedBy->clear();
    std::string target(name);
    struct stat st;
    bool exists = ::lstat(name, &st) == 0;
    if (exists && S_ISLNK(st.st_mode)) {
        // Renaming over a link would replace the link itself; write beside its target.
        char* real = ::realpath(name, nullptr);
        if (!real) return errno;
        target = real;
        std::free(real);
        exists = ::stat(target.c_str(), &st) == 0;
    }
    if (exists && !S_ISREG(st.st_mode)) return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    // A file the caller could not have written in place is not replaced behind its back
    // because the directory happens to let the caller make files: the test is the one a
    // write in place would meet (permission bits, ACLs, an immutable file, a read-only mount),
    // with the effective ids.
    if (exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return errno;
    const size_t slash = target.rfind('/');
    const std::string dir =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
    const std::string dirPrefix =
        slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    auto refusedByDirectory = [&](int err) {
        if (refusedBy && directoryRefused(err)) *refusedBy = dir;
        return err;
    };

    removeDebris(dir, base);

    // A file that exists keeps its permission bits, its extended attributes (ACLs among
    // them), its owner when root replaces it and its group when the caller may give it (root,
    // or a member of the group); a new file gets the bits asked for, or those open(2) gives
    // to 0666. A temporary file that is to get bits of its own is private to its owner until
    // then.
    Finish finish;
    finish.replacing = exists;
    finish.chmod = exists || options.newFileMode != nullptr;
    finish.mode =
        exists ? (st.st_mode & 07777) : (options.newFileMode ? (*options.newFileMode & 07777) : 0);
    finish.chown = exists && ::geteuid() == 0;
    finish.chgrp = exists;
    finish.uid = exists ? st.st_uid : 0;
    finish.gid = exists ? st.st_gid : 0;
    if (exists) {
        try {
            if (int err = readAttributes(target.c_str(), finish.xattrs)) return err;
        } catch (std::bad_alloc&) {
            return ENOMEM;
        }
    }
    const mode_t createMode = finish.chmod ? 0600 : 0666;

    Fd fd;
    std::string tmp;  // the temporary name, once there is one
    int err = 0;
    if (options.unnamedFirst) {
        // Nothing gets a name before the data is complete, so a writer killed on the way leaves
        // nothing behind.
        fd.reset(::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, createMode));
        if (fd.get() < 0 && directoryRefused(errno)) return refusedByDirectory(errno);
        if (fd.get() >= 0) {
            err = fill(fd.get(), write, context, finish);
            if (!err) err = lockForWriting(fd.get(), false);
            if (!err) {
                err = nameUnnamed(fd.get(), dirPrefix, base, &tmp);
                if (err == -1) {
                    // This system cannot name an unnamed file: write a named one instead.
                    err = 0;
                    tmp.clear();
                    fd.reset();
                }
            }
            if (err) return err;
        }
        // No unnamed files here (EOPNOTSUPP; EISDIR from kernels that do not know O_TMPFILE):
        // a named temporary file reports whatever else is wrong.
    }
    if (fd.get() < 0) {
        err = createNamed(dirPrefix, base, createMode, fd, &tmp);
        if (err) return refusedByDirectory(err);
        err = fill(fd.get(), write, context, finish);
        if (err) {
            ::unlink(tmp.c_str());
            return err;
        }
    }
    if (::rename(tmp.c_str(), target.c_str()) != 0) {
        err = errno;
        ::unlink(tmp.c_str());
        return refusedByDirectory(err);
    }
    fd.reset();  // releases the lock; the temporary name is gone

    // The rename is durable only once the directory is on disk; but it has happened, so a
    // directory that cannot be synced no longer makes the replacement fail.
    Fd dfd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    int syncErr = 0;
    if (dfd.get() < 0) {
        syncErr = errno;
    } else if (::fsync(dfd.get()) != 0 &&
               errno != EINVAL) {  // some file systems cannot sync directories
        syncErr = errno;
    }
    if (syncError) *syncError = syncErr;
    return 0;
}

}  // namespace ovz_properties
