#include "ui_win32/archive_frame.h"

#include <commdlg.h>
#include <shlobj.h>

#include "ui_win32/control_ids.h"

namespace zqd::win32ui {

// Positions in twips, on a grid of rows 420 twips apart.
ArchiveFrame::ArchiveFrame(FrmArchive& form) : NativeWindow(L"连续记录", 9600, 6300), form_(form) {
    Label(kArcLblFolder, form.lblFolder, 120, 165, 1200, 240, true);
    TxtFolder = Edit(kArcTxtFolder, form.TxtFolder, 1320, 120, 6600, 330);
    CmdBrowse = Button(kArcCmdBrowse, form.CmdBrowse, 8040, 105, 1400, 360, [this] { Browse(); });
    Label(kArcLblNetwork, form.lblNetwork, 120, 585, 700, 240, true);
    TxtNetwork = Edit(kArcTxtNetwork, form.TxtNetwork, 1320, 540, 900, 330);
    Label(kArcLblStation, form.lblStation, 2500, 585, 700, 240, true);
    TxtStation = Edit(kArcTxtStation, form.TxtStation, 3300, 540, 1300, 330);
    Label(kArcLblLocation, form.lblLocation, 4900, 585, 700, 240, true);
    TxtLocation = Edit(kArcTxtLocation, form.TxtLocation, 5700, 540, 700, 330);
    ChkSeedLink = Check(kArcChkSeedLink, form.ChkSeedLink, 120, 960, 4000, 330);
    TxtSeedLink = Edit(kArcTxtSeedLink, form.TxtSeedLink, 4200, 960, 2200, 330);
    CmdStart = Button(kArcCmdStart, form.CmdStart, 120, 1420, 1300, 400, [this] { form_.CmdStart_Click(); });
    CmdStop = Button(kArcCmdStop, form.CmdStop, 1560, 1420, 1300, 400, [this] { form_.CmdStop_Click(); });
    CmdStationXml = Button(kArcCmdStationXml, form.CmdStationXml, 5400, 1420, 4040, 400, [this] { ChooseStationXml(); });
    lblStatus = Label(kArcLblStatus, form.lblStatus, 120, 1960, 9320, 720, false);
    TxtLog = Log(kArcTxtLog, 120, 2760, 9320, 3420);
    TimerOf(kArcTimerStatus, form.TimerStatus, [this] { form_.TimerStatus_Timer(); });
    Sync();
}

void ArchiveFrame::Browse() {
    BROWSEINFOW bi{};
    bi.hwndOwner = hwnd_;
    bi.lpszTitle = L"存档文件夹";
    bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    if (PIDLIST_ABSOLUTE id = SHBrowseForFolderW(&bi)) {
        wchar_t path[MAX_PATH] = {};
        const bool ok = SHGetPathFromIDListW(id, path) != FALSE;
        CoTaskMemFree(id);
        if (ok) Run([&] { form_.FolderChosen(U8(path)); });
    }
}

void ArchiveFrame::ChooseStationXml() {
    std::wstring suggested = W(form_.StationXmlSuggested());
    std::wstring file(32768, L'\0');
    suggested.copy(file.data(), std::min<std::size_t>(suggested.size(), file.size() - 1));
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = hwnd_;
    ofn.lpstrFilter = L"StationXML (*.xml)\0*.xml\0\0";
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrTitle = L"台站元数据（StationXML）";
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
    ofn.lpstrDefExt = L"xml";
    if (GetSaveFileNameW(&ofn)) Run([&] { form_.StationXmlChosen(U8(file.c_str())); });
}

LRESULT ArchiveFrame::Message(UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_CLOSE) {
        // A running archive is stopped, everything made written, before the window goes.
        Run([this] {
            form_.Form_Unload();
            closing_ = true;
        });
        return 0;
    }
    return NativeWindow::Message(msg, wp, lp);
}

void ArchiveFrame::Sync() {
    if (!hwnd_) return;
    ShowEdit(TxtFolder, form_.TxtFolder);
    ShowButton(CmdBrowse, form_.CmdBrowse);
    ShowEdit(TxtNetwork, form_.TxtNetwork);
    ShowEdit(TxtStation, form_.TxtStation);
    ShowEdit(TxtLocation, form_.TxtLocation);
    ShowCheck(ChkSeedLink, form_.ChkSeedLink);
    ShowEdit(TxtSeedLink, form_.TxtSeedLink);
    ShowButton(CmdStart, form_.CmdStart);
    ShowButton(CmdStop, form_.CmdStop);
    ShowButton(CmdStationXml, form_.CmdStationXml);
    ShowLabel(lblStatus, form_.lblStatus, false);
    ShowLog(TxtLog, form_.TxtLog.Text);
    ShowTimers();
}

}  // namespace zqd::win32ui
