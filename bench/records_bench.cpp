// records_bench.cpp - the record operations on a file of N serial ports (N = 100, 1,000 and
// 10,000, plus the global parameters), beside the physical limit of a text-file store: one
// whole-file read and one whole-file rewrite of the same file.
//
// One source, two builds: linked with the Linux library it measures the project's profile
// store; cross-built and linked with TSKQDL32.dll it runs under wine64 and measures the Win32
// profile functions. bench/compare.sh runs both and sets the results side by side.
//
// Map:
//   native files   native_files.h: read_file, replace_file (temporary file, flush, rename,
//                  directory flush), remove_file, size_of, peak_rss_bytes
//   machine        config_file: where the library keeps its file on this platform (the
//                  default name "tsk_cfg.ini" in the Windows directory)
//   workload       full_port (every field set: 18 keys), port_text / workload_text (the bytes
//                  the library writes for them on this platform), check_workload_format (that
//                  the library writes exactly those bytes), use_workload (the file of N ports)
//   line scan      count_ports: headers and TYPE keys, nothing else (the listing's limit)
//   cases          add, get, get_after_write, delete, list, ref_read, ref_read_scan,
//                  ref_rewrite, ref_rewrite_unflushed (all in real time: the operations wait
//                  for the disk)
//   memory mode    --memory_records=N: one file of N ports, every operation a few times, the
//                  peak resident size against the file's size
//   main
//
// Timed parts: add times QDL_Add_Record of a new port, and deletes it again with the timer
// paused, so the file keeps N ports; delete times QDL_Delete_Record of a random port and adds it
// back with the timer paused; get_after_write writes the global parameters with the timer
// paused, then times one get.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "native_files.h"
#include "workload.h"
#include "tskqdl32.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using bench_workload::full_port;
using bench_workload::port_name;

using namespace bench_files;

// ---- Machine -------------------------------------------------------------------------------

// With no registry value the library uses "tsk_cfg.ini" in the Windows directory. On Linux the
// machine is the prefix directory (TSKQDL32_PREFIX, which main sets when it is not given).
std::string config_file() {
#if defined(_WIN32)
    char dir[MAX_PATH] = {};
    const UINT n = GetWindowsDirectoryA(dir, MAX_PATH);
    return std::string(dir, n < MAX_PATH ? n : 0) + "\\tsk_cfg.ini";
#else
    const std::string prefix = std::getenv("TSKQDL32_PREFIX");
    ::mkdir(prefix.c_str(), 0777);
    ::mkdir((prefix + "/windows").c_str(), 0777);
    return prefix + "/windows/tsk_cfg.ini";
#endif
}

#if !defined(_WIN32)
void use_own_machine() {
    const char* given = std::getenv("TSKQDL32_PREFIX");
    if (given != nullptr && *given != '\0') return;
    char cwd[4096] = {};
    const std::string base = ::getcwd(cwd, sizeof cwd) != nullptr ? cwd : ".";
    ::setenv("TSKQDL32_PREFIX", (base + "/records-bench-machine").c_str(), 1);
}
#endif

// ---- Workload ------------------------------------------------------------------------------

// The file as this platform's profile functions write it: the Win32 functions end lines with
// CR LF, the Linux store with LF in a file it creates.
#if defined(_WIN32)
constexpr std::string_view kEol = "\r\n";
#else
constexpr std::string_view kEol = "\n";
#endif

constexpr const char* kPassword = "Secret42";
constexpr char kScrambleKey[] = "pbzrkdnTpbzrkdnT";
constexpr int kWorkloadSizes[] = {100, 1000, 10000};

GlobalParameters global_parameters(std::int32_t connect_timeout) {
    GlobalParameters g;
    std::memset(&g, 0, sizeof g);
    g.connect_timeout = connect_timeout;
    g.request_timeout = 20000;
    std::snprintf(g.password, sizeof g.password, "%s", kPassword);
    return g;
}

void append_line(std::string& out, std::string_view key, std::string_view value) {
    out.append(key).append("=").append(value).append(kEol);
}

std::string port_text(int i) {
    std::string t = '[' + port_name(i) + ']';
    t.append(kEol);
    append_line(t, "PORT", "COM1");
    append_line(t, "TYPE", "KWT_SERIAL");
    append_line(t, "STOPBITS", "1");
    append_line(t, "PARITY", "EVEN");
    append_line(t, "BAUDRATE", "19200");
    append_line(t, "MODEM_TURN", "1500");
    static constexpr std::array<std::pair<const char*, const char*>, 10> kTimers{{
        {"KWT_T1", "10000"}, {"KWT_T2", "20000"}, {"KWT_T3", "30000"}, {"KWT_T3P", "31000"},
        {"KWT_T3PP", "32000"}, {"KWT_T4", "40000"}, {"KWT_T5", "50000"},
        {"KWT_T5P", "51000"}, {"KWT_T5PP", "52000"}, {"MULTISESS", "YES"}}};
    for (const auto& [key, value] : kTimers) append_line(t, key, value);
    append_line(t, "CONNECT_TIMEOUT", "5000");
    append_line(t, "REQUEST_TIMEOUT", "10000");
    return t;
}

