// Properties of the object library: stanza files, Java properties files, and the
// process-wide registry of properties objects.
//
//   ZPropertiesInterface_6_0        read interface of a properties object
//   ZAbstractObservable_6_0         observers told about every load
//   ZProperties_6_0                 a stanza file held as a document, plus the registry
//     ZStanzaFileProperties_6_0     adds multi-valued edits, stanza edits and item tables
//   ZAbstractPropertiesFactory_6_0  makes the objects that the registry keeps
//   ZStanzaValueIterator_6_0        the values of one key, with removal
//   ZPropertiesKVList_6_0           the (key, value) pairs of one stanza
//   ZStzFileItem_6_0                one entry of an item table read by getItems
//   ZJavaProperties_6_0             a Java properties file (key=value), read only
//
// Stanza files:
//
//   # comment lines start with '#'; blank lines are kept
//   [stanza-name]               (a comment may follow a header: "[stanza-name]  # note")
//   # a comment block directly above a key belongs to that entry
//   key = value
//   key = second value          (a key may repeat: one value per line, in file order)
//
// - Keys and values are trimmed of blanks; a value may be empty and may contain '='. Names
//   are compared byte for byte (case matters). A UTF-8 byte-order mark at the start of the
//   file is accepted and kept there.
// - The file is kept as a document: storing a file that was not changed writes it back byte
//   for byte (line endings, spacing and comments included); a change touches only the lines
//   it concerns. New keys go after the last entry of their stanza, new stanzas at the end of
//   the file after a blank line. Deleting a key or a stanza, or removing a value line (by
//   removeValue, or by setValue on a key with several values), also deletes the comment
//   lines directly above the lines removed.
// - Comment texts (addFileComment, addStanzaComment, addEntryComment) may hold several
//   lines separated by '\n'; every line that does not start with '#' gets "# " in front of
//   it, so that whatever is added reads back as comments.
// - Booleans are written "yes"/"no"; they read as true from "yes", "true", "on" or "1" and
//   as false from "no", "false", "off" or "0", in any case. Integers are written in decimal;
//   they read as decimal or, with a "0x" prefix, hexadecimal, with an optional sign.
// - Text: the file's bytes are taken as UTF-8. `const char*` stanza names, keys, values and
//   comments are stored as the bytes given. Reads into a ZLCString_6_0 convert to the local
//   code set, reads into a ZUTF8String_6_0 copy the bytes; writes of a ZLCString_6_0 or a
//   ZLCConstString_6_0 convert from the local code set to UTF-8.
// - Refused arguments throw ZInvalidParameterException_6_0: a null stanza name or key, a
//   stanza name that is empty, a key that is empty, holds '=' or starts with '#' or '[', a
//   name or value with a line break, and a name or value that starts or ends with a blank
//   (it would not read back the same).
//
// Threads: every operation of a properties object may be called from several threads at
// once; each object guards its document with a reader/writer lock of its own. The registry
// is safe from any thread. Other classes here are used by one thread at a time.
#ifndef OVZ_PROPERTIES_H
#define OVZ_PROPERTIES_H

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

#include <ovz/collections.h>
#include <ovz/export.h>
#include <ovz/object.h>
#include <ovz/strings.h>

class ZProperties_6_0;
class ZAbstractObservable_6_0;
class ZAbstractPropertiesFactory_6_0;

// The string class that a read of several values appends.
enum ZPropertyStringType {
    ZPROPERTY_STRING_LOCAL = 0,  // ZLCString_6_0, converted to the local code set
    ZPROPERTY_STRING_UTF8 = 1,   // ZUTF8String_6_0, the file's bytes
};

// Flags of ZProperties_6_0::getPropertiesFor.
enum : int {
    // Make and load the object on the first request; later requests return it as it is.
    ZPROPERTIES_DEFAULT = 0,
    // When the object already exists, load its file again before returning it (which runs
    // postLoad again), to pick up changes that another process wrote. Bits other than the
    // ones defined here are ignored.
    ZPROPERTIES_RELOAD = 1,
};

// The largest stanza file, in bytes, that load() reads; a larger one is refused with
// ZEXC_FILE_READ ("File too large") before any of it is read.
constexpr unsigned long ZPROPERTIES_MAX_FILE_SIZE = 0x7FFFFFEFul;

