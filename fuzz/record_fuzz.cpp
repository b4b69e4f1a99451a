// record_fuzz.cpp - arbitrary records, names and filters through every exported function of the
// current library, over an arbitrary starting file.
//
//   guarded memory   every record, name, filter, output buffer and count lives in a block of
//                    its exact size between two guard zones: poisoned under AddressSanitizer
//                    (any read or write of them stops the run), and compared with their fill
//                    pattern after each call in every build (a write beyond is caught there too)
//   operations       add, add extended, get, get extended, modem get extended, delete, list and
//                    version, with the record size each kind takes; an optional "plausible" pass
//                    over the record (a short letter name, a port type or address kind in range)
//                    takes the fuzzer past the first checks more often
//   checks           no status outside the documented set; no QDL_ERR_FILE from a write (the
//                    directory is writable); a port that was added reads back; the list
//                    respects its capacity; at the end the file still reads and lists
//
// Input:
//   byte 0       options: bit 0 code page 932 instead of 1252
//   bytes 1-2    length of the starting file (little-endian), then the file
//   then         operations until the input ends: an operation byte, a kind byte, an address
//                kind byte, a flags byte, then the bytes that the operation consumes
//
// Built twice: as a libFuzzer target (QDL_BUILD_FUZZ, clang) and, with replay_main.cpp, as a
// plain program that replays the files it is given (a ctest test over the corpus).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "testing/hooks.h"
#include "tskqdl32.h"

#if defined(__SANITIZE_ADDRESS__)
#define QDL_FUZZ_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QDL_FUZZ_ASAN 1
#endif
#endif
#if defined(QDL_FUZZ_ASAN)
#include <sanitizer/asan_interface.h>
#endif

namespace {

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "record_fuzz: %s\n", what.c_str());
    std::abort();
}

// ---- Guarded memory ----------------------------------------------------------------------------

constexpr std::size_t kGuard = 32;
constexpr unsigned char kGuardByte = 0xA5;

// `size` usable bytes with a guard zone on either side.
class Guarded {
public:
    explicit Guarded(std::size_t size) : size_(size), block_(size + 2 * kGuard, kGuardByte) {
#if defined(QDL_FUZZ_ASAN)
        ASAN_POISON_MEMORY_REGION(block_.data(), kGuard);
        ASAN_POISON_MEMORY_REGION(block_.data() + kGuard + size_, kGuard);
#endif
    }
    ~Guarded() {
#if defined(QDL_FUZZ_ASAN)
        ASAN_UNPOISON_MEMORY_REGION(block_.data(), block_.size());
#endif
    }
    Guarded(const Guarded&) = delete;
    Guarded& operator=(const Guarded&) = delete;

    unsigned char* data() { return block_.data() + kGuard; }
    char* chars() { return reinterpret_cast<char*>(data()); }
    std::size_t size() const { return size_; }

    void check(const char* what) {
#if defined(QDL_FUZZ_ASAN)
        ASAN_UNPOISON_MEMORY_REGION(block_.data(), block_.size());
#endif
        for (std::size_t i = 0; i < kGuard; ++i) {
            if (block_[i] != kGuardByte || block_[kGuard + size_ + kGuard - 1 - i] != kGuardByte) {
                fail(std::string(what) + ": a byte outside the caller's memory was written");
            }
        }
#if defined(QDL_FUZZ_ASAN)
        ASAN_POISON_MEMORY_REGION(block_.data(), kGuard);
        ASAN_POISON_MEMORY_REGION(block_.data() + kGuard + size_, kGuard);
#endif
    }

private:
    std::size_t size_;
    std::vector<unsigned char> block_;
};

// ---- Input -------------------------------------------------------------------------------------

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool done() const { return pos_ >= size_; }
    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    // Fills out with the next bytes; what the input lacks is 0xFF (unset markers).
    void fill(unsigned char* out, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) out[i] = pos_ < size_ ? data_[pos_++] : 0xFF;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// ---- Records -----------------------------------------------------------------------------------

enum class Call { Add, AddEx, Get, GetEx, GetModemEx };

