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
#include "text_forms.h"
#include "tool.h"

namespace ovtool {

namespace {

struct PropertiesDeleter {
    void operator()(ZProperties_6_0* p) const { delete p; }
};
using StanzaFile = std::unique_ptr<ZStanzaFileProperties_6_0, PropertiesDeleter>;

void onStandardInput(const std::function<void(const char*)>& use);

// Loads `file`, or standard input for "-".
StanzaFile loadPlain(const std::string& file) {
    StanzaFile props(new ZStanzaFileProperties_6_0(1));
    if (file == "-")
        onStandardInput([&](const char* name) { props->load(name); });
    else
        props->load(file.c_str());
    return props;
}

Failure notFound(unsigned number, std::vector<Insert> inserts) {
    return Failure{number, std::move(inserts), kNotFound};
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

// JSON texts of the reading commands: an array of names or values, an object of keys.
std::string jsonArray(const std::vector<std::string>& items) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) out += ",";
        out += jsonString(items[i]);
    }
    return out + "]";
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
std::string shellAssignment(const std::string& key, const std::vector<std::string>& values,
                            const std::string& prefix) {
    std::string joined;
    for (size_t i = 0; i < values.size(); ++i) {
        if (i) joined += '\n';
        joined += values[i];
    }
    return prefix + shellName(key) + "=" + shellQuoted(joined) + "\n";
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
    bool create = false;     // a file that does not exist starts empty
    bool missingOk = false;  // a file that does not exist is left so, with nothing changed
    bool migrate = false;    // load as a product program does: the load upgrades and stores
    bool verbose = false;    // say on standard error whether the file was written
    bool dryRun = false;     // change the loaded copy only; store nothing
    bool diff = false;       // print the unified diff (inside the JSON result with `json`)
    bool json = false;       // print the result as a JSON object
    std::optional<std::string> backupSuffix;  // copy the file to FILE+suffix before a store
    unsigned waitMs = OVStanzaFileEditLock::kDefaultTimeoutMs;  // for the edit lock
};

// What editFile did: whether the file changes (is written, or would be in a dry run),
// whether it was written, the backup made, and the file's bytes before and after when they
// were needed (a migration, a diff, a dry run or a JSON result).
struct EditResult {
    bool changed = false;
    bool written = false;
    std::string backup;
    std::string before, after;
};

void migrateAsProduct(const std::string& path);
std::string storedText(ZStanzaFileProperties_6_0& props);
void makeBackup(const std::string& file, const std::string& path, const std::string& bytes);

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
//
// Where the result is for a machine (a diff, a dry run, JSON), the file's text after the change
// is made by a store into a scratch file and compared with the text before, so "changed" is
// exactly whether the bytes of the file change.
EditResult editFile(const std::string& file, const EditOptions& options, const Change& change) {
    const bool mayBeAbsent = options.create || options.missingOk;
    OVStanzaFileEditLock hold(file.c_str(), options.waitMs,
                              mayBeAbsent ? OVStanzaFileEditLock::kMayCreate : 0,
                              lockWaitNotice(file));
    // One resolution of the name per edit: the file held is the one loaded and stored.
    const std::string held = editTarget(file, hold.path());
    EditResult result;
    if (options.migrate) {
        result.before = readInput(held, ZPROPERTIES_MAX_FILE_SIZE);
        migrateAsProduct(file);
        result.after = readInput(held, ZPROPERTIES_MAX_FILE_SIZE);
        result.written = result.changed = result.before != result.after;
    } else {
        const bool absent = mayBeAbsent && nothingAt(held);
        const bool exact = options.diff || options.dryRun || options.json;
        StanzaFile props(new ZStanzaFileProperties_6_0(1));
        if (!absent) props->load(held.c_str());
        // Read after the load, under the lock: the bytes the load saw.
        if (!absent && (exact || options.backupSuffix))
            result.before = readInput(held, ZPROPERTIES_MAX_FILE_SIZE);
        result.changed = change(*props);
        // A missing file that --missing-ok accepts is not made.
        if (absent && !options.create) result.changed = false;
        if (result.changed && exact) {
            result.after = storedText(*props);
            result.changed = absent || result.after != result.before;
        }
        if (!result.changed) result.after = result.before;
        if (result.changed && !options.dryRun) {
            if (options.backupSuffix && !options.backupSuffix->empty() && !absent) {
                result.backup = file + *options.backupSuffix;
                makeBackup(file, result.backup, result.before);
            }
            props->store(held.c_str());
            result.written = true;
        }
    }
    if (options.verbose)
        std::fprintf(stderr, "ovutil: %s: %s\n", file.c_str(),
                     result.written                     ? "written"
                     : options.dryRun && result.changed ? "would be written (dry run)"
                                                        : "unchanged, not written");
    if (!options.migrate) {
        if (options.json) {
            std::string out = "{\"file\":" + jsonString(file) +
                              ",\"changed\":" + (result.changed ? "true" : "false") +
                              ",\"written\":" + (result.written ? "true" : "false") +
                              ",\"dry_run\":" + (options.dryRun ? "true" : "false");
            if (!result.backup.empty()) out += ",\"backup\":" + jsonString(result.backup);
            if (options.diff)
                out +=
                    ",\"diff\":" + jsonString(unifiedLineDiff(result.before, result.after, file));
            writeOutput(out + "}\n");
        } else if (options.diff) {
            writeOutput(unifiedLineDiff(result.before, result.after, file));
        }
    }
    return result;
}

EditOptions editOptions(const WriteOptions& w) {
    EditOptions e;
    e.create = w.create;
    e.missingOk = w.missingOk;
    e.verbose = w.verbose;
    e.dryRun = w.dryRun;
    e.diff = w.diff;
    e.json = w.json;
    e.backupSuffix = w.backupSuffix;
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
    // `purpose` goes into the directory's name: /tmp/ovutil-PURPOSE.XXXXXX.
    explicit ScratchDir(const char* purpose = "migrate") {
        const char* tmp = ::getenv("TMPDIR");
        const bool fromEnvironment = tmp && *tmp;
        const std::string base = fromEnvironment ? tmp : "/tmp";
        std::string pattern = base + "/ovutil-" + purpose + ".XXXXXX";
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

    const std::string& root() const { return root_; }

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

// The bytes a store of `props` writes, stored into a scratch file and read back; the file
// the object came from is not touched.
std::string storedText(ZStanzaFileProperties_6_0& props) {
    ScratchDir scratch("diff");
    const std::string path = scratch.copy("/new", "");
    props.store(path.c_str());
    return readInput(path, ZPROPERTIES_MAX_FILE_SIZE);
}

// Standard input is copied into a scratch file named "-", which `use` reads from a working
// directory set to the scratch directory, so that what the loader reports names "-".
void onStandardInput(const std::function<void(const char*)>& use) {
    const std::string bytes = readInput("-", ZPROPERTIES_MAX_FILE_SIZE);
    ScratchDir scratch("stdin");
    const std::string copy = scratch.copy("/-", bytes);
    const int here = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (here < 0 || ::chdir(scratch.root().c_str()) != 0) {
        if (here >= 0) ::close(here);
        use(copy.c_str());  // the working directory cannot be left and found again
        return;
    }
    auto back = [here] {
        // The directory was open; only its removal meanwhile could make this fail, and the
        // tool uses no relative name after reading standard input.
        if (::fchdir(here) != 0) std::perror("ovutil: fchdir");
        ::close(here);
    };
    try {
        use("-");
    } catch (...) {
        back();
        throw;
    }
    back();
}

// Writes `bytes` (the file's text before the change) to `path` for --backup: a new file in
// the same directory renamed over `path`, with the permission bits of `file` (and, run as
// root, its owner and group). An existing backup that the caller could not write itself is
// not replaced.
void makeBackup(const std::string& file, const std::string& path, const std::string& bytes) {
    struct stat original;
    if (::stat(file.c_str(), &original) != 0)
        throw Failure{kMsgCannotCreate, {path, std::strerror(errno)}};
    struct stat old;
    if (::lstat(path.c_str(), &old) == 0) {
        if (S_ISDIR(old.st_mode)) throw Failure{kMsgCannotCreate, {path, std::strerror(EISDIR)}};
        if (S_ISREG(old.st_mode) && ::access(path.c_str(), W_OK) != 0)
            throw Failure{kMsgCannotCreate, {path, std::strerror(errno)}};
    }
    const size_t slash = path.rfind('/');
    std::string temp = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) +
                       ".ovutil-backup.XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) throw Failure{kMsgCannotCreate, {path, std::strerror(errno)}};
    auto fail = [&](int err) {
        ::close(fd);
        ::unlink(temp.c_str());
        return Failure{kMsgCannotCreate, {path, std::strerror(err)}};
    };
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw fail(errno);
        done += static_cast<size_t>(n);
    }
    if (::geteuid() == 0 && ::fchown(fd, original.st_uid, original.st_gid) != 0) throw fail(errno);
    if (::fchmod(fd, original.st_mode & 07777) != 0 || ::fsync(fd) != 0) throw fail(errno);
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        throw Failure{kMsgCannotCreate, {path, std::strerror(err)}};
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        throw Failure{kMsgCannotCreate, {path, std::strerror(err)}};
    }
}

}  // namespace

