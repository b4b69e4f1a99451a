// text_diff.hpp - what a change does to the configuration file, line by line, for --diff: every
// line that goes and every line that comes, grouped by section, the password's value hidden.
#pragma once

#include <string>
#include <vector>

namespace qdlcfg {

// The changed lines of `after` against `before`: "@@ [Section]" before each section's lines
// (the part before the first section is "@@ (top of file)"), then "-line" for a line that goes
// and "+line" for one that comes. Sections are paired by name (letter case aside), the n-th of
// a name with the n-th; lines inside a pair by their longest common run. Empty when the texts
// hold the same lines.
std::vector<std::string> text_diff(const std::string& before, const std::string& after);

}  // namespace qdlcfg
