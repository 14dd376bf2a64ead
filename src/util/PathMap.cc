// PathMap: the install path table of the process.

#include <ovutil/PathMap.h>

#include <ovz/strings.h>

#include "internal/startup.h"

PathMap* PathMap::ovPaths_ = nullptr;

PathMap::PathMap() : ZHashKeyMap_6_0(50, 1) {}

PathMap::~PathMap() = default;

void PathMap::addOvPath(const char* path) {
    if (path == nullptr) return;
    // Called before start-up, the table would not exist yet; start-up makes it.
    ovutil_internal::runStartUp();
    ovPaths_->putEntry(ZUTF8ConstString_6_0(path), ZLCString_6_0(path));
}
