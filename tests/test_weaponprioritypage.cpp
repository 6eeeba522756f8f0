#include "app/HauptUnit.h"
#include "controls/MaskedEdit.h"
#include "pages/WeaponPriorityPage.h"
#include "support/PageTest.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

// The weapon priority page through its widgets, against the bytes of the
// sample's User.ini (WeaponPriority[0]..[13] one weapon each, [14]..[19] None).
class WeaponPriorityPageTest : public PageTest {
    Q_OBJECT

public:
    WeaponPriorityPageTest() : PageTest({.file = File::User, .page = "tsWeapponpriority"}) {}

private Q_SLOTS:
    void showListsTheFourteenPositions();
    void rowFieldKeepsToOneToFourteen_data();
    void rowFieldKeepsToOneToFourteen();
    void pickedWeaponWritesOneKey();
    void typedTextIsWrittenAsTyped();
    void failedWriteKeepsTheRow();
    void heightIsKnownBeforeTheBuild_data();
    void heightIsKnownBeforeTheBuild();

private:
    QLabel* weaponLabel(int n) const { return child<QLabel>(QStringLiteral("LWeappon%1").arg(n)); }
    QLabel* numberLabel(int n) const { return child<QLabel>(QStringLiteral("LPriority%1").arg(n)); }
    void chooseRow(const QString& digits);
    void pick(int item);
    // The row the editing line stands beside, -1 if none.
    int editingRow() const;
    QList<int> boldRows() const;
};

void WeaponPriorityPageTest::chooseRow(const QString& digits)
{
    typeOver(child<MaskedEdit>("mePriority"), digits, Selection::DeleteFirst);
    QCoreApplication::processEvents();
}

void WeaponPriorityPageTest::pick(int item)
{
    // Through the open list, by keyboard.
    auto* combo = child<QComboBox>("coboWeappon");
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
    auto* box = child<QGroupBox>("GroupBox8");
    auto* field = child<MaskedEdit>("mePriority");
    auto* button = child<QPushButton>("bPriorityEintragen");
    auto* combo = child<QComboBox>("coboWeappon");
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
    // A mod's weapon class, longer than the row has room for.
    const QString modWeapon = QStringLiteral("SchwereWaffenErweiterung.ZielsuchenderRaketenwerferMitNachbrenner");
    changed = withLine(changed, "\nWeaponPriority[7]=PulseGun\r\n", "\nWeaponPriority[7]=" + modWeapon.toLatin1() + "\r\n");
    startWith(changed);
    QCOMPARE(child<QGroupBox>("GroupBox8")->title(), QStringLiteral(" Waffen-Priorität "));
    for (int n = 1; n <= 14; ++n)
        QCOMPARE(numberLabel(n)->text(), QStringLiteral("%1.").arg(n));
    QCOMPARE(weaponLabel(1)->text(), QStringLiteral("Translocator"));
    QCOMPARE(weaponLabel(4)->text(), QString());
    QCOMPARE(weaponLabel(6)->text(), QStringLiteral("none"));
    QCOMPARE(weaponLabel(11)->text(), QStringLiteral("UT_EightBall"));
    QCOMPARE(weaponLabel(13)->text(), QStringLiteral("Eintrag nicht gefunden"));
    QCOMPARE(weaponLabel(14)->text(), QStringLiteral("WarheadLauncher"));
    // Elided in its middle, whole in its tool tip: the rows keep their
    // width, and the editing line beside them stays clear of the quit button.
    const QLabel* mod = weaponLabel(8);
    QVERIFY2(mod->text().startsWith("Schwere") && mod->text().endsWith("brenner") && mod->text().contains(QChar(0x2026)),
             qPrintable(mod->text()));
    QVERIFY(mod->fontMetrics().horizontalAdvance(mod->text()) <= mod->contentsRect().width());
    QCOMPARE(mod->toolTip(), modWeapon);

    // At start the editing line stands at row 14, the bold one.
    QCOMPARE(child<MaskedEdit>("mePriority")->value(), QStringLiteral("14"));
    QCOMPARE(child<QComboBox>("coboWeappon")->currentText(), QStringLiteral("Translocator"));
    QCOMPARE(editingRow(), 14);
    QCOMPARE(boldRows(), QList<int>{14});
    auto* combo = child<QComboBox>("coboWeappon");
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    QCOMPARE(items, QStringLiteral("Translocator ChainSaw ImpactHammer Enforcer DoubleEnforcer ShockRifle "
                                   "UT_BioRifle PulseGun SniperRifle Ripper Minigun2 UT_FlakCannon UT_EightBall "
                                   "WarheadLauncher").split(QLatin1Char(' ')));
    QVERIFY(child<QPushButton>("bBeenden")->isVisible());
    // A click on the lower part of the list's button opens the list.
    const QPoint button = combo->mapTo(window, QPoint(combo->width() - 4, combo->height() - 3));
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, button);
    QVERIFY(window->isVisible());
    QTRY_VERIFY(combo->view()->isVisible());
    QTest::keyClick(combo->view(), Qt::Key_Escape);
    QTRY_VERIFY(!combo->view()->isVisible());
    QCOMPARE(fileBytes(), changed);
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
    QCOMPARE(child<MaskedEdit>("mePriority")->value(), QString::number(row));
    QCOMPARE(editingRow(), row);
    QCOMPARE(boldRows(), QList<int>{row});
    // The combo keeps its text; the row outlives a change of page.
    QCOMPARE(child<QComboBox>("coboWeappon")->currentText(), QStringLiteral("Translocator"));
    showPage("tsAliases");
    showPage("tsWeapponpriority");
    QCOMPARE(editingRow(), row);
    QCOMPARE(boldRows(), QList<int>{row});
    QCOMPARE(fileBytes(), original);
}

