// `ovutil cfg ...`: reading, changing, checking and migrating stanza configuration files.
//
// Reads and plain edits go through a stanza-file object of the object library, so that looking
// at a file never rewrites it. `cfg migrate` goes through the product's own class, whose load
// brings a file of an earlier release up to date exactly as a product program would.
// Every write goes through editFile: a read-modify-write under the file's edit lock
// (OVStanzaFileEditLock), taken before the file is read and released after the store, so that
// concurrent runs of the tool, and programs that edit the file under the same lock, do not
// lose each other's edits. The store is the object library's crash-safe store. Reads take no
// lock; a store replaces the file whole.
#include "commands.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <ovsvc/capture.hpp>
#include <ovutil/OVStanzaFileProperties.h>
#include <ovz/exceptions.h>
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

std::vector<std::string> texts(const ZArrayList_6_0& list) {
    std::vector<std::string> out;
    for (unsigned long i = 0; i < list.size(); ++i) {
        const auto* s = static_cast<const ZAbstractString_6_0*>(list.get(i));
        out.emplace_back(s && s->c_str() ? s->c_str() : "");
    }
    return out;
}

std::vector<std::string> stanzaNames(const ZStanzaFileProperties_6_0& props) {
    ZArrayList_6_0 names(16, 1);
    props.stanzaNames(names);
    return texts(names);
}

std::vector<std::string> keyNames(const ZStanzaFileProperties_6_0& props,
                                  const std::string& stanza) {
    ZArrayList_6_0 names(16, 1);
    props.keyNames(stanza.c_str(), names);
    return texts(names);
}

// `text` in single quotes for a POSIX shell: a quote inside becomes '\''.
std::string shellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

// The shell variable name of a key: letters, digits and '_' stay, every other byte becomes
// '_', and a leading digit gets a '_' in front ("ssl-keyfile" -> ssl_keyfile).
std::string shellName(const std::string& key) {
    std::string out;
    if (!key.empty() && key[0] >= '0' && key[0] <= '9') out += '_';
    for (char c : key) {
        bool keep =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        out += keep ? c : '_';
    }
    return out;
}

// One shell assignment per key; the values of a key with several are joined by line breaks
// (a stored value never holds one, so the join can be split again).
std::string shellAssignment(const std::string& key, const std::vector<std::string>& values) {
    std::string joined;
    for (size_t i = 0; i < values.size(); ++i) {
        if (i) joined += '\n';
        joined += values[i];
    }
    return shellName(key) + "=" + shellQuoted(joined) + "\n";
}

// Names, one per line or each followed by NUL.
std::string nameList(const std::vector<std::string>& names, OutputForm form) {
    std::string out;
    for (const std::string& n : names) {
        out += n;
        out += form == OutputForm::kNul ? '\0' : '\n';
    }
    return out;
}

// ---- every write --------------------------------------------------------------------------

// A change to a loaded file; returns whether it changed anything.
using Change = std::function<bool(ZStanzaFileProperties_6_0&)>;

struct EditOptions {
    bool create = false;   // a file that does not exist starts empty
    bool migrate = false;  // load as a product program does: the load upgrades and stores
    bool verbose = false;  // say on standard error whether the file was written
    unsigned waitMs = OVStanzaFileEditLock::kDefaultTimeoutMs;  // for the edit lock
};

// What editFile did: whether the file was written, and for a migration the file's bytes
// before and after.
struct EditResult {
    bool written = false;
    std::string before, after;
};

void migrateAsProduct(const std::string& path);

// Whether nothing at all has the name `path` (not even a dangling symbolic link, whose target
// a store would create).
bool nothingAt(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) != 0 && errno == ENOENT;
}

