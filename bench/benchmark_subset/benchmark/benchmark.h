// benchmark/benchmark.h - the part of the Google Benchmark interface that our benchmark programs
// use, header-only, for builds where the library itself is not at hand (the mingw-w64 cross
// build: Debian packages Google Benchmark for the host only, and ships no sources of it).
//
// Programs written against it build unchanged against the real library, and its output is
// what bench/compare.sh reads from either: the console table, and the JSON file of
// --benchmark_out (context, then one entry per repetition with name, run_name, run_type
// "iteration", repetitions, repetition_index, threads, iterations, real_time, cpu_time,
// time_unit and the user counters). Aggregates (mean, median, ...) are not computed: the
// compare script takes the medians itself.
//
// Map:
//   DoNotOptimize, ClobberMemory     compiler barriers, as in the library
//   Counter, TimeUnit                user counters (value only) and the reporting unit
//   State                            the timed loop (for (auto _ : state)), PauseTiming /
//                                    ResumeTiming, range, counters, SetLabel, SkipWithError,
//                                    SetBytesProcessed (reported as bytes_per_second)
//   internal::Benchmark              a family: Arg, ArgName, Unit, UseRealTime, MinTime,
//                                    Iterations; BENCHMARK registers one
//   internal::Runner                 iteration count as the library predicts it (grow until
//                                    the minimum time is reached; repetitions reuse the count),
//                                    console and JSON output
//   Initialize, RunSpecifiedBenchmarks, Shutdown, ReportUnrecognizedArguments, BENCHMARK_MAIN
//                                    flags: --benchmark_filter, --benchmark_repetitions,
//                                    --benchmark_min_time (seconds, "s" suffix allowed),
//                                    --benchmark_out, --benchmark_out_format (json),
//                                    --benchmark_format (console|json), --benchmark_list_tests
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace benchmark {

// ---- Compiler barriers ---------------------------------------------------------------------

template <class T>
inline void DoNotOptimize(T const& value) {
    asm volatile("" : : "r,m"(value) : "memory");
}

template <class T>
inline void DoNotOptimize(T& value) {
    asm volatile("" : "+r,m"(value) : : "memory");
}

inline void ClobberMemory() { asm volatile("" : : : "memory"); }

// ---- Counters and units --------------------------------------------------------------------

class Counter {
public:
    enum Flags { kDefaults = 0 };
    Counter(double v = 0.0, Flags f = kDefaults) : value(v), flags(f) {}
    operator double const&() const { return value; }
    operator double&() { return value; }
    double value;
    Flags flags;
};

using UserCounters = std::map<std::string, Counter>;

enum TimeUnit { kNanosecond, kMicrosecond, kMillisecond, kSecond };

namespace internal {

inline const char* unit_name(TimeUnit u) {
    switch (u) {
    case kNanosecond: return "ns";
    case kMicrosecond: return "us";
    case kMillisecond: return "ms";
    case kSecond: return "s";
    }
    return "ns";
}

inline double unit_per_second(TimeUnit u) {
    switch (u) {
    case kNanosecond: return 1e9;
    case kMicrosecond: return 1e6;
    case kMillisecond: return 1e3;
    case kSecond: return 1.0;
    }
    return 1e9;
}

// CPU time of the process, in seconds.
inline double process_cpu_seconds() {
#if defined(_WIN32)
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0.0;
    auto to_ticks = [](const FILETIME& t) {
        return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(to_ticks(kernel) + to_ticks(user)) * 1e-7;
#else
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
#endif
}

inline double real_seconds() {
    using clock = std::chrono::steady_clock;
    return std::chrono::duration<double>(clock::now().time_since_epoch()).count();
}

// Accumulates real and CPU time over the running stretches of a loop.
class Timer {
public:
    void start() {
        real_start_ = real_seconds();
        cpu_start_ = process_cpu_seconds();
        running_ = true;
    }
    void stop() {
        if (!running_) return;
        real_ += real_seconds() - real_start_;
        cpu_ += process_cpu_seconds() - cpu_start_;
        running_ = false;
    }
    bool running() const { return running_; }
    double real() const { return real_; }
    double cpu() const { return cpu_; }

private:
    bool running_ = false;
    double real_start_ = 0, cpu_start_ = 0, real_ = 0, cpu_ = 0;
};

}  // namespace internal

// ---- State ---------------------------------------------------------------------------------

class State {
public:
    State(std::vector<std::int64_t> args, std::int64_t max_iterations)
        : args_(std::move(args)), max_iterations_(max_iterations) {}

    struct StateIterator {
        State* state;
        std::int64_t left;
        // Not trivially destructible, so that `for (auto _ : state)` draws no unused-variable
        // warning.
        struct Value {
            ~Value() {}
        };
        Value operator*() const { return {}; }
        StateIterator& operator++() {
            --left;
            return *this;
        }
        bool operator!=(const StateIterator&) {
            if (left > 0 && !state->error_) return true;
            state->finish_loop();
            return false;
        }
    };
    StateIterator begin() {
        timer_.start();
        return {this, max_iterations_};
    }
    StateIterator end() { return {this, 0}; }

    void PauseTiming() { timer_.stop(); }
    void ResumeTiming() { timer_.start(); }
    void SkipWithError(const char* message) {
        error_ = true;
        error_message_ = message;
    }
    bool error_occurred() const { return error_; }
    void SetLabel(const std::string& label) { label_ = label; }
    void SetBytesProcessed(std::int64_t bytes) { bytes_ = bytes; }
    std::int64_t bytes_processed() const { return bytes_; }
    std::int64_t range(std::size_t pos = 0) const { return args_.at(pos); }
    std::int64_t iterations() const { return done_; }
    std::int64_t max_iterations() const { return max_iterations_; }

    UserCounters counters;

    // Read by the runner.
    const internal::Timer& timer() const { return timer_; }
    const std::string& label() const { return label_; }
    const std::string& error_message() const { return error_message_; }

private:
    void finish_loop() {
        timer_.stop();
        done_ = error_ ? 0 : max_iterations_;
    }

    std::vector<std::int64_t> args_;
    std::int64_t max_iterations_;
    std::int64_t done_ = 0;
    std::int64_t bytes_ = 0;
    internal::Timer timer_;
    bool error_ = false;
    std::string error_message_;
    std::string label_;
};

namespace internal {

// ---- Families ------------------------------------------------------------------------------

class Benchmark {
public:
    Benchmark(std::string name, std::function<void(State&)> fn)
        : name_(std::move(name)), fn_(std::move(fn)) {}

    Benchmark* Arg(std::int64_t x) {
        args_.push_back({x});
        return this;
    }
    Benchmark* ArgName(const std::string& name) {
        arg_name_ = name;
        return this;
    }
    Benchmark* Unit(TimeUnit unit) {
        unit_ = unit;
        return this;
    }
    Benchmark* UseRealTime() {
        real_time_ = true;
        return this;
    }
    Benchmark* MinTime(double seconds) {
        min_time_ = seconds;
        return this;
    }
    Benchmark* Iterations(std::int64_t n) {
        iterations_ = n;
        return this;
    }

    // One instance per argument (a family without arguments has one instance).
    std::vector<std::vector<std::int64_t>> instances() const {
        if (args_.empty()) return {{}};
        return args_;
    }
    std::string instance_name(const std::vector<std::int64_t>& args) const {
        std::string n = name_;
        for (std::int64_t a : args) {
            n += "/";
            if (!arg_name_.empty()) n += arg_name_ + ":";
            n += std::to_string(a);
        }
        if (real_time_) n += "/real_time";
        return n;
    }

    const std::function<void(State&)>& fn() const { return fn_; }
    TimeUnit unit() const { return unit_; }
    bool real_time() const { return real_time_; }
    double min_time() const { return min_time_; }
    std::int64_t iterations() const { return iterations_; }

private:
    std::string name_;
    std::function<void(State&)> fn_;
    std::vector<std::vector<std::int64_t>> args_;
    std::string arg_name_;
    TimeUnit unit_ = kNanosecond;
    bool real_time_ = false;
    double min_time_ = 0;  // 0: the flag's value
    std::int64_t iterations_ = 0;
};

inline std::vector<std::unique_ptr<Benchmark>>& families() {
    static std::vector<std::unique_ptr<Benchmark>> all;
    return all;
}

inline Benchmark* RegisterBenchmarkInternal(Benchmark* b) {
    families().emplace_back(b);
    return b;
}

// ---- Flags ---------------------------------------------------------------------------------

struct Flags {
    std::string filter = ".";
    int repetitions = 1;
    double min_time = 0.5;
    std::string out;
    std::string out_format = "json";
    std::string format = "console";
    bool list_tests = false;
    std::vector<std::string> unrecognized;
};

inline Flags& flags() {
    static Flags f;
    return f;
}

// "--name=value": value, or null when arg is not that flag.
inline const char* flag_value(const char* arg, std::string_view name) {
    const std::string_view a(arg);
    if (a.size() <= name.size() + 3 || a.substr(0, 2) != "--") return nullptr;
    if (a.substr(2, name.size()) != name || a[2 + name.size()] != '=') return nullptr;
    return arg + 3 + name.size();
}

inline bool parse_flag(const char* arg) {
    Flags& f = flags();
    if (const char* v = flag_value(arg, "benchmark_filter")) f.filter = v;
    else if (const char* v = flag_value(arg, "benchmark_repetitions")) f.repetitions = std::atoi(v);
    else if (const char* v = flag_value(arg, "benchmark_min_time")) f.min_time = std::atof(v);
    else if (const char* v = flag_value(arg, "benchmark_out")) f.out = v;
    else if (const char* v = flag_value(arg, "benchmark_out_format")) f.out_format = v;
    else if (const char* v = flag_value(arg, "benchmark_format")) f.format = v;
    else if (std::string_view(arg) == "--benchmark_list_tests" ||
             std::string_view(arg) == "--benchmark_list_tests=true") f.list_tests = true;
    else return false;
    return true;
}

// ---- Running and reporting -----------------------------------------------------------------

struct Run {
    std::string name;
    std::int64_t iterations = 0;
    double real_seconds = 0, cpu_seconds = 0;
    TimeUnit unit = kNanosecond;
    int repetition = 0;
    int repetitions = 1;
    int family = 0;
    int instance = 0;
    UserCounters counters;
    std::string label;
    std::string error;

    double per_iteration(double seconds) const {
        return iterations > 0 ? seconds / static_cast<double>(iterations) * unit_per_second(unit)
                              : 0.0;
    }
};

inline std::string json_escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        if (static_cast<unsigned char>(c) < 0x20) continue;
        out += c;
    }
    return out;
}

inline std::string host_name() {
    char buf[256] = {};
#if defined(_WIN32)
    DWORD n = sizeof buf;
    if (!GetComputerNameA(buf, &n)) return "";
#else
    if (gethostname(buf, sizeof buf - 1) != 0) return "";
#endif
    return buf;
}

inline unsigned cpu_count() {
#if defined(_WIN32)
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    return si.dwNumberOfProcessors;
#else
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<unsigned>(n) : 1u;
#endif
}

inline void write_json(std::FILE* f, const std::vector<Run>& runs, const char* executable) {
    char date[64] = {};
    const std::time_t now = std::time(nullptr);
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", std::localtime(&now));
    std::fprintf(f, "{\n  \"context\": {\n    \"date\": \"%s\",\n", date);
    std::fprintf(f, "    \"host_name\": \"%s\",\n", json_escape(host_name()).c_str());
    std::fprintf(f, "    \"executable\": \"%s\",\n", json_escape(executable).c_str());
    std::fprintf(f, "    \"num_cpus\": %u,\n", cpu_count());
    std::fprintf(f, "    \"library_build_type\": \"benchmark_subset\"\n  },\n");
    std::fprintf(f, "  \"benchmarks\": [");
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const Run& r = runs[i];
        std::fprintf(f, "%s\n    {\n", i == 0 ? "" : ",");
        std::fprintf(f, "      \"name\": \"%s\",\n", json_escape(r.name).c_str());
        std::fprintf(f, "      \"family_index\": %d,\n", r.family);
        std::fprintf(f, "      \"per_family_instance_index\": %d,\n", r.instance);
        std::fprintf(f, "      \"run_name\": \"%s\",\n", json_escape(r.name).c_str());
        std::fprintf(f, "      \"run_type\": \"iteration\",\n");
        std::fprintf(f, "      \"repetitions\": %d,\n", r.repetitions);
        std::fprintf(f, "      \"repetition_index\": %d,\n", r.repetition);
        std::fprintf(f, "      \"threads\": 1,\n");
        if (!r.error.empty()) {
            std::fprintf(f, "      \"error_occurred\": true,\n");
            std::fprintf(f, "      \"error_message\": \"%s\",\n", json_escape(r.error).c_str());
        }
        std::fprintf(f, "      \"iterations\": %lld,\n", static_cast<long long>(r.iterations));
        std::fprintf(f, "      \"real_time\": %.10e,\n", r.per_iteration(r.real_seconds));
        std::fprintf(f, "      \"cpu_time\": %.10e,\n", r.per_iteration(r.cpu_seconds));
        std::fprintf(f, "      \"time_unit\": \"%s\"", unit_name(r.unit));
        for (const auto& [name, c] : r.counters) {
            std::fprintf(f, ",\n      \"%s\": %.10e", json_escape(name).c_str(), c.value);
        }
        if (!r.label.empty()) {
            std::fprintf(f, ",\n      \"label\": \"%s\"", json_escape(r.label).c_str());
        }
        std::fprintf(f, "\n    }");
    }
    std::fprintf(f, "\n  ]\n}\n");
}

