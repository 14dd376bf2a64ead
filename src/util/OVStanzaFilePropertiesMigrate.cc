// The post-load upgrade of the product's stanza files.
//
// Every file carries its generation in "meta-info" / "version". Files up to 0x50F get stage 1
// and stage 2, files up to 0x60F stage 2 only; stage 2 raises the version to 0x610 and the
// file is stored, so the next load finds nothing to do. Rules that belong to one product file
// are chosen by which file it is: a substring match on the name as given or on the resolved
// path, or the same file (device and inode) as the product's. The file on disk changes only
// through the final store, which replaces it whole (never a half-written file), and only under
// the file's edit hold: the file is loaded again under it and the version read again, so an
// edit that another process stored meanwhile is never overwritten. Values are read and
// written as UTF-8, the file's own bytes, so that the locale of the process never changes a
// text on its way from one key to another.
#include <ovutil/OVStanzaFileProperties.h>

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include <ovmsg/messages.h>
#include <ovsvc/svc.h>
#include <ovz/exceptions.h>
#include <ovz/properties.h>
#include <ovz/strings.h>

#include "internal/editlock.h"
#include "internal/logging.h"
#include "internal/objectlib.h"

namespace {

// Records of this unit carry the name of the class's source unit.
constexpr char kSourceFile[] = "src/util/OVStanzaFileProperties";

constexpr unsigned int kStage1Last = 0x50F;
constexpr unsigned int kStage2Last = 0x60F;
constexpr unsigned int kCurrentVersion = 0x610;

using ovutil_internal::kProductConfigFile;
constexpr const char* kWvmgrdConf = "/opt/Orvan/etc/wvmgrd.conf";
constexpr const char* kWvacldConf = "/opt/Orvan/etc/wvacld.conf";
constexpr const char* kLdapConf = "/opt/Orvan/etc/ldap.conf";

// The directory-server keys that moved from "ldap" to "ovconfig".
constexpr char kDirectoryServerKeys[4][20] = {"LdapSSL", "LdapSSLKeyFile", "LdapSSLKeyFilePwd",
                                              "LdapSSLKeyFileDn"};

constexpr const char* kCredTagsStanza = "ldap-ext-cred-tags";
constexpr const char* kLegacyCredTags = "LEGACY_ldap-ext-cred-tags";

// Gives stanza/key the default `value` when the stanza exists and the key is missing or
// empty. The comment goes only to a key that is new: a key that was there with an empty
// value already has its own.
void fill(OVStanzaFileProperties& props, const char* stanza, const char* key, const char* value,
          const char* comment) {
    if (!props.exists(stanza)) return;
    const int existed = props.exists(stanza, key);
    ZUTF8String_6_0 current;
    props.getValue(stanza, key, current, 0, nullptr);
    if (!current.isEmpty()) return;
    props.setValue(stanza, key, value);
    if (!existed) props.addEntryComment(stanza, key, comment);
}

// Blanks as the stanza file trims them around a value.
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// `text` without surrounding blanks: what a reader of the file gets back for it.
std::string trimmed(const char* text) {
    const char* begin = text;
    const char* end = text + std::strlen(text);
    while (begin < end && isBlank(*begin)) ++begin;
    while (end > begin && isBlank(end[-1])) --end;
    return std::string(begin, end);
}

// The credential tags of "ldap-ext-cred-tags" move under the legacy names that the
// entitlement service of this release looks for. Names and values are moved as the bytes
// the file holds (UTF-8), so that no locale can change them on the way.
void moveCredentialTags(OVStanzaFileProperties& props) {
    if (!props.exists(kCredTagsStanza) || !props.exists("aznapi-configuration")) return;
    props.addValue("aznapi-configuration", "cred-attribute-entitlement-services", kLegacyCredTags,
                   0);
    props.setValue("aznapi-entitlement-services", kLegacyCredTags, "azn_ent_cred_attrs");

    // The key names in the order of their first line, each once.
    ZPropertiesKVList_6_0 pairs;
    props.getStanza(kCredTagsStanza, pairs);
    std::vector<std::string> names;
    std::unordered_set<std::string> seen;
    for (unsigned long i = 0, n = pairs.getItemCount(); i < n; ++i) {
        const char* name = pairs.getItemKey(i);
        if (seen.insert(name).second) names.emplace_back(name);
    }
    const std::string target = std::string(kLegacyCredTags) + ":" + "registry_id";
    for (const std::string& name : names) {
        ZUTF8String_6_0 value;
        props.getValue(kCredTagsStanza, name.c_str(), value, 0, nullptr);
        const std::string key = "tagvalue_" + name;
        props.setValue(target.c_str(), key.c_str(), value, 0);
    }
    props.deleteStanza(kCredTagsStanza);
    props.setValue(kLegacyCredTags, "registry_id", "azn_cred_registry_id");
}

// An application host left empty takes the host part of the user name ("name/host"). The
// part is stored trimmed, as a reader of the file gets it back: "a/ b" gives "b".
void fillApplicationHost(OVStanzaFileProperties& props) {
    ZUTF8String_6_0 user;
    props.getValue("aznapi-configuration", "ov-user-name", user, 0, nullptr);
    if (user.isEmpty()) return;
    ZUTF8String_6_0 host;
    props.getValue("aznapi-configuration", "azn-app-host", host, 0, nullptr);
    if (!host.isEmpty()) return;
    const char* slash = std::strchr(ovutil_internal::textOf(user), '/');
    if (slash != nullptr)
        props.setValue("aznapi-configuration", "azn-app-host", trimmed(slash + 1).c_str());
}

void stage1(OVStanzaFileProperties& props) {
    fill(props, "ssl", "ssl-local-domain", "Default", "#\n# local domain name.\n#");
    fill(props, "manager", "management-domain", "Default", "#\n# Management domain name.\n#");
    fill(props, "wvmgrd", "standby", "0", "#\n# Management standby.\n#");

    ZUTF8String_6_0 credService;
    props.getValue("aznapi-pac-services", "AZN_V37CRED_SVC", credService, 0, nullptr);
    if (!credService.isEmpty() && ovutil_internal::textEquals(credService, "azn_v37cred_svc"))
        props.deleteKey("aznapi-pac-services", "AZN_V37CRED_SVC");

    moveCredentialTags(props);
    fillApplicationHost(props);
    props.migrateOVRTEStanza();
}

// The directory-server settings of ldap.conf moved from "ldap" to "ovconfig"; empty ones
// are dropped on the way.
void moveDirectoryServerKeys(OVStanzaFileProperties& props) {
    if (!props.exists("ovconfig")) props.addStanza("ovconfig");
    if (!props.exists("ldap")) return;
    for (const char* key : kDirectoryServerKeys) {
        ZUTF8String_6_0 value;
        props.getValue("ldap", key, value, 0, nullptr);
        props.deleteKey("ldap", key);
        if (!value.isEmpty()) props.setValue("ovconfig", key, value, 0);
    }
}

// Which file is being upgraded: the name it was loaded under and the path it resolves to.
struct FileIdentity {
    std::string given;
    std::string resolved;  // "" when it cannot be resolved
    bool known = false;    // st holds the file's device and inode
    struct stat st {};
};

FileIdentity identify(const char* given, const std::string& resolved) {
    FileIdentity id;
    id.given = given;
    id.resolved = resolved;
    if (id.resolved.empty()) {
        if (char* real = ::realpath(given, nullptr)) {
            id.resolved = real;
            std::free(real);
        }
    }
    id.known = ::stat(id.resolved.empty() ? given : id.resolved.c_str(), &id.st) == 0;
    return id;
}

// Whether the rules of the product file `productPath` apply: its path within the name as
// given (as ever) or within the resolved path (through "..", a symbolic link to the file), or
// the same file as the product's path (a symlinked product directory).
bool isProductFile(const FileIdentity& id, const char* productPath) {
    if (std::strstr(id.given.c_str(), productPath) != nullptr) return true;
    if (!id.resolved.empty() && std::strstr(id.resolved.c_str(), productPath) != nullptr)
        return true;
    struct stat product;
    return id.known && ::stat(productPath, &product) == 0 && product.st_dev == id.st.st_dev &&
           product.st_ino == id.st.st_ino;
}

void stage2(OVStanzaFileProperties& props, const FileIdentity& file, int versionExisted) {
    props.setIntegerValue("meta-info", "version", kCurrentVersion);
    if (!versionExisted) {
        props.addStanzaComment("meta-info", "#\n# Meta stanza\n#");
        props.addEntryComment("meta-info", "version", "#\n# version =\n#");
    }
    if (isProductFile(file, kProductConfigFile)) {
        fill(props, "ssl", "ssl-enable-fips", "no",
             "# Enable (value of \"yes\") or disable (value of \"no\") Federal Information\n"
             "# Processing Standards (FIPS) mode - security requirements for cryptographic\n"
             "# modules");
    }
    if (isProductFile(file, kWvmgrdConf) || isProductFile(file, kWvacldConf)) {
        fill(props, "ssl", "ssl-client-connection-timeout", "30",
             "# Connection time-out for i/o in seconds.\n"
             "# This value should not be higher than the value of ssl-io-inactivity-timeout.\n"
             "# The suggested value is one third of the value of ssl-io-inactivity-timeout.\n"
             "# This parameter is set by the mgrsslcfg utility.\n"
             "# (range: >= 0, 0 = no time-out). ");
    }
    if (isProductFile(file, kLdapConf)) moveDirectoryServerKeys(props);
}

// The version of the loaded file, compared unsigned so that a negative version counts as
// newer than any release; whether an upgrade is due.
bool upgradeDue(const OVStanzaFileProperties& props) {
    const auto version =
        static_cast<unsigned int>(props.getIntegerValue("meta-info", "version", 0, 0));
    return version <= kStage2Last;
}

// Both stages as the version asks, in memory.
void upgrade(OVStanzaFileProperties& props, const FileIdentity& file) {
    const int versionExisted = props.exists("meta-info", "version");
    const auto version =
        static_cast<unsigned int>(props.getIntegerValue("meta-info", "version", 0, 0));
    if (version <= kStage1Last) stage1(props);
    stage2(props, file, versionExisted);
}

}  // namespace

