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

#include <ovutil/export.h>
#include <ovz/collections.h>
#include <ovz/properties.h>

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

    /// Creates factory_; run at most once, through ms_once.
    static void init();

    /// Upgrades a file of an earlier release after each load and stores it back to `fileName`;
    /// called by the base class. Files at version 0x610 ("meta-info" / "version") or above,
    /// or with a negative version, are left alone and not written. An object-library
    /// exception stops the upgrade: it is logged (message 0x1354A0C7), the file is not
    /// written, and the load still succeeds; what was changed in memory so far stays.
    /// Other exceptions pass on.
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
