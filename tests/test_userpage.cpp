#include "controls/MaskedEdit.h"
#include "support/PageTest.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

// The User page through its widgets, against the bytes of the sample's
// User.ini (Name=Glutkern, Class=BotPack.TMale1 with Skin=CommandoSkins.goth,
// Team=1, HasBeatenGame=False, DesiredFOV=90.000000, DefaultFOV=85.000000).
class UserPageTest : public PageTest {
    Q_OBJECT

public:
    UserPageTest() : PageTest({.file = File::User}) {}

private Q_SLOTS:
    void showFillsThePageAndAlignsTheFov();
    void failedWriteEndsTheShowInItsOrder();

    void storedFovIsShownAndWritten_data();
    void storedFovIsShownAndWritten();
    void typingWritesEveryIntermediateFov();
    void clearedFovBecomesZero();
    void fovKeepsLeadingZerosAndBlanks();
    void fovWithAGapIsAnError();

    void nameFollowsTheEintragenPattern();
    void absentNameIsNeverWrittenUnlessTyped();
    void emptyStoredNameKeepsTheButtonOn();

    void storedTeamSelectsItsColour_data();
    void storedTeamSelectsItsColour();
    void teamOutsideTheTableSelectsAndWritesNothing();
    void clickingAColourWritesOnlyOnAChange();

    void pickedModelShowsItsSkinBoxAndWritesNothing();
    void bossPickWritesFourKeysInOrder();
    void typedSkinWritesOnceItMatchesAnItem();
    void storedClassAndSkinAreRecognisedExactly_data();
    void storedClassAndSkinAreRecognisedExactly();
    void tabbingThroughTheBoxesWritesNothing();
    void modelBoxIsPickedOnlyByPicking_data();
    void modelBoxIsPickedOnlyByPicking();
    void tabEntersTheTeamGroupOnTheSelectedColour();

    void ladderFlagCountsOnlyAsTrue();

private:
    void pick(QComboBox* combo, const QString& item);
    QString checkedTeam() const;
    QStringList boldTeams() const;
    QStringList visibleSkinBoxes() const;
    // The sample after the first show: it aligns DefaultFOV with DesiredFOV.
    QByteArray aligned() const
    {
        return withLine(original, "\nDefaultFOV=85.000000\r\n", "\nDefaultFOV=90.000000\r\n");
    }
};

namespace {

const char* const teamButtons[] = {"rbKeine", "rbBlau", "rbRot", "rbGold", "rbGruen"};
const char* const skinBoxes[] = {"coboSkinMS", "coboSkinMC", "coboSkinFS", "coboSkinFC"};

// The file with both fields of view written as fov.
QByteArray withFov(const QByteArray& file, const QByteArray& fov)
{
    return withValue(withValue(file, "Engine.PlayerPawn", "DesiredFOV", fov), "Engine.PlayerPawn", "DefaultFOV", fov);
}

const QByteArray playerKeys = "Class=BotPack.TMale1\r\n"
                              "Skin=CommandoSkins.goth\r\n"
                              "Face=CommandoSkins.Grail\r\n"
                              "Voice=BotPack.VoiceMaleOne\r\n";

} // namespace

// Picks the item from the open list, as a click on it does.
void UserPageTest::pick(QComboBox* combo, const QString& item)
{
    const int index = combo->findText(item, Qt::MatchExactly | Qt::MatchCaseSensitive);
    QVERIFY(index >= 0);
    combo->showPopup();
    QAbstractItemView* view = combo->view();
    view->setCurrentIndex(view->model()->index(index, 0));
    QTest::keyClick(view, Qt::Key_Return);
    QCoreApplication::processEvents();
    QCOMPARE(combo->currentText(), item);
}

QString UserPageTest::checkedTeam() const
{
    QStringList checked;
    for (const char* name : teamButtons)
        if (child<QRadioButton>(name)->isChecked())
            checked << name;
    return checked.join(u',');
}

QStringList UserPageTest::boldTeams() const
{
    QStringList bold;
    for (const char* name : teamButtons)
        if (child<QRadioButton>(name)->font().bold())
            bold << name;
    return bold;
}

QStringList UserPageTest::visibleSkinBoxes() const
{
    QStringList visible;
    for (const char* name : skinBoxes)
        if (!child<QComboBox>(name)->isHidden())
            visible << name;
    return visible;
}