// ---- reading ------------------------------------------------------------------------------

int cfgGet(const std::string& file, const std::string& stanza, const std::string& key,
           const ReadOptions& options) {
    StanzaFile props = loadPlain(file);
    std::vector<std::string> values = valuesOf(*props, stanza, key);
    if (values.empty() && !props->exists(stanza.c_str(), key.c_str())) {
        if (!options.defaultValue) throw notFound(kMsgNoValue, {file, stanza, key});
        values = {*options.defaultValue};
    }
    switch (options.form) {
        case OutputForm::kShell:
            writeOutput(shellAssignment(key, values, options.shellPrefix));
            break;
        case OutputForm::kJson:
            writeOutput(jsonArray(values) + "\n");
            break;
        default:
            writeOutput(nameList(values, options.form));
    }
    return kOk;
}

int cfgNames(const std::string& file, const std::string* stanza, const ReadOptions& options) {
    StanzaFile props = loadPlain(file);
    std::vector<std::string> names;
    if (!stanza) {
        names = stanzaNames(*props);
    } else {
        if (!props->exists(stanza->c_str())) throw notFound(kMsgNoStanza, {file, *stanza});
        names = keyNames(*props, *stanza);
    }
    writeOutput(options.form == OutputForm::kJson ? jsonArray(names) + "\n"
                                                  : nameList(names, options.form));
    return kOk;
}

