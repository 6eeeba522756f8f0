#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <optional>
#include <utility>

// Sets environment variables for one test and puts them back afterwards.
class Environment {
public:
    Environment() = default;
    Environment(const Environment&) = delete;
    Environment& operator=(const Environment&) = delete;

    void set(const char* name, const QByteArray& value)
    {
        remember(name);
        qputenv(name, value);
    }
    void unset(const char* name)
    {
        remember(name);
        qunsetenv(name);
    }
    ~Environment()
    {
        for (const auto& [name, value] : saved_) {
            if (value)
                qputenv(name, *value);
            else
                qunsetenv(name);
        }
    }

private:
    void remember(const char* name)
    {
        for (const auto& entry : saved_)
            if (qstrcmp(entry.first, name) == 0)
                return;
        saved_.append({name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt});
    }
    QList<std::pair<const char*, std::optional<QByteArray>>> saved_;
};
