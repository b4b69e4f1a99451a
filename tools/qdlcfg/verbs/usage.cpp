// usage.cpp - verbs as CLI11 knows them (see usage.hpp). Nothing here lists the verbs: a verb
// added to the command line is followed, suggested and helped by itself.
#include "verbs/usage.hpp"

#include <algorithm>
#include <cctype>
#include <optional>

namespace qdlcfg {

namespace {

std::vector<const CLI::App*> sub_verbs(const CLI::App* verb) {
    return verb->get_subcommands([](const CLI::App* sub) { return !sub->get_name().empty(); });
}

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Edits (insert, delete, replace, swap of neighbours) that turn a into b.
std::size_t edit_distance(const std::string& a, const std::string& b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[a.size()][b.size()];
}

// How far `word` is from `verb`, or nothing when it is not close: a start of the verb counts
// as one edit; otherwise at most two edits, and fewer than half the verb's letters.
std::optional<std::size_t> closeness(const std::string& word, const std::string& verb) {
    if (word.size() > verb.size() + 2) return std::nullopt;  // more than two edits
    const std::string w = lower(word);
    const std::size_t d = edit_distance(w, verb);
    if (w.size() >= 2 && verb.rfind(w, 0) == 0) return std::min<std::size_t>(d, 1);
    if (d <= 2 && 2 * d < verb.size()) return d;
    return std::nullopt;
}

}  // namespace

Reached follow_verbs(const CLI::App& root, const std::vector<std::string>& words) {
    Reached r{&root, 0, false};
    for (const std::string& word : words) {
        const std::vector<const CLI::App*> subs = sub_verbs(r.verb);
        if (subs.empty()) break;
        const auto next = std::find_if(subs.begin(), subs.end(),
                                       [&](const CLI::App* s) { return s->check_name(word); });
        if (next == subs.end()) break;
        r.verb = *next;
        ++r.used;
    }
    r.leaf = sub_verbs(r.verb).empty();
    return r;
}

VerbWords verb_words(const CLI::App& root, int argc, char** argv) {
    VerbWords out;
    bool maybe_value = false;
    bool value = false;  // the word is the value of the common option before it (--file PATH)
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") break;
        if (arg.size() > 1 && arg[0] == '-') {
            const CLI::Option* option =
                arg.find('=') == std::string::npos ? root.get_option_no_throw(arg) : nullptr;
            value = option != nullptr && option->get_items_expected_min() > 0;
            maybe_value = arg.find('=') == std::string::npos && option == nullptr;
            continue;
        }
        if (value) {
            value = false;
            continue;
        }
        out.words.push_back(arg);
        out.maybe_value.push_back(maybe_value);
        maybe_value = false;
    }
    return out;
}

std::string verb_path(const CLI::App* verb) {
    std::string path;
    for (const CLI::App* a = verb; a != nullptr && a->get_parent() != nullptr;
         a = a->get_parent()) {
        path = a->get_name() + (path.empty() ? "" : " " + path);
    }
    return path;
}

std::string unknown_verb(const CLI::App* parent, const std::string& word) {
    const std::string path = verb_path(parent);
    const std::string prefix = path.empty() ? "" : path + " ";
    std::vector<std::pair<std::size_t, std::string>> close;
    for (const CLI::App* sub : sub_verbs(parent)) {
        const std::string name = sub->get_name();
        if (const auto d = closeness(word, name)) close.emplace_back(*d, name);
    }
    std::string text = "unknown verb '" + prefix + word + "'";
    if (close.empty()) return text + " (see qdlcfg help" + (path.empty() ? "" : " " + path) + ")";
    const std::size_t best = std::min_element(close.begin(), close.end())->first;
    std::string names;
    for (const auto& [d, name] : close) {
        if (d != best) continue;
        names += (names.empty() ? "'" : " or '") + prefix + name + "'";
    }
    return text + " (did you mean " + names + "?)";
}

std::string missing_verb(const CLI::App* parent) {
    const std::string path = verb_path(parent);
    if (path.empty()) return "missing verb (see qdlcfg help)";
    std::string names;
    for (const CLI::App* sub : sub_verbs(parent)) {
        names += (names.empty() ? "" : ", ") + sub->get_name();
    }
    return "missing verb after '" + path + "' (one of " + names + ")";
}

std::string verb_help(const CLI::App* verb, const std::string& program) {
    const std::string path = verb_path(verb);
    return verb->get_formatter()->make_help(verb, path.empty() ? program : program + " " + path,
                                            CLI::AppFormatMode::Normal);
}

}  // namespace qdlcfg
