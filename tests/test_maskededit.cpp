#include "controls/MaskedEdit.h"
#include "support/ProcessState.h"

#include <QTest>

#include <memory>

// The digit field sized by its mask: typing, blanks, paste.
class MaskedEditTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void maskedEditTyping();
    void maskedEditBlankBeforeADigitReadsAsSpace();
    void maskedEditPasteTakesDigitsOnly();

private:
    std::unique_ptr<QWidget> window;
};

void MaskedEditTest::init()
{
    window = std::make_unique<QWidget>();
}

void MaskedEditTest::cleanup()
{
    window.reset();
}

void MaskedEditTest::maskedEditTyping()
{
    auto* edit = new MaskedEdit(3, window.get());
    int edits = 0;
    connect(edit, &MaskedEdit::valueEdited, this, [&] { ++edits; });
    QCOMPARE(edit->text(), QStringLiteral("___"));
    QCOMPARE(edit->value(), QString());

    QTest::keyClicks(edit, "1a2-34");
    QCOMPARE(edit->value(), QStringLiteral("123"));
    QCOMPARE(edits, 3);

    // Backspace in the middle closes the gap; the end fills with blanks.
    edit->setCursorPosition(2);
    QTest::keyClick(edit, Qt::Key_Backspace);
    QCOMPARE(edit->text(), QStringLiteral("13_"));
    QTest::keyClick(edit, Qt::Key_Delete);
    QCOMPARE(edit->text(), QStringLiteral("1__"));
    QCOMPARE(edits, 5);

    // Undo would bring back a text the mask never saw.
    QTest::keyClick(edit, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(edit->value(), QStringLiteral("1"));

    // The program may set a longer text; it stays as it is, silently.
    edit->setValue("3072");
    QCOMPARE(edit->value(), QStringLiteral("3072"));
    QCOMPARE(edits, 5);

    // End goes to the end of what was typed, not behind the blank place,
    // and the digit typed there is taken.
    edit->setValue("95");
    QTest::keyClick(edit, Qt::Key_Home);
    QTest::keyClick(edit, Qt::Key_End, Qt::ShiftModifier);
    QCOMPARE(edit->selectedText(), QStringLiteral("95"));
    QTest::keyClick(edit, Qt::Key_End);
    QTest::keyClicks(edit, "1");
    QCOMPARE(edit->value(), QStringLiteral("951"));
    // Put behind the last place (a click there), a digit goes to the first
    // blank place after the digits; a full field takes none.
    edit->setValue("9");
    edit->setCursorPosition(3);
    QTest::keyClicks(edit, "512");
    QCOMPARE(edit->value(), QStringLiteral("951"));
}

void MaskedEditTest::maskedEditBlankBeforeADigitReadsAsSpace()
{
    auto* edit = new MaskedEdit(3, window.get());
    edit->setCursorPosition(1);
    QTest::keyClicks(edit, "8");
    QCOMPARE(edit->text(), QStringLiteral("_8_"));
    QCOMPARE(edit->value(), QStringLiteral(" 8"));
    edit->setValue("3 8");
    QCOMPARE(edit->text(), QStringLiteral("3_8"));
    QCOMPARE(edit->value(), QStringLiteral("3 8"));
}

void MaskedEditTest::maskedEditPasteTakesDigitsOnly()
{
    auto* edit = new MaskedEdit(2, window.get());
    const ClipboardText clipboard(QStringLiteral("a9 b87"));
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(edit->value(), QStringLiteral("98"));
}

QTEST_MAIN(MaskedEditTest)
#include "test_maskededit.moc"
