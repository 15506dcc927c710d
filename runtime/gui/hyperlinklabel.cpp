#include "runtime/gui/hyperlinklabel.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMouseEvent>
#include <QPainter>

namespace pennaro {

HyperlinkLabel::HyperlinkLabel(const QString& caption, const QUrl& target, QWidget* parent)
    : QLabel(caption, parent), m_target(target) {
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignCenter);
    // The border is drawn in paintEvent: a plain frame would take the caption's colour.
    setFrameShape(QFrame::NoFrame);
    setContentsMargins(1, 1, 1, 1);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    updateColour();
}

QColor HyperlinkLabel::captionColour() const {
    return palette().color(QPalette::WindowText);
}

void HyperlinkLabel::enterEvent(QEnterEvent* event) {
    m_hovered = true;
    updateColour();
    QLabel::enterEvent(event);
}

void HyperlinkLabel::leaveEvent(QEvent* event) {
    m_hovered = false;
    updateColour();
    QLabel::leaveEvent(event);
}

void HyperlinkLabel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        // A failed open also forgets an earlier success; nothing is shown either way.
        m_visited = QDesktopServices::openUrl(m_target);
        updateColour();
    }
    QLabel::mousePressEvent(event);
}

void HyperlinkLabel::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    QPainter painter(this);
    painter.setPen(QApplication::palette().color(QPalette::WindowText));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void HyperlinkLabel::updateColour() {
    const QRgb rgb = m_hovered ? kHoverColour : (m_visited ? kVisitedColour : kNormalColour);
    QPalette p = palette();
    p.setColor(QPalette::WindowText, QColor(rgb));
    setPalette(p);
}

} // namespace pennaro
