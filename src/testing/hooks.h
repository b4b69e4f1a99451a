// hooks.h - what only the test builds of the core have (the static libraries
// qdl_test_core_<edition>, for tests, fuzz targets and benchmarks): a fresh process's state put
// back, a forced code page and, on Linux, a shorter wait for a file's lock. The shipped
// libraries and qdlcfg are built without them, so nothing a program can call changes any of
// them.
#pragma once

#include <chrono>

namespace qdl {

// Empties every configuration path copy, as a fresh process has them.
void reset_config_paths_for_tests();

}  // namespace qdl

namespace qdl::platform {

// Makes `code_page` the active ANSI code page of this process (932, 936, 949, 950 or a
// single-byte page; 0 gives the system's own on Windows and 1252 on Linux).
void set_code_page_for_tests(unsigned code_page);

#if !defined(_WIN32)
// Makes a writer give up on a lock that another process holds after `limit` instead of the
// store's 30 seconds; a negative limit puts those back.
void set_lock_wait_limit_for_tests(std::chrono::milliseconds limit);
#endif

}  // namespace qdl::platform
