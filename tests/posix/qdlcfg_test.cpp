// qdlcfg_test.cpp - qdlcfg end to end, as a user runs it: each test spawns the built tool in a
// fresh machine (TSKQDL32_PREFIX) and checks its exit code, stdout, stderr and the file.
//
//   Info          version, where (default name, registry value, bare and full paths, each
//                 spelling of the registry file: the file and code page the library uses)
//   Records       add / show / list / delete of every kind, the INI keys they write
//   Failures      each exit code with one stderr line and nothing on stdout; the same as one
//                 JSON object under --json; unknown verbs named, with the closest ones
//   Password      never in output, never taken as an argument
//   Transfer      export -> import -> export is the same document; validation writes nothing;
//                 a progress bar on a terminal
//   Check         each problem of a hand-written bad file
//   Pipe          a closed stdout ends the tool quietly; odd files (FIFOs) never make it wait
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/test_env.h"
#include "tskqdl32.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

// An import document: the members of `body` after the header that every document carries.
std::string headed(const std::string& body) {
    Json doc = {{"format", "tskqdl32-configuration"}, {"version", 1}};
    doc.update(Json::parse(body));
    return doc.dump();
}

struct Result {
    int code = -1;
    std::string out;
    std::string err;
};

class Qdlcfg : public ::testing::Test {
protected:
    void SetUp() override {
#ifndef QDLCFG_PATH
        GTEST_SKIP() << "qdlcfg is not built (QDL_BUILD_TOOLS=OFF)";
#endif
        // Files as a careful administrator makes them: a password every user could read is
        // warned about (see CheckWarnsOfWhatBreaksAHost).
        saved_umask_ = umask(027);
    }
    void TearDown() override { umask(saved_umask_); }
    mode_t saved_umask_ = 022;

    // Runs qdlcfg with `args`, `input` on stdin; the machine's prefix is in the environment.
    Result run(const std::vector<std::string>& args, const std::string& input = "") {
        const std::string dir = machine.scratch_dir();
        qdltest::write_file(dir + "/stdin", input);
        std::vector<std::string> argv_text{QDLCFG_BINARY};
        argv_text.insert(argv_text.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : argv_text) argv.push_back(a.data());
        argv.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, (dir + "/stdin").c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, (dir + "/stdout").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, (dir + "/stderr").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        pid_t pid = 0;
        Result r;
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
            int status = 0;
            // A tool that hangs is killed after a minute (and seen as killed).
            for (int waited = 0; waitpid(pid, &status, WNOHANG) == 0; ++waited) {
                if (waited == 30000) kill(pid, SIGKILL);
                usleep(2000);
            }
            r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        posix_spawn_file_actions_destroy(&actions);
        r.out = qdltest::read_file(dir + "/stdout");
        r.err = qdltest::read_file(dir + "/stderr");
        return r;
    }

    // Runs and expects success; returns stdout.
    std::string ok(const std::vector<std::string>& args, const std::string& input = "") {
        const Result r = run(args, input);
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.err, "");
        return r.out;
    }

    // Every JSON document opens with its shape and version (docs/json.md); they are checked
    // and taken off, so that tests compare the members that differ from verb to verb.
    Json ok_json(std::vector<std::string> args, const std::string& input = "") {
        args.push_back("--json");
        const std::string out = ok(args, input);
        Json j = Json::parse(out);  // throws, failing the test, when it is not JSON
        if (j.is_object() && j.value("format", "") != "tskqdl32-configuration") {
            EXPECT_EQ(j.value("format", "").rfind("tskqdl32-", 0), 0u) << out;
            EXPECT_EQ(j.value("version", 0), 1) << out;
            j.erase("format");
            j.erase("version");
        }
        return j;
    }

    // Expects failure with `code`: nothing on stdout, exactly one line on stderr.
    std::string fails(int code, const std::vector<std::string>& args,
                      const std::string& input = "") {
        const Result r = run(args, input);
        EXPECT_EQ(r.code, code) << r.out << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.err.rfind("qdlcfg: ", 0), 0u) << r.err;
        return r.err;
    }

    // Expects failure with `code` under --json: one JSON object on stderr, returned.
    Json fails_json(int code, const std::vector<std::string>& args, const std::string& input = "") {
        const Result r = run(args, input);
        EXPECT_EQ(r.code, code) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        const Json j = Json::parse(r.err)["error"];
        EXPECT_EQ(j.size(), 4u) << r.err;
        EXPECT_EQ(j["exit_code"], code);
        return j;
    }

    std::string ini() const { return qdltest::read_file(machine.default_file()); }

    static std::string demo_path() { return QDL_DEMO_DOCUMENT; }

    qdltest::Machine machine;
#ifdef QDLCFG_PATH
    static constexpr const char* QDLCFG_BINARY = QDLCFG_PATH;
#else
    static constexpr const char* QDLCFG_BINARY = "qdlcfg";
#endif
};

// ---- Info ----------------------------------------------------------------------------------

TEST_F(Qdlcfg, VersionNamesTheLibrary) {
    const Json j = ok_json({"version"});
    EXPECT_EQ(j["library"], "QDL Version 3.00 (44a1)");
    EXPECT_FALSE(j["tool"].get<std::string>().empty());
    EXPECT_NE(ok({"version"}).find("QDL Version 3.00 (44a1)"), std::string::npos);
    EXPECT_EQ(ok({"--version"}), ok({"version"}));
    EXPECT_EQ(ok({"-V", "--json"}), ok({"version", "--json"}));
}

TEST_F(Qdlcfg, WhereFollowsTheRegistryValue) {
    Json j = ok_json({"where"});
    EXPECT_EQ(j["file"], machine.windows_dir() + "/tsk_cfg.ini");
    EXPECT_EQ(j["source"], "default");
    EXPECT_EQ(j["prefix_source"], "TSKQDL32_PREFIX");
    EXPECT_FALSE(j["exists"].get<bool>());

    machine.set_registry_path("plant.ini");  // a bare name lies in the Windows directory
    j = ok_json({"where"});
    EXPECT_EQ(j["file"], machine.windows_dir() + "/plant.ini");
    EXPECT_EQ(j["source"], "registry");

    const std::string full = machine.scratch_dir() + "/etc/field.ini";
    machine.set_registry_path(full);
    j = ok_json({"where"});
    EXPECT_EQ(j["file"], full);
    // The tool and the library agree: an add through the tool lands in that file.
    fs::create_directories(machine.scratch_dir() + "/etc");
    ok({"add", "port", "Net1", "--type", "tcpip-eth"});
    EXPECT_NE(qdltest::read_file(full).find("[Net1]"), std::string::npos);
    j = ok_json({"where"});
    EXPECT_TRUE(j["exists"].get<bool>() && j["regular"].get<bool>());
    fs::remove(full);
    fs::create_directory(full);  // exists, but every call reads it as missing
    EXPECT_FALSE(ok_json({"where"})["regular"].get<bool>());
    EXPECT_NE(ok({"where"}).find("not a regular file"), std::string::npos);

    machine.set_registry_path(machine.scratch_dir() + "/caf\xe9.ini");  // bytes, not UTF-8
    EXPECT_EQ(ok_json({"where"})["file"]["hex"].get<std::string>().substr(0, 2), "2F");

    machine.set_registry_path(std::string(260, 'x'));  // does not fit the library's 260 bytes
    j = ok_json({"where"});
    EXPECT_EQ(j["source"], "default");
    EXPECT_EQ(j["file"], machine.windows_dir() + "/tsk_cfg.ini");
    EXPECT_EQ(j["legacy_file"], j["file"]);
    EXPECT_TRUE(j["legacy_same"].get<bool>());

    // An explicit target: another machine's prefix, or one file with no registry lookup. The
    // legacy library's file stays in the Windows directory, and where says they differ.
    const std::string other = machine.scratch_dir() + "/other";
    ok({"add", "port", "Far", "--type", "vme", "--prefix", other});
    EXPECT_NE(qdltest::read_file(other + "/windows/tsk_cfg.ini").find("[Far]"), std::string::npos);
    const std::string staged = machine.scratch_dir() + "/staged.ini";
    ok({"--file", staged, "add", "port", "Staged", "--type", "vme"});
    EXPECT_EQ(ok({"list", "ports", "--file", staged}), "KIND  NAME\nport  Staged\n");
    j = ok_json({"where", "--file", staged});
    EXPECT_EQ(j["file"], staged);
    EXPECT_EQ(j["source"], "file option");
    EXPECT_FALSE(j["legacy_same"].get<bool>());
    EXPECT_TRUE(j["legacy_differing_records"].is_null());  // no legacy file yet
    ok({"add", "port", "Legacy", "--type", "vme", "--file", machine.default_file()});
    EXPECT_EQ(ok_json({"where", "--file", staged})["legacy_differing_records"], 2);
    EXPECT_EQ(ok_json({"list", "ports"})["ports"], Json::parse(R"(["Legacy"])"));  // registered
    fails(2, {"where", "--file", std::string(300, 'f')});
}

