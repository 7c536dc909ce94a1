// The Qt face of FrmMain: lays out the controls, forwards clicks, edits and
// timer ticks to the handlers, and shows the window state after each.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <array>

#include "app/frm_main.h"
#include "ui/pic_draw.h"

class QGroupBox;

namespace zqd::ui {

class MainWindow : public QWidget {
    Q_OBJECT
public:
    explicit MainWindow(FrmMain& form, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Shows the form's state on the widgets.
    void Sync();

    // The widgets, named like the form's controls (for tests).
    QPlainTextEdit* TxtResult;
    QLabel* lblBlock;
    QLabel* lblptr;
    QPushButton* CmdStart;
    QPushButton* CmdExit;
    QPushButton* CmdOpen;
    QPushButton* CmdFind;
    QLineEdit* TxtDispChnNo;
    std::array<QLineEdit*, 3> TxtFormT;
    std::array<QLineEdit*, 3> TxtToT;
    QPushButton* CmdOutput;
    PicDraw* PicDrawWidget;
    QTimer* TimerAD;

private:
    template <typename Handler>
    void Run(Handler handler);

    FrmMain& form_;
};

}  // namespace zqd::ui
