// main.cpp - qdlcfg, the command-line tool over TSKQDL32: shows and changes the communication
// configuration (ports, devices, modems, global parameters) through the library's public header.
//
// Map of the tool's sources, in layers: each uses the ones below it (and console/), the lowest
// reaches the library's core and, for everything of the system, src/platform/platform.h.
//   main.cpp                   command line (CLI11): verbs, options, help, errors, exit codes
//   verbs/      the verbs
//     usage.cpp                verbs as CLI11 knows them: unknown verbs with suggestions, help
//     commands.hpp             the verbs' options and entry points
//     verbs_info.cpp           version, where, list, show, get
//     verbs_edit.cpp           add, set global, delete
//     apply.cpp                apply, set port|device|modem (one batch each)
//     transfer.cpp             export, import (one batch); reading documents
//     check.cpp                check
//   document/   the document model: what the file should hold, and the way there
//     document.cpp             records as JSON objects and back
//     reconcile.cpp            making stored records equal to wanted ones (import, apply, set)
//     text_diff.cpp            the file's lines that go and come (apply --diff)
//   engine/     the edit engine over the library's core
//     fields.cpp               the field tables of the four record kinds; values and checks
//     library.cpp              the calls into the library (the batch); listings from the store
//     section_edit.cpp         a section's keys edited in place, only those that differ
//     location.cpp             where the configuration file is (prefix, registry, Windows folder)
//   console/    what every layer reports with
//     output.cpp               tables; stdout that a closed pipe ends quietly; stderr; progress
//     status.cpp               status codes in words; exit codes; failures
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string_view>

#include <CLI/CLI.hpp>

#include "verbs/commands.hpp"
#include "platform/platform.h"
#include "engine/library.hpp"
#include "engine/location.hpp"
#include "console/output.hpp"
#include "console/status.hpp"
#include "verbs/usage.hpp"

namespace qdlcfg {

namespace {

constexpr const char* kFooter =
    "Every verb takes --json for machine output (errors then are one JSON object on stderr). "
    "Exit codes: 0 success, 1 not found or refused, 2 usage, 3 file error, 4 invalid "
    "document, 5 library failure. See qdlcfg help VERB and qdlcfg(1).";

// Options generated from a kind's field table; their texts are read after parsing.
struct FieldOptions {
    std::vector<std::pair<const Field*, CLI::Option*>> options;
    std::vector<std::unique_ptr<std::string>> storage;

