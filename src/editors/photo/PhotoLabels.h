#pragma once

#include <QFont>
#include <QString>

class QLabel;
class QWidget;

namespace qv {

// The text styles the photo editor's tabs share.
class PhotoLabels {
public:
    // A font this many times the size of the given one.
    static QFont scaled(QFont font, double scale);
    // Wrapping text in the secondary colour, optionally smaller than the body.
    static QLabel* secondary(const QString& text = {}, double scale = 1.0);
    // Notes under a control.
    static QLabel* caption(const QString& text = {});
    // Section titles.
    static QLabel* callout(const QString& text = {});
    // A symbol and a title in the callout font.
    static QWidget* symbolTitle(const QString& symbol, const QString& title);

    static constexpr double captionScale = 0.85;
    static constexpr double calloutScale = 0.92;
};

} // namespace qv
