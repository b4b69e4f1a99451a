// hooks.h - what only the test builds of the core have (the static libraries
// qdl_test_core_<edition>, for tests, fuzz targets and benchmarks): a fresh process's state put
// back, and a forced code page. The shipped libraries and qdlcfg are built without them, so
// nothing a program can call changes either.
#pragma once

namespace qdl {

// Empties every configuration path copy, as a fresh process has them.
void reset_config_paths_for_tests();

}  // namespace qdl

namespace qdl::platform {

// Makes `code_page` the active ANSI code page of this process (932, 936, 949, 950 or a
// single-byte page; 0 gives the system's own on Windows and 1252 on Linux).
void set_code_page_for_tests(unsigned code_page);

}  // namespace qdl::platform
