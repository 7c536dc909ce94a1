// The native Windows face of the windows: Win32 controls and GDI, the wide
// API throughout. A NativeWindow lays out controls at their twips positions
// (through the system's DPI), forwards clicks, edits and timer ticks to the
// window's handlers, and shows the window state after each; it holds no
// handler logic of its own.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/form.h"

namespace zqd::win32ui {

std::wstring W(const std::string& utf8);
std::string U8(const std::wstring& wide);

// Where a frame's controls are placed from: the frame's own position, in twips.
struct Origin {
    int left = 0, top = 0;
};

class NativeWindow {
public:
    NativeWindow(const NativeWindow&) = delete;
    NativeWindow& operator=(const NativeWindow&) = delete;
    virtual ~NativeWindow();

    HWND Handle() const { return hwnd_; }
    void Show();
    // Shows the window state on the controls.
    virtual void Sync() = 0;

protected:
    // A top-level window whose client area is `width` x `height` twips; at
    // `left`, `top` twips on the screen when given (else where the system
    // puts new windows).
    NativeWindow(const std::wstring& title, int width, int height, int left = CW_USEDEFAULT, int top = CW_USEDEFAULT);

    int Px(int twips) const { return MulDiv(twips, dpi_, 1440); }

    // Controls, each a child of the window at Left, Top, Width, Height twips
    // (plus `origin`, a frame's own position, for the controls drawn in it).
    HWND Label(int id, const Control& c, int l, int t, int w, int h, bool grow, Origin o = {});
    HWND Button(int id, const Control& c, int l, int t, int w, int h, std::function<void()> clicked, Origin o = {});
    HWND Edit(int id, Control& c, int l, int t, int w, int h, Origin o = {});
    HWND Log(int id, int l, int t, int w, int h);  // multi-line, read-only, vertical scroll bar
    HWND Check(int id, Control& c, int l, int t, int w, int h, Origin o = {});
    HWND Group(int id, const Control& c, int l, int t, int w, int h);
    // A periodic timer shown from `t`: its handler runs at every tick.
    void TimerOf(int id, const Timer& t, std::function<void()> tick);

    void ShowLabel(HWND label, const Control& c, bool grow = true);
    void ShowButton(HWND button, const Control& c);
    void ShowEdit(HWND edit, const Control& c);
    void ShowCheck(HWND box, const Control& c);
    void ShowLog(HWND log, const std::string& text);  // scrolled to its end when it changed
    void ShowTimers();

    // Runs a handler, then shows the state; `closing` says when the window is to go.
    void Run(const std::function<void()>& handler);
    virtual bool Closing() const { return false; }
    virtual LRESULT Message(UINT msg, WPARAM wp, LPARAM lp);
    // A label's back colour (0x00BBGGRR), or -1 for the window's.
    virtual long BackColour(int /*id*/) const { return -1; }

    HWND hwnd_ = nullptr;
    HFONT font_ = nullptr;

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    HWND Child(const wchar_t* cls, const std::wstring& text, DWORD style, int id, int l, int t, int w, int h);
    void Grow(HWND label);

    int dpi_ = 96;
    std::map<int, std::function<void()>> clicks_;
    std::map<int, Control*> edits_, checks_;
    struct TimerEntry {
        const Timer* timer;
        std::function<void()> tick;
        bool running = false;
        int interval = 0;
    };
    std::map<int, TimerEntry> timers_;
    std::map<int, HBRUSH> brushes_;
    bool syncing_ = false;  // texts set by Sync are not the user's edits
};

// Runs the message loop until the last window has closed.
int RunMessageLoop();

}  // namespace zqd::win32ui
