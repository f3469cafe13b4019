// Kernel services: the local time (fixed by a test or the real one), debugger
// output kept for the tests, error codes and their texts, pauses recorded
// instead of slept, and the device-manager library's texts.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/model/model_state.h"

using namespace model;

// ---- kernel services ----

LocalTime GetLocalTimeNow() {
    {
        std::lock_guard lock(Lock());
        if (S().fixedTime) {
            return S().time;
        }
    }
    auto now = std::chrono::system_clock::now();
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    return LocalTime{local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(milliseconds)};
}

// Kept for the tests; with KESTROVA_DEBUG_STDERR set it also goes to standard
// error, the native stand-in for the debugger output.
void DebugOutput(const char* text) {
    if (text == nullptr) {
        return;
    }
    {
        std::lock_guard lock(Lock());
        S().debugText += text;
    }
    if (std::getenv("KESTROVA_DEBUG_STDERR") != nullptr) {
        std::fputs(text, stderr);
    }
}

unsigned GetLastErrorCode() { return lastError; }

void SetLastErrorCode(unsigned code) { lastError = code; }

void GetErrorText(unsigned code, char* buffer, std::size_t size) {
    const char* text = "";
    switch (code) {
    case 2:
        text = "The system cannot find the file specified.\r\n";
        break;
    case 5:
        text = "Access is denied.\r\n";
        break;
    case 32:
        text = "The process cannot access the file because it is being used by another process.\r\n";
        break;
    default:
        break;
    }
    CopyText(text, buffer, size);
}

// Recorded, not slept: tests check the pauses without waiting for them.
void SleepMs(unsigned milliseconds) {
    {
        std::lock_guard lock(Lock());
        S().sleeps.push_back(milliseconds);
    }
    std::this_thread::yield();
}

// The library's texts are taken as UTF-8 already (the card simulator writes
// them so). Reads at most width bytes, stopping at a NUL.
void LibraryTextToUtf8(const char* field, std::size_t width, char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) {
        return;
    }
    buffer[0] = '\0';
    if (field == nullptr) {
        return;
    }
    CopyText(std::string_view(field, strnlen(field, width)), buffer, size);
}

// ---- model hooks ----

void ModelSetLocalTime(LocalTime time) {
    std::lock_guard lock(Lock());
    S().fixedTime = true;
    S().time = time;
}

std::string ModelDebugText() {
    std::lock_guard lock(Lock());
    return S().debugText;
}

void ModelClearDebugText() {
    std::lock_guard lock(Lock());
    S().debugText.clear();
}

std::vector<unsigned> ModelSleeps() {
    std::lock_guard lock(Lock());
    return S().sleeps;
}
