// text_diff.cpp - line differences of the configuration file (see text_diff.hpp).
#include "document/text_diff.hpp"

#include <algorithm>
#include <map>
#include <string_view>

#include "engine/fields.hpp"

namespace qdlcfg {

namespace {

// Above this many line pairs a section's middle part is shown as all gone and all new rather
// than aligned (a section of thousands of lines changed throughout).
constexpr std::size_t kMaxAlignedPairs = std::size_t{1} << 22;

constexpr std::string_view kBlanks = " \t\n\v\f\r\x1a";

std::string_view trimmed(std::string_view s) {
    const auto first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

struct Block {
    std::string name;                    // "" for the top of the file
    std::vector<std::string_view> lines; // header line included
};

// Lines end at CR LF, LF or a lone CR, as the profile functions read them; blank lines count.
std::vector<Block> blocks_of(const std::string& text) {
    std::vector<Block> blocks(1);
    std::size_t start = 0;
    auto take = [&](std::size_t end) {
        const std::string_view line(text.data() + start, end - start);
        const std::string_view t = trimmed(line);
        const auto close = t.rfind(']');
        if (!t.empty() && t.front() == '[' && close != std::string_view::npos) {
            blocks.push_back(Block{std::string(trimmed(t.substr(1, close - 1))), {}});
        }
        blocks.back().lines.push_back(line);
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n' && text[i] != '\r') continue;
        take(i);
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) take(text.size());
    return blocks;
}

// Texts joined by appending (GCC 12 warns falsely about short concatenations at -O3).
std::string joined(std::string_view a, std::string_view b, std::string_view c = {}) {
    std::string out;
    out.reserve(a.size() + b.size() + c.size());
    out.append(a).append(b).append(c);
    return out;
}

// A line as shown after its mark: the password's value never.
std::string shown(char mark, std::string_view line) {
    const auto eq = line.find('=');
    if (eq != std::string_view::npos && fold(trimmed(line.substr(0, eq))) == "password") {
        return joined(std::string_view(&mark, 1), line.substr(0, eq + 1), "<hidden>");
    }
    return joined(std::string_view(&mark, 1), line);
}

void lines_diff(const Block& a, const Block& b, std::vector<std::string>& out) {
    std::size_t head = 0;
    while (head < a.lines.size() && head < b.lines.size() && a.lines[head] == b.lines[head]) {
        ++head;
    }
    std::size_t tail = 0;
    while (tail < a.lines.size() - head && tail < b.lines.size() - head &&
           a.lines[a.lines.size() - 1 - tail] == b.lines[b.lines.size() - 1 - tail]) {
        ++tail;
    }
    const std::size_t n = a.lines.size() - head - tail, m = b.lines.size() - head - tail;
    if (n == 0 && m == 0) return;
    out.push_back(a.name.empty() && b.name.empty() ? std::string("@@ (top of file)")
                                                   : joined("@@ [", b.name, "]"));
    auto from = [&](std::size_t i) { return a.lines[head + i]; };
    auto to = [&](std::size_t j) { return b.lines[head + j]; };
    if (n * m > kMaxAlignedPairs) {
        for (std::size_t i = 0; i < n; ++i) out.push_back(shown('-', from(i)));
        for (std::size_t j = 0; j < m; ++j) out.push_back(shown('+', to(j)));
        return;
    }
    // Longest common subsequence, from the end, then walked from the start.
    std::vector<std::uint32_t> len((n + 1) * (m + 1), 0);
    auto at = [&](std::size_t i, std::size_t j) -> std::uint32_t& { return len[i * (m + 1) + j]; };
    for (std::size_t i = n; i-- > 0;) {
        for (std::size_t j = m; j-- > 0;) {
            at(i, j) = from(i) == to(j) ? at(i + 1, j + 1) + 1
                                        : std::max(at(i + 1, j), at(i, j + 1));
        }
    }
    std::size_t i = 0, j = 0;
    while (i < n || j < m) {
        if (i < n && j < m && from(i) == to(j)) {
            ++i, ++j;
        } else if (j == m || (i < n && at(i + 1, j) >= at(i, j + 1))) {
            out.push_back(shown('-', from(i++)));
        } else {
            out.push_back(shown('+', to(j++)));
        }
    }
}

}  // namespace

std::vector<std::string> text_diff(const std::string& before, const std::string& after) {
    std::vector<std::string> out;
    if (before == after) return out;
    const std::vector<Block> a = blocks_of(before), b = blocks_of(after);
    // The n-th block of a name in `after`, by folded name.
    std::map<std::string, std::vector<std::size_t>> in_after;
    for (std::size_t j = 1; j < b.size(); ++j) in_after[fold(b[j].name)].push_back(j);
    std::vector<bool> paired(b.size(), false);
    std::map<std::string, std::size_t> seen;
    lines_diff(a[0], b[0], out);
    paired[0] = true;
    for (std::size_t i = 1; i < a.size(); ++i) {
        const std::string key = fold(a[i].name);
        const std::size_t nth = seen[key]++;
        const auto it = in_after.find(key);
        if (it != in_after.end() && nth < it->second.size()) {
            paired[it->second[nth]] = true;
            lines_diff(a[i], b[it->second[nth]], out);
        } else {
            Block gone{a[i].name, {}};
            lines_diff(a[i], gone, out);
        }
    }
    for (std::size_t j = 1; j < b.size(); ++j) {
        if (!paired[j]) lines_diff(Block{b[j].name, {}}, b[j], out);
    }
    return out;
}

}  // namespace qdlcfg
