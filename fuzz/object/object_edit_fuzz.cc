// An object decoded from hostile bytes, then changed by a sequence of edits that the rest of
// the input chooses: adds, sets and deletes of values (at the top level and in scopes), string
// arrays made of the object's own strings, decodes of the same bytes again, copies and
// assignments. The same edits are applied to a plain model of the object.
//
// Input: one byte n, then 4 * n bytes of wire form (fewer when the input ends), then the
// edits, each an operation byte followed by the bytes it reads (see Edit below).
//
// Properties checked after every step (abort on failure):
//  - the object holds exactly what the model holds (names at every level, each name's values
//    in order), and so does a deep copy of it;
//  - a string taken by reference from the object before the step, whose value the step did
//    not replace or delete, is the same object and still reads its text (a read of a string
//    the object let go is the sanitizer's to report);
//  - the object encodes, and the encoding decodes into an object with the same content.
// Leaks, memory errors and the library's own invariant checks (on in the sanitizer builds)
// are the sanitizers' and the library's to report.
//
// Seeds (edit_corpus/): small encodings (a name with two values, scopes, nested levels)
// followed by edits of each kind.

#include <ovutil/OVObject.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <ovz/exceptions.h>

namespace {

// ---- The model: names with values and a level below, at any depth.

struct Level;
struct ModelEntry {
    std::vector<std::string> values;
    std::unique_ptr<Level> below;
};
struct Level {
    std::map<std::string, ModelEntry> names;  // compared without order: listing order is free

