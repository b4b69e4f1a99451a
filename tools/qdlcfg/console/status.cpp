// status.cpp - status code names and meanings (from tskqdl32.h) and the exit code table.
#include "console/status.hpp"

#include "tskqdl32.h"

#include <cstring>

#include "platform/platform.h"

namespace qdlcfg {

namespace {

constexpr StatusInfo kStatuses[] = {
    {QDL_OK, "QDL_OK", "success"},
    {QDL_ERR_BAD_TYPE, "QDL_ERR_BAD_TYPE", "record kind unknown to this library"},
    {QDL_ERR_NULL_ARG, "QDL_ERR_NULL_ARG", "a required pointer is null"},
    {QDL_ERR_BAD_ADDRESS_KIND, "QDL_ERR_BAD_ADDRESS_KIND", "device address kind not 1..6"},
    {QDL_ERR_EXISTS, "QDL_ERR_EXISTS", "the record to add is already present"},
    {QDL_ERR_BAD_VALUE, "QDL_ERR_BAD_VALUE", "a value outside its allowed set"},
    {QDL_ERR_NO_MEMORY, "QDL_ERR_NO_MEMORY", "memory ran out"},
    {QDL_ERR_BAD_KWT_ID, "QDL_ERR_BAD_KWT_ID",
     "KWT id begins with neither letter nor digit, not \"<NULL>\""},
    {QDL_ERR_BAD_NAME, "QDL_ERR_BAD_NAME", "record name does not begin with a letter"},
    {QDL_ERR_BAD_PORT_TYPE, "QDL_ERR_BAD_PORT_TYPE",
     "port type not 1..5, or unknown TYPE word in the file"},
    {QDL_ERR_BAD_PORT_NAME, "QDL_ERR_BAD_PORT_NAME", "serial port name given but not COM1..COM4"},
    {QDL_ERR_BAD_DEFAULT_PORT, "QDL_ERR_BAD_DEFAULT_PORT",
     "device default port does not begin with a letter"},
    {QDL_ERR_EMPTY_FILTER, "QDL_ERR_EMPTY_FILTER", "a list filter with an empty key"},
    {QDL_ERR_NOT_FOUND, "QDL_ERR_NOT_FOUND", "the record is not present"},
    {QDL_ERR_FILE, "QDL_ERR_FILE", "the configuration file could not be read or written"},
};

}  // namespace

StatusInfo status_info(int status) {
    for (const auto& s : kStatuses) {
        if (s.code == status) return s;
    }
    return {status, "unknown status", "a code the library does not document"};
}

std::string describe_status(int status) {
    const StatusInfo info = status_info(status);
    return "status " + std::to_string(status) + " " + std::string(info.name) + " (" +
           std::string(info.meaning) + ")";
}

int exit_code_for(int status) {
    switch (status) {
    case QDL_OK: return kExitOk;
    case QDL_ERR_EMPTY_FILTER: return kExitUsage;
    case QDL_ERR_FILE: return kExitFile;
    case QDL_ERR_BAD_TYPE:
    case QDL_ERR_NULL_ARG:
    case QDL_ERR_NO_MEMORY: return kExitFailure;
    default: return status < 0 ? kExitRefused : kExitFailure;
    }
}

std::string write_failure_reason() {
    using Step = qdl::platform::WriteFailure::Step;
    const qdl::platform::WriteFailure f = qdl::platform::last_write_failure();
    const std::string reason = std::strerror(f.error);
    switch (f.step) {
    case Step::None: return "";
    case Step::LockWait:
        return "another process holds the lock on " + f.path + " (waited " +
               "the whole wait limit; see --wait)";
    case Step::Folder: return "cannot make the folder " + f.path + ": " + reason;
    case Step::LockFile: return "cannot open the lock file " + f.path + ": " + reason;
    case Step::Read: return "cannot read " + f.path + ": " + reason;
    case Step::Temporary: return "cannot write beside " + f.path + ": " + reason;
    case Step::Write: return "cannot write " + f.path + ": " + reason;
    case Step::Replace: return "cannot replace " + f.path + ": " + reason;
    }
    return "";
}

void fail_status(std::string_view what, int status) {
    std::string message = std::string(what) + ": " + describe_status(status);
    if (status == QDL_ERR_FILE) {
        if (const std::string why = write_failure_reason(); !why.empty()) message += ": " + why;
    }
    throw Failure(exit_code_for(status), message, status);
}

void fail_usage(const std::string& message, std::optional<int> status) {
    throw Failure(kExitUsage, message, status);
}

}  // namespace qdlcfg