// Each spelling of registry.ini that the library reads: `where` names the file (and the code
// page) that the library then uses for an add.
TEST_F(Qdlcfg, WhereAgreesWithTheLibraryOnEverySpellingOfTheRegistry) {
    struct Row {
        const char* registry;  // %s: the configured path
        bool registered;
        unsigned code_page;
    };
    const Row rows[] = {
        {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brenvik\\Fieldloom\\Configuration]\nkbRTTskCfgIni=%s\n"
         "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage]\nACP=932\n",
         true, 932},
        {"[SOFTWARE\\Brenvik\\Fieldloom\\Configuration]\nkbRTTskCfgIni=%s\n"
         "[SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage]\nACP=936\n",
         true, 936},
        {"[hkey_local_machine\\software\\BRENVIK\\fieldloom\\configuration]\nKBRTTSKCFGINI=%s\n"
         "[system\\currentcontrolset\\control\\nls\\codepage]\nacp=949\n",
         true, 949},
        {"  [ SOFTWARE\\Brenvik\\Fieldloom\\Configuration ]  \r\n\t kbRTTskCfgIni \t= %s \r\n"
         " [ SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage ] \r\n ACP = 950 \r\n",
         true, 950},
        {"[SOFTWARE\\Brenvik\\Fieldloom\\Configuration]\nkbRTTskCfgIni\n;%s\n"
         "[SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage]\nACP\n",
         false, 1252},
        {"[SOFTWARE\\Brenvik\\Fieldloom\\Configuration]\nkbRTTskCfgIni=\n;%s\n"
         "[SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage]\nACP=\n",
         false, 1252},
    };
    const std::string registered = machine.scratch_dir() + "/registered.ini";
    // A KWT id of at most 7 characters: 7 in a double-byte code page, 13 in code page 1252.
    const std::string kwt_id = 'A' + std::string(12, '\x82');
    int n = 0;
    for (const Row& row : rows) {
        const std::string name = 'P' + std::to_string(++n);
        SCOPED_TRACE(name);
        char text[512];
        std::snprintf(text, sizeof text, row.registry, registered.c_str());
        qdltest::write_file(machine.scratch_dir() + "/prefix/registry.ini", text);
        const Json j = ok_json({"where"});
        const std::string file = row.registered ? registered : machine.default_file();
        EXPECT_EQ(j["file"], file);
        EXPECT_EQ(j["source"], row.registered ? "registry" : "default");
        ok({"add", "port", name, "--type", "vme"});
        EXPECT_NE(qdltest::read_file(file).find("[" + name + "]"), std::string::npos);
        // The tool counts characters in the code page the library cuts texts in.
        EXPECT_EQ(j["code_page"], row.code_page);
        const Result r = run({"add", "device", "D" + name, "--kwt-id", kwt_id});
        EXPECT_EQ(r.code, row.code_page == 1252 ? 2 : 0) << r.err;
        // Names that differ in a trail byte only are two records in a double-byte code page,
        // to the library and to the tool's export and apply alike.
        ok({"add", "modem", "M" + name + "\x83\x41", "--dial", "1"});
        const Result twin = run({"add", "modem", "M" + name + "\x83\x61", "--dial", name});
        EXPECT_EQ(twin.code, row.code_page == 1252 ? 1 : 0) << twin.err;
        const Json exported = Json::parse(ok({"export"}));
        std::size_t mine = 0;
        for (const Json& m : exported["modems"]) mine += m["modem_dial"] == name;
        EXPECT_EQ(mine, row.code_page == 1252 ? 0u : 1u);
        EXPECT_EQ(ok_json({"apply", "--prune", "-"}, exported.dump())["changed"], false);
    }
}

// ---- Records -------------------------------------------------------------------------------

