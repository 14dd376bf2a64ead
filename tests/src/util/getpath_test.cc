// Start-up scenarios: each runs in a fresh child process with its own /opt and /etc, since
// start-up reads fixed paths there and runs once per process.

#include <dlfcn.h>
#include <errno.h>
#include <langinfo.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "harness/eight_bit_locale.h"
#include "harness/scenario.h"
#include <ovmsg/msg.h>
#include <ovsvc/capture.hpp>
#include <ovsvc/svc.h>
#include <ovutil/PathMap.h>
#include <ovutil/getpath.h>
#include <ovutil/wvmsg.h>

namespace {

const char kOvConf[] = "/opt/Orvan/etc/ov.conf";
const char kLogProperties[] = "/etc/zel/selvan/common/cfg/log.properties";
// The product's catalog entries, which start-up puts in front of the search path.
const char kProductNlspath[] = "/opt/Orvan/nls/msg/%L/%N:/opt/Orvan/nls/msg/%L/%N.cat";

const char* const kLogFiles[] = {
    "msg__ovacld.log",    "msg__ovmgrd.log",  "msg__ovmgrproxyd.log",
    "ovconfig_proxy.log", "ovconfig_rmc.log", "ovconfig_audit.log",
};

// A scenario without NLSPATH and UCXDIR unless the test sets them.
ovtest::Scenario baseScenario() {
    ovtest::Scenario s;
    s.env["NLSPATH"] = std::nullopt;
    s.env["UCXDIR"] = std::nullopt;
    return s;
}

// Records what a program sees after start-up: the path table and the environment.
void observe(ovtest::Report& r) {
    r.put("#scd_cfg_file", ov_get_path("#scd_cfg_file"));
    r.put("/zel/selvan/common/cfg", ov_get_path("/zel/selvan/common/cfg"));
    r.put("#ov_undefined_scd_root", ov_get_path("#ov_undefined_scd_root"));
    r.put("#ov_undefined_ov_scd_root", ov_get_path("#ov_undefined_ov_scd_root"));
    r.put("/var/Orvan/log", ov_get_path("/var/Orvan/log"));
    for (const char* name : kLogFiles) {
        std::string key = std::string("/var/Orvan/log/") + name;
        const char* path = ov_get_path(key.c_str());
        r.put(key, path);
        // A path the table does not hold is the caller's own pointer.
        r.put(key + " is the argument", path == key.c_str() ? "yes" : "no");
    }
    r.put("NLSPATH", getenv("NLSPATH"));
    r.put("UCXDIR", getenv("UCXDIR"));
}

TEST(StartupScenarioTest, WithoutConfigurationEveryPathStandsForItself) {
    ovtest::Outcome out = ovtest::runScenario(baseScenario(), [](ovtest::Report& r) {
        ovutil_init();
        observe(r);
        char before[PATH_MAX], after[PATH_MAX];
        r.check(getcwd(before, sizeof before) != nullptr, "getcwd");
        r.put("chdir #unknown", ov_change_directory("#ov_no_such_key"));
        r.check(getcwd(after, sizeof after) != nullptr, "getcwd");
        r.put("cwd unchanged", strcmp(before, after) == 0 ? "yes" : "no");
        r.put("chdir cfg", ov_change_directory("/zel/selvan/common/cfg"));
        r.put("chdir /", ov_change_directory("/"));
        r.check(getcwd(after, sizeof after) != nullptr, "getcwd");
        r.put("cwd after chdir /", after);
        r.put("null key", ov_get_path(nullptr));
    });
    OV_EXPECT_SCENARIO_RAN(out);
    EXPECT_EQ(out.value("#scd_cfg_file"), kLogProperties);
    EXPECT_EQ(out.value("/zel/selvan/common/cfg"), "/etc/zel/selvan/common/cfg");
    EXPECT_TRUE(out.isNull("#ov_undefined_scd_root"));
    EXPECT_TRUE(out.isNull("#ov_undefined_ov_scd_root"));
    EXPECT_EQ(out.value("/var/Orvan/log"), "/var/Orvan/log");
    for (const char* name : kLogFiles) {
        std::string key = std::string("/var/Orvan/log/") + name;
        EXPECT_EQ(out.value(key + " is the argument"), "yes") << key;
    }
    EXPECT_EQ(out.value("NLSPATH"), kProductNlspath);
    EXPECT_EQ(out.value("UCXDIR"), "/opt/Orvan/nls/UCX");
    EXPECT_EQ(out.value("chdir #unknown"), std::to_string(ENOENT));
    EXPECT_EQ(out.value("cwd unchanged"), "yes");
    // The configuration directory does not exist on the empty /etc.
    EXPECT_EQ(out.value("chdir cfg"), std::to_string(ENOENT));
    EXPECT_EQ(out.value("chdir /"), "0");
    EXPECT_EQ(out.value("cwd after chdir /"), "/");
    EXPECT_TRUE(out.isNull("null key"));
}

TEST(StartupScenarioTest, NationalLanguageVariablesFromPresets) {
    struct Case {
        const char* name;
        std::optional<std::string> nlspath;
        std::optional<std::string> ucxdir;
        std::string expectNlspath;
        std::string expectUcxdir;
        bool ucxdirKept;  // the preset entry itself is left in the environment
    };
    const std::string prefix = kProductNlspath;
    const Case cases[] = {
        // No empty entry at the end: the catalog look-up would search the current directory.
        {"empty path", std::string(""), std::nullopt, prefix, "/opt/Orvan/nls/UCX", false},
        {"other path", std::string("/usr/share/nls/%N"), std::string("/usr/ucx"),
         prefix + ":/usr/share/nls/%N", "/opt/Orvan/nls/UCX", false},
        {"path already there", std::string("/x/%N:/opt/Orvan/nls/msg/%L/%N.cat"),
         std::string("/opt/Orvan/nls/UCX"), "/x/%N:/opt/Orvan/nls/msg/%L/%N.cat",
         "/opt/Orvan/nls/UCX", true},
        {"inside a longer name", std::string("/opt/Orvan/nls/msgs/%N"), std::string(""),
         "/opt/Orvan/nls/msgs/%N", "/opt/Orvan/nls/UCX", false},
        {"directory with a trailing slash", std::nullopt, std::string("/opt/Orvan/nls/UCX/"),
         prefix, "/opt/Orvan/nls/UCX", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ovtest::Scenario s = baseScenario();
        s.env["NLSPATH"] = c.nlspath;
        s.env["UCXDIR"] = c.ucxdir;
        ovtest::Outcome out = ovtest::runScenario(s, [](ovtest::Report& r) {
            const char* before = getenv("UCXDIR");
            ovutil_init();
            r.put("NLSPATH", getenv("NLSPATH"));
            r.put("UCXDIR", getenv("UCXDIR"));
            r.put("UCXDIR kept", before != nullptr && getenv("UCXDIR") == before ? "yes" : "no");
        });
        OV_EXPECT_SCENARIO_RAN(out);
        EXPECT_EQ(out.value("NLSPATH"), c.expectNlspath);
        EXPECT_EQ(out.value("UCXDIR"), c.expectUcxdir);
        EXPECT_EQ(out.value("UCXDIR kept"), c.ucxdirKept ? "yes" : "no");
    }
}

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The tests' own catalog (numbers 0x7E57Axxx, no compiled-in defaults), as built.
std::string testCatalog() { return readBytes(std::string(OV_STARTUP_TEST_NLS) + "/C/ov7e57a.cat"); }

// Start-up finds the catalogs installed next to the library: <directory of libovutil>/
// OV_INSTALLED_NLS_FROM_LIBDIR, after the product's own directory, with no NLSPATH set.
TEST(StartupScenarioTest, InstalledCatalogsAreFoundFromTheLibrarysDirectory) {
    Dl_info info;
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&ovutil_init), &info), 0);
    char* library = realpath(info.dli_fname, nullptr);
    ASSERT_NE(library, nullptr);
    std::string installed = library;
    free(library);
    installed.erase(installed.rfind('/'));
    // The directory as start-up names it once it exists: ".." and "." resolved.
    for (std::string rest = std::string("/") + OV_INSTALLED_NLS_FROM_LIBDIR; !rest.empty();) {
        size_t slash = rest.find('/', 1);
        std::string part = rest.substr(0, slash);
        rest = slash == std::string::npos ? "" : rest.substr(slash);
        if (part == "/..")
            installed.erase(installed.rfind('/'));
        else if (part != "/." && part != "/")
            installed += part;
    }
    // The build tree has no such directory: a private tmpfs goes over its deepest existing
    // ancestor, which must lie inside the build tree, and the catalog is written below it.
    std::string mountPoint = installed;
    struct stat st;
    while (stat(mountPoint.c_str(), &st) != 0) mountPoint.erase(mountPoint.rfind('/'));
    const std::string buildDir = OV_BUILD_DIR;
    if (mountPoint.compare(0, buildDir.size(), buildDir) != 0)
        GTEST_SKIP() << "the installed catalog directory " << installed
                     << " does not lie in the build tree";

    ovtest::Scenario s = baseScenario();
    s.mounts.push_back(mountPoint);
    s.files[installed + "/C/ov7e57a.cat"] = testCatalog();
    s.files[installed + "/C.UTF-8/ov7e57a.cat"] = testCatalog();
    ovtest::Outcome out = ovtest::runScenario(s, [](ovtest::Report& r) {
        ovutil_init();
        r.put("NLSPATH", getenv("NLSPATH"));
        unsigned int status = 0;
        r.put("text", ov_msg_get_msg(0x7E57A001, &status));
        r.put("status", static_cast<long long>(status));
    });
    OV_EXPECT_SCENARIO_RAN(out);
    EXPECT_EQ(out.value("NLSPATH"), std::string(kProductNlspath) + ":" + installed + "/%L/%N.cat");
    EXPECT_EQ(out.value("text"), "First text of the test catalog.");
    EXPECT_EQ(out.value("status"), std::to_string(OV_MSG_S_OK));
}