void UserPageTest::showFillsThePageAndAlignsTheFov()
{
    startWith(original);
    // Nothing is read or written before the page is shown.
    QCOMPARE(fileBytes(), original);
    showPage("tsUser");

    QCOMPARE(child<MaskedEdit>("meFOV")->text(), QStringLiteral("90_"));
    QVERIFY(child<MaskedEdit>("meDodge")->isHidden());
    QCOMPARE(child<MaskedEdit>("meDodge")->value(), QStringLiteral("0.250000"));
    QCOMPARE(child<QLabel>("LXan")->text(), QString());
    QVERIFY(child<QPushButton>("bXanEintragen")->isEnabled());
    QCOMPARE(child<QLineEdit>("eName")->text(), QStringLiteral("Glutkern"));
    QVERIFY(!child<QPushButton>("bNameEintragen")->isEnabled());
    QCOMPARE(checkedTeam(), QStringLiteral("rbBlau"));
    QCOMPARE(boldTeams(), QStringList{"rbBlau"});
    QCOMPARE(child<QRadioButton>("rbBlau")->palette().color(QPalette::WindowText), QColor(Qt::blue));
    QCOMPARE(child<QRadioButton>("rbRot")->palette().color(QPalette::WindowText), QColor(Qt::red));
    QCOMPARE(child<QRadioButton>("rbGruen")->text(), QStringLiteral("Grün"));
    QCOMPARE(child<QComboBox>("coboModel")->currentText(), QStringLiteral("Male Commando"));
    QCOMPARE(visibleSkinBoxes(), QStringList{"coboSkinMC"});
    QVERIFY(!child<QLabel>("LSkin")->isHidden());
    QCOMPARE(child<QComboBox>("coboSkinMC")->currentText(), QStringLiteral("Necris"));
    for (const char* name : {"coboSkinMS", "coboSkinFS", "coboSkinFC"})
        QCOMPARE(child<QComboBox>(name)->currentText(), QString());

    // DesiredFOV=90.000000 with DefaultFOV=85.000000: both become 90.
    QCOMPARE(fileBytes(), aligned());
    QVERIFY(game->boxes.shown().isEmpty());
}

void UserPageTest::failedWriteEndsTheShowInItsOrder()
{
    // The field of view comes first: its write fails and nothing after it runs.
    startWith(original);
    setReadOnly();
    showPage("tsUser");
    QCOMPARE(game->boxes.errors(), QStringList{unableToWrite(game->userIniPath())});
    QCOMPARE(child<MaskedEdit>("meFOV")->value(), QStringLiteral("90"));
    QCOMPARE(child<MaskedEdit>("meDodge")->value(), QString());
    QCOMPARE(child<QLineEdit>("eName")->text(), QString());
    QCOMPARE(checkedTeam(), QString());
    QCOMPARE(child<QComboBox>("coboModel")->currentText(), QString());

    // Without a field-of-view write, the team's is the first (the stored
    // "01" is written back as "1", a change): the name is filled before it,
    // the colour is selected only after the write, and the model comes
    // after it.
    cleanup();
    init();
    startWith(withLine(withLine(original, "\nDesiredFOV=90.000000\r\n", "\n"), "\nTeam=1\r\n", "\nTeam=01\r\n"));
    setReadOnly();
    showPage("tsUser");
    QCOMPARE(game->boxes.errors().size(), 1);
    QCOMPARE(child<QLineEdit>("eName")->text(), QStringLiteral("Glutkern"));
    QCOMPARE(checkedTeam(), QString());
    QCOMPARE(boldTeams(), QStringList());
    QCOMPARE(child<QComboBox>("coboModel")->currentText(), QString());
    QCOMPARE(visibleSkinBoxes(), QStringList());
}

void UserPageTest::storedFovIsShownAndWritten_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QByteArray>("written"); // both keys; empty: nothing written

    QTest::newRow("decimals dropped") << QByteArray("DesiredFOV=100.500000\r\n") << "100"
                                      << QByteArray("100.000000");
    QTest::newRow("short text") << QByteArray("DesiredFOV=90.5\r\n") << "" << QByteArray();
    QTest::newRow("absent") << QByteArray() << "" << QByteArray();
    QTest::newRow("negative becomes zero") << QByteArray("DesiredFOV=-20.000000\r\n") << "0"
                                           << QByteArray("0.000000");
}

