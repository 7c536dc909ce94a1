// 波形浏览: the waveform viewer window. Opens record files, miniSEED files
// and SDS archive folders (buttons, or dropped on it), shows them as rows of
// waveforms or as a helicorder of one channel (D switches; a click on a
// helicorder row shows its span as waveforms, D or Esc goes back), filtered
// when a filter is chosen (the filtered span made in the background, the
// unfiltered drawing shown until it is ready), with a spectrogram of the
// current row under the waveforms if wanted; exports the visible span of the
// shown channels or a picture of the view. A helicorder following the newest
// data of a folder or file that is being written reads it again every few
// seconds, so that its last row grows. 噪声 (N) shows the current row's PPSD
// over the span the waveforms showed, made in the background; the
// spectrogram's frequencies, axis and colours are chosen in the row under
// the tool bar that comes with it.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <future>
#include <optional>

#include "app/frm_viewer.h"
#include "app/noise.h"
#include "ui/helicorder_widget.h"
#include "ui/noise_widget.h"
#include "ui/spectrogram_widget.h"
#include "ui/waveform_widget.h"

namespace zqd::ui {

class ViewerWindow : public QWidget {
    Q_OBJECT
public:
    explicit ViewerWindow(config::StationConfig config, QWidget* parent = nullptr);
    ~ViewerWindow() override;
    // Opens `path`; false with the reason shown in the status line.
    bool Open(const QString& path);
    WaveformWidget* Waves() const { return waves_; }
    HelicorderWidget* Helicorder() const { return helicorder_; }
    SpectrogramWidget* Spectrogram() const { return spectrogram_; }
    NoiseWidget* NoiseView() const { return noise_; }
    QString StatusText() const { return status_->text(); }
    // Writes the view as a PNG; false with the reason in the status line.
    bool SavePicture(const QString& file);
    bool ExportVisible(const QString& format, const QString& folder);

    // The helicorder (of the current row), or the waveforms again.
    void ShowHelicorder(bool on);
    bool ShowingHelicorder() const { return showing_helicorder_; }
    // A helicorder of the newest data, read again as they grow.
    void FollowNewest();
    void ShowSpectrogram(bool on);
    // The spectrogram's frequencies ("全部频率", "0.5:20"), axis and colours
    // ("dB 自动", "固定当前", "-20:80"); false with the reason in the status line.
    bool ChooseSpectrogram(const QString& hz, bool log, const QString& db);
    // The current row's noise over the span shown (made in the background),
    // or the waveforms again.
    void ShowNoise(bool on);
    bool ShowingNoise() const { return showing_noise_; }
    // The filter by its text; false with the reason in the status line.
    bool ChooseFilter(const QString& text);
    // Waits for the filtered span being made and puts it in place (tests).
    void FinishBackgroundWork();
    // A helicorder following the newest data: what is open read again in
    // the background (a timer asks every five seconds).
    void ReadAgain();

protected:
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;

private:
    QHBoxLayout* MakeToolBar();  // the buttons and the filter
    QWidget* MakeSpectrogramBar();  // the spectrogram's frame, frequencies, axis and colours
    void ConnectViews();         // the views' signals and the background timers
    void ViewMoved();       // what the views need after a change: filter, spectrogram
    void PollBackground();  // a filtered span or a new reading, done
    void Installed();       // a model opened or read again, shown

    FrmViewer form_;
    WaveformWidget* waves_;
    HelicorderWidget* helicorder_;
    SpectrogramWidget* spectrogram_;
    NoiseWidget* noise_;
    QComboBox* filter_;
    QWidget* spectrogram_bar_;
    QComboBox* frame_;  // the spectrogram's frame length
    QComboBox* hz_;     // its frequencies
    QCheckBox* log_hz_;
    QComboBox* db_;     // its colours' range
    QPushButton* helicorder_button_;
    QPushButton* noise_button_;
    QLabel* status_;
    QTimer* poll_;
    QTimer* again_;
    bool showing_helicorder_ = false, came_from_helicorder_ = false, showing_noise_ = false;
    std::future<FilterMade> filtering_;
    std::optional<FilterJob> next_job_;  // asked for while another was made
    std::future<std::pair<Status, view::Opened>> reading_;
    std::future<Result<Noise>> noise_made_;
};

}  // namespace zqd::ui
