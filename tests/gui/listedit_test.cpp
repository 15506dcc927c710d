#include "runtime/core/cp936codec.h"
#include "runtime/gui/listedit.h"
#include "runtime/gui/windowservices.h"
#include "tests/support/widgettestmain.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QTest>

using namespace pennaro;

namespace {

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray b;
    for (int v : values)
        b.append(static_cast<char>(v));
    return b;
}

// What the box gives back when its byte image has to be rebuilt from the document.
Text fromDocument(const QPlainTextEdit& edit) {
    return Cp936Codec::encode(edit.document()->toRawText(), Cp936Codec::LineBreaks::Widget);
}

} // namespace

class ListEditTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void bytesSurviveTheDocument_data();
    void bytesSurviveTheDocument();
    void randomBytesSurviveTheDocument();
    void everyCodePointTheCodecProducesIsKept();
    void appendsKeepTheImageInStepWithTheDocument();
    void userEditsAreReadFromTheDocument();
    void lineEditKeepsBytes_data();
    void lineEditKeepsBytes();
};

void ListEditTest::bytesSurviveTheDocument_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("utf8 byte-order mark") << bytes({0xEF, 0xBB, 0xBF, 'a'});
    QTest::newRow("lone line feeds") << QByteArray("a\nb\n\n");
    QTest::newRow("lone carriage returns") << QByteArray("\ra\rb\r");
    QTest::newRow("crlf") << QByteArray("a\r\nb\r\n");
    QTest::newRow("cr cr lf") << QByteArray("\r\r\n\n\r");
    QTest::newRow("not gbk") << bytes({0xFF, 0x81, 0x20, 0xAA, 0xA1, 0x81, 0x7F});
    QTest::newRow("byte 80") << bytes({0x80});
    QTest::newRow("lone lead at end") << bytes({'x', 0xD6});
    QTest::newRow("gbk and four-byte") << bytes({0xD5, 0xC5, 0x94, 0x39, 0xFC, 0x36, 0xA1, 0xA1});
    QTest::newRow("tabs and controls") << bytes({'\t', 0x01, 0x0B, 0x0C, 0x1B, 0x7F, ' '});
    QTest::newRow("mention list") << cp936(u" @张三 @李四 @ab\r\n @c");
}

void ListEditTest::bytesSurviveTheDocument() {
    QFETCH(QByteArray, input);
    ListEdit list;
    setControlText(&list, input);
    QCOMPARE(getControlText(&list), input);
    QCOMPARE(fromDocument(list), input);
    QPlainTextEdit plain;
    setControlText(&plain, input);
    QCOMPARE(getControlText(&plain), input);
}

void ListEditTest::randomBytesSurviveTheDocument() {
    QRandomGenerator random(42);
    const int interesting[] = {'\r', '\n', 0x80, 0x81, 0x90, 0xD6, 0xFE, 0xFF, 0x30, 0x39, 0xA1};
    ListEdit list;
    for (int round = 0; round < 3000; ++round) {
        QByteArray in;
        const int length = random.bounded(20);
        for (int k = 0; k < length; ++k)
            in.append(static_cast<char>(
                random.bounded(2) ? interesting[random.bounded(int(std::size(interesting)))]
                                  : random.bounded(1, 256)));
        list.setBytes(in);
        QCOMPARE(fromDocument(list), in);
    }
}

