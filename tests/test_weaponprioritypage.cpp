#include "app/HauptUnit.h"
#include "controls/MaskedEdit.h"
#include "support/GameFixture.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

// The weapon priority page through its widgets, against the bytes of the
// sample's User.ini (WeaponPriority[0]..[13] one weapon each, [14]..[19] None).
class WeaponPriorityPageTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void showListsTheFourteenPositions();
    void rowFieldKeepsToOneToFourteen_data();
    void rowFieldKeepsToOneToFourteen();
    void pickedWeaponWritesOneKey();
    void typedTextIsWrittenAsTyped();
    void failedWriteKeepsTheRow();

private:
    template <typename T>
    T* child(const QString& name) const
    {
        T* widget = window->findChild<T*>(name);
        if (!widget)
            qFatal("no widget %s", qPrintable(name));
        return widget;
    }
    QLabel* weaponLabel(int n) const { return child<QLabel>(QStringLiteral("LWeappon%1").arg(n)); }
    QLabel* numberLabel(int n) const { return child<QLabel>(QStringLiteral("LPriority%1").arg(n)); }
    void startWith(const QByteArray& userIni);
    void showPage(const char* name);
    void chooseRow(const QString& digits);
    void pick(int item);
    // The row the editing line stands beside, -1 if none.
    int editingRow() const;
    QList<int> boldRows() const;
    void click() { QTest::mouseClick(child<QPushButton>(QStringLiteral("bPriorityEintragen")), Qt::LeftButton); }

    std::unique_ptr<GameFixture> game;
    THauptForm* window = nullptr;
    QByteArray original;
};

void WeaponPriorityPageTest::init()
{
    game = std::make_unique<GameFixture>();
    game->registerGameDir();
    original = readBytes(game->userIniPath());
}

void WeaponPriorityPageTest::cleanup()
{
    game.reset();
    window = nullptr;
}

void WeaponPriorityPageTest::startWith(const QByteArray& userIni)
{
    writeBytes(game->userIniPath(), userIni);
    original = userIni;
    window = game->start();
    QVERIFY(window);
    showPage("tsWeapponpriority");
}

void WeaponPriorityPageTest::showPage(const char* name)
{
    game->showPage(name);
}

void WeaponPriorityPageTest::chooseRow(const QString& digits)
{
    typeOver(child<MaskedEdit>(QStringLiteral("mePriority")), digits, Selection::DeleteFirst);
    QCoreApplication::processEvents();
}

void WeaponPriorityPageTest::pick(int item)
{
    // Through the open list, by keyboard.
    auto* combo = child<QComboBox>(QStringLiteral("coboWeappon"));
    combo->setFocus();
    combo->showPopup();
    QAbstractItemView* list = combo->view();
    QTRY_VERIFY(list->isVisible());
    for (int at = list->currentIndex().row(); at != item; at += at < item ? 1 : -1)
        QTest::keyClick(list, at < item ? Qt::Key_Down : Qt::Key_Up);
    QTest::keyClick(list, Qt::Key_Return);
    QTRY_VERIFY(!list->isVisible());
}

int WeaponPriorityPageTest::editingRow() const
{
    auto* box = child<QGroupBox>(QStringLiteral("GroupBox8"));
    auto* field = child<MaskedEdit>(QStringLiteral("mePriority"));
    auto* button = child<QPushButton>(QStringLiteral("bPriorityEintragen"));
    auto* combo = child<QComboBox>(QStringLiteral("coboWeappon"));
    const int middle = field->mapTo(box, field->rect().center()).y();
    int found = -1;
    for (int n = 1; n <= 14; ++n) {
        const QRect label(numberLabel(n)->mapTo(box, QPoint(0, 0)), numberLabel(n)->size());
        if (middle >= label.top() && middle <= label.bottom())
            found = n;
    }
    // The three controls stand on one line.
    if (button->mapTo(box, button->rect().center()).y() != middle
        || std::abs(combo->mapTo(box, combo->rect().center()).y() - middle) > 1)
        return -1;
    return found;
}

