#include "runtime/core/cp936codec.h"
#include "runtime/core/fileservices.h"
#include "tests/support/scopedmount.h"
#include "tests/support/testfiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <random>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace pennaro;
using pennaro::testing::entriesOf;
using pennaro::testing::readFile;
using pennaro::testing::ScopedMount;
using pennaro::testing::writeFile;

namespace {

constexpr qint64 KiB = 1024;
constexpr qint64 MiB = 1024 * KiB;

QByteArray randomBytes(qint64 size, unsigned seed) {
    std::mt19937 generator(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& byte : bytes)
        byte = static_cast<char>(generator());
    return bytes;
}

// Where two byte strings part, for a failure message.
std::string describeMismatch(const QByteArray& actual, const QByteArray& oldList,
                             const QByteArray& newList) {
    const auto firstDifference = [&](const QByteArray& expected) {
        const qsizetype n = std::min(actual.size(), expected.size());
        qsizetype i = 0;
        while (i < n && actual[i] == expected[i])
            ++i;
        return i;
    };
    return "file of " + std::to_string(actual.size()) + " bytes; matches the old list (" +
           std::to_string(oldList.size()) + " bytes) up to byte " +
           std::to_string(firstDifference(oldList)) + ", the new one (" +
           std::to_string(newList.size()) + " bytes) up to byte " +
           std::to_string(firstDifference(newList));
}

Text pathOf(const QString& name) {
    return Cp936Codec::encode(name);
}

// --- A save in a child process that is killed at a random moment ---

// Starts the child saving `source`'s content over `target` and returns once it is about to
// save; -1 when it did not get there.
pid_t startSave(const QByteArray& target, const QByteArray& source) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    QByteArray program(PENNARO_SAVE_CHILD);
    QByteArray targetArgument = target;
    QByteArray sourceArgument = source;
    char* argv[] = {program.data(), targetArgument.data(), sourceArgument.data(), nullptr};
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, program.constData(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    char byte = 0;
    pollfd ready{pipeFds[0], POLLIN, 0};
    const bool started = spawned == 0 && ::poll(&ready, 1, 10000) == 1 &&
                         ::read(pipeFds[0], &byte, 1) == 1 && byte == 's';
    ::close(pipeFds[0]);
    if (spawned == 0 && !started) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    return started ? pid : -1;
}

enum class End { Killed, Saved, Failed };

End reap(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid)
        return End::Failed;
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
        return End::Killed;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? End::Saved : End::Failed;
}

// How far the child's temporary file has got: its size while the child holds it open, -1 when
// it holds none. The only file the child opens in the list's directory is that one.
qint64 openTemporarySize(pid_t pid, const QByteArray& directory) {
    const QByteArray fds = "/proc/" + QByteArray::number(pid) + "/fd/";
    DIR* listing = ::opendir(fds.constData());
    if (listing == nullptr)
        return -1;
    qint64 size = -1;
    while (const dirent* entry = ::readdir(listing)) {
        const QByteArray link = fds + entry->d_name;
        char target[4096];
        const ssize_t length = ::readlink(link.constData(), target, sizeof target);
        struct stat status {};
        if (length > 0 && QByteArrayView(target, length).startsWith(directory + '/') &&
            ::stat(link.constData(), &status) == 0) {
            size = status.st_size;
            break;
        }
    }
    ::closedir(listing);
    return size;
}

// --- Mounted file systems ---

class SaveOnAMount : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        if (const std::string failure = pennaro::testing::enterPrivateMountNamespace();
            !failure.empty())
            GTEST_SKIP() << "mounting is not permitted here, so no full or read-only disk: "
                         << failure;
        m_mountPoint = m_dir.filePath(u"disk"_qs);
        m_list = m_mountPoint + u"/tieba.txt"_qs;
        ASSERT_TRUE(QDir().mkpath(m_mountPoint));
    }

    static qint64 freeBytes(const QString& directory) {
        struct statvfs status {};
        if (::statvfs(QFile::encodeName(directory).constData(), &status) != 0)
            return -1;
        return static_cast<qint64>(status.f_bavail) * static_cast<qint64>(status.f_frsize);
    }

    // Writes until the disk takes no more; the bytes written.
    static qint64 fillUp(const QString& path) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT, 0644);
        if (fd < 0)
            return -1;
        const QByteArray chunk(4096, 'f');
        qint64 written = 0;
        for (qsizetype piece = chunk.size(); piece > 0; piece /= 2) {
            ssize_t n = 0;
            while ((n = ::write(fd, chunk.constData(), piece)) > 0)
                written += n;
        }
        ::close(fd);
        return written;
    }

    QTemporaryDir m_dir;
    QString m_mountPoint;
    QString m_list;
    ScopedMount m_mount;
};

