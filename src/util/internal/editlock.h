// What the post-load upgrade needs to know about the edit holds of the calling thread.
#ifndef OVUTIL_INTERNAL_EDITLOCK_H
#define OVUTIL_INTERNAL_EDITLOCK_H

#include <sys/types.h>

#include <string>

namespace ovutil_internal {

// Whether the calling thread holds the edit hold (OVStanzaFileEditLock) of the file `fileName`
// names: the same file (device and inode), or the same resolved path for a hold taken while the
// file was absent.
bool thisThreadHoldsEdit(const char* fileName);

// The edit of a file through OVStanzaFileProperties::editRegisteredPropertiesFor in the
// calling thread: the load inside it upgrades in memory only, and the edit's one store writes
// the upgrade with the change.
struct DeferredUpgrade {
    pid_t pid = 0;          // the process of the edit (a child forked inside it has none)
    std::string givenName;  // the name the caller gave (the upgrade's rules look at it too)
    std::string path;       // the resolved path that is held
    dev_t dev = 0;
    ino_t ino = 0;
    bool upgraded = false;  // a load inside the edit upgraded the object
};

// The calling thread's edit of the file `fileName` names, or null.
DeferredUpgrade* deferredUpgradeFor(const char* fileName);

// Whether a load in the calling thread is to leave the upgrade alone: the upgrade itself is
// reloading the file under its hold.
bool upgradeSuppressed();

// Suppresses the upgrade of loads in the calling thread for its lifetime.
class SuppressUpgrade {
public:
    SuppressUpgrade();
    ~SuppressUpgrade();
    SuppressUpgrade(const SuppressUpgrade&) = delete;
    SuppressUpgrade& operator=(const SuppressUpgrade&) = delete;

private:
    bool before_;
};

}  // namespace ovutil_internal

#endif  // OVUTIL_INTERNAL_EDITLOCK_H
