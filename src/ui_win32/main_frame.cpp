#include "ui_win32/main_frame.h"

#include <vector>

#include "ui_win32/control_ids.h"

namespace zqd::win32ui {

namespace {

constexpr UINT kSaved = WM_APP + 1;  // the record sink has finished a save
const wchar_t kPicClass[] = L"ZQD4830_GPS.PicDraw";

LRESULT CALLBACK PicProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        RECT r;
        GetClientRect(hwnd, &r);
        if (auto* model = reinterpret_cast<const PicDrawModel*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)))
            PaintTrace(dc, r, *model);
        EndPaint(hwnd, &ps);
        return 0;
    }
    if (msg == WM_ERASEBKGND) return 1;  // painted whole in WM_PAINT
    return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

void PaintTrace(HDC dc, const RECT& rect, const PicDrawModel& model) {
    // Back colour: the menu-text system colour.
    HBRUSH back = CreateSolidBrush(GetSysColor(COLOR_MENUTEXT));
    FillRect(dc, &rect, back);
    DeleteObject(back);
    const auto line = TraceLine(model, rect.right - rect.left, rect.bottom - rect.top);
    if (line.empty()) return;
    std::vector<POINT> points;
    points.reserve(line.size());
    for (const TracePoint& p : line)
        points.push_back({rect.left + static_cast<int>(p.x), rect.top + static_cast<int>(p.y)});
    HPEN pen = CreatePen(PS_SOLID, 1, static_cast<COLORREF>(model.Color));
    HGDIOBJ old = SelectObject(dc, pen);
    Polyline(dc, points.data(), static_cast<int>(points.size()));
    SelectObject(dc, old);
    DeleteObject(pen);
}

MainFrame::MainFrame(FrmMain& form) : NativeWindow(L"ZQD4830_GPS", 10260, 6285), form_(form) {
    static bool registered = false;
    if (!registered) {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &PicProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kPicClass;
        RegisterClassExW(&wc);
        registered = true;
    }
    // Created in the tab order.
    CmdStart = Button(kMainCmdStart, form.CmdStart, 4440, 960, 1215, 375, [this] { form_.CmdStart_Click(); });
    CmdExit = Button(kMainCmdExit, form.CmdExit, 4440, 1800, 1215, 375, [this] { form_.CmdExit_Click(); });
    Label(kMainLabel5, form.Label5, 3840, 570, 990, 180, true);
    Label(kMainLabel4, form.Label4, 3840, 240, 1170, 180, true);
    lblptr = Label(kMainLblptr, form.lblptr, 5190, 600, 0, 0, true);
    lblBlock = Label(kMainLblBlock, form.lblBlock, 5205, 240, 0, 0, true);
    TxtResult = Log(kMainTxtResult, 120, 120, 3495, 5895);
    CmdOpen = Button(kMainCmdOpen, form.CmdOpen, 4440, 3000, 1215, 375, [this] { form_.CmdOpen_Click(); });
    PicDraw = CreateWindowExW(0, kPicClass, L"", WS_CHILD | WS_VISIBLE, Px(6120), Px(480), Px(3975), Px(3615), hwnd_,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(kMainPicDraw)), GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(PicDraw, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&form.PicDraw));
    CmdFind = Button(kMainCmdFind, form.CmdFind, 4440, 3720, 1215, 375, [this] { form_.CmdFind_Click(); });
    // Frame1's boxes are the window's own children, placed inside the frame.
    Group(kMainFrame1, form.Frame1, 4440, 4440, 4335, 1095);
    const Origin frame{4440, 4440};
    const int formLeft[3] = {240, 720, 1200}, toLeft[3] = {2640, 3120, 3600};
    for (int i = 0; i < 3; ++i)
        TxtFormT[static_cast<std::size_t>(i)] =
            Edit(kMainTxtFormT0 + i, form.TxtFormT[static_cast<std::size_t>(i)], formLeft[i], 360, 375, 375, frame);
    for (int i = 0; i < 3; ++i)
        TxtToT[static_cast<std::size_t>(i)] =
            Edit(kMainTxtToT0 + i, form.TxtToT[static_cast<std::size_t>(i)], toLeft[i], 360, 375, 375, frame);
    TxtDispChnNo = Edit(kMainTxtDispChnNo, form.TxtDispChnNo, 5640, 3720, 375, 375);
    CmdOutput = Button(kMainCmdOutput, form.CmdOutput, 9600, 4200, 495, 375, [this] { form_.CmdOutput_Click(); });
    TimerOf(kMainTimerAD, form.TimerAD, [this] { form_.TimerAD_Timer(); });
    // The record is saved on its own thread: its outcome is shown on this one.
    form_.SetSaveNotify([hwnd = hwnd_] { PostMessageW(hwnd, kSaved, 0, 0); });
    Sync();
}

MainFrame::~MainFrame() { form_.SetSaveNotify({}); }

LRESULT MainFrame::Message(UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == kSaved) {
        Run([this] { form_.CheckSave(); });
        return 0;
    }
    return NativeWindow::Message(msg, wp, lp);
}

void MainFrame::Sync() {
    if (!hwnd_) return;
    ShowLog(TxtResult, form_.TxtResult.Text);
    ShowLabel(lblBlock, form_.lblBlock);
    ShowLabel(lblptr, form_.lblptr);
    ShowButton(CmdStart, form_.CmdStart);
    ShowButton(CmdExit, form_.CmdExit);
    ShowButton(CmdOpen, form_.CmdOpen);
    ShowButton(CmdFind, form_.CmdFind);
    ShowButton(CmdOutput, form_.CmdOutput);
    ShowEdit(TxtDispChnNo, form_.TxtDispChnNo);
    for (std::size_t i = 0; i < 3; ++i) {
        ShowEdit(TxtFormT[i], form_.TxtFormT[i]);
        ShowEdit(TxtToT[i], form_.TxtToT[i]);
    }
    if (drawn_ != form_.PicDraw.Generation || !form_.PicDraw.Trace.empty()) {
        drawn_ = form_.PicDraw.Generation;
        InvalidateRect(PicDraw, nullptr, FALSE);
    }
    ShowTimers();
}

}  // namespace zqd::win32ui