struct FullDiskCase {
    const char* name;
    qint64 diskBytes;
    qint64 oldBytes;
    bool fillTheRest;
    qint64 newBytes;
    qint64 inodes; // 0 for the default
    bool fits;
};

class SaveOnAFullDisk : public SaveOnAMount, public ::testing::WithParamInterface<FullDiskCase> {};

} // namespace

// Whenever the kill comes, the list is the old one or the new one, whole. The child saves a few
// megabytes, so the kills spread over writing, syncing and the rename.
TEST(SaveKilled, LeavesTheOldOrTheNewListNeverAMix) {
    QTemporaryDir listDir;
    QTemporaryDir sourceDir;
    ASSERT_TRUE(listDir.isValid());
    ASSERT_TRUE(sourceDir.isValid());
    const QString list = listDir.filePath(u"tieba.txt"_qs);
    const QString source = sourceDir.filePath(u"new.txt"_qs);
    // Different lengths and bytes: any mix of the two, or a cut one, equals neither.
    const QByteArray oldList = randomBytes(6 * MiB + 17, 1);
    const QByteArray newList = randomBytes(8 * MiB + 1001, 2);
    ASSERT_TRUE(writeFile(source, newList));
    const QByteArray listArgument = QFile::encodeName(list);
    const QByteArray listDirectory = QFile::encodeName(listDir.path());
    const QByteArray sourceArgument = QFile::encodeName(source);
    using Clock = std::chrono::steady_clock;

    // How long a whole save takes here, from the child's signal to its end.
    std::vector<double> wholeSaves;
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(writeFile(list, oldList));
        const pid_t pid = startSave(listArgument, sourceArgument);
        ASSERT_GT(pid, 0);
        const auto start = Clock::now();
        ASSERT_EQ(reap(pid), End::Saved);
        wholeSaves.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        ASSERT_TRUE(readFile(list) == newList);
    }
    std::sort(wholeSaves.begin(), wholeSaves.end());
    const double saveSeconds = wholeSaves[wholeSaves.size() / 2];

    const unsigned seed = std::random_device{}();
    std::mt19937 generator(seed);
    // A little past the typical end, so some kills also come after the rename.
    std::uniform_real_distribution<double> delay(0.0, saveSeconds * 1.15);
    constexpr int kKills = 400;
    int keptOld = 0, tookNew = 0, finishedFirst = 0;
    int beforeTemporary = 0, whileWriting = 0, afterWriting = 0;
    int leftovers = 0;
    QStringList leftoverNames;
    for (int i = 0; i < kKills; ++i) {
        ASSERT_TRUE(writeFile(list, oldList));
        const pid_t pid = startSave(listArgument, sourceArgument);
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::duration<double>(delay(generator)));
        const qint64 temporary = openTemporarySize(pid, listDirectory);
        ::kill(pid, SIGKILL);
        const End end = reap(pid);
        ASSERT_NE(end, End::Failed) << "kill " << i;

        const QByteArray content = readFile(list);
        if (content == oldList) {
            ASSERT_EQ(end, End::Killed) << "a save that succeeded left the old list";
            ++keptOld;
            if (temporary < 0)
                ++beforeTemporary;
            else if (temporary < newList.size())
                ++whileWriting;
            else
                ++afterWriting;
        } else if (content == newList) {
            ++(end == End::Killed ? tookNew : finishedFirst);
        } else {
            FAIL() << "kill " << i << " after " << temporary << " bytes of the temporary file ("
                   << "seed " << seed << "): " << describeMismatch(content, oldList, newList);
        }

        // A killed save may leave its temporary file under a name of its own (where it is written
        // unnamed and linked in once whole, only a kill between that link and the rename does).
        // It is not the list and nothing reads it; removing such files on a later save could
        // take the one another instance of the program is about to rename.
        for (const QString& name : entriesOf(listDir.path())) {
            if (name == u"tieba.txt"_qs)
                continue;
            ++leftovers;
            leftoverNames << name;
            EXPECT_TRUE(newList.startsWith(readFile(listDir.filePath(name)))) << name.toStdString();
            QFile::remove(listDir.filePath(name));
        }
    }

    std::cout << "whole save " << saveSeconds * 1000 << " ms; " << kKills << " kills (seed " << seed
              << "): " << keptOld << " before the rename (" << beforeTemporary
              << " before the temporary file was open, " << whileWriting << " while writing it, "
              << afterWriting << " once it was written), " << tookNew << " after the rename, "
              << finishedFirst << " after the save had ended; " << leftovers
              << " temporary files left behind " << leftoverNames.join(u' ').toStdString() << "\n";
    RecordProperty("kept_old", keptOld);
    RecordProperty("took_new", tookNew);
    // Both sides of the rename were hit; otherwise the test proved half of what it claims.
    EXPECT_GT(keptOld, 0);
    EXPECT_GT(tookNew, 0);
}