std::string global_text() {
    std::string password(kPassword);
    for (std::size_t i = 0; i < password.size(); ++i) {
        password[i] = static_cast<char>(static_cast<unsigned char>(password[i]) +
                                        static_cast<unsigned char>(kScrambleKey[i % 16]));
    }
    std::string t = "[Global_Parameters]";
    t.append(kEol);
    append_line(t, "CONNECT_TIMEOUT", "5000");
    append_line(t, "REQUEST_TIMEOUT", "20000");
    append_line(t, "PASSWORD", password);
    return t;
}

// The global parameters, then ports 1 to n.
std::string workload_text(int n) {
    std::string t = global_text();
    t.reserve(t.size() + static_cast<std::size_t>(n) * (port_text(1).size() + 1));
    for (int i = 1; i <= n; ++i) t += port_text(i);
    return t;
}

std::string printable(std::string_view s) {
    std::string out;
    for (char c : s) {
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n\n";
        else out += c;
    }
    return out;
}

// The library writes a new file with the global parameters and two ports exactly as
// workload_text describes it; otherwise the generated files would not be what it writes.
bool check_workload_format(const std::string& file) {
    remove_file(file);
    GlobalParameters g = global_parameters(5000);
    bool ok = QDL_Add_Record(RECORD_GLOBAL, &g) == QDL_OK;
    for (int i = 1; i <= 2; ++i) {
        PortRecord r = full_port(port_name(i));
        ok = ok && QDL_Add_Record(RECORD_PORT, &r) == QDL_OK;
    }
    std::string written;
    ok = ok && read_file(file, written);
    const std::string expected = workload_text(2);
    if (ok && written == expected) return true;
    std::fprintf(stderr, "records_bench: the library wrote\n%s\ninstead of\n%s\n",
                 printable(written).c_str(), printable(expected).c_str());
    return false;
}

struct Workload {
    std::string file;
    int ports = 0;       // the file holds the workload of this many ports
    std::string text;    // its bytes as generated
};

Workload& workload() {
    static Workload w;
    return w;
}

bool get_port(const std::string& name, PortRecord& out) {
    return QDL_Get_Record(RECORD_PORT, name.c_str(), &out) == QDL_OK &&
           out.port_type == PORT_KWT_SERIAL && out.kwt_t5pp == 52000;
}

// Makes the configuration file hold the workload of n ports (written natively, replacing the
// file as a whole), unless it already does. False, with the benchmark skipped, on failure.
bool use_workload(benchmark::State& state, int n) {
    Workload& w = workload();
    if (w.ports != n) {
        w.text = workload_text(n);
        if (!replace_file(w.file, w.text)) {
            state.SkipWithError("cannot write the workload file");
            return false;
        }
        w.ports = n;
    }
    PortRecord r;
    if (!get_port(port_name(n), r)) {
        state.SkipWithError("the library does not read the workload file");
        w.ports = 0;
        return false;
    }
    state.counters["file_bytes"] = static_cast<double>(w.text.size());
    return true;
}

// The Win32 functions under Wine keep a parsed copy of a file only once it is 2.1 seconds old
// (a younger file is read again at every call); the Linux store trusts its copy 20 ms after
// the last change. A plain get is measured on a file that nobody has written for a while.
constexpr double kSettleSeconds = 2.5;

void wait_until_settled(const std::string& file) {
    const double age = seconds_since_write(file);
    if (age >= 0 && age < kSettleSeconds) {
        std::this_thread::sleep_for(std::chrono::duration<double>(kSettleSeconds - age));
    }
}

// Random existing ports, the same sequence in both builds.
class PortPicker {
public:
    explicit PortPicker(int n) : pick_(1, n) {}
    std::string next() { return port_name(pick_(rng_)); }

private:
    std::mt19937 rng_{20240601u};
    std::uniform_int_distribution<int> pick_;
};

// ---- Line scan -----------------------------------------------------------------------------