// Every write of the tool goes through here: the file is loaded, changed and stored under its
// edit lock. An unchanged file is not written at all (it keeps its inode and times). With
// `migrate` the product's load does the change and the store itself, and the bytes before and
// after are read around it, under the lock, so the diff shows what this run changed.
EditResult editFile(const std::string& file, const EditOptions& options, const Change& change) {
    OVStanzaFileEditLock hold(file.c_str(), options.waitMs,
                              options.create ? OVStanzaFileEditLock::kMayCreate : 0,
                              lockWaitNotice(file));
    // One resolution of the name per edit: the file held is the one loaded and stored.
    const std::string held = editTarget(file, hold.path());
    EditResult result;
    if (options.migrate) {
        result.before = readInput(held, ZPROPERTIES_MAX_FILE_SIZE);
        migrateAsProduct(file);
        result.after = readInput(held, ZPROPERTIES_MAX_FILE_SIZE);
        result.written = result.before != result.after;
    } else {
        StanzaFile props(new ZStanzaFileProperties_6_0(1));
        if (!options.create || !nothingAt(held)) props->load(held.c_str());
        if (change(*props)) {
            props->store(held.c_str());
            result.written = true;
        }
    }
    if (options.verbose)
        std::fprintf(stderr, "ovutil: %s: %s\n", file.c_str(),
                     result.written ? "written" : "unchanged, not written");
    return result;
}

EditOptions editOptions(const WriteOptions& w) {
    EditOptions e;
    e.create = w.create;
    e.verbose = w.verbose;
    e.waitMs = w.waitMs;
    return e;
}

// ---- migration ---------------------------------------------------------------------------

// The product's stanza-file object, which remembers why its store failed: the migration
// swallows that failure (it only logs that the file was left as it was), and the tool must
// report it with its reason.
class MigratingFile : public OVStanzaFileProperties {
public:
    void store(const char* fileName = nullptr) override {
        try {
            OVStanzaFileProperties::store(fileName);
        } catch (const ZException_6_0& e) {
            storeFailure = std::make_unique<Failure>(exceptionFailure(e));
            throw;
        }
    }
    std::unique_ptr<Failure> storeFailure;
};

class MigratingFactory : public ZAbstractPropertiesFactory_6_0 {
public:
    ZProperties_6_0* makePropertiesInstance() override { return new MigratingFile; }
};

// Opens `path` through the registry as a product program does (the registry makes the name
// absolute, and the migration's rules for particular files go by that name), so the load
// migrates and stores the file. Throws when the upgrade could not be stored, or stopped.
void migrateAsProduct(const std::string& path) {
    static MigratingFactory factory;
    ovsvc::CaptureSink capture;
    ZProperties_6_0* props = ZProperties_6_0::getPropertiesFor(path.c_str(), factory, 0);
    if (auto* file = dynamic_cast<MigratingFile*>(props); file && file->storeFailure)
        throw *file->storeFailure;
    std::vector<ovsvc::CapturedRecord> failed = capture.withMsgid(OV_MSG_CONFIG_MIGRATION_FAILED);
    if (!failed.empty())
        throw Failure{OV_MSG_CONFIG_MIGRATION_FAILED,
                      {failed[0].inserts.empty() ? path : failed[0].inserts[0]}};
}

// `file` made absolute against the working directory, "." components and repeated slashes
// taken out: the name the registry gives a product program's load.
std::string absoluteName(const std::string& file) {
    std::string joined = file;
    if (file.empty() || file[0] != '/') {
        std::vector<char> cwd(PATH_MAX);
        if (!::getcwd(cwd.data(), cwd.size()))
            throw Failure{kMsgCannotRead, {".", std::strerror(errno)}};
        joined = std::string(cwd.data()) + "/" + file;
    }
    std::string out;
    size_t i = 0;
    while (i < joined.size()) {
        size_t j = joined.find('/', i);
        if (j == std::string::npos) j = joined.size();
        std::string part = joined.substr(i, j - i);
        if (!part.empty() && part != ".") {
            out += '/';
            out += part;
        }
        i = j + 1;
    }
    return out.empty() ? "/" : out;
}

