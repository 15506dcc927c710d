#pragma once

#include "app/net/httpclient.h"
#include "runtime/core/textdefs.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace pennaro {

class HyperlinkLabel;
class ListEdit;

// The forum service's web server, which the listing pages come from.
inline constexpr char kForumHost[] = "tieba.baidu.com";

// The program's one window, `窗口`, with its nine controls.
class MainWindow final : public QWidget {
    Q_OBJECT

public:
    static constexpr QSize kOuterSize{530, 397};

    // `host` is where the listing pages are fetched from, through `client`, which must outlive
    // the window.
    explicit MainWindow(Text host = Text(kForumHost),
                        const HttpClient& client = HttpClient::shared());
    ~MainWindow() override;

    // Fills the list, then shows the window centred with the focus in the forum name box.
    void open();

    void onMainWindowCreated();
    void onExtractClicked();
    void onSaveClicked();

    QLineEdit* 编辑框1() const { return m_编辑框1; }
    ListEdit* 编辑框2() const { return m_编辑框2; }
    QPushButton* 按钮1() const { return m_按钮1; }
    QPushButton* 按钮2() const { return m_按钮2; }
    QLabel* 标签1() const { return m_标签1; }
    QLabel* 标签2() const { return m_标签2; }
    QLabel* 标签3() const { return m_标签3; }
    HyperlinkLabel* 超级链接框1() const { return m_超级链接框1; }
    HyperlinkLabel* 超级链接框2() const { return m_超级链接框2; }

    static QString caption();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void fitFrameToOuterSize();
    void centreOnScreen();

    Text m_host;
    const HttpClient& m_client;
    QMargins m_fittedMargins;
    QLineEdit* m_编辑框1;
    ListEdit* m_编辑框2;
    QPushButton* m_按钮1;
    QPushButton* m_按钮2;
    QLabel* m_标签1;
    QLabel* m_标签2;
    QLabel* m_标签3;
    HyperlinkLabel* m_超级链接框1;
    HyperlinkLabel* m_超级链接框2;
};

} // namespace pennaro
