// ZProperties_6_0: a stanza file held as a document under a reader/writer lock; the
// observers; the process-wide registry; reading and crash-safe writing of files.
#include <ovz/properties.h>

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

#include <ovsvc/svc.h>
#include <ovz/exceptions.h>
#include <ovz/message_service.h>

#include "hash_bytes.h"
#include "properties_impl.h"

using ovz_stanza::Document;

namespace ovz_properties {

namespace {
[[noreturn]] void refuse(const char* what) {
    ZInvalidParameterException_6_0(what).throwException(__FILE__, __LINE__);
}
}  // namespace

std::string_view stanzaArg(const char* stanza) {
    if (!stanza) refuse("the stanza name is null");
    std::string_view s(stanza);
    if (const char* why = Document::checkStanzaName(s)) refuse(why);
    return s;
}

std::string_view keyArg(const char* key) {
    if (!key) refuse("the key is null");
    std::string_view k(key);
    if (const char* why = Document::checkKey(k)) refuse(why);
    return k;
}

std::string_view valueArg(const char* value) {
    std::string_view v(value ? value : "");
    if (const char* why = Document::checkValue(v)) refuse(why);
    return v;
}

std::string_view textArg(const char* text) {
    if (!text) refuse("the comment text is null");
    return std::string_view(text);
}

void noFlags(int flags) {
    if (flags != 0) refuse("no flags are defined for this operation");
}

std::string utf8Of(const ZAbstractString_6_0& text) {
    if (text.codeSet() == ZCODESET_UTF8) return std::string(text.c_str(), text.length());
    ZUTF8String_6_0 converted;
    converted.assignLocal(text.c_str());
    return std::string(converted.c_str(), converted.length());
}

void assignFromFile(ZAbstractMutableString_6_0& out, std::string_view utf8) {
    std::string text(utf8);  // the strings take NUL-terminated text
    out.assignUTF8(text.c_str());
}

void appendString(ZArrayList_6_0& out, std::string_view utf8, ZPropertyStringType type) {
    if (type == ZPROPERTY_STRING_UTF8) {
        ZUTF8String_6_0 s;
        assignFromFile(s, utf8);
        out.add(s);
    } else {
        ZLCString_6_0 s;
        assignFromFile(s, utf8);
        out.add(s);
    }
}

}  // namespace ovz_properties

using namespace ovz_properties;

// ---- observers --------------------------------------------------------------------------

ZObserver_6_0::~ZObserver_6_0() = default;

struct ZAbstractObservable_6_0::State {
    mutable std::mutex lock;
    std::vector<ZObserver_6_0*> observers;
};

ZAbstractObservable_6_0::ZAbstractObservable_6_0() : state_(new State) {}
ZAbstractObservable_6_0::~ZAbstractObservable_6_0() { delete state_; }

void ZAbstractObservable_6_0::addObserver(ZObserver_6_0& observer) {
    std::lock_guard<std::mutex> hold(state_->lock);
    auto& v = state_->observers;
    if (std::find(v.begin(), v.end(), &observer) == v.end()) v.push_back(&observer);
}

void ZAbstractObservable_6_0::deleteObserver(ZObserver_6_0& observer) {
    std::lock_guard<std::mutex> hold(state_->lock);
    auto& v = state_->observers;
    v.erase(std::remove(v.begin(), v.end(), &observer), v.end());
}

void ZAbstractObservable_6_0::deleteObservers() {
    std::lock_guard<std::mutex> hold(state_->lock);
    state_->observers.clear();
}

int ZAbstractObservable_6_0::countObservers() const {
    std::lock_guard<std::mutex> hold(state_->lock);
    return static_cast<int>(state_->observers.size());
}

void ZAbstractObservable_6_0::notifyObservers(void* arg) {
    std::vector<ZObserver_6_0*> copy;
    {
        std::lock_guard<std::mutex> hold(state_->lock);
        copy = state_->observers;
    }
    for (ZObserver_6_0* o : copy) o->update(*this, arg);
}

// ---- ZPropertiesInterface_6_0 / ZProperties_6_0 -----------------------------------------

ZPropertiesInterface_6_0::~ZPropertiesInterface_6_0() = default;

