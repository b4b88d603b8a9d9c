// The editor with a full 223 x 223 level (49,729 stones of mixed types), under Wine: open plus
// first paint, save, a selection click and a drag step on the canvas (the posted mouse messages
// and the paint they cause), and the process's peak working set. Prints one line per figure.
#include "editor/Unit1.h"
#include "framework/Application.h"
#include "level/LevelFile.h"

#include <algorithm>
#include <commctrl.h>
#include <cstdio>
#include <psapi.h>
#include <vector>

namespace {

double Now() {
    LARGE_INTEGER f, c;
    ::QueryPerformanceFrequency(&f);
    ::QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

std::vector<uint8_t> FullLevelBytes() {
    TLevel level;
    level.LevelWidth = level.LevelHeight = 223;
    const int32_t types[] = {1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, 15, 17};
    int i = 0;
    for (int32_t y = 0; y < 223; ++y)
        for (int32_t x = 0; x < 223; ++x, ++i) {
            auto* s = new TLevelStone(level);
            s->SetStoneNr(types[i % 13]);
            s->SetPosition(x, y);
            level.Stones.push_back(s);
        }
    ComputeContentIndexes(level);
    return EncodeLevel(level);
}

void PumpPaint(HWND w) {
    ::RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    ::GdiFlush();
}

// Handles the posted mouse messages and paints what they invalidated.
void HandleAndPaint(HWND w) {
    Application().ProcessMessages();
    ::UpdateWindow(w);
    ::GdiFlush();
}

void PostMouse(HWND w, UINT msg, WPARAM keys, int x, int y) {
    ::PostMessageW(w, msg, keys, MAKELPARAM(x, y));
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main() {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&icc);
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring path = std::wstring(temp) + L"ze_bench_full.lvl";
    std::vector<uint8_t> bytes = FullLevelBytes();
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written;
    ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(h);

    auto form = std::make_unique<TForm1>();
    Application().MainForm = form.get();
    form->ShowMaximized();
    PumpPaint(form->Handle());

    std::vector<double> open, save, clear;
    for (int run = 0; run < 5; ++run) {
        double t0 = Now();
        form->OpenLevelFile(Narrow(path));
        PumpPaint(form->LevelImage->Handle());
        double t1 = Now();
        form->SaveLevel();
        double t2 = Now();
        form->Level.Saved = true;
        form->ClearLevel();
        double t3 = Now();
        open.push_back(t1 - t0);
        save.push_back(t2 - t1);
        clear.push_back(t3 - t2);
    }
    form->OpenLevelFile(Narrow(path));
    PumpPaint(form->LevelImage->Handle());
    // Selection clicks alternate between two stones, so each one moves the frame.
    HWND canvas = form->LevelImage->Handle();
    std::vector<double> click, drag;
    for (int run = 0; run < 20; ++run) {
        int x = (run % 2 ? 3 : 2) * 50 + 25, y = 2 * 50 + 25;
        double t0 = Now();
        PostMouse(canvas, WM_LBUTTONDOWN, MK_LBUTTON, x, y);
        PostMouse(canvas, WM_LBUTTONUP, 0, x, y);
        HandleAndPaint(canvas);
        click.push_back(Now() - t0);
    }
    // One drag step: the current stone follows the pointer into the next cell.
    PostMouse(canvas, WM_LBUTTONDOWN, MK_LBUTTON, 125, 125);
    HandleAndPaint(canvas);
    for (int step = 1; step <= 20; ++step) {
        double t0 = Now();
        PostMouse(canvas, WM_MOUSEMOVE, MK_LBUTTON, 125 + (step % 2) * 50, 125);
        HandleAndPaint(canvas);
        drag.push_back(Now() - t0);
    }
    PostMouse(canvas, WM_LBUTTONUP, 0, 125, 125);
    HandleAndPaint(canvas);

    PROCESS_MEMORY_COUNTERS pmc{};
    pmc.cb = sizeof pmc;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &pmc, sizeof pmc);
    std::printf("stones: %zu\n", form->Level.Stones.size());
    std::printf("open + first paint: median %.1f ms (min %.1f ms)\n", Median(open),
                *std::min_element(open.begin(), open.end()));
    std::printf("save: median %.1f ms (min %.1f ms)\n", Median(save),
                *std::min_element(save.begin(), save.end()));
    std::printf("clear (New): median %.1f ms\n", Median(clear));
    std::printf("selection click: median %.2f ms (max %.2f ms)\n", Median(click),
                *std::max_element(click.begin(), click.end()));
    std::printf("drag step: median %.2f ms (max %.2f ms)\n", Median(drag),
                *std::max_element(drag.begin(), drag.end()));
    std::printf("peak working set: %.1f MB\n",
                static_cast<double>(pmc.PeakWorkingSetSize) / (1024.0 * 1024.0));
    form->Level.Saved = true;
    form.reset();
    ::DeleteFileW(path.c_str());
    return 0;
}
