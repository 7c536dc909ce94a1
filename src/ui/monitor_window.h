// The Qt face of FrmMultiBuf, the live monitor window.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <array>

#include "app/frm_multibuf.h"

namespace zqd::ui {

class MonitorWindow : public QWidget {
    Q_OBJECT
public:
    explicit MonitorWindow(FrmMultiBuf& form, QWidget* parent = nullptr);

    void Sync();

    std::array<QLabel*, 4> lblAD;
    QLabel* lblBlock;
    QLabel* lblptr;
    QLabel* lblDI;
    QLabel* lblBit;
    QLabel* lblDI_0;
    QLabel* lblDI_1;
    QLineEdit* txtswChn;
    QLineEdit* txtSWO_0;
    QPushButton* cmdSWO;
    QPushButton* cmdStart;
    QPushButton* cmdStop;
    QPushButton* cmdExit;
    QTimer* TimerAD;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    template <typename Handler>
    void Run(Handler handler);

    FrmMultiBuf& form_;
    std::array<QLabel*, 13> label1_{};
};

}  // namespace zqd::ui
