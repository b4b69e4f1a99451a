// output.cpp - Table rendering and the stdout / stderr writers (see output.hpp).
#include "output.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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

void write_stderr_line(std::string_view line) {
    std::string text = "qdlcfg: ";
    text += line;
    text += "\n";
    (void)write_all(STDERR_FILENO, text);
}

}  // namespace qdlcfg