// Attributes of ZProperties_6_0::setAttributes.
enum : unsigned long {
    // value: const mode_t*, the permission bits of a file that store() creates. Until it is
    // set, a new file gets what open(2) gives to 0666: the process's umask (or the
    // directory's default ACL) applies. A file that already exists keeps its own bits.
    ZPROPERTIES_ATTR_NEW_FILE_MODE = 1,
};

// Told by an observable after each successful load of a properties object.
class OVZ_EXPORT ZObserver_6_0 {
public:
    virtual ~ZObserver_6_0();
    // `arg` is what the observable passed to notifyObservers: for properties objects the
    // loaded file's name (const char*).
    virtual void update(ZAbstractObservable_6_0& source, void* arg) = 0;
};

// A set of observers. Observers are not owned; a caller removes an observer before
// destroying it. Safe from several threads.
class OVZ_EXPORT ZAbstractObservable_6_0 {
public:
    ZAbstractObservable_6_0();
    ZAbstractObservable_6_0(const ZAbstractObservable_6_0&) = delete;
    ZAbstractObservable_6_0& operator=(const ZAbstractObservable_6_0&) = delete;
    virtual ~ZAbstractObservable_6_0();

    // Adds `observer` unless it is there already.
    virtual void addObserver(ZObserver_6_0& observer);
    // Removes `observer`; nothing happens when it was not added.
    virtual void deleteObserver(ZObserver_6_0& observer);
    // Removes every observer.
    virtual void deleteObservers();
    // The number of observers.
    virtual int countObservers() const;
    // Calls update(*this, arg) on each observer, in the order they were added, outside the
    // observable's own lock (an observer may add or remove observers).
    virtual void notifyObservers(void* arg = nullptr);

private:
    struct State;
    State* state_;
};

// The read interface of a properties object. An absent stanza or key reads as empty (or the
// given default), 0 for counts and integers.
class OVZ_EXPORT ZPropertiesInterface_6_0 {
public:
    virtual ~ZPropertiesInterface_6_0();

    // 1 when the key exists in the stanza (even with an empty value), else 0.
    virtual int exists(const char* stanza, const char* key) const = 0;
    // 1 when the stanza exists (even without keys), else 0.
    virtual int exists(const char* stanza) const = 0;
    // Values are never stored obfuscated by this library: always 0.
    virtual int isObfuscated(const char* stanza, const char* key) const = 0;
    virtual int isObfuscated(const char* stanza) const = 0;
    // Fills `out` (converted into its code set) with value number `index` (0: the first, in
    // file order) of the key and returns 1. When there is no such value, fills `out` with
    // `defaultValue`, or empties it when that is null, and returns 0.
    virtual int getValue(const char* stanza, const char* key, ZAbstractMutableString_6_0& out,
                         int index, const char* defaultValue) const = 0;
    // The first value of the key as an integer (see the file header); `defaultValue` when the
    // key is absent or its value is no integer. `flags`: none defined, pass 0.
    virtual int getIntegerValue(const char* stanza, const char* key, int defaultValue,
                                unsigned flags) const = 0;
    // The first value as a boolean, 1 or 0; `defaultValue` when absent or no boolean.
    // `flags`: none defined, pass 0.
    virtual int getBooleanValue(const char* stanza, const char* key, int defaultValue,
                                int flags) const = 0;
    // Appends every value of the key, in file order, to `out` as strings of `type`; returns
    // how many it appended.
    virtual unsigned long getValues(const char* stanza, const char* key, ZArrayList_6_0& out,
                                    ZPropertyStringType type) const = 0;
    // The number of values of all keys of the stanza / of the key.
    virtual unsigned long numValues(const char* stanza) const = 0;
    virtual unsigned long numValues(const char* stanza, const char* key) const = 0;
    // The number of stanzas / of distinct keys in the stanza.
    virtual unsigned long count() const = 0;
    virtual unsigned long count(const char* stanza) const = 0;
};

