#include "runtime/core/cp936codec.h"
#include "runtime/core/fileservices.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <csignal>

#include <sys/resource.h>

using namespace pennaro;

namespace {

class FileServices : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString nativePath(const QString& name) const { return m_dir.filePath(name); }
    Text pathOf(const QString& name) const { return Cp936Codec::encode(nativePath(name)); }

    void writeDirectly(const QString& name, const QByteArray& content) const {
        QFile file(nativePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(content), content.size());
    }

    QByteArray readDirectly(const QString& name) const {
        QFile file(nativePath(name));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
        return file.readAll();
    }

    // Owner, group and others; the "user" flags depend on who runs the tests.
    QFile::Permissions modeOf(const QString& name) const {
        return QFile::permissions(nativePath(name)) &
               ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
    }

    QStringList entries() const {
        return QDir(m_dir.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }

    QTemporaryDir m_dir;
};

QByteArray everyByte() {
    QByteArray bytes;
    for (int b = 0; b < 256; ++b)
        bytes.append(static_cast<char>(b));
    return bytes + "\r\n\n\r";
}

// While alive, a file cannot grow past `limit` bytes: writes beyond it fail as on a full disk.
class FileSizeLimit final {
public:
    explicit FileSizeLimit(rlim_t limit) {
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_previous);
        rlimit reduced = m_previous;
        reduced.rlim_cur = limit;
        m_active = setrlimit(RLIMIT_FSIZE, &reduced) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_previousHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    bool active() const { return m_active; }

private:
    rlimit m_previous{};
    void (*m_previousHandler)(int) = nullptr;
    bool m_active = false;
};

} // namespace

TEST(ProgramDirectory, IsTheExecutablesDirectoryWithoutTrailingSeparator) {
    const Text directory = programDirectory();
    const QString expected =
        QDir::toNativeSeparators(QDir(QStringLiteral(PENNARO_TEST_BINARY_DIR)).canonicalPath());
    EXPECT_EQ(Cp936Codec::decode(directory), expected);
    EXPECT_FALSE(directory.endsWith('/'));
    EXPECT_EQ(listFilePath(), directory + "/tieba.txt");
}

TEST_F(FileServices, LoadGivesEveryByteAsItIs) {
    writeDirectly(QStringLiteral("list.txt"), everyByte());
    EXPECT_EQ(loadFileBytes(pathOf(QStringLiteral("list.txt"))), everyByte());
}

TEST_F(FileServices, LoadGivesEmptyBytesForWhatCannotBeRead) {
    writeDirectly(QStringLiteral("empty.txt"), QByteArray());
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("folder")));
    const Text paths[] = {
        Text(),
        pathOf(QStringLiteral("missing.txt")),
        pathOf(QStringLiteral("no such folder/list.txt")),
        pathOf(QStringLiteral("folder")),
        pathOf(QStringLiteral("empty.txt")),
    };
    for (const Text& path : paths)
        EXPECT_TRUE(loadFileBytes(path).isEmpty()) << path.toStdString();
}

TEST_F(FileServices, StoreWritesThePartsInOrderAsTheyAre) {
    ASSERT_TRUE(storeFileBytes(pathOf(QStringLiteral("list.txt")),
                               {"ab", "", QByteArrayView(), everyByte(), "\r\n"}));
    EXPECT_EQ(readDirectly(QStringLiteral("list.txt")), "ab" + everyByte() + "\r\n");
}

TEST_F(FileServices, StoreReplacesTheWholeOldContent) {
    writeDirectly(QStringLiteral("list.txt"), QByteArray(1000, 'o'));
    ASSERT_TRUE(storeFileBytes(pathOf(QStringLiteral("list.txt")), {"xy"}));
    EXPECT_EQ(readDirectly(QStringLiteral("list.txt")), "xy");

    ASSERT_TRUE(storeFileBytes(pathOf(QStringLiteral("list.txt")), {""}));
    EXPECT_EQ(QFileInfo(nativePath(QStringLiteral("list.txt"))).size(), 0);

    ASSERT_TRUE(storeFileBytes(pathOf(QStringLiteral("new.txt")), {}));
    EXPECT_TRUE(QFileInfo(nativePath(QStringLiteral("new.txt"))).isFile());
    EXPECT_EQ(QFileInfo(nativePath(QStringLiteral("new.txt"))).size(), 0);
    EXPECT_EQ(entries().size(), 2);
}

TEST_F(FileServices, StoreKeepsTheFilesPermissions) {
    const auto permissions = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
    writeDirectly(QStringLiteral("list.txt"), "old");
    ASSERT_TRUE(QFile::setPermissions(nativePath(QStringLiteral("list.txt")), permissions));
    ASSERT_TRUE(storeFileBytes(pathOf(QStringLiteral("list.txt")), {"new"}));
    EXPECT_EQ(modeOf(QStringLiteral("list.txt")), permissions);
}

TEST_F(FileServices, StoreLeavesAReadOnlyFileAsItWas) {
    const auto readOnly = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
    writeDirectly(QStringLiteral("list.txt"), "old list");
    ASSERT_TRUE(QFile::setPermissions(nativePath(QStringLiteral("list.txt")), readOnly));
    EXPECT_FALSE(storeFileBytes(pathOf(QStringLiteral("list.txt")), {"new"}));
    EXPECT_EQ(readDirectly(QStringLiteral("list.txt")), "old list");
    EXPECT_EQ(modeOf(QStringLiteral("list.txt")), readOnly);
    EXPECT_EQ(entries(), QStringList{QStringLiteral("list.txt")});
}

TEST_F(FileServices, StoreFailsWithoutTouchingAnything) {
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("folder")));
    const QString previousCurrent = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(m_dir.path()));
    EXPECT_FALSE(storeFileBytes(Text(), {"x"}));
    QDir::setCurrent(previousCurrent);

    EXPECT_FALSE(storeFileBytes(pathOf(QStringLiteral("folder")), {"x"}));
    EXPECT_FALSE(storeFileBytes(pathOf(QStringLiteral("no such folder/list.txt")), {"x"}));
    EXPECT_EQ(entries(), QStringList{QStringLiteral("folder")});
    EXPECT_TRUE(QDir(nativePath(QStringLiteral("folder"))).isEmpty());
}

TEST_F(FileServices, FailedWriteKeepsThePreviousFile) {
    writeDirectly(QStringLiteral("list.txt"), "old list\r\n");
    const QByteArray large(1 << 20, 'n');
    {
        FileSizeLimit limit(64 * 1024);
        ASSERT_TRUE(limit.active());
        EXPECT_FALSE(storeFileBytes(pathOf(QStringLiteral("list.txt")), {large}));
    }
    EXPECT_EQ(readDirectly(QStringLiteral("list.txt")), "old list\r\n");
    EXPECT_EQ(entries(), QStringList{QStringLiteral("list.txt")});
}

TEST_F(FileServices, PathsAreCodePage936Texts) {
    const QString name = QStringLiteral("名单 文件.txt");
    const Text path = Cp936Codec::encode(nativePath(name));
    ASSERT_TRUE(storeFileBytes(path, {"\xD6\xD0"}));
    EXPECT_TRUE(QFileInfo(nativePath(name)).isFile());
    EXPECT_EQ(loadFileBytes(path), "\xD6\xD0");
}
