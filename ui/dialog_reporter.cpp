#include "ui/dialog_reporter.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>

#include "resources/ids.h"
#include "resources/strings.h"
#include "services/log.h"
#include "services/reporter.h"
#include "ui/log_edit.h"

namespace {

enum class Kind : std::uint8_t { Text, Range, Position };

// A queued report: its header, then for a text its bytes and terminator.
struct Header {
    Kind kind;
    int value;             // range or position
    std::uint32_t length;  // of the text
};

// Room for the biggest single text (a whole log block) and then some.
constexpr std::size_t kQueueSize = 1024 * 1024;
static_assert(kQueueSize >= sizeof(Header) + kLogBlockSize + 1);

struct Queue {
    char bytes[kQueueSize];
    std::size_t used;
};

// Filled by other threads under the mutex; emptied into shown by the
// dialog's thread, which then works through it without the mutex.
std::mutex queueMutex;
std::condition_variable queueRoom;
Queue queued;
Queue shown;

Window dialog = nullptr;
std::atomic<Window> boxOwner{nullptr};
std::thread::id dialogThread;

// A box another thread waits for: a question, or information (tell).
struct QueuedQuestion {
    bool tell;
    Question kind;
    const char* text;
    bool goOn;
};

bool OnDialogThread() { return std::this_thread::get_id() == dialogThread; }

void Show(const Header& header, const char* text) {
    switch (header.kind) {
    case Kind::Text:
        AppendToLogEdit(dialog, IDC_LOG, text);
        break;
    case Kind::Range:
        ProgressSetRange(dialog, IDC_PROGRESS, header.value);
        break;
    case Kind::Position:
        ProgressSetPos(dialog, IDC_PROGRESS, header.value);
        break;
    }
}

// Waits while the queue has no room: the dialog empties it soon.
void Enqueue(Kind kind, int value, const char* text) {
    std::size_t length = text != nullptr ? std::strlen(text) : 0;
    if (length > kLogBlockSize) {
        length = kLogBlockSize;
    }
    Header header{kind, value, static_cast<std::uint32_t>(length)};
    std::size_t size = sizeof header + (text != nullptr ? length + 1 : 0);
    bool wasEmpty = false;
    {
        std::unique_lock lock(queueMutex);
        queueRoom.wait(lock, [&] { return kQueueSize - queued.used >= size; });
        wasEmpty = queued.used == 0;
        std::memcpy(queued.bytes + queued.used, &header, sizeof header);
        if (text != nullptr) {
            std::memcpy(queued.bytes + queued.used + sizeof header, text, length);
            queued.bytes[queued.used + sizeof header + length] = '\0';
        }
        queued.used += size;
    }
    if (wasEmpty) {
        PostDialogMessage(dialog, kMsgReportsQueued, 0, 0);
    }
}

// On the dialog's thread: a report of its own comes after everything queued.
void Deliver(Kind kind, int value, const char* text) {
    if (OnDialogThread()) {
        ShowQueuedReports();
        Show(Header{kind, value, 0}, text);
    } else {
        Enqueue(kind, value, text);
    }
}

bool Answer(Question kind, const char* text) {
    unsigned box = kind == Question::WarningGoOn ? kBoxWarningOkCancel : kBoxInfoYesNo;
    int answer = ShowProgramBox(boxOwner.load(), text, box);
    switch (kind) {
    case Question::GoOn:
        return answer == kAnswerYes;
    case Question::Abandon:
        return answer != kAnswerYes;
    case Question::WarningGoOn:
        return answer == kAnswerOk;
    }
    return false;
}

bool Box(QueuedQuestion question) {
    if (OnDialogThread()) {
        AnswerQueuedQuestion(reinterpret_cast<intptr_t>(&question));
    } else {
        SendDialogMessage(dialog, kMsgAskUser, 0, reinterpret_cast<intptr_t>(&question));
    }
    return question.goOn;
}

class DialogReporter final : public Reporter {
public:
    void LogText(const char* text) override { Deliver(Kind::Text, 0, text); }
    void ProgressRange(int maximum) override { Deliver(Kind::Range, maximum, nullptr); }
    void ProgressPosition(int position) override { Deliver(Kind::Position, position, nullptr); }
    bool Ask(Question kind, const char* text) override { return Box(QueuedQuestion{false, kind, text, false}); }
    void Tell(const char* text) override { Box(QueuedQuestion{true, Question::GoOn, text, false}); }
    void Output(const char* text) override { LogText(text); }
};

DialogReporter reporter;

}  // namespace

void InstallDialogReporter(Window window) {
    dialog = window;
    boxOwner.store(window);
    dialogThread = std::this_thread::get_id();
    std::lock_guard lock(queueMutex);
    queued.used = 0;
    InstallReporter(&reporter);
}

void ShowQueuedReports() {
    {
        std::lock_guard lock(queueMutex);
        std::memcpy(shown.bytes, queued.bytes, queued.used);
        shown.used = queued.used;
        queued.used = 0;
    }
    queueRoom.notify_all();
    for (std::size_t at = 0; at < shown.used;) {
        Header header;
        std::memcpy(&header, shown.bytes + at, sizeof header);
        const char* text = shown.bytes + at + sizeof header;
        Show(header, text);
        at += sizeof header + (header.kind == Kind::Text ? header.length + 1 : 0);
    }
    shown.used = 0;
}

void AnswerQueuedQuestion(intptr_t question) {
    ShowQueuedReports();
    auto* asked = reinterpret_cast<QueuedQuestion*>(question);
    if (asked->tell) {
        ShowProgramBox(boxOwner.load(), asked->text, kBoxInfoOk);
    } else {
        asked->goOn = Answer(asked->kind, asked->text);
    }
}

void SetBoxOwner(Window owner) { boxOwner.store(owner != nullptr ? owner : dialog); }

int ShowProgramBox(Window owner, const char* text, unsigned kind) {
    return ShowMessageBox(owner, text, kBoxCaption, kind);
}
