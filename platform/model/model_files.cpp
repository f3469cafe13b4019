// Folders, the program-data folder, files by path and the machine-wide run
// lock, as the tests set them up.
#include <cstring>

#include "platform/model/model_state.h"

using namespace model;

namespace {

std::string FolderKey(const char* path) {
    std::string key = Lowercase(path != nullptr ? path : "");
    while (key.size() > 1 && key.back() == '\\') {
        key.pop_back();
    }
    return key;
}

bool FolderText(bool State::*has, std::string State::*path, char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) {
        return false;
    }
    buffer[0] = '\0';
    std::lock_guard lock(Lock());
    const std::string& text = S().*path;
    // A path cut short names another folder: report it as unavailable instead.
    if (!(S().*has) || text.size() >= size) {
        return false;
    }
    CopyText(text, buffer, size);
    return true;
}

}  // namespace

// ---- folders ----

bool GetWindowsFolder(char* buffer, std::size_t size) {
    return FolderText(&State::hasWindowsFolder, &State::windowsFolder, buffer, size);
}

bool GetSystemFolder(char* buffer, std::size_t size) {
    return FolderText(&State::hasSystemFolder, &State::systemFolder, buffer, size);
}

bool GetCurrentFolder(char* buffer, std::size_t size) {
    return FolderText(&State::hasCurrentFolder, &State::currentFolder, buffer, size);
}

bool FolderExists(const char* path) {
    std::lock_guard lock(Lock());
    return S().folders.count(FolderKey(path)) != 0;
}

// ---- program data, files, machine-wide run lock ----

bool GetProgramDataFolder(char* buffer, std::size_t size) {
    std::lock_guard lock(Lock());
    ++S().programDataLookups;
    if (size == 0 || !S().hasProgramData || S().programData.size() >= size) {
        return false;
    }
    CopyText(S().programData, buffer, size);
    return true;
}

bool CreateFolder(const char* path) {
    ModelAddFolder(path);
    return true;
}

FileRead ReadWholeFile(const char* path, char* buffer, std::size_t size, std::size_t* length) {
    *length = 0;
    std::lock_guard lock(Lock());
    auto found = S().files.find(Lowercase(path));
    if (found == S().files.end()) {
        return FileRead::Missing;
    }
    if (found->second.size() >= size) {
        return FileRead::TooBig;
    }
    std::memcpy(buffer, found->second.data(), found->second.size());
    buffer[found->second.size()] = '\0';
    *length = found->second.size();
    return FileRead::Done;
}

namespace {

// Counts a write; false when writes fail (from now on, or after the ones left).
bool WriteAllowedLocked(const std::string& key, std::size_t length, bool flush) {
    State& s = S();
    if (s.writesLeft == 0) {
        s.failWrites = true;
        s.writesLeft = -1;
    }
    if (s.failWrites) {
        return false;
    }
    if (s.writesLeft > 0) {
        --s.writesLeft;
    }
    s.writes[key].first += length;
    s.writes[key].second += flush ? 1 : 0;
    return true;
}

}  // namespace

bool SaveFileWhole(const char* path, const char* data, std::size_t length) {
    std::lock_guard lock(Lock());
    std::string key = Lowercase(path);
    if (!WriteAllowedLocked(key, length, true)) {
        return false;
    }
    S().files[key] = std::string(data, length);
    return true;
}

bool AppendToFile(const char* path, const char* data, std::size_t length, bool flush) {
    std::lock_guard lock(Lock());
    std::string key = Lowercase(path);
    auto found = S().files.find(key);
    if (found == S().files.end() || !WriteAllowedLocked(key, length, flush)) {
        return false;
    }
    found->second.append(data, length);
    return true;
}

// The lock is free or held by another process for good: nothing to wait for.
bool AcquireRunLock(unsigned) {
    std::lock_guard lock(Lock());
    if (S().lockHeldElsewhere) {
        return false;
    }
    S().lockOwned = true;
    return true;
}

void ReleaseRunLock() {
    std::lock_guard lock(Lock());
    S().lockOwned = false;
}

// ---- model hooks ----

void ModelSetWindowsFolder(const char* path) {
    std::lock_guard lock(Lock());
    S().hasWindowsFolder = path != nullptr;
    S().windowsFolder = path != nullptr ? path : "";
}

unsigned ModelProgramDataLookups() {
    std::lock_guard lock(Lock());
    return S().programDataLookups;
}

void ModelSetProgramDataFolder(const char* path) {
    std::lock_guard lock(Lock());
    S().hasProgramData = path != nullptr;
    S().programData = path != nullptr ? path : "";
}

void ModelSetSystemFolder(const char* path) {
    std::lock_guard lock(Lock());
    S().hasSystemFolder = path != nullptr;
    S().systemFolder = path != nullptr ? path : "";
}

void ModelSetCurrentFolder(const char* path) {
    std::lock_guard lock(Lock());
    S().hasCurrentFolder = path != nullptr;
    S().currentFolder = path != nullptr ? path : "";
}

void ModelAddFolder(const char* path) {
    std::lock_guard lock(Lock());
    S().folders.insert(FolderKey(path));
}

void ModelSetFile(const char* path, const std::string& contents) {
    std::lock_guard lock(Lock());
    S().files[Lowercase(path)] = contents;
}

bool ModelFile(const char* path, std::string* contents) {
    std::lock_guard lock(Lock());
    auto found = S().files.find(Lowercase(path));
    if (found == S().files.end()) {
        return false;
    }
    *contents = found->second;
    return true;
}

void ModelSetFileWritesFail(bool fail) {
    std::lock_guard lock(Lock());
    S().failWrites = fail;
    S().writesLeft = -1;
}

void ModelFailFileWritesAfter(int writes) {
    std::lock_guard lock(Lock());
    S().failWrites = false;
    S().writesLeft = writes;
}

void ModelFileWrites(const char* path, std::size_t* bytes, unsigned* flushes) {
    std::lock_guard lock(Lock());
    auto& counts = S().writes[Lowercase(path)];
    *bytes = counts.first;
    *flushes = counts.second;
}

void ModelSetRunLockHeldElsewhere(bool held) {
    std::lock_guard lock(Lock());
    S().lockHeldElsewhere = held;
}

bool ModelRunLockOwned() {
    std::lock_guard lock(Lock());
    return S().lockOwned;
}
