// FrmMultiBuf on Win32: the monitor's controls at their twips positions,
// the four lblAD with their back colour and fixed size, the 100 ms timer.
#pragma once

#include <array>

#include "app/frm_multibuf.h"
#include "ui_win32/native_window.h"

namespace zqd::win32ui {

class MonitorFrame : public NativeWindow {
public:
    explicit MonitorFrame(FrmMultiBuf& form);
    void Sync() override;

private:
    bool Closing() const override { return form_.Unloaded; }
    LRESULT Message(UINT msg, WPARAM wp, LPARAM lp) override;
    long BackColour(int id) const override;

    FrmMultiBuf& form_;
    std::array<HWND, 4> lblAD{};
    HWND lblBlock, lblptr, lblDI, lblBit, lblDI_0, lblDI_1, txtswChn, txtSWO_0;
};

}  // namespace zqd::win32ui