ZProperties_6_0::ZProperties_6_0() : impl_(new Impl) {}
ZProperties_6_0::~ZProperties_6_0() { delete impl_; }

namespace {
using ReadLock = std::shared_lock<std::shared_mutex>;
using WriteLock = std::unique_lock<std::shared_mutex>;

// The file was stored, but its directory could not be synced: the new file may not survive
// a crash of the machine, which is worth a warning but no failure.
constexpr int kMsgDirectoryNotSynced = 0x35E51037;

void warnUnsynced(const std::string& fileName, int err) {
    try {
        ZUTF8String_6_0 file(fileName.c_str());
        ZUTF8String_6_0 reason(std::strerror(err));
        ZMessageService_6_0::messageService()->outputMessageUTF8(
            "%1: %2", kMsgDirectoryNotSynced, OV_SVC_WARNING, 0, &file, &reason, nullptr, nullptr,
            nullptr, nullptr);
    } catch (std::exception&) {
        // The store has happened; a warning that cannot be written changes nothing about that.
    }
}
}  // namespace

int ZProperties_6_0::exists(const char* stanza, const char* key) const {
    std::string_view s = stanzaArg(stanza), k = keyArg(key);
    ReadLock hold(impl_->lock);
    return impl_->doc->hasKey(s, k) ? 1 : 0;
}

int ZProperties_6_0::exists(const char* stanza) const {
    std::string_view s = stanzaArg(stanza);
    ReadLock hold(impl_->lock);
    return impl_->doc->hasStanza(s) ? 1 : 0;
}

int ZProperties_6_0::isObfuscated(const char*, const char*) const { return 0; }
int ZProperties_6_0::isObfuscated(const char*) const { return 0; }

int ZProperties_6_0::getValue(const char* stanza, const char* key, ZAbstractMutableString_6_0& out,
                              int index, const char* defaultValue) const {
    std::string_view s = stanzaArg(stanza), k = keyArg(key);
    std::string value;
    bool found = false;
    if (index >= 0) {
        ReadLock hold(impl_->lock);
        std::string_view v;
        found = impl_->doc->value(s, k, static_cast<size_t>(index), &v);
        if (found) value.assign(v);
    }
    if (found) {
        assignFromFile(out, value);
    } else if (defaultValue) {
        out.assignUTF8(defaultValue);
    } else {
        out.clear();
    }
    return found ? 1 : 0;
}

int ZProperties_6_0::getIntegerValue(const char* stanza, const char* key, int defaultValue,
                                     unsigned) const {
    std::string_view s = stanzaArg(stanza), k = keyArg(key);
    ReadLock hold(impl_->lock);
    std::string_view v;
    int result;
    if (!impl_->doc->value(s, k, 0, &v) || !ovz_stanza::parseInteger(v, &result))
        return defaultValue;
    return result;
}

int ZProperties_6_0::getBooleanValue(const char* stanza, const char* key, int defaultValue,
                                     int) const {
    std::string_view s = stanzaArg(stanza), k = keyArg(key);
    ReadLock hold(impl_->lock);
    std::string_view v;
    bool result;
    if (!impl_->doc->value(s, k, 0, &v) || !ovz_stanza::parseBoolean(v, &result))
        return defaultValue;
    return result ? 1 : 0;
}

unsigned long ZProperties_6_0::getValues(const char* stanza, const char* key, ZArrayList_6_0& out,
                                         ZPropertyStringType type) const {
    std::string_view s = stanzaArg(stanza), k = keyArg(key);
    std::vector<std::string> copies;
    {
        ReadLock hold(impl_->lock);
        for (std::string_view v : impl_->doc->values(s, k)) copies.emplace_back(v);
    }
    for (const std::string& v : copies) appendString(out, v, type);
    return copies.size();
}

unsigned long ZProperties_6_0::numValues(const char* stanza) const {
    std::string_view s = stanzaArg(stanza);
    ReadLock hold(impl_->lock);
    return impl_->doc->valueCount(s);
}

unsigned long ZProperties_6_0::numValues(const char* stanza, const char* key) const {
    std::string_view s = stanzaArg(stanza), k = keyArg(key);
    ReadLock hold(impl_->lock);
    return impl_->doc->valueCount(s, k);
}

