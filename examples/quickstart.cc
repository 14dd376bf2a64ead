// The programs of the API documentation's quick-start page (docs/quickstart.md shows the
// pieces between the [name] markers). Built with the examples and run as a test, so the page
// shows code that compiles and does what the page says.
//
// Usage: ovutil_quickstart DIRECTORY   (a directory it may write files into)
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <ovutil/ovutil.h>
#include <ovz/exceptions.h>
#include <ovz/properties.h>
#include <ovz/strings.h>

namespace {

int failures = 0;

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "quickstart: FAILED: %s\n", what);
        ++failures;
    }
}

void writeFile(const std::string& path, const char* text) {
    if (FILE* f = std::fopen(path.c_str(), "w")) {
        std::fputs(text, f);
        std::fclose(f);
    }
}

// The whole content of a small file, for the checks.
std::string readFile(const std::string& path) {
    std::string bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char chunk[4096];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.append(chunk, n);
        std::fclose(f);
    }
    return bytes;
}

void configurationFile(const std::string& dir) {
    const std::string path = dir + "/ovmgrd.conf";
    writeFile(path,
              "[meta-info]\nversion = 1552\n\n[manager]\nserver = ldap1:636\nserver = ldap2:636\n");
    const char* file = path.c_str();
    //! [read]
    // The registry's one object for the file: loaded on the first request (and brought up
    // to the current release if an earlier one wrote it, see below), kept for the process.
    ZStanzaFileProperties_6_0* conf = OVStanzaFileProperties::getRegisteredPropertiesFor(file, 0);

    // Read: one value, all values of a multi-valued key, a number with a default.
    ZUTF8String_6_0 first;
    conf->getValue("manager", "server", first, 0, nullptr);  // "ldap1:636"
    ZArrayList_6_0 servers(4, 1);  // 1: the list owns (and deletes) the strings it is given
    conf->getValues("manager", "server", servers, ZPROPERTY_STRING_UTF8);
    int timeout = conf->getIntegerValue("manager", "request-timeout", 30, 0);

    // List: the stanza names in file order, and the key names of each stanza.
    ZArrayList_6_0 stanzas(8, 1);
    conf->stanzaNames(stanzas);
    for (unsigned long i = 0; i < stanzas.size(); ++i) {
        const char* stanza = static_cast<const ZAbstractString_6_0*>(stanzas.get(i))->c_str();
        ZArrayList_6_0 keys(8, 1);
        conf->keyNames(stanza, keys);
        for (unsigned long k = 0; k < keys.size(); ++k)
            std::printf("[%s] %s\n", stanza,
                        static_cast<const ZAbstractString_6_0*>(keys.get(k))->c_str());
    }
    //! [read]
    check(std::strcmp(first.c_str(), "ldap1:636") == 0, "first value");
    check(servers.size() == 2 && timeout == 30, "all values and the default");
    check(stanzas.size() == 2, "stanza names");

    //! [edit]
    // Edit under the file's edit lock, which the ovutil tool and the product's other programs
    // take too: the lock is held while the registry's object is reloaded from the file,
    // changed by the function and stored (when it returns true), so no edit made by another
    // process in between is lost. The store replaces the file whole or not at all and
    // touches only the lines that changed.
    OVStanzaFileProperties::editRegisteredPropertiesFor(file, [](ZStanzaFileProperties_6_0& c) {
        c.setValue("manager", "request-timeout", "60", 0);
        static_cast<OVStanzaFileProperties&>(c).deleteValue("manager", "server", "ldap1:636");
        return true;  // store it
    });
    //! [edit]
    check(conf->numValues("manager", "server") == 1, "value deleted");
    check(readFile(path).find("request-timeout = 60\n") != std::string::npos, "edit stored");
}

void olderRelease(const std::string& dir) {
    const std::string path = dir + "/old.conf";
    const char* before = "[manager]\nserver = ldap1:636\n";  // no [meta-info] version
    writeFile(path, before);
    const char* file = path.c_str();
    //! [plain]
    // A plain stanza-file object reads a file as it is: no upgrade, nothing written.
    ZStanzaFileProperties_6_0 plain(1);
    plain.load(file);
    ZUTF8String_6_0 version;
    plain.getValue("meta-info", "version", version, 0, "none");  // "none": an earlier release

    // Through the registry (as every product program opens it), the load upgrades a file of
    // an earlier release and stores it back at once: this rewrites the file.
    OVStanzaFileProperties::getRegisteredPropertiesFor(file, 0);
    //! [plain]
    check(std::strcmp(version.c_str(), "none") == 0, "a plain load sees the file as it is");
    check(readFile(path) != before, "the registry's load rewrote the older file");
}

