#include "ui/monitor_window.h"

#include <QCloseEvent>
#include <QGroupBox>

#include "ui/control_view.h"
#include "ui/twips.h"

namespace zqd::ui {


MonitorWindow::MonitorWindow(FrmMultiBuf& form, QWidget* parent) : QWidget(parent), form_(form) {
    setWindowTitle("多缓冲区采集方式");
    const double t = PixelsPerTwip(this);
    setFixedSize(TwipsRect(t, 0, 0, 5955, 5940).size());
    move(TwipsRect(t, 2565, 2385, 0, 0).topLeft());

    auto growing = [&](QWidget* parent_, const Control& c, int l, int top, int w, int h) {
        auto* label = new QLabel(Q(c.Text), parent_);
        label->setGeometry(TwipsRect(t, l, top, w, h));
        label->adjustSize();
        return label;
    };

    const int chLeft[4] = {384, 384, 360, 336}, chTop[4] = {192, 456, 744, 1032};
    const int adLeft[4] = {1248, 1224, 1248, 1248}, adTop[4] = {168, 480, 792, 1056};
    for (std::size_t k = 0; k < 4; ++k) {
        label1_[k] = growing(this, form.Label1[k], chLeft[k], chTop[k], 552, 180);
        lblAD[k] = new QLabel(Q(form.lblAD[k].Text), this);
        lblAD[k]->setGeometry(TwipsRect(t, adLeft[k], adTop[k], 576, 180));
        lblAD[k]->setAutoFillBackground(true);
        QPalette p = lblAD[k]->palette();
        p.setColor(QPalette::Window, QColor(255, 192, 128));
        lblAD[k]->setPalette(p);
    }
    growing(this, form.Label4, 72, 1416, 1176, 180);
    lblBlock = growing(this, form.lblBlock, 1440, 1416, 576, 180);
    growing(this, form.Label5, 144, 1752, 996, 180);
    lblptr = growing(this, form.lblptr, 1416, 1776, 576, 180);
    label1_[12] = growing(this, form.Label1[12], 312, 2184, 288, 180);
    lblDI = growing(this, form.lblDI, 864, 2184, 192, 180);

    auto* frame2 = new QGroupBox(Q(form.Frame2.Text), this);
    frame2->setGeometry(TwipsRect(t, 60, 2496, 5640, 1452));
    label1_[4] = growing(frame2, form.Label1[4], 168, 336, 180, 192);
    lblBit = growing(frame2, form.lblBit, 1152, 336, 180, 192);
    label1_[6] = growing(frame2, form.Label1[6], 168, 696, 948, 192);
    lblDI_0 = growing(frame2, form.lblDI_0, 1152, 696, 240, 192);
    label1_[7] = growing(frame2, form.Label1[7], 144, 1056, 948, 192);
    lblDI_1 = growing(frame2, form.lblDI_1, 1176, 1056, 240, 192);

    auto* frame1 = new QGroupBox(Q(form.Frame1.Text), this);
    frame1->setGeometry(TwipsRect(t, 30, 3990, 5610, 1548));
    label1_[5] = growing(frame1, form.Label1[5], 144, 264, 1296, 192);
    label1_[9] = growing(frame1, form.Label1[9], 192, 576, 1548, 180);
    txtswChn = new QLineEdit(Q(form.txtswChn.Text), frame1);
    txtswChn->setGeometry(TwipsRect(t, 2040, 504, 516, 300));
    label1_[8] = growing(frame1, form.Label1[8], 48, 984, 1740, 180);
    txtSWO_0 = new QLineEdit(Q(form.txtSWO_0.Text), frame1);
    txtSWO_0->setGeometry(TwipsRect(t, 2064, 912, 516, 288));
    cmdSWO = new QPushButton(Q(form.cmdSWO.Text), frame1);
    cmdSWO->setGeometry(TwipsRect(t, 3240, 660, 768, 336));

    cmdStart = new QPushButton(Q(form.cmdStart.Text), this);
    cmdStart->setGeometry(TwipsRect(t, 4230, 390, 936, 444));
    cmdStop = new QPushButton(Q(form.cmdStop.Text), this);
    cmdStop->setGeometry(TwipsRect(t, 4260, 900, 936, 444));
    cmdExit = new QPushButton(Q(form.cmdExit.Text), this);
    cmdExit->setGeometry(TwipsRect(t, 4320, 1470, 936, 444));

    TimerAD = new QTimer(this);

    QWidget* order[] = {cmdExit, cmdStart, cmdSWO, txtSWO_0, cmdStop, txtswChn};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);

    connect(cmdStart, &QPushButton::clicked, this, [this] { Run([this] { form_.cmdStart_Click(); }); });
    connect(cmdStop, &QPushButton::clicked, this, [this] { Run([this] { form_.cmdStop_Click(); }); });
    connect(cmdExit, &QPushButton::clicked, this, [this] { Run([this] { form_.cmdExit_Click(); }); });
    connect(cmdSWO, &QPushButton::clicked, this, [this] { Run([this] { form_.cmdSWO_Click(); }); });
    connect(TimerAD, &QTimer::timeout, this, [this] { Run([this] { form_.TimerAD_Timer(); }); });
    BindEdit(txtswChn, form.txtswChn);
    BindEdit(txtSWO_0, form.txtSWO_0);
    Sync();
}

template <typename Handler>
void MonitorWindow::Run(Handler handler) {
    handler();
    Sync();
    if (form_.Unloaded) close();
}

void MonitorWindow::closeEvent(QCloseEvent* event) {
    if (!form_.Unloaded) form_.Form_Unload();  // closing by the frame stops the card too
    Sync();
    event->accept();
}

void MonitorWindow::Sync() {
    if (windowTitle() != Q(form_.Caption.Text)) setWindowTitle(Q(form_.Caption.Text));
    for (std::size_t k = 0; k < 4; ++k) ShowLabel(lblAD[k], form_.lblAD[k], false);  // fixed size
    ShowLabel(lblBlock, form_.lblBlock);
    ShowLabel(lblptr, form_.lblptr);
    ShowLabel(lblDI, form_.lblDI);
    ShowLabel(lblBit, form_.lblBit);
    ShowLabel(lblDI_0, form_.lblDI_0);
    ShowLabel(lblDI_1, form_.lblDI_1);
    ShowEdit(txtswChn, form_.txtswChn);
    ShowEdit(txtSWO_0, form_.txtSWO_0);
    ShowTimer(TimerAD, form_.TimerAD);
}

}  // namespace zqd::ui
