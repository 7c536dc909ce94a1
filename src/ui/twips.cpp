#include "ui/twips.h"

#include <QScreen>
#include <QWidget>
#include <cmath>

namespace zqd::ui {

double PixelsPerTwip(const QWidget* widget) {
    const QScreen* screen = widget ? widget->screen() : nullptr;
    const double dpi = screen ? screen->logicalDotsPerInch() : 96.0;
    return (dpi > 0 ? dpi : 96.0) / 1440.0;
}

QRect TwipsRect(double ppt, int left, int top, int width, int height) {
    auto px = [ppt](int t) { return static_cast<int>(std::lround(t * ppt)); };
    return QRect(px(left), px(top), px(width), px(height));
}

}  // namespace zqd::ui
