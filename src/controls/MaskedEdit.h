#pragma once

#include <QLineEdit>

// The masked edit of the digit fields ("999", "99"): unfilled places show as
// "_", typing takes digits only and overwrites place by place up to the
// mask's length (behind the last place, a digit goes to the first blank
// place after what was typed; End goes there too), and value() reads a blank
// place before a digit as a space and drops blanks at the end ("3_8" reads
// "3 8", "38_" reads "38"). The program may set a longer text; it is kept
// unchanged. Qt's input mask behaves differently on each of these points,
// hence this control. The field is as wide as its mask and two digits more,
// whatever room its line has.
class MaskedEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit MaskedEdit(int places, QWidget* parent = nullptr);

    QString value() const;
    // Set by the program: no signal.
    void setValue(const QString& value);

Q_SIGNALS:
    // The user changed the value.
    void valueEdited();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void fitWidth();
    // Where what was typed ends: before the blank places at the end.
    int typedEnd() const;
    void typeDigits(const QString& digits);
    void removeRange(int from, int count);
    void show(QString places, int cursor);

    int places_;
};
