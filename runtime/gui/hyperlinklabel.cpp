#include "runtime/gui/hyperlinklabel.h"

#include <QDesktopServices>
#include <QMouseEvent>

namespace pennaro {

HyperlinkLabel::HyperlinkLabel(const QString& caption, const QUrl& target, QWidget* parent)
    : QLabel(caption, parent), m_target(target) {
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignCenter);
    setFrameShape(QFrame::Box);
    setFrameShadow(QFrame::Plain);
    setLineWidth(1);
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

void HyperlinkLabel::updateColour() {
    const QRgb rgb = m_hovered ? kHoverColour : (m_visited ? kVisitedColour : kNormalColour);
    QPalette p = palette();
    p.setColor(QPalette::WindowText, QColor(rgb));
    setPalette(p);
}

} // namespace pennaro
