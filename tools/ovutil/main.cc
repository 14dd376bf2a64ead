// ovutil: the administrator's command-line tool of the utility library.
//
//   ovutil cfg get|stanzas|keys|list ...                 read stanza configuration files
//   ovutil cfg set|add|del|del-stanza|rename-stanza ...  change them
//   ovutil cfg apply|merge ...                           many changes at once
//   ovutil cfg check|migrate ...                         check them, bring them up to date
//   ovutil msg NUMBER...                                 message texts by number
//   ovutil paths                                         the install path table
//   ovutil der dump FILE|-                               a wire object's masked trace
//   ovutil b64 encode|decode                             base64 of standard input
//   ovutil value encode|decode VALUE                     the reversible value encoder
//
// Exit status: 0 done, 1 failed, 2 wrong usage, 3 not found. Errors go to standard error with their
// message number. The manual (ovutil.1 beside this file) describes every command.
#include <clocale>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The command-line parser includes <iostream>, whose every includer starts the C++ streams
// (and with them the C++ locale) before main: a fifth of what starting the tool costs. The
// tool writes through stdio, and the parser writes to the C++ streams only in App::exit (help
// and parse errors), so the header's body is kept out, its four stream objects declared as
// it declares them, and the streams started just before App::exit (startStreams below).
#include <istream>
#include <ostream>
#ifndef _GLIBCXX_IOSTREAM
#define _GLIBCXX_IOSTREAM 1
namespace std {
extern istream cin;
extern ostream cout;
extern ostream cerr;
extern ostream clog;
}  // namespace std
#endif
#include <CLI/CLI.hpp>

#include <ovutil/ovutil.h>

#include "commands.h"
#include "tool.h"

using namespace ovtool;

