// outside_edit_test.cpp - another program changes the file between two calls; the next call
// sees the change, and the next write keeps it.
//
// The edits are the hardest to notice: in place, at the same size, with the old modification
// time put back (so only the change time, or the inode for a replacement, tells), made by a
// child process right after the library's own read or write, often within the same clock tick.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "platform/posix/file_io.h"
#include "posix/safety_support.h"
#include "support/test_env.h"
#include "tskqdl32.h"

namespace {

using safety::baudrate_of;

class OutsideEdit : public safety::ConfigInDirectory {
protected:
    // Lets the file age past the moment of its last change, so that the library may trust its
    // copy from the next read on: the edit that follows must still be seen.
    static void let_file_age() { usleep(30'000); }

    static PortRecord port(const std::string& name, std::uint16_t baudrate) {
        PortRecord p = safety::serial_port(name);
        p.baudrate = baudrate;
        return p;
    }

    // Another process replaces `from` by `to` (same length) in place and puts the old access
    // and modification times back. The file keeps its inode, size and modification time.
    void edit_in_place(const std::string& from, const std::string& to) {
        ASSERT_EQ(from.size(), to.size());
        struct stat before {};
        ASSERT_EQ(stat(path.c_str(), &before), 0);
        const int code =
            safety::in_child([&] { return safety::edit_keeping_times(path, from, to); });
        ASSERT_EQ(code, 0) << "editing " << from << " to " << to;
        struct stat after {};
        ASSERT_EQ(stat(path.c_str(), &after), 0);
        ASSERT_EQ(after.st_ino, before.st_ino);
        ASSERT_EQ(after.st_size, before.st_size);
        ASSERT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
        ASSERT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    }

    // Another process writes new text to a file of its own and renames it over the file, with
    // the old modification time.
    void replace_outside(const std::string& text) {
        struct stat before {};
        ASSERT_EQ(stat(path.c_str(), &before), 0);
        const int code = safety::in_child([&] {
            const std::string temp = dir + "/editor.tmp";
            qdltest::write_file(temp, text);
            const timespec times[2] = {before.st_atim, before.st_mtim};
            if (utimensat(AT_FDCWD, temp.c_str(), times, 0) != 0) return 1;
            return rename(temp.c_str(), path.c_str()) == 0 ? 0 : 2;
        });
        ASSERT_EQ(code, 0);
    }
};

// Reads right after the library's own write or read, then an edit that keeps size and
// modification time: every read after an edit must see it.
TEST_F(OutsideEdit, SameSizeEditKeepingTheModificationTimeIsSeenByTheNextCall) {
    const std::uint16_t rates[] = {9600, 4800, 2400, 1200};
    PortRecord p = port("Line1", rates[0]);
    ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &p), QDL_OK);
    std::mt19937 rng(safety::seed());
    std::uint16_t current = rates[0];
    for (int i = 0; i < safety::scaled(200, 60); ++i) {
        switch (rng() % 3) {
        case 0: {  // the library's own write just before the edit, in the same tick
            GlobalParameters g{};
            g.connect_timeout = 1000 + i;
            g.request_timeout = 1000;
            ASSERT_EQ(QDL_Add_Record(RECORD_GLOBAL, &g), QDL_OK);
            break;
        }
        case 1:  // a read caches the file just before the edit
            ASSERT_EQ(baudrate_of("Line1"), current) << "iteration " << i;
            break;
        default:  // the file has not been touched for a while
            let_file_age();
            ASSERT_EQ(baudrate_of("Line1"), current) << "iteration " << i;
            break;
        }
        const std::uint16_t next = rates[(i + 1) % 4];
        ASSERT_NO_FATAL_FAILURE(edit_in_place("BAUDRATE=" + std::to_string(current),
                                              "BAUDRATE=" + std::to_string(next)));
        ASSERT_EQ(baudrate_of("Line1"), next) << "iteration " << i << ": a stale copy was read";
        current = next;
    }
}

TEST_F(OutsideEdit, NextWriteKeepsTheOutsideEdit) {
    PortRecord p = port("Line1", 9600);
    ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &p), QDL_OK);
    let_file_age();
    ASSERT_EQ(baudrate_of("Line1"), 9600);
    ASSERT_NO_FATAL_FAILURE(edit_in_place("BAUDRATE=9600", "BAUDRATE=4800"));

    PortRecord q = port("Line2", 1200);
    ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &q), QDL_OK);
    const auto sections = safety::sections_of(qdltest::read_file(path));
    ASSERT_EQ(sections.count("Line1"), 1u);
    ASSERT_EQ(sections.count("Line2"), 1u);
    bool edited = false;
    for (const auto& [key, value] : sections.at("Line1")) {
        if (key == "BAUDRATE") edited = value == "4800";
    }
    EXPECT_TRUE(edited) << qdltest::read_file(path);
    EXPECT_EQ(baudrate_of("Line1"), 4800);
}

