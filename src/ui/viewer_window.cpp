#include "ui/viewer_window.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QMimeData>
#include <QUrl>
#include <QVBoxLayout>

#include "platform/text.h"
#include "ui/control_view.h"
#include "ui/plot.h"

namespace zqd::ui {

ViewerWindow::ViewerWindow(archive::ArchiveConfig config, QWidget* parent)
    : QWidget(parent), form_(std::move(config)) {
    setAcceptDrops(true);
    auto* layout = new QVBoxLayout(this);
    auto* bar = new QHBoxLayout;
    auto button = [&](const char* text, const char* tip, auto&& slot) {
        auto* b = new QPushButton(QString::fromUtf8(text), this);
        b->setToolTip(QString::fromUtf8(tip));
        b->setFocusPolicy(Qt::NoFocus);  // the keys go to the waves
        connect(b, &QPushButton::clicked, this, slot);
        bar->addWidget(b);
        return b;
    };
    waves_ = new WaveformWidget(this);
    button("打开文件…", "T1.DAT 或 miniSEED 文件", [this] {
        const QString f = QFileDialog::getOpenFileName(this, QString::fromUtf8("打开文件"));
        if (!f.isEmpty()) Open(f);
    });
    button("打开文件夹…", "SDS 数据文件夹", [this] {
        const QString f = QFileDialog::getExistingDirectory(this, QString::fromUtf8("打开 SDS 文件夹"));
        if (!f.isEmpty()) Open(f);
    });
    button("全部", "显示全部时间（F 或 Home）", [this] { waves_->FitAll(); });
    button("放大", "放大（+ 或 ↑；滚轮以光标为中心；右键拖动选取时段）", [this] { waves_->ZoomIn(); });
    button("缩小", "缩小（- 或 ↓）", [this] { waves_->ZoomOut(); });
    button("固定幅度", "固定或自动幅度（S）", [this] { waves_->ToggleFixedScale(); });
    button("伏特", "幅度用伏特或码值（V）", [this] { waves_->ToggleVolts(); });
    button("显示全部通道", "重新显示隐藏的通道（A）。点通道名或用 [ ] 选当前行，H 隐藏它，Ctrl+↑↓ 或 Ctrl+滚轮改行高", [this] {
        for (int r = 0; waves_->Model() && r < waves_->Model()->ChannelCount(); ++r) waves_->View().SetHidden(r, false);
        waves_->update();
    });
    button("导出…", "把可见时段和通道导出为 miniSEED、SAC 或 CSV", [this] {
        bool ok = false;
        const QString format = QInputDialog::getItem(this, QString::fromUtf8("导出"), QString::fromUtf8("格式"),
                                                     {"mseed", "sac", "csv"}, 0, false, &ok);
        if (!ok) return;
        const QString folder = QFileDialog::getExistingDirectory(this, QString::fromUtf8("导出到文件夹"));
        if (!folder.isEmpty()) ExportVisible(format, folder);
    });
    button("存为图片…", "把当前视图存为 PNG", [this] {
        const QString f = QFileDialog::getSaveFileName(this, QString::fromUtf8("存为图片"), "waves.png", "PNG (*.png)");
        if (!f.isEmpty()) SavePicture(f);
    });
    bar->addStretch(1);
    layout->addLayout(bar);
    layout->addWidget(waves_, 1);
    status_ = new QLabel(Q(form_.StatusText), this);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(status_);
    resize(1100, 760);
    waves_->setFocus();
}

bool ViewerWindow::Open(const QString& path) {
    const Status s = form_.Open(platform::PathFromUtf8(path.toStdString()));
    status_->setText(Q(form_.StatusText));
    if (!s.ok()) return false;  // the view keeps what it showed
    waves_->SetModel(form_.Model());
    setWindowTitle(Q(form_.Title));
    return true;
}

bool ViewerWindow::SavePicture(const QString& file) {
    const auto path = platform::PathFromUtf8(file.toStdString());
    const Status s = SavePng(waves_->grab().toImage(), path);
    form_.PictureSaved(s, path);
    status_->setText(Q(form_.StatusText));
    return s.ok();
}

bool ViewerWindow::ExportVisible(const QString& format, const QString& folder) {
    if (!waves_->Model()) return false;
    const auto& v = waves_->View();
    const Status s = form_.ExportVisible(v.ShownRows(), v.Begin(), v.End(), format.toStdString(),
                                         platform::PathFromUtf8(folder.toStdString()));
    status_->setText(Q(form_.StatusText));
    return s.ok();
}

void ViewerWindow::dragEnterEvent(QDragEnterEvent* e) {
    if (e->mimeData()->hasUrls()) e->acceptProposedAction();
}

void ViewerWindow::dropEvent(QDropEvent* e) {
    const auto urls = e->mimeData()->urls();
    if (!urls.isEmpty() && urls.front().isLocalFile()) Open(urls.front().toLocalFile());
}

}  // namespace zqd::ui
