#include "controls/MaskedEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>

namespace {
constexpr QChar blankPlace = QLatin1Char('_');
}

MaskedEdit::MaskedEdit(int places, QWidget* parent) : QLineEdit(parent), places_(places)
{
    // Every change goes through keyPressEvent; the other ways into a line edit
    // (menu, drop, input method) would bypass the mask.
    setContextMenuPolicy(Qt::NoContextMenu);
    setAcceptDrops(false);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    show(QString(), 0);
    fitWidth();
}

void MaskedEdit::fitWidth()
{
    // The two digits more show a longer number the program sets (a cache
    // size computed from a large memory) whole; the 12 pixels are the frame
    // and the margins around the text.
    setFixedWidth(fontMetrics().horizontalAdvance(QString(places_ + 2, QLatin1Char('0'))) + 12);
}

void MaskedEdit::changeEvent(QEvent* event)
{
    QLineEdit::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        fitWidth();
}

QString MaskedEdit::value() const
{
    QString text = QLineEdit::text();
    text.replace(blankPlace, QLatin1Char(' '));
    while (text.endsWith(QLatin1Char(' ')))
        text.chop(1);
    return text;
}

void MaskedEdit::setValue(const QString& value)
{
    QString places = value;
    places.replace(QLatin1Char(' '), blankPlace);
    show(places, 0);
}

void MaskedEdit::show(QString places, int cursor)
{
    while (places.endsWith(blankPlace))
        places.chop(1);
    while (places.size() < places_)
        places.append(blankPlace);
    const QSignalBlocker blocker(this);
    QLineEdit::setText(places);
    setCursorPosition(cursor);
}

void MaskedEdit::removeRange(int from, int count)
{
    QString places = QLineEdit::text();
    places.remove(from, count);
    // A longer text the program set obeys the mask once the user edits it.
    show(places.left(places_), qMin(from, places_));
}

int MaskedEdit::typedEnd() const
{
    QString places = QLineEdit::text();
    while (places.endsWith(blankPlace))
        places.chop(1);
    return int(places.size());
}

void MaskedEdit::typeDigits(const QString& digits)
{
    if (hasSelectedText())
        removeRange(selectionStart(), selectedText().size());
    // Typing never makes more digits than the mask has places, even over a
    // longer text the program set.
    QString places = QLineEdit::text().left(places_);
    int cursor = qMin(cursorPosition(), places_);
    // Behind the last place there is nothing to overwrite; a blank place
    // after the digits takes the next one.
    if (cursor == places_)
        cursor = qMin(typedEnd(), places_);
    for (const QChar digit : digits) {
        if (cursor >= places.size())
            break;
        places[cursor++] = digit;
    }
    show(places, cursor);
}

void MaskedEdit::keyPressEvent(QKeyEvent* event)
{
    const QString before = value();

    if (event->matches(QKeySequence::Paste)) {
        QString digits;
        for (const QChar c : QApplication::clipboard()->text())
            if (c.isDigit() && c.unicode() < 128)
                digits += c;
        typeDigits(digits);
    } else if (event->matches(QKeySequence::Cut)) {
        copy();
        if (hasSelectedText())
            removeRange(selectionStart(), selectedText().size());
    } else if (event->matches(QKeySequence::MoveToEndOfLine) || event->matches(QKeySequence::MoveToEndOfBlock)
               || event->matches(QKeySequence::MoveToEndOfDocument)) {
        // The end of what was typed, where the next digit belongs, not
        // behind the blank places.
        setCursorPosition(typedEnd());
    } else if (event->matches(QKeySequence::SelectEndOfLine) || event->matches(QKeySequence::SelectEndOfBlock)
               || event->matches(QKeySequence::SelectEndOfDocument)) {
        const int anchor = !hasSelectedText()                  ? cursorPosition()
                           : cursorPosition() == selectionStart() ? selectionEnd()
                                                                  : selectionStart();
        setSelection(anchor, typedEnd() - anchor);
    } else if (event->matches(QKeySequence::Undo) || event->matches(QKeySequence::Redo)) {
        // Qt's undo would restore texts the mask never saw.
    } else if (event->key() == Qt::Key_Backspace || event->key() == Qt::Key_Delete) {
        if (hasSelectedText())
            removeRange(selectionStart(), selectedText().size());
        else if (event->key() == Qt::Key_Backspace && cursorPosition() > 0)
            removeRange(cursorPosition() - 1, 1);
        else if (event->key() == Qt::Key_Delete)
            removeRange(cursorPosition(), 1);
    } else if (event->text().size() == 1 && event->text().front().isPrint()
               && !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        const QChar c = event->text().front();
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            typeDigits(event->text());
    } else {
        // Moving the cursor, selecting, copying, Tab and Return.
        QLineEdit::keyPressEvent(event);
        return;
    }
    event->accept();
    if (value() != before)
        Q_EMIT valueEdited();
}
