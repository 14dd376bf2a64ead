// The version of the library, for programs that compare it with the headers they were
// compiled against.
#include <ovutil/version.h>

extern "C" OVUTIL_EXPORT const char* ovutil_version(void) { return OVUTIL_VERSION_STRING; }
