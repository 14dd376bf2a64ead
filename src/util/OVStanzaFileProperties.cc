// The product's stanza-file properties: the registry factory and the value-level operations on
// multi-valued keys.
#include <ovutil/OVStanzaFileProperties.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <map>
#include <new>
#include <string>
#include <typeinfo>

#include <ovz/exceptions.h>
#include <ovz/strings.h>

OVStanzaFileProperties::OVStanzaFilePropertiesFactory* OVStanzaFileProperties::factory_ = nullptr;
pthread_once_t OVStanzaFileProperties::ms_once = PTHREAD_ONCE_INIT;

namespace {

constexpr char kSourceFile[] = "src/util/OVStanzaFileProperties";

// factory_ is written once under ms_once and read without a lock first; atomic access keeps
// that fast path free of a data race. Its type is part of the exported interface, so it is
// reached through std::atomic_ref rather than declared atomic.
using FactoryRef = std::atomic_ref<OVStanzaFileProperties::OVStanzaFilePropertiesFactory*>;

OVStanzaFileProperties::OVStanzaFilePropertiesFactory* currentFactory() {
    return FactoryRef(OVStanzaFileProperties::factory_).load(std::memory_order_acquire);
}

void ensureFactory() {
    if (currentFactory() == nullptr)
        pthread_once(&OVStanzaFileProperties::ms_once, OVStanzaFileProperties::init);
}

}  // namespace

void OVStanzaFileProperties::init() {
    // Allocated with the object library's allocator; if the constructor throws, the
    // allocator's delete releases the memory and the exception passes on.
    auto* factory = new OVStanzaFilePropertiesFactory();
    FactoryRef(factory_).store(factory, std::memory_order_release);
}

ZProperties_6_0* OVStanzaFileProperties::OVStanzaFilePropertiesFactory::makePropertiesInstance() {
    return new OVStanzaFileProperties();
}

OVStanzaFileProperties::OVStanzaFilePropertiesFactory::~OVStanzaFilePropertiesFactory() = default;

OVStanzaFileProperties::OVStanzaFileProperties() : ZStanzaFileProperties_6_0(1) { ensureFactory(); }

OVStanzaFileProperties::~OVStanzaFileProperties() = default;

ZStanzaFileProperties_6_0* OVStanzaFileProperties::getRegisteredPropertiesFor(const char* fileName,
                                                                              int flags) {
    ensureFactory();
    // Every object the registry makes through our factory is an OVStanzaFileProperties.
    return static_cast<ZStanzaFileProperties_6_0*>(
        ZProperties_6_0::getPropertiesFor(fileName, *currentFactory(), flags));
}

// postLoad and migrateOVRTEStanza, the upgrade of files of earlier releases, live in
// OVStanzaFilePropertiesMigrate.cc.

// existsValue and deleteValue compare the caller's text with the bytes the file holds
// (UTF-8), never with a text converted to the locale's code set, where different values
// could come out alike.

int OVStanzaFileProperties::existsValue(const char* stanza, const char* key, const char* value) {
    // No stored value is null: a null value is never found.
    if (value == nullptr) return 0;
    ZStanzaValueIterator_6_0 values(*this, stanza, key, ZPROPERTY_STRING_UTF8, 0);
    const char* candidate = nullptr;
    while (values.hasMore()) {
        values.nextValue(candidate);
        if (std::strcmp(candidate, value) == 0) return 1;
    }
    return 0;
}

void OVStanzaFileProperties::deleteValue(const char* stanza, const char* key, const char* value) {
    if (value == nullptr) return;
    ZStanzaValueIterator_6_0 values(*this, stanza, key, ZPROPERTY_STRING_UTF8, 0);
    const char* candidate = nullptr;
    while (values.hasMore()) {
        values.nextValue(candidate);
        if (std::strcmp(candidate, value) == 0) {
            values.removeValue();
            return;
        }
    }
}

void OVStanzaFileProperties::deleteValues(const char* stanza, const char* key,
                                          ZArrayList_6_0& values) {
    const int n = static_cast<int>(values.size());
    if (n <= 0) return;
    auto textAt = [&values](int i) {
        const auto* text = dynamic_cast<const ZAbstractString_6_0*>(values.get(i));
        const char* chars = text != nullptr ? text->getChars() : nullptr;
        return chars != nullptr ? chars : "";
    };
    if (typeid(*this) != typeid(OVStanzaFileProperties)) {
        // A derived class may have its own deleteValue: it sees every removal, in order.
        for (int i = 0; i < n; ++i) deleteValue(stanza, key, textAt(i));
        return;
    }
    // One deleteValue per element would walk (and copy) the key's values once per element.
    // Removing, in one walk, each value whose text the list still wants removed leaves the
    // same values: element by element, each removal takes the first equal value left, so a
    // text listed c times takes its first c values, whatever the order of the list.
    // Ordered, not hashed: the texts come from the caller, and so perhaps from outside.
    std::map<std::string, int, std::less<>> wanted;
    try {
        for (int i = 0; i < n; ++i) ++wanted[textAt(i)];
    } catch (std::bad_alloc&) {
        ZOutOfMemoryException_6_0().throwException(kSourceFile, __LINE__);
    }
    int left = n;
    ZStanzaValueIterator_6_0 each(*this, stanza, key, ZPROPERTY_STRING_UTF8, 0);
    const char* candidate = nullptr;
    while (left > 0 && each.hasMore()) {
        each.nextValue(candidate);
        auto found = wanted.find(candidate);
        if (found == wanted.end() || found->second == 0) continue;
        each.removeValue();
        --found->second;
        --left;
    }
}
