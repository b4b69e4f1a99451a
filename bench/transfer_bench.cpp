// transfer_bench.cpp - qdlcfg import and apply of a document of N serial ports (N = 1,000 and
// 10,000, plus the global parameters), beside what they cannot avoid: parsing the document,
// one flushed whole-file replacement of the configuration file, one whole-file read of it.
//
// The verbs run in-process, as the tool's main runs them (run_import, run_apply of the
// qdlcfg_verbs library), with stdout and stderr sent to /dev/null while they run: the report
// is rendered and written as it would be to a pipe. Linux only, as qdlcfg is.
//
// Map:
//   files          native_files.h: read_file, write_file, replace_file (temporary file, fsync,
//                  rename, fsync of the directory: what the store does once per batch);
//                  file_identity
//   machines       Machine: a fresh prefix directory per iteration (TSKQDL32_PREFIX), so each
//                  verb meets the library with no parsed copy of its file, as a new qdlcfg
//                  process does; removed again with the timer stopped
//   workload       port_record, document_text (the JSON of an export of N ports), Workload
//                  (the document, its file, and the configuration file an import of it
//                  leaves), use_workload
//   quiet          Quiet: stdout and stderr to /dev/null around a verb
//   cases          import, apply_unchanged, ref_parse, ref_rewrite, ref_read; each times only
//                  its operation (manual time from a steady clock), setup and checks outside
//   main
//
// bench/transfer.sh builds the program, runs it with repetitions and prints the medians, the
// ratios and the targets.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include <benchmark/benchmark.h>

#include "native_files.h"
#include "tool_workload.h"
#include "qdlcfg/verbs/commands.hpp"
#include "qdlcfg/document/document.hpp"
#include "qdlcfg/document/reconcile.hpp"
#include "qdlcfg/console/status.hpp"
#include "tskqdl32.h"

namespace {

namespace fs = std::filesystem;
using qdlcfg::Json;
using qdlcfg::Kind;
using namespace bench_files;
using bench_workload::port_name;
using bench_workload::port_record;

// ---- Files ---------------------------------------------------------------------------------

// Device, inode and modification time: a file replaced or rewritten has another.
struct Identity {
    dev_t dev = 0;
    ino_t ino = 0;
    timespec mtime{};
    bool operator==(const Identity& o) const {
        return dev == o.dev && ino == o.ino && mtime.tv_sec == o.mtime.tv_sec &&
               mtime.tv_nsec == o.mtime.tv_nsec;
    }
};

bool file_identity(const std::string& path, Identity& out) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    out = {st.st_dev, st.st_ino, st.st_mtim};
    return true;
}

// ---- Machines ------------------------------------------------------------------------------

// Where the machines live: $TRANSFER_BENCH_DIR, else transfer-bench-machines in the working
// directory (the build directory, as bench/transfer.sh runs the program).
const fs::path& base_dir() {
    static const fs::path base = [] {
        const char* given = std::getenv("TRANSFER_BENCH_DIR");
        return given != nullptr && *given != '\0' ? fs::path(given)
                                                  : fs::current_path() / "transfer-bench-machines";
    }();
    return base;
}

// A new prefix with its Windows directory and an empty configuration file, made the library's
// machine (TSKQDL32_PREFIX); removed when the Machine goes.
class Machine {
public:
    Machine() {
        static int serial = 0;
        prefix_ = base_dir() / ("machine-" + std::to_string(++serial));
        std::error_code ec;
        fs::remove_all(prefix_, ec);
        fs::create_directories(prefix_ / "windows", ec);
        file_ = (prefix_ / "windows" / "tsk_cfg.ini").string();
        ok_ = !ec && write_file(file_, "") &&
              ::setenv("TSKQDL32_PREFIX", prefix_.c_str(), 1) == 0;
    }
    ~Machine() {
        std::error_code ec;
        fs::remove_all(prefix_, ec);
    }
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    bool ok() const { return ok_; }
    const std::string& file() const { return file_; }

private:
    fs::path prefix_;
    std::string file_;
    bool ok_ = false;
};

// ---- Workload ------------------------------------------------------------------------------

constexpr int kSizes[] = {1000, 10000};