// The search path start-up writes has no empty entry, which the catalog look-up would read
// as the current directory: a catalog file lying there is not used.
TEST(StartupScenarioTest, NoCatalogIsReadFromTheCurrentDirectory) {
    ovtest::Scenario s = baseScenario();
    s.files["/opt/work/ov7e57a"] = testCatalog();
    s.files["/opt/work/ov7e57a.cat"] = testCatalog();
    ovtest::Outcome out = ovtest::runScenario(s, [](ovtest::Report& r) {
        r.check(chdir("/opt/work") == 0, "chdir /opt/work");
        ovutil_init();
        unsigned int status = 0;
        r.put("text", ov_msg_get_msg(0x7E57A002, &status));
        r.put("status", static_cast<long long>(status));
    });
    OV_EXPECT_SCENARIO_RAN(out);
    EXPECT_TRUE(out.isNull("text"));
    EXPECT_EQ(out.value("status"), std::to_string(OV_MSG_S_NOT_FOUND));
}

TEST(StartupScenarioTest, CommonDirectoryRelocatesAllSixLogFiles) {
    ovtest::Scenario s = baseScenario();
    s.files[kOvConf] = "[ovrte]\nselvan_common_dir = /srv/common\n";
    s.files[kLogProperties] = "selvan_common_dir=/srv/family\n";
    ovtest::Outcome out = ovtest::runScenario(s, [](ovtest::Report& r) {
        // A path look-up before ovutil_init runs start-up by itself.
        observe(r);
        ovutil_init();
        r.put("after init", ov_get_path("/var/Orvan/log/msg__ovmgrd.log"));
    });
    OV_EXPECT_SCENARIO_RAN(out);
    EXPECT_EQ(out.value("#ov_undefined_ov_scd_root"), "/srv/common");
    EXPECT_EQ(out.value("#ov_undefined_scd_root"), "/srv/family");
    EXPECT_EQ(out.value("/var/Orvan/log"), "/srv/common/ORV/logs");
    for (const char* name : kLogFiles) {
        std::string key = std::string("/var/Orvan/log/") + name;
        EXPECT_EQ(out.value(key), std::string("/srv/common/ORV/logs/") + name);
    }
    EXPECT_EQ(out.value("after init"), "/srv/common/ORV/logs/msg__ovmgrd.log");
}

