// Where the description comes from and goes back to: a cards file with its
// change log, or a text in memory.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iterator>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

// ---- the change log ----
//
// A file source keeps each change as one line appended to "<cards file>.log"
// instead of rewriting the whole file, so a change costs the same whatever the
// rig's size. The log's first line names the cards text it was written for
// (its length and hash): a log whose cards file was replaced since, by a fold
// or by hand, is not replayed. Readers replay the log over the cards file; a
// fold writes the result back whole and removes the log.

// A fold once the log outgrows the cards file (and this), so the folds'
// whole-file writes cost no more than the log lines they fold.
constexpr std::size_t kMinFoldBytes = 4096;

// Serialises the cards file and its log between processes: appends, folds
// and reads of both.
class CardsLock {
public:
    explicit CardsLock(const std::string& path) {
#if defined(_WIN32)
        // One mutex a cards file, kept open while the file stays the same:
        // under Wine opening it costs as much as the wait itself.
        static std::string lastPath;
        static HANDLE lastMutex = nullptr;
        if (lastMutex == nullptr || path != lastPath) {
            std::wstring full(32768, L'\0');
            const DWORD length =
                GetFullPathNameW(Wide(path).c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
            full.resize(length < full.size() ? length : 0);
            CharLowerBuffW(full.data(), static_cast<DWORD>(full.size()));
            std::uint64_t hash = 0xcbf29ce484222325u;
            for (const wchar_t c : full) {
                hash = (hash ^ static_cast<std::uint16_t>(c)) * 0x100000001b3u;
            }
            wchar_t name[64];
            std::swprintf(name, std::size(name), L"Local\\KestrovaSimCards-%016llx",
                          static_cast<unsigned long long>(hash));
            if (lastMutex != nullptr) {
                CloseHandle(lastMutex);
            }
            lastMutex = CreateMutexW(nullptr, FALSE, name);
            lastPath = path;
        }
        mutex_ = lastMutex;
        // An abandoned lock is still the lock: its owner's last line may be
        // torn, which readers allow for.
        held_ = mutex_ != nullptr && WaitForSingleObject(mutex_, INFINITE) != WAIT_FAILED;
#else
        const std::size_t slash = path.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
        fd_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        held_ = fd_ >= 0 && flock(fd_, LOCK_EX) == 0;
#endif
    }
    ~CardsLock() {
#if defined(_WIN32)
        if (held_) {
            ReleaseMutex(mutex_);
        }
#else
        if (fd_ >= 0) {
            close(fd_);
        }
#endif
    }
    CardsLock(const CardsLock&) = delete;
    CardsLock& operator=(const CardsLock&) = delete;
    bool Held() const { return held_; }

private:
#if defined(_WIN32)
    HANDLE mutex_ = nullptr;
#else
    int fd_ = -1;
#endif
    bool held_ = false;
};

// The change log open for one change, created when missing: its length, its
// first bytes, and writes at its end, all through one open, so a change costs
// the same on any rig.
class LogFile {
public:
    explicit LogFile(const std::string& path) {
#if defined(_WIN32)
        file_ = CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
        LARGE_INTEGER size = {};
        size_ = file_ != INVALID_HANDLE_VALUE && GetFileSizeEx(file_, &size) ? size.QuadPart : -1;
#else
        fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        struct stat status = {};
        size_ = fd_ >= 0 && fstat(fd_, &status) == 0 ? status.st_size : -1;
#endif
    }
    ~LogFile() {
#if defined(_WIN32)
        if (file_ != INVALID_HANDLE_VALUE) {
            CloseHandle(file_);
        }
#else
        if (fd_ >= 0) {
            close(fd_);
        }
#endif
    }
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;
    // -1 when the file could not be opened.
    long long Size() const { return size_; }
    std::string Head(std::size_t count) const {
        std::string head(count, '\0');
#if defined(_WIN32)
        DWORD got = 0;
        LARGE_INTEGER start = {};
        if (!SetFilePointerEx(file_, start, nullptr, FILE_BEGIN) ||
            !ReadFile(file_, head.data(), static_cast<DWORD>(count), &got, nullptr)) {
            got = 0;
        }
#else
        const ssize_t got = std::max<ssize_t>(pread(fd_, head.data(), count, 0), 0);
#endif
        head.resize(static_cast<std::size_t>(got));
        return head;
    }
    // Cuts the file to size bytes and writes text after them.
    bool WriteAt(long long size, const std::string& text) {
#if defined(_WIN32)
        LARGE_INTEGER at = {};
        at.QuadPart = size;
        bool ok = SetFilePointerEx(file_, at, nullptr, FILE_BEGIN) && (size == size_ || SetEndOfFile(file_));
        for (std::size_t done = 0; ok && done < text.size();) {
            DWORD wrote = 0;
            ok = WriteFile(file_, text.data() + done, static_cast<DWORD>(text.size() - done), &wrote, nullptr) &&
                 wrote > 0;
            done += wrote;
        }
        return ok;
#else
        bool ok = size == size_ || ftruncate(fd_, size) == 0;
        for (std::size_t done = 0; ok && done < text.size();) {
            const ssize_t wrote = pwrite(fd_, text.data() + done, text.size() - done, size + done);
            ok = wrote > 0;
            done += ok ? static_cast<std::size_t>(wrote) : 0;
        }
        return ok;
#endif
    }

private:
#if defined(_WIN32)
    HANDLE file_ = INVALID_HANDLE_VALUE;
#else
    int fd_ = -1;
#endif
    long long size_ = -1;
};

// The cards file and its log as they are now; a missing log is an empty one.
struct OnDisk {
    bool readOk = false;
    std::string text;
    std::string error;
    std::string log;
};

OnDisk ReadDisk(SimState& s, const std::string& path) {
    OnDisk disk;
    std::string logError;
    if (!ReadWholeFile(LogPath(path), disk.log, logError)) {
        disk.log.clear();
        if (errno != ENOENT) {
            Report(s, "%s: cannot be read (%s); changes since the last fold are not seen", LogPath(path).c_str(),
                   logError.c_str());
        }
    }
    disk.readOk = ReadWholeFile(path, disk.text, disk.error);
    return disk;
}

// Makes the cards and log read the current description; a bad one leaves no
// cards. The present flags survive for the cards that still exist when
// keepState is set (a reload after another process changed them); the
// enabled state is the description's own.
bool Apply(SimState& s, OnDisk disk, bool keepState) {
    ++s.generation;
    Description previous = std::move(s.current);
    s.current = Description();
    s.lastReadOk = disk.readOk;
    s.lastText = std::move(disk.text);
    s.logText = std::move(disk.log);
    s.logApplies = false;
    const char* origin = s.loadedFrom.origin.c_str();
    if (!s.lastReadOk) {
        Report(s, "%s: cannot be read (%s); no cards reported", origin, disk.error.c_str());
        return false;
    }
    try {
        s.current = ParseDescription(s, s.lastText);
    } catch (const DescriptionError& e) {
        Report(s, "%s: not a valid card description: %s; no cards reported", origin, e.what());
        return false;
    } catch (const nlohmann::json::exception& e) {
        Report(s, "%s: not a valid card description: %s; no cards reported", origin, e.what());
        return false;
    }
    if (!s.logText.empty()) {
        s.logApplies = s.logText.compare(0, s.logText.find('\n') + 1, LogHeader(s.lastText)) == 0;
        if (s.logApplies) {
            Replay(s, s.current, s.logText);
        } else {
            Report(s, "%s: written for another version of %s; not replayed", LogPath(s.loadedFrom.path).c_str(),
                   origin);
        }
    }
    if (keepState) {
        for (std::size_t i = 0; i < s.current.cards.size() && i < previous.cards.size(); ++i) {
            s.current.cards[i].present = previous.cards[i].present;
        }
    }
    return true;
}

bool Changed(const SimState& s, const OnDisk& disk) {
    return disk.readOk != s.lastReadOk || (disk.readOk && disk.text != s.lastText) || disk.log != s.logText;
}

// Writes the cards as they are now whole and removes the log; the caller
// holds the lock and has the cards as the files give them. A log written for
// another cards text is only removed. On failure the log stays, and with it
// the changes.
void FoldLocked(SimState& s) {
    if (s.logText.empty()) {
        RemoveFile(LogPath(s.loadedFrom.path));  // one left empty by a change that failed
        return;
    }
    if (s.logApplies && s.lastReadOk) {
        const std::string text = s.current.document.dump(2) + "\n";
        if (std::string error; !WriteFileAtomically(s.loadedFrom.path, text, error)) {
            Report(s, "%s: %s; the changes stay in %s", s.loadedFrom.path.c_str(), error.c_str(),
                   LogPath(s.loadedFrom.path).c_str());
            return;
        }
        s.lastText = text;
    }
    RemoveFile(LogPath(s.loadedFrom.path));
    s.logText.clear();
    s.logApplies = false;
}

// Appends one line to the log, starting it afresh when it was written for
// another cards text; a torn last line is cut off first, so that the new line
// cannot complete it into a change nobody made. The caller holds the lock.
bool AppendLine(SimState& s, LogFile& log, const std::string& line, std::string& error) {
    const bool fresh = !s.logApplies;
    const std::size_t keep = fresh ? 0 : s.logText.rfind('\n') + 1;
    const std::string text = fresh ? LogHeader(s.lastText) + line : line;
    if (!log.WriteAt(static_cast<long long>(keep), text)) {
        error = "cannot write " + LogPath(s.loadedFrom.path);
        return false;
    }
    s.logText.resize(keep);
    s.logText += text;
    s.logApplies = true;
    return true;
}

// Whether the log is as this process last read or wrote it: its length and
// its first line.
bool LogAsKnown(const SimState& s, const LogFile& log) {
    const std::size_t headLength = s.logText.find('\n') + 1;
    return log.Size() == static_cast<long long>(s.logText.size()) &&
           log.Head(headLength) == s.logText.substr(0, headLength);
}

bool SameLayout(const Description& a, const Description& b) {
    return a.cards.size() == b.cards.size() &&
           std::equal(a.cards.begin(), a.cards.end(), b.cards.begin(),
                      [](const SimCard& x, const SimCard& y) { return x.ports.size() == y.ports.size(); });
}

// Appends the change to the log under the lock; the caller folds when it
// returns true and the log has outgrown the cards file.
bool LogChange(SimState& s, const Change& change, std::string& error) {
    LogFile log(LogPath(s.loadedFrom.path));
    if (log.Size() < 0) {
        error = "cannot open " + LogPath(s.loadedFrom.path);
        return false;
    }
    if (!LogAsKnown(s, log)) {
        // Another process changed or folded the cards since: take them as
        // they are now. The tables filled before still name the same
        // devices as long as every card keeps its port count.
        const Description before = s.current;
        const std::uint32_t generation = s.generation;
        Apply(s, ReadDisk(s, s.loadedFrom.path), true);
        if (!SameLayout(before, s.current)) {
            error = "the cards changed since the last enumeration";
            return false;
        }
        s.generation = generation;
    }
    if (!s.lastReadOk || !Exists(s.current, change)) {
        error = s.lastReadOk ? "no such device" : "the cards file cannot be read";
        return false;
    }
    if (!AppendLine(s, log, ChangeLine(change), error)) {
        return false;
    }
    ApplyChange(s.current, change);
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
    OnDisk disk;
    if (!source.isFile) {
        disk.readOk = true;
        disk.text = *source.text;
        return Apply(s, std::move(disk), false);
    }
    const CardsLock lock(source.path);
    const bool loaded = Apply(s, ReadDisk(s, source.path), false);
    if (loaded && lock.Held()) {
        FoldLocked(s);
    }
    return loaded;
}

// Sees a change by another process: reloads when the file or its log reads
// differently now.
void RefreshFromFile(SimState& s) {
    if (!s.loadedFrom.isFile) {
        return;
    }
    const CardsLock lock(s.loadedFrom.path);
    if (OnDisk disk = ReadDisk(s, s.loadedFrom.path); Changed(s, disk)) {
        Apply(s, std::move(disk), true);
    }
}

bool SaveChange(SimState& s, const Change& change, std::string& error) {
    if (!s.loadedFrom.isFile) {
        if (!Exists(s.current, change)) {
            error = "no such device";
            return false;
        }
        ApplyChange(s.current, change);
        *s.loadedFrom.text = s.current.document.dump(2) + "\n";
        return true;
    }
    const CardsLock lock(s.loadedFrom.path);
    if (!lock.Held()) {
        error = "cannot lock the cards file against other processes";
        return false;
    }
    if (!LogChange(s, change, error)) {
        return false;
    }
    if (s.logText.size() > std::max(kMinFoldBytes, s.lastText.size())) {
        FoldLocked(s);
    }
    return true;
}

void FoldChanges(SimState& s) {
    if (!s.loadedFrom.isFile) {
        return;
    }
    const CardsLock lock(s.loadedFrom.path);
    if (!lock.Held()) {
        return;
    }
    if (OnDisk disk = ReadDisk(s, s.loadedFrom.path); Changed(s, disk)) {
        Apply(s, std::move(disk), true);
    }
    FoldLocked(s);
}

}  // namespace sim
