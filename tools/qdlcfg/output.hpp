// output.hpp - aligned tables, and writing stdout so that a closed pipe ends nothing noisily.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qdlcfg {

class Table {
public:
    explicit Table(std::vector<std::string> headings) : headings_(std::move(headings)) {}
    void add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
    bool empty() const { return rows_.empty(); }
    // Columns padded to their widest cell, two blanks apart; the last column unpadded.
    std::string render() const;

private:
    std::vector<std::string> headings_;
    std::vector<std::vector<std::string>> rows_;
};

// Writes all of `text` to stdout. A reader that went away (EPIPE) is not an error: the rest is
// dropped quietly and output_closed() turns true. Other write errors throw Failure (exit 3).
void write_stdout(std::string_view text);
bool output_closed();

// One line on stderr ("qdlcfg: " + line); errors writing it are ignored.
void write_stderr_line(std::string_view line);

}  // namespace qdlcfg
