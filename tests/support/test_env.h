// test_env.h - a fresh machine for each test.
//
// On Linux a temporary prefix (TSKQDL32_PREFIX) with an empty Windows directory and no registry
// value; on Windows the real registry value is removed and the default file in the real Windows
// directory deleted. Either way the library's path copies are emptied, as in a fresh process.
#pragma once

#include <string>

namespace qdltest {

class Machine {
public:
    Machine();
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // Sets the registry value that names the configuration file (kbRTTskCfgIni).
    void set_registry_path(const std::string& path);
    // Removes it.
    void clear_registry_path();

    // The Windows directory, and a scratch directory that is removed with the machine.
    std::string windows_dir() const;
    std::string scratch_dir() const { return scratch_; }

    // The file that the profile functions use for `path` (bare names: Windows directory).
    std::string locate(const std::string& path) const;
    // The default configuration file, tsk_cfg.ini in the Windows directory.
    std::string default_file() const { return locate("tsk_cfg.ini"); }

private:
    std::string scratch_;
    std::string prefix_;  // Linux only
};

// Whole-file helpers; read_file gives "" for a missing file.
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
bool file_exists(const std::string& path);
void remove_file(const std::string& path);

}  // namespace qdltest
