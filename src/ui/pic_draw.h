// PicDraw: the drawing surface of the main window. It shows the trace that the
// last query left, drawn into a backing image so that it survives repaints
// and resizes.
#pragma once

#include <QImage>
#include <QWidget>

#include "app/pic_draw_model.h"

namespace zqd::ui {

// Draws the model's trace over `background` into the whole image: one
// polyline when there are few points, otherwise the minimum and maximum of
// every pixel column joined column to column.
void RenderTrace(QImage& image, const PicDrawModel& model, const QColor& background);

class PicDraw : public QWidget {
    Q_OBJECT
public:
    PicDraw(const PicDrawModel& model, QWidget* parent = nullptr);

    // Redraws the backing image when the model has changed.
    void Sync();
    const QImage& Image() const { return image_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void Render();

    const PicDrawModel& model_;
    QImage image_;
    unsigned generation_ = ~0u;
};

}  // namespace zqd::ui