// A properties object: a stanza file held as a document (see the file header).
//
// Objects are made by a factory for the registry (getPropertiesFor) or directly by a
// subclass. Declaration order of the virtual operations is part of the interface: classes
// of other components derive from ZStanzaFileProperties_6_0 and rely on it.
class OVZ_EXPORT ZProperties_6_0 : public ZObject_6_0,
                                   public ZPropertiesInterface_6_0,
                                   public ZAbstractObservable_6_0 {
public:
    ~ZProperties_6_0() override;

    int exists(const char* stanza, const char* key) const override;
    int exists(const char* stanza) const override;
    int isObfuscated(const char* stanza, const char* key) const override;
    int isObfuscated(const char* stanza) const override;
    int getValue(const char* stanza, const char* key, ZAbstractMutableString_6_0& out,
                 int index = 0, const char* defaultValue = nullptr) const override;
    int getIntegerValue(const char* stanza, const char* key, int defaultValue = 0,
                        unsigned flags = 0) const override;
    int getBooleanValue(const char* stanza, const char* key, int defaultValue = 0,
                        int flags = 0) const override;
    unsigned long getValues(const char* stanza, const char* key, ZArrayList_6_0& out,
                            ZPropertyStringType type = ZPROPERTY_STRING_LOCAL) const override;
    unsigned long numValues(const char* stanza) const override;
    unsigned long numValues(const char* stanza, const char* key) const override;
    unsigned long count() const override;
    unsigned long count(const char* stanza) const override;

    // Replaces the contents with the file's and then calls postLoad(fileName) (outside the
    // object's lock, so postLoad may read, change and store the object). Throws
    // ZException_6_0 of kind ZEXC_FILE_READ (inserts: file name, system error text) when the
    // file cannot be opened or read, and ZPropertiesInvalidDataException_6_0 (reason, file
    // name, 1-based line) for a line that is neither blank, comment, header nor
    // key = value, a key before the first header, a header with an empty name ("[]"), or a
    // NUL byte in a header or key = value line. On either exception the object keeps
    // its previous contents and postLoad is not called. Observers are notified after
    // postLoad returns.
    virtual void load(const char* fileName);
    // load() again; a null name means the file of the last successful load (refused with
    // ZInvalidParameterException_6_0 when there was none).
    virtual void reload(const char* fileName = nullptr);
    // Writes the document to `fileName` (null: the file of the last load) without ever
    // losing the file: the text goes to a temporary file in the same directory, which is
    // synced, given the permission bits (and, for root, the owner) of the file it replaces,
    // renamed over it, and the directory is synced. A symbolic link is followed: its target
    // is replaced. The temporary file has no name until its data is complete where the file
    // system allows (O_TMPFILE); a named one is ".<file name>.tmp.<process id>.<6 letters
    // or digits>", locked by its writer (open file description lock) until it is renamed. A
    // store first removes such files of the same file name that nobody holds locked: what
    // stores killed mid-way left. On failure the original file is left as it was, the
    // temporary file is removed, and ZException_6_0 of kind ZEXC_FILE_WRITE (inserts: file
    // name, system error text) is thrown. Once the new file has been renamed into place the
    // store has succeeded: a directory that cannot be synced then only costs a warning,
    // message 0x35E51037 through the message service.
    virtual void store(const char* fileName = nullptr);
    // Writes the document, as store() would, to standard output.
    virtual void list() const;
    // Sets the first value of the key and removes its other values; a missing key is added
    // (and a missing stanza). `flags`: none defined, pass 0 (other values are refused).
    virtual void setValue(const char* stanza, const char* key, const char* value);
    virtual void setValue(const char* stanza, const char* key, const char* value, int flags);
    virtual void setValue(const char* stanza, const char* key, const ZLCString_6_0& value,
                          int flags);
    virtual void setValue(const char* stanza, const char* key, const ZUTF8String_6_0& value,
                          int flags);
    virtual void setValue(const char* stanza, const char* key, const ZLCConstString_6_0& value,
                          int flags);
    virtual void setValue(const char* stanza, const char* key, const ZUTF8ConstString_6_0& value,
                          int flags);
    // setValue with the decimal text of `value` (e.g. 0x610 is written "1552").
    virtual void setIntegerValue(const char* stanza, const char* key, unsigned value);
    // setValue with "yes" for non-zero, "no" for 0.
    virtual void setBooleanValue(const char* stanza, const char* key, int value);
    // Removes the key, all its values and their comment blocks. 1 when it existed, else 0.
    virtual int deleteKey(const char* stanza, const char* key);
    // Comment lines at the top of the file, after earlier file comments, set off from what
    // follows by a blank line.
    virtual void addFileComment(const char* text);
    // Comment lines directly above the key (its first value line), below the comments
    // already there. 1 when done, 0 when the key does not exist (nothing changes).
    virtual int addEntryComment(const char* stanza, const char* key, const char* text);
    // Called after every successful load with the loaded file's name. The base does nothing.
    virtual void postLoad(const char* fileName);
    // Rewrites `text` so that every line of it is a comment line (see the file header).
    // Returns 1 when it had to change the text, else 0.
    virtual int checkComment(ZLCString_6_0& text);
    // Sets an attribute (ZPROPERTIES_ATTR_*); returns 1. An unknown attribute or a null
    // value is refused with ZInvalidParameterException_6_0.
    virtual int setAttributes(unsigned long attribute, void* value);
    // This library keeps no access rules: every stanza and key may be read and written by
    // whoever holds the object. Returns 1 for every `mode`.
    virtual int checkAccess(const char* stanza, const char* key, int mode) const;

    // The registry: the one properties object of `fileName` for the life of the process.
    // The first request makes it with factory.makePropertiesInstance() and loads it (load
    // calls postLoad); later requests return the same object (see ZPROPERTIES_RELOAD for
    // `flags`). A relative name is made absolute against the working directory of the
    // request, and "." components and repeated slashes are taken out: the object loads,
    // reloads and stores that absolute name whatever the working directory is later, and
    // postLoad is given it. Files are told apart by their real path (symbolic links and ".."
    // resolved) when they exist, so every spelling of one file's name, links included,
    // gives the same object. When many threads make
    // the first request at once, one makes and loads the object and the others wait for
    // it. A load that fails throws what load() threw (ZPropertiesInvalidDataException_6_0
    // for invalid data; ZException_6_0 of kind ZEXC_FILE_READ, not of that class, for a
    // missing or unreadable file), discards the object, and leaves nothing registered, so
    // the next request tries again. A failing reload (ZPROPERTIES_RELOAD) throws the same
    // way and leaves the object with its previous contents. The object belongs to the
    // registry: never delete it. Safe from any thread; a postLoad that asks the registry for
    // the file being loaded gets ZException_6_0 of kind ZEXC_FAILURE instead of waiting for
    // itself.
    static ZProperties_6_0* getPropertiesFor(const char* fileName,
                                             ZAbstractPropertiesFactory_6_0& factory, int flags);

    // Private machinery shared with the classes of this header.
    struct Impl;

protected:
    ZProperties_6_0();
    // The object's state, for the classes of this header (private machinery).
    Impl& impl() const { return *impl_; }

private:
    friend class ZStanzaValueIterator_6_0;
    Impl* impl_;
};