TEST_F(Qdlcfg, SerialPortFieldsReachTheFileAndShowBack) {
    ok({"add", "modem", "Dial1", "--dial", "ATDT"});
    ok({"add", "port", "LineA", "--type", "kwt-serial", "--port", "COM2", "--baudrate", "9600",
        "--parity", "even", "--stopbits", "1", "--connect-timeout", "5000", "--kwt-t3pp", "120",
        "--multisess", "no", "--modem-record", "Dial1"});
    const std::string file = ini();
    for (const char* line : {"TYPE=KWT_SERIAL", "PORT=COM2", "BAUDRATE=9600", "PARITY=EVEN",
                             "STOPBITS=1", "CONNECT_TIMEOUT=5000", "KWT_T3PP=120",
                             "MULTISESS=NO", "MODEM_RECORDNAME=Dial1"}) {
        EXPECT_NE(file.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(file.find("REQUEST_TIMEOUT"), std::string::npos);  // unset fields are not written

    const Json j = ok_json({"show", "port", "LineA"});
    EXPECT_EQ(j["type"], "kwt-serial");
    EXPECT_EQ(j["parity"], "even");
    EXPECT_EQ(j["baudrate"], 9600);
    EXPECT_EQ(j["kwt_t3pp"], 120);
    EXPECT_TRUE(j["request_timeout"].is_null());
    EXPECT_EQ(j["modem_recordname"], "Dial1");
    EXPECT_FALSE(j.contains("bxln_channel"));  // fields of other port types are not shown

    const std::string table = ok({"show", "port", "LineA"});
    EXPECT_NE(table.find("REQUEST_TIMEOUT   unset"), std::string::npos) << table;
}

TEST_F(Qdlcfg, BusPortHexadecimalFieldsAreLittleEndianValues) {
    ok({"add", "port", "Bus0", "--type", "bxln-bus", "--bxln-control", "ABCD", "--bxln-port",
        "0x300", "--bxln-addr", "1020304", "--bxln-pn", "BX-4410"});
    const std::string file = ini();
    EXPECT_NE(file.find("BXLN_CONTROL=ABCD"), std::string::npos);
    EXPECT_NE(file.find("BXLN_PORT=0300"), std::string::npos);
    EXPECT_NE(file.find("BXLN_ADDR=01020304"), std::string::npos);
    const Json j = ok_json({"show", "port", "Bus0"});
    EXPECT_EQ(j["bxln_control"], "ABCD");
    EXPECT_EQ(j["bxln_addr"], "01020304");
    EXPECT_FALSE(j.contains("connect_timeout"));

    // A program reading the record sees the values little-endian.
    PortRecord p;
    ASSERT_EQ(QDL_Get_Record(RECORD_PORT, "Bus0", &p), QDL_OK);
    EXPECT_EQ(p.bxln_control[0], 0xCD);
    EXPECT_EQ(p.bxln_control[1], 0xAB);
    EXPECT_EQ(p.bxln_port[0], 0x00);
    EXPECT_EQ(p.bxln_port[1], 0x03);
    EXPECT_EQ(p.bxln_addr[0], 0x04);
    EXPECT_EQ(p.bxln_addr[3], 0x01);
}

TEST_F(Qdlcfg, DeviceAddressKindFollowsTheOptionsGiven) {
    // One address: only its key, so more addresses can follow by further adds.
    ok({"add", "device", "Pump7", "--ip", "10.0.0.7"});
    ok({"add", "device", "Pump7", "--kwt-id", "P7"});
    fails(1, {"add", "device", "Pump7", "--ip", "10.0.0.8"});
    // Several addresses, or a default port / model: all at once, into a new section.
    ok({"add", "device", "Rec3", "--dest", "C40000", "--bxln", "19", "--model", "VR-3"});
    const std::string file = ini();
    EXPECT_NE(file.find("DEST_ADDR=00C40000"), std::string::npos);
    EXPECT_NE(file.find("BXLN_BUSADR=19"), std::string::npos);
    EXPECT_NE(file.find("DEVICE_MODEL=VR-3"), std::string::npos);
    const Json j = ok_json({"show", "device", "Pump7"});
    EXPECT_EQ(j["ip_addr"], "10.0.0.7");
    EXPECT_EQ(j["kwt_id"], "P7");
    EXPECT_TRUE(j["dest_addr"].is_null());

    // A device without an address would be invisible to `list`: refused before the library.
    fails(2, {"add", "device", "Ghost", "--model", "X"});
}

TEST_F(Qdlcfg, ModemRecordWithBreakFlag) {
    ok({"add", "modem", "Dial1", "--dial", "ATDT", "--location", "Head office", "--usedcanda",
        "yes", "--deviceid", "3", "--break", "off"});
    Json j = ok_json({"show", "modem", "Dial1"});
    EXPECT_EQ(j["modem_dial"], "ATDT");
    EXPECT_EQ(j["modem_location"], "Head office");
    EXPECT_EQ(j["modem_usedcanda"], "yes");
    EXPECT_EQ(j["modem_deviceid"], 3);
    EXPECT_EQ(j["modem_break"], "off");
    ok({"add", "modem", "Dial2", "--dial", "ATDP"});  // no --break: the flag reads as on
    j = ok_json({"show", "modem", "Dial2"});
    EXPECT_EQ(j["modem_break"], "on");
    EXPECT_EQ(j["modem_usedcanda"], "no");
}

TEST_F(Qdlcfg, ListGroupsAndKeyFilters) {
    ok({"add", "port", "LineA", "--type", "kwt-serial", "--baudrate", "9600"});
    ok({"add", "port", "LineB", "--type", "kwt-serial", "--baudrate", "19200"});
    ok({"add", "port", "Net", "--type", "tcpip-eth"});
    ok({"add", "device", "Meter", "--kwt-id", "M1"});
    ok({"add", "device", "Valve", "--bxln", "4"});
    ok({"add", "modem", "Dial", "--dial", "ATDT"});

    Json j = ok_json({"list"});
    EXPECT_EQ(j["ports"], Json::parse(R"(["LineA","LineB","Net"])"));
    EXPECT_EQ(j["devices"], Json::parse(R"(["Meter","Valve"])"));
    EXPECT_EQ(j["modems"], Json::parse(R"(["Dial"])"));

    j = ok_json({"list", "ports", "--key", "TYPE=KWT_SERIAL"});
    EXPECT_EQ(j, Json::parse(R"({"ports":["LineA","LineB"]})"));
    j = ok_json({"list", "ports", "--key", "TYPE=KWT_SERIAL", "--key", "BAUDRATE=19200"});
    EXPECT_EQ(j, Json::parse(R"({"ports":["LineB"]})"));
    j = ok_json({"list", "devices", "--key", "BXLN_BUSADR"});
    EXPECT_EQ(j, Json::parse(R"({"devices":["Valve"]})"));

    const std::string table = ok({"list", "modems"});
    EXPECT_EQ(table, "KIND   NAME\nmodem  Dial\n");
    fails(2, {"list", "--key", "A", "--key", "B", "--key", "C"});
    EXPECT_NE(fails(2, {"list", "--key", "=x"}).find("QDL_ERR_EMPTY_FILTER"), std::string::npos);
}

TEST_F(Qdlcfg, ListGrowsPastItsFirstCapacity) {
    Json doc = Json::parse(headed(R"({"ports": []})"));
    for (int i = 0; i < 150; ++i) {
        doc["ports"].push_back({{"name", 'P' + std::to_string(1000 + i)}, {"type", "vme"}});
    }
    EXPECT_EQ(ok_json({"import", "-"}, doc.dump())["added"], 150);
    const Json j = ok_json({"list", "ports"});
    ASSERT_EQ(j["ports"].size(), 150u);
    EXPECT_EQ(j["ports"][0], "P1000");
    EXPECT_EQ(j["ports"][149], "P1149");
}

TEST_F(Qdlcfg, LongImportDrawsProgressOnATerminal) {
    Json doc = Json::parse(headed(R"({"modems": []})"));
    for (int i = 0; i < 1001; ++i) {
        doc["modems"].push_back({{"name", 'M' + std::to_string(i)}, {"modem_dial", "ATDT"}});
    }
    const std::string file = machine.scratch_dir() + "/modems.json";
    qdltest::write_file(file, doc.dump());

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string terminal = ptsname(master);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, terminal.c_str(), O_RDWR | O_NOCTTY, 0);
    std::string arg0 = "qdlcfg", arg1 = "import", arg2 = file;
    char* argv[] = {arg0.data(), arg1.data(), arg2.data(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, QDLCFG_BINARY, &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::string shown(8192, '\0');
    fcntl(master, F_SETFL, O_NONBLOCK);
    const ssize_t n = read(master, shown.data(), shown.size());
    close(master);
    shown.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    EXPECT_NE(shown.find("qdlcfg: import: 1001/1001 records (100%)\r\n"), std::string::npos)
        << shown;
    EXPECT_EQ(ok_json({"list", "modems"})["modems"].size(), 1001u);
}

TEST_F(Qdlcfg, WritingVerbsAnswerInJson) {
    Json j = ok_json({"add", "port", "Net", "--type", "tcpip-eth"});
    EXPECT_EQ(j, Json::parse(R"({"kind":"port","name":"Net","result":"added"})"));
    j = ok_json({"set", "global", "--request-timeout", "50"});
    EXPECT_EQ(j["result"], "set");
    j = ok_json({"delete", "port", "Net"});
    EXPECT_EQ(j["result"], "deleted");
}

TEST_F(Qdlcfg, ListOnAMissingFileIsEmpty) {
    const Json j = ok_json({"list"});
    EXPECT_TRUE(j["ports"].empty());
    EXPECT_TRUE(j["devices"].empty());
    EXPECT_TRUE(j["modems"].empty());
}

TEST_F(Qdlcfg, DeleteKeepsRecordsThatShareTheSection) {
    ok({"add", "device", "Site", "--kwt-id", "S1"});
    ok({"add", "port", "Site", "--type", "vme"});
    const std::string err = fails(1, {"delete", "port", "Site"});
    EXPECT_NE(err.find("device"), std::string::npos) << err;
    EXPECT_NE(ini().find("KWT_ID=S1"), std::string::npos);  // nothing was deleted

    ok({"add", "device", "Site", "--ip", "10.1.1.1"});
    ok({"delete", "device", "Site", "--address", "kwt-id"});  // IP address left: section stays
    EXPECT_EQ(ini().find("KWT_ID"), std::string::npos);
    EXPECT_NE(ini().find("TYPE=VME_PORT"), std::string::npos);

    ok({"delete", "port", "Site", "--force"});
    EXPECT_EQ(ini().find("[Site]"), std::string::npos);
    // Deleting what is not there changes nothing and says so.
    const auto stamp = fs::last_write_time(machine.default_file());
    EXPECT_EQ(ok({"delete", "device", "Site"}), "device Site: already absent\n");
    EXPECT_EQ(ok_json({"delete", "device", "Site"})["result"], "already absent");
    EXPECT_EQ(fs::last_write_time(machine.default_file()), stamp);
}

TEST_F(Qdlcfg, SetGlobalChangesOnlyTheGivenFields) {
    ok({"set", "global", "--connect-timeout", "800"});
    ok({"set", "global", "--request-timeout", "900"});
    Json j = ok_json({"show", "global"});
    EXPECT_EQ(j["connect_timeout"], 800);
    EXPECT_EQ(j["request_timeout"], 900);
    ok({"set", "global", "--connect-timeout", "unset"});
    j = ok_json({"show", "global"});
    EXPECT_TRUE(j["connect_timeout"].is_null());
    EXPECT_EQ(j["request_timeout"], 900);
    ok({"delete", "global"});
    fails(1, {"show", "global"});
}

// ---- Failures ------------------------------------------------------------------------------

TEST_F(Qdlcfg, EachFailureHasItsExitCodeAndOneLine) {
    // 1: not found, refused by the library (with the status code and its meaning)
    std::string err = fails(1, {"show", "port", "Nope"});
    EXPECT_NE(err.find("-15 QDL_ERR_NOT_FOUND (the record is not present)"), std::string::npos);
    ok({"add", "port", "LineA", "--type", "vme"});
    err = fails(1, {"add", "port", "LineA", "--type", "vme"});
    EXPECT_NE(err.find("-4 QDL_ERR_EXISTS"), std::string::npos) << err;

    // 2: usage (command line, option values the tool checks before the library sees them)
    fails(2, {"frobnicate"});
    fails(2, {"add", "port", "X"});  // --type missing
    err = fails(2, {"add", "port", "X", "--type", "vme", "--baudrate", "9600"});
    EXPECT_NE(err.find("kwt-serial ports only"), std::string::npos) << err;
    fails(2, {"add", "port", "X", "--type", "kwt-serial", "--parity", "mark"});
    fails(2, {"add", "port", "X", "--type", "kwt-serial", "--baudrate", "70000"});
    fails(2, {"add", "port", "X", "--type", "tcpip-eth", "--connect-timeout", "10"});
    fails(2, {"add", "port", "X", "--type", "bxln-bus", "--bxln-control", "12345"});
    fails(2, {"add", "port", "X", "--type", "bxln-bus", "--bxln-control", "FFFF"});
    fails(2, {"add", "port", "1X", "--type", "vme"});
    fails(2, {"add", "port", "My Port", "--type", "vme"});
    fails(2, {"add", "device", "D", "--model", std::string(17, 'm'), "--kwt-id", "D"});
    fails(2, {"add", "modem", "M", "--dial", "?ATDT"});
    // What the listing would misread: a bracket in a value, '=' or a bracket in a name.
    fails(2, {"add", "modem", "M0", "--dial", "ATDT]9"});
    fails(2, {"add", "device", "D", "--model", "X]Y", "--kwt-id", "D"});
    fails(2, {"add", "port", "a=b", "--type", "vme"});
    fails(2, {"delete", "device", "D", "--address", "phone"});

    // 3: the configuration file cannot be written
    fs::remove_all(machine.windows_dir());
    qdltest::write_file(machine.windows_dir(), "not a directory");
    err = fails(3, {"add", "port", "LineB", "--type", "vme"});
    EXPECT_NE(err.find("-99 QDL_ERR_FILE"), std::string::npos) << err;
    EXPECT_NE(err.find("Not a directory"), std::string::npos) << err;  // the system's reason
    err = fails(3, {"import", "-"}, headed(R"({"ports": [{"name": "LineC", "type": "vme"}]})"));
    EXPECT_NE(err.find("QDL_ERR_FILE"), std::string::npos) << err;
    fails(3, {"import", machine.scratch_dir() + "/no-such.json"});
    fails(3, {"apply", "-"}, headed(R"({"ports": [{"name": "LineC", "type": "vme"}]})"));

    fails(3, {"import", machine.scratch_dir()});  // a directory
    // A document beyond 256 MiB, refused by its size; endless input once that much is read.
    const std::string big = machine.scratch_dir() + "/big.json";
    qdltest::write_file(big, "");
    fs::resize_file(big, (std::uintmax_t{256} << 20) + 1);  // sparse: costs no disk
    EXPECT_NE(fails(3, {"import", big}).find("larger than 256 MiB"), std::string::npos);
    fails(3, {"apply", "/dev/zero"});

    // A lock that another process holds: with --wait 0 the write fails at once, naming it.
    const std::string held = machine.scratch_dir() + "/held.ini";
    const int lock = open((held + ".lock").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_EQ(flock(lock, LOCK_EX), 0);
    err = fails(3, {"add", "port", "W", "--type", "vme", "--file", held, "--wait", "0"});
    EXPECT_NE(err.find("another process holds the lock on " + held + ".lock"), std::string::npos)
        << err;
    close(lock);

    // 4: an import document that does not validate, or is none
    qdltest::write_file(machine.scratch_dir() + "/bad.json", "{ not json");
    fails(4, {"import", machine.scratch_dir() + "/bad.json"});
    EXPECT_NE(fails(4, {"import", "-"}, "{}").find("not a configuration document"),
              std::string::npos);
    fails(4, {"import", "-"}, R"({"format": "tskqdl32-configuration"})");
    fails(4, {"import", "-"}, R"({"format": "tskqdl32-configuration", "version": 1, "ports":
                                 [{"name": "A", "type": "vme", "connect_timeout": 1e400}]})");
    // A member given twice would lose the first one (and a prune would delete its records).
    err = fails(4, {"apply", "--prune", "-"}, R"({"format": "tskqdl32-configuration", "version": 1,
        "ports": [{"name": "A", "type": "vme"}], "ports": []})");
    EXPECT_NE(err.find("\"ports\" is given twice"), std::string::npos) << err;
    fails(4, {"import", "-"}, R"({"format": "tskqdl32-configuration", "version": 1,
                                  "ports": [{"name": "A", "type": "vme", "type": "vme"}]})");
    // "absent" is for apply only, and never beside the same record in its list
    fails(4, {"import", "-"}, headed(R"({"absent": {"ports": ["X"]}})"));
    err = fails(4, {"apply", "-"}, headed(R"({"ports": [{"name": "X", "type": "vme"}],
                                              "absent": {"ports": ["x"]}})"));
    EXPECT_NE(err.find("absent.ports[0]: port x is also in ports"), std::string::npos) << err;
    fails(4, {"apply", "-"}, "{}");
}

TEST_F(Qdlcfg, UnknownVerbsAreNamedWithTheClosestOnes) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"lst"}, "usage: unknown verb 'lst' (did you mean 'list'?)\n"},
        {{"frobnicate"}, "usage: unknown verb 'frobnicate' (see qdlcfg help)\n"},
        {{"add", "prot", "X", "--type", "vme"}, "did you mean 'add port'?"},
        {{"delete"}, "missing verb after 'delete' (one of port, device, modem, global)"},
        {{"help", "nosuchverb"}, "help: unknown verb 'nosuchverb'"},
        // The value of a common option is no verb.
        {{"--file", "site.ini", "lst"}, "usage: unknown verb 'lst' (did you mean 'list'?)\n"},
        {{"--prefix", "/tmp"}, "usage: missing verb"},
    };
    for (const auto& [args, message] : cases) {
        const std::string err = fails(2, args);
        EXPECT_NE(err.find(message), std::string::npos) << err;
    }
}

