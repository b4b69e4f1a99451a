// status.hpp - the library's status codes in words, and the tool's exit codes.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

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
// status() is the library's status when the failure came from it. details() are further lines
// (the problems of a document, the records an export left out): printed before the message,
// or under --json appended to it, so that an error stays one JSON object.
class Failure : public std::runtime_error {
public:
    Failure(int exit_code, const std::string& message, std::optional<int> status = std::nullopt,
            std::vector<std::string> details = {})
        : std::runtime_error(message), code_(exit_code), status_(status),
          details_(std::move(details)) {}
    int code() const { return code_; }
    std::optional<int> status() const { return status_; }
    const std::vector<std::string>& details() const { return details_; }

private:
    int code_;
    std::optional<int> status_;
    std::vector<std::string> details_;
};

// Why the last write failed, as the system said it (the path and its reason), or "" when no
// write failed. fail_status adds it to a QDL_ERR_FILE.
std::string write_failure_reason();
[[noreturn]] void fail_status(std::string_view what, int status);
[[noreturn]] void fail_usage(const std::string& message,
                             std::optional<int> status = std::nullopt);

}  // namespace qdlcfg