inline void print_console_header() {
    std::printf("%-44s %15s %15s %12s\n", "Benchmark", "Time", "CPU", "Iterations");
    std::printf("%s\n", std::string(89, '-').c_str());
}

inline void print_console_run(const Run& r) {
    if (!r.error.empty()) {
        std::printf("%-44s ERROR OCCURRED: '%s'\n", r.name.c_str(), r.error.c_str());
        return;
    }
    std::printf("%-44s %12.0f %-2s %12.0f %-2s %12lld", r.name.c_str(),
                r.per_iteration(r.real_seconds), unit_name(r.unit),
                r.per_iteration(r.cpu_seconds), unit_name(r.unit),
                static_cast<long long>(r.iterations));
    for (const auto& [name, c] : r.counters) std::printf(" %s=%g", name.c_str(), c.value);
    if (!r.label.empty()) std::printf(" %s", r.label.c_str());
    std::printf("\n");
    std::fflush(stdout);
}

inline Run run_once(const Benchmark& b, const std::vector<std::int64_t>& args,
                    std::int64_t iterations) {
    State state(args, iterations);
    b.fn()(state);
    Run r;
    r.iterations = state.iterations();
    r.real_seconds = state.timer().real();
    r.cpu_seconds = state.timer().cpu();
    r.unit = b.unit();
    r.counters = state.counters;
    const double seconds = b.real_time() ? r.real_seconds : r.cpu_seconds;
    if (state.bytes_processed() > 0 && seconds > 0) {
        r.counters["bytes_per_second"] =
            Counter(static_cast<double>(state.bytes_processed()) / seconds);
    }
    r.label = state.label();
    r.error = state.error_message();
    if (state.error_occurred() && r.error.empty()) r.error = "error";
    return r;
}

