#include "app/mainwindow.h"
#include "runtime/core/cp936codec.h"
#include "runtime/core/fileservices.h"
#include "runtime/gui/listedit.h"
#include "runtime/gui/windowservices.h"
#include "tests/support/fakefilemanager.h"
#include "tests/support/modaldriver.h"
#include "tests/support/scopedmount.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <random>

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

using namespace pennaro;
using pennaro::testing::entriesOf;
using pennaro::testing::ModalDriver;
using pennaro::testing::readFile;
using pennaro::testing::ScopedMount;
using pennaro::testing::writeFile;

namespace {

// Why this process has no mount table of its own, empty when it has; set in main().
std::string g_noPrivateMounts;

constexpr qint64 KiB = 1024;
constexpr qint64 MiB = 1024 * KiB;

// Equal, or where they part: a failed comparison of megabytes should not print them.
QByteArray sameBytes(const QByteArray& actual, const QByteArray& expected) {
    if (actual == expected)
        return QByteArray();
    qsizetype i = 0;
    while (i < actual.size() && i < expected.size() && actual[i] == expected[i])
        ++i;
    return "saved " + QByteArray::number(actual.size()) + " bytes for " +
           QByteArray::number(expected.size()) + ", first difference at byte " +
           QByteArray::number(i) + ": " + actual.mid(i, 8).toHex(' ') + " for " +
           expected.mid(i, 8).toHex(' ');
}

// A mention list of about `size` bytes: names in Chinese, Latin letters and emoji (four-byte
// forms), twenty to a line.
QByteArray mentionList(qint64 size) {
    const QByteArray names[] = {cp936(u"张三"),     cp936(u"李四的小号"), "name1234",
                                cp936(u"王五🍀"),    cp936(u"尤尤呐ლ"),    "x",
                                cp936(u"用户名_2"), cp936(u"貼吧")};
    std::mt19937 generator(11);
    QByteArray list;
    list.reserve(size + 64);
    int onLine = 0;
    while (list.size() < size) {
        list += " @" + names[generator() % std::size(names)];
        if (++onLine == 20) {
            list += "\r\n";
            onLine = 0;
        }
    }
    return list;
}

// Every byte value but zero (the list ends at its first zero byte), then random bytes laced with
// every kind of line break and with what is not code page 936.
QByteArray awkwardBytes() {
    const char* const pieces[] = {
        // Line breaks.
        "\r\n", "\r", "\n", "\n\r", "\r\r\n", "\r\n\n", "\n\n",
        // Lone, bad and cut sequences; a double-byte space and a character.
        "\x80", "\xFF", "\x81", "\x81\x7F", "\xFE\xFF", "\x81\x30", "\x81\x30\x81", "\xA1\xA1",
        "\xB0\xA1",
        // Four-byte forms of U+2028, U+2029, U+FDD0, U+FEFF, U+FFFC, U+FFFF (what a text document
        // treats apart), U+F70D, U+F780 (the codec's own range), U+00A0, U+0080, U+9FA6, U+3400,
        // U+10000, U+10FFFF, and two that are no character: past U+10FFFF, past the BMP's forms.
        "\x81\x36\xA6\x35", "\x81\x36\xA6\x36", "\x84\x30\xFA\x32", "\x84\x31\x95\x33",
        "\x84\x31\xA4\x36", "\x84\x31\xA4\x39", "\x83\x39\xCD\x32", "\x83\x39\xD8\x37",
        "\x81\x30\x84\x32", "\x81\x30\x81\x30", "\x82\x35\x8F\x33", "\x81\x39\xEE\x39",
        "\x90\x30\x81\x30", "\xE3\x32\x9A\x35", "\xE3\x32\x9A\x36", "\x84\x31\xA5\x30"};
    std::mt19937 generator(7);
    QByteArray bytes;
    for (int b = 1; b < 256; ++b)
        bytes += static_cast<char>(b);
    while (bytes.size() < 2 * MiB) {
        if (generator() % 4 == 0)
            bytes += pieces[generator() % std::size(pieces)];
        else
            bytes += static_cast<char>(1 + generator() % 255);
    }
    // A cut character at the very end.
    return bytes + "\x81";
}

enum class Disk { WithRoom, Full, ReadOnly };

} // namespace

class SaveDurabilityTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void saveOnAFullOrReadOnlyDisk_data();
    void saveOnAFullOrReadOnlyDisk();
    void listSavesBackByteForByte_data();
    void listSavesBackByteForByte();

private:
    testing::FakeFileManager m_fileManager;
    QString m_directory;
    QString m_listPath;
    ScopedMount m_mount;
};

void SaveDurabilityTest::initTestCase() {
    QVERIFY(m_fileManager.install());

    m_directory = Cp936Codec::decode(programDirectory());
    m_listPath = Cp936Codec::decode(listFilePath());
    QCOMPARE(m_listPath, m_directory + u"/tieba.txt"_qs);
}

void SaveDurabilityTest::init() {
    QFile::remove(m_listPath);
    m_fileManager.reset();
}

