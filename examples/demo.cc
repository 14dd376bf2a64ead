// Walks through what the library offers, the way a product program uses it:
//  1. start up as a product program does (wvmsg_init) and look paths and texts up;
//  2. open a configuration file through the registry, read it, change it, store it;
//  3. hit a file with invalid data and log what happened as numbered messages;
//  4. load a file of an earlier release, which is brought up to date on load, and read the
//     FIPS setting from it;
//  5. the road of one request: a name/value map with a subtree and a password is encoded for
//     the wire, decoded on the other side and rendered for the trace, the password masked;
//  6. a typed object (numbers, a flag, bytes, a scope, a nested object, an attribute list)
//     sent in a wire wrapper, read back into a second object and dumped into the debug trace;
//  7. a user-supplied name quoted into a search filter, and a value encoded for storage;
//  8. locks: a read-intend-write hold beside a reader, upgraded to writing once the reader has
//     left, and two processes excluding each other through a file lock of the lock factory.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <future>
#include <initializer_list>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

#include <ovmsg/msg.h>
#include <ovsvc/svc.h>
#include <ovutil/ovutil.h>
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

// A catalog text is a template: its "%s" and "%d" stand for the inserts of the record that
// uses it. Fills them in order with `inserts`, as a log record would show the text (only for
// showing it here: a catalog text is never handed to printf as a format).
std::string filled(const char* text, std::initializer_list<const char*> inserts) {
    std::string out;
    auto next = inserts.begin();
    for (const char* p = text ? text : ""; *p; ++p) {
        if (p[0] == '%' && (p[1] == 's' || p[1] == 'd') && next != inserts.end()) {
            out += *next++;
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

std::string text(const ZAbstractString_6_0& s) { return s.getChars() ? s.getChars() : ""; }

// A user-supplied name on its way into a directory search filter, and a value scrambled for
// storage and read back.
void textUtilities() {
    section("Text: a user-supplied name in a search filter, a value encoded for storage");
    const char* name = "M\xC3\xBCller (sales)*";
    std::printf("name %s: plain name %s, search pattern %s\n", name,
                wv_mbs_validpchars(name) ? "accepted" : "refused",
                wv_mbs_validpatchars(name) ? "accepted" : "refused");
    for (const char* format : {"(&(objectclass=%s)(cn=%Q))", "(&(objectclass=%s)(cn=%P))"}) {
        char* filter = wv_mbs_sprintf(format, "person", name);
        std::printf("%-28s -> %s\n", format, filter ? filter : "(refused)");
        std::free(filter);
    }
    char* dn = wv_mbs_sprintf("cn=%A,o=example", "#admins");
    std::printf("%-28s -> %s\n", "cn=%A,o=example", dn ? dn : "(refused)");
    std::free(dn);
    // A byte that is not UTF-8 cannot be quoted safely: the filter is refused, not guessed.
    char* refused = wv_mbs_sprintf("(cn=%Q)", "M\xFCller");
    std::printf("%-28s -> %s\n", "(cn=%Q) of \"M\\xFCller\"", refused ? refused : "NULL (refused)");
    std::free(refused);

    const char* secret = "s3cret!";
    char* stored = util_encode(secret);
    char* back = util_decode(stored);
    std::printf("util_encode(\"%s\") = %s (%zu bytes)\n", secret, stored, std::strlen(stored));
    std::printf("util_decode of that  = %s\n", back);
    char* again = util_encode(stored);
    std::printf("encoding it again changes nothing: %s\n",
                std::strcmp(again, stored) == 0 ? "yes" : "no");
    std::free(again);
    std::free(back);
    std::free(stored);
}

// Step 6: a typed object on the wire and in the trace.
void typedObjectRoadTrip() {
    section("A typed object: values, a scope, a nested object and an attribute list on the wire");
    OVObject request("login");
    ZUTF8String_6_0 description("sign-on request of the demo");
    request.setDescription(description);
    request.setIntegerValue("port", 636).setBooleanValue("secure", 1);
    static const char token[] = {'\x00', '\x01', '\xfe', '\xff'};
    request.setBufferValue("token", token, sizeof token);
    request.addStringValue("server", "ldap1.example.com", "directory")
        .addStringValue("server", "ldap2.example.com", "directory")
        .setStringValue("password", "s3cret!", 0, "directory");
    OVObject client("client");
    client.setStringValue("host", "ws-042.example.com").setIntegerValue("pid", 4242);
    request.setObjectValue("client", client);
    attrlist_s_t groups = {0, nullptr};
    value_s_t admins = {ATTR_VALUE_STRING, const_cast<char*>("cn=admins,o=example"), 0, nullptr};
    unsigned int gid = 500;
    value_s_t gidValue = {ATTR_VALUE_UINT, nullptr, sizeof gid, &gid};
    attrlist_add_entry(&groups, const_cast<char*>("memberOf"), &admins);
    attrlist_add_entry(&groups, const_cast<char*>("gidNumber"), &gidValue);
    request.setAttrListValue("groups", groups);

    wvobj_t wire;
    OVObject::init_wvobj(wire, 7);
    unsigned long st = 0;
    request.encode(wire, st);
    std::printf("encoded into a wrapper of type %u: status %lu, %u bytes\n", wire.type, st,
                wire.length);

    OVObject received;
    received.decode(wire, st);
    ov_asn_buffer_t bytes = {wire.length, wire.data};
    ov_asn_buffer_free(bytes);
    std::printf("decoded: status %lu; name %s, port %u, secure %s, %u servers in scope directory\n",
                st, received.getName().c_str(), received.integerValue("port"),
                received.booleanValue("secure") ? "yes" : "no",
                received.length("server", "directory"));
    char* data = nullptr;
    unsigned int length = 0;
    received.bufferValue("token", data, length);
    std::printf("token: %u bytes:", length);
    for (unsigned int i = 0; i < length; ++i)
        std::printf(" %02x", static_cast<unsigned char>(data[i]));
    std::printf("\n");
    std::free(data);
    OVObject clientBack;
    received.objectValue("client", clientBack);
    std::printf("nested object %s: host %s, pid %u\n", clientBack.getName().c_str(),
                clientBack.getStringValue("host").c_str(), clientBack.integerValue("pid"));
    attrlist_s_t* back = static_cast<attrlist_s_t*>(std::calloc(1, sizeof(attrlist_s_t)));
    received.attrListValue("groups", *back);
    for (unsigned int i = 0; i < back->count; ++i) {
        const value_s_t& v = back->attrs[i].values[0];
        if (v.type == ATTR_VALUE_UINT)
            std::printf("attribute %s = %u\n", back->attrs[i].name,
                        *static_cast<unsigned int*>(v.data));
        else
            std::printf("attribute %s = %s\n", back->attrs[i].name, v.string);
    }
    attrlist_delete(&back);
    for (unsigned int i = 0; i < groups.count; ++i) attr_free(&groups.attrs[i]);
    std::free(groups.attrs);

    // The dump is a debug record: enable sub-component 3 ("objects") and show debug lines.
    ov_svc_set_debug_level(wvcore_svc_handle, 3, 9);
    ov_svc_route(OV_SVC_DEBUG, "STDOUT");
    received.traceDump(wvcore_svc_handle, "examples/demo", __LINE__, 3, 9, "received object:\n");
    ov_svc_route(OV_SVC_DEBUG, "DISCARD");
}

// A riw hold lets a reader in; the upgrade to writing waits until the reader has left. Then a
// file lock made by the lock factory keeps a second process out until the first lets go.
void lockWalkThrough(const std::string& dir) {
    section("Locks: read-intend-write and an upgrade");
    lock_s_t* lock = nullptr;
    lock__create(&lock, nullptr, nullptr);
    std::printf("main: riw hold: %d\n", lock__riw(lock, nullptr, nullptr, 1));
    std::promise<void> reading, leave;
    std::thread reader([&] {
        std::printf("reader: read beside the riw hold: %d\n",
                    lock__read(lock, nullptr, nullptr, 0));
        reading.set_value();
        leave.get_future().wait();
        std::printf("reader: leaves\n");
        lock__unlock(lock);
    });
    reading.get_future().wait();
    std::printf("main: upgrade tried while the reader holds: %d\n",
                lock__write(lock, nullptr, nullptr, 0));
    leave.set_value();
    std::printf("main: upgrade, waiting for the reader to leave: %d\n",
                lock__write(lock, nullptr, nullptr, 1));
    reader.join();
    lock__unlock(lock);
    lock__delete(lock);

    section("Locks: two processes and one lock file");
    MrProcessLockFactory* factory = MrProcessLockFactory::getLockFactory();
    factory->setLockDirectory(dir.c_str());
    factory->setFactoryType(unixFileLock);
    ZAbstractReadWriteLock_6_0* mine = MrProcessLockFactory::newLock("demo.lock");
    mine->writeLock();
    std::printf("parent: holds %s/demo.lock for writing\n", dir.c_str());
    int ready[2];
    if (pipe(ready) != 0) return;
    const pid_t child = fork();
    if (child == 0) {
        ZAbstractReadWriteLock_6_0* theirs = MrProcessLockFactory::newLock("demo.lock");
        std::printf("child: try to read: %s\n", theirs->tryReadLock() ? "got it" : "busy");
        std::printf("child: asks for it for writing\n");
        if (write(ready[1], "w", 1) != 1) _exit(1);
        theirs->writeLock();
        std::printf("child: holds it now\n");
        theirs->unlock();
        delete theirs;
        _exit(0);
    }
    char c = 0;
    if (child > 0 && read(ready[0], &c, 1) == 1) {
        std::printf("parent: lets go\n");
        mine->unlock();
        int status = 0;
        waitpid(child, &status, 0);
    } else {
        mine->unlock();
    }
    close(ready[0]);
    close(ready[1]);
    delete mine;
}

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);  // keep printed lines and log records in order
    // The catalogs of this build; an installed product finds them under its install path,
    // which start-up puts in front of this search path.
    if (std::getenv("NLSPATH") == nullptr) setenv("NLSPATH", OV_DEMO_NLS_DIR "/%L/%N.cat", 1);

    section("Start-up");
    std::printf("wvmsg_init: %d\n", wvmsg_init("ovutil_demo"));
    // Show every record on standard output so the walk-through reads in order.
    for (unsigned severity : {OV_SVC_FATAL, OV_SVC_ERROR, OV_SVC_WARNING, OV_SVC_NOTICE})
        ov_svc_route(severity, "STDOUT");
    std::printf("NLSPATH = %s\n", std::getenv("NLSPATH"));
    std::printf("UCXDIR  = %s\n", std::getenv("UCXDIR"));
    const char* logKey = "/var/Orvan/log/msg__ovmgrd.log";
    const char* logPath = ov_get_path(logKey);
    std::printf("%s resolves to %s (%s)\n", logKey, logPath,
                logPath == logKey ? "not relocated on this machine" : "relocated");
    const char* root = ov_get_path("#ov_undefined_scd_root");
    std::printf("common directory root: %s\n", root ? root : "(not configured)");
    std::printf("message 0x1354A0C7, for the file /opt/Orvan/etc/ov.conf: %s\n",
                filled(wv_i18n_msg(0x1354A0C7u), {"/opt/Orvan/etc/ov.conf"}).c_str());
    std::printf("message 0x00000001: %s\n", wv_i18n_msg(0x00000001u));

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
                OVStanzaFileProperties::getRegisteredPropertiesFor(conf.c_str(), 0) == props
                    ? "yes"
                    : "no");

    section("Changes: one value set, one server dropped, a commented key added");
    props->setValue("ssl", "ssl-keyfile", "/var/Orvan/keytabs/ovmgrd-2027.kdb");
    std::printf("has server ldap1: %d\n",
                ov->existsValue("manager", "server", "ldap1.example.com:636"));
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
        // The program handles the failure: it tells what was wrong and logs the product's own
        // error about the file. (e.report() would log the exception as the object library's
        // record of its kind, which is fatal for invalid data: right for a failure nobody
        // handles, wrong here.)
        std::printf("refused: %s, line %d: %s\n", e.fileName(), e.lineNumber(), e.reason());
        ov_svc_printf_cs_withfile(wvcore_svc_handle, ov_svc_utf8_cs, "examples/demo", __LINE__,
                                  "%s", 0, OV_SVC_ERROR, 0x1354A0C3, bad.c_str());
    }

    section("A file of an earlier release, brought up to date when it is loaded");
    // The product's rules are chosen by the file's install path, so the copy keeps it.
    const std::string etc = dir + "/opt/Orvan/etc";
    std::system(("mkdir -p '" + etc + "'").c_str());
    const std::string old = etc + "/ov.conf";
    copyFile(OV_DEMO_DATA_DIR "/old-ov.conf", old);
    std::printf("--- before:\n%s---\n", readFile(old).c_str());
    ZStanzaFileProperties_6_0* migrated =
        OVStanzaFileProperties::getRegisteredPropertiesFor(old.c_str(), 0);
    std::printf("--- after loading (version %d):\n%s---\n",
                migrated->getIntegerValue("meta-info", "version", 0, 0), readFile(old).c_str());
    // Point the path table's entry for the product configuration at the copy, as an
    // installation that keeps it elsewhere would, and read the FIPS setting from it.
    PathMap::ovPaths_->putEntry(ZUTF8ConstString_6_0("/opt/Orvan/etc/ov.conf"),
                                ZLCString_6_0(old.c_str()));
    std::printf("FIPS mode: %d\n", getFIPSMode());

    section("The road of one request: a name/value map on the wire");
    NameValueMap request;
    request.addString("user", "cn=alice,o=example");
    request.addString("groups", "admins");
    request.addString("groups", "auditors");
    request.addString("password", "s3cret!");
    NameValueMap* session = request.addSubtree("session");
    session->addString("id", 4711u);
    session->addString("secure", 1);
    static const unsigned char token[] = {0xDE, 0xAD, 0xBE, 0xEF};
    session->addString("token", reinterpret_cast<const char*>(token), sizeof token);
    ov_asn_buffer_t wire = {0, nullptr};
    unsigned long st = 0;
    request.encode(wire, st);
    std::printf("encoded: status %lu, %u bytes of DER:", st, wire.length);
    for (unsigned i = 0; i < wire.length && i < 24; ++i) std::printf(" %02x", wire.data[i]);
    std::printf("%s\n", wire.length > 24 ? " ..." : "");
    NameValueMap received;
    received.decode(wire, st);
    ov_asn_buffer_free(wire);
    std::printf("decoded: status %lu, %u top-level values, session holds %u names\n", st,
                received.getValueCount(), received.getSubtreeCount("session"));
    ZUTF8String_6_0 trace("trace of the received request:\n");
    received.buildTraceBuf(trace, 0);
    std::printf("%s", trace.c_str());

    typedObjectRoadTrip();

    section("Message texts by number, from the catalogs, with sample inserts");
    struct Sample {
        unsigned number;
        std::initializer_list<const char*> inserts;
    };
    for (const Sample& m :
         {Sample{0x1354A0C3u, {"/opt/Orvan/etc/ov.conf"}}, Sample{0x15E3A0A3u, {}},
          Sample{0x35E5102Bu, {"the key is empty", "/opt/Orvan/etc/ov.conf", "12"}}}) {
        unsigned int status = 0;
        const char* t = ov_msg_get_msg(m.number, &status);
        std::printf("0x%08X (%s): %s\n", m.number, status == OV_MSG_S_OK ? "catalog" : "default",
                    t ? filled(t, m.inserts).c_str() : "(none)");
    }

    textUtilities();
    lockWalkThrough(dir);

    std::system(("rm -rf '" + dir + "'").c_str());
    return 0;
}