QList<int> WeaponPriorityPageTest::boldRows() const
{
    QList<int> rows;
    for (int n = 1; n <= 14; ++n) {
        if (numberLabel(n)->font().bold() != weaponLabel(n)->font().bold())
            qFatal("row %d half bold", n);
        if (numberLabel(n)->font().bold())
            rows << n;
    }
    return rows;
}

void WeaponPriorityPageTest::showListsTheFourteenPositions()
{
    QByteArray changed = withLine(original, "\nWeaponPriority[3]=Enforcer\r\n", "\nWeaponPriority[3]=None\r\n");
    changed = withLine(changed, "\nWeaponPriority[5]=UT_BioRifle\r\n", "\nWeaponPriority[5]=none\r\n");
    changed = withLine(changed, "\nWeaponPriority[12]=ShockRifle\r\n", "\n");
    startWith(changed);
    QCOMPARE(child<QGroupBox>(QStringLiteral("GroupBox8"))->title(), QStringLiteral(" Waffen-Priorität "));
    for (int n = 1; n <= 14; ++n)
        QCOMPARE(numberLabel(n)->text(), QStringLiteral("%1.").arg(n));
    QCOMPARE(weaponLabel(1)->text(), QStringLiteral("Translocator"));
    QCOMPARE(weaponLabel(4)->text(), QString());
    QCOMPARE(weaponLabel(6)->text(), QStringLiteral("none"));
    QCOMPARE(weaponLabel(11)->text(), QStringLiteral("UT_EightBall"));
    QCOMPARE(weaponLabel(13)->text(), QStringLiteral("Eintrag nicht gefunden"));
    QCOMPARE(weaponLabel(14)->text(), QStringLiteral("WarheadLauncher"));

    // At start the editing line stands at row 14, the bold one.
    QCOMPARE(child<MaskedEdit>(QStringLiteral("mePriority"))->value(), QStringLiteral("14"));
    QCOMPARE(child<QComboBox>(QStringLiteral("coboWeappon"))->currentText(), QStringLiteral("Translocator"));
    QCOMPARE(editingRow(), 14);
    QCOMPARE(boldRows(), QList<int>{14});
    auto* combo = child<QComboBox>(QStringLiteral("coboWeappon"));
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    QCOMPARE(items, QStringLiteral("Translocator ChainSaw ImpactHammer Enforcer DoubleEnforcer ShockRifle "
                                   "UT_BioRifle PulseGun SniperRifle Ripper Minigun2 UT_FlakCannon UT_EightBall "
                                   "WarheadLauncher").split(QLatin1Char(' ')));
    QVERIFY(child<QPushButton>(QStringLiteral("bBeenden"))->isVisible());
    QCOMPARE(readBytes(game->userIniPath()), changed);
}

void WeaponPriorityPageTest::rowFieldKeepsToOneToFourteen_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("row");
    QTest::newRow("0") << "0" << 1;
    QTest::newRow("15") << "15" << 1;
    QTest::newRow("99") << "99" << 1;
    QTest::newRow("cleared") << "" << 1;
    QTest::newRow("7") << "7" << 7;
    QTest::newRow("13") << "13" << 13;
}

void WeaponPriorityPageTest::rowFieldKeepsToOneToFourteen()
{
    QFETCH(QString, typed);
    QFETCH(int, row);
    startWith(original);
    chooseRow(QStringLiteral("9")); // away from 1 first, so "1" must come from the rule
    QCOMPARE(editingRow(), 9);
    chooseRow(typed);
    QCOMPARE(child<MaskedEdit>(QStringLiteral("mePriority"))->value(), QString::number(row));
    QCOMPARE(editingRow(), row);
    QCOMPARE(boldRows(), QList<int>{row});
    // The combo keeps its text; the row outlives a change of page.
    QCOMPARE(child<QComboBox>(QStringLiteral("coboWeappon"))->currentText(), QStringLiteral("Translocator"));
    showPage("tsAliases");
    showPage("tsWeapponpriority");
    QCOMPARE(editingRow(), row);
    QCOMPARE(boldRows(), QList<int>{row});
    QCOMPARE(readBytes(game->userIniPath()), original);
}