// The library's rule: start at one iteration and grow until the measured time (real time for
// UseRealTime, else CPU time) reaches the minimum time; a run that is far too short grows the
// count tenfold at most.
inline std::int64_t predict_iterations(std::int64_t iterations, double seconds, double min_time) {
    constexpr std::int64_t kMaxIterations = 1000000000;
    double multiplier = min_time * 1.4 / std::max(seconds, 1e-9);
    if (seconds / min_time <= 0.1) multiplier = std::min(multiplier, 10.0);
    if (multiplier <= 1.0) multiplier = 2.0;
    const double next = std::max(multiplier * static_cast<double>(iterations),
                                 static_cast<double>(iterations) + 1.0);
    return static_cast<std::int64_t>(std::min(next, static_cast<double>(kMaxIterations)));
}

inline Run measure(const Benchmark& b, const std::vector<std::int64_t>& args,
                   std::int64_t& iterations, bool first_repetition) {
    const double min_time = b.min_time() > 0 ? b.min_time() : flags().min_time;
    for (;;) {
        Run r = run_once(b, args, iterations);
        if (!r.error.empty() || !first_repetition || b.iterations() > 0) return r;
        const double seconds = b.real_time() ? r.real_seconds : r.cpu_seconds;
        if (seconds >= min_time || iterations >= 1000000000) return r;
        iterations = predict_iterations(iterations, seconds, min_time);
    }
}

}  // namespace internal

