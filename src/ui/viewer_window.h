// 波形浏览: the waveform viewer window. Opens record files, miniSEED files
// and SDS archive folders (buttons, or dropped on it), and exports the
// visible span of the shown channels or a picture of the view.
#pragma once

#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include "app/frm_viewer.h"
#include "ui/waveform_widget.h"

namespace zqd::ui {

class ViewerWindow : public QWidget {
    Q_OBJECT
public:
    explicit ViewerWindow(archive::ArchiveConfig config, QWidget* parent = nullptr);
    // Opens `path`; false with the reason shown in the status line.
    bool Open(const QString& path);
    WaveformWidget* Waves() const { return waves_; }
    QString StatusText() const { return status_->text(); }
    // Writes the view as a PNG; false with the reason in the status line.
    bool SavePicture(const QString& file);
    bool ExportVisible(const QString& format, const QString& folder);

protected:
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;

private:
    FrmViewer form_;
    WaveformWidget* waves_;
    QLabel* status_;
};

}  // namespace zqd::ui
