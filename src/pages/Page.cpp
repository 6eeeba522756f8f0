#include "pages/Page.h"

#include "app/EventRules.h"
#include "config/GameConfigStore.h"
#include "platform/EditorError.h"

#include <QPushButton>
#include <QShowEvent>

Page::Page(const PageServices& services, const QString& objectName) : services_(services)
{
    setObjectName(objectName);
}

void Page::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // A spontaneous show is the window coming back from being minimised, not
    // the page becoming the visible one.
    if (!event->spontaneous())
        services_.events.guard([this] { showHandler(); });
}

GameConfigStore& Page::MainIni() const
{
    if (!services_.state.MainIni)
        throw EditorError(QStringLiteral("The game's configuration is not open"));
    return *services_.state.MainIni;
}

GameConfigStore& Page::UserIni() const
{
    if (!services_.state.UserIni)
        throw EditorError(QStringLiteral("The game's configuration is not open"));
    return *services_.state.UserIni;
}

void Page::setQuitButtonVisible(bool visible) const
{
    services_.bBeenden->setVisible(visible);
}
