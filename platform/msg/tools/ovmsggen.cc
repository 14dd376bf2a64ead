// Build-time generator of the message catalogs.
//
// Reads one file of message definitions and writes, for every catalog it declares, an X/Open
// message source (<name>.msg, for gencat), and optionally the C++ source of the compiled-in
// default messages and a C header that names every message number. The definition file holds:
//
//   # a comment; blank lines are ignored
//   catalog <prefix> <name>     the catalog of every number whose high 20 bits are <prefix>
//   <number> [<NAME>] [{<inserts>}] <text>
//                               a message: 32-bit number in hex, its name in code (optional),
//                               the inserts it takes (optional), then its UTF-8 text
//
// The text runs to the end of the line (surrounding blanks trimmed) and is taken literally:
// a backslash is a backslash. A message lands in set 1 of its catalog under its low 12 bits.
//
// The name is the word after the number when that word begins with "OV_MSG_" (upper-case
// letters, digits and '_'). A message written without one is named after its catalog and
// its low 12 bits: 0x35E51003 in catalog ovz is OV_MSG_OVZ_003. The header defines each name
// as its number, so that code never spells a message number in hex.
//
// usage: ovmsggen [--extra] <definitions> <msg-output-dir> [<defaults-output.cc> [<names-output.h>]]
//
// --extra: catalogs outside the library's own table (see ovmsg/msg.h). ovmsg looks such a
// catalog up by the name "ov" + the prefix in five lower-case hex digits, so any other name
// would never be found: it is refused here.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>

#include "utf8.h"

namespace {

struct Definitions {
    std::map<unsigned, std::string> catalogs;  // prefix -> name
    std::map<unsigned, std::string> messages;  // number -> text
    std::map<unsigned, std::string> names;     // number -> name given in the file
    std::map<unsigned, std::string> inserts;   // number -> declared inserts ("%s%d")
};

constexpr char kNamePrefix[] = "OV_MSG_";

bool isMessageName(const std::string& word) {
    return word.rfind(kNamePrefix, 0) == 0 && word.size() > sizeof kNamePrefix - 1;
}

[[noreturn]] void fail(const std::string& where, const std::string& why) {
    std::cerr << where << ": " << why << "\n";
    std::exit(1);
}

std::string trim(const std::string& s) {
    const char* blanks = " \t\r";
    auto first = s.find_first_not_of(blanks);
    if (first == std::string::npos) return "";
    auto last = s.find_last_not_of(blanks);
    return s.substr(first, last - first + 1);
}

bool parseHex(const std::string& word, unsigned long limit, unsigned& out) {
    if (word.size() < 3 || word[0] != '0' || (word[1] != 'x' && word[1] != 'X')) return false;
    char* end = nullptr;
    unsigned long v = std::strtoul(word.c_str() + 2, &end, 16);
    if (*end != '\0' || v > limit) return false;
    out = static_cast<unsigned>(v);
    return true;
}

// The insert types a text uses, by position ('s' or 'd'), from "%s", "%d", "%n$s" and
// "%n$d" ("%%" is a percent sign). Empty with `error` set when the text uses another
// conversion, mixes positional and sequential ones, or leaves a position out.
std::string textInserts(const std::string& text, std::string& error) {
    std::map<unsigned, char> used;
    bool positional = false, sequential = false;
    unsigned next = 1;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') continue;
        if (i + 1 < text.size() && text[i + 1] == '%') {
            ++i;
            continue;
        }
        size_t j = i + 1;
        unsigned position = 0;
        while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j])))
            position = position * 10 + static_cast<unsigned>(text[j++] - '0');
        if (j > i + 1) {
            if (j >= text.size() || text[j] != '$' || position == 0) {
                error = "a conversion other than %s, %d, %n$s or %n$d";
                return "";
            }
            ++j;
            positional = true;
        } else {
            position = next++;
            sequential = true;
        }
        if (j >= text.size() || (text[j] != 's' && text[j] != 'd')) {
            error = "a conversion other than %s, %d, %n$s or %n$d";
            return "";
        }
        if (!used.emplace(position, text[j]).second) {
            error = "insert " + std::to_string(position) + " is used twice";
            return "";
        }
        i = j;
    }
    if (positional && sequential) {
        error = "positional and sequential inserts mixed";
        return "";
    }
    std::string types;
    for (const auto& [position, type] : used) {
        if (position != types.size() + 1) {
            error = "insert " + std::to_string(types.size() + 1) + " is not used";
            return "";
        }
        types += type;
    }
    return types;
}