TEST(StartupScenarioTest, EmptyOrMissingRootsRelocateNothing) {
    struct Case {
        const char* name;
        const char* ovConf;         // null: no file
        const char* logProperties;  // null: no file
    };
    const Case cases[] = {
        {"empty values", "[ovrte]\nselvan_common_dir =\n", "selvan_common_dir=\n"},
        {"key in another stanza", "[other]\nselvan_common_dir = /srv/common\n[ovrte]\nx = 1\n",
         "other_key=/srv/family\n"},
        {"no files", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ovtest::Scenario s = baseScenario();
        if (c.ovConf) s.files[kOvConf] = c.ovConf;
        if (c.logProperties) s.files[kLogProperties] = c.logProperties;
        ovtest::Outcome out = ovtest::runScenario(s, [](ovtest::Report& r) {
            ovutil_init();
            observe(r);
        });
        OV_EXPECT_SCENARIO_RAN(out);
        EXPECT_TRUE(out.isNull("#ov_undefined_scd_root"));
        EXPECT_TRUE(out.isNull("#ov_undefined_ov_scd_root"));
        EXPECT_EQ(out.value("/var/Orvan/log"), "/var/Orvan/log");
        for (const char* name : kLogFiles) {
            std::string key = std::string("/var/Orvan/log/") + name;
            EXPECT_EQ(out.value(key + " is the argument"), "yes") << key;
        }
    }
}

// A broken file is traced, reported through the product's message service, and start-up
// goes on with the steps after it.
TEST(StartupScenarioTest, InvalidConfigurationIsCaughtTracedAndReported) {
    struct Case {
        const char* name;
        const char* ovConf;
        bool brokenProperties;
        bool expectRelocated;
        int expectCaught;  // traces and reports
    };
    const Case cases[] = {
        {"invalid ov.conf", "[ovrte]\nselvan_common_dir = /srv/common\nthis is not a key\n",
         false, false, 1},
        // A properties file that cannot be read is no exception: the step is skipped.
        {"unreadable log.properties", "[ovrte]\nselvan_common_dir = /srv/common\n", true, true,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ovtest::Scenario s = baseScenario();
        s.files[kOvConf] = c.ovConf;
        ovtest::Outcome out = ovtest::runScenario(s, [&c](ovtest::Report& r) {
            if (c.brokenProperties) {
                // A directory where the file should be: stat succeeds, reading fails.
                r.check(system("mkdir -p /etc/zel/selvan/common/cfg/log.properties") == 0,
                        "making the directory");
            }
            ov_svc_set_debug_level(ov_ras_svc_handle, 3, 9);
            ovsvc::CaptureSink capture;
            ovutil_init();
            int traces = 0, reports = 0;
            std::string traceLine;
            for (const auto& rec : capture.records()) {
                if (rec.is_debug && rec.handle == ov_ras_svc_handle && rec.subcomp == 3 &&
                    rec.level == 9 && rec.format == "%s Exception caught. \n" &&
                    rec.file == "src/util/getpath" && rec.inserts.size() == 1 &&
                    rec.inserts[0] == "ZException")
                    ++traces;
                if (!rec.is_debug && rec.handle == ovz_svc_handle) {
                    ++reports;
                    r.put("report msgid", static_cast<long long>(rec.msgid));
                    r.put("report file", rec.file);
                }
            }
            r.put("traces", traces);
            r.put("reports", reports);
            observe(r);
        });
        OV_EXPECT_SCENARIO_RAN(out);
        EXPECT_EQ(out.value("traces"), std::to_string(c.expectCaught));
        EXPECT_EQ(out.value("reports"), std::to_string(c.expectCaught));
        if (c.expectCaught) {
            // Reported as invalid data, where the object library raised it.
            EXPECT_EQ(out.value("report msgid"), std::to_string(0x35E5102B));
            EXPECT_NE(out.value("report file"), "src/util/getpath");
        }
        // The steps after the failing one still ran.
        EXPECT_EQ(out.value("NLSPATH"), kProductNlspath);
        EXPECT_EQ(out.value("UCXDIR"), "/opt/Orvan/nls/UCX");
        EXPECT_TRUE(out.isNull("#ov_undefined_scd_root"));
        EXPECT_EQ(out.value("/var/Orvan/log"),
                  c.expectRelocated ? "/srv/common/ORV/logs" : "/var/Orvan/log");
    }
}

TEST(StartupScenarioTest, AddOvPathMapsAPathToTheTablesOwnCopy) {
    ovtest::Outcome out = ovtest::runScenario(baseScenario(), [](ovtest::Report& r) {
        // Before any start-up: addOvPath runs it first.
        std::string key = "#my_component_key";
        PathMap().addOvPath(key.c_str());
        r.put("NLSPATH set", getenv("NLSPATH") != nullptr ? "yes" : "no");
        const char* found = ov_get_path(key.c_str());
        r.put("hash key", found);
        r.put("hash key is a copy", found != nullptr && found != key.c_str() ? "yes" : "no");
        std::string path = "/opt/Orvan/bin/tool";
        r.put("before", ov_get_path(path.c_str()) == path.c_str() ? "argument" : "copy");
        PathMap::ovPaths_->addOvPath(path.c_str());
        const char* after = ov_get_path(path.c_str());
        r.put("after", after != path.c_str() ? "copy" : "argument");
        r.put("after text", after);
    });
    OV_EXPECT_SCENARIO_RAN(out);
    EXPECT_EQ(out.value("NLSPATH set"), "yes");
    EXPECT_EQ(out.value("hash key"), "#my_component_key");
    EXPECT_EQ(out.value("hash key is a copy"), "yes");
    EXPECT_EQ(out.value("before"), "argument");
    EXPECT_EQ(out.value("after"), "copy");
    EXPECT_EQ(out.value("after text"), "/opt/Orvan/bin/tool");
}

TEST(StartupScenarioTest, CommonDirectoryStatuses) {
    struct Case {
        const char* name;
        const char* productRoot;  // null: not configured
        const char* familyRoot;
        unsigned status;
        const char* base;  // null: nothing registered
    };
    const Case cases[] = {
        {"neither root", nullptr, nullptr, 0x1065206F, nullptr},
        {"only the product root", "/a", nullptr, 0x1065206F, nullptr},
        {"only the family root", nullptr, "/b", 0x1065206E, nullptr},
        {"roots differ", "/a", "/b", 0x10652070, "/a/C"},
        {"roots equal", "/srv/scd", "/srv/scd", 0, "/srv/scd/C"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ovtest::Scenario s = baseScenario();
        if (c.productRoot)
            s.files[kOvConf] = std::string("[ovrte]\nselvan_common_dir = ") + c.productRoot + "\n";
        if (c.familyRoot)
            s.files[kLogProperties] = std::string("selvan_common_dir=") + c.familyRoot + "\n";
        ovtest::Outcome out = ovtest::runScenario(s, [](ovtest::Report& r) {
            r.put("status", static_cast<long long>(ov_selvan_common_directory_init("C")));
            for (const char* key : {"#ov_undefined_ov_scd_base", "#ov_undefined_ov_scd_logs",
                                    "#ov_undefined_ov_scd_ffdc", "#ov_undefined_ov_scd_scripts"})
                r.put(key, ov_get_path(key));
            // A second component replaces the entries of the first.
            ov_selvan_common_directory_init("D");
            r.put("second logs", ov_get_path("#ov_undefined_ov_scd_logs"));
        });
        OV_EXPECT_SCENARIO_RAN(out);
        EXPECT_EQ(out.value("status"), std::to_string(c.status));
        if (c.base == nullptr) {
            EXPECT_TRUE(out.isNull("#ov_undefined_ov_scd_base"));
            EXPECT_TRUE(out.isNull("#ov_undefined_ov_scd_logs"));
            EXPECT_TRUE(out.isNull("second logs"));
        } else {
            std::string base = c.base;
            EXPECT_EQ(out.value("#ov_undefined_ov_scd_base"), base);
            EXPECT_EQ(out.value("#ov_undefined_ov_scd_logs"), base + "/logs");
            EXPECT_EQ(out.value("#ov_undefined_ov_scd_ffdc"), base + "/ffdc");
            EXPECT_EQ(out.value("#ov_undefined_ov_scd_scripts"), base + "/scripts");
            EXPECT_EQ(out.value("second logs"), std::string(c.productRoot) + "/D/logs");
        }
    }
}

// The common-directory roots are paths: stored, compared and handed out as the bytes of
// the files that name them, whatever the locale the program runs in.
void expectRootsKeptAsTheirBytes(const char* locale, const ovtest::EightBitLocale* latin1,
                                 const char* codeset) {
    struct Case {
        const char* name;
        std::string productRoot;
        std::string familyRoot;
        unsigned status;
    };
    const std::string groesse = "/srv/Gr\xc3\xb6\xc3\x9f" "e";  // /srv/Größe
    const std::string gruesse = "/srv/Gr\xc3\xbc\xc3\x9f" "e";  // /srv/Grüße
    const std::string nihon = "/srv/\xe6\x97\xa5\xe6\x9c\xac";  // /srv/日本
    const Case cases[] = {
        {"roots differ only beyond ASCII", groesse, gruesse, 0x10652070},
        {"equal roots no 8-bit code set can hold", nihon, nihon, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ovtest::Scenario s = baseScenario();
        ovtest::withLocale(s, locale, latin1);
        s.files[kOvConf] = "[ovrte]\nselvan_common_dir = " + c.productRoot + "\n";
        s.files[kLogProperties] = "selvan_common_dir=" + c.familyRoot + "\n";
        ovtest::Outcome out = ovtest::runScenario(s, [](ovtest::Report& r) {
            // Takes the locale of the environment, as every program of the product does.
            r.put("init", wvmsg_init("startup_test"));
            r.put("codeset", nl_langinfo(CODESET));
            r.put("status", static_cast<long long>(ov_selvan_common_directory_init("C")));
            for (const char* key : {"#ov_undefined_scd_root", "#ov_undefined_ov_scd_root",
                                    "#ov_undefined_ov_scd_logs", "/var/Orvan/log/msg__ovmgrd.log"})
                r.put(key, ov_get_path(key));
        });
        OV_EXPECT_SCENARIO_RAN(out);
        EXPECT_EQ(out.value("init"), "1");
        EXPECT_EQ(out.value("codeset"), codeset);
        EXPECT_EQ(out.value("status"), std::to_string(c.status));
        EXPECT_EQ(out.value("#ov_undefined_scd_root"), c.familyRoot);
        EXPECT_EQ(out.value("#ov_undefined_ov_scd_root"), c.productRoot);
        EXPECT_EQ(out.value("#ov_undefined_ov_scd_logs"), c.productRoot + "/C/logs");
        EXPECT_EQ(out.value("/var/Orvan/log/msg__ovmgrd.log"),
                  c.productRoot + "/ORV/logs/msg__ovmgrd.log");
    }
}

TEST(StartupScenarioTest, CommonDirectoryRootsKeepTheirBytesInTheCLocale) {
    expectRootsKeptAsTheirBytes("C", nullptr, "ANSI_X3.4-1968");
}

TEST(StartupScenarioTest, CommonDirectoryRootsKeepTheirBytesInAnEightBitLocale) {
    const ovtest::EightBitLocale& latin1 = ovtest::eightBitLocale();
    if (latin1.unavailable()) GTEST_SKIP() << latin1.why;
    ASSERT_TRUE(latin1.ready()) << latin1.why;
    expectRootsKeptAsTheirBytes(ovtest::EightBitLocale::kName, &latin1, "ISO-8859-1");
}

TEST(StartupScenarioTest, WvmsgInitStartsTheProcessOnce) {
    ovtest::Outcome out = ovtest::runScenario(baseScenario(), [](ovtest::Report& r) {
        // An empty name is refused by serviceability: failure, and no start-up yet.
        r.put("empty name", wvmsg_init(""));
        r.put("NLSPATH after failure", getenv("NLSPATH"));
        r.put("first", wvmsg_init("startup_test"));
        r.put("NLSPATH", getenv("NLSPATH"));
        r.put("second", wvmsg_init(""));
    });
    OV_EXPECT_SCENARIO_RAN(out);
    EXPECT_EQ(out.value("empty name"), "0");
    EXPECT_TRUE(out.isNull("NLSPATH after failure"));
    EXPECT_NE(out.errText.find("Cannot initialize DCE servicibility messages(status 0x"),
              std::string::npos)
        << out.errText;
    EXPECT_EQ(out.value("first"), "1");
    EXPECT_EQ(out.value("NLSPATH"), kProductNlspath);
    EXPECT_EQ(out.value("second"), "1");
}

}  // namespace
