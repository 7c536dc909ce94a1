#include "ui/main_window.h"

#include <QGroupBox>
#include <QScrollBar>

#include "ui/control_view.h"
#include "ui/twips.h"

namespace zqd::ui {


MainWindow::MainWindow(FrmMain& form, QWidget* parent) : QWidget(parent), form_(form) {
    setWindowTitle("ZQD4830_GPS");
    const double t = PixelsPerTwip(this);
    setFixedSize(TwipsRect(t, 0, 0, 10260, 6285).size());

    TxtResult = new QPlainTextEdit(this);
    TxtResult->setReadOnly(true);
    TxtResult->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    TxtResult->setGeometry(TwipsRect(t, 120, 120, 3495, 5895));

    auto* label4 = new QLabel(Q(form.Label4.Text), this);
    label4->setGeometry(TwipsRect(t, 3840, 240, 1170, 180));
    label4->adjustSize();
    lblBlock = new QLabel(this);
    lblBlock->move(TwipsRect(t, 5205, 240, 0, 0).topLeft());
    auto* label5 = new QLabel(Q(form.Label5.Text), this);
    label5->setGeometry(TwipsRect(t, 3840, 570, 990, 180));
    label5->adjustSize();
    lblptr = new QLabel(this);
    lblptr->move(TwipsRect(t, 5190, 600, 0, 0).topLeft());

    CmdStart = new QPushButton(this);
    CmdStart->setGeometry(TwipsRect(t, 4440, 960, 1215, 375));
    CmdExit = new QPushButton(this);
    CmdExit->setGeometry(TwipsRect(t, 4440, 1800, 1215, 375));
    CmdOpen = new QPushButton(this);
    CmdOpen->setGeometry(TwipsRect(t, 4440, 3000, 1215, 375));
    CmdFind = new QPushButton(this);
    CmdFind->setGeometry(TwipsRect(t, 4440, 3720, 1215, 375));
    TxtDispChnNo = new QLineEdit(this);
    TxtDispChnNo->setGeometry(TwipsRect(t, 5640, 3720, 375, 375));

    auto* frame1 = new QGroupBox(Q(form.Frame1.Text), this);
    frame1->setGeometry(TwipsRect(t, 4440, 4440, 4335, 1095));
    const int formLeft[3] = {240, 720, 1200};
    const int toLeft[3] = {2640, 3120, 3600};
    for (std::size_t i = 0; i < 3; ++i) {
        TxtFormT[i] = new QLineEdit(frame1);
        TxtFormT[i]->setGeometry(TwipsRect(t, formLeft[i], 360, 375, 375));
        TxtToT[i] = new QLineEdit(frame1);
        TxtToT[i]->setGeometry(TwipsRect(t, toLeft[i], 360, 375, 375));
    }

    PicDrawWidget = new PicDraw(form.PicDraw, this);
    PicDrawWidget->setGeometry(TwipsRect(t, 6120, 480, 3975, 3615));
    CmdOutput = new QPushButton(this);
    CmdOutput->setGeometry(TwipsRect(t, 9600, 4200, 495, 375));

    TimerAD = new QTimer(this);

    // Tab order of the controls that take the focus.
    QWidget* order[] = {CmdStart, CmdExit, TxtResult, CmdOpen, CmdFind, TxtFormT[0], TxtFormT[1],
                        TxtFormT[2], TxtToT[0], TxtToT[1], TxtToT[2], TxtDispChnNo, CmdOutput};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);

    connect(CmdStart, &QPushButton::clicked, this, [this] { Run([this] { form_.CmdStart_Click(); }); });
    connect(CmdExit, &QPushButton::clicked, this, [this] { Run([this] { form_.CmdExit_Click(); }); });
    connect(CmdOpen, &QPushButton::clicked, this, [this] { Run([this] { form_.CmdOpen_Click(); }); });
    connect(CmdFind, &QPushButton::clicked, this, [this] { Run([this] { form_.CmdFind_Click(); }); });
    connect(CmdOutput, &QPushButton::clicked, this, [this] { Run([this] { form_.CmdOutput_Click(); }); });
    connect(TimerAD, &QTimer::timeout, this, [this] { Run([this] { form_.TimerAD_Timer(); }); });
    BindEdit(TxtDispChnNo, form.TxtDispChnNo);
    for (std::size_t i = 0; i < 3; ++i) {
        BindEdit(TxtFormT[i], form.TxtFormT[i]);
        BindEdit(TxtToT[i], form.TxtToT[i]);
    }
    // The record is saved on its own thread: show the outcome when it is there.
    form_.SetSaveNotify([this] {
        QMetaObject::invokeMethod(this, [this] { Run([this] { form_.CheckSave(); }); }, Qt::QueuedConnection);
    });
    Sync();
}

MainWindow::~MainWindow() { form_.SetSaveNotify({}); }

template <typename Handler>
void MainWindow::Run(Handler handler) {
    handler();
    Sync();
    if (form_.Unloaded) close();
}

void MainWindow::Sync() {
    const QString log = Q(form_.TxtResult.Text);
    if (TxtResult->toPlainText() != log) {
        TxtResult->setPlainText(log);
        TxtResult->verticalScrollBar()->setValue(TxtResult->verticalScrollBar()->maximum());
    }
    ShowLabel(lblBlock, form_.lblBlock);
    ShowLabel(lblptr, form_.lblptr);
    ShowButton(CmdStart, form_.CmdStart);
    ShowButton(CmdExit, form_.CmdExit);
    ShowButton(CmdOpen, form_.CmdOpen);
    ShowButton(CmdFind, form_.CmdFind);
    ShowButton(CmdOutput, form_.CmdOutput);
    ShowEdit(TxtDispChnNo, form_.TxtDispChnNo);
    for (std::size_t i = 0; i < 3; ++i) {
        ShowEdit(TxtFormT[i], form_.TxtFormT[i]);
        ShowEdit(TxtToT[i], form_.TxtToT[i]);
    }
    PicDrawWidget->Sync();
    ShowTimer(TimerAD, form_.TimerAD);
}

}  // namespace zqd::ui