Definitions readDefinitions(const std::string& path) {
    std::ifstream in(path);
    if (!in) fail(path, "cannot be read");
    Definitions defs;
    std::string line;
    for (int lineno = 1; std::getline(in, line); ++lineno) {
        const std::string where = path + ":" + std::to_string(lineno);
        std::string body = trim(line);
        if (body.empty() || body[0] == '#') continue;
        // Shortest forms only (no overlong, surrogate or out-of-range sequences).
        if (!ovz_utf8::isValid(body)) fail(where, "not UTF-8");
        std::istringstream words(body);
        std::string first;
        words >> first;
        if (first == "catalog") {
            std::string prefix_word, name, extra;
            words >> prefix_word >> name >> extra;
            unsigned prefix = 0;
            if (!parseHex(prefix_word, 0xFFFFF, prefix) || name.empty() || !extra.empty())
                fail(where, "expected: catalog <20-bit prefix in hex> <name>");
            if (name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_") !=
                std::string::npos)
                fail(where, "catalog names are lower-case letters, digits and '_'");
            if (!defs.catalogs.emplace(prefix, name).second) fail(where, "catalog declared twice");
            continue;
        }
        unsigned number = 0;
        if (!parseHex(first, 0xFFFFFFFFul, number)) fail(where, "expected a message number in hex");
        std::string text = trim(body.substr(first.size()));
        std::string name;
        std::istringstream rest(text);
        rest >> name;
        if (isMessageName(name)) {
            if (name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_") !=
                std::string::npos)
                fail(where, "message names are upper-case letters, digits and '_'");
            text = trim(text.substr(name.size()));
            defs.names.emplace(number, name);
        }
        if (!text.empty() && text[0] == '{') {
            const size_t close = text.find('}');
            if (close == std::string::npos) fail(where, "an inserts column without its '}'");
            const std::string declared = text.substr(1, close - 1);
            std::string types;
            for (size_t i = 0; i < declared.size(); i += 2) {
                if (declared[i] != '%' || i + 1 >= declared.size() ||
                    (declared[i + 1] != 's' && declared[i + 1] != 'd'))
                    fail(where, "inserts are written %s and %d, as in {%s%d}");
                types += declared[i + 1];
            }
            text = trim(text.substr(close + 1));
            std::string error;
            const std::string used = textInserts(text, error);
            if (!error.empty()) fail(where, "the text has " + error);
            if (used != types)
                fail(where, "the text's inserts differ from the declared {" + declared + "}");
            defs.inserts.emplace(number, declared);
        }
        if (text.empty()) fail(where, "message without text");
        if ((number & 0xFFF) == 0) fail(where, "the low 12 bits of a message number must not be 0");
        if (!defs.catalogs.count(number >> 12)) fail(where, "no catalog declared for this number");
        if (!defs.messages.emplace(number, text).second) fail(where, "message defined twice");
    }
    return defs;
}

// gencat reads the text between the quotes of `$quote "` and interprets backslash escapes.
std::string gencatQuoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string cQuoted(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            // Octal escapes keep the generated source ASCII whatever the compiler's input charset.
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\%03o", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// The name of every message: the one given in the file, else catalog and low 12 bits. Two
// messages may not share a name.
std::map<unsigned, std::string> messageNames(const Definitions& defs, const std::string& where) {
    std::map<unsigned, std::string> names;
    std::map<std::string, unsigned> taken;
    for (const auto& [number, text] : defs.messages) {
        std::string name;
        if (auto given = defs.names.find(number); given != defs.names.end()) {
            name = given->second;
        } else {
            std::string catalog = defs.catalogs.at(number >> 12);
            for (char& c : catalog)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            char low[8];
            std::snprintf(low, sizeof low, "%03X", number & 0xFFF);
            name = kNamePrefix + catalog + "_" + low;
        }
        if (!taken.emplace(name, number).second) fail(where, "two messages are named " + name);
        names.emplace(number, name);
    }
    return names;
}

// A message text inside a C comment: "*/" would end the comment early.
std::string commentText(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        if (text[i] == '*' && i + 1 < text.size() && text[i + 1] == '/') out += ' ';
    }
    return out;
}

