// Layout positions are given in twips (1/1440 inch): 15 twips a pixel at 96 DPI.
#pragma once

#include <QRect>

class QWidget;

namespace zqd::ui {

// Pixels per twip of the screen the widget is on.
double PixelsPerTwip(const QWidget* widget);

// A rectangle given as Left, Top, Width, Height in twips.
QRect TwipsRect(double ppt, int left, int top, int width, int height);

}  // namespace zqd::ui