// What a listing must do at least: find each header and each TYPE key with its value. Counts
// the sections whose TYPE is KWT_SERIAL.
int count_ports(std::string_view text) {
    int ports = 0;
    bool in_section = false;
    for (std::size_t pos = 0; pos < text.size();) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(pos, end - pos);
        if (!line.empty() && line.front() == '[') {
            in_section = true;
        } else if (in_section && line.size() >= 5 && line.compare(0, 5, "TYPE=") == 0) {
            std::string_view value = line.substr(5);
            if (!value.empty() && value.back() == '\r') value.remove_suffix(1);
            if (value == "KWT_SERIAL") ++ports;
        }
        pos = end + 1;
    }
    return ports;
}

// ---- Cases ---------------------------------------------------------------------------------

int arg(const benchmark::State& state) { return static_cast<int>(state.range(0)); }

const std::string kNewPort = port_name(0);

void BM_add(benchmark::State& state) {
    if (!use_workload(state, arg(state))) return;
    for (auto _ : state) {
        PortRecord r = full_port(kNewPort);
        const int added = QDL_Add_Record(RECORD_PORT, &r);
        state.PauseTiming();
        const int deleted = QDL_Delete_Record(RECORD_PORT, 0, kNewPort.c_str());
        if (added != QDL_OK || deleted != QDL_OK) {
            state.SkipWithError("add or delete failed");
            break;
        }
        state.ResumeTiming();
    }
}

void BM_get(benchmark::State& state) {
    if (!use_workload(state, arg(state))) return;
    wait_until_settled(workload().file);
    PortPicker picker(arg(state));
    for (auto _ : state) {
        PortRecord r;
        if (!get_port(picker.next(), r)) {
            state.SkipWithError("get failed");
            break;
        }
        benchmark::DoNotOptimize(r);
    }
}

void BM_get_after_write(benchmark::State& state) {
    if (!use_workload(state, arg(state))) return;
    PortPicker picker(arg(state));
    std::int32_t timeout = 5000;
    for (auto _ : state) {
        state.PauseTiming();
        timeout = timeout == 5000 ? 6000 : 5000;  // a write that changes the file
        GlobalParameters g = global_parameters(timeout);
        const int written = QDL_Add_Record(RECORD_GLOBAL, &g);
        state.ResumeTiming();
        PortRecord r;
        if (written != QDL_OK || !get_port(picker.next(), r)) {
            state.SkipWithError("write or get failed");
            break;
        }
        benchmark::DoNotOptimize(r);
    }
}

void BM_delete(benchmark::State& state) {
    if (!use_workload(state, arg(state))) return;
    PortPicker picker(arg(state));
    for (auto _ : state) {
        const std::string name = picker.next();
        const int deleted = QDL_Delete_Record(RECORD_PORT, 0, name.c_str());
        state.PauseTiming();
        PortRecord r = full_port(name);
        const int added = QDL_Add_Record(RECORD_PORT, &r);
        if (deleted != QDL_OK || added != QDL_OK) {
            state.SkipWithError("delete or add failed");
            break;
        }
        state.ResumeTiming();
    }
}

void BM_list(benchmark::State& state) {
    const int n = arg(state);
    if (!use_workload(state, n)) return;
    ListFilter filter;
    std::memset(&filter, 0, sizeof filter);
    std::memcpy(filter.key, "TYPE", 5);
    std::memcpy(filter.value, "KWT_SERIAL", 11);
    std::vector<char> names(static_cast<std::size_t>(n + 1) * QDL_NAME_SIZE);
    for (auto _ : state) {
        unsigned short count = static_cast<unsigned short>(n + 1);
        const int found = QDL_Get_List(&filter, nullptr, names.data(), &count);
        if (found != n || count != n) {
            state.SkipWithError("list failed");
            break;
        }
        benchmark::DoNotOptimize(names.data());
    }
}

void BM_ref_read(benchmark::State& state) {
    if (!use_workload(state, arg(state))) return;
    std::string text;
    for (auto _ : state) {
        if (!read_file(workload().file, text)) {
            state.SkipWithError("read failed");
            break;
        }
        benchmark::DoNotOptimize(text.data());
    }
}

void BM_ref_read_scan(benchmark::State& state) {
    const int n = arg(state);
    if (!use_workload(state, n)) return;
    std::string text;
    for (auto _ : state) {
        if (!read_file(workload().file, text) || count_ports(text) != n) {
            state.SkipWithError("read or scan failed");
            break;
        }
    }
}

void BM_ref_rewrite(benchmark::State& state) {
    if (!use_workload(state, arg(state))) return;
    const std::string copy = workload().file + ".rewrite";
    for (auto _ : state) {
        if (!replace_file(copy, workload().text)) {
            state.SkipWithError("rewrite failed");
            break;
        }
    }
    remove_file(copy);
}