int OVStanzaFileProperties::migrateOVRTEStanza() {
    if (!exists("ovrte")) return 0;
    int added = 0;
    if (!exists("ovrte", "boot-start-ovproxyd")) {
        setBooleanValue("ovrte", "boot-start-ovproxyd", 0);
        added = 1;
    }
    // Start-up reads this key to find the common directory; an empty value means none.
    if (!exists("ovrte", "selvan_common_dir")) {
        setValue("ovrte", "selvan_common_dir", "");
        added = 1;
    }
    return added;
}

void OVStanzaFileProperties::postLoad(const char* fileName) {
    // The base never passes a null name; an empty one matches none of the file rules.
    const char* name = fileName != nullptr ? fileName : "";
    // The upgrade's own load under the hold: the upgrade below goes on with it.
    if (ovutil_internal::upgradeSuppressed()) return;
    try {
        if (!upgradeDue(*this)) return;
        if (ovutil_internal::DeferredUpgrade* edit = ovutil_internal::deferredUpgradeFor(name)) {
            // Inside editRegisteredPropertiesFor: its one store writes the upgrade.
            upgrade(*this, identify(edit->givenName.c_str(), edit->path));
            edit->upgraded = true;
            return;
        }
        if (ovutil_internal::thisThreadHoldsEdit(name)) {
            // This thread holds the file (ovutil cfg migrate): what was loaded is current.
            const FileIdentity file = identify(name, std::string());
            upgrade(*this, file);
            store(file.resolved.empty() ? name : file.resolved.c_str());
            return;
        }
        // Another process may be editing the file: the upgrade is stored under the file's
        // hold, made on the file as it is once the hold is taken, and only if still due.
        OVStanzaFileEditLock hold(name);
        {
            ovutil_internal::SuppressUpgrade quiet;
            load(hold.path());
        }
        if (!upgradeDue(*this)) return;
        upgrade(*this, identify(name, hold.path()));
        store(hold.path());
    } catch (ZException_6_0&) {
        // The file stays as it was on disk, so the next load tries again.
        ovutil_internal::traceCaught(kSourceFile, __LINE__, "ZException");
        ov_svc_printf_cs_withfile(wvcore_svc_handle, ov_svc_utf8_cs, kSourceFile, __LINE__, "%s", 0,
                                  OV_SVC_WARNING, OV_MSG_CONFIG_MIGRATION_FAILED, name);
    }
}
