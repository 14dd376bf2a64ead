// Tables generated at build time from messages.def (see tools/ovmsggen.cc).
#ifndef OVMSG_SRC_DEFAULTS_H
#define OVMSG_SRC_DEFAULTS_H

#include "ovmsg/msg.h"

namespace ovmsg_internal {

struct CatalogName {
    unsigned int prefix;  // high 20 bits of the message numbers
    const char* name;
};

// In ascending order of prefix.
extern const CatalogName kCatalogs[];
extern const unsigned kCatalogCount;

// In ascending order of number.
extern const ov_msg_entry_t kDefaults[];
extern const unsigned kDefaultCount;

}  // namespace ovmsg_internal

#endif
