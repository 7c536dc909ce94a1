// The Qt face of 连续记录: lays out the controls, forwards clicks, edits and
// the status timer to the window's handlers, and shows its state.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include "app/frm_archive.h"
#include "ui/waveform_widget.h"
#include "view/live_waves.h"

class QComboBox;
class QVBoxLayout;

namespace zqd::ui {

class ArchiveWindow : public QWidget {
    Q_OBJECT
public:
    // With `live`, the waveforms of the acquisition scroll below the log.
    explicit ArchiveWindow(FrmArchive& form, view::LiveWaves* live = nullptr, QWidget* parent = nullptr);
    void Sync();
    // The live waveforms' filter, causal, by its text; false with the reason in the log.
    bool ChooseLiveFilter(const QString& text);

    QLineEdit* TxtFolder;
    QPushButton* CmdBrowse;
    QLineEdit* TxtNetwork;
    QLineEdit* TxtStation;
    QLineEdit* TxtLocation;
    QCheckBox* ChkSeedLink;
    QLineEdit* TxtSeedLink;
    QPushButton* CmdStart;
    QPushButton* CmdStop;
    QPushButton* CmdStationXml;
    QPushButton* CmdHelicorder;
    QLabel* lblStatus;
    QPlainTextEdit* TxtLog;
    QTimer* TimerStatus;
    // The live view: its span (10 s, 1 min, 10 min), pausing its scroll.
    QComboBox* CboSpan = nullptr;
    QPushButton* CmdPause = nullptr;
    QComboBox* CboFilter = nullptr;
    WaveformWidget* Waves = nullptr;
    QTimer* TimerWaves = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QVBoxLayout* LayOutControls();
    void AddLiveView(QVBoxLayout* layout);
    void Connect();
    template <typename Handler>
    void Run(Handler handler);

    FrmArchive& form_;
    view::LiveWaves* live_;
};

}  // namespace zqd::ui
