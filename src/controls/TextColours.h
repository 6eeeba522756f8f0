#pragma once

#include <QColor>

class QPalette;
class QWidget;

// The contrast of two colours by WCAG 2: 1 (the same) to 21 (black on white).
double contrastRatio(const QColor& first, const QColor& second);

// The colour a coloured text is shown in against the palette's window: on a
// light window (black reads better on it than white) the colour itself; on a
// dark one the least lightened tint of it, mixed with white so that its hue stays,
// that stands out from the window by 4.5:1 (WCAG AA for text).
QColor readableOn(const QColor& colour, const QPalette& palette);

// Shows the widget's text in the colour, made readable on its window by
// readableOn, now and whenever the palette changes (a dark theme chosen
// while the program runs).
void setTextColour(QWidget* widget, const QColor& colour);