void WeaponPriorityPageTest::pickedWeaponWritesOneKey()
{
    startWith(original);
    chooseRow(QStringLiteral("7"));
    pick(5);
    QCOMPARE(child<QComboBox>("coboWeappon")->currentText(), QStringLiteral("ShockRifle"));
    click("bPriorityEintragen");
    QByteArray expected = withLine(original, "\nWeaponPriority[6]=Ripper\r\n", "\nWeaponPriority[6]=ShockRifle\r\n");
    QCOMPARE(fileBytes(), expected);
    QCOMPARE(weaponLabel(7)->text(), QStringLiteral("ShockRifle"));

    // The same weapon in a second row is accepted; row 1 writes index 0.
    chooseRow(QStringLiteral("1"));
    click("bPriorityEintragen");
    expected = withLine(expected, "\nWeaponPriority[0]=Translocator\r\n", "\nWeaponPriority[0]=ShockRifle\r\n");
    QCOMPARE(fileBytes(), expected);

    // Row 14 writes index 13, with the item's capital B.
    chooseRow(QStringLiteral("14"));
    pick(12);
    click("bPriorityEintragen");
    expected = withLine(expected, "\nWeaponPriority[13]=WarheadLauncher\r\n", "\nWeaponPriority[13]=UT_EightBall\r\n");
    QCOMPARE(fileBytes(), expected);
    QVERIFY(game->boxes.shown().isEmpty());
}

void WeaponPriorityPageTest::typedTextIsWrittenAsTyped()
{
    const QByteArray without12 = withLine(original, "\nWeaponPriority[12]=ShockRifle\r\n", "\n");
    startWith(without12);
    QCOMPARE(weaponLabel(13)->text(), QStringLiteral("Eintrag nicht gefunden"));
    chooseRow(QStringLiteral("13"));
    QLineEdit* edit = child<QComboBox>("coboWeappon")->lineEdit();
    // A prefix of an item stays as typed: no completion.
    typeOver(edit, QStringLiteral("Mini"));
    click("bPriorityEintragen");
    const QByteArray after = fileBytes();
    // The missing key is added after the section's last key.
    QCOMPARE(after, QByteArray(without12).replace("\nWeaponPriority[19]=None\r\n", "\nWeaponPriority[19]=None\r\nWeaponPriority[12]=Mini\r\n"));
    QCOMPARE(weaponLabel(13)->text(), QStringLiteral("Mini"));

    typeOver(edit, QStringLiteral("MyMod.Blaster"), Selection::DeleteFirst);
    QTest::keyClick(edit, Qt::Key_Return);
    click("bPriorityEintragen");
    QVERIFY(fileBytes().contains("\nWeaponPriority[12]=MyMod.Blaster\r\n"));
    QCOMPARE(child<QComboBox>("coboWeappon")->count(), 14);

    // An empty text writes an empty value, shown empty after the next load.
    typeOver(edit, QString(), Selection::DeleteFirst);
    click("bPriorityEintragen");
    QVERIFY(fileBytes().contains("\nWeaponPriority[12]=\r\n"));
    showPage("tsSystem");
    showPage("tsWeapponpriority");
    QCOMPARE(weaponLabel(13)->text(), QString());
}

void WeaponPriorityPageTest::failedWriteKeepsTheRow()
{
    startWith(original);
    setReadOnly();
    chooseRow(QStringLiteral("2"));
    click("bPriorityEintragen");
    QCOMPARE(game->boxes.errors(), QStringList{unableToWrite(game->userIniPath())});
    // The row shows what the file holds, not what could not be written.
    QCOMPARE(weaponLabel(2)->text(), QStringLiteral("ChainSaw"));
    QCOMPARE(fileBytes(), original);
}

void WeaponPriorityPageTest::heightIsKnownBeforeTheBuild_data()
{
    QTest::addColumn<int>("points"); // 0: the window's own font
    for (const int points : {0, 7, 11, 16, 23})
        QTest::newRow(qPrintable(QStringLiteral("%1 pt").arg(points))) << points;
}

void WeaponPriorityPageTest::heightIsKnownBeforeTheBuild()
{
    QFETCH(int, points);
    start();
    // The window, sized before the page was built, holds it as built.
    auto* shown = child<WeaponPriorityPage>("tsWeapponpriority");
    QVERIFY(shown->isBuilt());
    QCOMPARE(shown->size().expandedTo(shown->sizeHint()), shown->size());

    // Two more pages side by side in one holder: the hint of the one not
    // built against the one built, in another font.
    QWidget holder;
    if (points > 0) {
        QFont font = holder.font();
        font.setPointSize(points);
        holder.setFont(font);
    }
    const PageServices services{window->state(), window->events(), window->boxes(), window->bBeenden,
                                window->PageControl1};
    auto* unbuilt = new WeaponPriorityPage(services);
    auto* built = new WeaponPriorityPage(services);
    unbuilt->setParent(&holder);
    built->setParent(&holder);
    built->ensureBuilt();
    const QSize hint = unbuilt->sizeHint();
    QVERIFY(!unbuilt->isBuilt());
    QVERIFY(unbuilt->children().isEmpty());
    QCOMPARE(hint.height(), built->sizeHint().height());
    QVERIFY(hint.width() > 0 && hint.width() <= built->sizeHint().width());
    unbuilt->ensureBuilt();
    QCOMPARE(unbuilt->sizeHint(), built->sizeHint());
}

QTEST_MAIN(WeaponPriorityPageTest)
#include "test_weaponprioritypage.moc"