// A private directory under TMPDIR (or /tmp), removed with everything the tool put in it.
class ScratchDir {
public:
    ScratchDir() {
        const char* tmp = ::getenv("TMPDIR");
        const bool fromEnvironment = tmp && *tmp;
        const std::string base = fromEnvironment ? tmp : "/tmp";
        std::string pattern = base + "/ovutil-migrate.XXXXXX";
        if (!::mkdtemp(pattern.data()))
            throw Failure{kMsgNoScratch,
                          {fromEnvironment ? base + " (TMPDIR)" : base, std::strerror(errno)}};
        root_ = pattern;
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    ~ScratchDir() {
        ::unlink(file_.c_str());
        for (auto d = dirs_.rbegin(); d != dirs_.rend(); ++d) ::rmdir(d->c_str());
        ::rmdir(root_.c_str());
    }

    // Writes `bytes` to the absolute name `name` inside the scratch directory and returns the
    // path of that copy. Only one copy is made.
    std::string copy(const std::string& name, const std::string& bytes) {
        std::string path = root_;
        size_t i = 1;
        for (size_t j; (j = name.find('/', i)) != std::string::npos; i = j + 1) {
            path += '/';
            path.append(name, i, j - i);
            if (::mkdir(path.c_str(), 0700) != 0)
                throw Failure{kMsgCannotCreate, {path, std::strerror(errno)}};
            dirs_.push_back(path);
        }
        file_ = path + '/';
        file_.append(name, i, std::string::npos);
        writeNew(file_, bytes);
        return file_;
    }

private:
    static void writeNew(const std::string& path, const std::string& bytes) {
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) throw Failure{kMsgCannotCreate, {path, std::strerror(errno)}};
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                int err = errno;
                ::close(fd);
                throw Failure{kMsgCannotCreate, {path, std::strerror(err)}};
            }
            done += static_cast<size_t>(n);
        }
        if (::close(fd) != 0) throw Failure{kMsgCannotCreate, {path, std::strerror(errno)}};
    }

    std::string root_;
    std::vector<std::string> dirs_;
    std::string file_;
};

}  // namespace

// ---- reading ------------------------------------------------------------------------------

int cfgGet(const std::string& file, const std::string& stanza, const std::string& key,
           OutputForm form) {
    StanzaFile props = loadPlain(file);
    std::vector<std::string> values = valuesOf(*props, stanza, key);
    if (values.empty() && !props->exists(stanza.c_str(), key.c_str()))
        throw Failure{kMsgNoValue, {file, stanza, key}};
    writeOutput(form == OutputForm::kShell ? shellAssignment(key, values) : nameList(values, form));
    return kOk;
}

int cfgNames(const std::string& file, const std::string* stanza, OutputForm form) {
    StanzaFile props = loadPlain(file);
    if (!stanza) {
        writeOutput(nameList(stanzaNames(*props), form));
        return kOk;
    }
    if (!props->exists(stanza->c_str())) throw Failure{kMsgNoStanza, {file, *stanza}};
    writeOutput(nameList(keyNames(*props, *stanza), form));
    return kOk;
}

int cfgList(const std::string& file, const std::string* stanza, OutputForm form) {
    StanzaFile props = loadPlain(file);
    std::vector<std::string> stanzas;
    if (stanza) {
        if (!props->exists(stanza->c_str())) throw Failure{kMsgNoStanza, {file, *stanza}};
        stanzas.push_back(*stanza);
    } else {
        stanzas = stanzaNames(*props);
    }
    std::string out;
    if (form == OutputForm::kShell) {
        // One assignment per key; two keys that would set the same variable are refused
        // rather than letting one silently win.
        std::map<std::string, std::string> byName;
        for (const std::string& key : keyNames(*props, stanzas.at(0))) {
            auto [it, fresh] = byName.emplace(shellName(key), key);
            if (!fresh) throw Failure{kMsgShellName, {it->second, key, stanzas[0]}};
            out += shellAssignment(key, valuesOf(*props, stanzas[0], key));
        }
        writeOutput(out);
        return kOk;
    }
    for (size_t s = 0; s < stanzas.size(); ++s) {
        ZPropertiesKVList_6_0 pairs;
        props->getStanza(stanzas[s].c_str(), pairs);
        if (form == OutputForm::kNul) {
            // stanza, key and value, separated by line breaks (which none of them can hold),
            // each entry ended by NUL.
            for (unsigned long i = 0; i < pairs.getItemCount(); ++i) {
                out += stanzas[s] + "\n" + pairs.getItemKey(i) + "\n" + pairs.getItemValue(i);
                out += '\0';
            }
            continue;
        }
        if (s) out += "\n";
        out += "[" + stanzas[s] + "]\n";
        for (unsigned long i = 0; i < pairs.getItemCount(); ++i)
            out += std::string(pairs.getItemKey(i)) + " = " + pairs.getItemValue(i) + "\n";
    }
    writeOutput(out);
    return kOk;
}

// ---- writing ------------------------------------------------------------------------------

