// crash_test.cpp - a writer killed at any moment leaves a whole, readable file behind.
//
// A child process adds and deletes serial ports (18 keys each, all written by one call) in a
// loop and reports each call through a pipe before it starts and after it returned; the parent
// kills it with SIGKILL after a random delay, then checks the file, and writes once itself
// (which also proves that the dead child's lock is gone). 500 kills per run (fewer under
// AddressSanitizer), every choice drawn from one seed.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "posix/safety_support.h"
#include "support/test_env.h"
#include "tskqdl32.h"

namespace {

constexpr int kPool = 16;             // port names the child picks from
constexpr int kMaxDelayUs = 40'000;   // kill delay: 0 to 40 ms, a few calls at most
constexpr int kMaxChildCalls = 100'000;

std::string pool_name(int i) { return "Port" + std::to_string(100 + i); }

// One line of the child's log: a call about to start ('B') or returned ('E').
struct Report {
    char op;     // 'A' add, 'D' delete
    char phase;  // 'B' begin, 'E' end
    std::int16_t status;
    char name[12];
};
static_assert(sizeof(Report) <= PIPE_BUF, "reports must reach the pipe whole");

void send(int fd, char op, char phase, int status, const std::string& name) {
    Report r{};
    r.op = op;
    r.phase = phase;
    r.status = static_cast<std::int16_t>(status);
    std::strncpy(r.name, name.c_str(), sizeof r.name - 1);
    while (write(fd, &r, sizeof r) < 0 && errno == EINTR) {
    }
}

// The child: random adds and deletes until it is killed.
[[noreturn]] void writer_child(int fd, unsigned child_seed) {
    std::mt19937 rng(child_seed);
    for (int i = 0; i < kMaxChildCalls; ++i) {
        const std::string name = pool_name(static_cast<int>(rng() % kPool));
        const bool add = rng() % 2 == 0;
        send(fd, add ? 'A' : 'D', 'B', 0, name);
        int status;
        if (add) {
            PortRecord p = safety::serial_port(name);
            status = QDL_Add_Record(RECORD_PORT, &p);
        } else {
            status = QDL_Delete_Record(RECORD_PORT, 0, name.c_str());
        }
        send(fd, add ? 'A' : 'D', 'E', status, name);
    }
    _exit(0);
}

std::vector<Report> drain(int fd) {
    std::vector<Report> out;
    Report r;
    for (;;) {
        const ssize_t n = read(fd, &r, sizeof r);
        if (n < 0 && errno == EINTR) continue;
        if (n != static_cast<ssize_t>(sizeof r)) break;
        out.push_back(r);
    }
    return out;
}

class Crash : public safety::ConfigInDirectory {
protected:
    std::map<std::string, bool> present;  // what the calls that returned have made of the file
    std::string pending;                  // the port of the call that was cut short, if any
    int leftovers_seen = 0;               // kills that left a temporary file behind

    void SetUp() override {
        ConfigInDirectory::SetUp();
        if (HasFatalFailure()) return;
        for (int i = 0; i < kPool; ++i) present[pool_name(i)] = false;
        write_probe(0);
    }

    // A write of the parent: the global parameters, different every time.
    void write_probe(int iteration) {
        GlobalParameters g{};
        g.connect_timeout = 1000 + iteration % 5000;
        g.request_timeout = 2000;
        ASSERT_EQ(QDL_Add_Record(RECORD_GLOBAL, &g), QDL_OK) << "iteration " << iteration;
    }

    // Each returned call must agree with what the earlier calls made of the file.
    void replay(const std::vector<Report>& log, const std::string& where) {
        pending.clear();
        for (const Report& r : log) {
            const std::string name(r.name);
            if (r.phase == 'B') {
                pending = name;
                continue;
            }
            ASSERT_EQ(name, pending) << where;
            pending.clear();
            bool& here = present[name];
            if (r.op == 'A') {
                ASSERT_EQ(r.status, here ? QDL_ERR_EXISTS : QDL_OK) << where << " add " << name;
                here = true;
            } else {
                ASSERT_EQ(r.status, here ? QDL_OK : QDL_ERR_NOT_FOUND)
                    << where << " delete " << name;
                here = false;
            }
        }
    }

