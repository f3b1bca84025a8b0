#include "gui/ReadableLook.h"

#include <QApplication>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOption>

#include <algorithm>
#include <cmath>
#include <initializer_list>

namespace gui {

namespace {

double Luminance(const QColor& colour)
{
    const auto channel = [](double c) { return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) + 0.0722 * channel(colour.blueF());
}

QColor Mix(const QColor& from, const QColor& to, double t)
{
    const auto part = [t](float a, float b) { return static_cast<float>(a + (b - a) * t); };
    return QColor::fromRgbF(part(from.redF(), to.redF()), part(from.greenF(), to.greenF()), part(from.blueF(), to.blueF()));
}

// The first colour on the way from from to to (in twentieths) with a
// contrast of least against every background; to where none has.
QColor Towards(const QColor& from, const QColor& to, std::initializer_list<QColor> backgrounds, double least)
{
    for (int step = 0; step <= 20; ++step) {
        const QColor shown = Mix(from.toRgb(), to.toRgb(), step / 20.0);
        if (std::all_of(backgrounds.begin(), backgrounds.end(),
                        [&](const QColor& background) { return Contrast(shown, background) >= least; }))
            return shown;
    }
    return to;
}

constexpr double kText = 4.5;
constexpr double kEdge = 3.0;

// Fusion draws the edges of these from the window colour (darkened by 40 %):
// the option's window colour is set so that the edge comes out as EdgeColour.
bool DrawnWithWindowEdge(QStyle::PrimitiveElement element)
{
    return element == QStyle::PE_IndicatorCheckBox || element == QStyle::PE_IndicatorRadioButton
        || element == QStyle::PE_FrameLineEdit;
}

class ReadableStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override
    {
        if (element == PE_FrameFocusRect && option) {
            // Only after the keyboard moved the focus, as Fusion does, but solid.
            if (!(option->state & State_KeyboardFocusChange))
                return;
            painter->save();
            painter->setPen(QPen(FocusColour(option->palette), 1));
            painter->setBrush(Qt::NoBrush);
            painter->drawRect(option->rect.adjusted(0, 0, -1, -1));
            painter->restore();
            return;
        }
        if (DrawnWithWindowEdge(element) && option) {
            // (A check box's edge comes out a tenth lighter still.)
            const QColor edge = EdgeColour(option->palette);
            const QColor window = (element == PE_IndicatorCheckBox ? edge.darker(110) : edge).lighter(140);
            const auto draw = [&](auto copy) {
                for (const auto group : {QPalette::Active, QPalette::Inactive})
                    copy.palette.setColor(group, QPalette::Window, window);
                QProxyStyle::drawPrimitive(element, &copy, painter, widget);
            };
            if (const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option))
                draw(*button);
            else if (const auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(option))
                draw(*frame);
            else
                draw(*option);
            return;
        }
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }
};

}  // namespace

double Contrast(const QColor& a, const QColor& b)
{
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor WithContrast(const QColor& colour, const QColor& background, double least)
{
    const QColor end = Luminance(background) < 0.18 ? QColor(Qt::white) : QColor(Qt::black);
    return Towards(colour, end, {background}, least);
}

QPalette ReadablePalette(QPalette palette)
{
    struct Pair {
        QPalette::ColorRole text, background;
    };
    constexpr Pair kPairs[] = {{QPalette::Text, QPalette::Base},
                               {QPalette::WindowText, QPalette::Window},
                               {QPalette::ButtonText, QPalette::Button},
                               {QPalette::PlaceholderText, QPalette::Base},
                               {QPalette::HighlightedText, QPalette::Highlight},
                               {QPalette::Link, QPalette::Base},
                               {QPalette::LinkVisited, QPalette::Base},
                               {QPalette::ToolTipText, QPalette::ToolTipBase}};
    for (const auto group : {QPalette::Active, QPalette::Inactive})
        for (const Pair& pair : kPairs) {
            const QColor text = palette.color(group, pair.text);
            const QColor background = palette.color(group, pair.background);
            // A half-transparent colour (Qt's own placeholder) is read as drawn.
            const QColor drawn = Mix(background, QColor(text.rgb()), text.alphaF());
            if (Contrast(drawn, background) < kText)
                palette.setColor(group, pair.text, WithContrast(drawn, background, kText));
        }
    return palette;
}

QColor EdgeColour(const QPalette& palette)
{
    const QColor window = palette.color(QPalette::Window);
    return Towards(window.darker(140), palette.color(QPalette::WindowText), {window, palette.color(QPalette::Base)}, kEdge);
}

QColor FocusColour(const QPalette& palette)
{
    return Towards(palette.color(QPalette::Highlight), palette.color(QPalette::WindowText),
                   {palette.color(QPalette::Window), palette.color(QPalette::Base)}, kEdge);
}

void UseReadableLook(QApplication& app)
{
    if (QApplication::style()->name().compare("fusion", Qt::CaseInsensitive) == 0)
        QApplication::setStyle(new ReadableStyle(QApplication::style()->name()));
    app.setPalette(ReadablePalette(QApplication::palette()));
}

}  // namespace gui