TEST_F(Qdlcfg, JsonErrorsAreOneObjectWithTheSameExitCodes) {
    Json e = fails_json(1, {"show", "port", "Nope", "--json"});
    EXPECT_EQ(e["status"], QDL_ERR_NOT_FOUND);
    EXPECT_EQ(e["status_name"], "QDL_ERR_NOT_FOUND");
    e = fails_json(2, {"--json", "lst"});
    EXPECT_TRUE(e["status"].is_null() && e["status_name"].is_null());
    EXPECT_NE(e["message"].get<std::string>().find("'list'"), std::string::npos);
    fails_json(2, {"add", "port", "X", "--type", "vme", "--baudrate", "9600", "--json"});
    // A value the library itself refuses carries the status it would give, also when the tool
    // refuses it first.
    e = fails_json(2, {"add", "port", "X", "--type", "kwt-serial", "--port", "COM9", "--json"});
    EXPECT_EQ(e["status_name"], "QDL_ERR_BAD_PORT_NAME");
    e = fails_json(4, {"apply", "-", "--json"},
                   R"({"format": "tskqdl32-configuration", "version": 1,
                       "devices": [{"name": "D", "kwt_id": "-1"}]})");
    EXPECT_EQ(e["status"], QDL_ERR_BAD_KWT_ID);
    fails_json(3, {"import", "--json", machine.scratch_dir() + "/no-such.json"});
    // Many problems: still one object, each problem in its message.
    e = fails_json(4, {"import", "-", "--json"},
                   R"({"format": 2, "ports": [{"name": "1"}], "colour": "red"})");
    EXPECT_NE(e["message"].get<std::string>().find("unknown member"), std::string::npos);
}

TEST_F(Qdlcfg, HelpGoesToStdout) {
    Result r = run({"--help"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("export"), std::string::npos);
    EXPECT_EQ(r.err, "");
    r = run({"add", "port", "--help"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("--bxln-control"), std::string::npos);
    // The usage line names the program, not its path; help VERB is VERB --help.
    EXPECT_NE(r.out.find("Usage: qdlcfg add port [OPTIONS] NAME"), std::string::npos) << r.out;
    EXPECT_EQ(ok({"help", "add", "port"}), r.out);
    const std::string verbs = ok({"help"});
    for (const char* verb : {"help", "version", "import", "check"}) {
        EXPECT_NE(verbs.find("\n  " + std::string(verb) + " "), std::string::npos) << verb;
    }
}

// ---- Password ------------------------------------------------------------------------------

TEST_F(Qdlcfg, PasswordNeverAppearsInOutputOrArguments) {
    const std::string secret = "Zq7-uniquE-pass";
    Result r = run({"set", "global", "--password-stdin", "--connect-timeout", "700"},
                   secret + "\n");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.find(secret), std::string::npos);
    EXPECT_EQ(r.err.find(secret), std::string::npos);
    EXPECT_EQ(ini().find(secret), std::string::npos);  // stored scrambled

    for (const auto& args : std::vector<std::vector<std::string>>{
             {"show", "global"}, {"show", "global", "--json"}, {"export"}, {"list"}}) {
        r = run(args);
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.out.find(secret), std::string::npos) << args[0];
        EXPECT_EQ(r.err.find(secret), std::string::npos) << args[0];
    }
    EXPECT_TRUE(ok_json({"show", "global"})["password_set"].get<bool>());

    // Only an explicit export asks for it.
    EXPECT_EQ(Json::parse(ok({"export", "--with-password"}))["global"]["password"], secret);

    // No option takes a password, and the refusal does not echo the value.
    const std::string err = fails(2, {"set", "global", "--password", secret});
    EXPECT_EQ(err.find(secret), std::string::npos) << err;
    EXPECT_EQ(fails(2, {"set", "global", "--password=" + secret}).find(secret),
              std::string::npos);
    EXPECT_EQ(fails(2, {"set", "--password", secret, "global"}).find(secret), std::string::npos);

    // A later change of a time-out keeps the password.
    ok({"set", "global", "--request-timeout", "900"});
    EXPECT_TRUE(ok_json({"show", "global"})["password_set"].get<bool>());
    ok({"set", "global", "--no-password"});
    EXPECT_FALSE(ok_json({"show", "global"})["password_set"].get<bool>());

    // The reserved password would silently not be stored: refused, and not echoed.
    EXPECT_EQ(fails(2, {"set", "global", "--password-stdin"}, "vantrel\n").find("vantrel"),
              std::string::npos);
}

// ---- Transfer ------------------------------------------------------------------------------

TEST_F(Qdlcfg, DemoImportsAndExportsUnchanged) {
    const Json demo = Json::parse(qdltest::read_file(demo_path()));
    const Json report = ok_json({"import", demo_path()});
    const std::size_t records = demo["ports"].size() + demo["devices"].size() +
                                demo["modems"].size() + (demo["global"].is_null() ? 0 : 1);
    EXPECT_EQ(report["added"], records);
    EXPECT_EQ(report["refused"], 0);
    EXPECT_EQ(Json::parse(ok({"export"})), demo);
}

