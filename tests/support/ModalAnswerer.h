#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>

class QWidget;

// Answers the program's real modal boxes as a person does: it waits until
// QApplication::activeModalWidget() shows a box, so the box runs its own
// event loop, records the box's text, and presses a button of it. For as
// long as it lives it answers every box that opens. A box still open
// kDeadlineMs after it was first answered fails the test, naming the box,
// and is closed, so that a wrong answer cannot hang the test in the box's
// event loop.
class ModalAnswerer : public QObject {
public:
    // Presses the message box button with this text ("OK", "&Yes", "&No").
    explicit ModalAnswerer(QString button = QStringLiteral("OK"));
    // Does what answer does with any modal window (a file dialog, say).
    explicit ModalAnswerer(std::function<void(QWidget*)> answer);

    // Texts of the message boxes answered, in order.
    QStringList texts;
    // What the widgets outside the box were like while it was open: the
    // text of the widget with the focus before it opened, say.
    std::function<void()> whileOpen;

    static constexpr qint64 kDeadlineMs = 20000;

private:
    void poll();

    QTimer timer_;
    // The modal window answered last, and since when it has been open.
    QPointer<QWidget> answering_;
    QElapsedTimer answeringSince_;
    std::function<void(QWidget*)> answer_;
};
