#pragma once

#include "support/GameFixture.h"

#include <QAbstractButton>
#include <QObject>

#include <memory>

// Base of the test classes that drive the whole editor: each test function
// gets a fresh copy of the sample game (init) and loses it with the editor at
// its end (cleanup). What sets one class apart is its Setup; what sets one
// test apart it sets on the fixture (game->realBoxes, game->physicalMemory,
// ...) before it starts the editor.
class PageTest : public QObject {
    Q_OBJECT

public:
    enum class File { Main, User, Registry };
    struct Setup {
        // The file startWith() writes, original holds and fileBytes() reads.
        File file = File::Main;
        // The page start() shows; none: the one start-up shows.
        const char* page = nullptr;
        // Whether the registry names the copy's folder from the start.
        bool registered = true;
        // Whether start() closes the renderer question.
        bool closeRendererQuestion = true;
    };
    PageTest();
    explicit PageTest(Setup setup) : setup_(setup) {}

protected Q_SLOTS:
    void init();
    void cleanup();

protected:
    using Kind = ScriptedMessageBoxes::Kind;

    // Starts the editor (with the arguments GameFixture::start takes), waits
    // until it takes input unless the renderer question stays open, and shows
    // the Setup's page.
    void start(const QStringList& arguments = {});
    // The same with the file holding these bytes.
    void startWith(const QByteArray& bytes, const QStringList& arguments = {});
    // Starts with the file holding these bytes and gives the renderer
    // question the answer (a button's name), or closes it when there is
    // none; then waits until the window takes input.
    void startAnswering(const QByteArray& bytes, const char* answer);
    // Ends the editor; the files stay.
    void stop();
    // Runs at the end of every start, for what a class sets on each editor.
    virtual void started() {}

    template <typename T>
    T* child(const QString& name) const
    {
        return game->child<T>(name);
    }
    void showPage(const char* name) const { game->showPage(name); }
    // Clicks the button where a person would.
    void click(const char* button) const { ::click(child<QAbstractButton>(button)); }
    static void click(QAbstractButton* button) { ::click(button); }

    QString filePath() const;
    QByteArray fileBytes() const { return readBytes(filePath()); }
    // Takes the file's write permission from its owner, or gives it back.
    void setReadOnly(bool readOnly = true) const;

    std::unique_ptr<GameFixture> game;
    THauptForm* window = nullptr;
    // The sample's bytes of the Setup's file.
    QByteArray original;

private:
    Setup setup_;
};
