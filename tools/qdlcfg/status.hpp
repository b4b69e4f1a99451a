// status.hpp - the library's status codes in words, and the tool's exit codes.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace qdlcfg {

// Exit codes of every verb (also in qdlcfg.1 and README.md).
enum ExitCode : int {
    kExitOk = 0,       // success; check: the file is clean
    kExitRefused = 1,  // not found, or refused (library status, import, check findings)
    kExitUsage = 2,    // bad command line or option value
    kExitFile = 3,     // configuration file, import document or output cannot be read/written
    kExitInvalid = 4,  // import document invalid: nothing was written
    kExitFailure = 5,  // unexpected library status or internal error
};

struct StatusInfo {
    int code;
    std::string_view name;
    std::string_view meaning;
};

// The name and meaning of a status code (a made-up entry for codes the header does not list).
StatusInfo status_info(int status);

// "status -15 QDL_ERR_NOT_FOUND (the record is not present)"
std::string describe_status(int status);

// The exit code for a failing library status.
int exit_code_for(int status);

// A failure that ends the verb: main prints "qdlcfg: <verb>: <message>" and exits with code().
class Failure : public std::runtime_error {
public:
    Failure(int exit_code, const std::string& message)
        : std::runtime_error(message), code_(exit_code) {}
    int code() const { return code_; }

private:
    int code_;
};

[[noreturn]] void fail_status(std::string_view what, int status);
[[noreturn]] void fail_usage(const std::string& message);

}  // namespace qdlcfg
