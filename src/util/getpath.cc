// Process start-up and the C entry points of the install path table and of the common
// directory of the product family. The table itself is PathMap (PathMap.cc); the message
// service that start-up installs is OVMessageService (OVMessageService.cc).

#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <new>
#include <string>

#include <ovmsg/messages.h>
#include <ovmsg/msg.h>
#include <ovsvc/svc.h>
#include <ovutil/OVMessageService.h>
#include <ovutil/OVStanzaFileProperties.h>
#include <ovutil/PathMap.h>
#include <ovutil/getpath.h>
#include <ovz/exceptions.h>
#include <ovz/message_service.h>
#include <ovz/properties.h>
#include <ovz/strings.h>

#include "internal/logging.h"
#include "internal/objectlib.h"
#include "internal/startup.h"

namespace {

// Every record of this unit names this source file.
constexpr char kSourceFile[] = "src/util/getpath";

const char kCatalogRoot[] = "/opt/Orvan/nls/msg";
const char kUcxDir[] = "/opt/Orvan/nls/UCX";
using ovutil_internal::kProductConfigFile;
const char kLogDir[] = "/var/Orvan/log";
const char kScdCfgDir[] = "/zel/selvan/common/cfg";
const char kScdPropertiesName[] = "log.properties";
const char kScdKey[] = "selvan_common_dir";

// The statuses of ov_selvan_common_directory_init are message numbers of their own.
static_assert(OV_SCD_S_NO_PRODUCT_ROOT == OV_MSG_SCD_NO_PRODUCT_ROOT);
static_assert(OV_SCD_S_NO_FAMILY_ROOT == OV_MSG_SCD_NO_FAMILY_ROOT);
static_assert(OV_SCD_S_ROOTS_DIFFER == OV_MSG_SCD_ROOTS_DIFFER);

const char* const kRelocatedLogs[] = {
    "msg__ovacld.log",    "msg__ovmgrd.log",  "msg__ovmgrproxyd.log",
    "ovconfig_proxy.log", "ovconfig_rmc.log", "ovconfig_audit.log",
};

pthread_once_t util_init_once = PTHREAD_ONCE_INIT;
std::atomic<int> util_inited{0};
OVMessageService* theMessageService = nullptr;
ZLCString_6_0* scdRoot_ = nullptr;

// Start-up cannot go on without memory.
[[noreturn]] void outOfMemory(int line) {
    ovutil_internal::logOutOfMemory(kSourceFile, line);
    abort();
}

void traceCaught(int line, const char* className) {
    ovutil_internal::traceCaught(kSourceFile, line, className);
}

void addPath(const char* key, const char* value) {
    PathMap::ovPaths_->putEntry(ZUTF8ConstString_6_0(key), ZLCString_6_0(value));
}

// The family-wide common directory root from log.properties.
void readFamilyRoot(const std::string& propertiesFile) {
    struct stat st;
    if (stat(propertiesFile.c_str(), &st) != 0) return;
    try {
        ZJavaProperties_6_0 properties;
        if (properties.load(propertiesFile.c_str(), kScdKey) == 0) return;
        ZUTF8String_6_0 value;
        properties.getValue(kScdKey, value);
        if (value.isEmpty()) return;
        // The root is a path: kept as the file's bytes, never converted, so that no
        // locale can change the directory it names.
        try {
            scdRoot_ = new (std::nothrow) ZLCString_6_0(ovutil_internal::textOf(value));
        } catch (ZOutOfMemoryException_6_0&) {
            scdRoot_ = nullptr;
        }
        if (scdRoot_ == nullptr) outOfMemory(__LINE__);
        PathMap::ovPaths_->putEntry(ZUTF8ConstString_6_0("#ov_undefined_scd_root"), *scdRoot_);
    } catch (ZException_6_0& e) {
        traceCaught(__LINE__, "ZException");
        e.report();
    }
}

// The catalogs installed with this library, as an entry of the catalog search path
// ("<dir>/%L/%N.cat"), or "" when there are none. The directory is found from the file this
// library was loaded from (symbolic links resolved), so a copy installed under any prefix, or
// moved there as a whole, finds its own catalogs. The installed tool carries the library's
// code in its own file, in the directory of programs: the catalogs are then found from there.
// A directory that does not exist adds nothing.
std::string installedCatalogEntry() {
#if defined(OV_INSTALLED_NLS_FROM_LIBDIR) && defined(OV_INSTALLED_NLS_FROM_BINDIR)
    static const char anchor = 0;  // any address inside this library
    Dl_info info, program;
    if (dladdr(&anchor, &info) == 0 || info.dli_fname == nullptr) return "";
    const bool inProgram = dladdr(reinterpret_cast<void*>(getauxval(AT_ENTRY)), &program) != 0 &&
                           program.dli_fbase == info.dli_fbase;
    char* library = realpath(inProgram ? "/proc/self/exe" : info.dli_fname, nullptr);
    // Without /proc: the name the program was started by, while the directory is the same.
    if (library == nullptr && inProgram)
        library = realpath(reinterpret_cast<const char*>(getauxval(AT_EXECFN)), nullptr);
    if (library == nullptr) return "";
    std::string dir(library);
    free(library);
    dir.erase(dir.rfind('/') + 1);
    dir += inProgram ? OV_INSTALLED_NLS_FROM_BINDIR : OV_INSTALLED_NLS_FROM_LIBDIR;
    char* catalogs = realpath(dir.c_str(), nullptr);
    if (catalogs == nullptr) return "";
    dir = catalogs;
    free(catalogs);
    struct stat st;
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return "";
    // ':' separates the entries and cannot be escaped; '%' is written "%%".
    std::string entry;
    for (char c : dir) {
        if (c == ':') return "";
        entry += c;
        if (c == '%') entry += '%';
    }
    return entry + "/%L/%N.cat";
#else
    return "";
#endif
}

// The product's catalogs go in front of whatever search path the process has, followed by the
// catalogs installed with this library. The search path never ends in an empty entry: the
// catalog look-up would read an empty entry as the current directory.
void setCatalogPath() {
    const char* current = ucx_get_nlspath();
    if (current == nullptr) current = "";
    if (strstr(current, kCatalogRoot) != nullptr) return;
    std::string value =
        std::string("NLSPATH=") + kCatalogRoot + "/%L/%N:" + kCatalogRoot + "/%L/%N.cat";
    std::string installed = installedCatalogEntry();
    if (!installed.empty()) value += ":" + installed;
    if (*current != '\0') value += std::string(":") + current;
    char* buffer = static_cast<char*>(malloc(value.size() + 1));
    if (buffer == nullptr) outOfMemory(__LINE__);
    memcpy(buffer, value.c_str(), value.size() + 1);
    // The buffer becomes the environment's own entry; it must never be freed.
    putenv(buffer);
}

// UCXDIR: the variable always ends up naming the install default.
void setUcxDir() {
    const char* current = ucx_get_dir();
    if (current == nullptr) current = "";
    if (strcmp(current, kUcxDir) == 0) return;
    static const char format[] = "UCXDIR=%s";
    size_t size = strlen(kUcxDir) + strlen(format) + 11;
    char* buffer = static_cast<char*>(malloc(size));
    if (buffer == nullptr) outOfMemory(__LINE__);
    snprintf(buffer, size, format, kUcxDir);
    putenv(buffer);
}

// Moves the log files into the common directory named by the product configuration.
void relocateLogs() {
    struct stat st;
    if (stat(kProductConfigFile, &st) != 0) return;
    try {
        ZStanzaFileProperties_6_0* config =
            OVStanzaFileProperties::getRegisteredPropertiesFor(kProductConfigFile, 0);
        if (config == nullptr) return;
        ZUTF8String_6_0 utf8Root;
        config->getValue("ovrte", kScdKey, utf8Root, 0, nullptr);
        if (utf8Root.isEmpty()) return;
        // The file's bytes, as for the family root.
        ZLCString_6_0 root(ovutil_internal::textOf(utf8Root));
        PathMap::ovPaths_->putEntry(ZUTF8ConstString_6_0("#ov_undefined_ov_scd_root"), root);
        ZLCString_6_0 logs = root + "/" + "ORV" + "/" + "logs";
        addPath(kLogDir, ovutil_internal::textOf(logs));
        for (const char* name : kRelocatedLogs) {
            std::string key = std::string(kLogDir) + "/" + name;
            ZLCString_6_0 value = logs + "/" + name;
            addPath(key.c_str(), ovutil_internal::textOf(value));
        }
    } catch (ZException_6_0& e) {
        traceCaught(__LINE__, "ZException");
        e.report();
    }
}

// Runs once per process, through util_init_once. Reading the two configuration files catches what
// goes wrong there; anywhere else only memory can run out, and start-up cannot go on without it.
void doUtilInit() {
    theMessageService = new OVMessageService();
    ZMessageService_6_0::setMessageService(theMessageService);

    PathMap::ovPaths_ = new PathMap();

    std::string cfgDir = std::string("/etc") + kScdCfgDir;
    addPath(kScdCfgDir, cfgDir.c_str());
    std::string propertiesFile = cfgDir + "/" + kScdPropertiesName;
    addPath("#scd_cfg_file", propertiesFile.c_str());

    readFamilyRoot(propertiesFile);
    setCatalogPath();
    setUcxDir();
    relocateLogs();
}

extern "C" void doUtilInitOnce() {
    try {
        doUtilInit();
    } catch (ZOutOfMemoryException_6_0&) {
        outOfMemory(__LINE__);
    } catch (std::bad_alloc&) {
        outOfMemory(__LINE__);
    }
}

// The text of a stored value; an empty string object may carry no characters at all.
const char* valueText(const ZObject_6_0* value) {
    const char* text = static_cast<const ZAbstractString_6_0*>(value)->getChars();
    return text != nullptr ? text : "";
}

}  // namespace

