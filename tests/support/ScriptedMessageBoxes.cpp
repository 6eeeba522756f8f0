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
    std::optional<QString> file = files_.front();
    files_.pop_front();
    return file;
}

QStringList ScriptedMessageBoxes::errors() const
{
    QStringList texts;
    for (const Box& box : shown_)
        if (box.kind == Kind::Error)
            texts << box.text;
    return texts;
}