namespace {

using Run = std::function<int()>;

// Adds FILE, STANZA (and KEY) positionals to `c`.
struct Place {
    std::string file, stanza, key;
};
std::shared_ptr<Place> addPlace(CLI::App* c, bool withKey) {
    auto p = std::make_shared<Place>();
    c->add_option("FILE", p->file, "stanza file")->required();
    c->add_option("STANZA", p->stanza, "stanza name")->required();
    if (withKey) c->add_option("KEY", p->key, "key")->required();
    return p;
}

// -z, --json, --shell and --prefix of the reading commands; --shell where `withShell`.
struct Form {
    bool nul = false, shell = false, json = false;
    std::string prefix;
    ReadOptions get() const {
        ReadOptions r;
        r.form = nul     ? OutputForm::kNul
                 : shell ? OutputForm::kShell
                 : json  ? OutputForm::kJson
                         : OutputForm::kLines;
        r.shellPrefix = prefix;
        return r;
    }
};
std::shared_ptr<Form> addForm(CLI::App* c, bool withShell) {
    auto f = std::make_shared<Form>();
    CLI::Option* z = c->add_flag("-z,--null", f->nul, "end each item with NUL, not a line break");
    CLI::Option* j = c->add_flag("--json", f->json, "print one JSON text")->excludes(z);
    if (withShell) {
        CLI::Option* s = c->add_flag("--shell", f->shell, "print shell assignments NAME='value'")
                             ->excludes(z)
                             ->excludes(j);
        c->add_option("--prefix", f->prefix, "put PREFIX in front of every shell variable name")
            ->needs(s)
            ->check(
                [](const std::string& p) {
                    bool ok = !p.empty() && !(p[0] >= '0' && p[0] <= '9');
                    for (char ch : p)
                        ok = ok && ((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') ||
                                    (ch >= '0' && ch <= '9') || ch == '_');
                    return ok ? std::string()
                              : "a shell name: letters, digits and _, not starting with a digit";
                },
                "NAME");
    }
    return f;
}

// --wait SECONDS: how long a write waits for the file's edit lock (30 s by default).
void addWaitOption(CLI::App* c, unsigned& waitMs) {
    c->add_option_function<double>(
         "--wait",
         [&waitMs](double seconds) { waitMs = static_cast<unsigned>(seconds * 1000.0 + 0.5); },
         "seconds to wait for the file's edit lock when another run or program holds it "
         "(default 30)")
        ->check(CLI::Validator(waitSecondsProblem, "SECONDS"));
}

// The options of every command that writes a file. --backup takes its suffix only as
// --backup=SUFFIX, so that a following argument is never taken for it.
struct Backup {
    std::string suffix;
};
std::shared_ptr<WriteOptions> addWriteOptions(CLI::App* c, bool create, bool missingOk) {
    auto w = std::make_shared<WriteOptions>();
    if (create)
        c->add_flag("--create", w->create,
                    "make the file when it does not exist (mode 0666 less the umask)");
    if (missingOk)
        c->add_flag("--missing-ok", w->missingOk,
                    "succeed when there is nothing to delete, or no file");
    c->add_flag("-v,--verbose", w->verbose, "say whether the file was written");
    c->add_flag("-n,--dry-run", w->dryRun, "change nothing; show what would change");
    c->add_flag("--diff", w->diff, "print the change of the file as a unified diff");
    c->add_flag("--json", w->json,
                "print the result as JSON: file, changed, written, dry_run, backup, diff");
    auto backup = std::make_shared<Backup>();
    c->add_flag("--backup{~}", backup->suffix,
                "before writing, keep the old file as FILE~ (or FILE+SUFFIX with "
                "--backup=SUFFIX)")
        ->check(
            [](const std::string& v) {
                return !v.empty() && v.find('/') == std::string::npos
                           ? std::string()
                           : "the suffix must not be empty and must hold no /";
            },
            "SUFFIX")
        ->each([w, backup](const std::string& v) { w->backupSuffix = v; });
    addWaitOption(c, w->waitMs);
    return w;
}

// Which commands of a level to make: every one without `only`, else just the one of that
// name; counts those made.
struct Wanted {
    const char* only;
    int made = 0;
    bool operator()(const char* name) {
        if (only && std::strcmp(only, name) != 0) return false;
        ++made;
        return true;
    }
};

// The commands of `cfg`; with `only`, just the command of that name (none when no command
// has it). Returns how many were added.
int addCfgCommands(CLI::App* cfg, Run& run, const char* only) {
    Wanted wanted{only};
    if (wanted("get")) {
        CLI::App* c = cfg->add_subcommand("get", "Print every value of a key, one per line");
        auto form = addForm(c, true);
        auto fallback = std::make_shared<std::string>();
        CLI::Option* d = c->add_option("--default", *fallback,
                                       "print VALUE (status 0) when the key or stanza is absent");
        auto p = addPlace(c, true);
        c->callback([=, &run] {
            ReadOptions options = form->get();
            if (d->count()) options.defaultValue = *fallback;
            run = [=] { return cfgGet(p->file, p->stanza, p->key, options); };
        });
    }
    if (wanted("stanzas")) {
        CLI::App* c = cfg->add_subcommand("stanzas", "Print the names of the stanzas");
        auto form = addForm(c, false);
        auto file = std::make_shared<std::string>();
        c->add_option("FILE", *file, "stanza file")->required();
        c->callback([=, &run] { run = [=] { return cfgNames(*file, nullptr, form->get()); }; });
    }
    if (wanted("keys")) {
        CLI::App* c = cfg->add_subcommand("keys", "Print the key names of a stanza");
        auto form = addForm(c, false);
        auto p = addPlace(c, false);
        c->callback(
            [=, &run] { run = [=] { return cfgNames(p->file, &p->stanza, form->get()); }; });
    }
    if (wanted("list")) {
        CLI::App* c =
            cfg->add_subcommand("list", "Print the stanzas (or one) and their key = value lines");
        auto form = addForm(c, true);
        auto p = std::make_shared<Place>();
        c->add_option("FILE", p->file, "stanza file")->required();
        CLI::Option* s = c->add_option("STANZA", p->stanza, "only this stanza");
        c->callback([=, &run] {
            if (form->shell && !s->count())
                throw CLI::ValidationError("--shell", "needs STANZA: one stanza's keys");
            run = [=] { return cfgList(p->file, s->count() ? &p->stanza : nullptr, form->get()); };
        });
    }
    struct Value {
        std::string text;
    };
    if (wanted("set")) {
        CLI::App* c = cfg->add_subcommand(
            "set", "Give a key exactly these values (one, or several in this order)");
        auto w = addWriteOptions(c, true, false);
        c->add_flag("--if-absent", w->ifAbsent, "leave a key that exists as it is");
        auto p = addPlace(c, true);
        auto values = std::make_shared<std::vector<std::string>>();
        c->add_option("VALUE", *values, "value(s)")->required();
        c->callback(
            [=, &run] { run = [=] { return cfgSet(p->file, p->stanza, p->key, *values, *w); }; });
    }
    if (wanted("add")) {
        CLI::App* c = cfg->add_subcommand("add", "Add one more value to a key");
        auto w = addWriteOptions(c, true, false);
        c->add_flag("--unique", w->unique, "add nothing when the key holds the value already");
        auto p = addPlace(c, true);
        auto v = std::make_shared<Value>();
        c->add_option("VALUE", v->text, "value")->required();
        c->callback(
            [=, &run] { run = [=] { return cfgAdd(p->file, p->stanza, p->key, v->text, *w); }; });
    }
    if (wanted("del")) {
        CLI::App* c = cfg->add_subcommand("del", "Remove a value of a key, or the whole key");
        auto w = addWriteOptions(c, false, true);
        auto p = addPlace(c, true);
        auto v = std::make_shared<Value>();
        CLI::Option* value = c->add_option("VALUE", v->text, "only this value");
        c->callback([=, &run] {
            run = [=] {
                return cfgDelete(p->file, p->stanza, p->key, value->count() ? &v->text : nullptr,
                                 *w);
            };
        });
    }
    if (wanted("del-stanza")) {
        CLI::App* c =
            cfg->add_subcommand("del-stanza", "Remove a stanza with its keys and comments");
        auto w = addWriteOptions(c, false, true);
        auto p = addPlace(c, false);
        c->callback([=, &run] { run = [=] { return cfgDeleteStanza(p->file, p->stanza, *w); }; });
    }
    if (wanted("rename-stanza")) {
        CLI::App* c = cfg->add_subcommand("rename-stanza", "Give a stanza another name");
        auto w = addWriteOptions(c, false, false);
        auto p = addPlace(c, false);
        auto name = std::make_shared<Value>();
        c->add_option("NEW-NAME", name->text, "the stanza's new name")->required();
        c->callback([=, &run] {
            run = [=] { return cfgRenameStanza(p->file, p->stanza, name->text, *w); };
        });
    }
    if (wanted("apply")) {
        CLI::App* c = cfg->add_subcommand(
            "apply", "Make the edits of a script, one command per line, all or none, in one store");
        auto w = addWriteOptions(c, true, false);
        auto file = std::make_shared<std::string>();
        auto script = std::make_shared<std::string>("-");
        c->add_option("FILE", *file, "stanza file")->required();
        c->add_option("SCRIPT", *script, "the edits, - (the default) for standard input");
        c->callback([=, &run] { run = [=] { return cfgApply(*file, *script, *w); }; });
    }
    if (wanted("merge")) {
        CLI::App* c = cfg->add_subcommand(
            "merge", "Set every key of a stanza-file fragment to the values it has there");
        auto w = addWriteOptions(c, true, false);
        auto file = std::make_shared<std::string>();
        auto fragment = std::make_shared<std::string>();
        c->add_option("FILE", *file, "stanza file")->required();
        c->add_option("FRAGMENT", *fragment, "the fragment, - for standard input")->required();
        c->callback([=, &run] { run = [=] { return cfgMerge(*file, *fragment, *w); }; });
    }
    if (wanted("check")) {
        auto file = std::make_shared<std::string>();
        CLI::App* c = cfg->add_subcommand("check", "Report every invalid line (file:line: reason)");
        c->add_option("FILE", *file, "stanza file")->required();
        c->callback([=, &run] { run = [=] { return cfgCheck(*file); }; });
    }
    if (wanted("migrate")) {
        auto file = std::make_shared<std::string>();
        auto dry = std::make_shared<bool>(false);
        auto json = std::make_shared<bool>(false);
        auto waitMs = std::make_shared<unsigned>(WriteOptions().waitMs);
        CLI::App* c = cfg->add_subcommand(
            "migrate", "Bring a file of an earlier release up to date; print the diff");
        c->add_flag("-n,--dry-run", *dry, "only show the diff; leave the file alone");
        c->add_flag("--json", *json, "print the result as JSON: file, changed, written, diff");
        addWaitOption(c, *waitMs);
        c->add_option("FILE", *file, "stanza file")->required();
        c->callback([=, &run] { run = [=] { return cfgMigrate(*file, *dry, *json, *waitMs); }; });
    }
    return wanted.made;
}

// `cfg` with its commands; with `only`, just that command when it is one (a run names one
// command, and making the others costs more than the rest of a small file's read).
void addCfg(CLI::App& app, Run& run, const char* only) {
    CLI::App* cfg = app.add_subcommand("cfg", "Read, change, check and migrate stanza files");
    cfg->require_subcommand(1);
    if (addCfgCommands(cfg, run, only) == 0) addCfgCommands(cfg, run, nullptr);
}

// The families beside `cfg`; with `only`, just the family of that name (none when no family
// has it). Returns how many were added.
int addOthers(CLI::App& app, Run& run, const char* only) {
    Wanted wanted{only};
    if (wanted("msg")) {
        auto numbers = std::make_shared<std::vector<std::string>>();
        auto utf8 = std::make_shared<bool>(false);
        CLI::App* c = app.add_subcommand("msg", "Print the texts of message numbers (hex)");
        c->add_flag("--utf8", *utf8, "print UTF-8 instead of the local code set");
        c->add_option("NUMBER", *numbers, "message numbers, e.g. 0x1354A0C3")->required();
        c->callback([=, &run] {
            run = [=] {
                wvmsg_init("ovutil");
                return msgShow(*numbers, *utf8);
            };
        });
    }
    if (wanted("paths")) {
        CLI::App* c = app.add_subcommand("paths", "Print the install path table after start-up");
        c->callback([&run] {
            run = [] {
                wvmsg_init("ovutil");
                return pathsShow();
            };
        });
    }
    if (wanted("der")) {
        auto input = std::make_shared<std::string>();
        CLI::App* der = app.add_subcommand("der", "Wire objects (DER of a name/value map)");
        der->require_subcommand(1);
        CLI::App* c = der->add_subcommand(
            "dump",
            "Decode a wire object and print its trace; the values of the names "
            "resourcepassword, pwd, password and server_pwd are shown as ********");
        c->add_option("FILE", *input, "the encoded object, - for standard input")->required();
        c->callback([=, &run] { run = [=] { return derDump(*input); }; });
    }
    if (wanted("b64")) {
        CLI::App* b64 = app.add_subcommand("b64", "Base64 of standard input");
        b64->require_subcommand(1);
        b64->add_subcommand("encode", "Encode standard input as one line of base64")
            ->callback([&run] { run = [] { return b64Encode(); }; });
        b64->add_subcommand("decode", "Decode base64 (characters outside the alphabet skipped)")
            ->callback([&run] { run = [] { return b64Decode(); }; });
    }
    if (wanted("value")) {
        auto value = std::make_shared<std::string>();
        CLI::App* v = app.add_subcommand("value", "The reversible value encoder");
        v->require_subcommand(1);
        CLI::App* e = v->add_subcommand("encode", "Print the encoded form of VALUE");
        e->add_option("VALUE", *value, "the value")->required();
        e->callback([=, &run] { run = [=] { return valueEncode(*value); }; });
        CLI::App* d = v->add_subcommand("decode", "Print the value of an encoded VALUE");
        d->add_option("VALUE", *value, "the encoded value")->required();
        d->callback([=, &run] { run = [=] { return valueDecode(*value); }; });
    }
    return wanted.made;
}

// Checks the words of the command line that must name sub-commands before the parser sees
// them, so that a wrong one is named ("unknown command 'cfg gett'") instead of being taken
// for a missing one. Returns what is wrong, or "" when the parser may go on.
// The family and the command that the command line names: its first and second words when
// they are no options (null otherwise).
struct CommandWords {
    const char* family = nullptr;
    const char* command = nullptr;
};

CommandWords namedCommand(int argc, char** argv) {
    CommandWords words;
    if (argc < 2 || argv[1][0] == '-') return words;
    words.family = argv[1];
    if (argc > 2 && argv[2][0] != '-') words.command = argv[2];
    return words;
}

std::string commandPathProblem(CLI::App& app, int argc, char** argv) {
    bool help = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "-h" || a == "--help") help = true;
        if (a == "--version" && argc != 2) return "--version takes no other argument";
    }
    CLI::App* at = &app;
    std::string path;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--") break;
        if (!a.empty() && a[0] == '-') continue;
        std::vector<CLI::App*> subs = at->get_subcommands(std::function<bool(CLI::App*)>());
        if (subs.empty()) return "";  // the arguments of a command begin here
        CLI::App* next = nullptr;
        for (CLI::App* s : subs)
            if (s->get_name() == a) next = s;
        if (!next) return "unknown command '" + (path.empty() ? a : path + " " + a) + "'";
        path += path.empty() ? a : " " + a;
        at = next;
    }
    if (at != &app && !help && !at->get_subcommands(std::function<bool(CLI::App*)>()).empty()) {
        std::string names;
        for (CLI::App* s : at->get_subcommands(std::function<bool(CLI::App*)>()))
            names += (names.empty() ? "" : ", ") + s->get_name();
        return "'" + path + "' needs one of: " + names;
    }
    return "";
}