// A section renamed outside: the old name is gone for reads, lists and the next write.
TEST_F(OutsideEdit, RenamedSectionIsSeenByReadsListsAndTheNextWrite) {
    PortRecord p = port("Line1", 9600);
    ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &p), QDL_OK);
    let_file_age();
    PortRecord probe;
    ASSERT_EQ(QDL_Get_Record(RECORD_PORT, "Line1", &probe), QDL_OK);
    ASSERT_NO_FATAL_FAILURE(edit_in_place("[Line1]", "[Lane1]"));

    EXPECT_EQ(QDL_Get_Record(RECORD_PORT, "Line1", &probe), QDL_ERR_NOT_FOUND);
    EXPECT_EQ(QDL_Get_Record(RECORD_PORT, "Lane1", &probe), QDL_OK);
    EXPECT_EQ(safety::listed("TYPE"), std::vector<std::string>{"Lane1"});
    PortRecord q = port("Line1", 2400);  // the old name is free again
    ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &q), QDL_OK);
    const auto sections = safety::sections_of(qdltest::read_file(path));
    EXPECT_EQ(sections.count("Lane1"), 1u);
    EXPECT_EQ(sections.count("Line1"), 1u);
    EXPECT_EQ(baudrate_of("Line1"), 2400);
}

// A new file renamed over the old one, with the same size and modification time.
TEST_F(OutsideEdit, ReplacementWithSameSizeAndTimeIsSeen) {
    PortRecord p = port("Line1", 9600);
    ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &p), QDL_OK);
    ASSERT_EQ(baudrate_of("Line1"), 9600);
    std::string text = qdltest::read_file(path);
    text.replace(text.find("BAUDRATE=9600"), 13, "BAUDRATE=1200");
    ASSERT_NO_FATAL_FAILURE(replace_outside(text));
    EXPECT_EQ(baudrate_of("Line1"), 1200);
}

