// The post-load upgrade of the product's stanza files.
//
// Every file carries its generation in "meta-info" / "version". Files up to 0x50F get stage 1
// and stage 2, files up to 0x60F stage 2 only; stage 2 raises the version to 0x610 and the
// file is stored, so the next load finds nothing to do. Rules that belong to one product file
// are chosen by a substring match on the file name. The file on disk changes only through
// the final store, which replaces it whole (never a half-written file).
#include <ovutil/OVStanzaFileProperties.h>

#include <cstring>

#include <ovsvc/svc.h>
#include <ovz/collections.h>
#include <ovz/exceptions.h>
#include <ovz/strings.h>

namespace {

// Records of this unit carry the name of the class's source unit.
constexpr const char* kSource = "src/util/OVStanzaFileProperties";

constexpr unsigned int kMsgMigrationFailed = 0x1354A0C7;

constexpr unsigned int kStage1Last = 0x50F;
constexpr unsigned int kStage2Last = 0x60F;
constexpr unsigned int kCurrentVersion = 0x610;

constexpr const char* kOvConf = "/opt/Orvan/etc/ov.conf";
constexpr const char* kWvmgrdConf = "/opt/Orvan/etc/wvmgrd.conf";
constexpr const char* kWvacldConf = "/opt/Orvan/etc/wvacld.conf";
constexpr const char* kLdapConf = "/opt/Orvan/etc/ldap.conf";

// The directory-server keys that moved from "ldap" to "ovconfig".
constexpr char kDirectoryServerKeys[4][20] = {
    "LdapSSL", "LdapSSLKeyFile", "LdapSSLKeyFilePwd", "LdapSSLKeyFileDn"};

constexpr const char* kCredTagsStanza = "ldap-ext-cred-tags";
constexpr const char* kLegacyCredTags = "LEGACY_ldap-ext-cred-tags";

// Gives stanza/key the default `value` when the stanza exists and the key is missing or
// empty. The comment goes only to a key that is new: a key that was there with an empty
// value already has its own.
void fill(OVStanzaFileProperties& props, const char* stanza, const char* key, const char* value,
          const char* comment) {
    if (!props.exists(stanza))
        return;
    const int existed = props.exists(stanza, key);
    ZUTF8String_6_0 current;
    props.getValue(stanza, key, current, 0, nullptr);
    if (!current.isEmpty())
        return;
    props.setValue(stanza, key, value);
    if (!existed)
        props.addEntryComment(stanza, key, comment);
}

// The credential tags of "ldap-ext-cred-tags" move under the legacy names that the
// entitlement service of this release looks for.
void moveCredentialTags(OVStanzaFileProperties& props) {
    if (!props.exists(kCredTagsStanza) || !props.exists("aznapi-configuration"))
        return;
    props.addValue("aznapi-configuration", "cred-attribute-entitlement-services", kLegacyCredTags, 0);
    props.setValue("aznapi-entitlement-services", kLegacyCredTags, "azn_ent_cred_attrs");

    ZArrayList_6_0 names(10, 1);
    props.keyNames(kCredTagsStanza, names);
    ZLCString_6_0 target(kLegacyCredTags);
    target += ":";
    target += "registry_id";
    const unsigned long n = names.size();
    for (unsigned long i = 0; i < n; ++i) {
        const auto* name = static_cast<const ZLCString_6_0*>(names.get(i));
        ZLCString_6_0 value;
        props.getValue(kCredTagsStanza, name->c_str(), value, 0, nullptr);
        ZLCString_6_0 key("tagvalue_");
        key += *name;
        props.setValue(target.c_str(), key.c_str(), value, 0);
    }
    props.deleteStanza(kCredTagsStanza);
    props.setValue(kLegacyCredTags, "registry_id", "azn_cred_registry_id");
}

// An application host left empty takes the host part of the user name ("name/host").
void fillApplicationHost(OVStanzaFileProperties& props) {
    ZLCString_6_0 user;
    props.getValue("aznapi-configuration", "ov-user-name", user, 0, nullptr);
    if (user.isEmpty())
        return;
    ZLCString_6_0 host;
    props.getValue("aznapi-configuration", "azn-app-host", host, 0, nullptr);
    if (!host.isEmpty())
        return;
    const char* slash = std::strchr(user.c_str(), '/');
    if (slash != nullptr)
        props.setValue("aznapi-configuration", "azn-app-host", slash + 1);
}

void stage1(OVStanzaFileProperties& props) {
    fill(props, "ssl", "ssl-local-domain", "Default", "#\n# local domain name.\n#");
    fill(props, "manager", "management-domain", "Default", "#\n# Management domain name.\n#");
    fill(props, "wvmgrd", "standby", "0", "#\n# Management standby.\n#");

    ZLCString_6_0 credService;
    props.getValue("aznapi-pac-services", "AZN_V37CRED_SVC", credService, 0, nullptr);
    if (!credService.isEmpty() && credService.equals("azn_v37cred_svc"))
        props.deleteKey("aznapi-pac-services", "AZN_V37CRED_SVC");

    moveCredentialTags(props);
    fillApplicationHost(props);
    props.migrateOVRTEStanza();
}

// The directory-server settings of ldap.conf moved from "ldap" to "ovconfig"; empty ones
// are dropped on the way.
void moveDirectoryServerKeys(OVStanzaFileProperties& props) {
    if (!props.exists("ovconfig"))
        props.addStanza("ovconfig");
    if (!props.exists("ldap"))
        return;
    for (const char* key : kDirectoryServerKeys) {
        ZUTF8String_6_0 value;
        props.getValue("ldap", key, value, 0, nullptr);
        props.deleteKey("ldap", key);
        if (!value.isEmpty())
            props.setValue("ovconfig", key, value, 0);
    }
}

void stage2(OVStanzaFileProperties& props, const char* fileName, int versionExisted) {
    props.setIntegerValue("meta-info", "version", kCurrentVersion);
    if (!versionExisted) {
        props.addStanzaComment("meta-info", "#\n# Meta stanza\n#");
        props.addEntryComment("meta-info", "version", "#\n# version =\n#");
    }
    if (std::strstr(fileName, kOvConf) != nullptr) {
        fill(props, "ssl", "ssl-enable-fips", "no",
             "# Enable (value of \"yes\") or disable (value of \"no\") Federal Information\n"
             "# Processing Standards (FIPS) mode - security requirements for cryptographic\n"
             "# modules");
    }
    if (std::strstr(fileName, kWvmgrdConf) != nullptr || std::strstr(fileName, kWvacldConf) != nullptr) {
        fill(props, "ssl", "ssl-client-connection-timeout", "30",
             "# Connection time-out for i/o in seconds.\n"
             "# This value should not be higher than the value of ssl-io-inactivity-timeout.\n"
             "# The suggested value is one third of the value of ssl-io-inactivity-timeout.\n"
             "# This parameter is set by the mgrsslcfg utility.\n"
             "# (range: >= 0, 0 = no time-out). ");
    }
    if (std::strstr(fileName, kLdapConf) != nullptr)
        moveDirectoryServerKeys(props);
}

}  // namespace

int OVStanzaFileProperties::migrateOVRTEStanza() {
    if (!exists("ovrte"))
        return 0;
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
    try {
        const int versionExisted = exists("meta-info", "version");
        // Compared unsigned, so that a negative version counts as newer than any release.
        const auto version = static_cast<unsigned int>(getIntegerValue("meta-info", "version", 0, 0));
        if (version > kStage2Last)
            return;
        if (version <= kStage1Last)
            stage1(*this);
        stage2(*this, name, versionExisted);
        store(name);
    } catch (ZException_6_0&) {
        // The file stays as it was on disk, so the next load tries again.
        if (ov_svc_debug_level(ov_ras_svc_handle, 3) > 8)
            ov_svc__debug_withfile(ov_ras_svc_handle, kSource, __LINE__, 3, 9, "%s Exception caught. \n",
                                   "ZException");
        ov_svc_printf_cs_withfile(wvcore_svc_handle, ov_svc_utf8_cs, kSource, __LINE__, "%s", 0, 48,
                                  kMsgMigrationFailed, name);
    }
}