int cfgList(const std::string& file, const std::string* stanza, const ReadOptions& options) {
    const OutputForm form = options.form;
    StanzaFile props = loadPlain(file);
    std::vector<std::string> stanzas;
    if (stanza) {
        if (!props->exists(stanza->c_str())) throw notFound(kMsgNoStanza, {file, *stanza});
        stanzas.push_back(*stanza);
    } else {
        stanzas = stanzaNames(*props);
    }
    if (form == OutputForm::kShell) {
        // One assignment per key; two keys that would set the same variable are refused
        // rather than letting one silently win. The stanza's text is made whole before any
        // of it is written, so that a refusal writes nothing.
        std::string out;
        std::map<std::string, std::string> byName;
        for (const std::string& key : keyNames(*props, stanzas.at(0))) {
            auto [it, fresh] = byName.emplace(shellName(key), key);
            if (!fresh) throw Failure{kMsgShellName, {it->second, key, stanzas[0]}};
            out += shellAssignment(key, valuesOf(*props, stanzas[0], key), options.shellPrefix);
        }
        writeOutput(out);
        return kOk;
    }
    // The other forms cannot fail once the file is loaded: they are written as they are
    // made, a stanza at a time.
    OutputStream out;
    if (form == OutputForm::kJson) {
        // {"stanza": {"key": ["value", ...], ...}, ...}: stanzas in file order, keys in the
        // order of their first line, values in file order.
        out.put('{');
        for (size_t s = 0; s < stanzas.size(); ++s) {
            if (s) out.put(',');
            out.put(jsonString(stanzas[s]));
            out.put(":{");
            const std::vector<std::string> keys = keyNames(*props, stanzas[s]);
            for (size_t k = 0; k < keys.size(); ++k) {
                if (k) out.put(',');
                out.put(jsonString(keys[k]));
                out.put(':');
                out.put(jsonArray(valuesOf(*props, stanzas[s], keys[k])));
            }
            out.put('}');
        }
        out.put("}\n");
        out.finish();
        return kOk;
    }
    ZPropertiesKVList_6_0 pairs;
    for (size_t s = 0; s < stanzas.size(); ++s) {
        props->getStanza(stanzas[s].c_str(), pairs);
        const unsigned long count = pairs.getItemCount();
        if (form == OutputForm::kNul) {
            // stanza, key and value, separated by line breaks (which none of them can hold),
            // each entry ended by NUL.
            for (unsigned long i = 0; i < count; ++i) {
                out.put(stanzas[s]);
                out.put('\n');
                out.put(pairs.getItemKey(i));
                out.put('\n');
                out.put(pairs.getItemValue(i));
                out.put('\0');
            }
            continue;
        }
        if (s) out.put('\n');
        out.put('[');
        out.put(stanzas[s]);
        out.put("]\n");
        for (unsigned long i = 0; i < count; ++i) {
            out.put(pairs.getItemKey(i));
            out.put(" = ");
            out.put(pairs.getItemValue(i));
            out.put('\n');
        }
    }
    out.finish();
    return kOk;
}

