// scale_host.cpp - one process of bench/scale.sh on the host's side: what a program linked to
// libtskqdl32.so does with a large configuration file, and the yardsticks beside it. Each mode
// is one short process that scale.sh times from outside (wall clock, peak resident size); the
// warm mode times its own operations.
//
//   scale_host file N PATH [KEYS] writes the global parameters and N serial ports P000001...
//                                 as the Linux store writes them (LF): every field set (KEYS
//                                 18, 270 bytes a port), or KEYS 13 without KWT_T3P, KWT_T3PP,
//                                 KWT_T5P, KWT_T5PP and MULTISESS (189 bytes a port)
//   scale_host get NAME           QDL_Get_Record of port NAME: a host's first get (load, one get)
//   scale_host add NAME           QDL_Add_Record of a new port NAME: a host's first write
//   scale_host read-scan PATH     the file read into memory and its line breaks found (memchr)
//   scale_host read-rewrite PATH  the file read, then replaced by its own bytes once: temporary
//                                 file, write, fsync, rename, fsync of the directory
//   scale_host warm N ROUNDS      on the configuration file (N ports): one get to load it, then
//                                 ROUNDS times an add of a new port, its delete, and one flushed
//                                 rewrite of the file; prints the median ms of each
// The configuration file is tsk_cfg.ini in the Windows directory of TSKQDL32_PREFIX.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "native_files.h"
#include "workload.h"
#include "tskqdl32.h"

namespace {

using bench_workload::full_port;
using bench_workload::port_name;

using namespace bench_files;
using Clock = std::chrono::steady_clock;

// The bytes the store writes for the global parameters (no password) and ports 1 to n, with
// all 18 keys or the 13 that leave out the optional timers and MULTISESS.
bool optional_key(std::string_view key) {
    return key == "KWT_T3P" || key == "KWT_T3PP" || key == "KWT_T5P" || key == "KWT_T5PP" ||
           key == "MULTISESS";
}

std::string workload_text(int n, int keys) {
    std::string t = "[Global_Parameters]\nCONNECT_TIMEOUT=5000\nREQUEST_TIMEOUT=20000\n";
    static constexpr std::array<std::pair<const char*, const char*>, 18> kKeys{{
        {"PORT", "COM1"}, {"TYPE", "KWT_SERIAL"}, {"STOPBITS", "1"}, {"PARITY", "EVEN"},
        {"BAUDRATE", "19200"}, {"MODEM_TURN", "1500"}, {"KWT_T1", "10000"},
        {"KWT_T2", "20000"}, {"KWT_T3", "30000"}, {"KWT_T3P", "31000"}, {"KWT_T3PP", "32000"},
        {"KWT_T4", "40000"}, {"KWT_T5", "50000"}, {"KWT_T5P", "51000"}, {"KWT_T5PP", "52000"},
        {"MULTISESS", "YES"}, {"CONNECT_TIMEOUT", "5000"}, {"REQUEST_TIMEOUT", "10000"}}};
    t.reserve(t.size() + static_cast<std::size_t>(n) * 272);
    for (int i = 1; i <= n; ++i) {
        t.append("[").append(port_name(i)).append("]\n");
        for (const auto& [key, value] : kKeys) {
            if (keys < 18 && optional_key(key)) continue;
            t.append(key).append("=").append(value).append("\n");
        }
    }
    return t;
}

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

int fail(const char* what) {
    std::fprintf(stderr, "scale_host: %s\n", what);
    return 1;
}

std::string config_file() {
    const char* prefix = std::getenv("TSKQDL32_PREFIX");
    return std::string(prefix != nullptr ? prefix : ".") + "/windows/tsk_cfg.ini";
}

int read_scan(const std::string& path) {
    std::string text;
    if (!read_file(path, text)) return fail("cannot read the file");
    std::size_t lines = 0;
    for (const char* p = text.data(); const char* end = text.data() + text.size(); ++lines) {
        const void* nl = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
        if (nl == nullptr) break;
        p = static_cast<const char*>(nl) + 1;
    }
    return lines > 0 ? 0 : 1;
}

int warm(int n, int rounds) {
    const std::string file = config_file();
    std::string text;
    if (!read_file(file, text)) return fail("cannot read the configuration file");
    PortRecord r;
    if (QDL_Get_Record(RECORD_PORT, port_name(n).c_str(), &r) != QDL_OK) {
        return fail("the file does not hold the ports");
    }
    const std::string copy = file + ".rewrite";
    std::vector<double> add, del, rewrite;
    for (int i = 0; i < rounds; ++i) {
        PortRecord p = full_port(port_name(n + 1 + i));
        Clock::time_point start = Clock::now();
        if (QDL_Add_Record(RECORD_PORT, &p) != QDL_OK) return fail("add failed");
        add.push_back(ms_since(start));
        start = Clock::now();
        if (QDL_Delete_Record(RECORD_PORT, 0, p.name) != QDL_OK) return fail("delete failed");
        del.push_back(ms_since(start));
        start = Clock::now();
        if (!replace_file(copy, text)) return fail("rewrite failed");
        rewrite.push_back(ms_since(start));
    }
    remove_file(copy);
    std::printf("add %.3f\ndelete %.3f\nrewrite %.3f\n", median(add), median(del),
                median(rewrite));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "file" && (argc == 4 || argc == 5)) {
        const int keys = argc == 5 ? std::atoi(argv[4]) : 18;
        return write_file(argv[3], workload_text(std::atoi(argv[2]), keys)) ? 0
                                                                             : fail("write failed");
    }
    if (mode == "get" && argc == 3) {
        PortRecord r;
        return QDL_Get_Record(RECORD_PORT, argv[2], &r) == QDL_OK && r.kwt_t5 == 50000
                   ? 0
                   : fail("get failed");
    }
    if (mode == "add" && argc == 3) {
        PortRecord r = full_port(argv[2]);
        return QDL_Add_Record(RECORD_PORT, &r) == QDL_OK ? 0 : fail("add failed");
    }
    if (mode == "read-scan" && argc == 3) return read_scan(argv[2]);
    if (mode == "read-rewrite" && argc == 3) {
        std::string text;
        return read_file(argv[2], text) && replace_file(argv[2], text) ? 0 : fail("failed");
    }
    if (mode == "warm" && argc == 4) return warm(std::atoi(argv[2]), std::atoi(argv[3]));
    return fail("usage: scale_host file N PATH [KEYS] | get NAME | add NAME | read-scan PATH | "
                "read-rewrite PATH | warm N ROUNDS");
}
