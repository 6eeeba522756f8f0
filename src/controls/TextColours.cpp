#include "controls/TextColours.h"

#include <QEvent>
#include <QPalette>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace {

constexpr double readableContrast = 4.5;

double channel(double value)
{
    return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
}

double luminance(const QColor& colour)
{
    const QColor rgb = colour.toRgb();
    return 0.2126 * channel(rgb.redF()) + 0.7152 * channel(rgb.greenF()) + 0.0722 * channel(rgb.blueF());
}

QColor tint(const QColor& colour, double white)
{
    const QColor rgb = colour.toRgb();
    const auto mix = [white](int value) { return int(std::lround(value + (255 - value) * white)); };
    return QColor(mix(rgb.red()), mix(rgb.green()), mix(rgb.blue()));
}

// Keeps a widget's text colour readable when the palette changes; the
// colour asked for lives here.
class TextColour final : public QObject {
public:
    TextColour(QWidget* widget, const QColor& colour) : QObject(widget), widget_(widget), colour_(colour)
    {
        setObjectName(QStringLiteral("brennwerk-text-colour"));
        widget->installEventFilter(this);
    }

    void set(const QColor& colour)
    {
        colour_ = colour;
        apply();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == widget_ && event->type() == QEvent::PaletteChange && !applying_)
            apply();
        return false;
    }

private:
    void apply()
    {
        applying_ = true;
        QPalette palette = widget_->palette();
        palette.setColor(QPalette::WindowText, readableOn(colour_, palette));
        widget_->setPalette(palette);
        applying_ = false;
    }

    QWidget* widget_;
    QColor colour_;
    bool applying_ = false;
};

} // namespace

double contrastRatio(const QColor& first, const QColor& second)
{
    const double a = luminance(first);
    const double b = luminance(second);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

QColor readableOn(const QColor& colour, const QPalette& palette)
{
    const QColor window = palette.color(QPalette::Active, QPalette::Window);
    // Light: black text stands out from it more than white would.
    if (contrastRatio(window, Qt::black) >= contrastRatio(window, Qt::white))
        return colour;
    // The least white that reaches the contrast, in steps of 1/256.
    for (int step = 0; step <= 256; ++step) {
        const QColor candidate = tint(colour, step / 256.0);
        if (contrastRatio(candidate, window) >= readableContrast)
            return candidate;
    }
    return Qt::white;
}

void setTextColour(QWidget* widget, const QColor& colour)
{
    auto* keeper = widget->findChild<TextColour*>(QStringLiteral("brennwerk-text-colour"), Qt::FindDirectChildrenOnly);
    if (!keeper)
        keeper = new TextColour(widget, colour);
    keeper->set(colour);
}
