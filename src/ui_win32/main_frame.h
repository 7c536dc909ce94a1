// FrmMain on Win32: the main window's controls at their twips positions,
// the drawing surface PicDraw drawn with GDI, the 1000 ms timer.
#pragma once

#include <array>

#include "app/frm_main.h"
#include "ui_win32/native_window.h"

namespace zqd::win32ui {

class MainFrame : public NativeWindow {
public:
    explicit MainFrame(FrmMain& form);
    ~MainFrame() override;
    void Sync() override;

private:
    bool Closing() const override { return form_.Unloaded; }
    LRESULT Message(UINT msg, WPARAM wp, LPARAM lp) override;

    FrmMain& form_;
    HWND TxtResult, lblBlock, lblptr, CmdStart, CmdExit, CmdOpen, CmdFind, TxtDispChnNo, CmdOutput, PicDraw;
    std::array<HWND, 3> TxtFormT{}, TxtToT{};
    unsigned drawn_ = ~0u;
};

// Draws `model` into `rect` of `dc`: the back colour, then the trace in its
// user coordinates (min/max columns where it has more points than pixels).
void PaintTrace(HDC dc, const RECT& rect, const PicDrawModel& model);

}  // namespace zqd::win32ui
