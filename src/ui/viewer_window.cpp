#include "ui/viewer_window.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QMimeData>
#include <QSignalBlocker>
#include <QUrl>
#include <QVBoxLayout>

#include <cmath>

#include "app/messages.h"
#include "platform/text.h"
#include "ui/control_view.h"
#include "ui/plot.h"

namespace zqd::ui {

ViewerWindow::ViewerWindow(config::StationConfig config, QWidget* parent)
    : QWidget(parent), form_(std::move(config)) {
    setAcceptDrops(true);
    waves_ = new WaveformWidget(this);
    helicorder_ = new HelicorderWidget(this);
    helicorder_->hide();
    spectrogram_ = new SpectrogramWidget(this);
    spectrogram_->hide();
    noise_ = new NoiseWidget(this);
    noise_->hide();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(MakeToolBar());
    layout->addWidget(MakeSpectrogramBar());
    layout->addWidget(waves_, 3);
    layout->addWidget(helicorder_, 3);
    layout->addWidget(noise_, 3);
    layout->addWidget(spectrogram_, 1);
    status_ = new QLabel(Q(form_.StatusText), this);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(status_);
    resize(1100, 760);
    waves_->setFocus();
    ConnectViews();
}

QHBoxLayout* ViewerWindow::MakeToolBar() {
    auto* bar = new QHBoxLayout;
    auto button = [&](const char* text, const char* tip, auto&& slot) {
        auto* b = new QPushButton(QString::fromUtf8(text), this);
        b->setToolTip(QString::fromUtf8(tip));
        b->setFocusPolicy(Qt::NoFocus);  // the keys go to the waves
        connect(b, &QPushButton::clicked, this, slot);
        bar->addWidget(b);
        return b;
    };
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
    helicorder_button_ = button("日记录图", "当前行的日记录图（D）：每行 15、30 或 60 分钟（M），12 或 24 小时（T），"
                                            "PageUp/PageDown 前后一段，End 跟随最新；点一行看它的波形，D 或 Esc 返回",
                                [this] { ShowHelicorder(!ShowingHelicorder()); });
    button("频谱图", "在波形下显示当前行的频谱图（汉宁窗，重叠 50%）；它的窗长、频率范围、对数轴和色标在下面一行选",
           [this] { ShowSpectrogram(spectrogram_->isHidden()); });
    noise_button_ = button("噪声", "当前行在所示时段的噪声（N）：PPSD（McNamara 与 Buland 2004），设置了传感器时去仪器响应、"
                                   "画 Peterson 噪声模型；N 或 Esc 返回",
                           [this] { ShowNoise(!ShowingNoise()); });
    bar->addWidget(new QLabel(QString::fromUtf8("滤波："), this));
    filter_ = new QComboBox(this);
    filter_->setEditable(true);
    filter_->addItems({QString::fromUtf8("不滤波"), "hp:0.5", "bp:1:10", "bp:0.5:20", "lp:20", "demean"});
    filter_->setToolTip(QString::fromUtf8("巴特沃斯滤波：bp:低:高、hp:拐角、lp:拐角（赫兹，可再加 :阶数，2 到 8），或 demean；"
                                          "文件零相位（前后各滤一次）"));
    filter_->setFocusPolicy(Qt::ClickFocus);
    connect(filter_, QOverload<int>::of(&QComboBox::activated), this, [this](int i) { ChooseFilter(filter_->itemText(i)); });
    bar->addWidget(filter_);
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
    return bar;
}

QWidget* ViewerWindow::MakeSpectrogramBar() {
    spectrogram_bar_ = new QWidget(this);
    auto* bar = new QHBoxLayout(spectrogram_bar_);
    bar->setContentsMargins(0, 0, 0, 0);
    bar->addWidget(new QLabel(QString::fromUtf8("频谱图："), spectrogram_bar_));
    frame_ = new QComboBox(spectrogram_bar_);
    frame_->addItems({QString::fromUtf8("窗长自动"), "256", "1024", "4096", "16384"});
    frame_->setToolTip(QString::fromUtf8("频谱图每帧的样本数：自动时约每两个像素一帧"));
    connect(frame_, QOverload<int>::of(&QComboBox::activated), this, [this](int) { ViewMoved(); });
    bar->addWidget(frame_);
    hz_ = new QComboBox(spectrogram_bar_);
    hz_->setEditable(true);
    hz_->addItems({QString::fromUtf8("全部频率"), "0.5:20", "1:50", "0.1:10", "1:100"});
    hz_->setToolTip(QString::fromUtf8("显示的频率范围：低:高（赫兹），或全部频率（0 到奈奎斯特频率）"));
    log_hz_ = new QCheckBox(QString::fromUtf8("对数频率"), spectrogram_bar_);
    log_hz_->setToolTip(QString::fromUtf8("频率轴取对数：低频的事件不挤在底部"));
    db_ = new QComboBox(spectrogram_bar_);
    db_->setEditable(true);
    db_->addItems({QString::fromUtf8("dB 自动"), QString::fromUtf8("固定当前"), "-20:80", "0:100"});
    db_->setToolTip(QString::fromUtf8("色标范围（dB rel. 1 count²/Hz）：随画面，固定为现在的，或低:高；"
                                      "固定后两幅图的颜色可以比较"));
    const auto chosen = [this] { ChooseSpectrogram(hz_->currentText(), log_hz_->isChecked(), db_->currentText()); };
    connect(hz_, QOverload<int>::of(&QComboBox::activated), this, chosen);
    connect(db_, QOverload<int>::of(&QComboBox::activated), this, chosen);
    connect(log_hz_, &QCheckBox::toggled, this, chosen);
    bar->addWidget(new QLabel(QString::fromUtf8("频率："), spectrogram_bar_));
    bar->addWidget(hz_);
    bar->addWidget(log_hz_);
    bar->addWidget(new QLabel(QString::fromUtf8("色标："), spectrogram_bar_));
    bar->addWidget(db_);
    bar->addStretch(1);
    for (QWidget* w : {static_cast<QWidget*>(frame_), static_cast<QWidget*>(hz_), static_cast<QWidget*>(log_hz_),
                       static_cast<QWidget*>(db_)})
        w->setFocusPolicy(Qt::ClickFocus);
    spectrogram_bar_->hide();
    return spectrogram_bar_;
}

bool ViewerWindow::ChooseSpectrogram(const QString& hz, bool log, const QString& db) {
    const Status s = form_.SpectrogramChosen(hz.toStdString(), log, db.toStdString(), spectrogram_->DrawnDb());
    status_->setText(Q(form_.StatusText));
    if (!s.ok()) return false;
    // The controls say what was chosen, however it was.
    const QSignalBlocker a(hz_), b(log_hz_), c(db_);
    hz_->setCurrentText(hz);
    log_hz_->setChecked(log);
    const auto& scale = form_.SpectrogramScale();
    db_->setCurrentText(scale.fixed_db ? QString::number(std::round(scale.low_db)) + ":" + QString::number(std::round(scale.high_db))
                                       : QString::fromUtf8("dB 自动"));
    ViewMoved();
    return true;
}

void ViewerWindow::ConnectViews() {
    connect(waves_, &WaveformWidget::ViewChanged, this, [this] { ViewMoved(); });
    connect(helicorder_, &HelicorderWidget::ViewChanged, this, [this] { ViewMoved(); });
    connect(waves_, &WaveformWidget::HelicorderAsked, this, [this](bool escape) {
        if (!escape || came_from_helicorder_) ShowHelicorder(true);
    });
    connect(helicorder_, &HelicorderWidget::WavesAsked, this, [this] { ShowHelicorder(false); });
    connect(waves_, &WaveformWidget::NoiseAsked, this, [this] { ShowNoise(true); });
    connect(noise_, &NoiseWidget::WavesAsked, this, [this] { ShowNoise(false); });
    connect(helicorder_, &HelicorderWidget::RowChosen, this, [this](qint64 t0, qint64 t1) {
        waves_->View().SetSpan(t0, t1);
        waves_->View().current_row = helicorder_->View().channel;
        waves_->View().paused = true;
        ShowHelicorder(false);
        came_from_helicorder_ = true;
    });
    poll_ = new QTimer(this);
    connect(poll_, &QTimer::timeout, this, [this] { PollBackground(); });
    poll_->start(50);
    again_ = new QTimer(this);
    connect(again_, &QTimer::timeout, this, [this] { ReadAgain(); });
    again_->start(5000);
}

ViewerWindow::~ViewerWindow() {
    if (filtering_.valid()) filtering_.wait();
    if (reading_.valid()) reading_.wait();
    if (noise_made_.valid()) noise_made_.wait();
}

void ViewerWindow::ShowHelicorder(bool on) {
    if (on && ShowingNoise()) ShowNoise(false);
    showing_helicorder_ = on;
    came_from_helicorder_ = false;
    if (on) {
        helicorder_->View().channel = waves_->View().current_row;
        spectrogram_->hide();
        spectrogram_bar_->hide();
    }
    waves_->setVisible(!on);
    helicorder_->setVisible(on);
    helicorder_button_->setText(QString::fromUtf8(on ? "波形" : "日记录图"));
    (on ? static_cast<QWidget*>(helicorder_) : waves_)->setFocus();
    ViewMoved();
}

void ViewerWindow::FollowNewest() {
    helicorder_->View().start.reset();
    helicorder_->View().follow = true;
    ShowHelicorder(true);
}

void ViewerWindow::ShowSpectrogram(bool on) {
    if (on && ShowingHelicorder()) ShowHelicorder(false);
    if (on && ShowingNoise()) ShowNoise(false);
    spectrogram_->setVisible(on);
    spectrogram_bar_->setVisible(on);
    ViewMoved();
}

void ViewerWindow::ShowNoise(bool on) {
    if (on == showing_noise_) return;
    if (on && ShowingHelicorder()) ShowHelicorder(false);
    showing_noise_ = on;
    const auto model = waves_->Shared();
    if (on) {
        spectrogram_->hide();
        spectrogram_bar_->hide();
        if (!model || waves_->View().current_row >= model->ChannelCount()) {
            noise_->Say("没有数据");
        } else {
#ifdef ZQD_HAVE_SPECTROGRAM
            const int row = waves_->View().current_row;
            const std::int64_t t0 = waves_->View().Begin(), t1 = waves_->View().End();
            const double segment = NoiseSegmentSeconds(t1 - t0);
            noise_->Say(model->At(row).name + " 的噪声计算中…");
            if (noise_made_.valid()) noise_made_.wait();  // one at a time
            noise_made_ = std::async(std::launch::async, [model, row, t0, t1, segment, config = form_.Config()] {
                return MakeNoise(*model, row, t0, t1, config, segment);
            });
#else
            noise_->Say("本程序构建时没有 FFTW3，不能算噪声");
#endif
        }
    }
    waves_->setVisible(!on);
    noise_->setVisible(on);
    noise_button_->setText(QString::fromUtf8(on ? "波形" : "噪声"));
    (on ? static_cast<QWidget*>(noise_) : waves_)->setFocus();
    if (!on) ViewMoved();
}

bool ViewerWindow::ChooseFilter(const QString& text) {
    const Status s = form_.FilterChosen(text.toStdString());
    status_->setText(Q(form_.StatusText));
    if (s.ok()) ViewMoved();
    return s.ok();
}

void ViewerWindow::ViewMoved() {
    const auto model = waves_->Shared();
    if (!model) return;
    // The rows and span drawn, and the filtered copy of them if it is made.
    std::vector<bool> shown(static_cast<std::size_t>(model->ChannelCount()), false);
    std::int64_t t0 = 0, t1 = 0;
    if (ShowingHelicorder()) {
        const auto l = helicorder_->Layout();
        if (helicorder_->View().channel < model->ChannelCount()) shown[static_cast<std::size_t>(helicorder_->View().channel)] = true;
        t0 = l.start_ns;
        t1 = l.end_ns;
    } else {
        for (int r : waves_->View().ShownRows())
            if (r < model->ChannelCount()) shown[static_cast<std::size_t>(r)] = true;
        t0 = waves_->View().Begin();
        t1 = waves_->View().End();
    }
    const auto filtered = form_.Filtered(shown, t0, t1);
    waves_->SetDrawn(ShowingHelicorder() ? nullptr : filtered);
    helicorder_->SetDrawn(ShowingHelicorder() ? filtered : nullptr);
    const std::string note = form_.FilterNote(filtered != nullptr);
    waves_->View().note = note;
    helicorder_->SetTitle(HelicorderTitle(*model, helicorder_->View(), note));
    if (!filtered) {
        if (auto job = form_.FilterNeeded(shown, t0, t1)) {
            if (filtering_.valid())
                next_job_ = std::move(job);  // after the one being made
            else
                filtering_ = std::async(std::launch::async, RunFilterJob, std::move(*job));
        }
    }
    if (!spectrogram_->isHidden())
        spectrogram_->Show(filtered ? filtered : model, waves_->View().current_row, waves_->View().Begin(),
                           waves_->View().End(), frame_->currentIndex() == 0 ? 0 : frame_->currentText().toInt(),
                           form_.SpectrogramScale());
    waves_->update();
}

void ViewerWindow::PollBackground() {
    if (filtering_.valid() && filtering_.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
        form_.FilterDone(filtering_.get());
        status_->setText(Q(form_.StatusText));
        next_job_.reset();  // what is needed now is asked again
        ViewMoved();
    }
    if (reading_.valid() && reading_.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
        auto [s, opened] = reading_.get();
        form_.Reopened(s, std::move(opened));
        if (s.ok()) Installed();
        status_->setText(Q(form_.StatusText));
    }
    if (noise_made_.valid() && noise_made_.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
        auto made = noise_made_.get();
        if (made) {
            status_->setText(Q(NoiseSaid(*made)));
            noise_->SetNoise(std::make_shared<const Noise>(std::move(*made)));
        } else {
            noise_->Say(app::Text(made.status()));
            status_->setText(Q(app::Text(made.status())));
        }
    }
}

void ViewerWindow::FinishBackgroundWork() {
    for (int i = 0; i < 100 && (filtering_.valid() || reading_.valid() || noise_made_.valid()); ++i) {
        if (filtering_.valid()) filtering_.wait();
        if (reading_.valid()) reading_.wait();
        if (noise_made_.valid()) noise_made_.wait();
        PollBackground();
    }
}

void ViewerWindow::ReadAgain() {
    // Only a helicorder following the newest data is kept up to date.
    if (reading_.valid() || !ShowingHelicorder() || !helicorder_->View().follow || helicorder_->View().start) return;
    if (auto read = form_.ReadAgain()) reading_ = std::async(std::launch::async, std::move(read));
}

void ViewerWindow::Installed() {
    waves_->SetModel(form_.Model(), false);
    helicorder_->SetModel(form_.Model());
    ViewMoved();
}

bool ViewerWindow::Open(const QString& path) {
    const Status s = form_.Open(platform::PathFromUtf8(path.toStdString()));
    status_->setText(Q(form_.StatusText));
    if (!s.ok()) return false;  // the view keeps what it showed
    waves_->SetModel(form_.Model());
    helicorder_->SetModel(form_.Model());
    // The current row: the first of those sampled fastest (the data, not
    // the state-of-health channels an archive lists first).
    const auto& m = *form_.Model();
    double fastest = 0;
    for (int c = 0; c < m.ChannelCount(); ++c)
        if (!m.At(c).stretches.empty() && m.At(c).stretches.front().rate > fastest) {
            fastest = m.At(c).stretches.front().rate;
            waves_->View().current_row = c;
        }
    // The data channels; the health channels on request (显示全部通道, A).
    if (const auto rows = SelectRows(m, {}); rows.ok()) {
        int hidden = 0;
        for (int c = 0; c < m.ChannelCount(); ++c) {
            waves_->View().SetHidden(c, !(*rows)[static_cast<std::size_t>(c)]);
            hidden += !(*rows)[static_cast<std::size_t>(c)];
        }
        if (hidden > 0)
            status_->setText(Q(form_.StatusText + "；" + std::to_string(hidden) + " 个状态通道未显示（A 显示全部通道）"));
    }
    setWindowTitle(Q(form_.Title));
    ViewMoved();
    return true;
}

bool ViewerWindow::SavePicture(const QString& file) {
    const auto path = platform::PathFromUtf8(file.toStdString());
    QWidget* shown = ShowingHelicorder() ? static_cast<QWidget*>(helicorder_) : ShowingNoise() ? static_cast<QWidget*>(noise_) : waves_;
    const Status s = ui::SavePicture(shown->grab().toImage(), path);
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