void UserPageTest::storedFovIsShownAndWritten()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, shown);
    QFETCH(QByteArray, written);
    const QByteArray file = withLine(original, "DesiredFOV=90.000000\r\n", stored);
    startWith(file);
    showPage("tsUser");
    QCOMPARE(child<MaskedEdit>("meFOV")->value(), shown);
    QByteArray expected = file;
    if (!written.isEmpty())
        expected = withFov(expected, written);
    QCOMPARE(fileBytes(), expected);
    QVERIFY(game->boxes.shown().isEmpty());
}

void UserPageTest::typingWritesEveryIntermediateFov()
{
    const QByteArray file = withLine(original, "DesiredFOV=90.000000\r\n", "DesiredFOV=90.5\r\n");
    startWith(file);
    showPage("tsUser");
    auto* field = child<MaskedEdit>("meFOV");
    QCOMPARE(field->value(), QString());
    QList<QByteArray> history;
    connect(field, &MaskedEdit::valueEdited, this, [&] { history << fileBytes(); });

    field->setFocus();
    QTest::keyClicks(field, "100");
    QCOMPARE(history,
             (QList<QByteArray>{withFov(file, "1.000000"), withFov(file, "10.000000"), withFov(file, "100.000000")}));
}

void UserPageTest::clearedFovBecomesZero()
{
    startWith(original);
    showPage("tsUser");
    auto* field = child<MaskedEdit>("meFOV");
    field->setFocus();
    field->setCursorPosition(2);
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClick(field, Qt::Key_Backspace);
    QCOMPARE(field->text(), QStringLiteral("0__"));
    QCOMPARE(fileBytes(), withFov(original, "0.000000"));
    QVERIFY(game->boxes.shown().isEmpty());
}

void UserPageTest::fovKeepsLeadingZerosAndBlanks()
{
    // An empty field, so that the first digit can go to any place.
    const QByteArray file = withLine(original, "DesiredFOV=90.000000\r\n", "DesiredFOV=90.5\r\n");
    startWith(file);
    showPage("tsUser");
    typeOver(child<MaskedEdit>("meFOV"), "090");
    QCOMPARE(fileBytes(), withFov(file, "090.000000"));

    // A blank place before the digit stays in the value as a space.
    cleanup();
    init();
    startWith(file);
    showPage("tsUser");
    auto* field = child<MaskedEdit>("meFOV");
    field->setFocus();
    field->setCursorPosition(1);
    QTest::keyClicks(field, "7");
    QCOMPARE(field->value(), QStringLiteral(" 7"));
    QCOMPARE(fileBytes(), withFov(file, " 7.000000"));
    QVERIFY(game->boxes.shown().isEmpty());
}

void UserPageTest::fovWithAGapIsAnError()
{
    startWith(original);
    showPage("tsUser");
    auto* field = child<MaskedEdit>("meFOV");
    typeOver(field, "1");
    const QByteArray afterOne = fileBytes();
    QTest::keyClick(field, Qt::Key_Right);
    QTest::keyClicks(field, "3");
    QCOMPARE(field->text(), QStringLiteral("1_3"));
    QCOMPARE(game->boxes.errors(), QStringList{"'1 3' is not a valid integer value."});
    QCOMPARE(fileBytes(), afterOne);
    QVERIFY(afterOne.contains("\r\nDesiredFOV=1.000000\r\nDefaultFOV=1.000000\r\n"));
}

void UserPageTest::nameFollowsTheEintragenPattern()
{
    startWith(original);
    showPage("tsUser");
    auto* button = child<QPushButton>("bNameEintragen");
    typeOver(child<QLineEdit>("eName"), QStringLiteral("Glutkern"));
    QVERIFY(!button->isEnabled());
    typeOver(child<QLineEdit>("eName"), QStringLiteral("Jörg Glühwürmchen"));
    QVERIFY(button->isEnabled());
    QCOMPARE(fileBytes(), aligned());
    QTest::mouseClick(button, Qt::LeftButton);
    const QByteArray named = withLine(aligned(), "\nName=Glutkern\r\n", "\nName=J\xf6rg Gl\xfchw\xfcrmchen\r\n");
    QCOMPARE(fileBytes(), named);
    // The state is worked out again only on the next change of the text: the
    // show sets the same text, which is no change.
    QVERIFY(button->isEnabled());
    showPage("tsMultiplayer");
    showPage("tsUser");
    QVERIFY(button->isEnabled());
    QCOMPARE(fileBytes(), named);
}

