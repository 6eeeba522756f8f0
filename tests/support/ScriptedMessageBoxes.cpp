#include "support/ScriptedMessageBoxes.h"

void ScriptedMessageBoxes::notice(QWidget*, const QString& text)
{
    shown_.append({Kind::Notice, text});
}

MessageBoxes::Answer ScriptedMessageBoxes::information(QWidget*, const QString& text, bool yesNo)
{
    shown_.append({yesNo ? Kind::InformationYesNo : Kind::Information, text});
    if (!yesNo)
        return Answer::Ok;
    if (answers_.empty())
        return Answer::No;
    const Answer answer = answers_.front();
    answers_.pop_front();
    return answer;
}

void ScriptedMessageBoxes::error(QWidget*, const QString& text)
{
    shown_.append({Kind::Error, text});
}

std::optional<QString> ScriptedMessageBoxes::openGameExecutable(QWidget*)
{
    shown_.append({Kind::OpenDialog, QString()});
    if (files_.empty())
        return std::nullopt;
    // Returned as a new value rather than the local optional in place: g++ 12
    // takes the latter's empty payload for possibly uninitialised.
    const std::optional<QString> queued = std::move(files_.front());
    files_.pop_front();
    if (!queued)
        return std::nullopt;
    return *queued;
}

QStringList ScriptedMessageBoxes::errors() const
{
    QStringList texts;
    for (const Box& box : shown_)
        if (box.kind == Kind::Error)
            texts << box.text;
    return texts;
}