void configurationErrors(const std::string& dir) {
    const std::string path = dir + "/broken.conf";
    writeFile(path, "[manager]\nserver = ldap1:636\nthis line has no equals sign\n");
    const char* file = path.c_str();
    int invalidLine = 0;
    //! [errors]
    try {
        OVStanzaFileProperties::editRegisteredPropertiesFor(file, [](ZStanzaFileProperties_6_0& c) {
            c.setValue("manager", "request-timeout", "60", 0);
            return true;
        });
    } catch (ZPropertiesInvalidDataException_6_0& e) {
        // A line that is not valid: e.fileName(), e.lineNumber(), e.reason().
        invalidLine = e.lineNumber();
        std::fprintf(stderr, "%s:%d: %s\n", e.fileName(), e.lineNumber(), e.reason());
    } catch (ZException_6_0& e) {
        // Every other failure of the object library: a file that cannot be read or written,
        // a refused argument, the lock not had in time, memory. e.text() describes it;
        // e.report() logs it as a numbered message.
        std::fprintf(stderr, "%s\n", e.text());
    }
    //! [errors]
    check(invalidLine == 3, "invalid data names its line");
}

void typedObject() {
    //! [object]
    OVObject request("login");
    request.setIntegerValue("port", 636, 0, nullptr);
    request.addStringValue("server", "ldap1.example.com", "directory");
    request.setStringValue("password", "s3cret", 0, nullptr);

    // Encode for the wire, decode on the other side.
    ov_asn_buffer_t wire = {0, nullptr};
    unsigned long status = 0;
    request.encode(wire, status);  // 0: `wire` holds the DER bytes
    OVObject received;
    received.decode(wire, status);
    ov_asn_buffer_free(wire);
    unsigned int port = received.integerValue("port", 0, nullptr);  // 636

    // Trace: the map's rendering, with the value of "password" shown as ********.
    ZUTF8String_6_0 trace("received:\n");
    received.map.buildTraceBuf(trace, 0);
    //! [object]
    check(status == 0 && port == 636, "object round trip");
    check(std::strstr(trace.c_str(), "s3cret") == nullptr &&
              std::strstr(trace.c_str(), "********") != nullptr,
          "trace masks the password");
}

void locks(const std::string& dir) {
    //! [locks]
    // Between threads of one process: read with the intent to write (readers may still come
    // in), then upgrade to writing, which waits until the other readers have left.
    lock_s_t* lock = nullptr;
    lock__create(&lock, nullptr, nullptr);
    lock__riw(lock, nullptr, nullptr, 1);  // 1: wait for the hold
    // ... read, decide to change ...
    lock__write(lock, nullptr, nullptr, 1);  // the upgrade
    // ... change ...
    lock__unlock(lock);
    lock__delete(lock);

    // Between processes: a named lock file in the factory's directory.
    MrProcessLockFactory* factory = MrProcessLockFactory::getLockFactory();
    factory->setLockDirectory(dir.c_str());
    factory->setFactoryType(unixFileLock);
    ZAbstractReadWriteLock_6_0* shared = MrProcessLockFactory::newLock("ovmgrd.lock");
    shared->writeLock();
    // ... change what the lock guards ...
    shared->unlock();
    delete shared;
    //! [locks]
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: ovutil_quickstart DIRECTORY\n");
        return 2;
    }
    if (mkdir(argv[1], 0700) != 0 && errno != EEXIST) {
        std::perror(argv[1]);
        return 1;
    }
    wvmsg_init("ovutil_quickstart");
    configurationFile(argv[1]);
    olderRelease(argv[1]);
    configurationErrors(argv[1]);
    typedObject();
    locks(argv[1]);
    if (failures) return 1;
    std::puts("quickstart: all steps did what the page says");
    return 0;
}