void UserPageTest::absentNameIsNeverWrittenUnlessTyped()
{
    const QByteArray file = withLine(original, "\nName=Glutkern\r\n", "\n");
    startWith(file);
    showPage("tsUser");
    auto* button = child<QPushButton>("bNameEintragen");
    QCOMPARE(child<QLineEdit>("eName")->text(), QStringLiteral("Eintrag nicht gefunden!"));
    QVERIFY(!button->isEnabled());
    QTest::mouseClick(button, Qt::LeftButton);
    showPage("tsSystem");
    showPage("tsUser");
    QVERIFY(!button->isEnabled());
    QVERIFY(!fileBytes().contains("\nName="));

    typeOver(child<QLineEdit>("eName"), QStringLiteral("Neo"));
    QVERIFY(button->isEnabled());
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(fileBytes().contains("\r\nName=Neo\r\n"));
    QCOMPARE(withLine(fileBytes(), "Name=Neo\r\n", ""),
             withLine(file, "DefaultFOV=85.000000\r\n", "DefaultFOV=90.000000\r\n"));
}

void UserPageTest::emptyStoredNameKeepsTheButtonOn()
{
    const QByteArray file = withLine(original, "\nName=Glutkern\r\n", "\nName=\r\n");
    startWith(file);
    showPage("tsUser");
    QCOMPARE(child<QLineEdit>("eName")->text(), QString());
    QVERIFY(child<QPushButton>("bNameEintragen")->isEnabled());
}

void UserPageTest::storedTeamSelectsItsColour_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QByteArray>("written");

    QTest::newRow("0 red") << QByteArray("Team=0\r\n") << "rbRot" << QByteArray("Team=0\r\n");
    QTest::newRow("2 green") << QByteArray("Team=2\r\n") << "rbGruen" << QByteArray("Team=2\r\n");
    QTest::newRow("3 gold") << QByteArray("Team=3\r\n") << "rbGold" << QByteArray("Team=3\r\n");
    QTest::newRow("255 none") << QByteArray("Team=255\r\n") << "rbKeine" << QByteArray("Team=255\r\n");
    QTest::newRow("hex 1") << QByteArray("Team=$1\r\n") << "rbBlau" << QByteArray("Team=1\r\n");
    QTest::newRow("no number") << QByteArray("Team=blau\r\n") << "rbKeine" << QByteArray("Team=255\r\n");
    QTest::newRow("absent") << QByteArray() << "rbKeine" << QByteArray();
}

void UserPageTest::storedTeamSelectsItsColour()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, selected);
    QFETCH(QByteArray, written);
    const QByteArray file = withLine(aligned(), "Team=1\r\n", stored);
    startWith(file);
    showPage("tsUser");
    QCOMPARE(checkedTeam(), selected);
    QCOMPARE(boldTeams(), QStringList{selected});
    if (stored.isEmpty()) {
        // Added after the last key of [DefaultPlayer].
        QCOMPARE(fileBytes(), withLine(aligned(), "Team=1\r\n", "Team=255\r\n"));
    } else {
        QCOMPARE(fileBytes(), withLine(file, stored, written));
    }
}

void UserPageTest::teamOutsideTheTableSelectsAndWritesNothing()
{
    // Neither the field of view nor the team is written: a read-only file
    // shows no error.
    const QByteArray file = withLine(withLine(original, "\nTeam=1\r\n", "\nTeam=4\r\n"), "\nDesiredFOV=90.000000\r\n", "\n");
    startWith(file);
    setReadOnly();
    showPage("tsUser");
    QVERIFY(game->boxes.shown().isEmpty());
    QCOMPARE(checkedTeam(), QString());
    QCOMPARE(boldTeams(), QStringList());
    // The show went on to the model.
    QCOMPARE(child<QComboBox>("coboModel")->currentText(), QStringLiteral("Male Commando"));
    QCOMPARE(fileBytes(), file);
}

