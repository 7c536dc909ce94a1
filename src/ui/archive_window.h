// The Qt face of 连续记录: lays out the controls, forwards clicks, edits and
// the status timer to the window's handlers, and shows its state.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include "archive/frm_archive.h"

namespace zqd::ui {

class ArchiveWindow : public QWidget {
    Q_OBJECT
public:
    explicit ArchiveWindow(archive::FrmArchive& form, QWidget* parent = nullptr);
    void Sync();

    QLineEdit* TxtFolder;
    QPushButton* CmdBrowse;
    QLineEdit* TxtNetwork;
    QLineEdit* TxtStation;
    QLineEdit* TxtLocation;
    QPushButton* CmdStart;
    QPushButton* CmdStop;
    QLabel* lblStatus;
    QPlainTextEdit* TxtLog;
    QTimer* TimerStatus;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    template <typename Handler>
    void Run(Handler handler);

    archive::FrmArchive& form_;
};

}  // namespace zqd::ui