void ListEditTest::everyCodePointTheCodecProducesIsKept() {
    // Decode every two-byte code and a four-byte form of every BMP character: whatever the codec
    // can put into a box must come out of the document unchanged.
    QByteArray all;
    for (int lead = 0x81; lead <= 0xFE; ++lead)
        for (int trail = 0x40; trail <= 0xFE; ++trail)
            all += bytes({lead, trail, ' '});
    for (int linear = 0; linear < 39420; ++linear)
        all += bytes({0x81 + linear / 12600, 0x30 + linear / 1260 % 10, 0x81 + linear / 10 % 126,
                      0x30 + linear % 10, ' '});
    for (int c = 1; c < 0x80; ++c)
        all += bytes({c});
    const QString decoded = Cp936Codec::decode(all, Cp936Codec::LineBreaks::Widget);
    QPlainTextEdit edit;
    edit.setPlainText(decoded);
    const QString raw = edit.document()->toRawText();
    if (raw != decoded) {
        for (qsizetype i = 0; i < std::min(raw.size(), decoded.size()); ++i)
            QVERIFY2(raw.at(i) == decoded.at(i),
                     qPrintable(u"U+%1 changed"_qs.arg(decoded.at(i).unicode(), 4, 16)));
    }
    QCOMPARE(raw.size(), decoded.size());
    QCOMPARE(Cp936Codec::encode(raw, Cp936Codec::LineBreaks::Widget), all);
}

void ListEditTest::appendsKeepTheImageInStepWithTheDocument() {
    ListEdit list;
    list.setBytes(bytes({'a', 0xD6}));
    // A lone lead byte followed by the trail byte of a later append, a carriage return and the
    // line feed of the next append: the image holds the bytes, the document the same bytes.
    const QByteArray pieces[] = {bytes({0xD0}),       QByteArray("\r"),   QByteArray("\n"),
                                 cp936(u" @张海楼🍀"), QByteArray("\r\n"), QByteArray(" @x")};
    QByteArray expected = bytes({'a', 0xD6});
    for (const QByteArray& piece : pieces) {
        editAppend(&list, {piece});
        expected += piece;
        QCOMPARE(getControlText(&list), expected);
        // The document catches up once the waiting events run.
        QCoreApplication::processEvents();
        QCOMPARE(fromDocument(list), expected);
    }
    QVERIFY(!list.document()->isUndoAvailable());
    QCOMPARE(list.textCursor().position(), list.document()->characterCount() - 1);
}

void ListEditTest::userEditsAreReadFromTheDocument() {
    ListEdit list;
    list.setBytes(QByteArray(" @a"));
    list.show();
    list.setFocus();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    list.moveCursor(QTextCursor::End);
    QTest::keyClicks(&list, u"bc"_qs);
    QTest::keyClick(&list, Qt::Key_Return);
    // Chinese cannot go through keyClicks: commit it as an input method would.
    QInputMethodEvent commit;
    commit.setCommitString(u"中😀"_qs);
    QCoreApplication::sendEvent(list.focusProxy() ? list.focusProxy() : &list, &commit);
    QCOMPARE(getControlText(&list), QByteArray(" @abc\r\n") + cp936(u"中😀"));
    QTest::keyClick(&list, Qt::Key_Backspace);
    QTest::keyClick(&list, Qt::Key_Backspace);
    QCOMPARE(getControlText(&list), QByteArray(" @abc\r\n"));
    editAppend(&list, {QByteArray("d")});
    QCOMPARE(getControlText(&list), QByteArray(" @abc\r\nd"));
    // A key typed before the waiting events ran still lands after the appended text.
    editAppend(&list, {QByteArray(" @e")});
    QTest::keyClicks(&list, u"f"_qs);
    QCOMPARE(getControlText(&list), QByteArray(" @abc\r\nd @ef"));
    QCOMPARE(fromDocument(list), QByteArray(" @abc\r\nd @ef"));
}

void ListEditTest::lineEditKeepsBytes_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::newRow("forum name") << cp936(u"李毅");
    QTest::newRow("blanks around") << QByteArray("  lol ");
    QTest::newRow("not gbk") << bytes({0xFF, 0x81, 0x20});
    QTest::newRow("emoji") << cp936(u"吧🍀");
}

void ListEditTest::lineEditKeepsBytes() {
    QFETCH(QByteArray, input);
    QLineEdit line;
    setControlText(&line, input);
    QCOMPARE(getControlText(&line), input);
    QCOMPARE(line.cursorPosition(), 0);
}

PENNARO_WIDGET_TEST_MAIN(ListEditTest)
#include "listedit_test.moc"