    void check_text(const std::string& where) {
        const std::string text = qdltest::read_file(path);
        ASSERT_TRUE(text.empty() || text.back() == '\n') << where << ": the file ends mid-line";
        ASSERT_TRUE(safety::odd_lines(text).empty())
            << where << ": torn lines: " << safety::joined(safety::odd_lines(text));
        for (const auto& [section, entries] : safety::sections_of(text)) {
            if (section == "Global_Parameters") continue;
            ASSERT_TRUE(present.count(section) != 0) << where << ": unknown section " << section;
            ASSERT_EQ(entries.size(), static_cast<std::size_t>(safety::kSerialPortKeys))
                << where << ": port " << section << " is not whole";
        }
    }

    // Every port reads back whole or not at all, as the returned calls say; only the port of
    // the call that was cut short may be either.
    void check_ports(const std::string& where) {
        std::vector<std::string> expected;
        for (auto& [name, here] : present) {
            PortRecord got;
            std::memset(&got, 0xCC, sizeof got);
            const int status = QDL_Get_Record(RECORD_PORT, name.c_str(), &got);
            ASSERT_TRUE(status == QDL_OK || status == QDL_ERR_NOT_FOUND) << where << " " << status;
            const bool found = status == QDL_OK;
            if (name == pending) here = found;
            ASSERT_EQ(found, here) << where << ": port " << name
                                   << (here ? " added and lost" : " deleted and back");
            if (found) {
                ASSERT_TRUE(safety::same_port(got, safety::serial_port(name))) << where;
                expected.push_back(name);
            }
        }
        int result = 0;
        std::vector<std::string> names = safety::listed("TYPE", &result);
        ASSERT_EQ(result, static_cast<int>(expected.size())) << where;
        std::sort(names.begin(), names.end());
        ASSERT_EQ(names, expected) << where << ": the listing differs";
    }

    void kill_once(int iteration, std::mt19937& rng) {
        const std::string where = "seed " + std::to_string(safety::seed()) + ", kill " +
                                  std::to_string(iteration);
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        const unsigned child_seed = static_cast<unsigned>(rng());
        std::fflush(nullptr);
        const pid_t pid = fork();
        if (pid == 0) {
            close(fds[0]);
            writer_child(fds[1], child_seed);
        }
        close(fds[1]);
        usleep(static_cast<useconds_t>(rng() % kMaxDelayUs));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << where << ": the child ended by itself";
        const std::vector<Report> log = drain(fds[0]);
        close(fds[0]);

        ASSERT_NO_FATAL_FAILURE(replay(log, where));
        ASSERT_NO_FATAL_FAILURE(check_text(where));
        ASSERT_NO_FATAL_FAILURE(check_ports(where));
        if (!safety::strays(dir, "tsk_cfg.ini").empty()) ++leftovers_seen;
        ASSERT_NO_FATAL_FAILURE(write_probe(iteration + 1));
        ASSERT_EQ(safety::joined(safety::strays(dir, "tsk_cfg.ini")), "")
            << where << ": a temporary file outlived the next write";
    }
};

TEST_F(Crash, KilledWriterLeavesWholePortsAndEveryReturnedCallInTheFile) {
    std::mt19937 rng(safety::seed());
    const int kills = safety::scaled(500, 120);
    for (int i = 0; i < kills; ++i) {
        ASSERT_NO_FATAL_FAILURE(kill_once(i, rng));
    }
    // The kills must have hit writes in progress, or the test proved little.
    RecordProperty("kills_with_temporary_file", leftovers_seen);
    std::printf("%d of %d kills left a temporary file behind\n", leftovers_seen, kills);
}

// What a writer killed between its temporary file and the rename leaves, the next write of the
// same file removes; files that only look alike stay.
TEST_F(Crash, NextWriteRemovesOrphanedTemporaryFilesOfItsFileOnly) {
    const std::string orphan = path + ".tmp-999999-7";
    const std::string not_ours[] = {path + ".tmp-notes", dir + "/other.ini.tmp-1-1",
                                    path + ".tmp-12"};
    qdltest::write_file(orphan, "[Half");
    for (const std::string& f : not_ours) qdltest::write_file(f, "keep");
    PortRecord p = safety::serial_port("Line1");
    ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &p), QDL_OK);
    EXPECT_FALSE(qdltest::file_exists(orphan));
    for (const std::string& f : not_ours) EXPECT_EQ(qdltest::read_file(f), "keep") << f;
}

}  // namespace
