#include "app/HauptUnit.h"
#include "app/RendererUnit.h"
#include "controls/MaskedEdit.h"
#include "pages/OtherRenderersPage.h"
#include "support/ModalAnswerer.h"
#include "support/PageTest.h"
#include "support/WriteLog.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

using Answer = MessageBoxes::Answer;

namespace {
const QByteArray engine = "Engine.Engine";

QString question(const QString& device)
{
    return QStringLiteral("In der Datei \"UnrealTournament.ini\" steht aber, dass \n%1\n"
                          "verwendet wird! Soll der Eintrag geändert werden¿")
        .arg(device);
}
} // namespace

// The question at start-up: which renderer, and whether to switch the game's
// render device.
class RendererQuestionTest : public PageTest {
    Q_OBJECT

public:
    RendererQuestionTest() : PageTest({.closeRendererQuestion = false}) {}

private Q_SLOTS:
    void questionIsShownOnTopAndDisablesTheMainWindow();
    void direct3DWithDirect3DConfiguredAsksNothing();
    void answers_data();
    void answers();
    void missingOrDifferentlySpelledDeviceIsAskedAbout();
    void closingTheQuestionUnlocksNothing();
    void keyboardAnswers_data();
    void keyboardAnswers();
    void failedWriteKeepsTheQuestionOpen();
    void errorOfAnAnswerStandsOverTheQuestion();

private:
    QList<QWidget*> groupControls(const char* group) const;
};

QList<QWidget*> RendererQuestionTest::groupControls(const char* group) const
{
    QList<QWidget*> controls;
    for (QWidget* widget : child<QGroupBox>(group)->findChildren<QWidget*>())
        if (qobject_cast<QCheckBox*>(widget) || qobject_cast<QRadioButton*>(widget) || qobject_cast<MaskedEdit*>(widget))
            controls << widget;
    return controls;
}

void RendererQuestionTest::questionIsShownOnTopAndDisablesTheMainWindow()
{
    startWith(original);
    TRendererForm* form = window->RendererForm.get();
    QVERIFY(form->isVisible());
    QVERIFY(form->windowFlags() & Qt::WindowStaysOnTopHint);
    QCOMPARE(form->windowTitle(), QStringLiteral("Renderer"));
    QCOMPARE(form->findChild<QLabel*>("Label1")->text(), QStringLiteral("Welcher Renderer wird verwendet¿"));
    QStringList captions;
    for (const char* name : {"bDirect3D", "bOpenGL", "bGlide"})
        captions << form->findChild<QPushButton*>(name)->text();
    QCOMPARE(captions, (QStringList{"Direct3D", "OpenGL", "3dfx Glide"}));
    QVERIFY(!window->isEnabled());
    // The System page was shown before the question, with its refresh.
    QCOMPARE(window->PageControl1->currentWidget()->objectName(), QStringLiteral("tsSystem"));
}

void RendererQuestionTest::direct3DWithDirect3DConfiguredAsksNothing()
{
    startWith(original);
    game->answerRendererQuestion("bDirect3D");
    QVERIFY(game->boxes.shown().isEmpty());
    QVERIFY(!window->RendererForm->isVisible());
    QVERIFY(window->isEnabled());
    QCOMPARE(child<QGroupBox>("GroupBox3")->title(), QStringLiteral(" D3D-Einstellungen "));
    QVERIFY(child<QGroupBox>("GroupBox3")->isEnabled());
    const QList<QWidget*> controls = groupControls("GroupBox3");
    QCOMPARE(controls.size(), 20);
    for (QWidget* control : controls)
        QVERIFY2(control->isEnabled(), qPrintable(control->objectName()));
    QVERIFY(!window->PageControl1->isTabVisible(7));
    // The answer leaves the other renderers' page unbuilt; built later, it
    // comes up locked.
    QVERIFY(!window->otherRenderersPage()->isBuilt());
    window->otherRenderersPage()->ensureBuilt();
    for (QWidget* control : groupControls("GroupBox11") + groupControls("GroupBox10"))
        QVERIFY(!control->isEnabled());
    QCOMPARE(fileBytes(), original);
}

