// An outside C++ program built against an installed copy: it writes a stanza file through the
// product's class, reads it back through the registry and checks the values, and checks that
// start-up found the installed message catalogs with no help from the environment.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <ovmsg/msg.h>
#include <ovutil/ovutil.h>
#include <ovz/exceptions.h>
#include <ovz/strings.h>

int main() {
    ovutil_init();
    unsigned int status = 0;
    const char* text = ov_msg_get_msg(0x10652065u, &status);
    if (text == nullptr || status != OV_MSG_S_OK) {
        const char* path = std::getenv("NLSPATH");
        std::fprintf(stderr, "no catalog text for 0x10652065 (status 0x%x, NLSPATH=%s)\n", status,
                     path != nullptr ? path : "(unset)");
        return 1;
    }
    char dirTemplate[] = "/tmp/ovutil-outside-XXXXXX";
    const std::string dir = mkdtemp(dirTemplate);
    const std::string file = dir + "/outside.conf";
    try {
        OVStanzaFileProperties props;
        props.addStanza("outside");
        props.addValue("outside", "value", "first", 0);
        props.addValue("outside", "value", "second", 0);
        props.store(file.c_str());

        ZStanzaFileProperties_6_0* loaded =
            OVStanzaFileProperties::getRegisteredPropertiesFor(file.c_str(), 0);
        auto* product = dynamic_cast<OVStanzaFileProperties*>(loaded);
        if (product == nullptr || !product->existsValue("outside", "value", "second")) {
            std::fprintf(stderr, "the registry did not give back the stored values\n");
            return 1;
        }
        ZUTF8String_6_0 first;
        loaded->getValue("outside", "value", first, 0, nullptr);
        if (first.getChars() == nullptr || std::strcmp(first.getChars(), "first") != 0) {
            std::fprintf(stderr, "first value reads back wrong\n");
            return 1;
        }
    } catch (ZException_6_0& e) {
        std::fprintf(stderr, "exception: %s\n", e.text());
        return 1;
    }
    std::system(("rm -rf '" + dir + "'").c_str());
    std::printf(
        "outside C++ project: stanza file written and read back through the registry; "
        "catalog text: %s\n",
        text);
    return 0;
}