void ovutil_internal::runStartUp() { pthread_once(&util_init_once, doUtilInitOnce); }

// ---- C entry points -------------------------------------------------------------------------

extern "C" {

OVUTIL_EXPORT void ovutil_init(void) {
    if (util_inited.load(std::memory_order_acquire) == 0) {
        ovutil_internal::runStartUp();
        util_inited.store(1, std::memory_order_release);
    }
}

OVUTIL_EXPORT const char* ov_get_path(const char* key) {
    ovutil_internal::runStartUp();
    if (key == nullptr) return nullptr;
    ZObject_6_0* value = PathMap::ovPaths_->getEntry(ZUTF8ConstString_6_0(key));
    if (value != nullptr) return valueText(value);
    if (key[0] == '#') return nullptr;
    return key;
}

OVUTIL_EXPORT int ov_change_directory(const char* key) {
    const char* path = ov_get_path(key);
    if (path == nullptr) return ENOENT;
    if (chdir(path) == 0) return 0;
    return errno;
}

OVUTIL_EXPORT unsigned int ov_selvan_common_directory_init(const char* component) {
    const char* familyRoot = ov_get_path("#ov_undefined_scd_root");
    const char* productRoot = ov_get_path("#ov_undefined_ov_scd_root");
    if (familyRoot == nullptr) return OV_SCD_S_NO_FAMILY_ROOT;
    if (productRoot == nullptr) return OV_SCD_S_NO_PRODUCT_ROOT;
    unsigned int result =
        strcmp(productRoot, familyRoot) != 0 ? OV_SCD_S_ROOTS_DIFFER : OV_SCD_S_OK;
    // Only memory can run out here, in the strings or in the table. The entries would not all
    // be registered and no status says so: as in start-up, running out of memory here ends
    // the process, whichever way it is reported.
    try {
        std::string base = std::string(productRoot) + "/" + (component != nullptr ? component : "");
        addPath("#ov_undefined_ov_scd_base", base.c_str());
        base += "/";
        addPath("#ov_undefined_ov_scd_logs", (base + "logs").c_str());
        addPath("#ov_undefined_ov_scd_ffdc", (base + "ffdc").c_str());
        addPath("#ov_undefined_ov_scd_scripts", (base + "scripts").c_str());
    } catch (ZException_6_0&) {
        traceCaught(__LINE__, "ZException");
        outOfMemory(__LINE__);
    } catch (std::bad_alloc&) {
        outOfMemory(__LINE__);
    }
    return result;
}

}  // extern "C"
