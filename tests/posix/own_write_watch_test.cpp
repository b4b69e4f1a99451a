// own_write_watch_test.cpp - the store's own writes are not read back: a read right after a
// write uses the copy the store wrote (an inotify watch on the new file vouches that nobody has
// changed it since), yet an edit made right after the write, in place, at the same size and with
// the old times put back, is seen by the next call; and without inotify too.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/posix/file_io.h"
#include "posix/safety_support.h"
#include "support/test_env.h"
#include "tskqdl32.h"

namespace {

namespace sys = qdl::platform::sys;
using safety::baudrate_of;

std::string g_config_path;
int g_reads_of_config = 0;  // opens of the configuration file for reading

int counting_open(const char* path, int flags, mode_t mode) {
    if (g_config_path == path && (flags & O_ACCMODE) == O_RDONLY) ++g_reads_of_config;
    return ::open(path, flags, mode);
}

// An edit that the rename hook makes right after the store's rename, in the same clock tick:
// inode, size and both time stamps then stay as the store's own replacement left them.
struct PendingEdit {
    bool armed = false;
    std::string from, to;
};
PendingEdit g_edit;

int renaming_then_editing(const char* from, const char* to) {
    const int r = ::rename(from, to);
    if (r == 0 && g_edit.armed && g_config_path == to) {
        g_edit.armed = false;
        EXPECT_EQ(safety::edit_keeping_times(to, g_edit.from, g_edit.to), 0) << g_edit.from;
    }
    return r;
}

int no_inotify(int) {
    errno = ENOSYS;
    return -1;
}

class OwnWriteWatch : public safety::ConfigInDirectory {
protected:
    void SetUp() override {
        ConfigInDirectory::SetUp();
        g_config_path = path;
        g_reads_of_config = 0;
    }
    void TearDown() override { sys::restore_calls(); }

    static void add_port(const char* name, std::uint16_t baudrate) {
        PortRecord p;
        std::memset(&p, 0xFF, sizeof p);
        std::memset(p.name, 0, sizeof p.name);
        std::strcpy(p.name, name);
        p.port_type = PORT_KWT_SERIAL;
        std::memset(p.port, 0, sizeof p.port);
        p.baudrate = baudrate;
        std::memset(p.bxln_pn, 0, sizeof p.bxln_pn);
        ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &p), QDL_OK);
    }

    static void write_globals(int i) {
        GlobalParameters g;
        std::memset(&g, 0, sizeof g);
        g.connect_timeout = 1000 + i;
        g.request_timeout = 1000;
        ASSERT_EQ(QDL_Add_Record(RECORD_GLOBAL, &g), QDL_OK);
    }

    // Replaces `from` by `to` (same length) in the file itself and puts its old access and
    // modification times back: inode, size and modification time stay as they were.
    void edit_in_place(const std::string& from, const std::string& to) {
        ASSERT_EQ(from.size(), to.size());
        ASSERT_EQ(safety::edit_keeping_times(path, from, to), 0) << from;
    }

    // Writes, edits right away, reads: every read must see the edit.
    void expect_edits_after_writes_seen() {
        add_port("Line1", 9600);
        std::uint16_t current = 9600;
        for (int i = 0; i < 50; ++i) {
            ASSERT_NO_FATAL_FAILURE(write_globals(i));
            const std::uint16_t next = current == 9600 ? 4800 : 9600;
            ASSERT_NO_FATAL_FAILURE(edit_in_place("BAUDRATE=" + std::to_string(current),
                                                  "BAUDRATE=" + std::to_string(next)));
            ASSERT_EQ(baudrate_of("Line1"), next) << "write " << i << ": a stale copy was read";
            current = next;
        }
    }
};

bool inotify_works() {
    const int fd = sys::calls().inotify_init1(0);
    if (fd < 0) return false;
    close(fd);
    return true;
}

TEST_F(OwnWriteWatch, ReadRightAfterOwnWriteDoesNotReadTheFileAgain) {
    if (!inotify_works()) GTEST_SKIP() << "inotify is not available here";
    add_port("Line1", 9600);
    sys::calls().open = counting_open;
    for (int i = 0; i < 20; ++i) {
        ASSERT_NO_FATAL_FAILURE(write_globals(i));
        g_reads_of_config = 0;
        ASSERT_EQ(baudrate_of("Line1"), 9600);
        EXPECT_EQ(g_reads_of_config, 0) << "write " << i << ": the store read its own write back";
    }
}

// The edit comes between the store's rename and the end of its write call, in the same clock
// tick: only the watch can tell the copy from the file.
TEST_F(OwnWriteWatch, EditInTheTickOfTheOwnRenameIsSeenByTheNextCall) {
    add_port("Line1", 9600);
    sys::calls().rename = renaming_then_editing;
    std::uint16_t current = 9600;
    for (int i = 0; i < 50; ++i) {
        const std::uint16_t next = current == 9600 ? 4800 : 9600;
        g_edit = {true, "BAUDRATE=" + std::to_string(current), "BAUDRATE=" + std::to_string(next)};
        ASSERT_NO_FATAL_FAILURE(write_globals(i));
        ASSERT_FALSE(g_edit.armed) << "the store renamed no file";
        ASSERT_EQ(baudrate_of("Line1"), next) << "write " << i << ": a stale copy was read";
        current = next;
    }
}

TEST_F(OwnWriteWatch, EditRightAfterOwnWriteIsSeenByTheNextCall) {
    expect_edits_after_writes_seen();
}

TEST_F(OwnWriteWatch, WithoutInotifyAnEditRightAfterOwnWriteIsSeen) {
    sys::calls().inotify_init1 = no_inotify;
    expect_edits_after_writes_seen();
}

}  // namespace