// ---- writing ------------------------------------------------------------------------------

namespace {

// The edits, each on a loaded file; each returns whether it changed the file and throws a
// not-found Failure naming `file` where there is nothing to change and that is an error.

bool setValues(ZStanzaFileProperties_6_0& props, const std::string& stanza, const std::string& key,
               const std::vector<std::string>& values, bool ifAbsent) {
    if (ifAbsent && props.exists(stanza.c_str(), key.c_str())) return false;
    if (valuesOf(props, stanza, key) == values) return false;
    // The first value line is rewritten in place, the others removed; the rest follow it.
    props.setValue(stanza.c_str(), key.c_str(), values.at(0).c_str(), 0);
    for (size_t i = 1; i < values.size(); ++i)
        props.addValue(stanza.c_str(), key.c_str(), values[i].c_str(), 0);
    return true;
}

bool addValue(ZStanzaFileProperties_6_0& props, const std::string& stanza, const std::string& key,
              const std::string& value, bool unique) {
    if (unique) {
        const std::vector<std::string> values = valuesOf(props, stanza, key);
        for (const std::string& v : values)
            if (v == value) return false;
    }
    props.addValue(stanza.c_str(), key.c_str(), value.c_str(), 0);
    return true;
}

bool deleteValue(ZStanzaFileProperties_6_0& props, const std::string& file,
                 const std::string& stanza, const std::string& key, const std::string* value,
                 bool missingOk) {
    bool removed = false;
    if (value) {
        // Removes the first value equal byte for byte, like deleteValue of the product.
        ZStanzaValueIterator_6_0 it(props, stanza.c_str(), key.c_str(), ZPROPERTY_STRING_UTF8, 0);
        const char* v = nullptr;
        while (!removed && it.hasMore() && it.nextValue(v))
            if (v && *value == v) removed = it.removeValue() == 1;
    } else {
        removed = props.deleteKey(stanza.c_str(), key.c_str()) == 1;
    }
    if (!removed && !missingOk) throw notFound(kMsgNoValue, {file, stanza, key});
    return removed;
}

bool deleteStanza(ZStanzaFileProperties_6_0& props, const std::string& file,
                  const std::string& stanza, bool missingOk) {
    bool removed = props.deleteStanza(stanza.c_str()) == 1;
    if (!removed && !missingOk) throw notFound(kMsgNoStanza, {file, stanza});
    return removed;
}

bool renameStanza(ZStanzaFileProperties_6_0& props, const std::string& file,
                  const std::string& stanza, const std::string& name) {
    if (!props.exists(stanza.c_str())) throw notFound(kMsgNoStanza, {file, stanza});
    if (name == stanza) return false;
    if (props.exists(name.c_str())) throw Failure{kMsgStanzaExists, {file, name}};
    return props.renameStanza(stanza.c_str(), name.c_str()) == 1;
}

// One line of an edit script, checked before the file is touched: the command, its options
// and its arguments.
struct ScriptEdit {
    unsigned line = 0;
    std::string command;
    bool ifAbsent = false, unique = false, missingOk = false;
    std::vector<std::string> args;
};

// The commands of a script and what they take: options, and the least and most arguments
// (0: no limit).
struct ScriptVerb {
    const char* name;
    const char* option;  // the one option it takes, or null
    size_t least, most;
};
constexpr ScriptVerb kScriptVerbs[] = {
    {"set", "--if-absent", 3, 0},     {"add", "--unique", 3, 3},
    {"del", "--missing-ok", 2, 3},    {"del-stanza", "--missing-ok", 1, 1},
    {"rename-stanza", nullptr, 2, 2},
};

std::vector<ScriptEdit> parseScript(const std::string& name, const std::string& text) {
    std::vector<ScriptCommand> commands;
    try {
        commands = splitScript(text);
    } catch (const ScriptSyntaxError& e) {
        throw Failure{kMsgScriptSyntax, {name, long{e.line}, e.reason}, kUsage};
    }
    std::vector<ScriptEdit> edits;
    for (const ScriptCommand& c : commands) {
        auto bad = [&](const std::string& why) {
            return Failure{kMsgScriptSyntax, {name, long{c.line}, why}, kUsage};
        };
        ScriptEdit edit;
        edit.line = c.line;
        edit.command = c.words[0];
        const ScriptVerb* verb = nullptr;
        for (const ScriptVerb& v : kScriptVerbs)
            if (edit.command == v.name) verb = &v;
        if (!verb)
            throw bad("unknown command '" + edit.command +
                      "' (set, add, del, del-stanza, rename-stanza)");
        bool options = true;
        for (size_t i = 1; i < c.words.size(); ++i) {
            const std::string& w = c.words[i];
            if (options && w == "--") {
                options = false;
            } else if (options && w.size() > 1 && w[0] == '-') {
                if (!verb->option || w != verb->option)
                    throw bad("unknown option '" + w + "' of " + edit.command);
                edit.ifAbsent = w == "--if-absent";
                edit.unique = w == "--unique";
                edit.missingOk = w == "--missing-ok";
            } else {
                edit.args.push_back(w);
            }
        }
        if (edit.args.size() < verb->least || (verb->most && edit.args.size() > verb->most))
            throw bad(edit.command + " takes " + std::to_string(verb->least) +
                      (verb->most == verb->least ? ""
                       : verb->most              ? " or " + std::to_string(verb->most)
                                                 : " or more") +
                      " arguments, not " + std::to_string(edit.args.size()));
        edits.push_back(std::move(edit));
    }
    return edits;
}

bool applyEdit(ZStanzaFileProperties_6_0& props, const std::string& file, const ScriptEdit& e) {
    const std::vector<std::string>& a = e.args;
    if (e.command == "set")
        return setValues(props, a[0], a[1], std::vector<std::string>(a.begin() + 2, a.end()),
                         e.ifAbsent);
    if (e.command == "add") return addValue(props, a[0], a[1], a[2], e.unique);
    if (e.command == "del")
        return deleteValue(props, file, a[0], a[1], a.size() > 2 ? &a[2] : nullptr, e.missingOk);
    if (e.command == "del-stanza") return deleteStanza(props, file, a[0], e.missingOk);
    return renameStanza(props, file, a[0], a[1]);
}

}  // namespace

