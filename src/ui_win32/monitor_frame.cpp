#include "ui_win32/monitor_frame.h"

#include "ui_win32/control_ids.h"

namespace zqd::win32ui {

MonitorFrame::MonitorFrame(FrmMultiBuf& form)
    : NativeWindow(L"多缓冲区采集方式", 5955, 5940, 2565, 2385), form_(form) {
    // Created in the tab order of the controls that take the focus, the rest after.
    const Origin frame1{30, 3990}, frame2{60, 2496};
    Button(kMonCmdExit, form.cmdExit, 4320, 1470, 936, 444, [this] { form_.cmdExit_Click(); });
    Button(kMonCmdStart, form.cmdStart, 4230, 390, 936, 444, [this] { form_.cmdStart_Click(); });
    Button(kMonCmdSWO, form.cmdSWO, 3240, 660, 768, 336, [this] { form_.cmdSWO_Click(); }, frame1);
    txtSWO_0 = Edit(kMonTxtSWO0, form.txtSWO_0, 2064, 912, 516, 288, frame1);
    Button(kMonCmdStop, form.cmdStop, 4260, 900, 936, 444, [this] { form_.cmdStop_Click(); });
    txtswChn = Edit(kMonTxtswChn, form.txtswChn, 2040, 504, 516, 300, frame1);

    const int chLeft[4] = {384, 384, 360, 336}, chTop[4] = {192, 456, 744, 1032};
    const int adLeft[4] = {1248, 1224, 1248, 1248}, adTop[4] = {168, 480, 792, 1056};
    for (int k = 0; k < 4; ++k) {
        const auto i = static_cast<std::size_t>(k);
        Label(kMonLabel1 + k, form.Label1[i], chLeft[k], chTop[k], 552, 180, true);
        lblAD[i] = Label(kMonLblAD0 + k, form.lblAD[i], adLeft[k], adTop[k], 576, 180, false);
        // Of fixed size: the text's middle stays in sight when the font is taller than the label.
        SetWindowLongPtrW(lblAD[i], GWL_STYLE, GetWindowLongPtrW(lblAD[i], GWL_STYLE) | SS_CENTERIMAGE);
    }
    Label(kMonLabel4, form.Label4, 72, 1416, 1176, 180, true);
    lblBlock = Label(kMonLblBlock, form.lblBlock, 1440, 1416, 576, 180, true);
    Label(kMonLabel5, form.Label5, 144, 1752, 996, 180, true);
    lblptr = Label(kMonLblptr, form.lblptr, 1416, 1776, 576, 180, true);
    Label(kMonLabel1 + 12, form.Label1[12], 312, 2184, 288, 180, true);
    lblDI = Label(kMonLblDI, form.lblDI, 864, 2184, 192, 180, true);

    Label(kMonLabel1 + 4, form.Label1[4], 168, 336, 180, 192, true, frame2);
    lblBit = Label(kMonLblBit, form.lblBit, 1152, 336, 180, 192, true, frame2);
    Label(kMonLabel1 + 6, form.Label1[6], 168, 696, 948, 192, true, frame2);
    lblDI_0 = Label(kMonLblDI0, form.lblDI_0, 1152, 696, 240, 192, true, frame2);
    Label(kMonLabel1 + 7, form.Label1[7], 144, 1056, 948, 192, true, frame2);
    lblDI_1 = Label(kMonLblDI1, form.lblDI_1, 1176, 1056, 240, 192, true, frame2);
    Group(kMonFrame2, form.Frame2, 60, 2496, 5640, 1452);

    Label(kMonLabel1 + 5, form.Label1[5], 144, 264, 1296, 192, true, frame1);
    Label(kMonLabel1 + 9, form.Label1[9], 192, 576, 1548, 180, true, frame1);
    Label(kMonLabel1 + 8, form.Label1[8], 48, 984, 1740, 180, true, frame1);
    Group(kMonFrame1, form.Frame1, 30, 3990, 5610, 1548);

    TimerOf(kMonTimerAD, form.TimerAD, [this] { form_.TimerAD_Timer(); });
    Sync();
}

long MonitorFrame::BackColour(int id) const {
    if (id >= kMonLblAD0 && id < kMonLblAD0 + 4) return RGB(255, 192, 128);
    return -1;
}

LRESULT MonitorFrame::Message(UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_CLOSE) {
        // Closing by the frame stops the card too.
        Run([this] {
            if (!form_.Unloaded) form_.Form_Unload();
            form_.Unloaded = true;
        });
        return 0;
    }
    return NativeWindow::Message(msg, wp, lp);
}

void MonitorFrame::Sync() {
    if (!hwnd_) return;
    const std::wstring title = W(form_.Caption.Text);
    wchar_t now[512] = {};
    GetWindowTextW(hwnd_, now, 512);
    if (title != now) SetWindowTextW(hwnd_, title.c_str());
    for (std::size_t k = 0; k < 4; ++k) ShowLabel(lblAD[k], form_.lblAD[k], false);  // fixed size
    ShowLabel(lblBlock, form_.lblBlock);
    ShowLabel(lblptr, form_.lblptr);
    ShowLabel(lblDI, form_.lblDI);
    ShowLabel(lblBit, form_.lblBit);
    ShowLabel(lblDI_0, form_.lblDI_0);
    ShowLabel(lblDI_1, form_.lblDI_1);
    ShowEdit(txtswChn, form_.txtswChn);
    ShowEdit(txtSWO_0, form_.txtSWO_0);
    ShowTimers();
}

}  // namespace zqd::win32ui
