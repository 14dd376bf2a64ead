/// @file
/// PathMap: the install path table of the process.
///
/// The table maps a default install path to where the file really is on this installation,
/// and a few symbolic keys (beginning with "#") to values that have no default location, such
/// as the common directory root. It holds only what start-up and the callers put in it; a path
/// that is not in it stays where it is (see ov_get_path in <ovutil/getpath.h>).
///
/// Keys and values are string objects of the object library; the table keeps its own copies
/// and compares keys by their text, whatever string class carries them:
///
/// @code
///   ZUTF8ConstString_6_0 key("/var/Orvan/log");
///   ZAbstractString_6_0* where = static_cast<ZAbstractString_6_0*>(ovPaths_->getEntry(key));
/// @endcode
///
/// Threads: the table takes no lock. Start-up fills it under its once-control; afterwards only
/// ov_selvan_common_directory_init and addOvPath change it, and a program calls them before
/// its other threads read the entries they touch.
#ifndef OVUTIL_PATHMAP_H
#define OVUTIL_PATHMAP_H

#include <ovutil/export.h>
#include <ovutil/getpath.h>
#include <ovz/collections.h>

/// The install path table (see the file description): default install paths and symbolic
/// keys mapped to where the files are on this installation.
class OVUTIL_EXPORT PathMap : public ZHashKeyMap_6_0 {
public:
    /// An empty owning table of 50 buckets. Start-up makes the process's one table; other
    /// instances are plain maps of their own.
    PathMap();
    ~PathMap() override;

    /// Adds `path` -> `path` to the process table ovPaths_, whatever object it is called on,
    /// so that ov_get_path(path) returns the table's own copy of the path from then on. Runs
    /// start-up first if it has not run. A null path is ignored. Throws
    /// ZOutOfMemoryException_6_0 when the copy cannot be made.
    void addOvPath(const char* path);

    /// The process table: null until start-up has run, then never replaced or destroyed. It
    /// belongs to the library.
    static PathMap* ovPaths_;
};

#endif  // OVUTIL_PATHMAP_H