std::string namesHeader(const Definitions& defs, const std::string& where) {
    const std::map<unsigned, std::string> names = messageNames(defs, where);
    std::ostringstream h;
    h << "/* Generated from messages.def by ovmsggen; edit that file instead. */\n"
      << "/* The message numbers of the catalogs by name, each with its text. */\n"
      << "#ifndef OVMSG_MESSAGES_H\n#define OVMSG_MESSAGES_H\n";
    for (const auto& [prefix, catalog] : defs.catalogs) {
        h << "\n/* catalog " << catalog << " */\n";
        for (const auto& [number, text] : defs.messages) {
            if ((number >> 12) != prefix) continue;
            char buf[16];
            std::snprintf(buf, sizeof buf, "0x%08Xu", number);
            h << "#define " << names.at(number) << " " << buf << " /* " << commentText(text)
              << " */\n";
        }
    }
    h << "\n/* The declared inserts of messages, {number, inserts}, in the order of the numbers. "
         "*/\n"
      << "#define OV_MSG_INSERTS_TABLE";
    const char* separator = " ";
    for (const auto& [number, inserts] : defs.inserts) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "0x%08Xu", number);
        h << separator << "\\\n    {" << buf << ", " << cQuoted(inserts) << "}";
        separator = ",";
    }
    h << "\n\n#endif /* OVMSG_MESSAGES_H */\n";
    return h.str();
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out || !(out << content) || !out.flush()) fail(path, "cannot be written");
}

}  // namespace

int main(int argc, char** argv) {
    bool extra = argc > 1 && std::string(argv[1]) == "--extra";
    if (extra) {
        --argc;
        ++argv;
    }
    if (argc < 3 || argc > 5) {
        std::cerr << "usage: ovmsggen [--extra] <definitions> <msg-output-dir> "
                     "[<defaults-output.cc> [<names-output.h>]]\n";
        return 2;
    }
    Definitions defs = readDefinitions(argv[1]);
    for (const auto& [prefix, name] : defs.catalogs) {
        char generic[16];
        std::snprintf(generic, sizeof generic, "ov%05x", prefix);
        if (extra && name != generic)
            fail(argv[1],
                 "catalog " + name + " must be named " + generic + " to be found by ovmsg");
    }

    for (const auto& [prefix, name] : defs.catalogs) {
        std::ostringstream msg;
        msg << "$ Generated from " << argv[1] << "; edit that file instead.\n";
        msg << "$quote \"\n$set 1\n";
        for (const auto& [number, text] : defs.messages)
            if ((number >> 12) == prefix)
                msg << (number & 0xFFF) << " " << gencatQuoted(text) << "\n";
        writeFile(std::string(argv[2]) + "/" + name + ".msg", msg.str());
    }

    if (argc >= 4) {
        std::ostringstream cc;
        cc << "// Generated from " << argv[1] << "; edit that file instead.\n"
           << "#include \"defaults.h\"\n\nnamespace ovmsg_internal {\n\n"
           << "const CatalogName kCatalogs[] = {\n";
        for (const auto& [prefix, name] : defs.catalogs) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "0x%05Xu", prefix);
            cc << "    {" << buf << ", " << cQuoted(name) << "},\n";
        }
        cc << "};\nconst unsigned kCatalogCount = " << defs.catalogs.size() << ";\n\n"
           << "const ov_msg_entry_t kDefaults[] = {\n";
        for (const auto& [number, text] : defs.messages) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "0x%08Xu", number);
            cc << "    {" << buf << ", " << cQuoted(text) << "},\n";
        }
        cc << "};\nconst unsigned kDefaultCount = " << defs.messages.size() << ";\n\n"
           << "}  // namespace ovmsg_internal\n";
        writeFile(argv[3], cc.str());
    }
    if (argc == 5) writeFile(argv[4], namesHeader(defs, argv[1]));
    return 0;
}
