// profile_store_bench.cpp - the Linux profile store on a file of 10,000 sections of 18 keys
// (about 180,000 lines, 3.4 MB), the largest configuration the library is expected to meet.
//
//   BM_ParseText          parsing the whole text in memory (what a changed file costs)
//   BM_ReadValue          one keyed read outside a call: one stat, one section lookup
//   BM_ReadRecord         one read call: a record's 18 keys in one CallScope(Read)
//   BM_ReadKeyNames       the key list of one section (the record-exists probe of some kinds)
//   BM_WriteCallNoChange  a write call whose write changes nothing: lock, stat, no replacement
//   BM_WriteCall          a write call that changes one value: lock, edit, one replacement
//                         (write, fsync, rename, directory fsync)
//
// Reads must not grow with the file: BM_ReadValue and BM_ReadRecord stay flat between the
// 1,000- and 10,000-section arguments.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/platform.h"
#include "platform/posix/ini_text.h"

namespace {

namespace fs = std::filesystem;
using qdl::platform::Access;
using qdl::platform::CallScope;

std::string config_text(int sections) {
    std::string text;
    for (int i = 0; i < sections; ++i) {
        const std::string n = std::to_string(i);
        text += "[Device" + n + "]\n";
        for (int k = 0; k < 18; ++k) text += "KEY_" + std::to_string(k) + "=value" + n + "\n";
    }
    return text;
}

// A temporary directory holding the file; its time stamps are set in the past so that the
// cached copy is trusted from the first validation on.
class File {
public:
    explicit File(int sections) {
        dir_ = fs::temp_directory_path() / ("qdl-store-bench-" + std::to_string(std::rand()));
        fs::create_directories(dir_);
        path_ = (dir_ / "big.ini").string();
        std::ofstream(path_, std::ios::binary) << config_text(sections);
        age();
    }
    ~File() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    void age() const {
        const timespec past[2] = {{1000000000, 0}, {1000000000, 0}};
        utimensat(AT_FDCWD, path_.c_str(), past, 0);
    }
    const char* path() const { return path_.c_str(); }

private:
    fs::path dir_;
    std::string path_;
};

void BM_ParseText(benchmark::State& state) {
    const std::string text = config_text(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(qdl::platform::ini::parse(text));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ParseText)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_ReadValue(benchmark::State& state) {
    const int sections = static_cast<int>(state.range(0));
    File file(sections);
    char buf[66];
    int i = 0;
    for (auto _ : state) {
        const std::string section = "DEVICE" + std::to_string(i++ * 7919 % sections);
        qdl::platform::profile_get_string(section.c_str(), "key_17", "?", buf, sizeof buf,
                                          file.path());
        benchmark::DoNotOptimize(buf);
    }
}
BENCHMARK(BM_ReadValue)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

void BM_ReadRecord(benchmark::State& state) {
    const int sections = static_cast<int>(state.range(0));
    File file(sections);
    char buf[66];
    int i = 0;
    for (auto _ : state) {
        const std::string section = "Device" + std::to_string(i++ * 7919 % sections);
        CallScope scope(Access::Read);
        for (int k = 0; k < 18; ++k) {
            const std::string key = "KEY_" + std::to_string(k);
            qdl::platform::profile_get_string(section.c_str(), key.c_str(), "?", buf, sizeof buf,
                                              file.path());
        }
        benchmark::DoNotOptimize(buf);
        scope.finish();
    }
}
BENCHMARK(BM_ReadRecord)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

void BM_ReadKeyNames(benchmark::State& state) {
    File file(10000);
    char buf[66];
    int i = 0;
    for (auto _ : state) {
        const std::string section = "Device" + std::to_string(i++ * 7919 % 10000);
        qdl::platform::profile_get_string(section.c_str(), nullptr, "?", buf, sizeof buf,
                                          file.path());
        benchmark::DoNotOptimize(buf);
    }
}
BENCHMARK(BM_ReadKeyNames)->Unit(benchmark::kMicrosecond);

void BM_WriteCallNoChange(benchmark::State& state) {
    File file(10000);
    for (auto _ : state) {
        CallScope scope(Access::Write);
        qdl::platform::profile_write_string("Device5000", "KEY_3", "value5000", file.path());
        scope.finish();
    }
}
BENCHMARK(BM_WriteCallNoChange)->Unit(benchmark::kMicrosecond);

void BM_WriteCall(benchmark::State& state) {
    File file(10000);
    int i = 0;
    for (auto _ : state) {
        CallScope scope(Access::Write);
        qdl::platform::profile_write_string("Device5000", "KEY_3", std::to_string(i++).c_str(),
                                            file.path());
        scope.finish();
    }
}
BENCHMARK(BM_WriteCall)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
