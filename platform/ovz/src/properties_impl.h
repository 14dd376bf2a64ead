// Private: the state of a properties object and helpers shared by the properties sources.
#ifndef OVZ_SRC_PROPERTIES_IMPL_H
#define OVZ_SRC_PROPERTIES_IMPL_H

#include <sys/types.h>

#include <memory>
#include <shared_mutex>
#include <string>
#include <string_view>

#include <ovz/properties.h>

#include "file_io.h"
#include "stanza_document.h"

struct ZProperties_6_0::Impl {
    // Readers share, writers (edits, the swap of a newly loaded document) hold it alone.
    mutable std::shared_mutex lock;
    std::unique_ptr<ovz_stanza::Document> doc = std::make_unique<ovz_stanza::Document>();
    std::string fileName;  // of the last successful load
    // Permission bits of a file that store() creates, once set by setAttributes; until then
    // a new file gets what open(2) gives to 0666.
    bool newFileModeSet = false;
    mode_t newFileMode = 0;
};

namespace ovz_properties {

// Each throws ZInvalidParameterException_6_0 for an argument the document cannot hold.
std::string_view stanzaArg(const char* stanza);
std::string_view keyArg(const char* key);
std::string_view valueArg(const char* value);
std::string_view textArg(const char* text);  // comment texts: only null is refused
void noFlags(int flags);

// The UTF-8 bytes of a string of either code set.
std::string utf8Of(const ZAbstractString_6_0& text);
// Assigns file bytes (UTF-8) to `out`, converted into its code set.
void assignFromFile(ZAbstractMutableString_6_0& out, std::string_view utf8);
// A new string of `type` holding file bytes, appended to `out`.
void appendString(ZArrayList_6_0& out, std::string_view utf8, ZPropertyStringType type);

// The largest file that load() reads: the stanza document addresses its text with 31 bits.
constexpr size_t kMaxPropertiesFile = ZPROPERTIES_MAX_FILE_SIZE;

}  // namespace ovz_properties

#endif