void RendererQuestionTest::answers_data()
{
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<QByteArray>("group");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("controls");
    QTest::addColumn<QString>("device");
    QTest::addColumn<bool>("yes");
    QTest::newRow("OpenGL, No") << QByteArray("bOpenGL") << QByteArray("GroupBox11") << " OpenGL " << 16
                                << "OpenGLDrv.OpenGLRenderDevice" << false;
    QTest::newRow("OpenGL, Yes") << QByteArray("bOpenGL") << QByteArray("GroupBox11") << " OpenGL " << 16
                                 << "OpenGLDrv.OpenGLRenderDevice" << true;
    QTest::newRow("Glide, No") << QByteArray("bGlide") << QByteArray("GroupBox10") << " 3dfx Glide " << 12
                               << "GlideDrv.GlideRenderDevice" << false;
    QTest::newRow("Glide, Yes") << QByteArray("bGlide") << QByteArray("GroupBox10") << " 3dfx Glide " << 12
                                << "GlideDrv.GlideRenderDevice" << true;
}

void RendererQuestionTest::answers()
{
    QFETCH(QByteArray, button);
    QFETCH(QByteArray, group);
    QFETCH(QString, title);
    QFETCH(int, controls);
    QFETCH(QString, device);
    QFETCH(bool, yes);
    startWith(original);
    game->boxes.queueAnswer(yes ? Answer::Yes : Answer::No);
    WriteLog log;
    game->answerRendererQuestion(button.constData());

    QCOMPARE(game->boxes.shown().size(), 1);
    QCOMPARE(game->boxes.shown()[0].kind, Kind::InformationYesNo);
    QCOMPARE(game->boxes.shown()[0].text, question("D3DDrv.D3DRenderDevice"));
    QVERIFY(window->PageControl1->isTabVisible(7));
    QCOMPARE(window->PageControl1->currentWidget()->objectName(), QStringLiteral("tsSystem"));
    QCOMPARE(child<QGroupBox>(group.constData())->title(), title);
    const QList<QWidget*> unlocked = groupControls(group.constData());
    QCOMPARE(unlocked.size(), controls);
    for (QWidget* control : unlocked)
        QVERIFY2(control->isEnabled(), qPrintable(control->objectName()));
    QVERIFY(!child<QGroupBox>("GroupBox3")->isEnabled());
    QVERIFY(window->isEnabled());
    QVERIFY(!window->RendererForm->isVisible());

    if (yes) {
        QCOMPARE(log.changedLines(), (QStringList{"GameRenderDevice=" + device, "RenderDevice=" + device}));
        QByteArray expected = withValue(original, engine, "GameRenderDevice", device.toLatin1());
        expected = withValue(expected, engine, "RenderDevice", device.toLatin1());
        QCOMPARE(fileBytes(), expected);
    } else {
        QCOMPARE(log.count(), 0);
        QCOMPARE(fileBytes(), original);
    }
}

void RendererQuestionTest::missingOrDifferentlySpelledDeviceIsAskedAbout()
{
    startWith(withValue(original, engine, "GameRenderDevice", std::nullopt));
    game->boxes.queueAnswer(Answer::Yes);
    game->answerRendererQuestion("bDirect3D");
    QCOMPARE(game->boxes.shown()[0].text, question("Eintrag nicht gefunden!"));
    QVERIFY(fileBytes().contains("\nGameRenderDevice=D3DDrv.D3DRenderDevice\r\n"));

    cleanup();
    init();
    startWith(withValue(original, engine, "GameRenderDevice", QByteArray("d3ddrv.d3drenderdevice")));
    game->answerRendererQuestion("bDirect3D");
    QCOMPARE(game->boxes.shown().size(), 1);
    QCOMPARE(game->boxes.shown()[0].text, question("d3ddrv.d3drenderdevice"));
}

void RendererQuestionTest::closingTheQuestionUnlocksNothing()
{
    startWith(original);
    window->RendererForm->close();
    QVERIFY(window->isEnabled());
    QVERIFY(!window->PageControl1->isTabVisible(7));
    QVERIFY(!window->otherRenderersPage()->isBuilt());
    window->otherRenderersPage()->ensureBuilt();
    for (const char* group : {"GroupBox3", "GroupBox11", "GroupBox10"}) {
        QVERIFY(!child<QGroupBox>(group)->isEnabled());
        for (QWidget* control : groupControls(group))
            QVERIFY(!control->isEnabled());
    }
    QVERIFY(game->boxes.shown().isEmpty());
    QCOMPARE(fileBytes(), original);
}

