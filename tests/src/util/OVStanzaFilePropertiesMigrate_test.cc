// The post-load upgrade of stanza files of earlier releases: the rules of each stage, the
// version thresholds, what is stored and when, and what happens when it cannot finish.
#include <ovutil/OVStanzaFileProperties.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <ovsvc/capture.hpp>
#include <ovsvc/svc.h>
#include <ovz/exceptions.h>
#include <ovz/strings.h>

#include "harness/eight_bit_locale.h"
#include "harness/scenario.h"

namespace {

namespace fs = std::filesystem;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// A private directory under /tmp; product files go below it at their install paths, so that
// the file-name rules (which match by substring) apply to them.
class TempTree {
public:
    TempTree() {
        char tmpl[] = "/tmp/ovcfg-XXXXXX";
        root_ = mkdtemp(tmpl);
    }
    ~TempTree() { fs::remove_all(root_); }
    std::string path(const std::string& relative) const { return root_ + "/" + relative; }
    std::string write(const std::string& relative, const std::string& text) const {
        std::string p = path(relative);
        writeFile(p, text);
        return p;
    }

private:
    std::string root_;
};

// Reads back a stored file without running the upgrade again.
class PlainReader {
public:
    explicit PlainReader(const std::string& path) { props_.load(path.c_str()); }
    bool has(const char* stanza) const { return props_.exists(stanza) != 0; }
    bool has(const char* stanza, const char* key) const { return props_.exists(stanza, key) != 0; }
    std::string value(const char* stanza, const char* key, int index = 0) const {
        ZUTF8String_6_0 v;
        props_.getValue(stanza, key, v, index, nullptr);
        return v.c_str();
    }
    unsigned long numValues(const char* stanza, const char* key) const {
        return props_.numValues(stanza, key);
    }

private:
    ZStanzaFileProperties_6_0 props_{1};
};

// Loads `path` into a fresh object (which runs the upgrade) and returns the text on disk.
std::string migrate(const std::string& path) {
    OVStanzaFileProperties props;
    props.load(path.c_str());
    return readFile(path);
}

constexpr const char* kCurrent = "[meta-info]\nversion = 1552\n";
constexpr const char* kOld = "[meta-info]\nversion = 1280\n";  // 0x500: both stages

class MigrateTest : public ::testing::Test {
protected:
    void SetUp() override { ov_svc_route(OV_SVC_WARNING, "DISCARD"); }
    void TearDown() override { ov_svc_route(OV_SVC_WARNING, "STDERR"); }
    TempTree tree_;
};

TEST_F(MigrateTest, FileWithoutMetaInfoGainsVersionAndItsCommentsAndIsStored) {
    std::string p = tree_.write("etc/test.conf", "[other]\na = b\n");
    EXPECT_EQ(migrate(p),
              "[other]\na = b\n"
              "\n"
              "#\n# Meta stanza\n#\n"
              "[meta-info]\n"
              "#\n# version =\n#\n"
              "version = 1552\n");
}

TEST_F(MigrateTest, VersionThresholdsSelectTheStages) {
    struct Case {
        const char* version;  // null: no version key
        bool stage1;
        bool stage2;
    } cases[] = {
        {nullptr, true, true},         {"0", true, true},
        {"1295", true, true},          {"0x50F", true, true},
        {"1296", false, true},         {"0x600", false, true},
        {"1551", false, true},         {"1552", false, false},
        {"0x611", false, false},       {"-1", false, false},
        {"-2147483648", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version ? c.version : "(none)");
        std::string before = "[ssl]\nother = x\n";
        if (c.version != nullptr)
            before += std::string("[meta-info]\nversion = ") + c.version + "\n";
        std::string p =
            tree_.write(std::string("v/") + (c.version ? c.version : "none") + ".conf", before);
        struct stat st0 {};
        ASSERT_EQ(0, stat(p.c_str(), &st0));

        std::string after = migrate(p);
        struct stat st1 {};
        ASSERT_EQ(0, stat(p.c_str(), &st1));
        if (!c.stage2) {
            EXPECT_EQ(before, after);
            EXPECT_EQ(st0.st_ino, st1.st_ino) << "a file that needs nothing was rewritten";
            continue;
        }
        PlainReader r(p);
        EXPECT_EQ("1552", r.value("meta-info", "version"));
        EXPECT_EQ(c.stage1, r.has("ssl", "ssl-local-domain"));
        EXPECT_EQ(c.version == nullptr, after.find("# Meta stanza") != std::string::npos);
    }
}

TEST_F(MigrateTest, Stage1FillsMissingOrEmptyDefaultsOnlyInExistingStanzas) {
    struct Rule {
        const char* stanza;
        const char* key;
        const char* value;
        const char* comment;
    } rules[] = {
        {"ssl", "ssl-local-domain", "Default", "#\n# local domain name.\n#\n"},
        {"manager", "management-domain", "Default", "#\n# Management domain name.\n#\n"},
        {"wvmgrd", "standby", "0", "#\n# Management standby.\n#\n"},
    };
    enum State { kNoStanza, kNoKey, kEmpty, kSet };
    for (const Rule& rule : rules) {
        for (State state : {kNoStanza, kNoKey, kEmpty, kSet}) {
            SCOPED_TRACE(std::string(rule.key) + " state " + std::to_string(state));
            std::string body = std::string(kOld) + "[misc]\nx = y\n";
            if (state != kNoStanza) body += std::string("[") + rule.stanza + "]\nkeep = 1\n";
            if (state == kEmpty) body += std::string(rule.key) + " =\n";
            if (state == kSet) body += std::string(rule.key) + " = mine\n";
            std::string p =
                tree_.write(std::string("fill/") + rule.stanza + std::to_string(state), body);
            std::string after = migrate(p);
            PlainReader r(p);
            const std::string commented =
                std::string(rule.comment) + rule.key + " = " + rule.value + "\n";
            switch (state) {
                case kNoStanza:
                    EXPECT_FALSE(r.has(rule.stanza));
                    break;
                case kNoKey:
                    EXPECT_EQ(rule.value, r.value(rule.stanza, rule.key));
                    EXPECT_NE(std::string::npos, after.find(commented)) << after;
                    break;
                case kEmpty:
                    EXPECT_EQ(rule.value, r.value(rule.stanza, rule.key));
                    EXPECT_EQ(std::string::npos, after.find(rule.comment)) << after;
                    break;
                case kSet:
                    EXPECT_EQ("mine", r.value(rule.stanza, rule.key));
                    EXPECT_EQ(std::string::npos, after.find(rule.comment)) << after;
                    break;
            }
        }
    }
}

TEST_F(MigrateTest, OldCredentialServiceIsDeletedOnlyWithItsOldValue) {
    struct Case {
        const char* value;
        bool kept;
    } cases[] = {{"azn_v37cred_svc", false},
                 {"AZN_V37CRED_SVC", true},
                 {"azn_v37cred_svc2", true},
                 {"other", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        std::string p =
            tree_.write(std::string("cred/") + c.value,
                        std::string(kOld) + "[aznapi-pac-services]\nAZN_V37CRED_SVC = " + c.value +
                            "\nother = 1\n");
        migrate(p);
        PlainReader r(p);
        EXPECT_EQ(c.kept, r.has("aznapi-pac-services", "AZN_V37CRED_SVC"));
        EXPECT_EQ("1", r.value("aznapi-pac-services", "other"));
    }
}

TEST_F(MigrateTest, CredentialTagsMoveToTheirLegacyStanza) {
    std::string p = tree_.write("tags.conf", std::string(kOld) +
                                                 "[aznapi-configuration]\n"
                                                 "cred-attribute-entitlement-services = existing\n"
                                                 "[ldap-ext-cred-tags]\n"
                                                 "A = alpha value\n"
                                                 "B =\n");
    migrate(p);
    PlainReader r(p);
    EXPECT_FALSE(r.has("ldap-ext-cred-tags"));
    EXPECT_EQ("alpha value", r.value("LEGACY_ldap-ext-cred-tags:registry_id", "tagvalue_A"));
    EXPECT_TRUE(r.has("LEGACY_ldap-ext-cred-tags:registry_id", "tagvalue_B"));
    EXPECT_EQ("", r.value("LEGACY_ldap-ext-cred-tags:registry_id", "tagvalue_B"));
    EXPECT_EQ("azn_cred_registry_id", r.value("LEGACY_ldap-ext-cred-tags", "registry_id"));
    EXPECT_EQ("azn_ent_cred_attrs",
              r.value("aznapi-entitlement-services", "LEGACY_ldap-ext-cred-tags"));
    ASSERT_EQ(2u, r.numValues("aznapi-configuration", "cred-attribute-entitlement-services"));
    EXPECT_EQ("existing",
              r.value("aznapi-configuration", "cred-attribute-entitlement-services", 0));
    EXPECT_EQ("LEGACY_ldap-ext-cred-tags",
              r.value("aznapi-configuration", "cred-attribute-entitlement-services", 1));
}

TEST_F(MigrateTest, CredentialTagsStayWithoutTheConfigurationStanza) {
    std::string p =
        tree_.write("tags-alone.conf", std::string(kOld) + "[ldap-ext-cred-tags]\nA = 1\n");
    migrate(p);
    PlainReader r(p);
    EXPECT_EQ("1", r.value("ldap-ext-cred-tags", "A"));
    EXPECT_FALSE(r.has("LEGACY_ldap-ext-cred-tags"));
    EXPECT_FALSE(r.has("LEGACY_ldap-ext-cred-tags:registry_id"));
    EXPECT_FALSE(r.has("aznapi-entitlement-services"));
}

TEST_F(MigrateTest, ApplicationHostComesFromTheUserName) {
    struct Case {
        const char* user;  // null: no key
        const char* host;  // null: no key
        bool hostPresent;
        const char* expect;
    } cases[] = {
        {"a/b/c", nullptr, true, "b/c"},
        {"name/host", "", true, "host"},
        {"name/host", "kept", true, "kept"},
        {"plain", nullptr, false, ""},
        {nullptr, nullptr, false, ""},
        {"name/", nullptr, true, ""},
        // The host part is stored as a reader of the file gets it back: without blanks
        // around it.
        {"a/ b", nullptr, true, "b"},
        {"name/\thost two", "", true, "host two"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.user ? c.user : "(none)") + " / " +
                     (c.host ? c.host : "(none)"));
        std::string body = std::string(kOld) + "[aznapi-configuration]\n";
        if (c.user != nullptr) body += std::string("ov-user-name = ") + c.user + "\n";
        if (c.host != nullptr) body += std::string("azn-app-host = ") + c.host + "\n";
        std::string p = tree_.write("host/" + std::to_string(n++), body);
        ovsvc::CaptureSink capture;
        migrate(p);
        EXPECT_TRUE(capture.withMsgid(0x1354A0C7).empty()) << "the upgrade did not finish";
        PlainReader r(p);
        EXPECT_EQ("1552", r.value("meta-info", "version"));
        EXPECT_EQ(c.hostPresent, r.has("aznapi-configuration", "azn-app-host"));
        EXPECT_EQ(c.expect, r.value("aznapi-configuration", "azn-app-host"));
    }
}

// Tag names and values, the user name and the old credential service are moved or compared
// as the file's UTF-8 bytes, whatever the locale of the process. Returns the stored text.
std::string migrateTextsInTheCurrentLocale(const TempTree& tree, const std::string& name) {
    const std::string p = tree.write("texts/" + name + "/tags.conf",
                                     std::string(kOld) +
                                         "[aznapi-configuration]\n"
                                         "ov-user-name = M\xc3\xbcller/h\xc3\xb6st-\xe6\x97\xa5\n"
                                         "[aznapi-pac-services]\n"
                                         "AZN_V37CRED_SVC = \xe6\x97\xa5\n"
                                         "[ldap-ext-cred-tags]\n"
                                         "T = gr\xc3\xb6\xc3\x9f"
                                         "e\n"
                                         "\xc3\x84rger = \xe6\x97\xa5\xe6\x9c\xac\n"
                                         "T = second\n");
    ovsvc::CaptureSink capture;
    const std::string after = migrate(p);
    EXPECT_TRUE(capture.withMsgid(0x1354A0C7).empty()) << "the upgrade did not finish";
    return after;
}

void expectTextsKeptTheirBytes(const std::string& after) {
    for (const char* line : {
             "\ntagvalue_T = gr\xc3\xb6\xc3\x9f"
             "e\n",                                                   // T = größe
             "\ntagvalue_\xc3\x84rger = \xe6\x97\xa5\xe6\x9c\xac\n",  // Ärger = 日本
             "\nazn-app-host = h\xc3\xb6st-\xe6\x97\xa5\n",           // höst-日
             "\nAZN_V37CRED_SVC = \xe6\x97\xa5\n",                    // another value: kept
             "\nversion = 1552\n",
         }) {
        EXPECT_NE(std::string::npos, after.find(line)) << "missing line:" << line << "in:\n"
                                                       << after;
    }
    EXPECT_EQ(std::string::npos, after.find('?')) << after;
    EXPECT_EQ(std::string::npos, after.find("[ldap-ext-cred-tags]")) << after;
}

TEST_F(MigrateTest, TextsKeepTheirBytesInTheCAndPosixLocales) {
    for (const char* locale : {"C", "POSIX"}) {
        SCOPED_TRACE(locale);
        ovtest::CTypeScope scope(locale);
        ASSERT_TRUE(scope.ok());
        expectTextsKeptTheirBytes(migrateTextsInTheCurrentLocale(tree_, locale));
    }
}

TEST_F(MigrateTest, TextsKeepTheirBytesInAnEightBitLocale) {
    const ovtest::EightBitLocale& latin1 = ovtest::eightBitLocale();
    if (latin1.unavailable()) GTEST_SKIP() << latin1.why;
    ASSERT_TRUE(latin1.ready()) << latin1.why;
    ovtest::CTypeScope scope(latin1);
    ASSERT_TRUE(scope.ok());
    expectTextsKeptTheirBytes(migrateTextsInTheCurrentLocale(tree_, "latin1"));
}

TEST_F(MigrateTest, OvrteStanzaGainsOnlyItsMissingKeys) {
    struct Case {
        const char* body;
        int added;
        const char* boot;  // expected value; null: key absent
        const char* dir;
    } cases[] = {
        {"", 0, nullptr, nullptr},
        {"[ovrte]\n", 1, "no", ""},
        {"[ovrte]\nboot-start-ovproxyd = yes\n", 1, "yes", ""},
        {"[ovrte]\nselvan_common_dir = /srv/c\n", 1, "no", "/srv/c"},
        {"[ovrte]\nboot-start-ovproxyd = yes\nselvan_common_dir =\n", 0, "yes", ""},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        std::string p = tree_.write("ovrte/" + std::to_string(n++), c.body);
        {
            // Through the hook, which stores the result.
            migrate(p);
            PlainReader r(p);
            EXPECT_EQ(c.boot != nullptr, r.has("ovrte", "boot-start-ovproxyd"));
            EXPECT_EQ(c.dir != nullptr, r.has("ovrte", "selvan_common_dir"));
            if (c.boot) {
                EXPECT_EQ(c.boot, r.value("ovrte", "boot-start-ovproxyd"));
            }
            if (c.dir) {
                EXPECT_EQ(c.dir, r.value("ovrte", "selvan_common_dir"));
            }
        }
        // Directly on an object holding the old contents, for its result.
        std::string fresh =
            tree_.write("ovrte-direct/" + std::to_string(n), std::string(c.body) + kCurrent);
        OVStanzaFileProperties props;
        props.load(fresh.c_str());
        EXPECT_EQ(c.added, props.migrateOVRTEStanza());
        EXPECT_EQ(0, props.migrateOVRTEStanza());
    }
}

TEST_F(MigrateTest, FipsDefaultGoesOnlyIntoTheProductConfiguration) {
    const std::string fipsComment =
        "# Enable (value of \"yes\") or disable (value of \"no\") Federal Information\n"
        "# Processing Standards (FIPS) mode - security requirements for cryptographic\n"
        "# modules\n"
        "ssl-enable-fips = no\n";
    struct Case {
        const char* file;
        bool filled;
    } cases[] = {
        {"opt/Orvan/etc/ov.conf", true},
        {"opt/Orvan/etc/ov.conf.bak/opt/Orvan/etc/ov.conf", true},
        {"etc/ov.conf", false},
        {"opt/Orvan/etc/wvacld.conf", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        std::string p = tree_.write(c.file, "[meta-info]\nversion = 1536\n[ssl]\na = b\n");
        std::string after = migrate(p);
        EXPECT_EQ(c.filled, PlainReader(p).has("ssl", "ssl-enable-fips"));
        EXPECT_EQ(c.filled, after.find(fipsComment) != std::string::npos) << after;
    }
    // A value that is there is never replaced.
    std::string p = tree_.write("set/opt/Orvan/etc/ov.conf", "[ssl]\nssl-enable-fips = yes\n");
    migrate(p);
    EXPECT_EQ("yes", PlainReader(p).value("ssl", "ssl-enable-fips"));
}

TEST_F(MigrateTest, ConnectionTimeoutGoesIntoTheServerConfigurations) {
    const std::string timeoutComment =
        "# Connection time-out for i/o in seconds.\n"
        "# This value should not be higher than the value of ssl-io-inactivity-timeout.\n"
        "# The suggested value is one third of the value of ssl-io-inactivity-timeout.\n"
        "# This parameter is set by the mgrsslcfg utility.\n"
        "# (range: >= 0, 0 = no time-out). \n"
        "ssl-client-connection-timeout = 30\n";
    struct Case {
        const char* file;
        bool filled;
    } cases[] = {
        {"opt/Orvan/etc/wvmgrd.conf", true},
        {"opt/Orvan/etc/wvacld.conf", true},
        {"opt/Orvan/etc/ov.conf", false},
        {"opt/Orvan/etc/other.conf", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        std::string p = tree_.write(c.file, "[meta-info]\nversion = 1536\n[ssl]\na = b\n");
        std::string after = migrate(p);
        PlainReader r(p);
        EXPECT_EQ(c.filled, r.has("ssl", "ssl-client-connection-timeout"));
        EXPECT_EQ(c.filled, after.find(timeoutComment) != std::string::npos) << after;
        if (std::string(c.file).find("wv") != std::string::npos) {
            EXPECT_FALSE(r.has("ssl", "ssl-enable-fips"));
        }
    }
}

TEST_F(MigrateTest, DirectoryServerKeysMoveFromLdapToOvconfig) {
    std::string p = tree_.write("opt/Orvan/etc/ldap.conf",
                                "[meta-info]\nversion = 1536\n"
                                "[ldap]\n"
                                "host = h\n"
                                "LdapSSL = yes\n"
                                "LdapSSLKeyFile =\n"
                                "LdapSSLKeyFileDn = cn=key, o=x\n");
    migrate(p);
    PlainReader r(p);
    EXPECT_EQ("h", r.value("ldap", "host"));
    for (const char* key : {"LdapSSL", "LdapSSLKeyFile", "LdapSSLKeyFilePwd", "LdapSSLKeyFileDn"}) {
        SCOPED_TRACE(key);
        EXPECT_FALSE(r.has("ldap", key));
    }
    EXPECT_EQ("yes", r.value("ovconfig", "LdapSSL"));
    EXPECT_EQ("cn=key, o=x", r.value("ovconfig", "LdapSSLKeyFileDn"));
    EXPECT_FALSE(r.has("ovconfig", "LdapSSLKeyFile"));
    EXPECT_FALSE(r.has("ovconfig", "LdapSSLKeyFilePwd"));

    // Without "ldap", an empty "ovconfig" is still added and the file stored.
    std::string bare = tree_.write("bare/opt/Orvan/etc/ldap.conf", "[meta-info]\nversion = 1536\n");
    EXPECT_EQ("[meta-info]\nversion = 1552\n\n[ovconfig]\n", migrate(bare));

    // Elsewhere the rule does not apply.
    std::string other =
        tree_.write("etc/ldap.conf", "[meta-info]\nversion = 1536\n[ldap]\nLdapSSL = yes\n");
    migrate(other);
    EXPECT_EQ("yes", PlainReader(other).value("ldap", "LdapSSL"));
    EXPECT_FALSE(PlainReader(other).has("ovconfig"));
}

// The rules of a product file go by which file it is, not by how its name is spelled: a name
// through "..", a symbolic link to the file, or a name under a symlinked product directory
// gets the same upgrade as the file's own name.
TEST_F(MigrateTest, FileRulesApplyHoweverTheNameIsSpelled) {
    struct Case {
        const char* what;
        std::string file;  // the file itself
        std::string name;  // the name it is loaded under
    };
    std::vector<Case> cases;
    cases.push_back({"dot-dot", tree_.path("dots/opt/Orvan/etc/ldap.conf"),
                     tree_.path("dots/opt/Orvan/etc/../etc/ldap.conf")});
    cases.push_back({"link to the file", tree_.path("linked/opt/Orvan/etc/ldap.conf"),
                     tree_.path("linked/ldap-link.conf")});
    cases.push_back({"symlinked product directory", tree_.path("dir/opt/Orvan/etc/ldap.conf"),
                     tree_.path("dir/product/etc/ldap.conf")});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(c.file, "[meta-info]\nversion = 1536\n[ldap]\nLdapSSL = yes\n");
    }
    ASSERT_EQ(0, symlink(cases[1].file.c_str(), cases[1].name.c_str()));
    ASSERT_EQ(0, symlink("opt/Orvan", tree_.path("dir/product").c_str()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OVStanzaFileProperties props;
        props.load(c.name.c_str());
        PlainReader r(c.file);
        EXPECT_EQ("1552", r.value("meta-info", "version"));
        EXPECT_EQ("yes", r.value("ovconfig", "LdapSSL"));
        EXPECT_FALSE(r.has("ldap", "LdapSSL"));
    }
}

// The product directory itself a symbolic link to another place: the file there is the
// product's file (same device and inode), and its rules apply under its other name.
TEST(MigrateProductLink, FileRulesApplyToTheProductFileUnderAnotherPath) {
    ovtest::Scenario s;
    s.mounts = {"/opt"};
    s.files["/opt/elsewhere/etc/ldap.conf"] =
        "[meta-info]\nversion = 1536\n[ldap]\nLdapSSL = yes\n";
    ovtest::Outcome out = ovtest::runScenario(s, [&](ovtest::Report& r) {
        if (symlink("elsewhere", "/opt/Orvan") != 0) {
            r.fail(std::string("symlink: ") + std::strerror(errno));
            return;
        }
        ov_svc_route(OV_SVC_WARNING, "DISCARD");
        if (chdir("/opt/elsewhere/etc") != 0) {
            r.fail(std::string("chdir: ") + std::strerror(errno));
            return;
        }
        OVStanzaFileProperties props;
        props.load("ldap.conf");  // made absolute: /opt/elsewhere/etc/ldap.conf
        PlainReader stored("/opt/elsewhere/etc/ldap.conf");
        r.put("version", stored.value("meta-info", "version"));
        r.put("moved", stored.value("ovconfig", "LdapSSL"));
        r.put("left", stored.has("ldap", "LdapSSL") ? "yes" : "no");
    });
    OV_EXPECT_SCENARIO_RAN(out);
    EXPECT_EQ("1552", out.value("version"));
    EXPECT_EQ("yes", out.value("moved"));
    EXPECT_EQ("no", out.value("left"));
}

TEST_F(MigrateTest, MigratedFileIsNotRewrittenByALaterLoad) {
    std::string p = tree_.write("opt/Orvan/etc/ov.conf", "[ssl]\n[ovrte]\n");
    ZStanzaFileProperties_6_0* props =
        OVStanzaFileProperties::getRegisteredPropertiesFor(p.c_str(), 0);
    ASSERT_NE(nullptr, props);
    const std::string migrated = readFile(p);
    ASSERT_NE(std::string::npos, migrated.find("version = 1552"));
    struct stat st0 {};
    ASSERT_EQ(0, stat(p.c_str(), &st0));

    // The registry's reload, and a fresh object, both load it again.
    ASSERT_EQ(props,
              OVStanzaFileProperties::getRegisteredPropertiesFor(p.c_str(), ZPROPERTIES_RELOAD));
    migrate(p);
    struct stat st1 {};
    ASSERT_EQ(0, stat(p.c_str(), &st1));
    EXPECT_EQ(st0.st_ino, st1.st_ino);
    EXPECT_EQ(st0.st_mtim.tv_sec, st1.st_mtim.tv_sec);
    EXPECT_EQ(st0.st_mtim.tv_nsec, st1.st_mtim.tv_nsec);
    EXPECT_EQ(migrated, readFile(p));
}

// Throws an object-library exception from the first comment the upgrade attaches, i.e. in
// the middle of stage 1.
class ThrowingProperties : public OVStanzaFileProperties {
public:
    int addEntryComment(const char* stanza, const char* key, const char* text) override {
        if (throwZ) ZException_6_0(ZEXC_FAILURE, {"injected"}).throwException(__FILE__, __LINE__);
        if (throwOther) throw std::runtime_error("not the library's");
        return OVStanzaFileProperties::addEntryComment(stanza, key, text);
    }
    bool throwZ = true;
    bool throwOther = false;
};

TEST_F(MigrateTest, ExceptionStopsTheUpgradeLogsTheFileAndKeepsItOnDisk) {
    const std::string before = "[meta-info]\nversion = 1000\n[ssl]\na = b\n";
    std::string p = tree_.write("opt/Orvan/etc/ov.conf", before);
    ov_svc_set_debug_level(ov_ras_svc_handle, 3, 9);
    ovsvc::CaptureSink capture;
    ThrowingProperties props;
    EXPECT_NO_THROW(props.load(p.c_str()));
    ov_svc_set_debug_level(ov_ras_svc_handle, 3, 0);

    EXPECT_EQ(before, readFile(p));
    // What ran before the exception stays in memory.
    ZUTF8String_6_0 v;
    props.getValue("ssl", "ssl-local-domain", v, 0, nullptr);
    EXPECT_STREQ("Default", v.c_str());
    EXPECT_EQ(1000, props.getIntegerValue("meta-info", "version", 0, 0));

    auto records = capture.withMsgid(0x1354A0C7);
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(wvcore_svc_handle, records[0].handle);
    EXPECT_EQ(48u, records[0].attributes);
    EXPECT_EQ(0u, records[0].subcomp);
    EXPECT_TRUE(records[0].utf8);
    EXPECT_EQ("src/util/OVStanzaFileProperties", records[0].file);
    EXPECT_EQ("%s", records[0].format);
    EXPECT_EQ(std::vector<std::string>{p}, records[0].inserts);
    bool debugLine = false;
    for (const auto& d : capture.debugRecords())
        if (d.handle == ov_ras_svc_handle && d.subcomp == 3 && d.level == 9 &&
            d.text.find("ZException Exception caught.") != std::string::npos)
            debugLine = true;
    EXPECT_TRUE(debugLine);

    // The next load tries again and, without the fault, finishes.
    props.throwZ = false;
    capture.clear();
    props.load(p.c_str());
    EXPECT_TRUE(capture.withMsgid(0x1354A0C7).empty());
    EXPECT_EQ("1552", PlainReader(p).value("meta-info", "version"));
}

TEST_F(MigrateTest, ExceptionsOfOtherTypesPassToTheLoader) {
    const std::string before = "[ssl]\na = b\n";
    std::string p = tree_.write("other.conf", before);
    ThrowingProperties props;
    props.throwZ = false;
    props.throwOther = true;
    EXPECT_THROW(props.load(p.c_str()), std::runtime_error);
    EXPECT_EQ(before, readFile(p));
}

// Two processes load the same old file at the same moment: each upgrades and stores it, and
// the file that remains is one whole upgraded file.
TEST_F(MigrateTest, ConcurrentUpgradesInTwoProcessesLeaveOneValidFile) {
    std::string p = tree_.write("race/opt/Orvan/etc/ov.conf", "[ssl]\na = b\n[ovrte]\n");
    int go[2];
    ASSERT_EQ(0, pipe(go));
    pid_t children[2];
    for (pid_t& child : children) {
        child = fork();
        ASSERT_NE(-1, child);
        if (child == 0) {
            close(go[1]);
            char c;
            (void)!read(go[0], &c, 1);  // released together when the parent closes the pipe
            int rc = 0;
            try {
                OVStanzaFileProperties props;
                props.load(p.c_str());
            } catch (...) {
                rc = 1;
            }
            _exit(rc);
        }
    }
    close(go[0]);
    close(go[1]);
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    PlainReader r(p);
    EXPECT_EQ("1552", r.value("meta-info", "version"));
    EXPECT_EQ(1u, r.numValues("ssl", "ssl-local-domain"));
    EXPECT_EQ(1u, r.numValues("ssl", "ssl-enable-fips"));
    EXPECT_EQ(1u, r.numValues("ovrte", "boot-start-ovproxyd"));
    // No temporary file is left behind.
    int entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(fs::path(p).parent_path()))
        ++entries;
    EXPECT_EQ(1, entries);
}

// The directory of the file is made read-only by a read-only bind mount in a private mount
// namespace, which refuses the store even to root.
TEST(MigrateStoreFailure, UpgradeThatCannotBeStoredLeavesTheFileAndTheLoadSucceeds) {
    const std::string before = "[meta-info]\nversion = 1000\n[ssl]\na = b\n";
    ovtest::Scenario s;
    s.mounts = {"/opt"};
    s.files["/opt/Orvan/etc/ov.conf"] = before;
    ovtest::Outcome out = ovtest::runScenario(s, [&](ovtest::Report& r) {
        const char* dir = "/opt/Orvan/etc";
        if (mount(dir, dir, nullptr, MS_BIND, nullptr) != 0 ||
            mount(nullptr, dir, nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
            r.fail(std::string("read-only bind mount: ") + std::strerror(errno));
            return;
        }
        ov_svc_route(OV_SVC_WARNING, "DISCARD");
        ovsvc::CaptureSink capture;
        try {
            OVStanzaFileProperties props;
            props.load("/opt/Orvan/etc/ov.conf");
            r.put("loaded", "yes");
        } catch (ZException_6_0& e) {
            r.put("loaded", e.text());
        }
        r.put("text", readFile("/opt/Orvan/etc/ov.conf"));
        auto records = capture.withMsgid(0x1354A0C7);
        r.put("records", static_cast<long long>(records.size()));
        if (!records.empty() && !records[0].inserts.empty()) r.put("insert", records[0].inserts[0]);
        int entries = 0;
        for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir)) ++entries;
        r.put("entries", static_cast<long long>(entries));
    });
    OV_EXPECT_SCENARIO_RAN(out);
    EXPECT_EQ("yes", out.value("loaded"));
    EXPECT_EQ(before, out.value("text"));
    EXPECT_EQ("1", out.value("records"));
    EXPECT_EQ("/opt/Orvan/etc/ov.conf", out.value("insert"));
    EXPECT_EQ("1", out.value("entries"));
}

}  // namespace