    ModelEntry& entry(const std::string& name) {
        ModelEntry& e = names[name];
        if (!e.below) e.below = std::make_unique<Level>();
        return e;
    }
    ModelEntry* find(const std::string& name) {
        auto it = names.find(name);
        return it == names.end() ? nullptr : &it->second;
    }
};

// Every name of `map` with its values and its subtree, recursively (a decoded map is at most
// 65 levels deep).
void ModelOf(const NameValueMap& map, Level& out) {
    ZArrayList_6_0 names(10, 0);
    map.getNames(names);
    for (unsigned long i = 0; i < names.size(); ++i) {
        const char* name = static_cast<const ZAbstractString_6_0*>(names.get(i))->c_str();
        ModelEntry& e = out.entry(name);
        for (unsigned int v = 0; v < map.getValueCount(name); ++v) {
            const ZUTF8String_6_0* s = map.getString(name, v);
            e.values.push_back(s != nullptr ? s->c_str() : "<not a string>");
        }
        ModelOf(*map.getSubtree(name), *e.below);
    }
}

// Appends `from` to `to` as a decode appends to a map that already holds names; with
// `carried`, only what the wire carries: a name with neither values nor names below it
// makes a record that adds nothing.
void Merge(const Level& from, Level& to, bool carried = false) {
    for (const auto& [name, e] : from.names) {
        if (carried && e.values.empty() && e.below->names.empty()) continue;
        ModelEntry& into = to.entry(name);
        into.values.insert(into.values.end(), e.values.begin(), e.values.end());
        Merge(*e.below, *into.below, carried);
    }
}

void Describe(const Level& level, std::string& out) {
    out += '{';
    for (const auto& [name, e] : level.names) {
        out += name;
        out += '=';
        for (const std::string& v : e.values) {
            out += v;
            out += '\x01';
        }
        Describe(*e.below, out);
    }
    out += '}';
}

// The number of values at every level.
std::size_t Count(const Level& level) {
    std::size_t n = 0;
    for (const auto& [name, e] : level.names) n += e.values.size() + Count(*e.below);
    return n;
}

std::string Content(const Level& level) {
    std::string out;
    Describe(level, out);
    return out;
}

std::string Content(const OVObject& object) {
    Level level;
    ModelOf(object.map, level);
    return Content(level);
}

// ---- The input.

class Input {
public:
    Input(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
    bool empty() const { return p_ == end_; }
    unsigned byte() { return p_ != end_ ? *p_++ : 0; }
    // Up to 15 bytes, cut at the first NUL (the API takes C strings).
    std::string text() {
        const unsigned n = byte() % 16;
        std::string out;
        for (unsigned i = 0; i < n && p_ != end_; ++i) {
            const char c = static_cast<char>(*p_++);
            if (c == '\0') break;
            out += c;
        }
        return out;
    }
    const uint8_t* take(size_t n) {
        const uint8_t* at = p_;
        p_ += std::min(n, static_cast<size_t>(end_ - p_));
        return at;
    }
    size_t taken(const uint8_t* from) const { return static_cast<size_t>(p_ - from); }

private:
    const uint8_t* p_;
    const uint8_t* end_;
};

// A reference the test holds to one of the object's strings, and what it must read.
struct Reference {
    const ZUTF8String_6_0* string = nullptr;
    std::string scope;  // "" : the top level
    std::string name;
    unsigned int index = 0;
    std::string text;
};

const char* ScopeArg(const std::string& scope) { return scope.empty() ? nullptr : scope.c_str(); }

// The level a read or delete with `scope` goes to; null when the scope's entry is missing.
Level* ReadLevel(Level& top, const std::string& scope) {
    if (scope.empty()) return &top;
    ModelEntry* e = top.find(scope);
    return e != nullptr ? e->below.get() : nullptr;
}

Level& WriteLevel(Level& top, const std::string& scope) {
    return scope.empty() ? top : *top.entry(scope).below;
}

// The names an edit picks from: a few fixed ones and those of the decoded top level.
struct Names {
    std::vector<std::string> all = {"member", "a", "name"};
    std::string pick(Input& in) { return all[in.byte() % all.size()]; }
    std::string scope(Input& in) {
        const unsigned b = in.byte();
        return b % 3 == 0 ? std::string() : all[b % all.size()];
    }
};

void Check(bool condition) {
    if (!condition) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    const size_t wireSize = in.byte() * 4u;
    const uint8_t* wireBytes = in.take(wireSize);
    const size_t wireLength = in.taken(wireBytes);

    OVObject object;
    object.addStringValue("member", "held", "a");  // a name and a scope that exist already
    Level model;
    ModelOf(object.map, model);

    const auto decode = [&](OVObject& target) {
        unsigned long status = 0;
        target.decode(static_cast<unsigned int>(wireLength), wireBytes, status);
        return status == OV_ASN_OK;
    };
    OVObject fresh;
    if (!decode(fresh)) return 0;
    Level decoded;
    ModelOf(fresh.map, decoded);
    Check(decode(object));
    Merge(decoded, model);
    Check(Content(object) == Content(model));

    Names names;
    for (const auto& [name, e] : decoded.names)
        if (names.all.size() < 12) names.all.push_back(name);

    Reference held;
    for (int step = 0; step < 64 && !in.empty(); ++step) {
        // Take a reference when none is held: the value the input points at, if there is one.
        if (held.string == nullptr) {
            const std::string scope = names.scope(in);
            const std::string name = names.pick(in);
            const unsigned int index = in.byte() % 4;
            Level* level = ReadLevel(model, scope);
            ModelEntry* e = level != nullptr ? level->find(name) : nullptr;
            if (e != nullptr && index < e->values.size()) {
                held = {&object.getStringValue(name.c_str(), index, ScopeArg(scope)), scope, name,
                        index, e->values[index]};
            }
        }
        // Whether the edit replaces or removes the held value, or moves it down.
        const auto touches = [&held](const std::string& scope, const std::string& name) {
            return held.string != nullptr && held.scope == scope && held.name == name;
        };

        // Edits that can double what the object holds (an array of its own strings appended,
        // another decode) are skipped once it holds many values, so that each input stays fast.
        const bool large = Count(model) > 512;
        const unsigned op = in.byte() % 10;
        const std::string scope = names.scope(in);
        const std::string name = names.pick(in);
        switch (op) {
            case 0: {  // add a string
                const std::string text = in.text();
                object.addStringValue(name.c_str(), text.c_str(), ScopeArg(scope));
                WriteLevel(model, scope).entry(name).values.push_back(text);
                break;
            }
            case 1: {  // set a string at an index (past the end appends)
                const std::string text = in.text();
                const unsigned int index = in.byte() % 6;
                object.setStringValue(name.c_str(), text.c_str(), index, ScopeArg(scope));
                std::vector<std::string>& values = WriteLevel(model, scope).entry(name).values;
                if (index < values.size()) {
                    values[index] = text;
                    if (touches(scope, name) && held.index == index) held = Reference();
                } else {
                    values.push_back(text);
                }
                break;
            }
            case 2: {  // delete one value
                const unsigned int index = in.byte() % 6;
                object.deleteValue(name.c_str(), index, ScopeArg(scope));
                Level* level = ReadLevel(model, scope);
                ModelEntry* e = level != nullptr ? level->find(name) : nullptr;
                if (e != nullptr && index < e->values.size()) {
                    e->values.erase(e->values.begin() + index);
                    if (touches(scope, name)) {
                        if (held.index == index)
                            held = Reference();
                        else if (held.index > index)
                            --held.index;
                    }
                }
                break;
            }
            case 3: {  // delete every value of a name
                object.deleteName(name.c_str(), ScopeArg(scope));
                Level* level = ReadLevel(model, scope);
                ModelEntry* e = level != nullptr ? level->find(name) : nullptr;
                if (e != nullptr) e->values.clear();
                if (touches(scope, name)) held = Reference();
                break;
            }
            case 4:    // an array of the object's own strings, appended
            case 5: {  // the same, replacing the name's values
                const std::string fromScope = names.scope(in);
                const std::string from = names.pick(in);
                ZArrayList_6_0 own(2, 0);
                object.stringArrayValue(from.c_str(), own, ScopeArg(fromScope));
                std::vector<std::string> texts;
                if (Level* level = ReadLevel(model, fromScope))
                    if (ModelEntry* e = level->find(from)) texts = e->values;
                Check(own.size() == texts.size());
                if (op == 4) {
                    if (large) break;
                    object.addStringArrayValue(name.c_str(), own, ScopeArg(scope));
                    if (!texts.empty()) {
                        std::vector<std::string>& values =
                            WriteLevel(model, scope).entry(name).values;
                        values.insert(values.end(), texts.begin(), texts.end());
                    }
                } else {
                    object.setStringArrayValue(name.c_str(), own, ScopeArg(scope));
                    if (Level* level = ReadLevel(model, scope))
                        if (ModelEntry* e = level->find(name)) e->values.clear();
                    if (!texts.empty()) WriteLevel(model, scope).entry(name).values = texts;
                    if (touches(scope, name)) held = Reference();
                }
                break;
            }
            case 6:  // the same bytes decoded again: appended to what the object holds
                if (large) break;
                Check(decode(object));
                Merge(decoded, model);
                break;
            case 7: {  // a typed value: a number or bytes
                const std::string text = in.text();
                if (in.byte() % 2 == 0) {
                    object.addIntegerValue(name.c_str(), static_cast<unsigned int>(text.size()),
                                           ScopeArg(scope));
                    WriteLevel(model, scope)
                        .entry(name)
                        .values.push_back(std::to_string(text.size()));
                } else {
                    object.addBufferValue(name.c_str(), text.data(),
                                          static_cast<unsigned int>(text.size()), ScopeArg(scope));
                    OVObject probe;  // the base64 text, as the map itself makes it
                    probe.addBufferValue("b", text.data(), static_cast<unsigned int>(text.size()),
                                         nullptr);
                    WriteLevel(model, scope)
                        .entry(name)
                        .values.push_back(probe.getStringValue("b", 0, nullptr).c_str());
                }
                break;
            }
            case 8: {  // assignment from a copy: every value is a new string
                const OVObject copy(object);
                object = copy;
                held = Reference();
                break;
            }
            default:  // a subtree through the map itself
                object.map.addSubtree(name.c_str());
                model.entry(name);
                break;
        }

        Check(Content(object) == Content(model));
        const OVObject copy(object);
        Check(Content(copy) == Content(model));
        if (held.string != nullptr) {
            Check(&object.getStringValue(held.name.c_str(), held.index, ScopeArg(held.scope)) ==
                  held.string);
            Check(held.text == held.string->c_str());
        }
    }

    ov_asn_buffer_t wire = {0, nullptr};
    unsigned long status = 0;
    object.encode(wire, status);
    Check(status == OV_ASN_OK);
    OVObject again;
    again.decode(wire, status);
    ov_asn_buffer_free(wire);
    Check(status == OV_ASN_OK);
    // The wire carries names with values or with a subtree that holds some; the model's empty
    // names do not travel.
    Level carried;
    Merge(model, carried, true);
    Check(Content(again) == Content(carried));
    return 0;
}
