// config_file.h - the default configuration file as the record suites see it (its text whole,
// or line by line; written by hand), and the fixture most of them start from: a fresh machine
// for each test.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "support/ini_text.h"
#include "support/test_env.h"

namespace qdltest {

// The default file's text as it is ("" when there is none).
inline std::string config_text(const Machine& m) { return read_file(m.default_file()); }

// The same without its CR bytes: the Windows profile functions end lines with CR LF.
inline std::string config_text_lf(const Machine& m) {
    std::string text = config_text(m);
    std::erase(text, '\r');
    return text;
}

// Its lines without the blank ones, each ended by LF: the form a test compares whole.
inline std::string ini_text(const Machine& m) {
    std::string out;
    for (const std::string& line : text_lines(config_text(m))) {
        if (!line.empty()) out += line + '\n';
    }
    return out;
}

// Replaces the default file by `text`.
inline void write_ini(const Machine& m, const std::string& text) {
    write_file(m.default_file(), text);
}

class ConfigTest : public ::testing::Test {
protected:
    Machine machine;

    std::string file() const { return config_text(machine); }
    Entries entries(const std::string& section) const { return section_entries(file(), section); }
    void write_config(const std::string& text) const { write_ini(machine, text); }
};

}  // namespace qdltest
