#pragma once

#include <QString>

#include <exception>

// A failure that ends the running handler and is shown to the user as the
// error box. Thrown by the INI layer, the registry layer and the pages; caught
// only at the entries from Qt (see EventRules).
class EditorError : public std::exception {
public:
    explicit EditorError(QString message) : message_(std::move(message)), utf8_(message_.toUtf8()) {}
    const QString& message() const noexcept { return message_; }
    const char* what() const noexcept override { return utf8_.constData(); }

private:
    QString message_;
    QByteArray utf8_;
};
