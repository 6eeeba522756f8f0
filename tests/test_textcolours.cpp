#include "app/HauptUnit.h"
#include "controls/TextColours.h"
#include "support/PageTest.h"

#include <QApplication>
#include <QScopeGuard>
#include <QTest>

// The coloured texts of the pages on a light and a dark desktop theme.
class TextColoursTest : public PageTest {
    Q_OBJECT

public:
    TextColoursTest() : PageTest({.registered = false}) {}

private Q_SLOTS:
    void colouredTextsStayReadable_data();
    void colouredTextsStayReadable();
};

void TextColoursTest::colouredTextsStayReadable_data()
{
    QTest::addColumn<QString>("theme"); // light, or dark before or after the start
    QTest::newRow("light") << "light";
    QTest::newRow("dark") << "dark";
    QTest::newRow("dark, chosen while running") << "dark later";
}

void TextColoursTest::colouredTextsStayReadable()
{
    QFETCH(QString, theme);
    const QPalette before = QApplication::palette();
    const auto restore = qScopeGuard([before] { QApplication::setPalette(before); });
    // Dark colours as a dark desktop theme gives them, with Fusion.
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(60, 60, 60));
    dark.setColor(QPalette::WindowText, Qt::white);
    dark.setColor(QPalette::Base, QColor(42, 42, 42));
    dark.setColor(QPalette::AlternateBase, QColor(66, 66, 66));
    dark.setColor(QPalette::Text, Qt::white);
    dark.setColor(QPalette::Button, QColor(53, 53, 53));
    dark.setColor(QPalette::ButtonText, Qt::white);
    // The Parts' blue and red stand at 1.3:1 and 2.8:1 against it.
    QCOMPARE(qRound(contrastRatio(QColor(0, 0, 255), dark.color(QPalette::Window)) * 10), 13);
    QCOMPARE(qRound(contrastRatio(QColor(255, 0, 0), dark.color(QPalette::Window)) * 10), 28);
    QCOMPARE(contrastRatio(Qt::black, Qt::white), 21.0);
    if (theme == "dark")
        QApplication::setPalette(dark);
    game->registerGameDir();
    start();
    if (theme == "dark later")
        QApplication::setPalette(dark);

    // The colours the pages give: status lines found and missing, team
    // colours.
    const QList<std::pair<const char*, QColor>> coloured{
        {"lUTPath", QColor(0, 0, 255)}, {"lModule", QColor(255, 0, 0)}, {"rbBlau", QColor(0, 0, 255)},
        {"rbRot", QColor(255, 0, 0)},   {"rbGold", QColor(215, 175, 0)}, {"rbGruen", QColor(0, 128, 0)}};
    showPage("tsUser");
    showPage("tsRegistry");
    for (const auto& [name, colour] : coloured) {
        const QWidget* widget = child<QWidget>(name);
        const QColor shown = widget->palette().color(QPalette::WindowText);
        const QColor window = widget->palette().color(QPalette::Window);
        if (theme == "light") {
            QCOMPARE(shown, colour);
            continue;
        }
        QVERIFY2(contrastRatio(shown, window) >= 4.5, name);
        // A tint of the same hue, no lighter than it needs to be.
        QVERIFY2(qAbs(shown.hsvHue() - colour.hsvHue()) <= 2, name);
        QVERIFY2(contrastRatio(shown.darker(110), window) < 4.5 || shown == colour, name);
    }
    // The window keeps its own text colour.
    QCOMPARE(child<QWidget>("rbKeine")->palette().color(QPalette::WindowText),
             QApplication::palette().color(QPalette::WindowText));
}

QTEST_MAIN(TextColoursTest)
#include "test_textcolours.moc"
