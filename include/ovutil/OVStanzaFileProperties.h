/// @file
/// OVStanzaFileProperties: the product's own kind of stanza-file properties object.
///
/// Every stanza file the library opens is held in one of these, made by the process-wide
/// factory that is handed to the object library's properties registry. On top of the library's
/// stanza files it adds value-level operations on multi-valued keys and the post-load hook that
/// upgrades a file written by an earlier release right after each load.
///
/// Example:
/// @code
///   ZStanzaFileProperties_6_0* conf =
///       OVStanzaFileProperties::getRegisteredPropertiesFor("/opt/Orvan/etc/ov.conf", 0);
///   ZUTF8String_6_0 root;
///   conf->getValue("ovrte", "selvan_common_dir", root, 0, nullptr);
/// @endcode
///
/// Threads: the factory is created once under a once-control and is safe to reach from any
/// thread; a properties object is shared by every caller of the same file name, and the object
/// library governs concurrent use of it.
#ifndef OVUTIL_OVSTANZAFILEPROPERTIES_H
#define OVUTIL_OVSTANZAFILEPROPERTIES_H

#include <pthread.h>

#include <functional>
#include <string>

#include <ovutil/export.h>
#include <ovz/collections.h>
#include <ovz/properties.h>

/// An exclusive hold on editing one stanza file, shared by every process and thread that edits
/// the file through such a hold (the ovutil tool's writes among them), so that concurrent
/// read-modify-write edits are serialised and none is lost: take the hold, load the file, change
/// it, store it, release the hold.
///
/// @code
///   {
///       OVStanzaFileEditLock hold("/opt/Orvan/etc/ov.conf");  // waits up to 30 s
///       conf.load("/opt/Orvan/etc/ov.conf");
///       conf.setValue("ovrte", "selvan_common_dir", "/var/shared", 0);
///       conf.store("/opt/Orvan/etc/ov.conf");
///   }  // released
/// @endcode
///
/// The hold is a flock(2) lock on the file itself, so it leaves nothing beside the file. A store
/// replaces the file by renaming a new one over it; a hold that was waiting on the file so
/// replaced is dropped and taken again on the file now at the path, so the holder always loads
/// what the previous holder stored. The name is resolved once (symbolic links, ".."), and
/// path() gives the file that was resolved and locked: load and store that name, so that a
/// link switched to another file during the edit does not carry this file's content there.
/// When the file does not exist and kMayCreate is given, the hold is on the directory that is
/// to hold it, for as long as the file is absent at the time of taking it; a later hold finds
/// the file and locks the file. A dangling symbolic link is refused (its target would have to
/// be created). Readers take no hold: a store replaces the file whole, so a reader sees the
/// old file or the new one, never a mix. A process that edits without a hold can still lose
/// its edit or another's.
///
/// Who can delay whom: flock admits any process that can open the file for reading, so every
/// user who may read the file (or, while the file is absent, its directory) can take the hold
/// and delay the file's editors by as long as it keeps it; the editors wait no longer than
/// their timeout. The post-load upgrade (OVStanzaFileProperties::postLoad) takes the hold too.
///
/// Waiting is bounded: a hold that cannot be taken within `timeoutMs` milliseconds throws
/// ZException_6_0 of kind ZEXC_LOCK_FAILURE naming the file, the time waited and, when the
/// system's lock table lists it, the process that holds the file. A file that cannot be opened
/// (missing without kMayCreate, unreadable, not a regular file, a dangling link) throws
/// ZException_6_0 of kind ZEXC_FILE_READ (inserts: file name, reason); a null or empty name
/// ZInvalidParameterException_6_0.
///
/// Threads: each hold is its own open file description, so two threads of one process exclude
/// each other like two processes. A thread that already holds the file's hold and asks again
/// waits for itself until the time runs out (the post-load upgrade knows the holds of its
/// thread and does not ask). The hold is not copyable; it is released when the object is
/// destroyed (by any thread), or when the process ends. A child forked while the hold is held
/// does not hold it: the parent's release frees the file even while the child lives, and a
/// child that deletes an inherited hold leaves the parent's hold alone.
class OVUTIL_EXPORT OVStanzaFileEditLock {
public:
    /// Flags of the constructor.
    enum : int {
        /// The file may be absent: the hold is then on its directory (see above).
        kMayCreate = 1
    };
    /// How long the constructor waits by default: 30 seconds.
    static constexpr unsigned kDefaultTimeoutMs = 30000;

    /// Told once, after the hold has waited a second, which process holds the file's lock
    /// (its process id from the system's lock table; 0 when the table does not say).
    using WaitNotice = std::function<void(long holder)>;

    /// Takes the hold on `fileName` (see the class description for what it throws).
    explicit OVStanzaFileEditLock(const char* fileName, unsigned timeoutMs = kDefaultTimeoutMs,
                                  int flags = 0);
    /// The same, calling `notice` (when set) once the hold has waited a second.
    OVStanzaFileEditLock(const char* fileName, unsigned timeoutMs, int flags,
                         const WaitNotice& notice);
    /// Releases the hold.
    ~OVStanzaFileEditLock();
    OVStanzaFileEditLock(const OVStanzaFileEditLock&) = delete;
    OVStanzaFileEditLock& operator=(const OVStanzaFileEditLock&) = delete;

