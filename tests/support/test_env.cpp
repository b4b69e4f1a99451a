// test_env.cpp - see test_env.h.
#include "support/test_env.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "frame/frame.h"
#include "platform/platform.h"
#include "testing/hooks.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace qdltest {

namespace {

std::string make_scratch() {
    const fs::path base = fs::temp_directory_path();
    for (int i = 0; i < 1000; ++i) {
        fs::path p = base / ("qdltest-" + std::to_string(std::rand()) + "-" + std::to_string(i));
        std::error_code ec;
        if (fs::create_directory(p, ec)) return p.string();
    }
    throw std::runtime_error("cannot create a scratch directory");
}

#if defined(_WIN32)
const char kKey[] = "SOFTWARE\\Brenvik\\Fieldloom\\Configuration";
#endif

}  // namespace

Machine::Machine() {
    std::srand(static_cast<unsigned>(std::random_device{}()));
    scratch_ = make_scratch();
#if defined(_WIN32)
    clear_registry_path();
    remove_file(default_file());
#else
    prefix_ = scratch_ + "/prefix";
    fs::create_directories(prefix_ + "/windows");
    setenv("TSKQDL32_PREFIX", prefix_.c_str(), 1);
#endif
    qdl::reset_config_paths_for_tests();
}

Machine::~Machine() {
#if defined(_WIN32)
    clear_registry_path();
    remove_file(default_file());
#endif
    std::error_code ec;
    fs::permissions(scratch_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(scratch_, ec);
}

void Machine::set_registry_path(const std::string& path) {
#if defined(_WIN32)
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        throw std::runtime_error("cannot create the registry key");
    }
    RegSetValueExA(key, "kbRTTskCfgIni", 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(path.c_str()),
                   static_cast<DWORD>(path.size() + 1));
    RegCloseKey(key);
#else
    write_file(prefix_ + "/registry.ini",
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brenvik\\Fieldloom\\Configuration]\n"
               "kbRTTskCfgIni=" + path + "\n");
#endif
}

void Machine::clear_registry_path() {
#if defined(_WIN32)
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, "kbRTTskCfgIni");
        RegCloseKey(key);
    }
#else
    remove_file(prefix_ + "/registry.ini");
#endif
}

std::string Machine::windows_dir() const { return qdl::platform::windows_directory(); }

std::string Machine::locate(const std::string& path) const {
    return qdl::platform::locate_file(path.c_str());
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path);
    out << bytes;
}

bool file_exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

void remove_file(const std::string& path) {
    std::error_code ec;
    fs::remove(path, ec);
}

}  // namespace qdltest