TEST_F(Qdlcfg, ExportImportExportIsTheSameDocument) {
    ok({"add", "device", "Shared", "--kwt-id", "S1", "--ip", "10.0.0.1"});
    ok({"add", "port", "Shared", "--type", "kwt-serial", "--port", "COM1"});
    ok({"add", "modem", "Shared", "--dial", "ATDT"});  // three kinds in one section
    ok({"add", "device", "Solo", "--dest", "1"});
    ok({"add", "modem", "Caf\xe9", "--dial", "ATDT"});  // a name that is not UTF-8
    ok({"set", "global", "--password-stdin", "--request-timeout", "0"}, "pw\n");
    const std::string first = ok({"export", "--with-password"});
    const Json doc = Json::parse(first);
    EXPECT_EQ(doc["modems"][0]["name"], Json::parse(R"({"hex":"436166E9"})"));

    machine.set_registry_path(machine.scratch_dir() + "/copy.ini");  // an empty file
    EXPECT_EQ(Json::parse(ok({"export"}))["ports"].size(), 0u);
    qdltest::write_file(machine.scratch_dir() + "/doc.json", first);
    ok({"import", machine.scratch_dir() + "/doc.json"});
    EXPECT_EQ(ok({"export", "--with-password"}), first);
}

TEST_F(Qdlcfg, ImportValidatesEverythingBeforeWriting) {
    const std::string doc = R"({
      "ports": [ {"name": "Good", "type": "vme"},
                 {"name": "Bad", "type": "vme", "baudrate": 9600} ],
      "devices": [ {"name": "D1", "kwt_id": "-x"}, {"name": "D2"} ],
      "modems": [ {"name": "M", "modem_dial": "ATDT", "colour": "red"},
                  {"name": "m", "modem_dial": "ATDP"} ],
      "global": {"connect_timeout": 10}
    })";
    const Result r = run({"import", "-"}, headed(doc));
    EXPECT_EQ(r.code, 4);
    EXPECT_EQ(r.out, "");
    for (const char* problem : {"ports[1]: baudrate applies to kwt-serial ports only",
                                "devices[0]: kwt_id:", "devices[1]: a device needs an address",
                                "modems[0]: unknown field \"colour\"", "appears twice",
                                "global: connect_timeout:"}) {
        EXPECT_NE(r.err.find(problem), std::string::npos) << problem << "\n" << r.err;
    }
    EXPECT_FALSE(qdltest::file_exists(machine.default_file()));  // not even "Good" was added
}

TEST_F(Qdlcfg, ImportIsAllOrNothingAndLeavesEqualRecordsAlone) {
    ok({"add", "port", "LineA", "--type", "tcpip-eth", "--connect-timeout", "100"});
    ok({"set", "global", "--password-stdin"}, "keepme\n");
    const std::string before = ini();
    const std::string doc = headed(R"({"ports": [ {"name": "LineA", "type": "vme"},
                                                  {"name": "LineB", "type": "vme"} ],
                                       "global": {"connect_timeout": 700}})");
    Result r = run({"import", "-", "--json"}, doc);
    EXPECT_EQ(r.code, 1);
    Json report = Json::parse(r.out);
    EXPECT_EQ(report["added"], 0);
    EXPECT_EQ(report["not_written"], 1);  // LineB: fine, but the import is one batch
    EXPECT_EQ(report["refused"], 2);
    EXPECT_EQ(report["records"][0]["name"], "LineA");
    EXPECT_EQ(report["records"][0]["status"], -4);
    EXPECT_EQ(report["records"][0]["status_name"], "QDL_ERR_EXISTS");
    EXPECT_NE(r.err.find("2 of 3 records refused, nothing was written"), std::string::npos)
        << r.err;
    EXPECT_EQ(ini(), before);

    report = ok_json({"import", "-", "--replace"}, doc);
    EXPECT_EQ(report["replaced"], 2);
    EXPECT_EQ(report["added"], 1);
    EXPECT_EQ(ok_json({"show", "port", "LineA"})["type"], "vme");
    const Json global = ok_json({"show", "global"});
    EXPECT_EQ(global["connect_timeout"], 700);
    EXPECT_TRUE(global["password_set"].get<bool>());  // a document without a password keeps it
    EXPECT_EQ(Json::parse(ok({"export", "--with-password"}))["global"]["password"], "keepme");

    // The same document again: nothing differs, nothing is written, with or without --replace.
    const auto stamp = fs::last_write_time(machine.default_file());
    for (const auto& args : {std::vector<std::string>{"import", "-", "--replace"},
                             std::vector<std::string>{"import", "-"}}) {
        report = ok_json(args, doc);
        EXPECT_EQ(report["unchanged"], 3);
        EXPECT_EQ(report["added"], 0);
        // Import never deletes: an empty global object asks for nothing.
        report = ok_json(args, headed(R"({"global": {}})"));
        EXPECT_EQ(report["records"][0]["result"], "unchanged");
    }
    EXPECT_EQ(fs::last_write_time(machine.default_file()), stamp);
    // Apply makes the global parameters equal to the object (the password only when given).
    ok({"apply", "-"}, headed(R"({"global": {}})"));
    EXPECT_TRUE(ok_json({"show", "global"})["connect_timeout"].is_null());
}

TEST_F(Qdlcfg, ImportingADeviceAddressTwiceAddsItOnce) {
    ok({"add", "device", "D", "--kwt-id", "K", "--model", "M1"});
    ok({"add", "port", "P", "--type", "vme", "--connect-timeout", "100"});
    const std::string doc = headed(R"({"devices": [{"name": "D", "ip_addr": "1.2.3.4"}]})");
    EXPECT_EQ(ok_json({"import", "-"}, doc)["added"], 1);  // the library adds the address
    const std::string once = ini();
    EXPECT_EQ(ok_json({"import", "-"}, doc)["unchanged"], 1);
    EXPECT_EQ(ini(), once);
    // A value that differs is still the library's to refuse, and so is a port given in part.
    for (const char* body : {R"({"devices": [{"name": "D", "ip_addr": "1.2.3.5"}]})",
                             R"({"ports": [{"name": "P", "type": "vme"}]})"}) {
        EXPECT_EQ(run({"import", "-"}, headed(body)).code, 1) << body;
    }
    EXPECT_EQ(ini(), once);
}

TEST_F(Qdlcfg, ReplaceKeepsTheRecordsThatShareTheSection) {
    ok({"add", "device", "Site", "--kwt-id", "S1", "--model", "M"});
    ok({"add", "port", "Site", "--type", "vme"});
    ok({"add", "modem", "Site", "--dial", "ATDT", "--break", "off"});
    const Json report = ok_json({"import", "-", "--replace"},
                                headed(R"({"ports": [ {"name": "Site", "type": "tcpip-eth"} ]})"));
    EXPECT_EQ(report["replaced"], 1);
    EXPECT_EQ(ok_json({"show", "port", "Site"})["type"], "tcpip-eth");
    EXPECT_EQ(ok_json({"show", "device", "Site"})["device_model"], "M");
    EXPECT_EQ(ok_json({"show", "modem", "Site"})["modem_break"], "off");
}

// ---- Apply, set, get -----------------------------------------------------------------------

TEST_F(Qdlcfg, ApplyWritesOnlyWhatDiffersCheckWritesNothingAndTwiceChangesNothing) {
    // With no file yet, a check leaves the folder empty: no file, no lock file.
    EXPECT_EQ(ok_json({"apply", "--check", demo_path()})["changed"], true);
    EXPECT_TRUE(std::filesystem::is_empty(machine.windows_dir()));
    ok({"import", demo_path()});
    Json doc = Json::parse(qdltest::read_file(demo_path()));
    doc["ports"][1]["baudrate"] = 19200;  // LineA
    doc["modems"].push_back({{"name", "Dial9"}, {"modem_dial", "ATDT9"}});
    doc["global"]["password"] = "Secret-9";
    const std::string text = doc.dump();
    const std::string before = ini();

    Json j = ok_json({"apply", "--check", "-"}, text);
    EXPECT_EQ(ini(), before);
    EXPECT_EQ(j, Json::parse(R"({"changed": true, "check": true, "changes": [
        {"action": "update", "kind": "port", "name": "LineA",
         "fields": {"baudrate": {"before": 9600, "after": 19200}}},
        {"action": "add", "kind": "modem", "name": "Dial9"},
        {"action": "update", "kind": "global", "name": null,
         "fields": {"password": {"before": null, "after": "<hidden>"}}}]})"));

    const std::string shown = ok({"apply", "--diff", "-"}, text);
    EXPECT_NE(shown.find("  baudrate: 9600 -> 19200\n"), std::string::npos) << shown;
    EXPECT_NE(shown.find("  modem_dial: unset -> ATDT9\n"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("Secret-9"), std::string::npos) << shown;
    EXPECT_EQ(ok({"get", "port", "LineA", "baudrate"}), "19200\n");

    struct stat first {}, second {};
    ASSERT_EQ(stat(machine.default_file().c_str(), &first), 0);
    EXPECT_EQ(ok_json({"apply", "-"}, text),
              Json::parse(R"({"changed": false, "check": false, "changes": []})"));
    ASSERT_EQ(stat(machine.default_file().c_str(), &second), 0);
    EXPECT_EQ(first.st_ino, second.st_ino);
    EXPECT_EQ(first.st_mtim.tv_nsec, second.st_mtim.tv_nsec);
    EXPECT_EQ(first.st_mtim.tv_sec, second.st_mtim.tv_sec);
}