void UserPageTest::clickingAColourWritesOnlyOnAChange()
{
    startWith(original);
    showPage("tsUser");
    click("rbRot");
    QCOMPARE(fileBytes(), withLine(aligned(), "\nTeam=1\r\n", "\nTeam=0\r\n"));
    QCOMPARE(checkedTeam(), QStringLiteral("rbRot"));
    QCOMPARE(boldTeams(), QStringList{"rbRot"});

    // The selected colour runs nothing: no write, so no error either.
    setReadOnly();
    click("rbRot");
    QVERIFY(game->boxes.shown().isEmpty());
    // Every show writes the stored team back: the value the file holds,
    // which changes nothing and so is no error on a read-only file either.
    const QByteArray before = fileBytes();
    showPage("tsSystem");
    showPage("tsUser");
    QVERIFY(game->boxes.shown().isEmpty());
    QCOMPARE(checkedTeam(), QStringLiteral("rbRot"));
    QCOMPARE(fileBytes(), before);
}

void UserPageTest::pickedModelShowsItsSkinBoxAndWritesNothing()
{
    startWith(original);
    showPage("tsUser");
    pick(child<QComboBox>("coboModel"), QStringLiteral("Male Soldier"));
    QCOMPARE(visibleSkinBoxes(), QStringList{"coboSkinMS"});
    QVERIFY(!child<QLabel>("LSkin")->isHidden());
    // The stored skin is the commando's: the soldier's box stays empty.
    QCOMPARE(child<QComboBox>("coboSkinMS")->currentText(), QString());
    QCOMPARE(fileBytes(), aligned());

    pick(child<QComboBox>("coboModel"), QStringLiteral("Female Commando"));
    QCOMPARE(visibleSkinBoxes(), QStringList{"coboSkinFC"});
    QCOMPARE(fileBytes(), aligned());

    // Typing a model's name is no pick.
    typeOver(child<QComboBox>("coboModel"), QStringLiteral("Boss"));
    QCOMPARE(visibleSkinBoxes(), QStringList{"coboSkinFC"});
    QCOMPARE(fileBytes(), aligned());
    QVERIFY(game->boxes.shown().isEmpty());
}

void UserPageTest::bossPickWritesFourKeysInOrder()
{
    // Without the four keys the writes add them in the order they are made.
    const QByteArray file = withLine(original, playerKeys, "");
    startWith(file);
    showPage("tsUser");
    QCOMPARE(child<QComboBox>("coboModel")->currentText(), QString());
    QCOMPARE(visibleSkinBoxes(), QStringList());
    pick(child<QComboBox>("coboModel"), QStringLiteral("Boss"));
    QCOMPARE(fileBytes(), withLine(withLine(file, "DefaultFOV=85.000000\r\n", "DefaultFOV=90.000000\r\n"), "Team=1\r\n",
                              "Team=1\r\n"
                              "Class=BotPack.TBoss\r\n"
                              "Voice=BotPack.VoiceBoss\r\n"
                              "Skin=BossSkins.Boss\r\n"
                              "Face=BossSkins.Xan\r\n"));
    QCOMPARE(visibleSkinBoxes(), QStringList());
    QVERIFY(child<QLabel>("LSkin")->isHidden());

    // After a skin box was shown, the boss hides it again.
    pick(child<QComboBox>("coboModel"), QStringLiteral("Male Soldier"));
    QCOMPARE(visibleSkinBoxes(), QStringList{"coboSkinMS"});
    pick(child<QComboBox>("coboModel"), QStringLiteral("Boss"));
    QCOMPARE(visibleSkinBoxes(), QStringList());
    QVERIFY(child<QLabel>("LSkin")->isHidden());
}

