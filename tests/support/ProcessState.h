#pragma once

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QList>
#include <QLocale>
#include <QSettings>
#include <QStandardPaths>
#include <QTranslator>

// Guards of the state a test changes for the whole process. Each puts back
// what was there before in its destructor, so that a test that fails
// halfway leaves the next one the process as it found it.

// The default locale (QLocale()), as the window's clock and numbers read it.
class DefaultLocale {
public:
    explicit DefaultLocale(const QLocale& locale) { set(locale); }
    DefaultLocale(const DefaultLocale&) = delete;
    DefaultLocale& operator=(const DefaultLocale&) = delete;
    ~DefaultLocale() { QLocale::setDefault(before_); }
    void set(const QLocale& locale) { QLocale::setDefault(locale); }

private:
    const QLocale before_;
};

// The translators installed meanwhile (loadQtTranslations parents its own
// to the application): removed again, deleting them.
class InstalledTranslators {
public:
    InstalledTranslators() : before_(translators()) {}
    InstalledTranslators(const InstalledTranslators&) = delete;
    InstalledTranslators& operator=(const InstalledTranslators&) = delete;
    ~InstalledTranslators()
    {
        for (QTranslator* translator : translators())
            if (!before_.contains(translator))
                delete translator;
    }

private:
    static QList<QTranslator*> translators()
    {
        return QCoreApplication::instance()->findChildren<QTranslator*>(Qt::FindDirectChildrenOnly);
    }
    const QList<QTranslator*> before_;
};

// The folder of the user's QSettings files. Qt has no getter for it: it is
// put back to where Qt takes it from, the configuration folder of the
// environment at that time (so an Environment guard declared after this one
// has restored XDG_CONFIG_HOME by then).
class UserSettingsPath {
public:
    explicit UserSettingsPath(const QString& path) { set(path); }
    UserSettingsPath(const UserSettingsPath&) = delete;
    UserSettingsPath& operator=(const UserSettingsPath&) = delete;
    ~UserSettingsPath() { set(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)); }

private:
    static void set(const QString& path)
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path);
    }
};

// The clipboard's text.
class ClipboardText {
public:
    explicit ClipboardText(const QString& text) : before_(QGuiApplication::clipboard()->text())
    {
        QGuiApplication::clipboard()->setText(text);
    }
    ClipboardText(const ClipboardText&) = delete;
    ClipboardText& operator=(const ClipboardText&) = delete;
    ~ClipboardText()
    {
        if (before_.isNull())
            QGuiApplication::clipboard()->clear();
        else
            QGuiApplication::clipboard()->setText(before_);
    }

private:
    const QString before_;
};
