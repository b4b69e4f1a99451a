// listing_bench.cpp - the time of one listing over a file of 10,000 serial ports, each with TYPE
// and 17 other keys, filtered on TYPE.
//
//   BM_GetList            QDL_Get_List: open, read, scan, filter, release (the whole call)
//   BM_GetListTwoFilters  the same with a second filter (PORT=COM3) that a quarter satisfy
//   BM_ScanText           the scanner alone over the same bytes in memory
//
// The file is written as the profile functions write it ("KEY=value" lines under "[name]"),
// as the default file tsk_cfg.ini of the Windows directory.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "listing/scanner.h"
#include "platform/platform.h"
#include "tskqdl32.h"

namespace {

namespace fs = std::filesystem;

constexpr int kSections = 10000;

std::string serial_ports() {
    static const char* const kTimers[] = {"KWT_T1", "KWT_T2",  "KWT_T3",  "KWT_T3P", "KWT_T3PP",
                                          "KWT_T4", "KWT_T5", "KWT_T5P", "KWT_T5PP"};
    std::string text;
    for (int i = 0; i < kSections; ++i) {
        text += "[SerialPort" + std::to_string(i) + "]\n";
        text += "PORT=COM" + std::to_string(i % 4 + 1) + "\n";
        text += "TYPE=KWT_SERIAL\nSTOPBITS=1\nPARITY=EVEN\nBAUDRATE=9600\nMODEM_TURN=200\n";
        for (const char* timer : kTimers) {
            text += std::string(timer) + "=" + std::to_string(100 + i % 50) + "\n";
        }
        text += "MULTISESS=NO\nCONNECT_TIMEOUT=3000\nREQUEST_TIMEOUT=5000\n";
    }
    return text;
}

// The file as tsk_cfg.ini in the Windows directory. On Linux that directory lies in a machine
// prefix of the benchmark's own, removed at the end; on Windows it is the real one, whose
// earlier tsk_cfg.ini (if any) is put back at the end.
class Machine {
public:
    Machine() {
#if defined(_WIN32)
        file_ = qdl::platform::locate_file("tsk_cfg.ini");
        std::error_code ec;
        had_file_ = fs::exists(file_, ec);
        if (had_file_) fs::copy_file(file_, file_ + ".listing-bench", ec);
#else
        prefix_ = fs::temp_directory_path() / ("qdl-bench-" + std::to_string(std::rand()));
        fs::create_directories(prefix_ / "windows");
        setenv("TSKQDL32_PREFIX", prefix_.c_str(), 1);
        file_ = qdl::platform::locate_file("tsk_cfg.ini");
#endif
        text_ = serial_ports();
        std::ofstream(file_, std::ios::binary) << text_;
    }
    ~Machine() {
        std::error_code ec;
#if defined(_WIN32)
        fs::remove(file_, ec);
        if (had_file_) fs::rename(file_ + ".listing-bench", file_, ec);
#else
        fs::remove_all(prefix_, ec);
#endif
    }
    const std::string& text() const { return text_; }

private:
    std::string file_;
    std::string text_;
#if defined(_WIN32)
    bool had_file_ = false;
#else
    fs::path prefix_;
#endif
};

Machine& machine() {
    static Machine m;
    return m;
}

ListFilter filter(const char* key, const char* value) {
    ListFilter f{};
    std::snprintf(f.key, sizeof f.key, "%s", key);
    std::snprintf(f.value, sizeof f.value, "%s", value);
    return f;
}

void run_listing(benchmark::State& state, const ListFilter* second, int expected) {
    machine();
    const ListFilter type = filter("TYPE", "KWT_SERIAL");
    std::vector<char> names(std::size_t{kSections} * 66);
    for (auto _ : state) {
        unsigned short count = kSections;
        const int result = QDL_Get_List(&type, second, names.data(), &count);
        if (result != expected) state.SkipWithError("unexpected listing result");
        benchmark::DoNotOptimize(names.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(machine().text().size()));
}

void BM_GetList(benchmark::State& state) { run_listing(state, nullptr, kSections); }

void BM_GetListTwoFilters(benchmark::State& state) {
    const ListFilter com3 = filter("PORT", "COM3");
    run_listing(state, &com3, kSections / 4);
}

void BM_ScanText(benchmark::State& state) {
    const std::string& text = machine().text();
    for (auto _ : state) {
        qdl::SectionList list;
        if (qdl::scan_text(text, list) != QDL_OK) state.SkipWithError("scan failed");
        benchmark::DoNotOptimize(list.first);
        qdl::free_section_list(list);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(text.size()));
}

}  // namespace

BENCHMARK(BM_GetList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetListTwoFilters)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanText)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