TEST_P(SaveOnAFullDisk, StoresWhatFitsAndElseKeepsTheOldList) {
    const FullDiskCase& c = GetParam();
    ASSERT_EQ(m_mount.mountTmpfs(m_mountPoint, c.diskBytes, c.inodes), "");
    const QByteArray oldList = randomBytes(c.oldBytes, 3);
    ASSERT_TRUE(writeFile(m_list, oldList));
    if (c.fillTheRest) {
        ASSERT_GT(fillUp(m_mountPoint + u"/filler"_qs), 0);
        ASSERT_EQ(freeBytes(m_mountPoint), 0);
    }
    const QStringList entries = entriesOf(m_mountPoint);
    const qint64 free = freeBytes(m_mountPoint);
    const QByteArray newList = randomBytes(c.newBytes, 4);

    const bool stored = storeFileBytes(pathOf(m_list), {newList});
    EXPECT_EQ(stored, c.fits);
    EXPECT_TRUE(readFile(m_list) == (c.fits ? newList : oldList));
    EXPECT_EQ(entriesOf(m_mountPoint), entries);
    // Nothing of the attempt stays, not even an unnamed file still taking room.
    if (!c.fits) {
        EXPECT_EQ(freeBytes(m_mountPoint), free);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SaveOnAFullDisk,
    ::testing::Values(
        FullDiskCase{"NewListLargerThanTheFreeRoom", 256 * KiB, 16 * KiB, false, 1 * MiB, 0, false},
        // Room for it only where the old list is, which stays until the new one is whole.
        FullDiskCase{"NewListFitsOnlyInPlaceOfTheOld", 256 * KiB, 160 * KiB, false, 160 * KiB, 0,
                     false},
        FullDiskCase{"DiskAlreadyFullOneByteToWrite", 64 * KiB, 8 * KiB, true, 1, 0, false},
        // Room for the bytes but for no further file: the directory and the old list take both.
        FullDiskCase{"NoFileLeft", 256 * KiB, 16 * KiB, false, 16 * KiB, 2, false},
        // The same disk with room: the failures above are the disk's, not the mount's.
        FullDiskCase{"RoomEnough", 256 * KiB, 16 * KiB, false, 64 * KiB, 0, true}),
    [](const ::testing::TestParamInfo<FullDiskCase>& info) { return info.param.name; });

TEST_F(SaveOnAMount, ReadOnlyDirectoryKeepsTheOldListAndGetsNothingNew) {
    const QByteArray oldList = randomBytes(20 * KiB, 5);
    const QByteArray newList = randomBytes(30 * KiB, 6);
    const QString other = m_mountPoint + u"/other.txt"_qs;
    for (const bool bind : {false, true}) {
        SCOPED_TRACE(bind ? "read-only bind mount" : "tmpfs remounted read-only");
        if (bind) {
            ASSERT_TRUE(writeFile(m_list, oldList));
            ASSERT_EQ(m_mount.bindReadOnly(m_mountPoint), "");
        } else {
            ASSERT_EQ(m_mount.mountTmpfs(m_mountPoint, 1 * MiB), "");
            ASSERT_TRUE(writeFile(m_list, oldList));
            // Writable until now: the failure below is the read-only mount's.
            ASSERT_TRUE(storeFileBytes(pathOf(other), {"x"}));
            ASSERT_TRUE(QFile::remove(other));
            ASSERT_EQ(m_mount.remountReadOnly(), "");
        }
        EXPECT_TRUE(QFileInfo(m_list).permissions().testFlag(QFileDevice::WriteOwner));
        EXPECT_FALSE(storeFileBytes(pathOf(m_list), {newList}));
        EXPECT_FALSE(storeFileBytes(pathOf(other), {newList}));
        EXPECT_TRUE(readFile(m_list) == oldList);
        EXPECT_EQ(entriesOf(m_mountPoint), QStringList{u"tieba.txt"_qs});
        ASSERT_EQ(m_mount.unmount(), "");
    }
}
