// Threads, started programs, the WoW64 check, the program's arguments and
// the console it was started from.
#include "platform/platform.h"

#include <shellapi.h>

#include <cstring>

#include "platform/win32/win32_internal.h"

using namespace win32;

// ---- threads and programs ----

bool StartThread(ThreadRoutine routine, void* argument) {
    HANDLE thread = CreateThread(nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(routine), argument, 0, nullptr);
    if (thread == nullptr) {
        return false;
    }
    CloseHandle(thread);
    return true;
}

namespace {

bool IsUsable(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

// A console of the parent process, attached once: a windowed program starts
// without one.
HANDLE ParentConsole() {
    static HANDLE console = INVALID_HANDLE_VALUE;
    static bool tried = false;
    if (!tried) {
        tried = true;
        if (AttachConsole(ATTACH_PARENT_PROCESS)) {
            console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        }
    }
    return console;
}

// Starts a UTF-8 command line through CreateProcessW. User-interface thread
// only (the converted line is too big for its stack). With passOutput the
// program gets this one's standard handles, so it writes where this one does.
bool StartCommand(const char* commandLine, bool passOutput, PROCESS_INFORMATION& process) {
    static wchar_t line[kLongUnits];
    Utf8ToWide(commandLine, line, kLongUnits);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (passOutput) {
        // Attached first, so the program started finds the same console as
        // its parent's.
        ParentConsole();
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    }
    return CreateProcessW(nullptr, line, nullptr, nullptr, passOutput ? TRUE : FALSE, 0, nullptr, nullptr, &startup,
                          &process) != FALSE;
}

}  // namespace

unsigned RunProgram(const char* commandLine) {
    PROCESS_INFORMATION process{};
    if (!StartCommand(commandLine, false, process)) {
        DWORD error = GetLastError();
        return error < 32 ? error : 0;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 33;
}

bool RunProgramAndWait(const char* commandLine, unsigned* exitCode) {
    PROCESS_INFORMATION process{};
    if (!StartCommand(commandLine, true, process)) {
        return false;
    }
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    *exitCode = code;
    return true;
}

bool QueryWow64(bool* isWow64) {
    using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
    HMODULE kernel = GetModuleHandleA("kernel32");
    FARPROC found = kernel != nullptr ? GetProcAddress(kernel, "IsWow64Process") : nullptr;
    if (found == nullptr) {
        return false;
    }
    BOOL wow64 = FALSE;
    auto isWow64Process = reinterpret_cast<IsWow64ProcessFunction>(reinterpret_cast<void (*)()>(found));
    if (!isWow64Process(GetCurrentProcess(), &wow64)) {
        return false;
    }
    *isWow64 = wow64 != FALSE;
    return true;
}

// ---- command line, console ----

void GetProgramArguments(ArgumentList& list) {
    list.count = 0;
    list.overflow = false;
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr) {
        return;
    }
    for (int i = 1; i < count; ++i) {
        int units = lstrlenW(arguments[i]);
        int bytes = WideCharToMultiByte(CP_UTF8, 0, arguments[i], units, nullptr, 0, nullptr, nullptr);
        if (list.count == kMaxArguments || bytes < 0 || static_cast<std::size_t>(bytes) >= kArgumentSize) {
            list.overflow = true;
            break;
        }
        WideToUtf8(arguments[i], units, list.text[list.count], kArgumentSize);
        ++list.count;
    }
    LocalFree(arguments);
}

bool GetArgumentsText(char* buffer, std::size_t size) {
    const wchar_t* line = GetCommandLineW();
    // The program's name ends at the closing quote or at the first blank, as
    // the system's own parser has it.
    if (*line == L'"') {
        ++line;
        while (*line != L'\0' && *line != L'"') {
            ++line;
        }
        if (*line == L'"') {
            ++line;
        }
    } else {
        while (*line != L'\0' && *line != L' ' && *line != L'\t') {
            ++line;
        }
    }
    while (*line == L' ' || *line == L'\t') {
        ++line;
    }
    int units = lstrlenW(line);
    int bytes = WideCharToMultiByte(CP_UTF8, 0, line, units, nullptr, 0, nullptr, nullptr);
    if (size == 0 || bytes < 0 || static_cast<std::size_t>(bytes) >= size) {
        return false;
    }
    WideToUtf8(line, units, buffer, size);
    return true;
}

void ConsoleWrite(const char* text, bool toError) {
    // Redirected to a file or a pipe: the UTF-8 bytes as they are. Else the
    // console, in UTF-16 so Chinese reads right whatever its code page.
    HANDLE standard = GetStdHandle(toError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    bool redirected =
        IsUsable(standard) && GetFileType(standard) != FILE_TYPE_CHAR && GetFileType(standard) != FILE_TYPE_UNKNOWN;
    std::size_t length = std::strlen(text);
    if (!redirected) {
        HANDLE console = ParentConsole();
        if (console != INVALID_HANDLE_VALUE) {
            static wchar_t wide[kTextUnits];
            std::size_t done = 0;
            // In pieces that each fit the buffer, cut between characters.
            while (done < length) {
                std::size_t piece = length - done > kTextUnits - 1 ? kTextUnits - 1 : length - done;
                while (done + piece < length && IsContinuationByte(static_cast<unsigned char>(text[done + piece]))) {
                    --piece;
                }
                int units = MultiByteToWideChar(CP_UTF8, 0, text + done, static_cast<int>(piece), wide, kTextUnits);
                DWORD written = 0;
                if (units <= 0 || !WriteConsoleW(console, wide, static_cast<DWORD>(units), &written, nullptr)) {
                    break;
                }
                done += piece;
            }
            if (done == length) {
                return;
            }
            text += done;
            length -= done;
        }
    }
    if (IsUsable(standard)) {
        WriteAll(standard, text, length);
    }
}

bool ConsoleIsInteractive(bool toError) {
    HANDLE standard = GetStdHandle(toError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    if (IsUsable(standard) && GetFileType(standard) != FILE_TYPE_UNKNOWN) {
        return GetFileType(standard) == FILE_TYPE_CHAR;
    }
    return ParentConsole() != INVALID_HANDLE_VALUE;
}

FileRead ReadStandardInput(char* buffer, std::size_t size, std::size_t* length) {
    *length = 0;
    if (size == 0) {
        return FileRead::TooBig;
    }
    buffer[0] = '\0';
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (!IsUsable(input)) {
        return FileRead::Missing;
    }
    std::size_t done = 0;
    for (;;) {
        if (done + 1 >= size) {
            // Full: the input is too big unless it ends here.
            char probe = 0;
            DWORD read = 0;
            if (ReadFile(input, &probe, 1, &read, nullptr) && read != 0) {
                return FileRead::TooBig;
            }
            break;
        }
        std::size_t room = size - 1 - done;
        DWORD chunk = room > 65536 ? 65536 : static_cast<DWORD>(room);
        DWORD read = 0;
        if (!ReadFile(input, buffer + done, chunk, &read, nullptr)) {
            // The writer closed its end: that is the end of the input.
            if (GetLastError() != ERROR_BROKEN_PIPE) {
                return FileRead::Failed;
            }
            break;
        }
        if (read == 0) {
            break;
        }
        done += read;
    }
    buffer[done] = '\0';
    *length = done;
    return FileRead::Done;
}
