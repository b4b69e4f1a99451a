// output.hpp - aligned tables, and writing stdout so that a closed pipe ends nothing noisily.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

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

// The whole content of a file; a file that cannot be opened or read (a directory) throws
// Failure (exit 3) naming the system's reason. With `regular_only`, anything but a regular
// file (a FIFO that would block, a device) is refused at once. Content beyond `limit` bytes
// (a multiple of 1 MiB) is refused the same way as soon as it is seen: a regular file by its
// size, without reading it, a stream (/dev/zero) once that much has been read.
std::string read_whole_file(const std::string& path, bool regular_only,
                            std::size_t limit = SIZE_MAX);
// Standard input to its end, refused as read_whole_file refuses a file.
std::string read_standard_input(std::size_t limit);

// Every JSON document the tool writes opens with its shape and the shape's version (see
// docs/json.md): {"format": "tskqdl32-<shape>", "version": 1, ...the members of `body`}.
inline constexpr int kJsonVersion = 1;
std::string json_document(std::string_view shape, const nlohmann::ordered_json& body);

// Progress of long work on stderr, as apt and git show it: "qdlcfg: import: 4096/100000
// records (4%)", redrawn in place. Only for more than kProgressThreshold records, when stderr is
// a terminal and progress is allowed (not with --json or --quiet); the last step ends the line.
inline constexpr std::size_t kProgressThreshold = 1000;
void allow_progress(bool allowed);
class Progress {
public:
    Progress(std::string what, std::size_t total);
    // `total`, when given, replaces the total (a batch learns its deletions as it goes).
    void step(std::size_t done, std::size_t total = 0);

private:
    std::string what_;
    std::size_t total_;
    bool shown_;
    unsigned last_percent_ = 101;
};

// One line on stderr ("qdlcfg: " + line); errors writing it are ignored.
void write_stderr_line(std::string_view line);

// The error that ends the tool. Plain: the detail lines, then the message, each as
// write_stderr_line writes it. JSON: one line, {"error": {"exit_code", "status", "status_name",
// "message"}}, the status fields null when the library did not report it, the details appended
// to the message.
void write_error(bool json, int exit_code, std::optional<int> status, const std::string& message,
                 const std::vector<std::string>& details = {});

}  // namespace qdlcfg
