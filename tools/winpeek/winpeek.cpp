// winpeek: looks at the windows of other programs in the same Wine prefix, for
// the demo and the hand-over tests. Not shipped.
//
//   winpeek text TITLE ID       prints the text of control ID (0: the window's
//                               own caption) of the top-level window TITLE
//   winpeek process TITLE       prints "PID BITS IMAGE" of the window's process
//   winpeek command TITLE ID    posts WM_COMMAND ID to the window (IDOK is 1)
//   winpeek close TITLE         posts WM_CLOSE to the window
//
// Texts are printed as UTF-8. Exit code 0 on success, 1 when the window or the
// control is missing or does not answer, 2 on a usage error. Cross-process
// WM_GETTEXT is marshalled by the system, so a text of any length is read.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr UINT kAnswerTimeoutMs = 5000;

void WriteUtf8(const wchar_t* text, size_t length) {
    std::string bytes;
    if (length > 0) {
        int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
        bytes.resize(static_cast<size_t>(size));
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), bytes.data(), size, nullptr, nullptr);
    }
    bytes += '\n';
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void Fail(const wchar_t* what, const wchar_t* title) {
    fwprintf(stderr, L"winpeek: %ls \"%ls\"\n", what, title);
}

HWND FindTopWindow(const wchar_t* title) {
    HWND window = FindWindowW(nullptr, title);
    if (window == nullptr) {
        Fail(L"no window titled", title);
    }
    return window;
}

int PrintText(const wchar_t* title, int id) {
    HWND window = FindTopWindow(title);
    if (window == nullptr) {
        return 1;
    }
    HWND control = id == 0 ? window : GetDlgItem(window, id);
    if (control == nullptr) {
        Fail(L"no such control in", title);
        return 1;
    }
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(control, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &length)) {
        Fail(L"no answer from", title);
        return 1;
    }
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &copied)) {
        Fail(L"no answer from", title);
        return 1;
    }
    WriteUtf8(text.data(), copied);
    return 0;
}

int PrintProcess(const wchar_t* title) {
    HWND window = FindTopWindow(title);
    if (window == nullptr) {
        return 1;
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr) {
        Fail(L"cannot open the process of", title);
        return 1;
    }
    BOOL emulated = FALSE;
    BOOL selfEmulated = FALSE;
    wchar_t image[MAX_PATH * 2] = {};
    DWORD imageSize = MAX_PATH * 2;
    bool ok = IsWow64Process(process, &emulated) && IsWow64Process(GetCurrentProcess(), &selfEmulated) &&
              QueryFullProcessImageNameW(process, 0, image, &imageSize);
    CloseHandle(process);
    if (!ok) {
        Fail(L"cannot query the process of", title);
        return 1;
    }
    // A process under the 32-bit emulation layer is 32-bit. Any other is
    // native to the system, which is 64-bit when this tool is 64-bit or
    // itself emulated.
    bool system64 = sizeof(void*) == 8 || selfEmulated;
    int bits = emulated || !system64 ? 32 : 64;
    wchar_t line[MAX_PATH * 2 + 32];
    int length = swprintf(line, sizeof line / sizeof line[0], L"%lu %d %ls", pid, bits, image);
    WriteUtf8(line, length > 0 ? static_cast<size_t>(length) : 0);
    return 0;
}

int Post(const wchar_t* title, UINT message, WPARAM wParam) {
    HWND window = FindTopWindow(title);
    if (window == nullptr) {
        return 1;
    }
    if (!PostMessageW(window, message, wParam, 0)) {
        Fail(L"cannot post to", title);
        return 1;
    }
    return 0;
}

bool ParseId(const wchar_t* text, int* id) {
    wchar_t* end = nullptr;
    long value = wcstol(text, &end, 0);
    if (end == text || *end != L'\0' || value < 0 || value > 0xFFFF) {
        return false;
    }
    *id = static_cast<int>(value);
    return true;
}

int Usage() {
    fwprintf(stderr, L"usage: winpeek text TITLE ID | process TITLE | command TITLE ID | close TITLE\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        return Usage();
    }
    const wchar_t* verb = argv[1];
    const wchar_t* title = argv[2];
    int id = 0;
    if (wcscmp(verb, L"text") == 0 && argc == 4 && ParseId(argv[3], &id)) {
        return PrintText(title, id);
    }
    if (wcscmp(verb, L"process") == 0 && argc == 3) {
        return PrintProcess(title);
    }
    if (wcscmp(verb, L"command") == 0 && argc == 4 && ParseId(argv[3], &id)) {
        return Post(title, WM_COMMAND, static_cast<WPARAM>(id));
    }
    if (wcscmp(verb, L"close") == 0 && argc == 3) {
        return Post(title, WM_CLOSE, 0);
    }
    return Usage();
}