void UserPageTest::typedSkinWritesOnceItMatchesAnItem()
{
    const QByteArray file = withLine(original, playerKeys, "");
    startWith(file);
    showPage("tsUser");
    const QByteArray shown = fileBytes();
    pick(child<QComboBox>("coboModel"), QStringLiteral("Male Soldier"));
    auto* box = child<QComboBox>("coboSkinMS");
    QList<QByteArray> history;
    connect(box->lineEdit(), &QLineEdit::textEdited, this, [&] { history << fileBytes(); });

    box->setFocus();
    typeText(box, QStringLiteral("marine"));
    QCOMPARE(history.size(), 6);
    for (const QByteArray& state : history)
        QCOMPARE(state, shown);

    history.clear();
    box->lineEdit()->selectAll();
    typeText(box, QStringLiteral("Marine"));
    const QByteArray marine = withLine(shown, "Team=1\r\n",
                                       "Team=1\r\n"
                                       "Class=BotPack.TMale2\r\n"
                                       "Voice=BotPack.VoiceMaleTwo\r\n"
                                       "Skin=SoldierSkins.blkt\r\n"
                                       "Face=SoldierSkins.Malcom\r\n");
    QCOMPARE(history, (QList<QByteArray>{shown, shown, shown, shown, shown, marine}));

    // A pick from the list writes as well.
    pick(box, QStringLiteral("War Machine"));
    QCOMPARE(fileBytes(), withLine(withLine(marine, "Skin=SoldierSkins.blkt", "Skin=SoldierSkins.hkil"),
                              "Face=SoldierSkins.Malcom", "Face=SoldierSkins.Matrix"));
    QVERIFY(game->boxes.shown().isEmpty());
}

void UserPageTest::storedClassAndSkinAreRecognisedExactly_data()
{
    QTest::addColumn<QByteArray>("playerClass");
    QTest::addColumn<QByteArray>("skin");
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("skinBox");
    QTest::addColumn<QString>("skinShown");

    QTest::newRow("venom as picked") << QByteArray("BotPack.TFemale2") << QByteArray("SGirlSkins.Venm")
                                     << "Female Soldier" << "coboSkinFS" << "Venom";
    QTest::newRow("venom lower case") << QByteArray("BotPack.TFemale2") << QByteArray("SGirlSkins.venm")
                                      << "Female Soldier" << "coboSkinFS" << "Venom";
    QTest::newRow("venom other case") << QByteArray("BotPack.TFemale2") << QByteArray("SGirlSkins.VENM")
                                      << "Female Soldier" << "coboSkinFS" << "";
    QTest::newRow("female commando") << QByteArray("BotPack.TFemale1") << QByteArray("FCommandoSkins.aphe")
                                     << "Female Commando" << "coboSkinFC" << "Aphex";
    QTest::newRow("another model's skin") << QByteArray("BotPack.TMale2") << QByteArray("SGirlSkins.fbth")
                                          << "Male Soldier" << "coboSkinMS" << "";
    QTest::newRow("boss") << QByteArray("BotPack.TBoss") << QByteArray("BossSkins.Boss") << "Boss" << ""
                          << "";
    QTest::newRow("class in other case") << QByteArray("Botpack.TMale1") << QByteArray("CommandoSkins.goth") << ""
                                         << "" << "";
}

void UserPageTest::storedClassAndSkinAreRecognisedExactly()
{
    QFETCH(QByteArray, playerClass);
    QFETCH(QByteArray, skin);
    QFETCH(QString, model);
    QFETCH(QString, skinBox);
    QFETCH(QString, skinShown);
    const QByteArray file = withLine(withLine(aligned(), "Class=BotPack.TMale1\r\n", "Class=" + playerClass + "\r\n"),
                                     "Skin=CommandoSkins.goth\r\n", "Skin=" + skin + "\r\n");
    startWith(file);
    showPage("tsUser");
    QCOMPARE(child<QComboBox>("coboModel")->currentText(), model);
    QCOMPARE(visibleSkinBoxes(), skinBox.isEmpty() ? QStringList() : QStringList{skinBox});
    QCOMPARE(child<QLabel>("LSkin")->isHidden(), skinBox.isEmpty());
    if (!skinBox.isEmpty())
        QCOMPARE(child<QComboBox>(skinBox.toLatin1().constData())->currentText(), skinShown);
    QCOMPARE(fileBytes(), file);
}

void UserPageTest::tabbingThroughTheBoxesWritesNothing()
{
    startWith(original);
    showPage("tsUser");
    setReadOnly();
    // A box whose text the program set picks nothing when it loses the focus.
    for (const char* name : {"coboModel", "coboSkinMC", "eName"}) {
        child<QWidget>(name)->setFocus();
        QCoreApplication::processEvents();
    }
    QVERIFY(game->boxes.shown().isEmpty());
}