// One entry of an item table read by ZStanzaFileProperties_6_0::getItems. The six fields,
// in this order:
//   kind          what to read and what `target` points to (ZSTZ_ITEM_*)
//   stanza, key   where to read
//   defaultValue  integer and boolean kinds: the result when the key is absent or its
//                 value does not parse; string kinds ignore it (pass 0)
//   target        where the result goes
//   found         set by getItems to the number of values the key holds (0: absent)
enum : int {
    ZSTZ_ITEM_INTEGER = 1,          // target: int*, getIntegerValue(stanza, key, defaultValue)
    ZSTZ_ITEM_BOOLEAN = 2,          // target: int*, getBooleanValue(...): 1 or 0
    ZSTZ_ITEM_LCSTRING = 3,         // target: ZLCString_6_0*, the first value; left as it was
                                    // when the key is absent
    ZSTZ_ITEM_UTF8STRING = 4,       // target: ZUTF8String_6_0*, likewise
    ZSTZ_ITEM_LCSTRING_LIST = 5,    // target: ZArrayList_6_0*, every value appended as
                                    // ZLCString_6_0
    ZSTZ_ITEM_UTF8STRING_LIST = 6,  // likewise as ZUTF8String_6_0
};
// One entry of an item table (see the fields above).
struct ZStzFileItem_6_0 {
    int kind;             // what to read and what `target` points to (ZSTZ_ITEM_*)
    const char* stanza;   // the stanza to read
    const char* key;      // the key to read
    long defaultValue;    // integer and boolean kinds: the result without a usable value
    void* target;         // where the result goes
    unsigned long found;  // set to the number of values the key holds (0: absent)
};

// The (key, value) pairs of one stanza, one pair per value line, in file order.
class OVZ_EXPORT ZPropertiesKVList_6_0 : public ZObject_6_0 {
public:
    ZPropertiesKVList_6_0();
    // Copies the pairs.
    ZPropertiesKVList_6_0(const ZPropertiesKVList_6_0& other);
    // Replaces the pairs by copies of those of `other`.
    ZPropertiesKVList_6_0& operator=(const ZPropertiesKVList_6_0& other);
    ~ZPropertiesKVList_6_0() override;
    ZObject_6_0* clone() const override;

