// Walks through what the library offers, the way a product program uses it:
//  1. name the program to serviceability and find the message catalogs;
//  2. open a configuration file through the registry, read it, change it, store it;
//  3. hit a file with invalid data and log what happened as numbered messages.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include <ovmsg/msg.h>
#include <ovsvc/svc.h>
#include <ovutil/OVStanzaFileProperties.h>
#include <ovz/collections.h>
#include <ovz/exceptions.h>
#include <ovz/strings.h>

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void copyFile(const std::string& from, const std::string& to) {
    std::ofstream(to, std::ios::binary) << readFile(from);
}

void section(const char* title) { std::printf("\n== %s\n", title); }

std::string text(const ZAbstractString_6_0& s) { return s.getChars() ? s.getChars() : ""; }

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);  // keep printed lines and log records in order
    // The catalogs of this build; an installed product finds them under its own install path.
    if (std::getenv("NLSPATH") == nullptr)
        setenv("NLSPATH", OV_DEMO_NLS_DIR "/%L/%N.cat", 1);
    unsigned int status = 0;
    ov_svc_set_progname("ovutil_demo", &status);
    ov_svc_init(0, &status);
    // Show every record on standard output so the walk-through reads in order.
    for (unsigned severity : {OV_SVC_FATAL, OV_SVC_ERROR, OV_SVC_WARNING, OV_SVC_NOTICE})
        ov_svc_route(severity, "STDOUT");

    char dirTemplate[] = "/tmp/ovutil-demo-XXXXXX";
    const std::string dir = mkdtemp(dirTemplate);
    const std::string conf = dir + "/ovmgrd.conf";
    copyFile(OV_DEMO_DATA_DIR "/sample.conf", conf);

    section("A configuration file, opened through the registry");
    ZStanzaFileProperties_6_0* props =
        OVStanzaFileProperties::getRegisteredPropertiesFor(conf.c_str(), 0);
    auto* ov = static_cast<OVStanzaFileProperties*>(props);
    ZUTF8String_6_0 keyfile;
    props->getValue("ssl", "ssl-keyfile", keyfile, 0, nullptr);
    std::printf("ssl / ssl-keyfile = %s\n", text(keyfile).c_str());
    ZArrayList_6_0 servers(4, 1);
    props->getValues("manager", "server", servers, ZPROPERTY_STRING_UTF8);
    for (unsigned long i = 0; i < servers.size(); ++i)
        std::printf("manager / server[%lu] = %s\n", i,
                    text(*static_cast<ZUTF8String_6_0*>(servers.get(i))).c_str());
    std::printf("registry returns the same object again: %s\n",
                OVStanzaFileProperties::getRegisteredPropertiesFor(conf.c_str(), 0) == props ? "yes" : "no");

    section("Changes: one value set, one server dropped, a commented key added");
    props->setValue("ssl", "ssl-keyfile", "/var/Orvan/keytabs/ovmgrd-2027.kdb");
    std::printf("has server ldap1: %d\n", ov->existsValue("manager", "server", "ldap1.example.com:636"));
    ov->deleteValue("manager", "server", "ldap1.example.com:636");
    std::printf("has server ldap1 after deleteValue: %d\n",
                ov->existsValue("manager", "server", "ldap1.example.com:636"));
    props->setIntegerValue("manager", "request-timeout", 30);
    props->addEntryComment("manager", "request-timeout", "Seconds to wait for a directory server.");
    props->store(conf.c_str());
    std::printf("--- %s as stored:\n%s---\n", conf.c_str(), readFile(conf).c_str());

    section("A file with invalid data");
    const std::string bad = dir + "/broken.conf";
    std::ofstream(bad) << "[ssl]\nssl-keyfile = /tmp/key\nthis line has no equals sign\n";
    try {
        OVStanzaFileProperties::getRegisteredPropertiesFor(bad.c_str(), 0);
    } catch (ZPropertiesInvalidDataException_6_0& e) {
        // The exception logs itself as a numbered message of the object library; the product
        // then logs its own message about the file.
        e.report();
        ov_svc_printf_cs_withfile(wvcore_svc_handle, ov_svc_utf8_cs, "examples/demo", __LINE__,
                                  "%s", 0, OV_SVC_ERROR, 0x1354A0C3, bad.c_str());
    }

    section("Message texts by number, from the catalogs");
    for (unsigned number : {0x1354A0C3u, 0x15E3A0A3u, 0x35E5102Bu}) {
        unsigned int st = 0;
        const char* t = ov_msg_get_msg(number, &st);
        std::printf("0x%08X (%s): %s\n", number, st == OV_MSG_S_OK ? "catalog" : "default",
                    t ? t : "(none)");
    }

    std::system(("rm -rf '" + dir + "'").c_str());
    return 0;
}
