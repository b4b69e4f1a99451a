// qdlcfg_scale_test.cpp - qdlcfg on a file of more records than a 16-bit count can hold: 70,000
// ports, written directly (LF, as the store writes them), then exported, listed, checked and
// applied by the built tool. Each verb must see every record; a verb that went through the
// exported listing's count would stop at 65,535 or fail.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/test_env.h"

extern char** environ;

namespace {

using Json = nlohmann::ordered_json;

constexpr int kPorts = 70000;

std::string port_text(int i, int baudrate) {
    char text[96];
    std::snprintf(text, sizeof text, "[P%06d]\nTYPE=KWT_SERIAL\nPORT=COM1\nBAUDRATE=%d\n", i,
                  baudrate);
    return text;
}

class QdlcfgScale : public ::testing::Test {
protected:
    void SetUp() override {
#ifndef QDLCFG_PATH
        GTEST_SKIP() << "qdlcfg is not built (QDL_BUILD_TOOLS=OFF)";
#endif
    }

    qdltest::Machine machine;

    // Runs qdlcfg with `args` (stdout to a file, stderr to another); its exit code.
    int run(const std::vector<std::string>& args, std::string& out) {
#ifdef QDLCFG_PATH
        std::vector<std::string> text{QDLCFG_PATH};
#else
        std::vector<std::string> text{"qdlcfg"};
#endif
        text.insert(text.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : text) argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string dir = machine.scratch_dir();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, (dir + "/stdout").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, (dir + "/stderr").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        pid_t pid = 0;
        int status = -1;
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
            waitpid(pid, &status, 0);
        }
        posix_spawn_file_actions_destroy(&actions);
        out = qdltest::read_file(dir + "/stdout");
        EXPECT_EQ(qdltest::read_file(dir + "/stderr"), "");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

TEST_F(QdlcfgScale, EveryVerbSeesMoreThan65535Records) {
    std::string file;
    for (int i = 1; i <= kPorts; ++i) file += port_text(i, 19200);
    qdltest::write_file(machine.default_file(), file);
    std::string out;

    ASSERT_EQ(run({"export"}, out), 0);
    Json doc = Json::parse(out);
    ASSERT_EQ(doc["ports"].size(), std::size_t{kPorts});
    EXPECT_EQ(doc["ports"].back()["name"], "P070000");
    EXPECT_EQ(doc["ports"].back()["baudrate"], 19200);

    ASSERT_EQ(run({"list", "ports", "--json"}, out), 0);
    const Json list = Json::parse(out);
    ASSERT_EQ(list["ports"].size(), std::size_t{kPorts});
    EXPECT_EQ(list["ports"][65535], "P065536");

    ASSERT_EQ(run({"check", "--json"}, out), 0);
    EXPECT_EQ(Json::parse(out)["clean"], true) << out;

    // The records past 65,535 are found, not taken for new ones: changing the last one
    // rewrites exactly its value, and the same document again changes nothing.
    doc["ports"].back()["baudrate"] = 9600;
    const std::string path = machine.scratch_dir() + "/doc.json";
    qdltest::write_file(path, doc.dump());
    ASSERT_EQ(run({"apply", path, "--json"}, out), 0);
    EXPECT_EQ(Json::parse(out)["changed"], true);
    const std::size_t last = file.size() - port_text(kPorts, 19200).size();
    EXPECT_EQ(qdltest::read_file(machine.default_file()),
              file.substr(0, last) + port_text(kPorts, 9600));
    ASSERT_EQ(run({"apply", path, "--json"}, out), 0);
    EXPECT_EQ(Json::parse(out)["changed"], false);
}

}  // namespace