int cfgSet(const std::string& file, const std::string& stanza, const std::string& key,
           const std::vector<std::string>& values, const WriteOptions& options) {
    editFile(file, editOptions(options), [&](ZStanzaFileProperties_6_0& props) {
        return setValues(props, stanza, key, values, options.ifAbsent);
    });
    return kOk;
}

int cfgAdd(const std::string& file, const std::string& stanza, const std::string& key,
           const std::string& value, const WriteOptions& options) {
    editFile(file, editOptions(options), [&](ZStanzaFileProperties_6_0& props) {
        return addValue(props, stanza, key, value, options.unique);
    });
    return kOk;
}

int cfgDelete(const std::string& file, const std::string& stanza, const std::string& key,
              const std::string* value, const WriteOptions& options) {
    editFile(file, editOptions(options), [&](ZStanzaFileProperties_6_0& props) {
        return deleteValue(props, file, stanza, key, value, options.missingOk);
    });
    return kOk;
}

int cfgDeleteStanza(const std::string& file, const std::string& stanza,
                    const WriteOptions& options) {
    editFile(file, editOptions(options), [&](ZStanzaFileProperties_6_0& props) {
        return deleteStanza(props, file, stanza, options.missingOk);
    });
    return kOk;
}

int cfgRenameStanza(const std::string& file, const std::string& stanza, const std::string& name,
                    const WriteOptions& options) {
    editFile(file, editOptions(options), [&](ZStanzaFileProperties_6_0& props) {
        return renameStanza(props, file, stanza, name);
    });
    return kOk;
}

