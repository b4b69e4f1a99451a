// output.cpp - Table rendering and the stdout / stderr writers (see output.hpp).
#include "output.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include <nlohmann/json.hpp>

#include "status.hpp"

namespace qdlcfg {

namespace {

bool g_closed = false;

// Writes everything; returns 0 or the errno of the failed write.
int write_all(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

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
    const int err = write_all(STDOUT_FILENO, text);
    if (err == EPIPE) {
        g_closed = true;
    } else if (err != 0) {
        throw Failure(kExitFile, std::string("cannot write the output: ") + std::strerror(err));
    }
}

bool output_closed() { return g_closed; }

namespace {

// Reads `fd` to its end into `text`, refusing at once anything beyond `limit` bytes. Returns ""
// or the reason it could not be read.
std::string read_up_to(int fd, std::size_t limit, std::string& text) {
    const std::string too_big = "larger than " + std::to_string(limit >> 20) + " MiB";
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
        static_cast<std::uintmax_t>(st.st_size) > limit) {
        return too_big;  // without reading a byte of it
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) return "";
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::strerror(errno);
        if (static_cast<std::size_t>(n) > limit - text.size()) return too_big;
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

}  // namespace

std::string read_whole_file(const std::string& path, bool regular_only, std::size_t limit) {
    const auto fail = [&](const char* what, const std::string& reason) {
        throw Failure(kExitFile, std::string(what) + path + ": " + reason);
    };
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (regular_only ? O_NONBLOCK : 0));
    if (fd < 0) fail("cannot open ", std::strerror(errno));
    struct stat st;
    if (regular_only && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        ::close(fd);
        fail("cannot open ", "not a regular file");
    }
    std::string text;
    const std::string reason = read_up_to(fd, limit, text);
    ::close(fd);
    if (!reason.empty()) fail("cannot read ", reason);
    return text;
}

std::string read_standard_input(std::size_t limit) {
    std::string text;
    if (const std::string reason = read_up_to(STDIN_FILENO, limit, text); !reason.empty()) {
        throw Failure(kExitFile, "cannot read standard input: " + reason);
    }
    return text;
}

void write_stderr_line(std::string_view line) {
    std::string text = "qdlcfg: ";
    text += line;
    text += "\n";
    (void)write_all(STDERR_FILENO, text);
}

namespace {
bool g_progress_allowed = true;
}  // namespace

void allow_progress(bool allowed) { g_progress_allowed = allowed; }

Progress::Progress(std::string what, std::size_t total)
    : what_(std::move(what)),
      total_(total),
      shown_(g_progress_allowed && total > kProgressThreshold && isatty(STDERR_FILENO)) {}

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
    (void)!::write(STDERR_FILENO, line.data(), line.size());
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
    (void)write_all(STDERR_FILENO,
                    line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) +
                        "\n");
}

}  // namespace qdlcfg