void UserPageTest::modelBoxIsPickedOnlyByPicking_data()
{
    QTest::addColumn<QString>("way");
    QTest::addColumn<bool>("picked");
    // The wheel comes as the window system sends it, so Qt would give the
    // box under the pointer the focus on the way.
    QTest::newRow("wheel over the box without focus") << "wheel" << false;
    QTest::newRow("wheel over the skin box without focus") << "wheel over the skin" << false;
    QTest::newRow("typed, Tab") << "typed, Tab" << false;
    QTest::newRow("typed, Return") << "typed, Return" << false;
    QTest::newRow("typed, click elsewhere") << "typed, click" << false;
    // What a person picks with: the wheel and the keys on the focused box.
    QTest::newRow("wheel over the focused box") << "focused wheel" << true;
    QTest::newRow("arrow keys on the focused box") << "Down" << true;
}

void UserPageTest::modelBoxIsPickedOnlyByPicking()
{
    QFETCH(QString, way);
    QFETCH(bool, picked);
    startWith(original);
    showPage("tsUser");
    auto* model = child<QComboBox>("coboModel");
    auto* name = child<QWidget>("eName");
    QCOMPARE(model->currentText(), QStringLiteral("Male Commando"));
    // Three notches down, from "Male Commando" to "Boss".
    if (way == "wheel" || way == "wheel over the skin") {
        name->setFocus();
        wheelOver(way == "wheel" ? model : child<QComboBox>("coboSkinMC"), -3);
        QCOMPARE(QApplication::focusWidget(), name);
    } else if (way == "focused wheel") {
        model->setFocus();
        wheelOver(model, -3);
    } else if (way == "Down") {
        model->setFocus();
        for (int item = 0; item < 3; ++item)
            QTest::keyClick(model, Qt::Key_Down);
    } else {
        typeOver(model, QStringLiteral("Boss"));
        if (way == "typed, Tab")
            QTest::keyClick(model, Qt::Key_Tab);
        else if (way == "typed, Return")
            QTest::keyClick(model, Qt::Key_Return);
        else
            QTest::mouseClick(child<QLineEdit>("eName"), Qt::LeftButton);
    }
    QCoreApplication::processEvents();
    const QByteArray boss = "Class=BotPack.TBoss\r\n"
                            "Skin=BossSkins.Boss\r\n"
                            "Face=BossSkins.Xan\r\n"
                            "Voice=BotPack.VoiceBoss\r\n";
    QCOMPARE(fileBytes(), picked ? withLine(aligned(), playerKeys, boss) : aligned());
}

void UserPageTest::tabEntersTheTeamGroupOnTheSelectedColour()
{
    startWith(original); // Team=1, "Blau"
    showPage("tsUser");
    QVERIFY(child<QRadioButton>("rbBlau")->isChecked());
    child<QWidget>("eName")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("rbBlau"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    // Tab leaves the group; Shift+Tab comes back to the selected colour.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("coboModel"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("rbBlau"));
    QCOMPARE(checkedTeam(), QStringLiteral("rbBlau"));
    QCOMPARE(fileBytes(), aligned());
}

void UserPageTest::ladderFlagCountsOnlyAsTrue()
{
    startWith(withLine(original, "HasBeatenGame=False", "HasBeatenGame=true"));
    showPage("tsUser");
    auto* button = child<QPushButton>("bXanEintragen");
    QCOMPARE(child<QLabel>("LXan")->text(), QString());
    QVERIFY(button->isEnabled());

    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(fileBytes(), withLine(aligned(), "HasBeatenGame=False", "HasBeatenGame=True"));
    QCOMPARE(child<QLabel>("LXan")->text(), QStringLiteral("Wert eingetragen..."));
    QVERIFY(button->isEnabled());

    showPage("tsSystem");
    showPage("tsUser");
    QCOMPARE(child<QLabel>("LXan")->text(), QStringLiteral("Wert existiert schon!"));
    QVERIFY(!button->isEnabled());
    QVERIFY(game->boxes.shown().isEmpty());
}

QTEST_MAIN(UserPageTest)
#include "test_userpage.moc"
