#include "controls/Fonts.h"

#include <QWidget>

QFont boldFont(QFont font, bool bold)
{
    font.setBold(bold);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

void setBold(QWidget* widget, bool bold)
{
    widget->setFont(boldFont(widget->font(), bold));
}