void RendererQuestionTest::keyboardAnswers_data()
{
    QTest::addColumn<QList<int>>("keys");
    QTest::addColumn<QString>("unlocked"); // empty: nothing, as the close button
    QTest::newRow("Escape") << QList<int>{Qt::Key_Escape} << "";
    QTest::newRow("Return") << QList<int>{Qt::Key_Return} << "GroupBox3";
    QTest::newRow("Tab, Return") << QList<int>{Qt::Key_Tab, Qt::Key_Return} << "GroupBox11";
    QTest::newRow("Tab, Tab, Enter") << QList<int>{Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Enter} << "GroupBox10";
}

void RendererQuestionTest::keyboardAnswers()
{
    QFETCH(QList<int>, keys);
    QFETCH(QString, unlocked);
    const QByteArray file = withValue(original, engine, "GameRenderDevice", QByteArray("SoftDrv.SoftwareRenderDevice"));
    startWith(file);
    TRendererForm* question = window->RendererForm.get();
    QVERIFY(QTest::qWaitForWindowActive(question));
    for (const int key : keys)
        QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key(key));

    QVERIFY(!question->isVisible());
    QVERIFY(window->isEnabled());
    // Built by an OpenGL or Glide answer, else now.
    window->otherRenderersPage()->ensureBuilt();
    for (const char* group : {"GroupBox3", "GroupBox11", "GroupBox10"})
        QCOMPARE(child<QGroupBox>(group)->isEnabled(), unlocked == group);
    // The device question follows an answer only, and is answered "No".
    QCOMPARE(game->boxes.shown().size(), unlocked.isEmpty() ? 0 : 1);
    QCOMPARE(fileBytes(), file);
}

void RendererQuestionTest::failedWriteKeepsTheQuestionOpen()
{
    startWith(withValue(original, engine, "GameRenderDevice", QByteArray("SoftDrv.SoftwareRenderDevice")));
    setReadOnly();
    game->boxes.queueAnswer(Answer::Yes);
    game->answerRendererQuestion("bOpenGL");
    QCOMPARE(game->boxes.errors(), QStringList{unableToWrite(game->mainIniPath())});
    QVERIFY(window->RendererForm->isVisible());
    QVERIFY(!window->isEnabled());
    QVERIFY(child<QGroupBox>("GroupBox11")->isEnabledTo(window)); // already unlocked

    // Answering again once the file can be written goes through.
    setReadOnly(false);
    game->boxes.queueAnswer(Answer::Yes);
    game->answerRendererQuestion("bOpenGL");
    QVERIFY(!window->RendererForm->isVisible());
    QVERIFY(window->isEnabled());
    QVERIFY(fileBytes().contains("\nRenderDevice=OpenGLDrv.OpenGLRenderDevice\r\n"));
}

void RendererQuestionTest::errorOfAnAnswerStandsOverTheQuestion()
{
    // With the real boxes and the keyboard: the error box belongs to the
    // question, which stays on top, and the keys go back to the question.
    game->realBoxes = true;
    startWith(withValue(original, engine, "GameRenderDevice", QByteArray("SoftDrv.SoftwareRenderDevice")));
    setReadOnly();
    TRendererForm* question = window->RendererForm.get();
    QVERIFY(QTest::qWaitForWindowActive(question));
    QList<QWidget*> parents;
    ModalAnswerer answerer([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box);
        parents << box->parentWidget();
        for (QAbstractButton* button : box->buttons())
            if (button->text() == "&Yes" || button->text() == "OK")
                return button->click();
    });
    QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_Tab);
    QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_Return); // OpenGL, then Yes
    QCOMPARE(answerer.texts.size(), 2);
    QCOMPARE(answerer.texts.back(), unableToWrite(game->mainIniPath()));
    QCOMPARE(parents, (QList<QWidget*>{question, question}));
    QTRY_VERIFY(question->isActiveWindow());
    QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_Escape);
    QVERIFY(!question->isVisible());
    QCOMPARE(fileBytes(), withValue(original, engine, "GameRenderDevice", QByteArray("SoftDrv.SoftwareRenderDevice")));
}

QTEST_MAIN(RendererQuestionTest)
#include "test_rendererquestion.moc"
