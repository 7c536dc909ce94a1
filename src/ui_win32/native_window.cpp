#include "ui_win32/native_window.h"

namespace zqd::win32ui {

namespace {

const wchar_t kClass[] = L"ZQD4830_GPS.Window";
int g_open = 0;  // top-level windows open

}  // namespace

std::wstring W(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
    return w;
}

std::string U8(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), s.data(), n, nullptr, nullptr);
    return s;
}

static std::wstring TextOf(HWND hwnd) {
    const int n = GetWindowTextLengthW(hwnd);
    std::wstring w(static_cast<std::size_t>(n) + 1, L'\0');
    GetWindowTextW(hwnd, w.data(), n + 1);
    w.resize(static_cast<std::size_t>(n));
    return w;
}

NativeWindow::NativeWindow(const std::wstring& title, int width, int height, int left, int top) {
    static bool registered = false;
    HINSTANCE instance = GetModuleHandleW(nullptr);
    if (!registered) {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &NativeWindow::Proc;
        wc.hInstance = instance;
        wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = kClass;
        RegisterClassExW(&wc);
        registered = true;
    }
    HDC screen = GetDC(nullptr);
    dpi_ = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    if (dpi_ <= 0) dpi_ = 96;
    // A nine-point font that holds Chinese: the system's GB2312 face.
    font_ = CreateFontW(-MulDiv(9, dpi_, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, GB2312_CHARSET, OUT_DEFAULT_PRECIS,
                        CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"SimSun");
    // Not WS_CLIPCHILDREN: the window paints its face under the frames, which do not.
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT r{0, 0, Px(width), Px(height)};
    AdjustWindowRectEx(&r, style, FALSE, 0);
    hwnd_ = CreateWindowExW(0, kClass, title.c_str(), style, left == CW_USEDEFAULT ? CW_USEDEFAULT : Px(left),
                            top == CW_USEDEFAULT ? CW_USEDEFAULT : Px(top), r.right - r.left, r.bottom - r.top, nullptr,
                            nullptr, instance, this);
    ++g_open;
}

NativeWindow::~NativeWindow() {
    for (auto& [id, entry] : timers_)
        if (entry.running && hwnd_) KillTimer(hwnd_, static_cast<UINT_PTR>(id));
    if (hwnd_) {
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
    for (auto& [id, brush] : brushes_) DeleteObject(brush);
    if (font_) DeleteObject(font_);
}

void NativeWindow::Show() {
    ShowWindow(hwnd_, SW_SHOWNORMAL);
    UpdateWindow(hwnd_);
}

HWND NativeWindow::Child(const wchar_t* cls, const std::wstring& text, DWORD style, int id, int l, int t, int w, int h) {
    HWND c = CreateWindowExW(0, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, Px(l), Px(t), Px(w), Px(h), hwnd_,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
    return c;
}

void NativeWindow::Grow(HWND label) {
    const std::wstring text = TextOf(label);
    HDC dc = GetDC(label);
    HGDIOBJ old = SelectObject(dc, font_);
    SIZE size{0, 0};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(label, dc);
    SetWindowPos(label, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(hwnd_, nullptr, TRUE);
}

HWND NativeWindow::Label(int id, const Control& c, int l, int t, int w, int h, bool grow, Origin o) {
    HWND label = Child(L"STATIC", W(c.Text), SS_LEFT | SS_NOPREFIX, id, o.left + l, o.top + t, w, h);
    if (grow) Grow(label);
    return label;
}

HWND NativeWindow::Button(int id, const Control& c, int l, int t, int w, int h, std::function<void()> clicked, Origin o) {
    clicks_[id] = std::move(clicked);
    return Child(L"BUTTON", W(c.Text), BS_PUSHBUTTON | WS_TABSTOP, id, o.left + l, o.top + t, w, h);
}

HWND NativeWindow::Edit(int id, Control& c, int l, int t, int w, int h, Origin o) {
    edits_[id] = &c;
    HWND e = Child(L"EDIT", W(c.Text), ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, id, o.left + l, o.top + t, w, h);
    return e;
}

HWND NativeWindow::Log(int id, int l, int t, int w, int h) {
    return Child(L"EDIT", L"", ES_LEFT | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL | WS_BORDER | WS_TABSTOP,
                 id, l, t, w, h);
}

HWND NativeWindow::Check(int id, Control& c, int l, int t, int w, int h, Origin o) {
    checks_[id] = &c;
    return Child(L"BUTTON", W(c.Text), BS_AUTOCHECKBOX | WS_TABSTOP, id, o.left + l, o.top + t, w, h);
}

HWND NativeWindow::Group(int id, const Control& c, int l, int t, int w, int h) {
    return Child(L"BUTTON", W(c.Text), BS_GROUPBOX, id, l, t, w, h);
}

void NativeWindow::TimerOf(int id, const Timer& t, std::function<void()> tick) { timers_[id] = {&t, std::move(tick)}; }

void NativeWindow::ShowLabel(HWND label, const Control& c, bool grow) {
    const std::wstring text = W(c.Text);
    if (TextOf(label) == text) return;
    SetWindowTextW(label, text.c_str());
    if (grow) Grow(label);
}

void NativeWindow::ShowButton(HWND button, const Control& c) {
    const std::wstring text = W(c.Text);
    if (TextOf(button) != text) SetWindowTextW(button, text.c_str());
    EnableWindow(button, c.Enabled ? TRUE : FALSE);
}

void NativeWindow::ShowEdit(HWND edit, const Control& c) {
    const std::wstring text = W(c.Text);
    if (TextOf(edit) == text) return;
    syncing_ = true;
    SetWindowTextW(edit, text.c_str());
    syncing_ = false;
}

void NativeWindow::ShowCheck(HWND box, const Control& c) {
    const std::wstring text = W(c.Text);
    if (TextOf(box) != text) SetWindowTextW(box, text.c_str());
    const bool on = SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
    if (on != c.Checked) SendMessageW(box, BM_SETCHECK, c.Checked ? BST_CHECKED : BST_UNCHECKED, 0);
    EnableWindow(box, c.Enabled ? TRUE : FALSE);
}

void NativeWindow::ShowLog(HWND log, const std::string& text) {
    // The edit control breaks lines at CR LF only.
    std::wstring wide;
    const std::wstring w = W(text);
    wide.reserve(w.size());
    for (std::size_t i = 0; i < w.size(); ++i) {
        if (w[i] == L'\n' && (i == 0 || w[i - 1] != L'\r')) wide += L'\r';
        wide += w[i];
    }
    if (TextOf(log) == wide) return;
    SetWindowTextW(log, wide.c_str());
    SendMessageW(log, EM_SETSEL, static_cast<WPARAM>(wide.size()), static_cast<LPARAM>(wide.size()));
    SendMessageW(log, EM_SCROLLCARET, 0, 0);
}

void NativeWindow::ShowTimers() {
    for (auto& [id, entry] : timers_) {
        const Timer& t = *entry.timer;
        if (t.Enabled && (!entry.running || entry.interval != t.Interval)) {
            SetTimer(hwnd_, static_cast<UINT_PTR>(id), static_cast<UINT>(t.Interval > 0 ? t.Interval : 1), nullptr);
            entry.running = true;
            entry.interval = t.Interval;
        } else if (!t.Enabled && entry.running) {
            KillTimer(hwnd_, static_cast<UINT_PTR>(id));
            entry.running = false;
        }
    }
}

void NativeWindow::Run(const std::function<void()>& handler) {
    handler();
    Sync();
    if (Closing() && hwnd_) DestroyWindow(hwnd_);
}

LRESULT NativeWindow::Message(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_COMMAND: {
        const int id = LOWORD(wp);
        const int code = HIWORD(wp);
        if (code == BN_CLICKED) {
            if (auto it = clicks_.find(id); it != clicks_.end()) {
                const auto handler = it->second;
                Run(handler);
                return 0;
            }
            if (auto it = checks_.find(id); it != checks_.end()) {
                it->second->Checked = SendMessageW(reinterpret_cast<HWND>(lp), BM_GETCHECK, 0, 0) == BST_CHECKED;
                return 0;
            }
        }
        if (code == EN_CHANGE && !syncing_)
            if (auto it = edits_.find(id); it != edits_.end()) it->second->Text = U8(TextOf(reinterpret_cast<HWND>(lp)));
        return 0;
    }
    case WM_TIMER:
        if (auto it = timers_.find(static_cast<int>(wp)); it != timers_.end()) {
            const auto tick = it->second.tick;
            Run(tick);
        }
        return 0;
    case WM_CTLCOLORSTATIC: {
        // Labels and frames on the window's face; a label of its own colour on that.
        const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lp));
        const long colour = BackColour(id);
        if (colour < 0) {
            SetBkColor(reinterpret_cast<HDC>(wp), GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        }
        HBRUSH& brush = brushes_[id];
        if (!brush) brush = CreateSolidBrush(static_cast<COLORREF>(colour));
        SetBkColor(reinterpret_cast<HDC>(wp), static_cast<COLORREF>(colour));
        return reinterpret_cast<LRESULT>(brush);
    }
    default:
        break;
    }
    return DefWindowProcW(hwnd_, msg, wp, lp);
}

LRESULT CALLBACK NativeWindow::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
        static_cast<NativeWindow*>(cs->lpCreateParams)->hwnd_ = hwnd;
    }
    if (msg == WM_DESTROY) {
        if (auto* self = reinterpret_cast<NativeWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA))) {
            self->Message(msg, wp, lp);
            self->hwnd_ = nullptr;
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        }
        if (--g_open == 0) PostQuitMessage(0);
        return 0;
    }
    auto* self = reinterpret_cast<NativeWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
    return self->Message(msg, wp, lp);
}

int RunMessageLoop() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        // Tab and the arrow keys move between the controls, in the order they were made.
        HWND top = GetAncestor(msg.hwnd, GA_ROOT);
        if (top && IsDialogMessageW(top, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

}  // namespace zqd::win32ui
