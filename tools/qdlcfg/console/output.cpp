// output.cpp - Table rendering and the stdout / stderr writers (see output.hpp).
#include "console/output.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include <nlohmann/json.hpp>

#include "platform/platform.h"
#include "console/status.hpp"

namespace qdlcfg {

namespace {

namespace platform = qdl::platform;

bool g_closed = false;

}  // namespace

std::string Table::render() const {
    std::vector<std::size_t> widths(headings_.size(), 0);
    auto measure = [&](const std::vector<std::string>& row) {
        for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    };
    measure(headings_);
    for (const auto& row : rows_) measure(row);
    std::string out;
    auto emit = [&](const std::vector<std::string>& row) {
        std::string line;
        for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) line += std::string(widths[i] - row[i].size() + 2, ' ');
        }
        line.erase(line.find_last_not_of(' ') + 1);
        out += line + "\n";
    };
    emit(headings_);
    for (const auto& row : rows_) emit(row);
    return out;
}

void write_stdout(std::string_view text) {
    if (g_closed || text.empty()) return;
    const int err = platform::write_stream(platform::Stream::Out, text);
    if (err == EPIPE) {
        g_closed = true;
    } else if (err != 0) {
        throw Failure(kExitFile, std::string("cannot write the output: ") + std::strerror(err));
    }
}

bool output_closed() { return g_closed; }

std::string read_whole_file(const std::string& path, bool regular_only, std::size_t limit) {
    std::string text;
    bool opened = false;
    const std::string reason = platform::read_input(path.c_str(), limit, regular_only, text, opened);
    if (!reason.empty()) {
        throw Failure(kExitFile, std::string(opened ? "cannot read " : "cannot open ") + path +
                                     ": " + reason);
    }
    return text;
}

std::string read_standard_input(std::size_t limit) {
    std::string text;
    bool opened = false;
    if (const std::string reason = platform::read_input(nullptr, limit, false, text, opened);
        !reason.empty()) {
        throw Failure(kExitFile, "cannot read standard input: " + reason);
    }
    return text;
}

void write_stderr_line(std::string_view line) {
    std::string text = "qdlcfg: ";
    text += line;
    text += "\n";
    (void)platform::write_stream(platform::Stream::Err, text);
}

namespace {
bool g_progress_allowed = true;
}  // namespace

void allow_progress(bool allowed) { g_progress_allowed = allowed; }

Progress::Progress(std::string what, std::size_t total)
    : what_(std::move(what)),
      total_(total),
      shown_(g_progress_allowed && total > kProgressThreshold && platform::is_terminal(platform::Stream::Err)) {}

void Progress::step(std::size_t done, std::size_t total) {
    if (!shown_) return;
    if (total != 0) total_ = total;
    done = std::min(done, total_);
    const auto percent = static_cast<unsigned>(done * 100 / total_);
    if (percent == last_percent_ && done != total_) return;
    last_percent_ = percent;
    const std::string line = "\rqdlcfg: " + what_ + ": " + std::to_string(done) + "/" +
                             std::to_string(total_) + " records (" + std::to_string(percent) +
                             "%)" + (done == total_ ? "\n" : "");
    (void)platform::write_stream(platform::Stream::Err, line);
}

std::string json_document(std::string_view shape, const nlohmann::ordered_json& body) {
    nlohmann::ordered_json doc = {{"format", "tskqdl32-" + std::string(shape)},
                                  {"version", kJsonVersion}};
    for (const auto& [key, value] : body.items()) doc[key] = value;
    return doc.dump(2) + "\n";
}

void write_error(bool json, int exit_code, std::optional<int> status, const std::string& message,
                 const std::vector<std::string>& details) {
    if (!json) {
        for (const std::string& d : details) write_stderr_line(d);
        write_stderr_line(message);
        return;
    }
    std::string text = message;
    for (std::size_t i = 0; i < details.size(); ++i) text += (i == 0 ? ": " : "; ") + details[i];
    nlohmann::ordered_json error = {{"exit_code", exit_code},
                                    {"status", nullptr},
                                    {"status_name", nullptr},
                                    {"message", text}};
    if (status) {
        error["status"] = *status;
        error["status_name"] = std::string(status_info(*status).name);
    }
    // A message may quote bytes that are not UTF-8 (a record name): replaced, never an error.
    const nlohmann::ordered_json line = {{"format", "tskqdl32-error"},
                                         {"version", kJsonVersion},
                                         {"error", error}};
    (void)platform::write_stream(platform::Stream::Err,
                    line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) +
                        "\n");
}

}  // namespace qdlcfg
