#include "ui/viewer_window.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QMimeData>
#include <QUrl>
#include <QVBoxLayout>

#include "common/platform.h"
#include "ui/plot.h"

namespace zqd::ui {

ViewerWindow::ViewerWindow(archive::ArchiveConfig config, QWidget* parent)
    : QWidget(parent), config_(std::move(config)) {
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
    status_ = new QLabel(QString::fromUtf8("打开 T1.DAT、miniSEED 文件或 SDS 文件夹（也可拖放到这里）"), this);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(status_);
    resize(1100, 760);
    waves_->setFocus();
}

bool ViewerWindow::Open(const QString& path) {
    archive::Opened opened;
    const Status s = archive::OpenForView(platform::PathFromUtf8(path.toStdString()), config_, std::nullopt, std::nullopt, opened);
    if (!s.ok()) {
        status_->setText(QString::fromStdString(s.detail));  // the view keeps what it showed
        return false;
    }
    waves_->SetModel(opened.model);
    std::string text = opened.what;
    for (const auto& n : opened.notes) text += "；" + n;
    status_->setText(QString::fromStdString(text));
    setWindowTitle(QString::fromUtf8("波形浏览 — ") + path);
    return true;
}

bool ViewerWindow::SavePicture(const QString& file) {
    const Status s = SavePng(waves_->grab().toImage(), platform::PathFromUtf8(file.toStdString()));
    if (!s.ok()) {
        status_->setText(QString::fromStdString(s.detail));
        return false;
    }
    status_->setText(QString::fromUtf8("图片已存为 ") + file);
    return true;
}

bool ViewerWindow::ExportVisible(const QString& format, const QString& folder) {
    if (!waves_->Model()) return false;
    int files = 0;
    const auto& v = waves_->View();
    const Status s = archive::ExportSpan(*waves_->Model(), v.ShownRows(), v.Begin(), v.End(), format.toStdString(), config_,
                                         platform::PathFromUtf8(folder.toStdString()), files);
    status_->setText(s.ok() ? QString::fromUtf8("已导出 %1 个文件到 ").arg(files) + folder : QString::fromStdString(s.detail));
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
