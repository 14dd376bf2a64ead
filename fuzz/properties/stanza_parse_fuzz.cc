// Any bytes: a parse either fails with a line number inside the input, or the document
// serialises back to the very same bytes and parses again. A parse that goes on past invalid
// lines reports, in increasing order, lines starting with the one the plain parse stops at,
// for the same reason, and none when the plain parse succeeds. Edits on whatever the input
// holds (renaming a stanza among them) must give text that parses back to the same stanzas,
// keys and values, also when serialised in pieces.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "stanza_document.h"

namespace {
void check(bool ok) {
    if (!ok) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    ovz_stanza::Document doc;
    ovz_stanza::Document::ParseError error;
    const bool valid = doc.parse(input, &error);
    std::vector<ovz_stanza::Document::ParseError> every;
    ovz_stanza::Document checked;
    check(checked.parse(input, nullptr, &every) == valid);
    check(every.empty() == valid);
    if (!valid) {
        size_t lines = 1;
        for (char c : input) lines += c == '\n';
        check(error.line >= 1 && error.line <= lines && error.reason != nullptr);
        check(every[0].line == error.line && every[0].reason == error.reason);
        for (size_t i = 1; i < every.size(); ++i)
            check(every[i].line > every[i - 1].line && every[i].line <= lines &&
                  every[i].reason != nullptr);
        return 0;
    }
    std::string out = doc.serialize();
    check(out == input);
    ovz_stanza::Document again;
    check(again.parse(out, &error));
    check(again.serialize() == input);

    // Edits on whatever stanzas and keys the input holds.
    for (std::string_view stanza : doc.stanzaNames()) {
        std::string s(stanza);
        if (ovz_stanza::Document::checkStanzaName(s)) continue;
        std::vector<std::string_view> keyViews = doc.keyNames(s);
        std::vector<std::string> keys(keyViews.begin(), keyViews.end());
        for (size_t i = 0; i < keys.size(); ++i) {
            if (ovz_stanza::Document::checkKey(keys[i])) continue;
            switch (i % 5) {
                case 0:
                    doc.setValue(s, keys[i], "set");
                    break;
                case 1:
                    doc.addValue(s, keys[i], "added");
                    break;
                case 2:
                    doc.deleteKey(s, keys[i]);
                    break;
                case 3:
                    doc.addEntryComment(s, keys[i], "note\nmore");
                    break;
                case 4:
                    doc.deleteValueAt(s, keys[i], doc.valueCount(s, keys[i]) - 1);
                    break;
            }
        }
        doc.setValue(s, "fuzz-new-key", "v=1");
    }
    std::vector<std::string_view> stanzas = doc.stanzaNames();
    if (!stanzas.empty() && !ovz_stanza::Document::checkStanzaName(stanzas[0]) &&
        !doc.hasStanza("fuzz-renamed")) {
        std::string first(stanzas[0]);
        std::vector<std::string_view> keyViews = doc.keyNames(first);
        std::vector<std::string> keys(keyViews.begin(), keyViews.end());
        check(doc.renameStanza(first, "fuzz-renamed"));
        check(!doc.hasStanza(first) && doc.keyNames("fuzz-renamed").size() == keys.size());
    }
    doc.addFileComment("top");
    doc.setValue("fuzz-new-stanza", "k", "");
    std::string edited = doc.serialize();
    // The store's serialisation in pieces, through a buffer of a size the input picks, gives
    // the same bytes.
    std::vector<char> buffer(1 + size % 61);
    std::string pieces;
    ovz_stanza::Document::Sink append = [](void* out, const char* bytes, size_t n) {
        static_cast<std::string*>(out)->append(bytes, n);
        return 0;
    };
    check(doc.serialize(buffer.data(), buffer.size(), append, &pieces) == 0 && pieces == edited);
    ovz_stanza::Document reread;
    check(reread.parse(edited, &error));
    std::string_view v;
    check(reread.value("fuzz-new-stanza", "k", 0, &v) && v.empty());
    check(reread.stanzaCount() == doc.stanzaCount());
    for (std::string_view stanza : doc.stanzaNames()) {
        check(reread.keyNames(stanza) == doc.keyNames(stanza));
        for (std::string_view key : doc.keyNames(stanza))
            check(reread.values(stanza, key) == doc.values(stanza, key));
    }
    return 0;
}
