// usage.hpp - the verbs as CLI11 knows them: following words down the tree of verbs, naming an
// unknown verb with the closest known ones, and the help of one verb.
#pragma once

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace qdlcfg {

// How far `words` lead down the verbs under `root`: the last verb reached, how many words
// named verbs, and whether that verb has no sub-verbs (the rest are its arguments). Otherwise
// the words ran out, or words[used] names no verb under it.
struct Reached {
    const CLI::App* verb;
    std::size_t used;
    bool leaf;
};
Reached follow_verbs(const CLI::App& root, const std::vector<std::string>& words);

// The words of a command line that can name verbs: everything but options, up to "--". A word
// after an option that `root` does not know may be that option's value (a password typed as
// an argument): maybe_value marks it, and it is never quoted as an unknown verb.
struct VerbWords {
    std::vector<std::string> words;
    std::vector<bool> maybe_value;
};
VerbWords verb_words(const CLI::App& root, int argc, char** argv);

// "add port" for the verb `port` under `add` (empty for the root).
std::string verb_path(const CLI::App* verb);

// "unknown verb 'add prot' (did you mean 'add port'?)": the sub-verbs of `parent` at the
// smallest edit distance from `word` are suggested when that distance is small for their
// length; nothing is suggested when none is close.
std::string unknown_verb(const CLI::App* parent, const std::string& word);

// "missing verb after 'add' (one of port, device, modem)"; for the root, a pointer to help.
std::string missing_verb(const CLI::App* parent);

// The help of one verb, its usage line naming the program as `program`.
std::string verb_help(const CLI::App* verb, const std::string& program);

}  // namespace qdlcfg