TEST_F(Qdlcfg, ApplyPrunesAndDeletesAbsentRecordsButNotTheirNeighbours) {
    ok({"add", "port", "Site", "--type", "vme"});
    ok({"add", "modem", "Site", "--dial", "ATDT"});
    ok({"add", "port", "Old", "--type", "vme"});
    ok({"add", "device", "Dev", "--ip", "10.0.0.1"});
    const std::string doc = headed(R"({"ports": [{"name": "Site", "type": "vme"}],
                                       "absent": {"modems": ["SITE"], "devices": ["Nowhere"]}})");
    Json j = ok_json({"apply", "--prune", "-"}, doc);
    EXPECT_EQ(j["changes"], Json::parse(R"([
        {"action": "delete", "kind": "modem", "name": "Site"},
        {"action": "delete", "kind": "port", "name": "Old"}])"));
    EXPECT_EQ(ok_json({"show", "port", "Site"})["type"], "vme");
    EXPECT_EQ(ok_json({"list"}), Json::parse(R"({"ports": ["Site"], "devices": ["Dev"],
                                                 "modems": []})"));

    // A fleet's document with "modems": [] prunes only the kinds named, never a kept name;
    // --merge changes the fields it names and keeps the others.
    ok({"add", "modem", "Local", "--dial", "ATDT"});
    ok({"add", "port", "KeepMe", "--type", "vme"});
    ok({"add", "port", "Gone", "--type", "vme"});
    const std::string fleet = headed(R"({"ports": [{"name": "Site", "connect_timeout": 500}],
                                         "modems": []})");
    const Json pruned = ok_json({"apply", "--prune=ports", "--keep", "keep*", "--merge", "-"}, fleet);
    EXPECT_EQ(pruned["changes"].size(), 2u) << pruned;
    EXPECT_EQ(pruned["changes"][1], Json::parse(R"({"action": "delete", "kind": "port",
                                                    "name": "Gone"})"));
    j = ok_json({"show", "port", "Site"});
    EXPECT_EQ(j["type"], "vme");
    EXPECT_EQ(j["connect_timeout"], 500);
    EXPECT_EQ(ok_json({"list"})["modems"], Json::parse(R"(["Local"])"));
    EXPECT_EQ(ok_json({"apply", "--prune=ports", "--keep", "keep*", "--merge", "-"}, fleet)["changed"],
              false);
    fails(2, {"apply", "--prune=phones", "-"}, fleet);
    fails(4, {"apply", "-"}, fleet);  // without --merge a port needs its type
}

TEST_F(Qdlcfg, ApplyThatCannotKeepANeighbourWritesNothing) {
    qdltest::write_file(machine.default_file(),
                        "[Pump]\nTYPE=STEAM\nIP_ADDR=10.0.0.1\n"  // a port nothing can read
                        "[Site]\nTYPE=VME_PORT\nMODEM_RECORDNAME=A\n");
    const std::string before = ini();
    std::string err = fails(1, {"apply", "-"}, headed(R"({
        "ports": [{"name": "Fresh", "type": "vme"}],
        "devices": [{"name": "Pump", "ip_addr": "10.0.0.2"}]})"));
    EXPECT_NE(err.find("cannot be read"), std::string::npos) << err;
    EXPECT_NE(err.find("nothing was written"), std::string::npos) << err;
    // A port and a device of one section share the key MODEM_RECORDNAME: both cannot hold theirs.
    err = fails(1, {"apply", "-"}, headed(R"({
        "devices": [{"name": "Site", "ip_addr": "10.0.0.3", "modem_recordname": "B"}]})"));
    EXPECT_NE(err.find("the port Site that shares the section would read back with "
                       "modem_recordname B instead of A"), std::string::npos) << err;
    EXPECT_EQ(ini(), before);
}

TEST_F(Qdlcfg, SetChangesGivenFieldsAndGetPrintsOneValue) {
    ok({"add", "port", "LineA", "--type", "kwt-serial", "--port", "COM1", "--baudrate", "9600"});
    ok({"add", "modem", "LineA", "--dial", "ATDT"});
    EXPECT_EQ(ok({"set", "port", "LineA", "--baudrate", "19200", "--parity", "even"}),
              "set port LineA: parity unset -> even, baudrate 9600 -> 19200\n");
    EXPECT_EQ(ok({"get", "port", "LineA", "BAUDRATE"}), "19200\n");
    EXPECT_EQ(ok({"get", "modem", "linea", "modem_dial"}), "ATDT\n");  // kept in the section
    const auto stamp = fs::last_write_time(machine.default_file());
    EXPECT_EQ(ok({"set", "port", "LineA", "--parity", "even"}), "port LineA: no change\n");
    EXPECT_EQ(fs::last_write_time(machine.default_file()), stamp);

    // A field that is not set: exit 1 and nothing printed at all, as `git config --get`.
    const Result unset = run({"get", "port", "LineA", "stopbits"});
    EXPECT_EQ(unset.code, 1);
    EXPECT_EQ(unset.out + unset.err, "");
    const Result unset_json = run({"get", "port", "LineA", "stopbits", "--json"});
    EXPECT_EQ(unset_json.code, 1);
    EXPECT_EQ(unset_json.out, "null\n");
    EXPECT_EQ(ok_json({"get", "port", "LineA", "parity"}), "even");

    ok({"set", "port", "LineA", "--type", "vme", "--connect-timeout", "500"});
    EXPECT_EQ(run({"get", "port", "LineA", "baudrate"}).code, 1);  // not a field of vme ports
    EXPECT_EQ(ok({"get", "port", "LineA", "type"}), "vme\n");
    ok({"set", "modem", "LineA", "--location", "Depot", "--tapiline", ""});
    EXPECT_EQ(ok({"get", "port", "LineA", "connect_timeout"}), "500\n");
    // "unset" removes a text field as an empty text does; it is never stored as a text.
    EXPECT_EQ(ok({"set", "modem", "LineA", "--location", "unset"}),
              "set modem LineA: modem_location Depot -> unset\n");
    EXPECT_EQ(run({"get", "modem", "LineA", "modem_location"}).code, 1);
    ok({"add", "device", "D", "--kwt-id", "K"});
    EXPECT_NE(fails(2, {"set", "device", "D", "--kwt-id", "unset"}).find("address"),
              std::string::npos);
    EXPECT_EQ(ok({"get", "device", "D", "kwt_id"}), "K\n");
    // One field, three names (option, JSON key, INI key), in any letter case, everywhere.
    ok({"set", "device", "D", "--DEVICE_MODEL", "M1"});
    EXPECT_EQ(ok({"get", "device", "D", "model"}), "M1\n");
    ok({"set", "device", "D", "--device-model", "M2"});
    EXPECT_EQ(ok({"get", "device", "D", "Device_Model"}), "M2\n");
    EXPECT_EQ(ok_json({"list", "devices", "--key", "model=M2"})["devices"], Json::parse(R"(["D"])"));
    ok({"apply", "-"}, R"({"format": "tskqdl32-configuration", "version": 1,
                          "devices": [{"name": "D", "KWT_ID": "K", "model": "M3"}]})");
    EXPECT_EQ(ok({"get", "device", "D", "DEVICE_MODEL"}), "M3\n");
    EXPECT_NE(fails(2, {"get", "device", "D", "modle"}).find("did you mean device_model?"),
              std::string::npos);
    EXPECT_NE(fails(4, {"apply", "-"}, R"({"format": "tskqdl32-configuration", "version": 1,
                          "devices": [{"name": "D", "kwt_id": "K", "model": "A",
                                       "device_model": "B"}]})").find("given twice"),
              std::string::npos);

    ok({"set", "global", "--request-timeout", "700"});
    EXPECT_EQ(ok({"get", "global", "request_timeout"}), "700\n");
    EXPECT_EQ(ok({"get", "global", "password_set"}), "false\n");
    fails(2, {"get", "global", "password"});
    fails(2, {"get", "port", "LineA", "colour"});
    fails(2, {"set", "port", "LineA", "--baudrate", "9600"});  // not a vme field
    fails(2, {"set", "port", "LineA"});
    fails(1, {"get", "port", "Nope", "type"});
    fails(1, {"set", "device", "Nope", "--ip", "10.0.0.9"});
}

