// `ovutil cfg ...`: reading, changing, checking and migrating stanza configuration files.
//
// Reads and plain edits go through a stanza-file object of the object library, so that looking
// at a file never rewrites it. `cfg migrate` goes through the product's own class, whose load
// brings a file of an earlier release up to date exactly as a product program would.
// Every write is the object library's crash-safe store, and every write is a read-modify-write
// under the file's edit lock (OVStanzaFileEditLock), taken before the file is read and released
// after the store: concurrent runs of the tool, and programs that edit the file under the same
// lock, do not lose each other's edits. Reads take no lock; a store replaces the file whole.
#include "commands.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <ovutil/OVStanzaFileProperties.h>
#include <ovz/properties.h>
#include <ovz/strings.h>

#include "line_diff.h"
#include "tool.h"

namespace ovtool {

namespace {

struct PropertiesDeleter {
    void operator()(ZProperties_6_0* p) const { delete p; }
};
using StanzaFile = std::unique_ptr<ZStanzaFileProperties_6_0, PropertiesDeleter>;

StanzaFile loadPlain(const std::string& file) {
    StanzaFile props(new ZStanzaFileProperties_6_0(1));
    props->load(file.c_str());
    return props;
}

// The values of stanza/key as the file's bytes, in file order.
std::vector<std::string> valuesOf(ZStanzaFileProperties_6_0& props, const std::string& stanza,
                                  const std::string& key) {
    std::vector<std::string> values;
    ZStanzaValueIterator_6_0 it(props, stanza.c_str(), key.c_str(), ZPROPERTY_STRING_UTF8, 0);
    const char* v = nullptr;
    while (it.hasMore() && it.nextValue(v)) values.emplace_back(v ? v : "");
    return values;
}

std::string namesText(ZArrayList_6_0& list, unsigned long i) {
    const auto* s = static_cast<const ZAbstractString_6_0*>(list.get(i));
    return s ? s->c_str() : "";
}

// A scratch directory beside nothing of the caller's, removed with its files on the way out.
class ScratchDir {
public:
    ScratchDir() {
        const char* tmp = ::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/ovutil-migrate.XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (!::mkdtemp(buf.data())) throw Failure{kMsgCannotWrite, {std::strerror(errno)}};
        path_ = buf.data();
    }
    ~ScratchDir() {
        for (const std::string& f : files_) ::unlink(f.c_str());
        ::rmdir(path_.c_str());
    }
    std::string file(const std::string& name) {
        files_.push_back(path_ + "/" + name);
        return files_.back();
    }

private:
    std::string path_;
    std::vector<std::string> files_;
};

void writeFile(const std::string& path, const std::string& bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) throw Failure{kMsgCannotWrite, {std::strerror(errno)}};
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            int err = errno;
            ::close(fd);
            throw Failure{kMsgCannotWrite, {std::strerror(err)}};
        }
        done += static_cast<size_t>(n);
    }
    ::close(fd);
}

}  // namespace

int cfgGet(const std::string& file, const std::string& stanza, const std::string& key) {
    StanzaFile props = loadPlain(file);
    std::vector<std::string> values = valuesOf(*props, stanza, key);
    if (values.empty() && !props->exists(stanza.c_str(), key.c_str()))
        throw Failure{kMsgNoValue, {file, stanza, key}};
    std::string out;
    for (const std::string& v : values) out += v + "\n";
    writeOutput(out);
    return kOk;
}

int cfgWrite(CfgWrite op, const std::string& file, const std::string& stanza,
             const std::string& key, const std::string* value) {
    OVStanzaFileEditLock hold(file.c_str());
    StanzaFile props = loadPlain(file);
    switch (op) {
        case CfgWrite::kSet:
            props->setValue(stanza.c_str(), key.c_str(), value->c_str(), 0);
            break;
        case CfgWrite::kAdd:
            props->addValue(stanza.c_str(), key.c_str(), value->c_str(), 0);
            break;
        case CfgWrite::kDelete:
            if (value) {
                // Removes the first value equal byte for byte, like deleteValue of the product.
                ZStanzaValueIterator_6_0 it(*props, stanza.c_str(), key.c_str(),
                                            ZPROPERTY_STRING_UTF8, 0);
                const char* v = nullptr;
                bool removed = false;
                while (!removed && it.hasMore() && it.nextValue(v))
                    if (v && *value == v) removed = it.removeValue() == 1;
                if (!removed) throw Failure{kMsgNoValue, {file, stanza, key}};
            } else if (!props->deleteKey(stanza.c_str(), key.c_str())) {
                throw Failure{kMsgNoValue, {file, stanza, key}};
            }
            break;
    }
    props->store(file.c_str());
    return kOk;
}

int cfgList(const std::string& file, const std::string* stanza) {
    StanzaFile props = loadPlain(file);
    std::vector<std::string> stanzas;
    if (stanza) {
        if (!props->exists(stanza->c_str())) throw Failure{kMsgNoStanza, {file, *stanza}};
        stanzas.push_back(*stanza);
    } else {
        ZArrayList_6_0 names(16, 1);
        unsigned long n = props->stanzaNames(names);
        for (unsigned long i = 0; i < n; ++i) stanzas.push_back(namesText(names, i));
    }
    std::string out;
    for (size_t s = 0; s < stanzas.size(); ++s) {
        if (s) out += "\n";
        out += "[" + stanzas[s] + "]\n";
        ZPropertiesKVList_6_0 pairs;
        props->getStanza(stanzas[s].c_str(), pairs);
        for (unsigned long i = 0; i < pairs.getItemCount(); ++i)
            out += std::string(pairs.getItemKey(i)) + " = " + pairs.getItemValue(i) + "\n";
    }
    writeOutput(out);
    return kOk;
}

int cfgCheck(const std::string& file) {
    StanzaFile props = loadPlain(file);
    ZArrayList_6_0 names(16, 1);
    unsigned long n = props->stanzaNames(names);
    writeOutput(file + ": valid, " + std::to_string(n) + (n == 1 ? " stanza\n" : " stanzas\n"));
    return kOk;
}

int cfgMigrate(const std::string& file, bool dryRun) {
    std::string before, after;
    if (dryRun) {
        before = readInput(file);
        // The product's load, on a private copy: the migration rewrites the copy only.
        ScratchDir scratch;
        std::string copy = scratch.file("copy.conf");
        writeFile(copy, before);
        std::unique_ptr<OVStanzaFileProperties, PropertiesDeleter> props(
            new OVStanzaFileProperties);
        props->load(copy.c_str());
        after = readInput(copy);
    } else {
        // The upgrade is a read-modify-write of the file like any edit: `before` is read under
        // the lock, so the diff shows what this run changed.
        OVStanzaFileEditLock hold(file.c_str());
        before = readInput(file);
        std::unique_ptr<OVStanzaFileProperties, PropertiesDeleter> props(
            new OVStanzaFileProperties);
        props->load(file.c_str());
        after = readInput(file);
    }
    writeOutput(unifiedLineDiff(before, after, file));
    return kOk;
}

}  // namespace ovtool
