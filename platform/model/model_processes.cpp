// Threads, started programs, the WoW64 check, the program's arguments and the
// console, as the tests set them up.
#include <cstring>

#include "platform/model/model_state.h"

using namespace model;

namespace {

// Splits like the system's parser for what tests need: blanks separate,
// double quotes group.
std::vector<std::string> SplitArguments(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool quoted = false;
    bool any = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (any) {
                words.push_back(word);
            }
            word.clear();
            any = false;
        } else {
            word += c;
            any = true;
        }
    }
    if (any) {
        words.push_back(word);
    }
    return words;
}

}  // namespace

// ---- threads and programs ----

bool StartThread(ThreadRoutine routine, void* argument) {
    {
        std::lock_guard lock(Lock());
        if (S().startFails || routine == nullptr) {
            return false;
        }
        ++S().runningThreads;
        ++S().startedThreads;
    }
    std::thread([routine, argument] {
        routine(argument);
        std::lock_guard lock(Lock());
        --S().runningThreads;
        Wake().notify_all();
    }).detach();
    return true;
}

unsigned RunProgram(const char* commandLine) {
    std::lock_guard lock(Lock());
    S().runCommands.emplace_back(commandLine != nullptr ? commandLine : "");
    return S().runResult;
}

bool RunProgramAndWait(const char* commandLine, unsigned* exitCode) {
    if (RunProgram(commandLine) < 32) {
        return false;
    }
    std::lock_guard lock(Lock());
    *exitCode = S().exitCode;
    return true;
}

bool QueryWow64(bool* isWow64) {
    std::lock_guard lock(Lock());
    if (isWow64 != nullptr) {
        *isWow64 = S().wow64 > 0;
    }
    return S().wow64 >= 0;
}

// ---- command line, console ----

void GetProgramArguments(ArgumentList& list) {
    list.count = 0;
    list.overflow = false;
    std::lock_guard lock(Lock());
    for (const std::string& word : SplitArguments(S().arguments)) {
        if (list.count == kMaxArguments || word.size() >= kArgumentSize) {
            list.overflow = true;
            return;
        }
        CopyText(word, list.text[list.count], kArgumentSize);
        ++list.count;
    }
}

bool GetArgumentsText(char* buffer, std::size_t size) {
    std::lock_guard lock(Lock());
    if (size == 0 || S().arguments.size() >= size) {
        return false;
    }
    CopyText(S().arguments, buffer, size);
    return true;
}

void ConsoleWrite(const char* text, bool toError) {
    std::lock_guard lock(Lock());
    (toError ? S().consoleErrors : S().console) += text;
}

bool ConsoleIsInteractive(bool toError) {
    std::lock_guard lock(Lock());
    return S().consoleInteractive && (toError || !S().outputRedirected);
}

FileRead ReadStandardInput(char* buffer, std::size_t size, std::size_t* length) {
    std::lock_guard lock(Lock());
    *length = 0;
    if (S().standardInput.size() >= size) {
        return FileRead::TooBig;
    }
    std::memcpy(buffer, S().standardInput.data(), S().standardInput.size());
    buffer[S().standardInput.size()] = '\0';
    *length = S().standardInput.size();
    return FileRead::Done;
}

// ---- model hooks ----

void ModelSetStandardInput(const std::string& text) {
    std::lock_guard lock(Lock());
    S().standardInput = text;
}

void ModelSetConsoleInteractive(bool interactive) {
    std::lock_guard lock(Lock());
    S().consoleInteractive = interactive;
}

void ModelRedirectStandardOutput() {
    std::lock_guard lock(Lock());
    S().outputRedirected = true;
}

int ModelRunningThreads() {
    std::lock_guard lock(Lock());
    return S().runningThreads;
}

int ModelStartedThreads() {
    std::lock_guard lock(Lock());
    return S().startedThreads;
}

void ModelSetStartThreadFails(bool fails) {
    std::lock_guard lock(Lock());
    S().startFails = fails;
}

void ModelSetRunResult(unsigned result) {
    std::lock_guard lock(Lock());
    S().runResult = result;
}

std::vector<std::string> ModelRunCommands() {
    std::lock_guard lock(Lock());
    return S().runCommands;
}

void ModelSetWow64(int state) {
    std::lock_guard lock(Lock());
    S().wow64 = state;
}

void ModelSetArguments(const char* arguments) {
    std::lock_guard lock(Lock());
    S().arguments = arguments != nullptr ? arguments : "";
}

std::string ModelConsoleText(bool errors) {
    std::lock_guard lock(Lock());
    return errors ? S().consoleErrors : S().console;
}

void ModelSetProgramExitCode(unsigned code) {
    std::lock_guard lock(Lock());
    S().exitCode = code;
}