int cfgApply(const std::string& file, const std::string& script, const WriteOptions& options) {
    // The whole script is read and checked before the file's lock is taken.
    const std::vector<ScriptEdit> edits =
        parseScript(script, readInput(script, ZPROPERTIES_MAX_FILE_SIZE));
    editFile(file, editOptions(options), [&](ZStanzaFileProperties_6_0& props) {
        bool changed = false;
        for (const ScriptEdit& e : edits) {
            try {
                changed = applyEdit(props, file, e) || changed;
            } catch (const Failure& f) {
                printError(f.number, f.inserts);
                throw Failure{kMsgScriptLine, {script, long{e.line}, file}, f.status};
            } catch (const ZException_6_0& x) {
                const Failure f = exceptionFailure(x);
                printError(f.number, f.inserts);
                throw Failure{kMsgScriptLine, {script, long{e.line}, file}};
            }
        }
        return changed;
    });
    return kOk;
}

int cfgMerge(const std::string& file, const std::string& fragment, const WriteOptions& options) {
    // The fragment is read before the file's lock is taken; its stanzas and keys keep their
    // order, a key's values theirs.
    StanzaFile from = loadPlain(fragment);
    editFile(file, editOptions(options), [&](ZStanzaFileProperties_6_0& props) {
        bool changed = false;
        for (const std::string& stanza : stanzaNames(*from))
            for (const std::string& key : keyNames(*from, stanza))
                changed =
                    setValues(props, stanza, key, valuesOf(*from, stanza, key), false) || changed;
        return changed;
    });
    return kOk;
}

// ---- checking and migrating ---------------------------------------------------------------

int cfgCheck(const std::string& file) {
    std::vector<ZStanzaFileProblem_6_0> problems;
    unsigned long n = 0;
    auto check = [&](const char* name) {
        problems = ZStanzaFileProperties_6_0::check(name);
        if (!problems.empty()) return;
        StanzaFile props(new ZStanzaFileProperties_6_0(1));
        props->load(name);
        n = props->count();
    };
    if (file == "-")
        onStandardInput(check);
    else
        check(file.c_str());
    if (problems.empty()) {
        writeOutput(file + ": valid, " + std::to_string(n) + (n == 1 ? " stanza\n" : " stanzas\n"));
        return kOk;
    }
    std::string report;
    for (const ZStanzaFileProblem_6_0& p : problems)
        report += file + ":" + std::to_string(p.line) + ": " + p.reason + "\n";
    std::fputs(report.c_str(), stderr);
    throw Failure{kMsgInvalidLines, {file, static_cast<long>(problems.size())}};
}

int cfgMigrate(const std::string& file, bool dryRun, bool json, unsigned waitMs) {
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
    const std::string diff = unifiedLineDiff(before, after, file);
    if (json) {
        const bool changed = before != after;
        writeOutput("{\"file\":" + jsonString(file) +
                    ",\"changed\":" + (changed ? "true" : "false") +
                    ",\"written\":" + (changed && !dryRun ? "true" : "false") + ",\"dry_run\":" +
                    (dryRun ? "true" : "false") + ",\"diff\":" + jsonString(diff) + "}\n");
    } else {
        writeOutput(diff);
    }
    return kOk;
}

}  // namespace ovtool
