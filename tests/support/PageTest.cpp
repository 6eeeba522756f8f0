#include "support/PageTest.h"

#include "app/HauptUnit.h"

#include <QFile>
#include <QTest>

PageTest::PageTest() : PageTest(Setup{}) {}

void PageTest::init()
{
    game = std::make_unique<GameFixture>();
    game->closeRendererQuestion = setup_.closeRendererQuestion;
    if (setup_.registered)
        game->registerGameDir();
    original = fileBytes();
}

void PageTest::cleanup()
{
    window = nullptr;
    game.reset();
}

void PageTest::start(const QStringList& arguments)
{
    window = game->start(arguments);
    QVERIFY2(window, qPrintable(game->err));
    if (game->closeRendererQuestion) {
        QVERIFY(QTest::qWaitForWindowActive(window));
        QVERIFY(window->isEnabled());
    }
    if (setup_.page)
        showPage(setup_.page);
    started();
}

void PageTest::startWith(const QByteArray& bytes, const QStringList& arguments)
{
    writeBytes(filePath(), bytes);
    start(arguments);
}

void PageTest::startAnswering(const QByteArray& bytes, const char* answer)
{
    game->closeRendererQuestion = answer == nullptr;
    startWith(bytes);
    if (answer) {
        game->answerRendererQuestion(answer);
        QVERIFY(window->isEnabled());
        QVERIFY(QTest::qWaitForWindowActive(window));
    }
}

void PageTest::stop()
{
    window = nullptr;
    game->stop();
}

QString PageTest::filePath() const
{
    switch (setup_.file) {
    case File::Main:
        return game->mainIniPath();
    case File::User:
        return game->userIniPath();
    case File::Registry:
        break;
    }
    return game->registryPath();
}

void PageTest::setReadOnly(bool readOnly) const
{
    const QFile::Permissions readable = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
    QFile::setPermissions(filePath(), readOnly ? readable : readable | QFile::WriteOwner);
}