// The command words of the command line as far as they name commands ("cfg set"), for
// pointing a usage error at the help of the command it concerns.
std::string commandWords(CLI::App& app, int argc, char** argv) {
    CLI::App* at = &app;
    std::string path;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--") break;
        if (!a.empty() && a[0] == '-') continue;
        CLI::App* next = nullptr;
        for (CLI::App* s : at->get_subcommands(std::function<bool(CLI::App*)>()))
            if (s->get_name() == a) next = s;
        if (!next) break;
        path += path.empty() ? a : " " + a;
        at = next;
    }
    return path;
}

void pointAtHelp(CLI::App& app, int argc, char** argv) {
    std::string words = commandWords(app, argc, argv);
    std::fprintf(stderr, "Run 'ovutil %s%s--help' for usage.\n", words.c_str(),
                 words.empty() ? "" : " ");
}

// App::exit, which prints to the C++ streams, once they are started (see the includes); a
// help text that cannot be written fails as any other output does.
int exitWith(const CLI::App& app, const CLI::Error& e) {
    static std::ios_base::Init streams;
    const int status = app.exit(e);
    if (std::cout.fail() || std::fflush(stdout) != 0) {
        printError(kMsgCannotWrite, {std::strerror(errno)});
        return kFailed;
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    // The locale comes from the environment, and only for what needs it: a command's work
    // and the message texts of errors, in the local language and code set. Help and version
    // texts are ASCII and leave it alone.
    auto useLocale = [] { std::setlocale(LC_ALL, ""); };
    // The version alone is answered before the command tree is built, which costs more than
    // the rest of such a run. The text is the one the parser's version flag prints.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("ovutil %s\n", ovutil_version());
        return std::fflush(stdout) == 0 ? kOk : kFailed;
    }
    Run run;

    CLI::App app{
        "Administers the utility library's configuration files, message texts, "
        "install paths and wire objects.",
        "ovutil"};
    app.set_version_flag("--version", std::string("ovutil ") + ovutil_version());
    app.require_subcommand(1);
    app.footer(
        "Exit status: 0 done, 1 failed, 2 wrong usage, 3 not found. Errors are written to standard "
        "error with their message number. See ovutil(1).\n");
    // Only the family of commands that the words name is made (and of `cfg`, only the command
    // named): help and usage errors within a family read the same, and any other words get
    // the whole tree, so that what is wrong with them is said as always.
    const CommandWords words = namedCommand(argc, argv);
    if (words.family && std::strcmp(words.family, "cfg") == 0) {
        addCfg(app, run, words.command);
    } else if (!words.family || addOthers(app, run, words.family) == 0) {
        addCfg(app, run, nullptr);
        addOthers(app, run, nullptr);
    }

    if (argc < 2) {
        std::fputs(app.help().c_str(), stderr);
        return kUsage;
    }
    if (std::string problem = commandPathProblem(app, argc, argv); !problem.empty()) {
        useLocale();
        printError(kMsgUsage, {problem});
        pointAtHelp(app, argc, argv);
        return kUsage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return exitWith(app, e);
    } catch (const CLI::CallForAllHelp& e) {
        return exitWith(app, e);
    } catch (const CLI::CallForVersion& e) {
        return exitWith(app, e);
    } catch (const CLI::ParseError& e) {
        useLocale();
        printError(kMsgUsage, {e.what()});
        pointAtHelp(app, argc, argv);
        return kUsage;
    }
    if (!run) return kUsage;
    useLocale();
    return runGuarded(run);
}
