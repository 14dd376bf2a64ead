/* Export macro of the ASN.1 codec: everything else in the library stays hidden. */
#ifndef OVASN_EXPORT_H
#define OVASN_EXPORT_H
#define OVASN_EXPORT __attribute__((visibility("default")))
#endif