int cfgSet(const std::string& file, const std::string& stanza, const std::string& key,
           const std::string& value, const WriteOptions& options) {
    editFile(file, editOptions(options), [&](ZStanzaFileProperties_6_0& props) {
        if (valuesOf(props, stanza, key) == std::vector<std::string>{value}) return false;
        props.setValue(stanza.c_str(), key.c_str(), value.c_str(), 0);
        return true;
    });
    return kOk;
}

int cfgAdd(const std::string& file, const std::string& stanza, const std::string& key,
           const std::string& value, const WriteOptions& options) {
    editFile(file, editOptions(options), [&](ZStanzaFileProperties_6_0& props) {
        props.addValue(stanza.c_str(), key.c_str(), value.c_str(), 0);
        return true;
    });
    return kOk;
}

int cfgDelete(const std::string& file, const std::string& stanza, const std::string& key,
              const std::string* value, const WriteOptions& options) {
    editFile(file, editOptions(options), [&](ZStanzaFileProperties_6_0& props) {
        bool removed = false;
        if (value) {
            // Removes the first value equal byte for byte, like deleteValue of the product.
            ZStanzaValueIterator_6_0 it(props, stanza.c_str(), key.c_str(), ZPROPERTY_STRING_UTF8,
                                        0);
            const char* v = nullptr;
            while (!removed && it.hasMore() && it.nextValue(v))
                if (v && *value == v) removed = it.removeValue() == 1;
        } else {
            removed = props.deleteKey(stanza.c_str(), key.c_str()) == 1;
        }
        if (!removed && !options.missingOk) throw Failure{kMsgNoValue, {file, stanza, key}};
        return removed;
    });
    return kOk;
}

int cfgDeleteStanza(const std::string& file, const std::string& stanza,
                    const WriteOptions& options) {
    editFile(file, editOptions(options), [&](ZStanzaFileProperties_6_0& props) {
        bool removed = props.deleteStanza(stanza.c_str()) == 1;
        if (!removed && !options.missingOk) throw Failure{kMsgNoStanza, {file, stanza}};
        return removed;
    });
    return kOk;
}

int cfgRenameStanza(const std::string& file, const std::string& stanza, const std::string& name,
                    const WriteOptions& options) {
    editFile(file, editOptions(options), [&](ZStanzaFileProperties_6_0& props) {
        if (!props.exists(stanza.c_str())) throw Failure{kMsgNoStanza, {file, stanza}};
        if (name == stanza) return false;
        if (props.exists(name.c_str())) throw Failure{kMsgStanzaExists, {file, name}};
        return props.renameStanza(stanza.c_str(), name.c_str()) == 1;
    });
    return kOk;
}

// ---- checking and migrating ---------------------------------------------------------------

int cfgCheck(const std::string& file) {
    std::vector<ZStanzaFileProblem_6_0> problems = ZStanzaFileProperties_6_0::check(file.c_str());
    if (problems.empty()) {
        StanzaFile props = loadPlain(file);
        unsigned long n = props->count();
        writeOutput(file + ": valid, " + std::to_string(n) + (n == 1 ? " stanza\n" : " stanzas\n"));
        return kOk;
    }
    std::string report;
    for (const ZStanzaFileProblem_6_0& p : problems)
        report += file + ":" + std::to_string(p.line) + ": " + p.reason + "\n";
    std::fputs(report.c_str(), stderr);
    throw Failure{kMsgInvalidLines, {file, static_cast<long>(problems.size())}};
}

int cfgMigrate(const std::string& file, bool dryRun, unsigned waitMs) {
    std::string before, after;
    if (dryRun) {
        // The product's load, on a private copy under the same absolute name inside a scratch
        // directory, so that the rules for particular files still apply: only the copy is
        // rewritten. The size is checked before anything is copied.
        before = readInput(file, ZPROPERTIES_MAX_FILE_SIZE);
        ScratchDir scratch;
        std::string copy = scratch.copy(absoluteName(file), before);
        migrateAsProduct(copy);
        after = readInput(copy, ZPROPERTIES_MAX_FILE_SIZE);
    } else {
        EditOptions options;
        options.migrate = true;
        options.waitMs = waitMs;
        EditResult result = editFile(file, options, nullptr);
        before = std::move(result.before);
        after = std::move(result.after);
    }
    writeOutput(unifiedLineDiff(before, after, file));
    return kOk;
}

}  // namespace ovtool