// An administrator's file: comments, blank lines, keys of other programs, lower-case spelling,
// CR LF. Every verb that changes records changes only the lines of the fields that differ.
TEST_F(Qdlcfg, EditsKeepEveryLineTheyDoNotChange) {
    const std::string site =
        "; site file, keep\r\n"
        "[LineA]\r\n"
        "; modem on the left rack\r\n"
        "PORT=COM1\r\n"
        "TYPE=KWT_SERIAL\r\n"
        "parity=EVEN\r\n"
        "BAUDRATE=9600\r\n"
        "VENDOR_TUNING=7\r\n"
        "MODEM_DIAL=ATDT1\r\n"
        "\r\n"
        "[Global_Parameters]\r\n"
        "; ops team\r\n"
        "CONNECT_TIMEOUT=800\r\n"
        "[Pump]\r\n"
        "# pump house\r\n"
        "TYPE=VME_PORT\r\n";
    auto with = [&](std::string text, const std::vector<std::pair<std::string, std::string>>& edits) {
        for (const auto& [from, to] : edits) text.replace(text.find(from), from.size(), to);
        return text;
    };
    qdltest::write_file(machine.default_file(), site);

    EXPECT_EQ(ok({"set", "port", "LineA", "--baudrate", "38400"}),
              "set port LineA: baudrate 9600 -> 38400\n");
    std::string want = with(site, {{"BAUDRATE=9600", "BAUDRATE=38400"}});
    EXPECT_EQ(ini(), want);

    // The document is what export gives, with one baud rate changed back.
    Json doc = ok_json({"export"});
    doc["ports"][0]["baudrate"] = 9600;
    doc["ports"][0]["stopbits"] = 2;
    const std::string shown = ok({"apply", "--diff", "-"}, doc.dump());
    EXPECT_NE(shown.find("@@ [LineA]\n-BAUDRATE=38400\n+BAUDRATE=9600\n+STOPBITS=2\n"),
              std::string::npos) << shown;
    want = with(site, {{"ATDT1\r\n", "ATDT1\r\nSTOPBITS=2\r\n"}});
    EXPECT_EQ(ini(), want);

    ok({"set", "global", "--request-timeout", "900"});
    want = with(want, {{"CONNECT_TIMEOUT=800\r\n", "CONNECT_TIMEOUT=800\r\nREQUEST_TIMEOUT=900\r\n"}});
    EXPECT_EQ(ini(), want);

    // A port that changes its type loses the keys of the old type, and nothing else; the
    // global parameters of the document (exported before) hold no request time-out.
    doc["ports"][0] = {{"name", "LineA"}, {"type", "vme"}};
    ok({"import", "--replace", "-"}, doc.dump());
    want = with(want, {{"PORT=COM1\r\n", ""}, {"TYPE=KWT_SERIAL", "TYPE=VME_PORT"},
                       {"parity=EVEN\r\n", ""}, {"BAUDRATE=9600\r\n", ""}, {"STOPBITS=2\r\n", ""},
                       {"REQUEST_TIMEOUT=900\r\n", ""}});
    EXPECT_EQ(ini(), want);

    // A record that goes from a shared section takes only its own keys.
    ok({"apply", "-"}, headed(R"({"absent": {"modems": ["LineA"]}})"));
    EXPECT_EQ(ini(), with(want, {{"MODEM_DIAL=ATDT1\r\n", ""}}));
}

// ---- Check ---------------------------------------------------------------------------------

TEST_F(Qdlcfg, CheckFindsEachProblemOnItsLine) {
    const std::string text =
        "[Good]\n"                          // 1
        "TYPE=TCPIP_ETH\n"                  // 2
        "[BadType]\n"                       // 3
        "TYPE=tcpip_eth\n"                  // 4  unknown-type
        "[Bus]\n"                           // 5
        "TYPE=BXLN_BUS\n"                   // 6
        "BXLN_CONTROL=ZZ12\n"               // 7  bad-hex (non-digits)
        "BXLN_ADDR=123\n"                   // 8  bad-hex (length)
        "[Dev]\n"                           // 9
        "KWT_ID=" + std::string(70, 'k') + "\n"  // 10 long-value
        "[GOOD]\n"                          // 11 duplicate-section
        "TYPE=VME_PORT\n"                   // 12
        "[9Lives]\n"                        // 13 bad-name
        "KWT_ID=A1\n"                       // 14
        "[Long]\n"                          // 15
        "MODEM_DIAL=" + std::string(120, '1') + "\n"  // 16 long-line (and long-value)
        "[Shared]\n"                        // 17 shared-section
        "TYPE=VME_PORT\n"                   // 18
        "IP_ADDR=10.0.0.1\n"                // 19
        "[Twice]\n"                         // 20
        "TYPE=VME_PORT\n"                   // 21
        "type=VME\n"                        // 22 duplicate-key (its value is never read)
        "[twice]\n"                         // 23 duplicate-section
        "TYPE=VME\n"                        // 24 never read
        // Lines the listing reads otherwise than record reads do; the tool lists them all.
        "[M0]\n"                            // 25
        "MODEM_DIAL=ATDT]9\n"               // 26 bracket-value
        "[P2]\rTYPE=VME_PORT\n"             // 27 lone-cr, 28
        "[a=b]\n"                           // 29 name-listing
        "TYPE=VME_PORT\n";                  // 30
    qdltest::write_file(machine.default_file(), text);
    const Result r = run({"check", "--json"});
    EXPECT_EQ(r.code, 1);
    const Json j = Json::parse(r.out);
    EXPECT_FALSE(j["clean"].get<bool>());
    std::multiset<std::pair<int, std::string>> found;
    for (const Json& p : j["problems"]) found.emplace(p["line"], p["problem"]);
    const std::multiset<std::pair<int, std::string>> expected{
        {4, "unknown-type"},  {7, "bad-hex"},         {8, "bad-hex"},
        {10, "long-value"},   {11, "duplicate-section"}, {13, "bad-name"},
        {16, "long-line"},    {16, "long-value"},     {17, "shared-section"},
        {22, "duplicate-key"}, {23, "duplicate-section"}, {26, "bracket-value"},
        {27, "lone-cr"},      {29, "name-listing"}};
    EXPECT_EQ(found, expected) << r.out;

    // The human form lists the same problems and counts them.
    const Result table = run({"check"});
    EXPECT_EQ(table.code, 1);
    EXPECT_NE(table.out.find("14 problem(s)"), std::string::npos) << table.out;

    // Every record that show reads is listed and exported, however the listing reads it.
    const Json listed = ok_json({"list"});
    EXPECT_EQ(listed["modems"], Json::parse(R"(["Long", "M0"])"));
    EXPECT_EQ(listed["ports"], Json::parse(R"(["BadType", "Bus", "Good", "P2", "Shared",
                                                "Twice", "a=b"])"));
    EXPECT_EQ(ok_json({"show", "modem", "M0"})["modem_dial"], "ATDT]9");
    // export holds each of them; the one port that no read can take fails it, by name.
    const Result exported = run({"export"});
    EXPECT_EQ(exported.code, 1);
    EXPECT_EQ(Json::parse(exported.out)["modems"][1]["modem_dial"], "ATDT]9");
    EXPECT_NE(exported.err.find("port BadType left out"), std::string::npos) << exported.err;
}

// What breaks a host rather than the file's reading: warnings (errors with --strict), and the
// verbs that write such a value say so without refusing it.
TEST_F(Qdlcfg, CheckWarnsOfWhatBreaksAHost) {
    qdltest::write_file(machine.default_file(),
                        "[Pump]\n"                         // 1
                        "IP_ADDR=hello\n"                  // 2 bad-address
                        "DEFAULT_PORT=Nowhere\n"           // 3 dangling-reference
                        "ASSOC_DEVICE=pump\n"              // 4 (itself, letter case aside)
                        "[Line]\n"                         // 5
                        "TYPE=VME_PORT\n"                  // 6
                        "MODEM_RECORDNAME=NoModem\n");     // 7 dangling-reference
    ok({"set", "global", "--password-stdin"}, "Secret-1\n");  // 8, 9: readable-password
    fs::permissions(machine.default_file(), fs::perms::others_read, fs::perm_options::add);
    const Result r = run({"check", "--json"});
    EXPECT_EQ(r.code, 0) << r.out;
    const Json j = Json::parse(r.out);
    EXPECT_TRUE(j["clean"].get<bool>());
    std::set<std::pair<int, std::string>> found;
    for (const Json& p : j["problems"]) {
        EXPECT_EQ(p["severity"], "warning");
        found.emplace(p["line"], p["problem"]);
    }
    EXPECT_EQ(found, (std::set<std::pair<int, std::string>>{{2, "bad-address"},
                                                            {3, "dangling-reference"},
                                                            {7, "dangling-reference"},
                                                            {9, "readable-password"}}));
    EXPECT_EQ(run({"check", "--strict"}).code, 1);
    fs::permissions(machine.default_file(), fs::perms::others_read, fs::perm_options::remove);
    EXPECT_EQ(Json::parse(run({"check", "--json"}).out)["problems"].size(), 3u);

    const Result added = run({"add", "device", "Meter", "--ip", "10.1.2.300"});
    EXPECT_EQ(added.code, 0);
    EXPECT_EQ(added.err, "qdlcfg: warning: Meter IP_ADDR: \"10.1.2.300\" is neither an IPv4 "
                         "address nor a dotted host name\n");
    ok({"add", "device", "Valve", "--ip", "plc7.plant.example", "--default-port", "Line"});
}

