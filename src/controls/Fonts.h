#pragma once

#include <QFont>

class QWidget;

// The font bold or plain and nothing else: italic, underline and strike-out
// are cleared, so a caption that moves its bold from one control to another
// looks the same wherever it stands.
QFont boldFont(QFont font, bool bold = true);

// The widget's own font made bold or plain (boldFont).
void setBold(QWidget* widget, bool bold);
