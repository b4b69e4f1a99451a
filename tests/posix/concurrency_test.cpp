// concurrency_test.cpp - threads of one process and several processes write one file at once.
//
// Eight threads of the test process and four child processes each add their own ports, devices
// and modems and delete some of them again, while lister threads run QDL_Get_List and a reader
// thread reads random records. No update may be lost, no record torn, no listing may fail or
// name a section twice.
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "posix/safety_support.h"
#include "support/test_env.h"
#include "tskqdl32.h"

namespace {

constexpr int kThreads = 8;
constexpr int kProcesses = 4;
constexpr int kWorkers = kThreads + kProcesses;
const int kRecords = safety::scaled(24, 8);  // per worker; every fourth one deletes an earlier

enum class Kind { Port, Device, Modem };

std::string record_name(int worker, int index) {
    return "W" + std::to_string(worker) + "R" + std::to_string(index);
}

Kind kind_of(int worker, int index) {
    return static_cast<Kind>((static_cast<unsigned>(worker + index) + safety::seed()) % 3);
}

// Record `index` of `worker` is deleted when its worker adds record index + 2.
bool deleted(int index) { return index % 4 == 1 && index + 2 < kRecords; }

int add(Kind kind, const std::string& name) {
    switch (kind) {
    case Kind::Port: {
        PortRecord p = safety::serial_port(name);
        return QDL_Add_Record(RECORD_PORT, &p);
    }
    case Kind::Device: {
        DeviceRecord d = safety::full_device(name);
        return QDL_Add_Record(RECORD_DEVICE, &d);
    }
    case Kind::Modem: {
        ModemRecord m = safety::full_modem(name);
        return QDL_Add_Record(RECORD_MODEM, &m);
    }
    }
    return QDL_ERR_BAD_TYPE;
}

int delete_record(Kind kind, const std::string& name) {
    switch (kind) {
    case Kind::Port: return QDL_Delete_Record(RECORD_PORT, 0, name.c_str());
    case Kind::Device: return QDL_Delete_Record(RECORD_DEVICE, ADDRESS_ALL, name.c_str());
    case Kind::Modem: return QDL_Delete_Record(RECORD_MODEM, 0, name.c_str());
    }
    return QDL_ERR_BAD_TYPE;
}

// The record of that name reads back whole (OK) or not at all (NOT_FOUND, when `may_be_absent`).
::testing::AssertionResult reads_whole(Kind kind, const std::string& name, bool may_be_absent) {
    int status = QDL_OK;
    ::testing::AssertionResult same = ::testing::AssertionSuccess();
    if (kind == Kind::Port) {
        PortRecord got;
        std::memset(&got, 0xCC, sizeof got);
        status = QDL_Get_Record(RECORD_PORT, name.c_str(), &got);
        if (status == QDL_OK) same = safety::same_port(got, safety::serial_port(name));
    } else if (kind == Kind::Device) {
        DeviceRecord got;
        std::memset(&got, 0xCC, sizeof got);
        status = QDL_Get_Record(RECORD_DEVICE, name.c_str(), &got);
        if (status == QDL_OK) same = safety::same_device(got, safety::full_device(name));
    } else {
        ModemRecord got;
        std::memset(&got, 0xCC, sizeof got);
        status = QDL_Get_Record(RECORD_MODEM, name.c_str(), &got);
        if (status == QDL_OK) same = safety::same_modem(got, safety::full_modem(name));
    }
    if (status == QDL_ERR_NOT_FOUND && may_be_absent) return ::testing::AssertionSuccess();
    if (status != QDL_OK) {
        return ::testing::AssertionFailure() << name << " reads with status " << status;
    }
    return same;
}

// One worker's adds and deletes; the number of calls that did not succeed.
int run_worker(int worker) {
    int failures = 0;
    for (int i = 0; i < kRecords; ++i) {
        const std::string name = record_name(worker, i);
        if (const int s = add(kind_of(worker, i), name); s != QDL_OK) {
            std::fprintf(stderr, "add %s: %d\n", name.c_str(), s);
            ++failures;
        }
        if (i >= 2 && deleted(i - 2)) {
            const std::string old = record_name(worker, i - 2);
            if (const int s = delete_record(kind_of(worker, i - 2), old); s != QDL_OK) {
                std::fprintf(stderr, "delete %s: %d\n", old.c_str(), s);
                ++failures;
            }
        }
    }
    return failures;
}

const char* filter_key(Kind kind) {
    return kind == Kind::Port ? "TYPE" : kind == Kind::Device ? "KWT_ID" : "MODEM_DIAL";
}

// Worker and index of a name this test gives, or false.
bool parse_name(const std::string& name, int& worker, int& index) {
    return std::sscanf(name.c_str(), "W%dR%d", &worker, &index) == 2 && worker >= 0 &&
           worker < kWorkers && index >= 0 && index < kRecords &&
           name == record_name(worker, index);
}

class Concurrency : public safety::ConfigInDirectory {
protected:
    std::atomic<bool> writing{true};
    std::atomic<int> listings{0};
    std::atomic<int> reads{0};