// The record size a call takes for a kind; 1 for kinds it refuses (it must not touch it).
// QDL_Get_Modem_Record_Ex takes a ModemRecordEx whatever the kind.
std::size_t record_size(Call call, int kind) {
    if (call == Call::GetModemEx) return sizeof(ModemRecordEx);
    switch (kind & 0xFFFF) {
    case RECORD_PORT:
        return call == Call::Add || call == Call::Get ? sizeof(PortRecord) : sizeof(PortRecordEx);
    case RECORD_DEVICE:
        return call == Call::Add || call == Call::Get ? sizeof(DeviceRecord)
                                                      : sizeof(DeviceRecordEx);
    case RECORD_GLOBAL:
        return call == Call::AddEx || call == Call::GetEx ? 1 : sizeof(GlobalParameters);
    case RECORD_MODEM:
        if (call == Call::GetEx) return 1;
        return call == Call::AddEx ? sizeof(ModemRecordEx) : sizeof(ModemRecord);
    default:
        return 1;
    }
}

// A short name of letters and digits, starting with a letter.
void plausible_name(Input& in, char* field, std::size_t width) {
    const std::size_t length = 1 + in.byte() % std::min<std::size_t>(width - 1, 12);
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint8_t b = in.byte();
        field[i] = i == 0 || b % 3 ? static_cast<char>('A' + b % 26) : static_cast<char>('0' + b % 10);
    }
    field[length] = '\0';
}

// Takes a record past the first checks more often: a name, a port type or address kind in
// range, terminated text fields.
void make_plausible(Input& in, Guarded& rec, int kind) {
    if (rec.size() < 68) return;
    plausible_name(in, rec.chars(), QDL_NAME_SIZE);
    unsigned char* r = rec.data();
    const std::uint8_t pick = in.byte();
    if ((kind & 0xFFFF) == RECORD_PORT) {
        const std::uint16_t type = 1 + pick % 5;
        std::memcpy(r + 66, &type, 2);
        std::memcpy(r + 94, (pick & 0x80) ? "COM2" : "\0\0\0\0", 5);
        r[218] = '\0';  // part number
        std::memset(r + 168, 0xFF, 2 * 3);  // stop bits, parity, baud rate
        std::memset(r + 214, 0xFF, 2);      // multi-session flag
    } else if ((kind & 0xFFFF) == RECORD_DEVICE) {
        const std::uint16_t address_kind = 1 + pick % 6;
        std::memcpy(r + 66, &address_kind, 2);
        std::memcpy(r + 110, (pick & 0x40) ? "<NULL>" : "K1", (pick & 0x40) ? 7 : 3);
        std::memcpy(r + 126, "Port1", 6);
    }
}

// A NUL-terminated name in a block of its exact size: often a short plausible name, else raw
// bytes.
std::string name_bytes(Input& in) {
    const std::uint8_t how = in.byte();
    std::string name;
    if (how & 1) {
        char buf[16];
        plausible_name(in, buf, sizeof buf);
        name = buf;
    } else {
        for (std::size_t i = 0, n = how % 90; i < n; ++i) name.push_back(static_cast<char>(in.byte()));
        name.erase(std::find(name.begin(), name.end(), '\0'), name.end());
    }
    return name;
}

// ---- Checks ------------------------------------------------------------------------------------

bool documented(int status) {
    switch (status) {
    case QDL_OK: case QDL_ERR_BAD_TYPE: case QDL_ERR_NULL_ARG: case QDL_ERR_BAD_ADDRESS_KIND:
    case QDL_ERR_EXISTS: case QDL_ERR_BAD_VALUE: case QDL_ERR_NO_MEMORY: case QDL_ERR_BAD_KWT_ID:
    case QDL_ERR_BAD_NAME: case QDL_ERR_BAD_PORT_TYPE: case QDL_ERR_BAD_PORT_NAME:
    case QDL_ERR_BAD_DEFAULT_PORT: case QDL_ERR_EMPTY_FILTER: case QDL_ERR_NOT_FOUND:
    case QDL_ERR_FILE:
        return true;
    default:
        return false;
    }
}

void check_status(int status, const char* what) {
    if (!documented(status)) fail(std::string(what) + ": undocumented status " + std::to_string(status));
}

void check_written(int status, const char* what) {
    check_status(status, what);
    if (status == QDL_ERR_FILE) fail(std::string(what) + ": a write failed in a writable directory");
}

// ---- The file ----------------------------------------------------------------------------------

std::string g_dir;
std::string g_file;

void write_text(const std::uint8_t* data, std::size_t n) {
    ::unlink(g_file.c_str());
    const int fd = ::open(g_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, data, n) != static_cast<ssize_t>(n)) fail("cannot write the file");
    ::close(fd);
}

bool file_present() {
    struct stat st {};
    return ::stat(g_file.c_str(), &st) == 0;
}

void put(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        fail("cannot write " + path);
    }
    ::close(fd);
}

