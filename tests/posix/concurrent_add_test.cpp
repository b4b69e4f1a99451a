// concurrent_add_test.cpp - several processes adding ports to one file at the same time lose
// no port: the exists probe and the writes of each add hold the file's lock together.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/test_env.h"
#include "tskqdl32.h"

namespace {

constexpr int kProcesses = 4;
constexpr int kPortsEach = 200;

std::string port_name(int process, int i) {
    return 'P' + std::to_string(process) + '_' + std::to_string(i);
}

// A child: waits until the parent opens the gate, adds its ports, and exits with the number of
// adds that failed.
[[noreturn]] void add_ports(int process, int gate) {
    char go;
    const bool opened = read(gate, &go, 1) == 0;  // end of file: every child starts now
    int failures = opened ? 0 : 1;
    for (int i = 0; i < kPortsEach; ++i) {
        PortRecord r;
        std::memset(&r, 0xFF, sizeof r);
        std::memset(r.name, 0, sizeof r.name);
        const std::string name = port_name(process, i);
        std::memcpy(r.name, name.c_str(), name.size());
        r.port_type = PORT_TCPIP_ETH;
        r.connect_timeout = static_cast<std::uint32_t>(1000 + i);
        if (QDL_Add_Record(RECORD_PORT, &r) != QDL_OK) ++failures;
    }
    _exit(failures > 255 ? 255 : failures);
}

TEST(ConcurrentAdd, FourProcessesAddingAtOnceLoseNoPort) {
    qdltest::Machine machine;
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(gate[1]);
            add_ports(p, gate[0]);
        }
        children.push_back(pid);
    }
    close(gate[0]);
    close(gate[1]);  // opens the gate
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "adds that failed in child " << pid;
    }

    int found = 0;
    for (int p = 0; p < kProcesses; ++p) {
        for (int i = 0; i < kPortsEach; ++i) {
            PortRecord out;
            std::memset(&out, 0, sizeof out);
            const std::string name = port_name(p, i);
            if (QDL_Get_Record(RECORD_PORT, name.c_str(), &out) != QDL_OK) {
                ADD_FAILURE() << "lost " << name;
                continue;
            }
            ++found;
            EXPECT_EQ(out.port_type, PORT_TCPIP_ETH) << name;
            EXPECT_EQ(out.connect_timeout, static_cast<std::uint32_t>(1000 + i)) << name;
        }
    }
    EXPECT_EQ(found, kProcesses * kPortsEach);
}

}  // namespace
