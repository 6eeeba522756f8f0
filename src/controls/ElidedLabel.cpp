#include "controls/ElidedLabel.h"

#include <QEvent>
#include <QResizeEvent>

void ElidedLabel::setParts(const QString& before, const QString& part, const QString& after)
{
    before_ = before;
    part_ = part;
    after_ = after;
    setToolTip(part);
    fit();
    updateGeometry();
}

QSize ElidedLabel::hintFor(const QString& text) const
{
    // Measured as fit() measures, so that the room asked for is the room the
    // whole text gets.
    const QMargins margins = contentsMargins();
    return {margins.left() + margins.right() + 2 * margin() + fontMetrics().horizontalAdvance(text),
            QLabel::sizeHint().height()};
}

void ElidedLabel::setRoomFor(const QString& usualText)
{
    room_ = usualText;
    updateGeometry();
}

QSize ElidedLabel::sizeHint() const
{
    return hintFor(room_.value_or(before_ + part_ + after_));
}

QSize ElidedLabel::minimumSizeHint() const
{
    return hintFor(before_ + QChar(0x2026) + after_);
}

void ElidedLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    fit();
}

void ElidedLabel::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        fit();
}

void ElidedLabel::fit()
{
    const QFontMetrics metrics = fontMetrics();
    const int room = contentsRect().width() - 2 * margin();
    const QString whole = before_ + part_ + after_;
    // The parts measured one by one may come out wider than the whole.
    if (metrics.horizontalAdvance(whole) <= room) {
        setText(whole);
        return;
    }
    const int partRoom = room - metrics.horizontalAdvance(before_ + after_);
    setText(before_ + metrics.elidedText(part_, Qt::ElideMiddle, qMax(partRoom, 0)) + after_);
}
