// ini_text.h - a configuration file read the way a person checks it: the "key=value" lines of
// one section in file order, bytes as they are (a CR before the LF is dropped). Independent of
// the library's own readers, so a test can assert exactly what landed in the file.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace qdltest {

using Entries = std::vector<std::pair<std::string, std::string>>;

// The lines of a file's text, without their line ends.
inline std::vector<std::string> text_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

// Whether the text has a header line "[section]" (spelling as given).
inline bool has_section(const std::string& text, const std::string& section) {
    for (const std::string& line : text_lines(text)) {
        if (line == "[" + section + "]") return true;
    }
    return false;
}

// The entries of the first section headed "[section]"; lines without '=' are left out.
inline Entries section_entries(const std::string& text, const std::string& section) {
    Entries entries;
    bool inside = false;
    bool seen = false;
    for (const std::string& line : text_lines(text)) {
        if (!line.empty() && line.front() == '[') {
            if (inside) break;
            inside = !seen && line == "[" + section + "]";
            seen = seen || inside;
            continue;
        }
        if (!inside) continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        entries.emplace_back(line.substr(0, eq), line.substr(eq + 1));
    }
    return entries;
}

}  // namespace qdltest