void SaveDurabilityTest::cleanup() {
    QCOMPARE(m_mount.unmount(), std::string());
    QFile::remove(m_listPath);
    for (const QWidget* widget : QApplication::topLevelWidgets())
        QVERIFY2(!widget->isVisible(), qPrintable(widget->windowTitle()));
}

void SaveDurabilityTest::saveOnAFullOrReadOnlyDisk_data() {
    QTest::addColumn<Disk>("disk");
    // The same mount with room: what fails below fails for the disk, not for the mount.
    QTest::newRow("tmpfs with room") << Disk::WithRoom;
    QTest::newRow("full tmpfs") << Disk::Full;
    QTest::newRow("read-only bind mount") << Disk::ReadOnly;
}

// The list file lives beside the executable, so the test mounts over the executable's own
// directory: the running program goes on as before and still finds its list there.
void SaveDurabilityTest::saveOnAFullOrReadOnlyDisk() {
    QFETCH(Disk, disk);
    if (!g_noPrivateMounts.empty())
        QSKIP(("mounting is not permitted here, so no full or read-only disk: " + g_noPrivateMounts)
                  .c_str());
    const QByteArray oldList = mentionList(16 * KiB);
    const QByteArray newList = cp936(u" @新名单") + mentionList(96 * KiB);
    switch (disk) {
    case Disk::WithRoom:
    case Disk::Full:
        QCOMPARE(m_mount.mountTmpfs(m_directory, disk == Disk::Full ? 64 * KiB : 1 * MiB),
                 std::string());
        QVERIFY(writeFile(m_listPath, oldList));
        if (disk == Disk::Full) {
            const int fd = ::open(QFile::encodeName(m_directory + u"/filler"_qs).constData(),
                                  O_WRONLY | O_CREAT, 0644);
            QVERIFY(fd >= 0);
            for (qsizetype piece = 4096; piece > 0; piece /= 2)
                while (::write(fd, newList.constData(), piece) > 0) {
                }
            ::close(fd);
            struct statvfs status {};
            QCOMPARE(::statvfs(QFile::encodeName(m_directory).constData(), &status), 0);
            QCOMPARE(status.f_bavail, fsblkcnt_t(0));
        }
        break;
    case Disk::ReadOnly:
        QVERIFY(writeFile(m_listPath, oldList));
        QCOMPARE(m_mount.bindReadOnly(m_directory), std::string());
        break;
    }
    const QStringList entries = entriesOf(m_directory);
    const bool saves = disk == Disk::WithRoom;

    MainWindow w;
    w.open();
    QVERIFY(getControlText(w.编辑框2()) == oldList);
    setControlText(w.编辑框2(), newList);
    ModalDriver dialogs;
    dialogs.then(testing::acceptMessage());
    w.按钮2()->click();
    QCOMPARE(dialogs.titles(), QStringList{u"信息："_qs});
    QCOMPARE(dialogs.texts(),
             QStringList{(saves ? u"OK.路径是："_qs : u"保存失败："_qs) + m_listPath});
    QVERIFY2(readFile(m_listPath) == (saves ? newList : oldList),
             sameBytes(readFile(m_listPath), saves ? newList : oldList).constData());
    QCOMPARE(entriesOf(m_directory), entries);
    // The list is still in the window, for a save elsewhere or later.
    QVERIFY(getControlText(w.编辑框2()) == newList);
    if (!saves) {
        QTest::qWait(200);
        QVERIFY2(!m_fileManager.started(), "a failed save opened the folder");
    }
    w.close();
}

void SaveDurabilityTest::listSavesBackByteForByte_data() {
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<bool>("editUndone");
    const QByteArray big = mentionList(50 * MiB);
    const QByteArray awkward = awkwardBytes();
    QTest::newRow("50 MB list") << big << false;
    QTest::newRow("50 MB list, an edit undone") << big << true;
    QTest::newRow("awkward bytes") << awkward << false;
    // Then the save takes the bytes from what the box shows, not from what was loaded.
    QTest::newRow("awkward bytes, an edit undone") << awkward << true;
}

void SaveDurabilityTest::listSavesBackByteForByte() {
    QFETCH(QByteArray, list);
    QFETCH(bool, editUndone);
    QVERIFY(writeFile(m_listPath, list));
    MainWindow w;
    w.open();
    ListEdit* box = w.编辑框2();
    if (editUndone) {
        box->moveCursor(QTextCursor::Start);
        QTest::keyClick(box, Qt::Key_Q);
        QVERIFY(getControlText(box).startsWith("q"));
        QTest::keyClick(box, Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(!box->document()->isUndoAvailable());
    }
    ModalDriver dialogs;
    dialogs.then(testing::acceptMessage());
    w.按钮2()->click();
    QCOMPARE(dialogs.texts(), QStringList{u"OK.路径是："_qs + m_listPath});
    const QByteArray saved = readFile(m_listPath);
    QVERIFY2(saved == list, sameBytes(saved, list).constData());
    w.close();
}

int main(int argc, char* argv[]) {
    // Before any thread starts, so that every thread of the program shares the mount table.
    g_noPrivateMounts = pennaro::testing::enterPrivateMountNamespace();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    SaveDurabilityTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "savedurability_test.moc"