    Given given() const {
        Given out;
        for (std::size_t i = 0; i < options.size(); ++i) {
            if (options[i].second->count() > 0) out.emplace_back(options[i].first, *storage[i]);
        }
        return out;
    }
};

std::string value_form(const Field& f) {
    switch (f.type) {
    case Type::Text: return "TEXT";
    case Type::Number16: return "0-65534";
    case Type::Number32: return "N";
    case Type::Timeout: return "0|50-63000";
    case Type::Hex16: return "HEX4";
    case Type::Hex32: return "HEX8";
    case Type::Word16: {
        std::string words;
        for (const Word& w : f.words) words += (words.empty() ? "" : "|") + std::string(w.word);
        return words;
    }
    }
    return "VALUE";
}

// The field's options, then its other names as options: "--device-model", "--DEVICE_MODEL"
// (any letter case) and "--model" name one field.
std::string option_names(const Field& f) {
    std::string names(f.options);
    auto add = [&](const std::string& name) {
        if (name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-_") != std::string::npos) {
            return;  // BXLN_P/N: no option can be spelled so
        }
        const std::string option = "--" + name;
        for (std::string_view rest = names; !rest.empty();) {
            const auto comma = rest.find(',');
            if (rest.substr(0, comma) == option) return;
            rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        }
        names += "," + option;
    };
    for (const std::string& n : field_names(f)) {
        add(n);
        std::string dashed = n;
        std::replace(dashed.begin(), dashed.end(), '_', '-');
        add(dashed);
    }
    return names;
}

void add_field_options(CLI::App* app, Kind kind, FieldOptions& out, bool type_required = true) {
    for (const Field& f : fields_of(kind)) {
        if (f.options.empty()) continue;
        std::string help(f.meaning);
        help += " [" + std::string(f.ini) + "]";
        if (kind == Kind::Port && f.role != Role::PortType && f.port_types != 0x3E) {
            help += "; " + port_types_text(f.port_types) + " only";
        }
        out.storage.push_back(std::make_unique<std::string>());
        CLI::Option* opt = app->add_option(option_names(f), *out.storage.back(), help)
                               ->type_name(value_form(f))
                               ->ignore_case();
        if (f.role == Role::PortType && type_required) opt->required();
        out.options.emplace_back(&f, opt);
    }
}

class Cli {
public:
    Cli() : app_("qdlcfg: show and change the TSKQDL32 communication configuration") {
        app_.name("qdlcfg");  // not argv[0]: usage lines name the program, never its path
        app_.fallthrough();
        app_.require_subcommand(1);
        app_.footer(kFooter);
        app_.add_flag("--json", ctx_.json, "machine output (JSON) on stdout");
        app_.add_option("--prefix", prefix_,
                        "the machine prefix (as TSKQDL32_PREFIX): registry.ini and the Windows "
                        "directory")
            ->type_name("DIR");
        app_.add_option("--wait", wait_,
                        "wait at most this long for another process's lock (30; 0: not at all)")
            ->type_name("SECONDS")
            ->check(CLI::Range(0.0, 86400.0));
        app_.add_flag("-q,--quiet", quiet_, "no progress on stderr for long work");
        app_.add_flag("--backup", backup_,
                      "keep the file as it was before a change, as FILE.<UTC time>.bak");
        app_.add_option("--file", file_,
                        "this configuration file, not the registered one (no registry lookup)")
            ->type_name("PATH");
        app_.add_flag("--legacy", legacy_,
                      "the legacy library's file and rules: tsk_cfg.ini in the Windows "
                      "directory, ports and devices of its layout, no modem records");
        app_.add_flag_callback("-V,--version", [] { throw CLI::CallForVersion(); },
                               "the versions, as the version verb shows them");
        add_help();
        add_info_verbs();
        add_show();
        add_add();
        add_set();
        add_delete();
        add_transfer();
        add_get();
    }

    int run(int argc, char** argv);

private:
    using Action = std::function<int()>;

    CLI::App* verb(CLI::App* parent, const std::string& name, const std::string& help,
                   Action action) {
        CLI::App* sub = parent->add_subcommand(name, help);
        sub->footer(kFooter);
        sub->callback([this, sub, action] {
            action_ = action;
            verb_ = sub;
        });
        return sub;
    }

    void add_help();
    void add_info_verbs();
    void add_show();
    void add_add();
    void add_set();
    void add_delete();
    void add_transfer();
    void add_get();

    std::string verb_path() const { return qdlcfg::verb_path(verb_); }
    int execute(bool json);

    CLI::App app_;
    Context ctx_;
    std::optional<std::string> prefix_;
    std::optional<std::string> file_;
    bool backup_ = false;
    bool legacy_ = false;
    bool strict_ = false;
    bool quiet_ = false;
    std::optional<double> wait_;
    Action action_;
    const CLI::App* verb_ = nullptr;
    const CLI::App* version_ = nullptr;
    std::vector<std::string> help_words_;

