#pragma once

#include <QString>

#include <optional>

class QWidget;

// Every box the program shows goes through this interface, so tests can
// script the answers and record what was asked.
class MessageBoxes {
public:
    enum class Answer { Ok, Yes, No };

    virtual ~MessageBoxes() = default;

    // Titled with the application title, no icon, "OK".
    virtual void notice(QWidget* parent, const QString& text) = 0;
    // Titled "Information", information icon, "OK" or "&Yes"/"&No".
    virtual Answer information(QWidget* parent, const QString& text, bool yesNo) = 0;
    // Titled with the application title, error icon, "OK". The text is shown
    // as given; errorText() makes it from a failure's message.
    virtual void error(QWidget* parent, const QString& text) = 0;
    // The start-up dialog that asks for the game's executable
    // (UnrealTournament.exe, or ut-bin, ut-bin-amd64 or ucc-bin of a Linux
    // build); nullopt when cancelled.
    virtual std::optional<QString> openGameExecutable(QWidget* parent) = 0;
};

// The failure's message with a full stop appended when its last character
// sorts after "." (a letter or a digit, say).
QString errorText(const QString& message);

// The real boxes, built from Qt's standard dialogs.
class QtMessageBoxes final : public MessageBoxes {
public:
    void notice(QWidget* parent, const QString& text) override;
    Answer information(QWidget* parent, const QString& text, bool yesNo) override;
    void error(QWidget* parent, const QString& text) override;
    std::optional<QString> openGameExecutable(QWidget* parent) override;
};
