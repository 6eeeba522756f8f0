#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

// Records every file write while it lives, and can make a chosen write fail.
class WriteLog {
public:
    WriteLog();
    ~WriteLog();
    WriteLog(const WriteLog&) = delete;
    WriteLog& operator=(const WriteLog&) = delete;

    // The line each write changed or added, in the order of the writes
    // ("UseVSync=True"); all files' writes.
    QStringList changedLines() const;
    int count() const { return int(writes_.size()); }

    // The write whose changed line equals `line` fails, and every later one.
    void failFrom(const QByteArray& line) { failFrom_ = line; }

private:
    struct Write {
        QString path;
        QByteArray before;
        QByteArray after;
    };
    QList<Write> writes_;
    QByteArray failFrom_;
    bool failing_ = false;
};
