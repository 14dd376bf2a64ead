// Export macro of the object and collection library: everything else stays hidden.
#ifndef OVZ_EXPORT_H
#define OVZ_EXPORT_H
#define OVZ_EXPORT __attribute__((visibility("default")))
#endif