    // The number of pairs.
    unsigned long getItemCount() const;
    // The key / value of pair `index`, or null when index >= getItemCount(). Valid until the
    // list is changed or destroyed.
    const char* getItemKey(unsigned long index) const;
    // The value of pair `index`, or null, as getItemKey.
    const char* getItemValue(unsigned long index) const;

    // Removes every pair.
    void removeAll();
    // Appends a pair of copies of `key` and `value`.
    void addItem(const char* key, const char* value);

private:
    std::vector<std::pair<std::string, std::string>> items_;
};

// One invalid line of a stanza file, as ZStanzaFileProperties_6_0::check reports it.
struct ZStanzaFileProblem_6_0 {
    unsigned long line;  // 1-based
    const char* reason;  // static English text, the reason load() gives for that line
};

// A stanza file (see the file comment) with multi-valued, stanza and comment edits, item
// tables and a whole-file check: the class every stanza file of the product is held in.
class OVZ_EXPORT ZStanzaFileProperties_6_0 : public ZProperties_6_0 {
public:
    // `formatVersion`: the stanza-file format; 1, the format described in this header, is
    // the only one (others are refused with ZInvalidParameterException_6_0).
    explicit ZStanzaFileProperties_6_0(int formatVersion = 1);
    ~ZStanzaFileProperties_6_0() override;

    int addEntryComment(const char* stanza, const char* key, const char* text) override;
    int checkComment(ZLCString_6_0& text) override;

    // Adds one more value to the key, after its last value (a missing key goes after the
    // last entry of the stanza; a missing stanza is appended). `flags`: none defined, pass 0.
    virtual void addValue(const char* stanza, const char* key, const char* value, int flags);
    virtual void addValue(const char* stanza, const char* key, const ZLCString_6_0& value,
                          int flags);
    virtual void addValue(const char* stanza, const char* key, const ZUTF8String_6_0& value,
                          int flags);
    virtual void addValue(const char* stanza, const char* key, const ZLCConstString_6_0& value,
                          int flags);
    virtual void addValue(const char* stanza, const char* key, const ZUTF8ConstString_6_0& value,
                          int flags);
    // addValue for each string of `values`, in list order (elements that are not strings
    // are refused with ZInvalidParameterException_6_0 before anything is added).
    virtual void addValues(const char* stanza, const char* key, const ZArrayList_6_0& values,
                           int flags);
    // Replaces the contents of `out` with the pairs of the stanza (none when it is absent).
    virtual void getStanza(const char* stanza, ZPropertiesKVList_6_0& out) const;

    // Appends "[stanza]" at the end of the file after a blank line. 1 when added, 0 when the
    // stanza exists already.
    int addStanza(const char* stanza);
    // Removes every section of the stanza with its keys and the comment lines directly above
    // its headers (the comments directly above the next stanza's header stay). 1 when it
    // existed, else 0.
    int deleteStanza(const char* stanza);
    // Gives the stanza `from` the name `to` where it stands: its headers are rewritten in
    // place (blanks and a comment after a header stay), its keys and comments stay. 1 when
    // renamed; 0 when `from` does not exist or `to` exists already (nothing changes).
    int renameStanza(const char* from, const char* to);
    // Comment lines directly above the stanza's header, below the comments already there.
    // 1 when done, 0 when the stanza does not exist.
    int addStanzaComment(const char* stanza, const char* text);
    // Appends the key names of the stanza (each once, in the order of first appearance) to
    // `out` as ZLCString_6_0; returns how many.
    unsigned long keyNames(const char* stanza, ZArrayList_6_0& out) const;
    // The names of all stanzas in file order, appended as ZLCString_6_0; returns how many.
    unsigned long stanzaNames(ZArrayList_6_0& out) const;
    // Fills the targets of `count` items (see ZStzFileItem_6_0), all from one consistent
    // state of the document. Every item is checked first: an unknown kind, a null stanza,
    // key or target is refused with ZInvalidParameterException_6_0 and nothing is filled.
    void getItems(ZStzFileItem_6_0* items, unsigned count) const;

    // Reads `fileName` as load() does and checks every line by load()'s rules, going on past
    // the invalid ones: returns them in file order, empty when load() would accept the file.
    // Nothing is kept and postLoad is not called. Throws what load() throws when the file
    // cannot be opened or read (ZException_6_0 of kind ZEXC_FILE_READ).
    static std::vector<ZStanzaFileProblem_6_0> check(const char* fileName);
};