    ListOptions list_;
    std::string show_name_;
    AddOptions add_port_, add_device_, add_modem_;
    FieldOptions port_fields_, device_fields_, modem_fields_, global_fields_;
    SetGlobalOptions set_global_;
    SetOptions set_;
    FieldOptions set_port_fields_, set_device_fields_, set_modem_fields_;
    GetOptions get_;
    ApplyOptions apply_;
    DeleteOptions delete_;
    ExportOptions export_;
    ImportOptions import_;
};

// help [VERB...]: the verbs, or the usage of one, from the verbs CLI11 knows.
void Cli::add_help() {
    CLI::App* help = verb(&app_, "help", "list the verbs, or show one verb's usage", [this] {
        const Reached r = follow_verbs(app_, help_words_);
        if (r.used < help_words_.size()) fail_usage(unknown_verb(r.verb, help_words_[r.used]));
        write_stdout(verb_help(r.verb, app_.get_name()));
        return kExitOk;
    });
    help->add_option("VERB", help_words_, "a verb, with its sub-verb (help add port)");
}

void Cli::add_info_verbs() {
    version_ = verb(&app_, "version", "the tool's and the library's versions", [this] {
        return run_version(ctx_);
    });
    verb(&app_, "where", "the configuration file in use and how it was found", [this] {
        return run_where(ctx_);
    });
    CLI::App* list = verb(&app_, "list", "list the ports, devices and modems (names)", [this] {
        return run_list(ctx_, list_);
    });
    list->add_option("KIND", list_.kind, "only this group")
        ->check(CLI::IsMember({"ports", "devices", "modems"}));
    list->add_option("--key", list_.keys,
                     "only sections holding KEY (with VALUE); at most two")
        ->type_name("KEY[=VALUE]");
    CLI::App* check = verb(&app_, "check",
                           "report what the library would misread or refuse in the file, and "
                           "(as warnings) what would break a host",
                           [this] { return run_check(ctx_, strict_); });
    check->add_flag("--strict", strict_, "warnings are errors too (exit 1)");
}

void Cli::add_show() {
    CLI::App* show = app_.add_subcommand("show", "show one record, field by field");
    show->require_subcommand(1);
    show->footer(kFooter);
    for (Kind kind : {Kind::Port, Kind::Device, Kind::Modem}) {
        CLI::App* sub = verb(show, std::string(kind_word(kind)),
                             "show a " + std::string(kind_word(kind)) + " record",
                             [this, kind] { return run_show(ctx_, kind, show_name_); });
        sub->add_option("NAME", show_name_, "record name")->required();
    }
    verb(show, "global", "show the global parameters", [this] {
        return run_show(ctx_, Kind::Global, "");
    });
}

void Cli::add_add() {
    CLI::App* add = app_.add_subcommand("add", "add a port, device or modem record");
    add->require_subcommand(1);
    add->footer(kFooter);
    struct Spec {
        Kind kind;
        AddOptions* opts;
        FieldOptions* fields;
        const char* help;
    };
    const Spec specs[] = {
        {Kind::Port, &add_port_, &port_fields_, "add a port (--type is required)"},
        {Kind::Device, &add_device_, &device_fields_,
         "add a device: one address option adds that address; several, or --default-port "
         "or --model, add them all at once to a new device"},
        {Kind::Modem, &add_modem_, &modem_fields_, "add a dial-up modem record"}};
    for (const Spec& s : specs) {
        s.opts->kind = s.kind;
        CLI::App* sub = verb(add, std::string(kind_word(s.kind)), s.help, [this, s] {
            s.opts->given = s.fields->given();
            return run_add(ctx_, *s.opts);
        });
        sub->add_option("NAME", s.opts->name, "record name (begins with a letter)")->required();
        add_field_options(sub, s.kind, *s.fields);
    }
}

void Cli::add_set() {
    CLI::App* set = app_.add_subcommand("set", "change fields of a stored record");
    set->require_subcommand(1);
    set->footer(kFooter);
    const std::pair<Kind, FieldOptions*> kinds[] = {{Kind::Port, &set_port_fields_},
                                                    {Kind::Device, &set_device_fields_},
                                                    {Kind::Modem, &set_modem_fields_}};
    for (const auto& [kind, fields] : kinds) {
        CLI::App* sub = verb(set, std::string(kind_word(kind)),
                             "change the given fields of a " + std::string(kind_word(kind)) +
                                 " (an empty text or \"unset\" unsets one), keep the rest",
                             [this, kind, fields] {
                                 set_.kind = kind;
                                 set_.given = fields->given();
                                 return run_set(ctx_, set_);
                             });
        sub->add_option("NAME", set_.name, "record name")->required();
        add_field_options(sub, kind, *fields, false);
    }
    CLI::App* global = verb(set, "global", "change the given global parameters, keep the rest",
                            [this] {
                                set_global_.given = global_fields_.given();
                                return run_set_global(ctx_, set_global_);
                            });
    add_field_options(global, Kind::Global, global_fields_);
    global->add_flag("--password-stdin", set_global_.password_stdin,
                     "read the password from one line of stdin (never give it as an argument)");
    global->add_flag("--no-password", set_global_.no_password, "remove the password");
}

void Cli::add_delete() {
    CLI::App* del = app_.add_subcommand("delete", "delete a record");
    del->require_subcommand(1);
    del->footer(kFooter);
    for (Kind kind : {Kind::Port, Kind::Device, Kind::Modem}) {
        CLI::App* sub = verb(del, std::string(kind_word(kind)),
                             "delete a " + std::string(kind_word(kind)) + " record",
                             [this, kind] {
                                 delete_.kind = kind;
                                 return run_delete(ctx_, delete_);
                             });
        sub->add_option("NAME", delete_.name, "record name")->required();
        sub->add_flag("--force", delete_.force,
                      "also when records of other kinds share the section (they go too)");
        if (kind == Kind::Device) {
            sub->add_option("--address", delete_.address, "which address to delete (default all)")
                ->check(CLI::IsMember({"kwt-id", "ip", "dest", "bxln", "all"}))
                ->type_name("kwt-id|ip|dest|bxln|all");
        }
    }
    verb(del, "global", "delete the global parameters", [this] {
        delete_.kind = Kind::Global;
        return run_delete(ctx_, delete_);
    });
}

void Cli::add_transfer() {
    CLI::App* exp = verb(&app_, "export", "write every record as one JSON document", [this] {
        return run_export(ctx_, export_);
    });
    exp->add_flag("--with-password", export_.with_password,
                  "include the global password in clear text");
    CLI::App* imp = verb(&app_, "import", "add the records of a JSON document (FILE or -)",
                         [this] { return run_import(ctx_, import_); });
    imp->add_option("FILE", import_.file, "the document, or - for stdin")->required();
    imp->add_flag("--replace", import_.replace,
                  "rewrite an existing record that differs (in the same batch)");
    CLI::App* apply = verb(&app_, "apply",
                           "make the file hold the records of a JSON document (FILE or -)",
                           [this] { return run_apply(ctx_, apply_); });
    apply->add_option("FILE", apply_.file, "the document, or - for stdin")->required();
    apply->add_option("--prune-kinds", apply_.prune_kinds,
                      "with --prune: only these kinds (written --prune=ports,devices)")
        ->type_name("KINDS")
        ->group("");
    apply->add_option("--keep", apply_.keep,
                      "names matching this pattern (* and ?, any letter case) are never pruned")
        ->type_name("PATTERN")
        ->allow_extra_args(false)
        ->take_all();
    apply->add_flag("--merge", apply_.merge,
                    "fields a record of the document leaves out keep their stored values");
    apply->add_flag("--prune", apply_.prune,
                    "also delete the records of the document's kinds that it does not hold");
    apply->add_flag("--check", apply_.check, "report what would change, write nothing");
    apply->add_flag("--diff", apply_.diff, "show each change field by field");
}

void Cli::add_get() {
    CLI::App* get = app_.add_subcommand("get", "print one field of a record (for scripts)");
    get->require_subcommand(1);
    get->footer(kFooter);
    for (Kind kind : {Kind::Port, Kind::Device, Kind::Modem}) {
        CLI::App* sub = verb(get, std::string(kind_word(kind)),
                             "print one field of a " + std::string(kind_word(kind)) +
                                 "; exit 1 and nothing printed when it is not set",
                             [this, kind] {
                                 get_.kind = kind;
                                 return run_get(ctx_, get_);
                             });
        sub->add_option("NAME", get_.name, "record name")->required();
        sub->add_option("FIELD", get_.field, "field (JSON key or INI key)")->required();
    }
    CLI::App* global = verb(get, "global", "print one global parameter (or password_set)",
                            [this] {
                                get_.kind = Kind::Global;
                                return run_get(ctx_, get_);
                            });
    global->add_option("FIELD", get_.field, "field (JSON key or INI key)")->required();
}

// Usage errors print one line; CLI11's extras list can hold values, so only option-like
// arguments are named (a password given by mistake is never echoed). A verb that is unknown
// or missing comes first: everything else depends on which verb was meant.
std::string usage_message(const CLI::App& root, const CLI::ParseError& e, int argc, char** argv) {
    const VerbWords given = verb_words(root, argc, argv);
    const std::vector<std::string>& words = given.words;
    const Reached r = follow_verbs(root, words);
    if (!r.leaf && r.used == words.size()) return missing_verb(r.verb);
    if (!r.leaf && !given.maybe_value[r.used]) return unknown_verb(r.verb, words[r.used]);
    const std::string path = verb_path(r.verb);
    const std::string see = " (see qdlcfg help" + (path.empty() ? "" : " " + path) + ")";
    const std::string what = e.what();
    if (dynamic_cast<const CLI::RequiredError*>(&e) != nullptr &&
        what.find("subcommand") != std::string::npos) {
        return missing_verb(r.verb);
    }
    if (dynamic_cast<const CLI::ExtrasError*>(&e) == nullptr) return what + see;
    std::string named;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.rfind("--", 0) != 0 || what.find(a) == std::string::npos) continue;
        named += " " + a.substr(0, a.find('='));
    }
    return (named.empty() ? "unexpected arguments" : "unexpected arguments:" + named) + see;
}

