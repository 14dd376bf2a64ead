// ovutil: the administrator's command-line tool of the utility library.
//
//   ovutil cfg get|set|add|del|list|check|migrate ...   stanza configuration files
//   ovutil msg NUMBER...                                message texts by number
//   ovutil paths                                        the install path table
//   ovutil der dump FILE|-                              a wire object's masked trace
//   ovutil b64 encode|decode                            base64 of standard input
//   ovutil value encode|decode VALUE                    the reversible value encoder
//
// Exit status: 0 done, 1 failed, 2 wrong usage. Errors go to standard error with their
// message number.
#include <clocale>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include <ovutil/ovutil.h>

#include "commands.h"
#include "tool.h"

using namespace ovtool;

namespace {

// Adds a cfg subcommand that changes a value; `needsValue` says whether VALUE is required.
void addWrite(CLI::App& cfg, const char* name, const char* help, CfgWrite op, bool needsValue,
              std::function<int()>& run) {
    struct Args {
        std::string file, stanza, key, value;
    };
    auto args = std::make_shared<Args>();
    CLI::App* c = cfg.add_subcommand(name, help);
    c->add_option("FILE", args->file, "stanza file")->required();
    c->add_option("STANZA", args->stanza, "stanza name")->required();
    c->add_option("KEY", args->key, "key")->required();
    CLI::Option* v = c->add_option("VALUE", args->value, "value");
    if (needsValue) v->required();
    c->callback([args, op, v, &run] {
        run = [args, op, v] {
            return cfgWrite(op, args->file, args->stanza, args->key,
                            v->count() ? &args->value : nullptr);
        };
    });
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    std::function<int()> run;

    CLI::App app{"Administers the utility library's configuration files, message texts, "
                 "install paths and wire objects.",
                 "ovutil"};
    app.set_version_flag("--version", std::string("ovutil ") + ovutil_version());
    app.require_subcommand(1);
    app.footer("Exit status: 0 done, 1 failed, 2 wrong usage. Errors are written to standard "
               "error with their message number.\n");

    CLI::App* cfg = app.add_subcommand("cfg", "Read, change, check and migrate stanza files");
    cfg->require_subcommand(1);
    {
        auto file = std::make_shared<std::string>();
        auto stanza = std::make_shared<std::string>();
        auto key = std::make_shared<std::string>();
        CLI::App* c = cfg->add_subcommand("get", "Print every value of a key, one per line");
        c->add_option("FILE", *file, "stanza file")->required();
        c->add_option("STANZA", *stanza, "stanza name")->required();
        c->add_option("KEY", *key, "key")->required();
        c->callback([=, &run] { run = [=] { return cfgGet(*file, *stanza, *key); }; });
    }
    addWrite(*cfg, "set", "Give a key this one value (stored crash-safe)", CfgWrite::kSet, true,
             run);
    addWrite(*cfg, "add", "Add one more value to a key (stored crash-safe)", CfgWrite::kAdd,
             true, run);
    addWrite(*cfg, "del", "Remove a value of a key, or the whole key without VALUE",
             CfgWrite::kDelete, false, run);
    {
        auto file = std::make_shared<std::string>();
        auto stanza = std::make_shared<std::string>();
        CLI::App* c = cfg->add_subcommand("list", "Print the stanzas and their key = value lines");
        c->add_option("FILE", *file, "stanza file")->required();
        CLI::Option* s = c->add_option("STANZA", *stanza, "only this stanza");
        c->callback([=, &run] {
            run = [=] { return cfgList(*file, s->count() ? stanza.get() : nullptr); };
        });
    }
    {
        auto file = std::make_shared<std::string>();
        CLI::App* c = cfg->add_subcommand("check", "Report invalid data with file and line");
        c->add_option("FILE", *file, "stanza file")->required();
        c->callback([=, &run] { run = [=] { return cfgCheck(*file); }; });
    }
    {
        auto file = std::make_shared<std::string>();
        auto dry = std::make_shared<bool>(false);
        CLI::App* c = cfg->add_subcommand(
            "migrate", "Bring a file of an earlier release up to date; print the diff");
        c->add_flag("--dry-run", *dry, "only show the diff; leave the file alone");
        c->add_option("FILE", *file, "stanza file")->required();
        c->callback([=, &run] { run = [=] { return cfgMigrate(*file, *dry); }; });
    }

    {
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
    {
        CLI::App* c = app.add_subcommand("paths", "Print the install path table after start-up");
        c->callback([&run] {
            run = [] {
                wvmsg_init("ovutil");
                return pathsShow();
            };
        });
    }
    {
        auto input = std::make_shared<std::string>();
        CLI::App* der = app.add_subcommand("der", "Wire objects (DER of a name/value map)");
        der->require_subcommand(1);
        CLI::App* c = der->add_subcommand("dump", "Decode a wire object and print its trace, "
                                                  "secrets masked");
        c->add_option("FILE", *input, "the encoded object, - for standard input")->required();
        c->callback([=, &run] { run = [=] { return derDump(*input); }; });
    }
    {
        CLI::App* b64 = app.add_subcommand("b64", "Base64 of standard input");
        b64->require_subcommand(1);
        b64->add_subcommand("encode", "Encode standard input as one line of base64")
            ->callback([&run] { run = [] { return b64Encode(); }; });
        b64->add_subcommand("decode", "Decode base64 (characters outside the alphabet skipped)")
            ->callback([&run] { run = [] { return b64Decode(); }; });
    }

    {
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

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        printError(kMsgUsage, {e.what()});
        std::fprintf(stderr, "Run 'ovutil --help' for usage.\n");
        return kUsage;
    }
    if (!run) return kUsage;
    return runGuarded(run);
}
