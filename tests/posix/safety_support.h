// safety_support.h - what the crash, concurrency, full-disk and outside-edit tests share:
//
//   scale / seed        run counts (smaller under AddressSanitizer, where forks are slow) and the
//                       seed of every random choice (QDL_SAFETY_SEED overrides it; failures print
//                       it)
//   records             serial ports, devices and modems whose every field follows from their
//                       name, and the checks that a record read back is that record, whole
//   file checks         the sections of a file as plain text, the keys each record kind writes,
//                       and the files beside the configuration file (temporary leftovers)
//   children            a forked child whose exit code carries a check's result
//   fixture             the configuration file in a directory of its own
//   outside edits       a change made to the file behind the library's back, keeping its times
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/ini_text.h"
#include "support/test_env.h"
#include "tskqdl32.h"

namespace safety {

// ---- Scale and seed ------------------------------------------------------------------------

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif

// `normal`, or `sanitized` in an AddressSanitizer build.
constexpr int scaled(int normal, int sanitized) { return kSanitized ? sanitized : normal; }

inline unsigned seed() {
    const char* s = std::getenv("QDL_SAFETY_SEED");
    return s != nullptr && *s != '\0' ? static_cast<unsigned>(std::strtoul(s, nullptr, 0))
                                      : 20240611u;
}

// ---- Records whose fields follow from their names --------------------------------------------

inline unsigned name_hash(const std::string& name) {
    unsigned h = 2166136261u;
    for (unsigned char c : name) h = (h ^ c) * 16777619u;
    return h;
}

inline void set_text(char* field, std::size_t width, const std::string& text) {
    std::memset(field, 0, width);
    std::memcpy(field, text.data(), std::min(text.size(), width - 1));
}

// 32-bit fields of packed records lie on 2-byte boundaries: copied, never referenced.
inline std::uint32_t field32(const void* record, std::size_t offset) {
    std::uint32_t v;
    std::memcpy(&v, static_cast<const char*>(record) + offset, sizeof v);
    return v;
}
inline void set_field32(void* record, std::size_t offset, std::uint32_t v) {
    std::memcpy(static_cast<char*>(record) + offset, &v, sizeof v);
}

// The 32-bit fields of a serial port that an add writes as numbers, modem_turn first.
inline constexpr std::size_t kPortNumbers[] = {
    offsetof(PortRecord, modem_turn), offsetof(PortRecord, kwt_t1),
    offsetof(PortRecord, kwt_t2),     offsetof(PortRecord, kwt_t3),
    offsetof(PortRecord, kwt_t3p),    offsetof(PortRecord, kwt_t3pp),
    offsetof(PortRecord, kwt_t4),     offsetof(PortRecord, kwt_t5),
    offsetof(PortRecord, kwt_t5p),    offsetof(PortRecord, kwt_t5pp),
    offsetof(PortRecord, connect_timeout), offsetof(PortRecord, request_timeout)};

// A serial port with every field set: the add writes 18 keys.
inline PortRecord serial_port(const std::string& name) {
    const unsigned h = name_hash(name);
    PortRecord p;
    std::memset(&p, 0xFF, sizeof p);
    set_text(p.name, sizeof p.name, name);
    p.port_type = PORT_KWT_SERIAL;
    set_text(p.port, sizeof p.port, "COM" + std::to_string(1 + h % 4));
    set_text(p.modem_dial, sizeof p.modem_dial, "");
    p.stopbits = static_cast<std::uint16_t>(1 + h % 2);
    p.parity = static_cast<std::uint16_t>(1 + h % 3);
    p.baudrate = static_cast<std::uint16_t>(1200u << (h % 5));
    for (std::size_t i = 0; i < std::size(kPortNumbers); ++i) {
        // Time-outs (the last two) lie in 50..63000 and are stored as they are.
        set_field32(&p, kPortNumbers[i], 50 + 100 * static_cast<std::uint32_t>(i) + h % 97);
    }
    p.multisess = static_cast<std::uint16_t>(h % 2);
    set_text(p.bxln_pn, sizeof p.bxln_pn, "");
    return p;
}

inline constexpr int kSerialPortKeys = 18;

inline ::testing::AssertionResult same_port(const PortRecord& got, const PortRecord& want) {
    std::string diff;
    if (std::strcmp(got.name, want.name) != 0) diff += " name";
    if (got.port_type != want.port_type) diff += " port_type";
    if (std::strcmp(got.port, want.port) != 0) diff += " port";
    if (got.stopbits != want.stopbits) diff += " stopbits";
    if (got.parity != want.parity) diff += " parity";
    if (got.baudrate != want.baudrate) diff += " baudrate";
    for (std::size_t i = 0; i < std::size(kPortNumbers); ++i) {
        if (field32(&got, kPortNumbers[i]) != field32(&want, kPortNumbers[i])) {
            diff += " number@" + std::to_string(kPortNumbers[i]);
        }
    }
    if (got.multisess != want.multisess) diff += " multisess";
    if (diff.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "port " << want.name << " differs in" << diff;
}

// A device with every address, its default port and model: the add (address kind 6) writes 6
// keys.
inline DeviceRecord full_device(const std::string& name) {
    const unsigned h = name_hash(name);
    DeviceRecord d;
    std::memset(&d, 0, sizeof d);
    set_text(d.name, sizeof d.name, name);
    d.address_kind = ADDRESS_ALL;
    d.bxln_busadr = static_cast<std::uint16_t>(h % 60000);
    std::memcpy(d.dest_addr, &h, 4);
    set_text(d.ip_addr, sizeof d.ip_addr, std::string("10.0.").append(std::to_string(h % 250)) + ".1");
    set_text(d.kwt_id, sizeof d.kwt_id, 'K' + std::to_string(h % 100000));
    set_text(d.default_port, sizeof d.default_port, "Port" + std::to_string(h % 7));
    set_text(d.device_model, sizeof d.device_model, "Model" + std::to_string(h % 13));
    return d;
}

inline constexpr int kDeviceKeys = 6;

inline ::testing::AssertionResult same_device(const DeviceRecord& got, const DeviceRecord& want) {
    std::string diff;
    if (std::strcmp(got.name, want.name) != 0) diff += " name";
    if (got.bxln_busadr != want.bxln_busadr) diff += " bxln_busadr";
    if (std::memcmp(got.dest_addr, want.dest_addr, 4) != 0) diff += " dest_addr";
    if (std::strcmp(got.ip_addr, want.ip_addr) != 0) diff += " ip_addr";
    if (std::strcmp(got.kwt_id, want.kwt_id) != 0) diff += " kwt_id";
    if (std::strcmp(got.default_port, want.default_port) != 0) diff += " default_port";
    if (std::strcmp(got.device_model, want.device_model) != 0) diff += " device_model";
    if (diff.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "device " << want.name << " differs in" << diff;
}

// A modem with every text set: the add writes 9 keys.
inline ModemRecord full_modem(const std::string& name) {
    const unsigned h = name_hash(name);
    ModemRecord m;
    std::memset(&m, 0, sizeof m);
    set_text(m.name, sizeof m.name, name);
    set_text(m.modem_dial, sizeof m.modem_dial, "ATDT" + std::to_string(h % 1000000));
    set_text(m.modem_disp, sizeof m.modem_disp, "Disp" + std::to_string(h % 77));
    set_text(m.modem_countryname, sizeof m.modem_countryname, "Country" + std::to_string(h % 5));
    set_text(m.modem_areacode, sizeof m.modem_areacode, std::to_string(h % 999));
    set_text(m.modem_phoneno, sizeof m.modem_phoneno, std::to_string(h % 9999999));
    set_text(m.modem_location, sizeof m.modem_location, "Loc" + std::to_string(h % 31));
    set_text(m.modem_tapiline, sizeof m.modem_tapiline, "Line" + std::to_string(h % 3));
    m.modem_usedcanda = static_cast<std::uint16_t>(h % 2);
    m.modem_deviceid = static_cast<std::uint16_t>(h % 5000);
    return m;
}

inline constexpr int kModemKeys = 9;

inline ::testing::AssertionResult same_modem(const ModemRecord& got, const ModemRecord& want) {
    std::string diff;
    const std::pair<const char*, const char*> texts[] = {
        {got.name, want.name},
        {got.modem_dial, want.modem_dial},
        {got.modem_disp, want.modem_disp},
        {got.modem_countryname, want.modem_countryname},
        {got.modem_areacode, want.modem_areacode},
        {got.modem_phoneno, want.modem_phoneno},
        {got.modem_location, want.modem_location},
        {got.modem_tapiline, want.modem_tapiline}};
    for (std::size_t i = 0; i < std::size(texts); ++i) {
        if (std::strcmp(texts[i].first, texts[i].second) != 0) diff += " text" + std::to_string(i);
    }
    if ((got.modem_usedcanda == 1) != (want.modem_usedcanda == 1)) diff += " usedcanda";
    if (got.modem_deviceid != want.modem_deviceid) diff += " deviceid";
    if (diff.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "modem " << want.name << " differs in" << diff;
}

// ---- The file as text -------------------------------------------------------------------------

// Every section of the text by its header as spelled, with its key lines; a section that occurs
// twice is reported with a "#2" suffix, so duplicates are seen.
inline std::map<std::string, qdltest::Entries> sections_of(const std::string& text) {
    std::map<std::string, qdltest::Entries> out;
    std::string current;
    bool inside = false;
    for (const std::string& line : qdltest::text_lines(text)) {
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            current = line.substr(1, line.size() - 2);
            while (out.count(current) != 0) current += "#2";
            out[current];
            inside = true;
            continue;
        }
        const std::size_t eq = line.find('=');
        if (inside && eq != std::string::npos) {
            out[current].emplace_back(line.substr(0, eq), line.substr(eq + 1));
        }
    }
    return out;
}

// Lines that are neither a header, nor a key line, nor empty: a torn or foreign write.
inline std::vector<std::string> odd_lines(const std::string& text) {
    std::vector<std::string> odd;
    for (const std::string& line : qdltest::text_lines(text)) {
        const bool header = line.size() >= 2 && line.front() == '[' && line.back() == ']';
        if (!line.empty() && !header && line.find('=') == std::string::npos) odd.push_back(line);
    }
    return odd;
}

// The names in the directory other than the file and its lock file.
inline std::vector<std::string> strays(const std::string& dir, const std::string& file_name) {
    std::vector<std::string> out;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return {"(cannot list " + dir + ")"};
    while (const dirent* e = readdir(d)) {
        const std::string n = e->d_name;
        if (n != "." && n != ".." && n != file_name && n != file_name + ".lock") out.push_back(n);
    }
    closedir(d);
    return out;
}

inline std::string joined(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& s : items) out += (out.empty() ? "" : ", ") + s;
    return out;
}

// ---- Children ---------------------------------------------------------------------------------

// Exit code of a child that could not take the role the test needs (the test is skipped).
inline constexpr int kCannotSetUp = 77;

// Runs body in a forked child and returns its exit code (128 + signal when it was killed).
inline int in_child(const std::function<int()>& body) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

// ---- Fixture -----------------------------------------------------------------------------------

// A fresh machine whose registry names <scratch>/cfg/tsk_cfg.ini: a directory of its own, which
// a test may fill, empty or take away as it likes.
class ConfigInDirectory : public ::testing::Test {
protected:
    qdltest::Machine machine;
    std::string dir = machine.scratch_dir() + "/cfg";
    std::string path = dir + "/tsk_cfg.ini";

    void SetUp() override {
        ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
        machine.set_registry_path(path);
    }
};

// ---- Outside edits ----------------------------------------------------------------------------

// Replaces the first `from` in the file by `to` (of the same length) in place, then puts the
// old access and modification times back: inode, size and modification time stay as they were,
// only the change time moves. Gives 0, or 1 when `from` is not in the file, 2 when the file
// cannot be written, 3 when the times cannot be put back. Usable in a forked child.
inline int edit_keeping_times(const std::string& path, const std::string& from,
                              const std::string& to) {
    struct stat before {};
    if (stat(path.c_str(), &before) != 0) return 2;
    const std::size_t at = qdltest::read_file(path).find(from);
    if (at == std::string::npos) return 1;
    const int fd = open(path.c_str(), O_WRONLY);
    if (fd < 0 || pwrite(fd, to.data(), to.size(), static_cast<off_t>(at)) !=
                      static_cast<ssize_t>(to.size())) {
        if (fd >= 0) close(fd);
        return 2;
    }
    const timespec times[2] = {before.st_atim, before.st_mtim};
    const int r = futimens(fd, times);
    close(fd);
    return r == 0 ? 0 : 3;
}

// The baud rate that a get of the port `name` reads (the get must succeed).
inline std::uint16_t baudrate_of(const char* name) {
    PortRecord p;
    std::memset(&p, 0xCC, sizeof p);
    EXPECT_EQ(QDL_Get_Record(RECORD_PORT, name, &p), QDL_OK) << name;
    return p.baudrate;
}

// The names of the sections that QDL_Get_List reports for one filter key (any value).
inline std::vector<std::string> listed(const char* key, int* result = nullptr) {
    ListFilter filter{};
    std::strncpy(filter.key, key, sizeof filter.key - 1);
    constexpr unsigned short kRoom = 2000;
    std::vector<char> names(std::size_t{kRoom} * QDL_NAME_SIZE);
    unsigned short count = kRoom;
    const int r = QDL_Get_List(&filter, nullptr, names.data(), &count);
    if (result != nullptr) *result = r;
    std::vector<std::string> out;
    const char* p = names.data();
    for (unsigned i = 0; r >= 0 && i < count; ++i, p += std::strlen(p) + 1) out.emplace_back(p);
    return out;
}

}  // namespace safety