// A writer through a shared memory mapping, holding its descriptor open, right after the
// library's own write: no write call, so no modification event, and (on tmpfs, where the
// library's flushes take no time) the same clock tick, so the same time stamps.
TEST_F(OutsideEdit, EditThroughASharedMappingRightAfterAWriteIsSeen) {
    char shm[] = "/dev/shm/qdl-mapping-XXXXXX";
    const bool on_tmpfs = access("/dev/shm", W_OK) == 0 && mkdtemp(shm) != nullptr;
    const std::string where = on_tmpfs ? std::string(shm) : dir;
    const std::string file = where + "/tsk_cfg.ini";
    machine.set_registry_path(file);
    PortRecord p = port("Line1", 9600);
    ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &p), QDL_OK);
    int stale = 0;
    const int rounds = safety::scaled(100, 30);
    for (int i = 0; i < rounds; ++i) {
        GlobalParameters g{};
        g.connect_timeout = 1000 + i;
        g.request_timeout = 1000;
        ASSERT_EQ(QDL_Add_Record(RECORD_GLOBAL, &g), QDL_OK);
        const int fd = open(file.c_str(), O_RDWR);
        ASSERT_GE(fd, 0);
        struct stat st {};
        ASSERT_EQ(fstat(fd, &st), 0);
        const auto size = static_cast<std::size_t>(st.st_size);
        void* map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        ASSERT_NE(map, MAP_FAILED);
        char* text = static_cast<char*>(map);
        char* rate = static_cast<char*>(memmem(text, size, "BAUDRATE=", 9));
        ASSERT_NE(rate, nullptr);
        rate[9] = rate[9] == '9' ? '4' : '9';  // 9600 <-> 4600
        const std::uint16_t edited = rate[9] == '9' ? 9600 : 4600;
        if (baudrate_of("Line1") != edited) ++stale;
        munmap(map, size);
        close(fd);
    }
    EXPECT_EQ(stale, 0) << "reads of " << rounds << " that missed the edit";
    if (on_tmpfs) {
        for (const char* f : {"/tsk_cfg.ini", "/tsk_cfg.ini.lock"}) unlink((where + f).c_str());
        rmdir(where.c_str());
    }
}

// An edit that lands between the library's rename and the end of its write call, after which
// the call is held up (a slow flush of the directory, a busy machine) until the edit is older
// than any clock tick: the library's copy is the file before the edit and must not be trusted.
std::string g_edit_target;
std::string g_edit_from, g_edit_to;

int rename_then_edit_then_stall(const char* from, const char* to) {
    const int r = ::rename(from, to);
    if (r != 0 || g_edit_target != to) return r;
    safety::edit_keeping_times(to, g_edit_from, g_edit_to);  // a failed edit shows in the reads
    usleep(50'000);
    return r;
}

TEST_F(OutsideEdit, EditRightAfterTheRenameOfAStalledWriteIsSeen) {
    PortRecord p = port("Line1", 9600);
    ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &p), QDL_OK);
    g_edit_target = path;
    std::uint16_t current = 9600;
    for (int i = 0; i < 5; ++i) {
        const std::uint16_t next = current == 9600 ? 4800 : 9600;
        g_edit_from = "BAUDRATE=" + std::to_string(current);
        g_edit_to = "BAUDRATE=" + std::to_string(next);
        qdl::platform::sys::calls().rename = rename_then_edit_then_stall;
        GlobalParameters g{};
        g.connect_timeout = 1000 + i;
        g.request_timeout = 1000;
        const int status = QDL_Add_Record(RECORD_GLOBAL, &g);
        qdl::platform::sys::restore_calls();
        ASSERT_EQ(status, QDL_OK);
        ASSERT_EQ(baudrate_of("Line1"), next) << "write " << i << ": a stale copy was read";
        current = next;
    }
}

// A file deleted outside reads as missing, and the next write does not bring back what the
// library had read before.
TEST_F(OutsideEdit, DeletedFileReadsAsMissingAndIsNotResurrected) {
    PortRecord p = port("Line1", 9600);
    ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &p), QDL_OK);
    ASSERT_EQ(baudrate_of("Line1"), 9600);
    ASSERT_EQ(safety::in_child([&] { return unlink(path.c_str()); }), 0);

    PortRecord probe;
    EXPECT_EQ(QDL_Get_Record(RECORD_PORT, "Line1", &probe), QDL_ERR_NOT_FOUND);
    int result = 0;
    safety::listed("TYPE", &result);
    EXPECT_EQ(result, QDL_ERR_FILE);
    PortRecord q = port("Line2", 1200);
    ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &q), QDL_OK);
    const auto sections = safety::sections_of(qdltest::read_file(path));
    EXPECT_EQ(sections.count("Line1"), 0u) << qdltest::read_file(path);
    EXPECT_EQ(sections.count("Line2"), 1u);
}

}  // namespace
