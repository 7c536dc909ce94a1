// 连续记录 on Win32: the archive folder and the station's codes, start and
// stop, the status line, SeedLink's check box and address, the StationXML
// button and the log.
#pragma once

#include "app/frm_archive.h"
#include "ui_win32/native_window.h"

namespace zqd::win32ui {

class ArchiveFrame : public NativeWindow {
public:
    explicit ArchiveFrame(FrmArchive& form);
    void Sync() override;

private:
    LRESULT Message(UINT msg, WPARAM wp, LPARAM lp) override;
    void Browse();
    void ChooseStationXml();

    FrmArchive& form_;
    HWND TxtFolder, TxtNetwork, TxtStation, TxtLocation, ChkSeedLink, TxtSeedLink, CmdStart, CmdStop, CmdStationXml,
        lblStatus, TxtLog, CmdBrowse;
    bool closing_ = false;
    bool Closing() const override { return closing_; }
};

}  // namespace zqd::win32ui
