// location.hpp - where the configuration file is, as `qdlcfg where` reports it.
//
// Every answer comes from the library's own functions (the static core linked into the tool):
// the prefix, the registry file and the code page of the Linux stand-ins, and the path rule of
// the library's path copies. The tool and the library cannot disagree about the file.
#pragma once

#include <string>

namespace qdlcfg {

struct Location {
    std::string prefix;
    std::string prefix_source;  // "TSKQDL32_PREFIX", "HOME" or "password database"
    std::string registry_file;
    std::string windows_dir;
    bool registered = false;    // the registry value names the file
    bool given = false;         // --file names it (no registry value is looked up)
    std::string registry_note;  // why the default name is used, when it is
    std::string configured;     // the path as the library holds it
    std::string file;           // the file it opens (bare names in the Windows directory)
    unsigned code_page = 1252;  // the active ANSI code page
};

Location locate();

// Points every call of this process at one configuration file, as --file does: no registry
// value is looked up. A name without a directory is taken in the current directory (the
// library would look for it in the Windows directory). Failure (usage) when the path does not
// fit the library's 260-byte path. Call before anything reads the file.
void use_config_file(const std::string& path);

// --legacy: the library's core runs the legacy library's rules on the legacy library's file
// (or --file's). Call after use_config_file, before anything reads the file.
void use_legacy_library();

// The file the legacy library uses: tsk_cfg.ini in the Windows directory, whatever the registry.
std::string legacy_file();

// The library's path copies, for a look at another file and back (where compares the current
// library's file with the legacy one). Nothing may be open in a session meanwhile.
std::string configured_path();
void set_configured_path(const std::string& path);

// Reads the whole configuration file into text. False when it cannot be opened (missing,
// unreadable, or not a regular file: a FIFO is never waited on).
bool read_config_file(const std::string& file, std::string& text);

// What the configuration file's path holds, as the tool's calls see it: nothing (the library
// reads that as an empty file), a file that opens for reading, or something that does not
// (unreadable, a directory, a FIFO: the library's reads find nothing there, its listing fails).
enum class FileState { Missing, Readable, Unopenable };
FileState config_file_state(const std::string& file);

}  // namespace qdlcfg