// ---- Entry points --------------------------------------------------------------------------

inline void Initialize(int* argc, char** argv) {
    int kept = 1;
    for (int i = 1; i < *argc; ++i) {
        if (!internal::parse_flag(argv[i])) argv[kept++] = argv[i];
    }
    *argc = kept;
    internal::flags().unrecognized.assign(argv + 1, argv + kept);
}

inline bool ReportUnrecognizedArguments(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::fprintf(stderr, "%s: error: unrecognized command-line flag: %s\n", argv[0], argv[i]);
    }
    return argc > 1;
}

inline std::size_t RunSpecifiedBenchmarks() {
    using namespace internal;
    const Flags& f = flags();
    const std::regex filter(f.filter);
    std::vector<Run> runs;
    const bool console = f.format != "json";
    if (console && !f.list_tests) print_console_header();
    int family_index = 0;
    for (const auto& b : families()) {
        int instance_index = 0;
        bool any = false;
        for (const auto& args : b->instances()) {
            const std::string name = b->instance_name(args);
            if (!std::regex_search(name, filter)) continue;
            any = true;
            if (f.list_tests) {
                std::printf("%s\n", name.c_str());
                continue;
            }
            std::int64_t iterations = b->iterations() > 0 ? b->iterations() : 1;
            const int reps = std::max(1, f.repetitions);
            for (int rep = 0; rep < reps; ++rep) {
                Run r = measure(*b, args, iterations, rep == 0);
                r.name = name;
                r.repetition = rep;
                r.repetitions = reps;
                r.family = family_index;
                r.instance = instance_index;
                if (console) print_console_run(r);
                runs.push_back(std::move(r));
            }
            ++instance_index;
        }
        if (any) ++family_index;
    }
    if (!f.list_tests && !console) write_json(stdout, runs, "");
    if (!f.list_tests && !f.out.empty()) {
        if (std::FILE* out = std::fopen(f.out.c_str(), "w")) {
            write_json(out, runs, "");
            std::fclose(out);
        } else {
            std::fprintf(stderr, "cannot write %s\n", f.out.c_str());
        }
    }
    return runs.size();
}

inline void Shutdown() {}

}  // namespace benchmark

#define BENCHMARK_SUBSET_CONCAT2(a, b) a##b
#define BENCHMARK_SUBSET_CONCAT(a, b) BENCHMARK_SUBSET_CONCAT2(a, b)

// BENCHMARK(fn): registers fn as a family named after it; returns the family for chaining.
#define BENCHMARK(fn)                                                                    \
    static ::benchmark::internal::Benchmark* BENCHMARK_SUBSET_CONCAT(benchmark_subset_,  \
                                                                     __LINE__)           \
        [[maybe_unused]] = ::benchmark::internal::RegisterBenchmarkInternal(             \
            new ::benchmark::internal::Benchmark(#fn, fn))

#define BENCHMARK_MAIN()                                                        \
    int main(int argc, char** argv) {                                           \
        ::benchmark::Initialize(&argc, argv);                                   \
        if (::benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;     \
        ::benchmark::RunSpecifiedBenchmarks();                                  \
        ::benchmark::Shutdown();                                                \
        return 0;                                                               \
    }                                                                           \
    int main(int, char**)
