/* Export macro of libovutil: only what carries it is visible outside the library. */
#ifndef OVUTIL_EXPORT_H
#define OVUTIL_EXPORT_H
#define OVUTIL_EXPORT __attribute__((visibility("default")))
#endif
