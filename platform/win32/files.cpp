// Folders, the program-data folder, whole files written in one step, and the
// machine-wide run lock.
#include "platform/platform.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <cstring>

#include "platform/win32/win32_internal.h"

namespace win32 {

bool WriteAll(HANDLE handle, const char* data, std::size_t length) {
    while (length > 0) {
        DWORD chunk = length > 65536 ? 65536 : static_cast<DWORD>(length);
        DWORD written = 0;
        if (!WriteFile(handle, data, chunk, &written, nullptr) || written == 0) {
            return false;
        }
        data += written;
        length -= written;
    }
    return true;
}

}  // namespace win32

using namespace win32;

namespace {

bool FolderText(UINT (*query)(wchar_t*, UINT), char* buffer, std::size_t size) {
    if (size == 0) {
        return false;
    }
    buffer[0] = '\0';
    // User-interface thread only; too big for its stack.
    static wchar_t path[kLongUnits];
    UINT units = query(path, kLongUnits);
    if (units == 0 || units >= kLongUnits) {
        return false;
    }
    // A path cut short names another folder: report it as unavailable instead.
    int bytes = WideCharToMultiByte(CP_UTF8, 0, path, static_cast<int>(units), nullptr, 0, nullptr, nullptr);
    if (bytes <= 0 || static_cast<std::size_t>(bytes) >= size) {
        return false;
    }
    WideToUtf8(path, static_cast<int>(units), buffer, size);
    return true;
}

UINT WindowsFolderQuery(wchar_t* path, UINT units) { return GetWindowsDirectoryW(path, units); }
UINT SystemFolderQuery(wchar_t* path, UINT units) { return GetSystemDirectoryW(path, units); }
UINT CurrentFolderQuery(wchar_t* path, UINT units) { return GetCurrentDirectoryW(units, path); }

}  // namespace

// ---- folders ----

bool GetWindowsFolder(char* buffer, std::size_t size) { return FolderText(WindowsFolderQuery, buffer, size); }

bool GetSystemFolder(char* buffer, std::size_t size) { return FolderText(SystemFolderQuery, buffer, size); }

bool GetCurrentFolder(char* buffer, std::size_t size) { return FolderText(CurrentFolderQuery, buffer, size); }

bool FolderExists(const char* path) {
    Wide<kPathUnits> folder(path);
    return GetFileAttributesW(folder.text) != INVALID_FILE_ATTRIBUTES;
}

// ---- program data, files, machine-wide run lock ----

bool GetProgramDataFolder(char* buffer, std::size_t size) {
    if (size == 0) {
        return false;
    }
    buffer[0] = '\0';
    PWSTR path = nullptr;
    if (FAILED(SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &path))) {
        CoTaskMemFree(path);
        return false;
    }
    int units = lstrlenW(path);
    int bytes = WideCharToMultiByte(CP_UTF8, 0, path, units, nullptr, 0, nullptr, nullptr);
    bool fits = units > 0 && bytes > 0 && static_cast<std::size_t>(bytes) < size;
    if (fits) {
        WideToUtf8(path, units, buffer, size);
    }
    CoTaskMemFree(path);
    return fits;
}

bool CreateFolder(const char* path) {
    Wide<kPathUnits> folder(path);
    if (CreateDirectoryW(folder.text, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) {
        DWORD attributes = GetFileAttributesW(folder.text);
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    return false;
}

FileRead ReadWholeFile(const char* path, char* buffer, std::size_t size, std::size_t* length) {
    *length = 0;
    if (size == 0) {
        return FileRead::TooBig;
    }
    buffer[0] = '\0';
    Wide<kPathUnits> name(path);
    HANDLE file = CreateFileW(name.text, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FileRead::Missing : FileRead::Failed;
    }
    LARGE_INTEGER fileSize{};
    FileRead result = FileRead::Done;
    if (!GetFileSizeEx(file, &fileSize)) {
        result = FileRead::Failed;
    } else if (static_cast<unsigned long long>(fileSize.QuadPart) >= size) {
        result = FileRead::TooBig;
    } else {
        auto wanted = static_cast<std::size_t>(fileSize.QuadPart);
        std::size_t done = 0;
        while (done < wanted) {
            DWORD chunk = wanted - done > 65536 ? 65536 : static_cast<DWORD>(wanted - done);
            DWORD read = 0;
            if (!ReadFile(file, buffer + done, chunk, &read, nullptr) || read == 0) {
                break;
            }
            done += read;
        }
        if (done != wanted) {
            result = FileRead::Failed;
            done = 0;
        }
        buffer[done] = '\0';
        *length = done;
    }
    CloseHandle(file);
    return result;
}

bool SaveFileWhole(const char* path, const char* data, std::size_t length) {
    Wide<kPathUnits> name(path);
    wchar_t fresh[kPathUnits + 8];
    int units = lstrlenW(name.text);
    if (units == 0 || units + 5 > kPathUnits) {
        return false;
    }
    std::memcpy(fresh, name.text, static_cast<std::size_t>(units) * sizeof(wchar_t));
    std::memcpy(fresh + units, L".new", 5 * sizeof(wchar_t));
    HANDLE file = CreateFileW(fresh, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool written = WriteAll(file, data, length) && FlushFileBuffers(file);
    CloseHandle(file);
    if (!written || !MoveFileExW(fresh, name.text, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(fresh);
        return false;
    }
    return true;
}

bool AppendToFile(const char* path, const char* data, std::size_t length, bool flush) {
    Wide<kPathUnits> name(path);
    HANDLE file = CreateFileW(name.text, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool written = WriteAll(file, data, length) && (!flush || FlushFileBuffers(file));
    CloseHandle(file);
    return written;
}

namespace {
HANDLE runLock = nullptr;
}  // namespace

bool AcquireRunLock(unsigned waitMs) {
    if (runLock == nullptr) {
        // Global: one run on the machine, whichever session started it.
        runLock = CreateMutexW(nullptr, FALSE, L"Global\\KestrovaRun");
        if (runLock == nullptr) {
            return false;
        }
    }
    // An abandoned lock belonged to a run that ended without releasing it: the
    // journal tells what that run left behind.
    DWORD result = WaitForSingleObject(runLock, waitMs);
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

void ReleaseRunLock() {
    if (runLock != nullptr) {
        ReleaseMutex(runLock);
    }
}
