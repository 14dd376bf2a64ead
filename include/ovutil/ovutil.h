/** @file
 * ovutil: every public header of the library in one include.
 *
 * C programs get the C families; C++ programs get the classes as well.
 *
 * Library-wide conventions (each header states only its exceptions):
 *  1. Threads: the library runs in its callers' threads and starts none. Process-wide objects
 *     are created once under a once-control and never freed. Maps, typed objects and
 *     attribute lists are used by one thread at a time; the caller serialises access.
 *  2. Errors: C entry points return a status (0 is success), a count, a flag or a new text,
 *     and never throw, except the attribute-list operations (out of memory) and
 *     utf8_validchars (a reject list it must refuse). C++ classes
 *     throw the object library's exceptions (ZException_6_0 and its subclasses).
 *  3. Memory: texts and arrays handed to C callers come from malloc and are released with
 *     free by the caller; texts returned by the message look-ups and ov_get_path belong to
 *     the library.
 */
#ifndef OVUTIL_OVUTIL_H
#define OVUTIL_OVUTIL_H

#include <ovutil/attrlist.h>
#include <ovutil/cfgfile.h>
#include <ovutil/encode.h>
#include <ovutil/fipsMode.h>
#include <ovutil/getpath.h>
#include <ovutil/mime64.h>
#include <ovutil/version.h>
#include <ovutil/wvlock.h>
#include <ovutil/wvmsg.h>
#include <ovutil/wvwchar.h>

#ifdef __cplusplus
#include <ovutil/I18NCache.h>
#include <ovutil/MrProcessLock.h>
#include <ovutil/NameValueMap.h>
#include <ovutil/OVMessageService.h>
#include <ovutil/OVObject.h>
#include <ovutil/OVStanzaFileProperties.h>
#include <ovutil/PathMap.h>
#endif

#endif /* OVUTIL_OVUTIL_H */