    /// Whether the file existed when the hold was taken (false only with kMayCreate).
    bool fileExisted() const { return !onDirectory_; }

    /// The file that was resolved and locked: the real path of the file, or for a file that
    /// was absent the real path of its directory followed by its name.
    const char* path() const { return path_.c_str(); }

private:
    int fd_;
    bool onDirectory_;
    std::string path_;
};

/// The product's stanza-file properties object, one per file (see the file description).
class OVUTIL_EXPORT OVStanzaFileProperties : public ZStanzaFileProperties_6_0 {
public:
    /// The factory the registry calls to make each file's object.
    class OVUTIL_EXPORT OVStanzaFilePropertiesFactory : public ZAbstractPropertiesFactory_6_0 {
    public:
        /// A new OVStanzaFileProperties, allocated with the object library's allocator; it
        /// belongs to the caller (the registry). Exceptions of the constructor pass on.
        ZProperties_6_0* makePropertiesInstance() override;
        ~OVStanzaFilePropertiesFactory() override;
    };

    /// Constructs an empty object (and the process factory, if it does not exist yet).
    OVStanzaFileProperties();
    ~OVStanzaFileProperties() override;

    /// The registry's one properties object for `fileName`, loaded (and upgraded) on the first
    /// request and kept for the life of the process; it belongs to the registry. `flags` is
    /// passed to the registry unchanged. Throws the registry's exceptions: a
    /// ZPropertiesInvalidDataException_6_0 for invalid data, another ZException_6_0 when the
    /// file cannot be read.
    static ZStanzaFileProperties_6_0* getRegisteredPropertiesFor(const char* fileName, int flags);

    /// Edits the registry's object of `fileName` under the file's edit hold
    /// (OVStanzaFileEditLock), so that this program and others editing the same file (the
    /// ovutil tool, other daemons) do not lose each other's edits: takes the hold, reloads the
    /// object from the file the hold resolved and locked, calls `edit` with it, stores it to
    /// that file, and releases the hold. A file of an earlier release is upgraded by that load
    /// in memory, and the one store writes the upgrade with the edit. Returns 1 when it stored
    /// the file (`edit` returned true, or the load upgraded it), 0 when it did not. Throws what
    /// the hold, the registry and the store throw; when `edit` or the store throws, the file is
    /// left as it was and the object keeps the changes made in memory until its next load.
    /// Other threads of the process that use the object meanwhile see it reloaded and changed:
    /// the object library governs concurrent use of it.
    static int editRegisteredPropertiesFor(
        const char* fileName, const std::function<bool(ZStanzaFileProperties_6_0&)>& edit,
        unsigned timeoutMs = OVStanzaFileEditLock::kDefaultTimeoutMs);

    /// Creates factory_; run at most once, through ms_once.
    static void init();

    /// Upgrades a file of an earlier release after each load and stores it back; called by
    /// the base class. Files at version 0x610 ("meta-info" / "version") or above, or with a
    /// negative version, are left alone and not written. When an upgrade is due, it is made
    /// under the file's edit hold (OVStanzaFileEditLock, default timeout): the file is loaded
    /// again under the hold, its version read again, and the upgrade stored once, so that an
    /// edit stored by another process meanwhile is kept. A thread that holds the file's hold
    /// already upgrades and stores without waiting for itself; inside
    /// editRegisteredPropertiesFor the upgrade stays in memory for the edit's one store. The
    /// rules of one product file apply to it by its name as given, by its resolved path, or
    /// when it is the same file as the product's (device and inode). An object-library
    /// exception (a hold that is not free in time among them) stops the upgrade: it is logged
    /// (message 0x1354A0C7), the file is not written, and the load still succeeds; what was
    /// changed in memory so far stays. Other exceptions pass on.
    void postLoad(const char* fileName) override;

    /// Adds the keys that stanza "ovrte" lacks ("boot-start-ovproxyd" = no,
    /// "selvan_common_dir" empty); existing values are never changed. 1 when it added a key,
    /// 0 when it added none or the stanza does not exist. Part of postLoad; exceptions of the
    /// object library pass on.
    int migrateOVRTEStanza();

    /// 1 when one of the values of stanza/key equals `value` byte for byte, else 0 (always 0
    /// for a null value).
    int existsValue(const char* stanza, const char* key, const char* value);
    /// Removes the first value of stanza/key equal to `value`; nothing when none is (or when
    /// `value` is null).
    virtual void deleteValue(const char* stanza, const char* key, const char* value);
    /// Removes one equal value for each string of `values`, in list order.
    virtual void deleteValues(const char* stanza, const char* key, ZArrayList_6_0& values);

    /// @name Process-wide internals
    /// The factory's shared state, exported for the library's own use: callers go through
    /// getRegisteredPropertiesFor and never touch these.
    ///@{

    /// The one factory of the process: null until init has run, then never replaced or freed.
    static OVStanzaFilePropertiesFactory* factory_;
    /// Once-control of the creation of factory_.
    static pthread_once_t ms_once;
    ///@}
};

#endif  // OVUTIL_OVSTANZAFILEPROPERTIES_H
