// ZeltoDriver: starts a program with "-w <window>" the way the portal's web
// control does, and prints, one line each, what its hidden notification
// window receives and which windows the program shows:
//
//   STARTED pid=<pid>
//   STATUS <code> <lParam as 0x%08X> [window="<class>" for status 20, whose lParam is a window] t=<ms>
//                        (t: milliseconds since the program was started)
//   DIALOG_CLOSED
//   WINDOW <hwnd> class="<class>" title="<title>" text="<message box text>" rect=<x,y,w,h> ids=<control ids>
//   PRESS <id> <hwnd> t=<ms>
//   EXIT <code>  |  TIMEOUT
//   PEAK <peak working set of the program in bytes>
//
//   WAIT <step> <hwnd> t=<ms>   (a step found its window; it acts after the hold)
//   CLOSE <hwnd>         (WM_CLOSE posted to the program's main window)
//   CONTROLS <hwnd> <id>@<x>,<y>,<w>,<h>;...;row<n>@<x>,<y>,<w>,<h>;...
//                        the screen rectangles of a window's visible controls
//                        (pages included) and of the rows of its list view,
//                        printed again whenever they change: where a pointer
//                        has to go to click them
//
// Usage: ZeltoDriver [--timeout S] [--hold MS] [step]... [--no-w] -- program [args...]
// Steps, carried out in order, each after the hold:
//   --press ID  clicks button ID in the next new window that has it
//   --again ID  clicks button ID again in the latest window of an earlier step
//               that still has it, once the button is enabled
//   --tick ROW  clicks the text of row ROW of the list view 1002 in that
//               window (the wizard's list page ticks a row that way)
//   --hold MS   waits this long before each step (for screenshots)
//   --no-w      does not add "-w <window>"
//   --close-on STATUS  posts WM_CLOSE to the program's main window (the
//               window of status 20) when status STATUS arrives, as the
//               starting program may at any time
// Exit code: the program's exit code, 3 when the time limit ended it, 2 for usage errors.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

const UINT UM_SETUP_STATUS = WM_USER + 2;
const UINT UM_SETUP_DIALOG_CLOSED = WM_USER + 3;

DWORD g_childPid = 0;
HWND g_mainWindow = nullptr;   // from status 20
LARGE_INTEGER g_started = {};  // when the program was started

// Milliseconds since the program was started.
double Elapsed()
{
    LARGE_INTEGER now, frequency;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - g_started.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}
int g_closeOn = -1;            // --close-on: the status that triggers WM_CLOSE

struct Step {
    enum Kind { PRESS, AGAIN, TICK } kind;
    int value;
};

struct ControlSearch {
    int id;
    HWND found;
};

BOOL CALLBACK FindControl(HWND child, LPARAM param)
{
    auto* search = reinterpret_cast<ControlSearch*>(param);
    if (::GetDlgCtrlID(child) == search->id && ::IsWindowVisible(child)) {
        search->found = child;
        return FALSE;
    }
    return TRUE;
}

