// Start-up of the library, for the units of src/ that need the install path table.
#ifndef OVUTIL_INTERNAL_STARTUP_H
#define OVUTIL_INTERNAL_STARTUP_H

namespace ovutil_internal {

// Runs the start-up routine of getpath.cc once per process (pthread_once) and returns when it
// has run, in whichever thread it ran. Afterwards PathMap::ovPaths_ exists.
void runStartUp();

}  // namespace ovutil_internal

#endif  // OVUTIL_INTERNAL_STARTUP_H