void set_up_once() {
    if (!g_dir.empty()) return;
    const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string templ = std::string(base) + "/qdl-record-fuzz-XXXXXX";
    if (::mkdtemp(templ.data()) == nullptr) fail("mkdtemp");
    g_dir = templ;
    g_file = g_dir + "/tsk_cfg.ini";
    const std::string prefix = g_dir + "/prefix";
    ::mkdir(prefix.c_str(), 0755);
    ::mkdir((prefix + "/windows").c_str(), 0755);
    put(prefix + "/registry.ini",
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brenvik\\Fieldloom\\Configuration]\n"
        "kbRTTskCfgIni=" + g_file + "\n");
    ::setenv("TSKQDL32_PREFIX", prefix.c_str(), 1);
    std::atexit([] {
        const std::string prefix = g_dir + "/prefix";
        for (const std::string& f : {g_file, g_file + ".lock", prefix + "/registry.ini"}) {
            ::unlink(f.c_str());
        }
        ::rmdir((prefix + "/windows").c_str());
        ::rmdir(prefix.c_str());
        ::rmdir(g_dir.c_str());
    });
}

// ---- Operations --------------------------------------------------------------------------------

int g_kind = 0;
int g_address_kind = 0;
std::uint8_t g_flags = 0;

int call_with_record(Call call, Guarded& rec, const char* name) {
    switch (call) {
    case Call::Add: return QDL_Add_Record(g_kind, rec.data());
    case Call::AddEx: return QDL_Add_Record_Ex(g_kind, rec.data());
    case Call::Get: return QDL_Get_Record(g_kind, name, rec.data());
    case Call::GetEx: return QDL_Get_Record_Ex(g_kind, name, rec.data());
    case Call::GetModemEx:
        return QDL_Get_Modem_Record_Ex(g_kind, name, reinterpret_cast<ModemRecordEx*>(rec.data()));
    }
    return QDL_OK;
}

// A port that an add accepted reads back under the name the add left in the record.
void check_port_reads_back(Guarded& rec) {
    const std::string name(rec.chars());
    Guarded name_block(name.size() + 1);
    std::memcpy(name_block.data(), name.c_str(), name.size() + 1);
    Guarded back(sizeof(PortRecord));
    const int status = QDL_Get_Record(RECORD_PORT, name_block.chars(), back.data());
    name_block.check("port read back (name)");
    back.check("port read back");
    if (status != QDL_OK) {
        fail("port \"" + name + "\" was added but reads back with status " + std::to_string(status));
    }
}

void op_add(Input& in, Call call) {
    const bool ex = call == Call::AddEx;
    Guarded rec(record_size(call, g_kind));
    in.fill(rec.data(), rec.size());
    if (g_flags & 1) make_plausible(in, rec, g_kind);
    const int status = call_with_record(call, rec, nullptr);
    rec.check(ex ? "QDL_Add_Record_Ex" : "QDL_Add_Record");
    check_written(status, ex ? "QDL_Add_Record_Ex" : "QDL_Add_Record");
    if (status != QDL_OK || (g_kind & 0xFFFF) != RECORD_PORT) return;
    // An accepted add has cut the name within its field; names of letters and digits only
    // name a section that reads back as it was written.
    const char* name = rec.chars();
    const char* end = static_cast<const char*>(std::memchr(name, '\0', QDL_NAME_SIZE));
    if (end == nullptr) fail("an added port's name is not terminated within its field");
    if (std::all_of(name, end, [](char c) { return std::isalnum(static_cast<unsigned char>(c)); })) {
        check_port_reads_back(rec);
    }
}

void op_get(Input& in, Call call) {
    const std::string name = name_bytes(in);
    Guarded name_block(name.size() + 1);
    std::memcpy(name_block.data(), name.c_str(), name.size() + 1);
    Guarded rec(record_size(call, g_kind));
    in.fill(rec.data(), rec.size());
    const bool null_name = (g_flags & 0x10) != 0;
    const int status = call_with_record(call, rec, null_name ? nullptr : name_block.chars());
    rec.check("get (record)");
    name_block.check("get (name)");
    check_status(status, "get");
    if (null_name && status != QDL_ERR_NULL_ARG && status != QDL_ERR_BAD_VALUE) {
        fail("get with a null name gave " + std::to_string(status));
    }
}

void op_delete(Input& in) {
    const std::string name = name_bytes(in);
    Guarded name_block(name.size() + 1);
    std::memcpy(name_block.data(), name.c_str(), name.size() + 1);
    const int status = QDL_Delete_Record(g_kind, g_address_kind, name_block.chars());
    name_block.check("QDL_Delete_Record");
    check_written(status, "QDL_Delete_Record");
}

