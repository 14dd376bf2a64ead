/** @file
 * Export macro of libovutil: only what carries it is visible outside the library. */
#ifndef OVUTIL_EXPORT_H
#define OVUTIL_EXPORT_H
/** Marks a declaration as part of the library's interface (default visibility). */
#define OVUTIL_EXPORT __attribute__((visibility("default")))
/** Keeps a member of an exported class inside the library: the private helpers that no
 * inline function of a public header calls. */
#define OVUTIL_LOCAL __attribute__((visibility("hidden")))
#endif