// A flag anywhere on the command line (before "--"): --json, so that a usage error is reported
// in JSON too; --legacy, whose field tables the options are made from.
bool flag_given(int argc, char** argv, std::string_view flag) {
    for (int i = 1; i < argc && std::string_view(argv[i]) != "--"; ++i) {
        if (std::string_view(argv[i]) == flag) return true;
    }
    return false;
}

int Cli::run(int argc, char** argv) {
    const bool json = flag_given(argc, argv, "--json");
    // "--prune=KINDS" is the flag --prune with its kinds: CLI11 takes them as --prune-kinds
    // (an option with an optional value would swallow the FILE after a plain --prune).
    std::vector<std::string> words(argv, argv + argc);
    std::vector<char*> args;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (words[i].rfind("--prune=", 0) == 0) {
            words.push_back("--prune-kinds=" + words[i].substr(8));
            words[i] = "--prune";
        }
    }
    for (std::string& w : words) args.push_back(w.data());
    argc = static_cast<int>(args.size());
    argv = args.data();
    try {
        app_.parse(argc, argv);
    } catch (const CLI::CallForVersion&) {
        ctx_.json = json;
        verb_ = version_;
        action_ = [this] { return run_version(ctx_); };
    } catch (const CLI::CallForHelp&) {
        std::cout << app_.help() << std::flush;
        return kExitOk;
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app_.exit(e);
        write_error(json, kExitUsage, std::nullopt, "usage: " + usage_message(app_, e, argc, argv));
        return kExitUsage;
    }
    return execute(json);
}