// The promise of check: a file it calls clean survives export | import --replace into an empty
// machine with every record as it was. Tried on the profile parser's fuzz corpus and on the
// odd files of the cases above.
TEST_F(Qdlcfg, WhatCheckCallsCleanSurvivesExportAndImport) {
    std::vector<std::pair<std::string, bool>> files;  // the text, and code page 932
    for (const auto& entry : fs::directory_iterator(std::string(QDL_FUZZ_CORPUS) + "/profile")) {
        const std::string input = qdltest::read_file(entry.path());
        if (input.size() < 3) continue;
        const std::size_t size = static_cast<unsigned char>(input[1]) |
                                 static_cast<std::size_t>(static_cast<unsigned char>(input[2])) << 8;
        files.emplace_back(input.substr(3, size), (input[0] & 1) != 0);
    }
    files.emplace_back("[P1]\nTYPE=KWT_SERIAL\nPORT=COM3\nBAUDRATE=009600\nparity=ODD\n"
                       "[Dev]\nKWT_ID=<NULL>\nDEFAULT_PORT=P1\nip_addr=10.0.0.1\n"
                       "[M]\nMODEM_DIAL=\"ATDT 5\"\nMODEM_BREAK=0\n[Global_Parameters]\n"
                       "CONNECT_TIMEOUT=49\nREQUEST_TIMEOUT=63001\n",
                       false);
    const std::string registry = ok_json({"where"})["registry_file"];
    int clean = 0;
    for (const auto& [text, cp932] : files) {
        SCOPED_TRACE(text);
        qdltest::write_file(registry, cp932 ? "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\"
                                              "Control\\Nls\\CodePage]\nACP=932\n"
                                            : "");
        qdltest::write_file(machine.default_file(), text);
        const Result checked = run({"check", "--json"});
        if (checked.code != 0) continue;
        ++clean;
        const Result exported = run({"export", "--with-password"});
        ASSERT_EQ(exported.code, 0) << exported.err << checked.out;
        const std::string other = machine.scratch_dir() + "/empty-" + std::to_string(clean);
        fs::create_directories(other);
        qdltest::write_file(other + "/registry.ini", qdltest::read_file(registry));
        const Result imported = run({"import", "--replace", "-", "--prefix", other}, exported.out);
        ASSERT_EQ(imported.code, 0) << imported.err << exported.out;
        const Result again = run({"export", "--with-password", "--prefix", other});
        EXPECT_EQ(Json::parse(again.out), Json::parse(exported.out));
    }
    EXPECT_GT(clean, 2);
}

TEST_F(Qdlcfg, CheckPassesWhatTheToolWrites) {
    ok({"import", demo_path()});
    EXPECT_NE(ok({"check"}).find("no problems"), std::string::npos);
    EXPECT_TRUE(ok_json({"check"})["clean"].get<bool>());
    // No file is an empty one, as for every other call: nothing to check. A directory is no file.
    fs::remove(machine.default_file());
    EXPECT_NE(ok({"check"}).find("does not exist"), std::string::npos);
    const Json j = ok_json({"check"});
    EXPECT_TRUE(j["clean"].get<bool>() && !j["exists"].get<bool>());
    fs::create_directory(machine.default_file());
    fails(3, {"check"});
    // A record read finds nothing in it; that is the file's fault, not a missing record.
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"show", "port", "Net1"}, {"get", "port", "Net1", "type"}, {"show", "global"}}) {
        EXPECT_NE(fails(3, args).find("cannot open " + machine.default_file()), std::string::npos);
    }
}

// ---- Odd files -----------------------------------------------------------------------------

TEST_F(Qdlcfg, FifosAreNeverWaitedOn) {
    ASSERT_EQ(mkfifo(machine.default_file().c_str(), 0666), 0);
    EXPECT_NE(fails(3, {"list"}).find("QDL_ERR_FILE"), std::string::npos);
    fails(3, {"check"});
    fails(3, {"show", "port", "Net"});
    qdltest::remove_file(machine.default_file());
    // A registry file that is a FIFO reads as none.
    ASSERT_EQ(mkfifo((machine.scratch_dir() + "/prefix/registry.ini").c_str(), 0666), 0);
    const Json j = ok_json({"where"});
    EXPECT_EQ(j["file"], machine.default_file());
    EXPECT_EQ(j["registry_note"], "no registry value");
    ok({"add", "port", "Net", "--type", "vme"});
    EXPECT_NE(ini().find("[Net]"), std::string::npos);
}

// --legacy: the legacy library's file (the registry aside), its rules and its bytes: the file
// the tool writes is the one the legacy library's own adds write.
TEST_F(Qdlcfg, LegacyWritesWhatTheLegacyLibraryWrites) {
    machine.set_registry_path("plant.ini");  // current hosts; legacy hosts read tsk_cfg.ini
    EXPECT_EQ(ok_json({"--legacy", "where"})["file"], machine.default_file());
    const std::string doc = headed(R"({
        "ports": [{"name": "Line", "type": "kwt-serial", "port": "COM2", "modem_dial": "0123",
                   "baudrate": 9600, "connect_timeout": 100},
                  {"name": "Bus", "type": "bxln-bus", "bxln_channel": 3, "bxln_addr": "000C8000"}],
        "devices": [{"name": "Meter", "kwt_id": "K7", "default_port": "Line"}]})");
    ok({"--legacy", "import", "-"}, doc);
    const std::string written = ini();
    EXPECT_NE(written.find("MODEM_DIAL=0123"), std::string::npos) << written;
    EXPECT_FALSE(fs::exists(machine.windows_dir() + "/plant.ini"));
    EXPECT_EQ(ok_json({"--legacy", "apply", "-"}, doc)["changed"], false);
    EXPECT_EQ(Json::parse(ok({"--legacy", "export"}))["library"], "QDL Version 1.01 (03a1)");

    qdltest::remove_file(machine.default_file());
    void* legacy = dlopen(QDL_LEGACY_SO, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(legacy, nullptr) << dlerror();
    auto add = reinterpret_cast<int (*)(int, void*)>(dlsym(legacy, "QDL_Add_Record"));
    DeviceRecord meter;
    std::memset(&meter, 0xFF, sizeof meter);
    std::memset(meter.ip_addr, 0, sizeof meter.ip_addr);
    std::memset(meter.device_model, 0, sizeof meter.device_model);
    std::snprintf(meter.name, sizeof meter.name, "Meter");
    std::snprintf(meter.kwt_id, sizeof meter.kwt_id, "K7");
    std::snprintf(meter.default_port, sizeof meter.default_port, "Line");
    meter.address_kind = ADDRESS_ALL;
    LegacyPortRecord line, bus;
    for (LegacyPortRecord* p : {&line, &bus}) {
        std::memset(p, 0xFF, sizeof *p);
        std::memset(p->port, 0, sizeof p->port);
        std::memset(p->modem_dial, 0, sizeof p->modem_dial);
        std::memset(p->bxln_pn, 0, sizeof p->bxln_pn);
    }
    std::snprintf(line.name, sizeof line.name, "Line");
    line.port_type = PORT_KWT_SERIAL;
    std::snprintf(line.port, sizeof line.port, "COM2");
    std::snprintf(line.modem_dial, sizeof line.modem_dial, "0123");
    line.baudrate = 9600;
    line.connect_timeout = 100;
    std::snprintf(bus.name, sizeof bus.name, "Bus");
    bus.port_type = PORT_BXLN_BUS;
    bus.bxln_channel = 3;
    const unsigned char addr[4] = {0x00, 0x80, 0x0C, 0x00};
    std::memcpy(bus.bxln_addr, addr, 4);
    EXPECT_EQ(add(RECORD_DEVICE, &meter), QDL_OK);
    EXPECT_EQ(add(RECORD_PORT, &line), QDL_OK);
    EXPECT_EQ(add(RECORD_PORT, &bus), QDL_OK);
    dlclose(legacy);
    EXPECT_EQ(ini(), written);

    // What the legacy library has not: modem records, extension fields, a time-out of 0 (it
    // would read back as 50).
    fails(2, {"--legacy", "add", "modem", "Dial", "--dial", "1"});
    fails(2, {"--legacy", "list", "modems"});
    fails(2, {"--legacy", "add", "port", "Net", "--type", "vme", "--connect-timeout", "0"});
    EXPECT_NE(fails(4, {"--legacy", "import", "-"},
                    headed(R"({"ports": [{"name": "Net", "type": "vme",
                                          "modem_recordname": "Dial"}]})"))
                  .find("have no field modem_recordname"),
              std::string::npos);
    EXPECT_EQ(ini(), written);
}

// ---- Pipe ----------------------------------------------------------------------------------

TEST_F(Qdlcfg, ClosedPipeEndsQuietly) {
    ok({"import", demo_path()});
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);  // nobody will read
    const std::string err_path = machine.scratch_dir() + "/pipe-stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT, 0600);
    char arg0[] = "qdlcfg", arg1[] = "export";
    char* argv[] = {arg0, arg1, nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, QDLCFG_BINARY, &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(qdltest::read_file(err_path), "");
}

}  // namespace