// The document an export of the global parameters (two time-outs, no password) and N such
// ports gives.
std::string document_text(int n) {
    Json doc = Json::object();
    doc["format"] = "tskqdl32-configuration";
    doc["version"] = 1;
    Json ports = Json::array();
    for (int i = 1; i <= n; ++i) {
        qdlcfg::Record r(Kind::Port);
        if (!port_record(i, 18, r)) return {};
        ports.push_back(qdlcfg::record_to_json(r, qdlcfg::JsonStyle::Export));
    }
    doc["ports"] = std::move(ports);
    doc["devices"] = Json::array();
    doc["modems"] = Json::array();
    doc["global"] = {{"connect_timeout", 5000}, {"request_timeout", 20000}};
    return doc.dump(2) + "\n";
}

struct Workload {
    std::string document;       // the JSON text
    std::string document_file;  // ... as a file, for the verbs
    std::string config;         // the configuration file an import of it into an empty file leaves
    std::string reference_dir;  // the reference cases' files
};

// stdout and stderr go to /dev/null while a verb runs (its report, a progress bar).
class Quiet {
public:
    Quiet() {
        std::fflush(stdout);
        std::fflush(stderr);
        saved_out_ = ::dup(STDOUT_FILENO);
        saved_err_ = ::dup(STDERR_FILENO);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) {
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
            ::close(null);
        }
    }
    ~Quiet() {
        restore(saved_out_, STDOUT_FILENO);
        restore(saved_err_, STDERR_FILENO);
    }
    Quiet(const Quiet&) = delete;
    Quiet& operator=(const Quiet&) = delete;

private:
    static void restore(int saved, int fd) {
        if (saved < 0) return;
        ::dup2(saved, fd);
        ::close(saved);
    }

    int saved_out_ = -1;
    int saved_err_ = -1;
};

// Runs a verb as main does: its exit code, and the message of a Failure it ended with.
template <class Verb>
int run_verb(Verb&& verb, std::string& failure) {
    Quiet quiet;
    try {
        return verb();
    } catch (const qdlcfg::Failure& f) {
        failure = f.what();
        return f.code();
    } catch (const std::exception& e) {
        failure = e.what();
        return qdlcfg::kExitFailure;
    }
}

int import_document(const std::string& file, std::string& failure) {
    return run_verb([&] { return qdlcfg::run_import({}, {file, false}); }, failure);
}

int apply_document(const std::string& file, std::string& failure) {
    qdlcfg::ApplyOptions opts;
    opts.file = file;
    return run_verb([&] { return qdlcfg::run_apply({}, opts); }, failure);
}

// The workload of n ports, made at its first use: the document is checked to hold n + 1
// valid records, and imported once to learn the file it gives. Null (the benchmark skipped)
// when any of that fails.
const Workload* use_workload(benchmark::State& state, int n) {
    static std::map<int, Workload> made;
    if (const auto it = made.find(n); it != made.end()) return &it->second;
    Workload w;
    w.document = document_text(n);
    const qdlcfg::DocumentContent content = qdlcfg::read_document(w.document, false);
    if (w.document.empty() || !content.problems.empty() ||
        content.records.size() != static_cast<std::size_t>(n) + 1) {
        state.SkipWithError("the generated document is not valid");
        return nullptr;
    }
    const fs::path dir = base_dir() / ("workload-" + std::to_string(n));
    std::error_code ec;
    fs::create_directories(dir, ec);
    w.document_file = (dir / "document.json").string();
    w.reference_dir = dir.string();
    if (ec || !write_file(w.document_file, w.document)) {
        state.SkipWithError("cannot write the document");
        return nullptr;
    }
    Machine machine;
    std::string failure;
    PortRecord last{};
    if (!machine.ok() || import_document(w.document_file, failure) != qdlcfg::kExitOk ||
        !read_file(machine.file(), w.config) ||
        QDL_Get_Record(RECORD_PORT, port_name(n).c_str(), &last) != QDL_OK ||
        last.kwt_t5pp != 52000) {
        state.SkipWithError(("the first import failed: " + failure).c_str());
        return nullptr;
    }
    return &made.emplace(n, std::move(w)).first->second;
}

