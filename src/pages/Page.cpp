#include "pages/Page.h"

#include "config/GameConfigStore.h"
#include "config/IniNumbers.h"
#include "controls/EventRules.h"
#include "controls/FocusHeir.h"
#include "controls/MaskedEdit.h"
#include "platform/EditorError.h"
#include "platform/SafeFile.h"

#include <QPushButton>
#include <QShowEvent>

int fieldNumber(const MaskedEdit* field)
{
    return IniNumbers::decimalToInt32(field->value().trimmed()).value_or(-1);
}

void setTabChain(const QList<QWidget*>& widgets)
{
    for (qsizetype i = 0; i + 1 < widgets.size(); ++i)
        QWidget::setTabOrder(widgets[i], widgets[i + 1]);
}

void putLastInTabOrder(QWidget* widget)
{
    QWidget* window = widget->window();
    QWidget* last = window->previousInFocusChain();
    while (last != window && (last == widget || last->focusPolicy() == Qt::NoFocus))
        last = last->previousInFocusChain();
    if (last != window)
        QWidget::setTabOrder(last, widget);
}

Page::Page(const PageServices& services, const QString& objectName) : services_(services)
{
    setObjectName(objectName);
}

void Page::ensureBuilt()
{
    if (built_)
        return;
    built_ = true;
    build();
    if (window() == services_.bBeenden->window())
        putLastInTabOrder(services_.bBeenden);
    if (!isVisible())
        return;
    // Built while already on screen: show the new controls as a first show
    // of the page would have, and give the page the room it needs in a
    // window that was sized before the page existed.
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (!child->isWindow() && !child->testAttribute(Qt::WA_WState_ExplicitShowHide))
            child->show();
    const QSize lacking = (sizeHint().expandedTo(minimumSizeHint()) - size()).expandedTo(QSize(0, 0));
    if (!lacking.isNull()) {
        QWidget* top = window();
        top->setFixedSize(top->size() + lacking);
    }
}

void Page::showEvent(QShowEvent* event)
{
    ensureBuilt();
    QWidget::showEvent(event);
}

bool Page::focusNextPrevChild(bool next)
{
    QWidget* focus = window()->focusWidget();
    if (FocusHeir::focusGoesFrom(this)) {
        QWidget* heir = FocusHeir::heirOf(focus, this);
        keysLeftBy_ = heir == this ? focus : nullptr;
        heir->setFocus(Qt::OtherFocusReason);
        return true;
    }
    if (focus == this && keysLeftBy_ && isAncestorOf(keysLeftBy_)) {
        if (QWidget* stop = FocusHeir::tabStopFrom(keysLeftBy_, next)) {
            stop->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return true;
        }
    }
    return QWidget::focusNextPrevChild(next);
}

void Page::runShowHandler()
{
    ensureBuilt();
    // Each show reads what the files hold now, whatever their stamps say.
    SafeFile::distrustStamps();
    services_.events.guard([this] { showHandler(); });
}

namespace {
GameConfigStore& opened(const std::unique_ptr<GameConfigStore>& store)
{
    if (!store)
        throw EditorError(QStringLiteral("The game's configuration is not open"));
    return *store;
}
} // namespace

GameConfigStore& EditorState::mainIni() const
{
    return opened(MainIni);
}

GameConfigStore& EditorState::userIni() const
{
    return opened(UserIni);
}

GameConfigStore& Page::MainIni() const
{
    return services_.state.mainIni();
}

GameConfigStore& Page::UserIni() const
{
    return services_.state.userIni();
}

void Page::setQuitButtonVisible(bool visible) const
{
    services_.bBeenden->setVisible(visible);
}