void WeaponPriorityPageTest::pickedWeaponWritesOneKey()
{
    startWith(original);
    chooseRow(QStringLiteral("7"));
    pick(5);
    QCOMPARE(child<QComboBox>(QStringLiteral("coboWeappon"))->currentText(), QStringLiteral("ShockRifle"));
    click();
    QByteArray expected = withLine(original, "\nWeaponPriority[6]=Ripper\r\n", "\nWeaponPriority[6]=ShockRifle\r\n");
    QCOMPARE(readBytes(game->userIniPath()), expected);
    QCOMPARE(weaponLabel(7)->text(), QStringLiteral("ShockRifle"));

    // The same weapon in a second row is accepted; row 1 writes index 0.
    chooseRow(QStringLiteral("1"));
    click();
    expected = withLine(expected, "\nWeaponPriority[0]=Translocator\r\n", "\nWeaponPriority[0]=ShockRifle\r\n");
    QCOMPARE(readBytes(game->userIniPath()), expected);

    // Row 14 writes index 13, with the item's capital B.
    chooseRow(QStringLiteral("14"));
    pick(12);
    click();
    expected = withLine(expected, "\nWeaponPriority[13]=WarheadLauncher\r\n", "\nWeaponPriority[13]=UT_EightBall\r\n");
    QCOMPARE(readBytes(game->userIniPath()), expected);
    QVERIFY(game->boxes.shown().isEmpty());
}

void WeaponPriorityPageTest::typedTextIsWrittenAsTyped()
{
    const QByteArray without12 = withLine(original, "\nWeaponPriority[12]=ShockRifle\r\n", "\n");
    startWith(without12);
    QCOMPARE(weaponLabel(13)->text(), QStringLiteral("Eintrag nicht gefunden"));
    chooseRow(QStringLiteral("13"));
    QLineEdit* edit = child<QComboBox>(QStringLiteral("coboWeappon"))->lineEdit();
    // A prefix of an item stays as typed: no completion.
    typeOver(edit, QStringLiteral("Mini"));
    click();
    const QByteArray after = readBytes(game->userIniPath());
    // The missing key is added after the section's last key.
    QCOMPARE(after, QByteArray(without12).replace("\nWeaponPriority[19]=None\r\n", "\nWeaponPriority[19]=None\r\nWeaponPriority[12]=Mini\r\n"));
    QCOMPARE(weaponLabel(13)->text(), QStringLiteral("Mini"));

    typeOver(edit, QStringLiteral("MyMod.Blaster"), Selection::DeleteFirst);
    QTest::keyClick(edit, Qt::Key_Return);
    click();
    QVERIFY(readBytes(game->userIniPath()).contains("\nWeaponPriority[12]=MyMod.Blaster\r\n"));
    QCOMPARE(child<QComboBox>(QStringLiteral("coboWeappon"))->count(), 14);

    // An empty text writes an empty value, shown empty after the next load.
    typeOver(edit, QString(), Selection::DeleteFirst);
    click();
    QVERIFY(readBytes(game->userIniPath()).contains("\nWeaponPriority[12]=\r\n"));
    showPage("tsSystem");
    showPage("tsWeapponpriority");
    QCOMPARE(weaponLabel(13)->text(), QString());
}

void WeaponPriorityPageTest::failedWriteKeepsTheRow()
{
    startWith(original);
    QFile::setPermissions(game->userIniPath(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    chooseRow(QStringLiteral("2"));
    click();
    QCOMPARE(game->boxes.errors(), QStringList{QStringLiteral("Unable to write to %1.").arg(game->userIniPath())});
    // The row shows what the file holds, not what could not be written.
    QCOMPARE(weaponLabel(2)->text(), QStringLiteral("ChainSaw"));
    QCOMPARE(readBytes(game->userIniPath()), original);
}

QTEST_MAIN(WeaponPriorityPageTest)
#include "test_weaponprioritypage.moc"
