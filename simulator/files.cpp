// Where the description comes from and goes back to: a file, read and
// saved whole, or a text in memory.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#include <cstdlib>
#endif

#include "simulator/sim_state.h"

namespace sim {

namespace {

// ---- files ----

// Paths are UTF-8 everywhere; on Windows they go to the wide functions, so a
// path outside the ANSI code page works too.
#if defined(_WIN32)
std::wstring Wide(const std::string& utf8) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(std::max(length, 0)), L'\0');
    if (length > 0) {
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
    }
    return wide;
}

std::string Utf8(const wchar_t* wide, int wideLength) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide, wideLength, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(std::max(length, 0)), '\0');
    if (length > 0) {
        WideCharToMultiByte(CP_UTF8, 0, wide, wideLength, utf8.data(), length, nullptr, nullptr);
    }
    return utf8;
}
#endif

std::FILE* OpenFile(const std::string& path, bool forWriting) {
#if defined(_WIN32)
    return _wfopen(Wide(path).c_str(), forWriting ? L"wb" : L"rb");
#else
    return std::fopen(path.c_str(), forWriting ? "wb" : "rb");
#endif
}

void RemoveFile(const std::string& path) {
#if defined(_WIN32)
    _wremove(Wide(path).c_str());
#else
    std::remove(path.c_str());
#endif
}

bool ReadWholeFile(const std::string& path, std::string& text, std::string& error) {
    std::FILE* file = OpenFile(path, false);
    if (file == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    text.clear();
    char chunk[16384];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        text.append(chunk, got);
    }
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    if (!ok) {
        error = "read error";
    }
    return ok;
}

// Writes a temporary file beside path and renames it over path, so a reader
// never sees half a description.
bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& error) {
#if defined(_WIN32)
    const unsigned long pid = GetCurrentProcessId();
#else
    const unsigned long pid = static_cast<unsigned long>(getpid());
#endif
    const std::string temporary = path + ".tmp" + std::to_string(pid);
    std::FILE* file = OpenFile(temporary, true);
    if (file == nullptr) {
        error = std::string("cannot create ") + temporary + ": " + std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        error = std::string("cannot write ") + temporary;
        RemoveFile(temporary);
        return false;
    }
#if defined(_WIN32)
    const std::wstring from = Wide(temporary);
    ok = MoveFileExW(from.c_str(), Wide(path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!ok) {
        error = "cannot replace the file (error " + std::to_string(GetLastError()) + ")";
    }
#else
    ok = std::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) {
        error = std::string("cannot replace the file: ") + std::strerror(errno);
    }
#endif
    if (!ok) {
        RemoveFile(temporary);
    }
    return ok;
}

std::string EnvironmentCardsPath() {
#if defined(_WIN32)
    // The process environment itself: the program's C runtime has its own copy.
    wchar_t path[4096];
    const DWORD length = GetEnvironmentVariableW(L"KESTROVA_SIM_CARDS", path, std::size(path));
    return length > 0 && length < std::size(path) ? Utf8(path, static_cast<int>(length)) : std::string();
#else
    const char* path = std::getenv("KESTROVA_SIM_CARDS");
    return path != nullptr ? std::string(path) : std::string();
#endif
}

// Makes text the current description; a bad one leaves no cards. The
// present flags survive for the cards that still exist when keepState is set
// (a reload after another process saved the file); the enabled state is the
// description's own.
bool ApplyText(SimState& s, bool readOk, const std::string& text, const std::string& readError, bool keepState) {
    ++s.generation;
    Description previous = std::move(s.current);
    s.current = Description();
    const char* origin = s.loadedFrom.origin.c_str();
    if (!readOk) {
        Report(s, "%s: cannot be read (%s); no cards reported", origin, readError.c_str());
        return false;
    }
    try {
        s.current = ParseDescription(s, text);
    } catch (const DescriptionError& e) {
        Report(s, "%s: not a valid card description: %s; no cards reported", origin, e.what());
        return false;
    } catch (const nlohmann::json::exception& e) {
        Report(s, "%s: not a valid card description: %s; no cards reported", origin, e.what());
        return false;
    }
    if (keepState) {
        for (std::size_t i = 0; i < s.current.cards.size() && i < previous.cards.size(); ++i) {
            s.current.cards[i].present = previous.cards[i].present;
        }
    }
    return true;
}

}  // namespace

Source CurrentSource(SimState& s) {
    Source source;
    if (s.haveOverrideText) {
        source.text = &s.overrideText;
        source.origin = "the test's description";
    } else if (s.haveOverridePath) {
        source.isFile = true;
        source.path = s.overridePath;
    } else if (std::string path = EnvironmentCardsPath(); !path.empty()) {
        source.isFile = true;
        source.path = path;
    } else {
        source.text = &s.benchText;
        source.origin = "the built-in bench";
    }
    if (source.isFile) {
        source.origin = source.path;
    }
    return source;
}

bool LoadFrom(SimState& s, const Source& source) {
    s.loadedFrom = source;
    std::string text;
    std::string error;
    bool readOk = true;
    if (source.isFile) {
        readOk = ReadWholeFile(source.path, text, error);
    } else {
        text = *source.text;
    }
    s.lastReadOk = readOk;
    s.lastText = text;
    return ApplyText(s, readOk, text, error, false);
}

// Sees a save by another process: reloads when the file reads differently now.
void RefreshFromFile(SimState& s) {
    if (!s.loadedFrom.isFile) {
        return;
    }
    std::string text;
    std::string error;
    const bool readOk = ReadWholeFile(s.loadedFrom.path, text, error);
    if (readOk == s.lastReadOk && (!readOk || text == s.lastText)) {
        return;
    }
    s.lastReadOk = readOk;
    s.lastText = text;
    ApplyText(s, readOk, text, error, true);
}

// Makes next the description and saves it where it came from: the file,
// atomically, or the built-in text.
bool SaveDocument(SimState& s, Json next, std::string& error) {
    const std::string text = next.dump(2) + "\n";
    if (s.loadedFrom.isFile) {
        if (!WriteFileAtomically(s.loadedFrom.path, text, error)) {
            return false;
        }
        s.lastReadOk = true;
        s.lastText = text;
    } else {
        *s.loadedFrom.text = text;
    }
    s.current.document = std::move(next);
    return true;
}

}  // namespace sim
