// Private: reading a file whole and replacing a file without ever losing it.
//
// Paths come from callers and configuration: a path may name a FIFO, a device or a link to
// one. Reads open without blocking and accept regular files only; replacements write a new
// file beside the old one and rename it into place.
#ifndef OVZ_SRC_FILE_IO_H
#define OVZ_SRC_FILE_IO_H

#include <sys/types.h>

#include <cstddef>
#include <string>

#include "byte_buffer.h"

namespace ovz_properties {

// Failure codes besides errno values.
constexpr int kNotRegularFile = -1;

// The text of a failure code of the functions below: strerror for an errno value.
const char* fileErrorText(int err);

// Reads the whole file `name` into `out`: 0, or an errno value (EISDIR for a directory,
// EFBIG when the file holds more than `maxSize` bytes), or kNotRegularFile for anything but
// a regular file (FIFOs, devices, sockets, also behind symbolic links), which is refused
// without being read or waited for. `out` is changed only on success. Throws std::bad_alloc
// when memory runs out.
int readWholeFile(const char* name, ByteBuffer& out, size_t maxSize);
int readWholeFile(const char* name, std::string& out, size_t maxSize);

// Temporary files of replaceFile are named "." + base name of the target + ".tmp." + process
// id + "." + six letters or digits, in the target's directory, and are write-locked (open
// file description locks) by their writer until they have been renamed or removed.
struct ReplaceOptions {
    // Permission bits of a file that does not exist yet; null: 0666 masked by the process's
    // umask (and the directory's default ACL), as open(2) gives.
    const mode_t* newFileMode = nullptr;
    // Write into an unnamed file (O_TMPFILE) that gets a name only once it is complete;
    // false, or where the file system cannot, a named temporary file is written instead.
    bool unnamedFirst = true;
};

// Writes all `size` bytes of `data` to `fd`, through short writes and interruptions: 0, or
// the errno value of the write that failed.
int writeAll(int fd, const char* data, size_t size);

// Writes the new contents of a replacement into `fd`, an empty file open for writing, with as
// many calls of write(2) (writeAll) as it likes: 0, or an errno value, which makes the
// replacement fail. It is called again, for another empty file, when an unnamed temporary
// file cannot be given a name, and must then write the same contents from the start. It must
// not throw.
using ContentWriter = int (*)(void* context, int fd);

// Replaces `name` with `data`: writes a temporary file in the same directory, syncs it, gives
// it what was set on the file it replaces (permission bits, extended attributes with the
// POSIX ACLs among them, the owner and group where this process may set them: root both, a
// member of the file's group the group), renames it over the file and syncs the directory.
// A symbolic link is followed: its target is replaced. A file that the caller could not
// write in place (its permissions, ACL, an immutable flag, a read-only mount) is not replaced:
// the errno value of that test (EACCES, EPERM, EROFS) is returned; when it is the directory
// that refuses the new file or the rename, `*refusedBy` (when not null) gets the directory's
// path, else it is left empty. Before writing, removes the temporary files of earlier
// replacements of the same file that no live writer holds locked (debris of processes
// killed mid-way). Returns 0 once the rename has happened; the directory sync may still have
// failed then, and `*syncError` (when not null) gets its errno value, else 0. Returns an
// errno value when the file was not replaced; the original is then as it was and no
// temporary file is left.
int replaceFile(const char* name, const std::string& data, const ReplaceOptions& options,
                int* syncError, std::string* refusedBy = nullptr);
// The same, with the contents that `write` produces (called with `context`) instead of a
// string: a large file is written as it is made, without a copy of it in memory.
int replaceFile(const char* name, ContentWriter write, void* context, const ReplaceOptions& options,
                int* syncError, std::string* refusedBy = nullptr);

}  // namespace ovz_properties

#endif
