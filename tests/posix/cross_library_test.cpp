// cross_library_test.cpp - the current and the legacy library on one file. Each step runs in a
// child process that loads one of the two shared libraries, as two programs would.
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "support/test_env.h"
#include "tskqdl32.h"

namespace {

struct Library {
    int (*add)(int, void*);
    int (*get)(int, const char*, void*);
    int (*remove)(int, int, const char*);
    int (*add_ex)(int, void*);  // null in the legacy library
};

// Runs step in a child process against the library at `path`; returns the step's result
// (0 for success, another small number naming what went wrong), or 100+ for a load failure.
int in_child(const char* path, const std::function<int(const Library&)>& step) {
    const pid_t pid = fork();
    if (pid == 0) {
        void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) _exit(100);
        Library lib{};
        lib.add = reinterpret_cast<int (*)(int, void*)>(dlsym(handle, "QDL_Add_Record"));
        lib.get = reinterpret_cast<int (*)(int, const char*, void*)>(
            dlsym(handle, "QDL_Get_Record"));
        lib.remove = reinterpret_cast<int (*)(int, int, const char*)>(
            dlsym(handle, "QDL_Delete_Record"));
        lib.add_ex = reinterpret_cast<int (*)(int, void*)>(dlsym(handle, "QDL_Add_Record_Ex"));
        if (lib.add == nullptr || lib.get == nullptr || lib.remove == nullptr) _exit(101);
        _exit(step(lib));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 200;
}

LegacyPortRecord legacy_serial(const char* name, const char* dial) {
    LegacyPortRecord p;
    std::memset(&p, 0xFF, sizeof p);
    std::strcpy(p.name, name);
    p.port_type = PORT_KWT_SERIAL;
    std::strcpy(p.port, "COM1");
    std::strcpy(p.modem_dial, dial);
    p.bxln_pn[0] = '\0';
    return p;
}

class CrossLibrary : public ::testing::Test {
protected:
    qdltest::Machine machine;
};

TEST_F(CrossLibrary, LegacySerialPortWithDialStringIsAModemToTheCurrentLibrary) {
    ASSERT_EQ(in_child(QDL_LEGACY_SO, [](const Library& lib) {
                  LegacyPortRecord p = legacy_serial("Line1", "ATDT555");
                  return lib.add(RECORD_PORT, &p) == QDL_OK ? 0 : 1;
              }),
              0);
    EXPECT_EQ(in_child(QDL_CURRENT_SO, [](const Library& lib) {
                  PortRecord p;
                  std::memset(&p, 0xCC, sizeof p);
                  if (lib.get(RECORD_PORT, "Line1", &p) != QDL_OK) return 1;
                  if (std::strcmp(p.modem_dial, "ATDT555") != 0) return 2;
                  if (std::strcmp(p.port, "COM1") != 0) return 3;
                  ModemRecord m;
                  std::memset(&m, 0xCC, sizeof m);
                  if (lib.get(RECORD_MODEM, "Line1", &m) != QDL_OK) return 4;
                  return std::strcmp(m.modem_dial, "ATDT555") == 0 ? 0 : 5;
              }),
              0);
}

TEST_F(CrossLibrary, CurrentOnlyKeysSurviveLegacyWritesAndGoWithItsDeletes) {
    ASSERT_EQ(in_child(QDL_CURRENT_SO, [](const Library& lib) {
                  PortRecordEx p;
                  std::memset(&p, 0xFF, sizeof p);
                  std::strcpy(p.base.name, "Shared");
                  p.base.port_type = PORT_TCPIP_ETH;
                  std::strcpy(p.modem_recordname, "Dialer");
                  return lib.add_ex(RECORD_PORT, &p) == QDL_OK ? 0 : 1;
              }),
              0);
    // The legacy library adds a device key to the same section and a port elsewhere.
    ASSERT_EQ(in_child(QDL_LEGACY_SO, [](const Library& lib) {
                  if (lib.add_ex != nullptr) return 9;
                  DeviceRecord d;
                  std::memset(&d, 0xFF, sizeof d);
                  std::strcpy(d.name, "Shared");
                  d.address_kind = ADDRESS_KWT_ID;
                  std::strcpy(d.kwt_id, "K1");
                  if (lib.add(RECORD_DEVICE, &d) != QDL_OK) return 1;
                  LegacyPortRecord p = legacy_serial("Other", "");
                  return lib.add(RECORD_PORT, &p) == QDL_OK ? 0 : 2;
              }),
              0);
    std::string text = qdltest::read_file(machine.default_file());
    EXPECT_NE(text.find("MODEM_RECORDNAME=Dialer"), std::string::npos) << text;
    EXPECT_NE(text.find("KWT_ID=K1"), std::string::npos) << text;

    ASSERT_EQ(in_child(QDL_LEGACY_SO, [](const Library& lib) {
                  return lib.remove(RECORD_PORT, 0, "Shared") == QDL_OK ? 0 : 1;
              }),
              0);
    text = qdltest::read_file(machine.default_file());
    EXPECT_EQ(text.find("MODEM_RECORDNAME"), std::string::npos) << text;
    EXPECT_EQ(text.find("[Shared]"), std::string::npos) << text;
    EXPECT_NE(text.find("[Other]"), std::string::npos) << text;
}

TEST_F(CrossLibrary, OlderSerialTypeWordReadsOnlyInTheCurrentLibrary) {
    qdltest::write_file(machine.default_file(), "[Old]\nTYPE=kbRT_KWT_SERIAL\nPORT=COM2\n");
    EXPECT_EQ(in_child(QDL_CURRENT_SO, [](const Library& lib) {
                  PortRecord p;
                  std::memset(&p, 0, sizeof p);
                  if (lib.get(RECORD_PORT, "Old", &p) != QDL_OK) return 1;
                  return p.port_type == PORT_KWT_SERIAL ? 0 : 2;
              }),
              0);
    EXPECT_EQ(in_child(QDL_LEGACY_SO, [](const Library& lib) {
                  LegacyPortRecord p;
                  std::memset(&p, 0, sizeof p);
                  return lib.get(RECORD_PORT, "Old", &p) == QDL_ERR_BAD_PORT_TYPE ? 0 : 1;
              }),
              0);
}

}  // namespace