int Cli::execute(bool json) {
    try {
        if (prefix_) {
            if (prefix_->empty()) fail_usage("--prefix: an empty directory name");
            qdl::platform::use_prefix(*prefix_);
        }
        if (file_) use_config_file(*file_);
        if (legacy_) use_legacy_library();
        if (backup_) request_backup();
        allow_progress(!json && !quiet_);
        // A write held up by another process's lock says so after a second (not in JSON,
        // whose readers expect nothing on stderr but an error).
        const auto notice = json ? nullptr : +[](const char* lock, long holder) {
            write_stderr_line("waiting for the lock on " + std::string(lock) +
                              (holder > 0 ? ", held by process " + std::to_string(holder) : "") +
                              " ...");
        };
        qdl::platform::set_lock_wait(wait_ ? static_cast<std::int64_t>(*wait_ * 1000) : -1,
                                     notice);
        return action_();
    } catch (const Failure& f) {
        std::vector<std::string> details = f.details();
        if (!json) {
            for (std::string& d : details) d = verb_path() + ": " + d;
        }
        write_error(json, f.code(), f.status(), verb_path() + ": " + f.what(), details);
        return f.code();
    } catch (const std::exception& ex) {
        write_error(json, kExitFailure, std::nullopt,
                    verb_path() + ": internal error: " + ex.what());
        return kExitFailure;
    }
}

}  // namespace

}  // namespace qdlcfg

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);  // a closed pipe shows up as EPIPE, handled quietly
    if (qdlcfg::flag_given(argc, argv, "--legacy")) qdlcfg::use_legacy_rules();
    qdlcfg::Cli cli;
    return cli.run(argc, argv);
}