void count_sizes(benchmark::State& state, const Workload& w) {
    state.counters["document_bytes"] = static_cast<double>(w.document.size());
    state.counters["file_bytes"] = static_cast<double>(w.config.size());
}

// ---- Cases ---------------------------------------------------------------------------------

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

int arg(const benchmark::State& state) { return static_cast<int>(state.range(0)); }

// qdlcfg import FILE into an empty configuration file on a fresh machine.
void BM_import(benchmark::State& state) {
    const Workload* w = use_workload(state, arg(state));
    if (w == nullptr) return;
    for (auto _ : state) {
        Machine machine;
        if (!machine.ok()) {
            state.SkipWithError("cannot make the machine");
            break;
        }
        std::string failure;
        const Clock::time_point start = Clock::now();
        const int code = import_document(w->document_file, failure);
        state.SetIterationTime(since(start));
        std::string written;
        if (code != qdlcfg::kExitOk || !read_file(machine.file(), written) ||
            written != w->config) {
            state.SkipWithError(("import failed or wrote another file: " + failure).c_str());
            break;
        }
    }
    count_sizes(state, *w);
}

// qdlcfg apply FILE on a fresh machine whose file holds the document already: nothing changes,
// and the file must not be replaced.
void BM_apply_unchanged(benchmark::State& state) {
    const Workload* w = use_workload(state, arg(state));
    if (w == nullptr) return;
    for (auto _ : state) {
        Machine machine;
        Identity before, after;
        if (!machine.ok() || !write_file(machine.file(), w->config) ||
            !file_identity(machine.file(), before)) {
            state.SkipWithError("cannot make the machine");
            break;
        }
        std::string failure;
        const Clock::time_point start = Clock::now();
        const int code = apply_document(w->document_file, failure);
        state.SetIterationTime(since(start));
        if (code != qdlcfg::kExitOk || !file_identity(machine.file(), after) ||
            !(before == after)) {
            state.SkipWithError(("apply failed or replaced the file: " + failure).c_str());
            break;
        }
    }
    count_sizes(state, *w);
}

// The document parsed and checked (nlohmann-json and the tool's validation), from memory.
void BM_ref_parse(benchmark::State& state) {
    const int n = arg(state);
    const Workload* w = use_workload(state, n);
    if (w == nullptr) return;
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        const qdlcfg::DocumentContent content = qdlcfg::read_document(w->document, false);
        state.SetIterationTime(since(start));
        if (content.records.size() != static_cast<std::size_t>(n) + 1) {
            state.SkipWithError("the document did not parse");
            break;
        }
    }
    count_sizes(state, *w);
}

// One flushed replacement of a file by the bytes the import leaves.
void BM_ref_rewrite(benchmark::State& state) {
    const Workload* w = use_workload(state, arg(state));
    if (w == nullptr) return;
    const std::string file = w->reference_dir + "/rewrite.ini";
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        const bool ok = replace_file(file, w->config);
        state.SetIterationTime(since(start));
        if (!ok) {
            state.SkipWithError("rewrite failed");
            break;
        }
    }
    ::unlink(file.c_str());
    count_sizes(state, *w);
}

// One whole-file read (open, read, close) of that file.
void BM_ref_read(benchmark::State& state) {
    const Workload* w = use_workload(state, arg(state));
    if (w == nullptr) return;
    const std::string file = w->reference_dir + "/read.ini";
    if (!write_file(file, w->config)) {
        state.SkipWithError("cannot write the file");
        return;
    }
    std::string text;
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        const bool ok = read_file(file, text);
        state.SetIterationTime(since(start));
        if (!ok || text.size() != w->config.size()) {
            state.SkipWithError("read failed");
            break;
        }
    }
    ::unlink(file.c_str());
    count_sizes(state, *w);
}

#define TRANSFER_CASE(fn) \
    BENCHMARK(fn)->ArgName("n")->Arg(kSizes[0])->Arg(kSizes[1])->Unit(benchmark::kMillisecond) \
        ->UseManualTime()

TRANSFER_CASE(BM_import);
TRANSFER_CASE(BM_apply_unchanged);
TRANSFER_CASE(BM_ref_parse);
TRANSFER_CASE(BM_ref_rewrite);
TRANSFER_CASE(BM_ref_read);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(base_dir(), ec);
    return 0;
}