void op_list(Input& in) {
    Guarded first(sizeof(ListFilter)), second(sizeof(ListFilter));
    in.fill(first.data(), first.size());
    in.fill(second.data(), second.size());
    if (g_flags & 2) {
        const char* key = (g_flags & 4) ? "TYPE" : "MODEM_DIAL";
        std::memcpy(first.data(), key, std::strlen(key) + 1);
    }
    if (g_flags & 8) first.data()[66] = '\0';  // any value
    const unsigned capacity = in.byte() % 9;
    Guarded names(capacity * 66 + (capacity == 0 ? 1 : 0));
    Guarded count(sizeof(std::uint16_t));
    const std::uint16_t room = static_cast<std::uint16_t>(capacity);
    std::memcpy(count.data(), &room, sizeof room);
    const bool two = (g_flags & 0x20) != 0;
    const bool null_names = capacity == 0 && (g_flags & 0x40) != 0;
    const int result = QDL_Get_List(reinterpret_cast<ListFilter*>(first.data()),
                                    two ? reinterpret_cast<ListFilter*>(second.data()) : nullptr,
                                    null_names ? nullptr : names.chars(),
                                    reinterpret_cast<unsigned short*>(count.data()));
    first.check("QDL_Get_List (first filter)");
    second.check("QDL_Get_List (second filter)");
    names.check("QDL_Get_List (names)");
    count.check("QDL_Get_List (count)");
    std::uint16_t stored = 0;
    std::memcpy(&stored, count.data(), sizeof stored);
    if (result < 0) {
        check_status(result, "QDL_Get_List");
        if (result == QDL_ERR_FILE && file_present()) fail("QDL_Get_List: -99 with the file there");
        return;
    }
    if (stored > capacity || result < stored) {
        fail("QDL_Get_List: " + std::to_string(stored) + " stored of room " +
             std::to_string(capacity) + ", result " + std::to_string(result));
    }
}

void op_version() {
    Guarded buffer(QDL_VERSION_SIZE);
    const int status = QDL_Get_Version(buffer.chars());
    buffer.check("QDL_Get_Version");
    if (status != QDL_OK || std::strcmp(buffer.chars(), "QDL Version 3.00 (44a1)") != 0) {
        fail("QDL_Get_Version");
    }
}

// The file a run leaves behind still reads: it lists, and every port it lists can be asked for.
void check_file_readable() {
    if (!file_present()) return;
    ListFilter type{};
    std::memcpy(type.key, "TYPE", 5);
    std::vector<char> names(64 * 66);
    unsigned short count = 64;
    const int result = QDL_Get_List(&type, nullptr, names.data(), &count);
    if (result < 0) fail("the file no longer lists: " + std::to_string(result));
    const char* name = names.data();
    for (unsigned i = 0; i < count; ++i, name += std::strlen(name) + 1) {
        PortRecord port;
        check_status(QDL_Get_Record(RECORD_PORT, name, &port), "port of the final list");
    }
    GlobalParameters global;
    check_status(QDL_Get_Record(RECORD_GLOBAL, "x", &global), "global parameters");
}

void run(Input& in) {
    for (int ops = 0; !in.done() && ops < 48; ++ops) {
        const std::uint8_t op = in.byte();
        const std::uint8_t kind_byte = in.byte();
        g_kind = (kind_byte & 7) | ((kind_byte & 0x80) ? 0x10000 : 0);
        g_address_kind = in.byte() % 8;
        g_flags = in.byte();
        switch (op % 10) {
        case 0: case 1: op_add(in, Call::Add); break;
        case 2: op_add(in, Call::AddEx); break;
        case 3: op_get(in, Call::Get); break;
        case 4: op_get(in, Call::GetEx); break;
        case 5: op_get(in, Call::GetModemEx); break;
        case 6: case 7: op_delete(in); break;
        case 8: op_list(in); break;
        default: op_version(); break;
        }
    }
    check_file_readable();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    set_up_once();
    Input in(data, size);
    qdl::platform::set_code_page_for_tests((in.byte() & 1) ? 932 : 1252);
    const std::size_t length = std::min<std::size_t>(in.byte() | (std::size_t{in.byte()} << 8),
                                                     size > 3 ? size - 3 : 0);
    write_text(data + std::min<std::size_t>(size, 3), length);
    for (std::size_t i = 0; i < length; ++i) in.byte();
    run(in);
    return 0;
}
