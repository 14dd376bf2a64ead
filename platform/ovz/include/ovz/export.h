// Export macro of the object and collection library: everything else stays hidden.
#ifndef OVZ_EXPORT_H
#define OVZ_EXPORT_H
#define OVZ_EXPORT __attribute__((visibility("default")))
// Keeps a member of an exported class inside the library: the private helpers that no
// inline function of a public header calls (those stay exported, as ZLock_6_0::fail).
#define OVZ_LOCAL __attribute__((visibility("hidden")))
#endif
