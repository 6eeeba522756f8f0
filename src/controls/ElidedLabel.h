#pragma once

#include <QLabel>

#include <optional>

// A label of one line with a part that may be too long for it, a path or a
// value from a file: where the line has no room for the whole text, that part
// is elided in its middle, where the names that tell paths apart are least
// often, and the whole part is the tool tip. It asks for the room of the
// whole text, or of the part it is told to make room for, and makes do with
// the text around "…".
class ElidedLabel : public QLabel {
public:
    explicit ElidedLabel(QWidget* parent = nullptr) : QLabel(parent) {}

    void setParts(const QString& before, const QString& part, const QString& after);
    QString part() const { return part_; }
    // Asks for the room of this text whatever is shown, so that a part of
    // any length leaves the layout of its window as it is.
    void setRoomFor(const QString& usualText);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // The room for the text, whatever is shown.
    QSize hintFor(const QString& text) const;
    void fit();

    QString before_;
    QString part_;
    QString after_;
    std::optional<QString> room_;
};