// Makes the objects that the registry keeps. The first virtual operation is
// makePropertiesInstance, then the destructors; the ZObject_6_0 part supplies hash, compare,
// clone and equals.
class OVZ_EXPORT ZPropertiesFactoryInterface_6_0 {
public:
    // A new properties object, allocated with ZObject_6_0::operator new; the caller owns it.
    virtual ZProperties_6_0* makePropertiesInstance() = 0;
    virtual ~ZPropertiesFactoryInterface_6_0();
};

// The base of the factories handed to ZProperties_6_0::getPropertiesFor.
class OVZ_EXPORT ZAbstractPropertiesFactory_6_0 : public ZPropertiesFactoryInterface_6_0,
                                                  public ZObject_6_0 {
public:
    ZAbstractPropertiesFactory_6_0() = default;
    ~ZAbstractPropertiesFactory_6_0() override;
    using ZObject_6_0::operator new;
    using ZObject_6_0::operator delete;
};

// The values of one key, in file order, as they were when the iterator was made.
//
//   ZStanzaValueIterator_6_0 it(props, "stanza", "key", ZPROPERTY_STRING_UTF8, 0);
//   const char* v;
//   while (it.hasMore()) { it.nextValue(v); if (!strcmp(v, "old")) it.removeValue(); }
//
// A missing stanza or key yields nothing.
class OVZ_EXPORT ZStanzaValueIterator_6_0 : public ZObject_6_0 {
public:
    // `stringType`: a ZPropertyStringType, the code set of the texts given out.
    // `valueType`: 0, every value of the key (no other is defined; refused with
    // ZInvalidParameterException_6_0). `props` must outlive the iterator.
    ZStanzaValueIterator_6_0(ZProperties_6_0& props, const char* stanza, const char* key,
                             int stringType, int valueType);
    ZStanzaValueIterator_6_0(const ZStanzaValueIterator_6_0&) = delete;
    ZStanzaValueIterator_6_0& operator=(const ZStanzaValueIterator_6_0&) = delete;
    ~ZStanzaValueIterator_6_0() override;

    // Whether nextValue has a value left to give.
    bool hasMore() const;
    // Sets `value` to the next value (valid for the life of the iterator) and returns 1;
    // returns 0 and sets null when there is none.
    int nextValue(const char*& value);
    // Removes from the key the value that nextValue returned last; removing the key's last
    // value removes the key. Throws ZException_6_0 of kind ZEXC_FAILURE when no value was
    // returned since the last removal. Returns 1 when a value was removed, 0 when it was no
    // longer there (changed by someone else meanwhile).
    int removeValue();

private:
    ZProperties_6_0& props_;
    std::string stanza_, key_;
    std::vector<std::string> raw_;    // the file's bytes
    std::vector<std::string> given_;  // converted as asked
    size_t next_ = 0;
    size_t removed_ = 0;
    bool canRemove_ = false;
};

// A Java properties file, read only: `key=value`, `key: value` or `key value` lines, '#' and
// '!' comment lines, backslash escapes (\t \n \r \f, \uXXXX as UTF-8, any other character
// as itself) and continuation lines ending in an odd number of backslashes. The bytes of
// the file are taken as UTF-8. A key that repeats keeps its last value.
class OVZ_EXPORT ZJavaProperties_6_0 : public ZObject_6_0 {
public:
    ZJavaProperties_6_0();
    // Copies the entries.
    ZJavaProperties_6_0(const ZJavaProperties_6_0& other);
    // Replaces the entries by copies of those of `other`.
    ZJavaProperties_6_0& operator=(const ZJavaProperties_6_0& other);
    ~ZJavaProperties_6_0() override;
    ZObject_6_0* clone() const override;

    // Reads `file`, replacing the contents. With a non-null `key` only that key is kept
    // (the rest of the file is parsed and dropped). Returns 1 when the file was read, 0 when
    // it could not be opened or read (the contents are unchanged then). A null file is 0.
    int load(const char* file, const char* key = nullptr);
    // Fills `out` (converted into its code set) with the value of `key` and returns 1, or
    // empties it and returns 0 when the key is absent.
    int getValue(const char* key, ZAbstractMutableString_6_0& out) const;
    // The number of keys.
    unsigned long size() const;

private:
    std::vector<std::pair<std::string, std::string>> entries_;  // sorted by key
};

#endif  // OVZ_PROPERTIES_H
