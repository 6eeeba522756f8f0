#include "controls/EventRules.h"
#include "controls/MessageBoxes.h"
#include "platform/EditorError.h"
#include "support/ScriptedMessageBoxes.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QVBoxLayout>

// The rules by which user actions and program-made changes reach handlers,
// and the error box they end in.
class EventRulesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void errorTextAddsAFullStopAfterLettersAndDigits_data();
    void errorTextAddsAFullStopAfterLettersAndDigits();
    void programTextRunsTheHandlerOnlyOnARealChange();
    void failureInANestedHandlerEndsTheOuterOne();
    void checkBoxRunsItsHandlerEvenWhenDisabled();
    void radioButtonRunsOnBecomingSelectedOnly();
    void comboRunsOnlyForTheUser();
    void focusOutRunsTheExitHandler();

private:
    ScriptedMessageBoxes boxes;
    std::unique_ptr<QWidget> window;
    std::unique_ptr<EventRules> rules;
    QStringList calls;
};

void EventRulesTest::init()
{
    boxes = ScriptedMessageBoxes();
    window = std::make_unique<QWidget>();
    window->setLayout(new QVBoxLayout);
    rules = std::make_unique<EventRules>(boxes, window.get());
    calls.clear();
}

void EventRulesTest::cleanup()
{
    rules.reset();
    window.reset();
}

void EventRulesTest::errorTextAddsAFullStopAfterLettersAndDigits_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    QTest::newRow("letter") << "Unable to write to /x/user.ini" << "Unable to write to /x/user.ini.";
    QTest::newRow("digit") << "value 42" << "value 42.";
    QTest::newRow("quote") << "'abc' is not a valid integer value" << "'abc' is not a valid integer value.";
    QTest::newRow("full stop") << "done." << "done.";
    QTest::newRow("bang") << "Achtung!" << "Achtung!";
    QTest::newRow("paren") << "(x)" << "(x)";
    QTest::newRow("blank") << "trailing " << "trailing ";
    QTest::newRow("empty") << "" << "";
}

void EventRulesTest::errorTextAddsAFullStopAfterLettersAndDigits()
{
    QFETCH(QString, message);
    QFETCH(QString, shown);
    auto* button = new QPushButton(window.get());
    rules->onClick(button, [&] { throw EditorError(message); });
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(boxes.errors(), QStringList{shown});
}

void EventRulesTest::programTextRunsTheHandlerOnlyOnARealChange()
{
    auto* edit = new QLineEdit(window.get());
    rules->onChange(edit, [&] { calls << "change:" + edit->text(); });
    EventRules::setText(edit, "a");
    EventRules::setText(edit, "a");
    QTest::keyClicks(edit, "b");
    EventRules::setText(edit, "ab");
    EventRules::setText(edit, "");
    QCOMPARE(calls, (QStringList{"change:a", "change:ab", "change:"}));
}

void EventRulesTest::failureInANestedHandlerEndsTheOuterOne()
{
    auto* edit = new QLineEdit(window.get());
    auto* button = new QPushButton(window.get());
    rules->onChange(edit, [&] {
        calls << "inner";
        throw EditorError("inner failed");
    });
    rules->onClick(button, [&] {
        calls << "outer";
        EventRules::setText(edit, "x");
        calls << "outer went on";
    });
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(calls, (QStringList{"outer", "inner"}));
    QCOMPARE(boxes.errors(), QStringList{"inner failed."});
}

void EventRulesTest::checkBoxRunsItsHandlerEvenWhenDisabled()
{
    auto* box = new QCheckBox("box", window.get());
    window->layout()->addWidget(box);
    rules->onClick(box, [&] { calls << QString("click:%1").arg(box->isChecked()); });
    box->setEnabled(false);
    EventRules::setChecked(box, true);
    EventRules::setChecked(box, true);
    QTest::mouseClick(box, Qt::LeftButton); // disabled: nothing
    box->setEnabled(true);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QTest::mouseClick(box, Qt::LeftButton);
    EventRules::setChecked(box, true);
    QCOMPARE(calls, (QStringList{"click:1", "click:0", "click:1"}));
}

void EventRulesTest::radioButtonRunsOnBecomingSelectedOnly()
{
    auto* first = new QRadioButton("first", window.get());
    auto* second = new QRadioButton("second", window.get());
    window->layout()->addWidget(first);
    window->layout()->addWidget(second);
    rules->onSelect(first, [&] { calls << "first"; });
    rules->onSelect(second, [&] { calls << "second"; });
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));

    EventRules::select(first);
    EventRules::select(first);
    QTest::mouseClick(first, Qt::LeftButton); // already selected: nothing
    QTest::mouseClick(second, Qt::LeftButton);
    QVERIFY(!first->isChecked());
    EventRules::select(first);
    QVERIFY(!second->isChecked());
    QCOMPARE(calls, (QStringList{"first", "second", "first"}));
}

void EventRulesTest::comboRunsOnlyForTheUser()
{
    auto* combo = new QComboBox(window.get());
    combo->setEditable(true);
    combo->addItems({"Marine", "Soldier"});
    rules->onPick(combo, [&] { calls << combo->currentText(); });
    EventRules::setComboText(combo, "Soldier");
    QVERIFY(calls.isEmpty());
    QCOMPARE(combo->currentText(), QStringLiteral("Soldier"));
    combo->lineEdit()->clear();
    QTest::keyClicks(combo->lineEdit(), "Ma");
    QCOMPARE(calls, (QStringList{"M", "Ma"}));
}

void EventRulesTest::focusOutRunsTheExitHandler()
{
    auto* first = new QLineEdit(window.get());
    auto* second = new QLineEdit(window.get());
    window->layout()->addWidget(first);
    window->layout()->addWidget(second);
    rules->onExit(first, [&] {
        calls << "exit";
        throw EditorError("'x' is not a valid integer value");
    });
    window->show();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    first->setFocus();
    QVERIFY(first->hasFocus());
    second->setFocus();
    QCOMPARE(calls, QStringList{"exit"});
    QCOMPARE(boxes.errors(), QStringList{"'x' is not a valid integer value."});
}

QTEST_MAIN(EventRulesTest)
#include "test_eventrules.moc"