    // A listing taken while others write: never an error, never a name twice, only names of
    // the right kind.
    void lister(Kind kind) {
        while (writing.load()) {
            int result = 0;
            // Before the first write there is no file to list. Asked before the listing: a
            // file that was there stays (every write replaces it whole), one that was not may
            // appear during the listing.
            const bool existed = qdltest::file_exists(path);
            const std::vector<std::string> names = safety::listed(filter_key(kind), &result);
            if (result == QDL_ERR_FILE && !existed) continue;
            EXPECT_GE(result, 0) << "listing " << filter_key(kind);
            EXPECT_EQ(names.size(), static_cast<std::size_t>(std::max(result, 0)));
            const std::set<std::string> unique(names.begin(), names.end());
            EXPECT_EQ(unique.size(), names.size()) << "a name listed twice";
            for (const std::string& n : names) {
                int w = 0, i = 0;
                EXPECT_TRUE(parse_name(n, w, i) && kind_of(w, i) == kind) << "listed " << n;
            }
            ++listings;
        }
    }

    // Random records read while others write: whole or absent.
    void reader() {
        std::mt19937 rng(safety::seed());
        while (writing.load()) {
            const int w = static_cast<int>(rng() % kWorkers);
            const int i = static_cast<int>(rng() % kRecords);
            EXPECT_TRUE(reads_whole(kind_of(w, i), record_name(w, i), true));
            ++reads;
        }
    }

    // Forks the writer processes; each waits for a byte on `go` before it starts.
    std::vector<pid_t> fork_writers(int go) {
        std::vector<pid_t> pids;
        for (int p = 0; p < kProcesses; ++p) {
            std::fflush(nullptr);
            const pid_t pid = fork();
            if (pid == 0) {
                char c;
                if (read(go, &c, 1) != 1) _exit(100);
                _exit(std::min(run_worker(kThreads + p), 99));
            }
            pids.push_back(pid);
        }
        return pids;
    }

    void check_final_state() {
        for (Kind kind : {Kind::Port, Kind::Device, Kind::Modem}) {
            std::vector<std::string> expected;
            for (int w = 0; w < kWorkers; ++w) {
                for (int i = 0; i < kRecords; ++i) {
                    if (kind_of(w, i) != kind || deleted(i)) continue;
                    expected.push_back(record_name(w, i));
                    EXPECT_TRUE(reads_whole(kind, expected.back(), false));
                }
            }
            std::sort(expected.begin(), expected.end());
            std::vector<std::string> names = safety::listed(filter_key(kind));
            std::sort(names.begin(), names.end());
            EXPECT_EQ(names, expected) << "records of filter " << filter_key(kind);
        }
        const std::string text = qdltest::read_file(path);
        EXPECT_EQ(safety::joined(safety::odd_lines(text)), "");
        for (const auto& [section, entries] : safety::sections_of(text)) {
            int w = 0, i = 0;
            ASSERT_TRUE(parse_name(section, w, i)) << "section " << section;
            const Kind kind = kind_of(w, i);
            const int keys = kind == Kind::Port     ? safety::kSerialPortKeys
                             : kind == Kind::Device ? safety::kDeviceKeys
                                                    : safety::kModemKeys;
            EXPECT_EQ(entries.size(), static_cast<std::size_t>(keys)) << section;
        }
        EXPECT_EQ(safety::joined(safety::strays(dir, "tsk_cfg.ini")), "");
    }
};

TEST_F(Concurrency, ThreadsAndProcessesLoseNoUpdateAndListingsStayWhole) {
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    const std::vector<pid_t> children = fork_writers(go[0]);

    std::vector<std::thread> observers;
    observers.emplace_back([&] { lister(Kind::Port); });
    observers.emplace_back([&] { lister(Kind::Modem); });
    observers.emplace_back([&] { reader(); });
    std::vector<std::thread> writers;
    std::atomic<int> thread_failures{0};
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&, t] { thread_failures += run_worker(t); });
    }
    const char bytes[kProcesses] = {};
    ASSERT_EQ(write(go[1], bytes, kProcesses), kProcesses);

    for (std::thread& t : writers) t.join();
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "writer process failed: " << status;
    }
    writing = false;
    for (std::thread& t : observers) t.join();
    close(go[0]);
    close(go[1]);

    EXPECT_EQ(thread_failures.load(), 0);
    EXPECT_GT(listings.load(), 0);
    EXPECT_GT(reads.load(), 0);
    check_final_state();
}

}  // namespace
