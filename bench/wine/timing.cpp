// The Wine benchmark's measurements (bench/wine/run-bench), built into
// winpeek so that one program drives the shipped program from outside. Times
// come from the performance counter and are printed as "NAME MILLISECONDS".
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/winpeek/dialog_check.h"

namespace {

const wchar_t* const kMainTitle = L"Kestrova V120(X64)";

std::wstring Wide(const std::string& text) {
    std::wstring out(text.size(), L'\0');
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(),
                                      static_cast<int>(out.size()));
    out.resize(static_cast<size_t>(n > 0 ? n : 0));
    return out;
}

HWND MainControl(int id) {
    HWND dialog = FindWindowW(nullptr, kMainTitle);
    return dialog == nullptr ? nullptr : GetDlgItem(dialog, id);
}

LARGE_INTEGER Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now;
}

void Print(const std::string& what, LARGE_INTEGER from) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const double ms =
        1000.0 * static_cast<double>(Now().QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
    std::printf("%s %.1f\n", what.c_str(), ms);
    std::fflush(stdout);
}

int Fail(const char* text) {
    std::printf("error: %s\n", text);
    return 1;
}

}  // namespace

// launch PROGRAM MS: starts PROGRAM in its folder; prints the time until its
// window is up with both lists filled ("startup"), then until the log shows
// the tree summary ("log").
int BenchLaunch(const std::vector<std::string>& a) {
    const std::wstring path = Wide(a[0]);
    const std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
    std::wstring line = L"\"" + path + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    const LARGE_INTEGER from = Now();
    if (!CreateProcessW(path.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                        &started)) {
        return Fail("cannot start the program");
    }
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    const ULONGLONG end = GetTickCount64() + std::strtoull(a[1].c_str(), nullptr, 0);
    auto wait = [&](auto done) {
        while (!done()) {
            if (GetTickCount64() >= end)
                return false;
            Sleep(5);
        }
        return true;
    };
    const bool up = wait([] {
        HWND dialog = FindWindowW(nullptr, kMainTitle);
        return dialog != nullptr && IsWindowVisible(dialog) &&
               peek::Value(GetDlgItem(dialog, IDC_ADAPTER_LIST), LB_GETCOUNT) > 0 &&
               peek::Value(GetDlgItem(dialog, IDC_PORT_LIST), LB_GETCOUNT) > 0;
    });
    if (!up)
        return Fail("the lists stay empty");
    Print("startup", from);
    if (!wait([] { return peek::Text(MainControl(IDC_LOG)).find("***已查找到") != std::string::npos; }))
        return Fail("the log stays without the tree summary");
    Print("log", from);
    return 0;
}

// enumerate N: N Enumerate clicks, each sent and timed; then the floor: the
// text the first click appended to the log, appended in one piece to a shown
// edit control of the log's size that holds the log's text from before it.
int BenchEnumerate(const std::vector<std::string>& a) {
    HWND log = MainControl(IDC_LOG);
    HWND button = MainControl(IDC_ENUMERATE);
    if (log == nullptr || button == nullptr)
        return Fail("no main dialog");
    std::string before, after;
    for (int i = 1; i <= std::atoi(a[0].c_str()); ++i) {
        if (i == 1)
            before = peek::Text(log);
        const LARGE_INTEGER from = Now();
        // Not SMTO_ABORTIFHUNG: a long Enumerate makes the program look hung.
        DWORD_PTR ignored = 0;
        if (!SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_NORMAL, 600000, &ignored)) {
            return Fail("Enumerate did not return");
        }
        Print("enumerate " + std::to_string(i), from);
        if (i == 1)
            after = peek::Text(log);
    }
    if (after.size() <= before.size() || after.compare(0, before.size(), before) != 0) {
        return Fail("the first Enumerate appended nothing");
    }
    RECT r;
    GetWindowRect(log, &r);
    HWND edit = CreateWindowExW(
        WS_EX_CLIENTEDGE, L"Edit", L"",
        WS_POPUP | WS_VISIBLE | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL | WS_VSCROLL | WS_HSCROLL, 0, 0,
        r.right - r.left, r.bottom - r.top, nullptr, nullptr, nullptr, nullptr);
    SendMessageW(edit, EM_SETLIMITTEXT, 0, 0);
    SetWindowTextW(edit, Wide(before).c_str());
    const std::wstring summary = Wide(after.substr(before.size()));
    SendMessageW(edit, EM_SETSEL, static_cast<WPARAM>(-2), -2);
    const LARGE_INTEGER from = Now();
    SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(summary.c_str()));
    Print("floor", from);
    DestroyWindow(edit);
    return 0;
}