// A visible control with this id anywhere inside the window (pages are
// child dialogs of the wizard).
HWND FindDescendant(HWND wnd, int id)
{
    ControlSearch search = {id, nullptr};
    ::EnumChildWindows(wnd, &FindControl, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The screen rectangle of list view row `row` of another process, read
// through memory lent in that process; false when there is no such row.
bool ListRowRect(HANDLE process, HWND list, int row, RECT& rect)
{
    void* remote = ::VirtualAllocEx(process, nullptr, sizeof(RECT), MEM_COMMIT, PAGE_READWRITE);
    if (!remote) return false;
    rect = {};
    rect.left = 2;   // LVIR_LABEL
    ::WriteProcessMemory(process, remote, &rect, sizeof(rect), nullptr);
    bool ok = ::SendMessageA(list, 0x1000 + 14 /* LVM_GETITEMRECT */, row, reinterpret_cast<LPARAM>(remote)) &&
              ::ReadProcessMemory(process, remote, &rect, sizeof(rect), nullptr);
    ::VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    if (!ok) return false;
    ::MapWindowPoints(list, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    return true;
}

// Clicks the text of a list view row of another process.
bool ClickListRow(HANDLE process, HWND list, int row)
{
    RECT rect;
    if (!ListRowRect(process, list, row, rect)) return false;
    POINT at = {rect.left + 8, (rect.top + rect.bottom) / 2};
    ::ScreenToClient(list, &at);
    LPARAM point = MAKELPARAM(at.x, at.y);
    ::PostMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, point);
    ::PostMessageA(list, WM_LBUTTONUP, 0, point);
    return true;
}

struct ControlList {
    HANDLE process;
    std::string text;
};

BOOL CALLBACK DescribeControl(HWND child, LPARAM param)
{
    auto* list = reinterpret_cast<ControlList*>(param);
    if (!::IsWindowVisible(child)) return TRUE;
    RECT rect;
    ::GetWindowRect(child, &rect);
    const int id = ::GetDlgCtrlID(child);
    char item[96];
    std::snprintf(item, sizeof(item), "%d@%ld,%ld,%ld,%ld;", id, rect.left, rect.top, rect.right - rect.left,
                  rect.bottom - rect.top);
    list->text += item;
    char cls[64] = "";
    ::GetClassNameA(child, cls, sizeof(cls));
    if (lstrcmpiA(cls, "SysListView32") == 0) {
        const int rows = static_cast<int>(::SendMessageA(child, 0x1000 + 4 /* LVM_GETITEMCOUNT */, 0, 0));
        for (int row = 0; row < rows; ++row) {
            RECT r;
            if (!ListRowRect(list->process, child, row, r)) continue;
            std::snprintf(item, sizeof(item), "row%d@%ld,%ld,%ld,%ld;", row, r.left, r.top, r.right - r.left,
                          r.bottom - r.top);
            list->text += item;
        }
    }
    return TRUE;
}

LRESULT CALLBACK NotifyProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == UM_SETUP_STATUS) {
        char cls[128] = "";
        HWND target = reinterpret_cast<HWND>(lParam);
        if (wParam == 20 && lParam && ::IsWindow(target)) ::GetClassNameA(target, cls, sizeof(cls));
        const double ms = Elapsed();
        if (cls[0]) std::printf("STATUS %d 0x%08lX window=\"%s\" t=%.1f\n", static_cast<int>(wParam),
                                static_cast<unsigned long>(lParam), cls, ms);
        else std::printf("STATUS %d 0x%08lX t=%.1f\n", static_cast<int>(wParam), static_cast<unsigned long>(lParam), ms);
        if (wParam == 20 && cls[0]) g_mainWindow = target;
        if (g_closeOn >= 0 && static_cast<int>(wParam) == g_closeOn && g_mainWindow) {
            g_closeOn = -1;
            std::printf("CLOSE 0x%08lX\n", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(g_mainWindow)));
            ::PostMessageA(g_mainWindow, WM_CLOSE, 0, 0);
        }
        return 0;
    }
    if (msg == UM_SETUP_DIALOG_CLOSED) {
        std::printf("DIALOG_CLOSED\n");
        return 0;
    }
    return ::DefWindowProcA(wnd, msg, wParam, lParam);
}

// Quotes one argument by the runtime's rules (backslashes before a quote doubled).
std::string QuoteArgument(const std::string& arg)
{
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') { ++backslashes; continue; }
        if (c == '"') { out.append(backslashes * 2 + 1, '\\'); out += '"'; }
        else { out.append(backslashes, '\\'); out += c; }
        backslashes = 0;
    }
    out.append(backslashes * 2, '\\');
    out += '"';
    return out;
}

struct WindowScan {
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND wnd, LPARAM param)
{
    DWORD pid = 0;
    ::GetWindowThreadProcessId(wnd, &pid);
    if (pid == g_childPid && ::IsWindowVisible(wnd)) reinterpret_cast<WindowScan*>(param)->found.push_back(wnd);
    return TRUE;
}

BOOL CALLBACK CollectChildIds(HWND child, LPARAM param)
{
    auto* ids = reinterpret_cast<std::vector<int>*>(param);
    ids->push_back(::GetDlgCtrlID(child));
    return TRUE;
}

std::string Printable(const char* text)
{
    std::string out;
    for (const char* p = text; *p; ++p) {
        if (*p == '\r') continue;
        if (*p == '\n') out += "\\n";
        else if (*p == '"') out += "\\\"";
        else out += *p;
    }
    return out;
}