unsigned long ZProperties_6_0::count() const {
    ReadLock hold(impl_->lock);
    return impl_->doc->stanzaCount();
}

unsigned long ZProperties_6_0::count(const char* stanza) const {
    std::string_view s = stanzaArg(stanza);
    ReadLock hold(impl_->lock);
    return impl_->doc->keyCount(s);
}

void ZProperties_6_0::load(const char* fileName) {
    if (!fileName)
        ZInvalidParameterException_6_0("the file name is null").throwException(__FILE__, __LINE__);
    // Parse outside the lock into a fresh document, so that readers never wait for the parse
    // and a file with invalid data leaves the current contents as they were.
    std::unique_ptr<Document> doc;
    Document::ParseError error;
    int err = 0;
    bool parsed = false;
    try {
        ByteBuffer bytes;
        err = readWholeFile(fileName, bytes, kMaxPropertiesFile);
        if (!err) {
            doc = std::make_unique<Document>();
            parsed = doc->parse(std::move(bytes), &error);
        }
    } catch (std::bad_alloc&) {
        ZOutOfMemoryException_6_0().throwException(__FILE__, __LINE__);
    }
    if (err)
        ZException_6_0(ZEXC_FILE_READ, {fileName, fileErrorText(err)})
            .throwException(__FILE__, __LINE__);
    if (!parsed) {
        ZPropertiesInvalidDataException_6_0(error.reason, fileName, static_cast<int>(error.line))
            .throwException(__FILE__, __LINE__);
    }
    {
        WriteLock hold(impl_->lock);
        impl_->doc.swap(doc);
        impl_->fileName = fileName;
    }
    doc.reset();
    postLoad(fileName);
    notifyObservers(const_cast<char*>(fileName));
}

void ZProperties_6_0::reload(const char* fileName) {
    if (fileName) {
        load(fileName);
        return;
    }
    std::string last;
    {
        ReadLock hold(impl_->lock);
        last = impl_->fileName;
    }
    if (last.empty())
        ZInvalidParameterException_6_0("no file was loaded").throwException(__FILE__, __LINE__);
    load(last.c_str());
}

void ZProperties_6_0::store(const char* fileName) {
    // The document goes into the temporary file as it is serialised, through a buffer of
    // fixed size: a store costs the same per line whatever the size of the file, and the
    // first store of a process maps no memory for a copy of the file. Edits wait while the
    // temporary file is written, not while it is synced.
    constexpr size_t kChunk = size_t{64} << 10;
    struct Content {
        Impl* impl;
        const std::string* loadedName;  // store(nullptr): the name the object was loaded from
        bool reloaded;
        char* buffer;
    };
    ContentWriter write = [](void* context, int fd) noexcept {
        auto* content = static_cast<Content*>(context);
        ReadLock hold(content->impl->lock);
        if (content->loadedName && content->impl->fileName != *content->loadedName) {
            content->reloaded = true;
            return ESTALE;
        }
        Document::Sink sink = [](void* out, const char* data, size_t size) {
            return writeAll(*static_cast<int*>(out), data, size);
        };
        return content->impl->doc->serialize(content->buffer, kChunk, sink, &fd);
    };
    std::unique_ptr<char[]> buffer(new char[kChunk]);
    for (;;) {
        std::string name;
        mode_t mode = 0;
        ReplaceOptions options;
        {
            ReadLock hold(impl_->lock);
            name = fileName ? fileName : impl_->fileName;
            mode = impl_->newFileMode;
            if (impl_->newFileModeSet) options.newFileMode = &mode;
        }
        if (name.empty())
            ZInvalidParameterException_6_0("no file name to store to")
                .throwException(__FILE__, __LINE__);
        Content content{impl_, fileName ? nullptr : &name, false, buffer.get()};
        int syncError = 0;
        std::string refusedBy;
        int err = replaceFile(name.c_str(), write, &content, options, &syncError, &refusedBy);
        // A load of another file came between the look at the name and the writing: the
        // document belongs to that file now, and is stored there.
        if (content.reloaded) continue;
        if (err) {
            // The directory is named when it is what refuses the new file.
            const std::string reason = refusedBy.empty() ? std::string(fileErrorText(err))
                                                         : "its directory " + refusedBy +
                                                               " refuses: " + fileErrorText(err);
            ZException_6_0(ZEXC_FILE_WRITE, {name, reason}).throwException(__FILE__, __LINE__);
        }
        if (syncError) warnUnsynced(name, syncError);
        return;
    }
}

