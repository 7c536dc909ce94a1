#include "ui/archive_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

#include "ui/control_view.h"
#include "app/frm_viewer.h"
#include "ui/viewer_window.h"

namespace zqd::ui {

ArchiveWindow::ArchiveWindow(FrmArchive& form, view::LiveWaves* live, QWidget* parent)
    : QWidget(parent), form_(form), live_(live) {
    setWindowTitle("连续记录");
    auto* layout = LayOutControls();
    if (live_) AddLiveView(layout);
    Connect();
    Sync();
}

QVBoxLayout* ArchiveWindow::LayOutControls() {
    auto* grid = new QGridLayout;
    TxtFolder = new QLineEdit(this);
    CmdBrowse = new QPushButton(Q(form_.CmdBrowse.Text), this);
    grid->addWidget(new QLabel(Q(form_.lblFolder.Text), this), 0, 0);
    grid->addWidget(TxtFolder, 0, 1, 1, 5);
    grid->addWidget(CmdBrowse, 0, 6);
    TxtNetwork = new QLineEdit(this);
    TxtStation = new QLineEdit(this);
    TxtLocation = new QLineEdit(this);
    grid->addWidget(new QLabel(Q(form_.lblNetwork.Text), this), 1, 0);
    grid->addWidget(TxtNetwork, 1, 1);
    grid->addWidget(new QLabel(Q(form_.lblStation.Text), this), 1, 2);
    grid->addWidget(TxtStation, 1, 3);
    grid->addWidget(new QLabel(Q(form_.lblLocation.Text), this), 1, 4);
    grid->addWidget(TxtLocation, 1, 5);
    ChkSeedLink = new QCheckBox(this);
    TxtSeedLink = new QLineEdit(this);
    TxtSeedLink->setPlaceholderText("[地址:]端口");
    grid->addWidget(ChkSeedLink, 2, 0, 1, 3);
    grid->addWidget(TxtSeedLink, 2, 3, 1, 3);

    CmdStart = new QPushButton(this);
    CmdStop = new QPushButton(this);
    CmdStationXml = new QPushButton(this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(CmdStart);
    buttons->addWidget(CmdStop);
    buttons->addStretch();
    buttons->addWidget(CmdStationXml);
    CmdHelicorder = new QPushButton(this);
    buttons->addWidget(CmdHelicorder);

    lblStatus = new QLabel(this);
    lblStatus->setWordWrap(true);
    TxtLog = new QPlainTextEdit(this);
    TxtLog->setReadOnly(true);
    TimerStatus = new QTimer(this);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);
    layout->addWidget(lblStatus);
    layout->addWidget(TxtLog, 1);
    resize(640, 420);
    return layout;
}

void ArchiveWindow::AddLiveView(QVBoxLayout* layout) {
    auto* bar = new QHBoxLayout;
    CboSpan = new QComboBox(this);
    CboSpan->addItems({"10 秒", "1 分钟", "10 分钟"});
    CmdPause = new QPushButton("暂停滚动", this);
    bar->addWidget(new QLabel("波形：", this));
    bar->addWidget(CboSpan);
    bar->addWidget(CmdPause);
    bar->addWidget(new QLabel("滤波：", this));
    CboFilter = new QComboBox(this);
    CboFilter->setEditable(true);
    CboFilter->addItems({"不滤波", "hp:0.5", "bp:1:10", "bp:0.5:20", "lp:20", "demean"});
    CboFilter->setToolTip("实时数据用因果滤波（只用已到的样本）：bp:低:高、hp:拐角、lp:拐角（赫兹，可再加 :阶数），或 demean");
    bar->addWidget(CboFilter);
    bar->addStretch();
    Waves = new WaveformWidget(this);
    Waves->SetModel(live_->Model(), false);
    layout->setStretch(layout->indexOf(TxtLog), 0);
    TxtLog->setMaximumHeight(120);
    layout->addLayout(bar);
    layout->addWidget(Waves, 1);
    resize(1000, 860);
    auto span_chosen = [this](int i) {
        static const double seconds[] = {10, 60, 600};
        Waves->View().live_seconds = seconds[std::clamp(i, 0, 2)];
        Waves->View().paused = false;
        Waves->DataChanged();
    };
    connect(CboSpan, QOverload<int>::of(&QComboBox::currentIndexChanged), this, span_chosen);
    connect(CmdPause, &QPushButton::clicked, this, [this] { Waves->TogglePause(); });
    connect(CboFilter, QOverload<int>::of(&QComboBox::activated), this,
            [this](int i) { ChooseLiveFilter(CboFilter->itemText(i)); });
    connect(Waves, &WaveformWidget::ViewChanged, this,
            [this] { CmdPause->setText(Waves->View().paused ? "继续滚动" : "暂停滚动"); });
    TimerWaves = new QTimer(this);
    connect(TimerWaves, &QTimer::timeout, this, [this] {
        const auto& v = Waves->View();
        // Ten minutes are kept, and whatever a paused view shows.
        if (live_->Tick(std::max(600.0, v.live_seconds) + 60,
                        v.paused ? std::optional<std::int64_t>(v.Begin()) : std::nullopt))
            Waves->DataChanged();
    });
    TimerWaves->start(200);
}

void ArchiveWindow::Connect() {
    BindEdit(TxtFolder, form_.TxtFolder);
    BindEdit(TxtNetwork, form_.TxtNetwork);
    BindEdit(TxtStation, form_.TxtStation);
    BindEdit(TxtLocation, form_.TxtLocation);
    BindCheck(ChkSeedLink, form_.ChkSeedLink);
    BindEdit(TxtSeedLink, form_.TxtSeedLink);
    connect(CmdBrowse, &QPushButton::clicked, this, [this] {
        const QString dir = QFileDialog::getExistingDirectory(this, "存档文件夹", TxtFolder->text());
        if (!dir.isEmpty()) Run([&] { form_.FolderChosen(dir.toUtf8().toStdString()); });
    });
    connect(CmdStart, &QPushButton::clicked, this, [this] { Run([this] { form_.CmdStart_Click(); }); });
    connect(CmdStationXml, &QPushButton::clicked, this, [this] {
        const QString file = QFileDialog::getSaveFileName(this, "台站元数据（StationXML）", Q(form_.StationXmlSuggested()),
                                                          "StationXML (*.xml)");
        if (!file.isEmpty()) Run([&] { form_.StationXmlChosen(file.toUtf8().toStdString()); });
    });
    connect(CmdHelicorder, &QPushButton::clicked, this, [this] {
        // A viewer of its own, reading the archive again as it grows.
        auto* viewer = new ViewerWindow(form_.Config());
        viewer->setAttribute(Qt::WA_DeleteOnClose);
        viewer->Open(QString::fromStdString(form_.HelicorderFolder()));
        viewer->FollowNewest();
        viewer->show();
    });
    connect(CmdStop, &QPushButton::clicked, this, [this] { Run([this] { form_.CmdStop_Click(); }); });
    connect(TimerStatus, &QTimer::timeout, this, [this] { Run([this] { form_.TimerStatus_Timer(); }); });
}

bool ArchiveWindow::ChooseLiveFilter(const QString& text) {
    if (!live_) return false;
    const auto spec = FilterFromText(text.toStdString());
    const Status s = spec ? live_->SetFilter(*spec, form_.Config().card.SampleFrq) : spec.status();
    const signal::FilterSpec now = s.ok() ? *spec : signal::FilterSpec{};
    if (s.ok()) {
        Waves->SetDrawn(live_->Filtered());
        Waves->View().note = LiveFilterNote(now);
        Waves->update();
    }
    Run([&] { form_.LiveFilterChosen(s, LiveFilterNote(now)); });
    return s.ok();
}

template <typename Handler>
void ArchiveWindow::Run(Handler handler) {
    handler();
    Sync();
}

void ArchiveWindow::Sync() {
    ShowEdit(TxtFolder, form_.TxtFolder);
    ShowEdit(TxtNetwork, form_.TxtNetwork);
    ShowEdit(TxtStation, form_.TxtStation);
    ShowEdit(TxtLocation, form_.TxtLocation);
    ShowCheck(ChkSeedLink, form_.ChkSeedLink);
    ShowEdit(TxtSeedLink, form_.TxtSeedLink);
    ShowButton(CmdStart, form_.CmdStart);
    ShowButton(CmdStop, form_.CmdStop);
    ShowButton(CmdStationXml, form_.CmdStationXml);
    ShowButton(CmdHelicorder, form_.CmdHelicorder);
    ShowLabel(lblStatus, form_.lblStatus, false);
    const QString log = Q(form_.TxtLog.Text);
    if (TxtLog->toPlainText() != log) {
        TxtLog->setPlainText(log);
        TxtLog->verticalScrollBar()->setValue(TxtLog->verticalScrollBar()->maximum());
    }
    ShowTimer(TimerStatus, form_.TimerStatus);
}

void ArchiveWindow::closeEvent(QCloseEvent* event) {
    form_.Form_Unload();  // stops and writes everything before the window goes
    event->accept();
}

}  // namespace zqd::ui
