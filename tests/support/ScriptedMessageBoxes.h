#pragma once

#include "controls/MessageBoxes.h"

#include <QList>
#include <QString>

#include <deque>

// Records every box the program shows and answers as the test has queued.
// An unexpected question (nothing queued) answers "No" or cancels, and is
// recorded all the same, so a test sees it.
class ScriptedMessageBoxes final : public MessageBoxes {
public:
    enum class Kind { Notice, Information, InformationYesNo, Error, OpenDialog };
    struct Box {
        Kind kind;
        QString text;
    };

    void queueAnswer(Answer answer) { answers_.push_back(answer); }
    void queueOpenFile(std::optional<QString> path) { files_.push_back(std::move(path)); }

    void notice(QWidget* parent, const QString& text) override;
    Answer information(QWidget* parent, const QString& text, bool yesNo) override;
    void error(QWidget* parent, const QString& text) override;
    std::optional<QString> openGameExecutable(QWidget* parent) override;

    const QList<Box>& shown() const { return shown_; }
    QStringList errors() const;
    void clear() { shown_.clear(); }

private:
    QList<Box> shown_;
    std::deque<Answer> answers_;
    std::deque<std::optional<QString>> files_;
};