void ZProperties_6_0::list() const {
    std::string text;
    {
        ReadLock hold(impl_->lock);
        text = impl_->doc->serialize();
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void ZProperties_6_0::setValue(const char* stanza, const char* key, const char* value) {
    setValue(stanza, key, value, 0);
}

void ZProperties_6_0::setValue(const char* stanza, const char* key, const char* value, int flags) {
    noFlags(flags);
    std::string_view s = stanzaArg(stanza), k = keyArg(key), v = valueArg(value);
    WriteLock hold(impl_->lock);
    impl_->doc->setValue(s, k, v);
}

void ZProperties_6_0::setValue(const char* stanza, const char* key, const ZLCString_6_0& value,
                               int flags) {
    setValue(stanza, key, utf8Of(value).c_str(), flags);
}

void ZProperties_6_0::setValue(const char* stanza, const char* key, const ZUTF8String_6_0& value,
                               int flags) {
    setValue(stanza, key, value.c_str(), flags);
}

void ZProperties_6_0::setValue(const char* stanza, const char* key, const ZLCConstString_6_0& value,
                               int flags) {
    setValue(stanza, key, utf8Of(value).c_str(), flags);
}

void ZProperties_6_0::setValue(const char* stanza, const char* key,
                               const ZUTF8ConstString_6_0& value, int flags) {
    setValue(stanza, key, value.c_str(), flags);
}

void ZProperties_6_0::setIntegerValue(const char* stanza, const char* key, unsigned value) {
    setValue(stanza, key, std::to_string(value).c_str(), 0);
}

void ZProperties_6_0::setBooleanValue(const char* stanza, const char* key, int value) {
    setValue(stanza, key, value ? "yes" : "no", 0);
}

int ZProperties_6_0::deleteKey(const char* stanza, const char* key) {
    std::string_view s = stanzaArg(stanza), k = keyArg(key);
    WriteLock hold(impl_->lock);
    return impl_->doc->deleteKey(s, k) ? 1 : 0;
}

void ZProperties_6_0::addFileComment(const char* text) {
    std::string_view t = textArg(text);
    WriteLock hold(impl_->lock);
    impl_->doc->addFileComment(t);
}

int ZProperties_6_0::addEntryComment(const char* stanza, const char* key, const char* text) {
    std::string_view s = stanzaArg(stanza), k = keyArg(key), t = textArg(text);
    WriteLock hold(impl_->lock);
    return impl_->doc->addEntryComment(s, k, t) ? 1 : 0;
}

void ZProperties_6_0::postLoad(const char*) {}

int ZProperties_6_0::checkComment(ZLCString_6_0& text) {
    std::string original(text.c_str(), text.length());
    std::string joined;
    for (const std::string& line : Document::commentLines(original)) {
        if (!joined.empty()) joined.push_back('\n');
        joined.append(line);
    }
    if (joined == original) return 0;
    text.assign(joined.c_str());
    return 1;
}

int ZProperties_6_0::setAttributes(unsigned long attribute, void* value) {
    if (!value)
        ZInvalidParameterException_6_0("the attribute value is null")
            .throwException(__FILE__, __LINE__);
    if (attribute != ZPROPERTIES_ATTR_NEW_FILE_MODE)
        ZInvalidParameterException_6_0("unknown properties attribute")
            .throwException(__FILE__, __LINE__);
    WriteLock hold(impl_->lock);
    impl_->newFileMode = *static_cast<const mode_t*>(value) & 07777;
    impl_->newFileModeSet = true;
    return 1;
}

int ZProperties_6_0::checkAccess(const char*, const char*, int) const { return 1; }

// ---- factory ----------------------------------------------------------------------------

ZPropertiesFactoryInterface_6_0::~ZPropertiesFactoryInterface_6_0() = default;
ZAbstractPropertiesFactory_6_0::~ZAbstractPropertiesFactory_6_0() = default;

// ---- registry ---------------------------------------------------------------------------

namespace {

struct RegistryEntry {
    ZProperties_6_0* object = nullptr;
    std::string path;  // the name the object loads and stores (FileNames::path)
    bool loading = false;
    pthread_t loader{};
};

struct Registry {
    std::mutex lock;
    std::condition_variable settled;  // an entry stopped loading
    // Node-based: references to entries stay valid while other names are added. The keyed
    // hash, as for every table of names that callers choose.
    std::unordered_map<std::string, RegistryEntry, ovz_internal::TextHash> entries;
};

// Made on first use and lives as long as the process: registered objects are handed out
// until the very end. A function-local static rather than pthread_once, so that running out
// of memory at the first use throws to the caller and the next use tries again, instead of
// unwinding through the C library's pthread_once (which must then load the unwinder, and
// aborts the process when that needs memory it cannot get).

// The names of a requested file. `path`: the absolute name that the object loads and stores,
// made absolute against the working directory of the request, with "." components and
// repeated slashes taken out (".." stays: after a symbolic link it leads elsewhere than the
// text suggests). `key`: what tells files apart, the real path of the file (symbolic links
// and ".." resolved) when it exists, else `path`.
struct FileNames {
    std::string path;
    std::string key;
};

FileNames namesOf(const char* fileName) {
    std::string absolute;
    if (fileName[0] != '/') {
        char* cwd = ::getcwd(nullptr, 0);
        if (!cwd)
            ZException_6_0(ZEXC_FILE_READ, {fileName, std::strerror(errno)})
                .throwException(__FILE__, __LINE__);
        absolute = cwd;
        std::free(cwd);
        absolute.push_back('/');
    }
    absolute.append(fileName);
    FileNames names;
    for (size_t i = 0; i < absolute.size();) {
        size_t end = absolute.find('/', i);
        if (end == std::string::npos) end = absolute.size();
        std::string_view part(absolute.data() + i, end - i);
        if (!part.empty() && part != ".") {
            names.path.push_back('/');
            names.path.append(part);
        }
        i = end + 1;
    }
    if (names.path.empty() || absolute.back() == '/') names.path.push_back('/');
    if (char* real = ::realpath(names.path.c_str(), nullptr)) {
        names.key = real;
        std::free(real);
    } else {
        names.key = names.path;
    }
    return names;
}

Registry& registry() {
    static Registry* const registry = new Registry;
    return *registry;
}

}  // namespace

ZProperties_6_0* ZProperties_6_0::getPropertiesFor(const char* fileName,
                                                   ZAbstractPropertiesFactory_6_0& factory,
                                                   int flags) {
    if (!fileName)
        ZInvalidParameterException_6_0("the file name is null").throwException(__FILE__, __LINE__);
    // One file has one object, whatever the spelling of its name.
    const FileNames names = namesOf(fileName);
    Registry& r = registry();
    std::unique_lock<std::mutex> hold(r.lock);
    RegistryEntry& entry = r.entries[names.key];
    while (!entry.object && entry.loading) {
        if (pthread_equal(entry.loader, pthread_self())) {
            ZException_6_0(ZEXC_FAILURE,
                           {"the properties file is being loaded by this thread already"})
                .throwException(__FILE__, __LINE__);
        }
        r.settled.wait(hold);
    }
    if (entry.object) {
        ZProperties_6_0* object = entry.object;
        const std::string path = entry.path;
        hold.unlock();
        if (flags & ZPROPERTIES_RELOAD) object->load(path.c_str());
        return object;
    }
    entry.loading = true;
    entry.loader = pthread_self();
    hold.unlock();

    ZProperties_6_0* object = nullptr;
    try {
        object = factory.makePropertiesInstance();
        if (!object)
            ZException_6_0(ZEXC_FAILURE, {"the properties factory made no object"})
                .throwException(__FILE__, __LINE__);
        object->load(names.path.c_str());
    } catch (...) {
        delete object;
        hold.lock();
        entry.loading = false;
        r.settled.notify_all();
        throw;
    }
    hold.lock();
    entry.object = object;
    entry.path = names.path;
    entry.loading = false;
    r.settled.notify_all();
    return object;
}