void DescribeWindow(HWND wnd)
{
    char cls[128] = "", title[512] = "", text[2048] = "";
    ::GetClassNameA(wnd, cls, sizeof(cls));
    ::GetWindowTextA(wnd, title, sizeof(title));
    HWND label = ::GetDlgItem(wnd, 0xFFFF);
    if (label) ::SendMessageA(label, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text));
    std::vector<int> ids;
    ::EnumChildWindows(wnd, &CollectChildIds, reinterpret_cast<LPARAM>(&ids));
    std::string idList;
    for (int id : ids) idList += (idList.empty() ? "" : ",") + std::to_string(id);
    RECT rect = {};
    ::GetWindowRect(wnd, &rect);
    std::printf("WINDOW 0x%08lX class=\"%s\" title=\"%s\" text=\"%s\" rect=%ld,%ld,%ld,%ld ids=%s\n",
                static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(wnd)), cls, Printable(title).c_str(),
                Printable(text).c_str(), rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                idList.c_str());
}

int Usage()
{
    std::fprintf(stderr, "usage: ZeltoDriver [--timeout S] [--hold MS] [--press ID | --again ID | --tick ROW]... [--no-w] "
                         "[--close-on STATUS] -- program [args...]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    double timeoutSeconds = 60;
    DWORD holdMs = 0;
    bool addWindow = true;
    std::vector<Step> steps;
    int i = 1;
    for (; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--") { ++i; break; }
        if (a == "--timeout" && i + 1 < argc) timeoutSeconds = std::atof(argv[++i]);
        else if (a == "--hold" && i + 1 < argc) holdMs = static_cast<DWORD>(std::atoi(argv[++i]));
        else if (a == "--press" && i + 1 < argc) steps.push_back({Step::PRESS, std::atoi(argv[++i])});
        else if (a == "--again" && i + 1 < argc) steps.push_back({Step::AGAIN, std::atoi(argv[++i])});
        else if (a == "--tick" && i + 1 < argc) steps.push_back({Step::TICK, std::atoi(argv[++i])});
        else if (a == "--no-w") addWindow = false;
        else if (a == "--close-on" && i + 1 < argc) g_closeOn = std::atoi(argv[++i]);
        else return Usage();
    }
    if (i >= argc) return Usage();

    WNDCLASSA wc = {};
    wc.lpfnWndProc = &NotifyProc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = "ZeltoDriverNotify";
    ::RegisterClassA(&wc);
    HWND notify = ::CreateWindowExA(0, wc.lpszClassName, "ZeltoDriver", WS_POPUP, 0, 0, 0, 0, nullptr,
                                    nullptr, wc.hInstance, nullptr);
    if (!notify) { std::printf("ERROR no window\n"); return 2; }

    std::string commandLine = QuoteArgument(argv[i]);
    if (addWindow) commandLine += " -w " + std::to_string(reinterpret_cast<ULONG_PTR>(notify));
    for (int k = i + 1; k < argc; ++k) commandLine += " " + QuoteArgument(argv[k]);

    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    std::vector<char> cmd(commandLine.begin(), commandLine.end());
    cmd.push_back('\0');
    ::QueryPerformanceCounter(&g_started);
    if (!::CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        std::printf("ERROR CreateProcess %lu\n", ::GetLastError());
        return 2;
    }
    ::CloseHandle(pi.hThread);
    g_childPid = pi.dwProcessId;
    std::printf("STARTED pid=%lu\n", pi.dwProcessId);

    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(timeoutSeconds * 1000);
    std::set<HWND> seen;
    std::vector<HWND> stepWindows;   // the window of every step so far
    size_t nextStep = 0;
    HWND pending = nullptr;          // the window of the next step, waiting for the hold
    ULONGLONG pressAt = 0, lastActionAt = 0;
    bool finished = false, timedOut = false;
    SIZE_T peak = 0;   // read while the program runs: an ended process may report nothing
    auto samplePeak = [&] {
        PROCESS_MEMORY_COUNTERS counters = {};
        counters.cb = sizeof(counters);
        if (::GetProcessMemoryInfo(pi.hProcess, &counters, sizeof(counters)) && counters.PeakWorkingSetSize > peak)
            peak = counters.PeakWorkingSetSize;
    };
    auto schedule = [&](HWND wnd) {
        pending = wnd;
        pressAt = ::GetTickCount64() + holdMs;
        std::printf("WAIT %d 0x%08lX t=%.1f\n", static_cast<int>(nextStep),
                    static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(wnd)), Elapsed());
    };
    // The control a step acts on inside its window.
    auto target = [&](const Step& step, HWND wnd) -> HWND {
        return FindDescendant(wnd, step.kind == Step::TICK ? 1002 : step.value);
    };

    std::map<HWND, std::string> controlsShown;   // the last CONTROLS line of each window
    while (!finished) {
        DWORD wait = ::MsgWaitForMultipleObjects(1, &pi.hProcess, FALSE, 50, QS_ALLINPUT);
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
        if (wait == WAIT_OBJECT_0) { finished = true; break; }
        samplePeak();

        WindowScan scan;
        ::EnumWindows(&CollectWindow, reinterpret_cast<LPARAM>(&scan));
        for (HWND wnd : scan.found) {
            ControlList controls = {pi.hProcess, std::string()};
            ::EnumChildWindows(wnd, &DescribeControl, reinterpret_cast<LPARAM>(&controls));
            const bool isNew = seen.insert(wnd).second;
            if (isNew) DescribeWindow(wnd);
            if (!controls.text.empty() && controlsShown[wnd] != controls.text) {
                controlsShown[wnd] = controls.text;
                std::printf("CONTROLS 0x%08lX %s\n", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(wnd)),
                            controls.text.c_str());
            }
            if (!isNew) continue;
            if (!pending && nextStep < steps.size() && steps[nextStep].kind == Step::PRESS &&
                ::GetDlgItem(wnd, steps[nextStep].value))
                schedule(wnd);
        }
        // Steps that act again on the window of an earlier step.
        // The last action is given time to take effect (a removal disables
        // the buttons until it ends) before the window is looked at again.
        if (!pending && nextStep < steps.size() && steps[nextStep].kind != Step::PRESS &&
            ::GetTickCount64() >= lastActionAt + 300) {
            for (auto it = stepWindows.rbegin(); it != stepWindows.rend(); ++it) {
                HWND control = ::IsWindow(*it) ? target(steps[nextStep], *it) : nullptr;
                if (control && ::IsWindowEnabled(control)) { schedule(*it); break; }
            }
        }
        if (pending && ::GetTickCount64() >= pressAt) {
            const Step step = steps[nextStep];
            HWND control = ::IsWindow(pending) ? target(step, pending) : nullptr;
            if (control && step.kind != Step::PRESS && !::IsWindowEnabled(control)) {
                pending = nullptr;   // went disabled during the hold: waits for it again
            } else {
                ++nextStep;
                lastActionAt = ::GetTickCount64();
                const unsigned long hwnd = static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(pending));
                if (control && step.kind == Step::TICK) {
                    std::printf("TICK %d 0x%08lX\n", step.value, hwnd);
                    if (!ClickListRow(pi.hProcess, control, step.value)) std::printf("ERROR no row %d\n", step.value);
                } else if (control) {
                    std::printf("PRESS %d 0x%08lX t=%.1f\n", step.value, hwnd, Elapsed());
                    ::PostMessageA(::GetParent(control), WM_COMMAND, MAKEWPARAM(step.value, BN_CLICKED),
                                   reinterpret_cast<LPARAM>(control));
                }
                stepWindows.push_back(pending);
                pending = nullptr;
            }
        }
        if (::GetTickCount64() > deadline) { timedOut = true; break; }
    }

    // Messages the program posted just before it ended.
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);

    int exitCode;
    if (timedOut) {
        ::TerminateProcess(pi.hProcess, 3);
        ::WaitForSingleObject(pi.hProcess, 5000);
        std::printf("TIMEOUT\n");
        exitCode = 3;
    } else {
        DWORD code = 0;
        ::GetExitCodeProcess(pi.hProcess, &code);
        std::printf("EXIT %lu\n", code);
        exitCode = static_cast<int>(code);
        samplePeak();
        std::printf("PEAK %lu\n", static_cast<unsigned long>(peak));
    }
    ::CloseHandle(pi.hProcess);
    ::DestroyWindow(notify);
    return exitCode;
}
