#pragma once

#include <QLabel>
#include <QUrl>

namespace pennaro {

// A caption that opens a web address with the system's default handler when clicked. Its colour
// tells its state: normal, hovered, or opened successfully.
class HyperlinkLabel final : public QLabel {
    Q_OBJECT

public:
    static constexpr QRgb kNormalColour = qRgb(0, 0, 255);
    static constexpr QRgb kHoverColour = qRgb(51, 153, 255);
    static constexpr QRgb kVisitedColour = qRgb(128, 0, 0);

    HyperlinkLabel(const QString& caption, const QUrl& target, QWidget* parent = nullptr);

    QUrl target() const { return m_target; }
    bool isVisited() const { return m_visited; }
    QColor captionColour() const;

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void updateColour();

    QUrl m_target;
    bool m_hovered = false;
    bool m_visited = false;
};

} // namespace pennaro