// The same replacement without the flushes: what the store would cost if a crash were allowed
// to lose the last change.
void BM_ref_rewrite_unflushed(benchmark::State& state) {
    if (!use_workload(state, arg(state))) return;
    const std::string copy = workload().file + ".rewrite";
    for (auto _ : state) {
        if (!replace_file(copy, workload().text, false)) {
            state.SkipWithError("rewrite failed");
            break;
        }
    }
    remove_file(copy);
}

#define RECORDS_CASE(fn)                                                                  \
    BENCHMARK(fn)->ArgName("n")->Arg(kWorkloadSizes[0])->Arg(kWorkloadSizes[1])->Arg(     \
        kWorkloadSizes[2])->Unit(benchmark::kMicrosecond)->UseRealTime()

RECORDS_CASE(BM_add);
RECORDS_CASE(BM_get);
RECORDS_CASE(BM_get_after_write);
RECORDS_CASE(BM_delete);
RECORDS_CASE(BM_list);
RECORDS_CASE(BM_ref_read);
RECORDS_CASE(BM_ref_read_scan);
RECORDS_CASE(BM_ref_rewrite);
RECORDS_CASE(BM_ref_rewrite_unflushed);

// ---- Memory mode ---------------------------------------------------------------------------

// Writes the file of n ports a record at a time (the program never holds the whole text),
// works on it, and prints the peak resident size against the file's size.
bool write_ports_streaming(const std::string& file, int n) {
    const std::string temp = file + ".bench-gen";
    std::FILE* out = std::fopen(temp.c_str(), "wb");
    if (out == nullptr) return false;
    bool ok = std::fputs(global_text().c_str(), out) >= 0;
    for (int i = 1; i <= n && ok; ++i) ok = std::fputs(port_text(i).c_str(), out) >= 0;
    ok = std::fclose(out) == 0 && ok;
    remove_file(file);
    return ok && std::rename(temp.c_str(), file.c_str()) == 0;
}

bool memory_gets(PortPicker& picker) {
    bool ok = true;
    for (int i = 0; i < 20 && ok; ++i) {
        PortRecord r;
        ok = get_port(picker.next(), r);
    }
    return ok;
}

bool memory_writes(PortPicker& picker) {
    bool ok = true;
    for (int i = 0; i < 3 && ok; ++i) {
        PortRecord r = full_port(kNewPort);
        ok = QDL_Add_Record(RECORD_PORT, &r) == QDL_OK &&
             QDL_Delete_Record(RECORD_PORT, 0, kNewPort.c_str()) == QDL_OK;
        GlobalParameters g = global_parameters(6000 + i);
        PortRecord got;
        ok = ok && QDL_Add_Record(RECORD_GLOBAL, &g) == QDL_OK && get_port(picker.next(), got);
    }
    return ok;
}

bool memory_list(int n) {
    ListFilter filter;
    std::memset(&filter, 0, sizeof filter);
    std::memcpy(filter.key, "TYPE", 5);
    unsigned short count = 0;
    return QDL_Get_List(&filter, nullptr, nullptr, &count) == n;
}

// Prints the peak resident size after each phase (gets, writes, list); the last one is the
// peak of the whole run.
int memory_check(const std::string& file, int n) {
    const long long before = peak_rss_bytes();
    if (!write_ports_streaming(file, n)) return 1;
    const long long file_size = size_of(file);
    if (file_size <= 0) return 1;
    PortPicker picker(n);
    bool ok = memory_gets(picker);
    const long long after_get = peak_rss_bytes();
    ok = ok && memory_writes(picker);
    const long long after_write = peak_rss_bytes();
    ok = ok && memory_list(n);
    const long long peak = peak_rss_bytes();
    std::printf("memory records=%d file_bytes=%lld peak_rss_before_bytes=%lld "
                "peak_rss_after_get_bytes=%lld peak_rss_after_write_bytes=%lld "
                "peak_rss_bytes=%lld ratio=%.2f ok=%d\n",
                n, file_size, before, after_get, after_write, peak,
                static_cast<double>(peak) / static_cast<double>(file_size), ok ? 1 : 0);
    remove_file(file);
    return ok ? 0 : 1;
}

// "--memory_records=N": N, or 0 when the flag is not among the arguments (which it then
// leaves to the benchmark library).
int take_memory_flag(int& argc, char** argv) {
    constexpr std::string_view kFlag = "--memory_records=";
    int records = 0;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a(argv[i]);
        if (a.substr(0, kFlag.size()) == kFlag) {
            records = std::atoi(argv[i] + kFlag.size());
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    return records;
}

}  // namespace

int main(int argc, char** argv) {
#if !defined(_WIN32)
    use_own_machine();
#endif
    workload().file = config_file();
    if (const int records = take_memory_flag(argc, argv); records > 0) {
        return memory_check(workload().file, records);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    if (!check_workload_format(workload().file)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    remove_file(workload().file);
    return 0;
}
