#include "app/mainwindow.h"

#include "app/buildsettings.h"
#include "app/extractionrun.h"
#include "runtime/core/cp936codec.h"
#include "runtime/core/fileservices.h"
#include "runtime/core/processlauncher.h"
#include "runtime/core/textservices.h"
#include "runtime/gui/hyperlinklabel.h"
#include "runtime/gui/listedit.h"
#include "runtime/gui/windowservices.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QWindow>

namespace pennaro {

namespace {

QLabel* makeLabel(QWidget* parent, const QString& name, const QString& caption, QRect place) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(name);
    label->setGeometry(place);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(false);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setFocusPolicy(Qt::NoFocus);
    return label;
}

QPushButton* makeButton(QWidget* parent, const QString& name, const QString& caption, QRect place) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setGeometry(place);
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setFocusPolicy(Qt::StrongFocus);
    return button;
}

QUrl qqLink() {
    const QString number = QString::fromUtf8(buildsettings::kQqNumber);
    if (number.isEmpty())
        return QUrl(u"https://im.qq.com/"_qs);
    return QUrl(u"https://wpa.qq.com/msgrd?v=3&uin=%1&site=qq&menu=yes"_qs.arg(number));
}

} // namespace

MainWindow::MainWindow(Text host, const HttpClient& client)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      m_host(std::move(host)), m_client(client) {
    setObjectName(u"窗口"_qs);
    setWindowTitle(caption());
    setWindowIcon(QIcon(u":/pennaro.svg"_qs));
    setFixedSize(kOuterSize);
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);
    setAutoFillBackground(true);

    m_标签1 = makeLabel(this, u"标签1"_qs, u"请输入贴吧名称："_qs, {40, 16, 136, 24});
    m_标签2 = makeLabel(this, u"标签2"_qs, u"作用：发贴方便直接复制 @用户名 你懂的"_qs,
                        {216, 16, 288, 16});
    m_编辑框1 = new QLineEdit(this);
    m_编辑框1->setObjectName(u"编辑框1"_qs);
    m_编辑框1->setGeometry(24, 56, 216, 24);
    m_按钮1 = makeButton(this, u"按钮1"_qs, u"提取"_qs, {288, 48, 80, 32});
    m_按钮2 = makeButton(this, u"按钮2"_qs, u"保存"_qs, {392, 48, 80, 32});
    m_编辑框2 = new ListEdit(this);
    m_编辑框2->setObjectName(u"编辑框2"_qs);
    m_编辑框2->setGeometry(16, 96, 488, 224);
    m_标签3 = makeLabel(this, u"标签3"_qs, u"标签"_qs, {16, 336, 88, 24});
    m_超级链接框2 = new HyperlinkLabel(u"联系QQ"_qs, qqLink(), this);
    m_超级链接框2->setObjectName(u"超级链接框2"_qs);
    m_超级链接框2->setGeometry(128, 336, 160, 24);
    m_超级链接框1 =
        new HyperlinkLabel(u"我的网站"_qs, QUrl(QString::fromUtf8(buildsettings::kSiteUrl)), this);
    m_超级链接框1->setObjectName(u"超级链接框1"_qs);
    m_超级链接框1->setGeometry(336, 336, 160, 24);

    // Black on white in both boxes, whatever the style's defaults.
    for (QWidget* box : {static_cast<QWidget*>(m_编辑框1), static_cast<QWidget*>(m_编辑框2)}) {
        QPalette p = box->palette();
        p.setColor(QPalette::Base, Qt::white);
        p.setColor(QPalette::Text, Qt::black);
        // The selection shows only while the box has the focus.
        p.setColor(QPalette::Inactive, QPalette::Highlight, Qt::white);
        p.setColor(QPalette::Inactive, QPalette::HighlightedText, Qt::black);
        box->setPalette(p);
        box->installEventFilter(this);
    }
    m_按钮1->installEventFilter(this);
    m_按钮2->installEventFilter(this);
    setTabOrder(m_编辑框1, m_按钮1);
    setTabOrder(m_按钮1, m_编辑框2);
    setTabOrder(m_编辑框2, m_按钮2);
    setTabOrder(m_按钮2, m_编辑框1);

    connect(m_按钮1, &QPushButton::clicked, this, &MainWindow::onExtractClicked);
    connect(m_按钮2, &QPushButton::clicked, this, &MainWindow::onSaveClicked);
}

MainWindow::~MainWindow() = default;

QString MainWindow::caption() {
    QString credit = QString::fromUtf8(buildsettings::kAuthorName);
    const QString contact = QString::fromUtf8(buildsettings::kAuthorContact);
    if (!contact.isEmpty())
        credit += u' ' + contact;
    return u"PennaroV1.1  By:"_qs + credit;
}

void MainWindow::open() {
    setMainWindowOpen(true);
    onMainWindowCreated();
    centreOnScreen();
    show();
    raise();
    activateWindow();
    m_编辑框1->setFocus(Qt::OtherFocusReason);
}

void MainWindow::onMainWindowCreated() {
    setControlText(m_编辑框2, bytesToText(loadFileBytes(listFilePath())));
}

void MainWindow::onExtractClicked() {
    ExtractionRun(m_编辑框1, m_编辑框2, m_标签3, m_host, m_client).run();
}

void MainWindow::onSaveClicked() {
    const Text path = listFilePath();
    if (!storeFileBytes(path, {textToBytes(getControlText(m_编辑框2))})) {
        // The previous file is left as it was; say so rather than report success.
        showMessage(joinTexts({cp936(u"保存失败："), path}), 0);
        return;
    }
    launchCommand(fileManagerCommand(programDirectory()), false);
    showMessage(joinTexts({cp936(u"OK.路径是："), path}), 0);
}

bool MainWindow::event(QEvent* event) {
    // The frame's size is known only once the window system has framed the window.
    if (event->type() == QEvent::Move || event->type() == QEvent::Resize ||
        event->type() == QEvent::Show)
        fitFrameToOuterSize();
    return QWidget::event(event);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    switch (key->key()) {
    case Qt::Key_Tab:
        focusNextPrevChild(!(key->modifiers() & Qt::ShiftModifier));
        return true;
    case Qt::Key_Backtab:
        focusNextPrevChild(false);
        return true;
    case Qt::Key_Escape:
        close();
        return true;
    case Qt::Key_F1:
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (watched == m_编辑框2 &&
            !(key->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier))) {
            // Every line break typed is "\r\n", also with Shift held.
            m_编辑框2->insertLineBreak();
        }
        return true;
    default:
        return QWidget::eventFilter(watched, event);
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Never refused, nothing saved; a run still inside the event pump sees this and stops.
    setMainWindowOpen(false);
    event->accept();
}

void MainWindow::fitFrameToOuterSize() {
    const QWindow* handle = windowHandle();
    if (handle == nullptr)
        return;
    const QMargins margins = handle->frameMargins();
    if (margins == m_fittedMargins)
        return;
    m_fittedMargins = margins;
    setFixedSize(kOuterSize.width() - margins.left() - margins.right(),
                 kOuterSize.height() - margins.top() - margins.bottom());
    centreOnScreen();
}

void MainWindow::centreOnScreen() {
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    const QRect area = screen->geometry();
    move(area.left() + (area.width() - kOuterSize.width()) / 2,
         area.top() + (area.height() - kOuterSize.height()) / 2);
}

} // namespace pennaro
