// Threads in the in-memory platform: a window operation from another thread
// runs on the window's own thread when that thread pumps, and its caller
// waits for it, as a message sent across threads does in Win32.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "platform/model/model.h"
#include "resources/ids.h"
#include "tests/model/recorder.h"
#include "tests/support/harness.h"

namespace {

constexpr unsigned kPumpTimeoutMs = 10000;

bool IsSet(void* flag) { return static_cast<std::atomic<bool>*>(flag)->load(); }
bool NoThreadRunning(void*) { return ModelRunningThreads() == 0; }

// Whether a call from another thread reached this thread's queue; the bound
// only keeps a broken model from hanging the test.
bool WaitForWaitingCall() {
    auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPumpTimeoutMs);
    while (ModelWaitingCalls() == 0) {
        if (std::chrono::steady_clock::now() > giveUp) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

class ModelThreads : public ::testing::Test {
protected:
    void SetUp() override {
        ModelReset();
        recorder.Clear();
        main = HarnessOpenDialog(IDD_MAIN, RecordingProc);
        ASSERT_NE(main, nullptr);
        recorder.Clear();
    }
    void TearDown() override {
        HarnessPumpUntil(NoThreadRunning, nullptr, kPumpTimeoutMs);
        ModelReset();
    }
    Window main = nullptr;
};

TEST_F(ModelThreads, CallFromAnotherThreadRunsWhenTheOwnerPumpsAndTheCallerWaits) {
    ListAddRow(main, IDC_ADAPTER_LIST, "1: USB");
    ListAddRow(main, IDC_ADAPTER_LIST, "2: PCI");
    ListSelectRow(main, IDC_ADAPTER_LIST, 1);
    std::atomic<bool> returned{false};
    int selection = -2;
    std::jthread worker([&] {
        ClickButton(main, IDC_CLEAR);
        selection = ListGetSelection(main, IDC_ADAPTER_LIST);
        returned = true;
    });

    ASSERT_TRUE(WaitForWaitingCall());
    // Queued for this thread: nothing ran, and the caller is still waiting.
    EXPECT_EQ(recorder.Commands(main), Seen{});
    EXPECT_FALSE(returned);

    ASSERT_TRUE(HarnessPumpUntil(IsSet, &returned, kPumpTimeoutMs));
    worker.join();
    EXPECT_EQ(selection, 1);
    // The click, with the focus it moved, ran on this thread.
    EXPECT_EQ(recorder.Commands(main), (Seen{{IDC_CATEGORY, kSelEndCancel},
                                             {IDC_CATEGORY, kComboKillFocus},
                                             {IDC_CLEAR, kButtonClicked}}));
    for (const Received& r : recorder.All()) {
        EXPECT_EQ(r.thread, std::this_thread::get_id());
    }
    EXPECT_TRUE(HarnessHasFocus(main, IDC_CLEAR));
}

TEST_F(ModelThreads, ClickPostedFromAnotherThreadWaitsForTheOwnersPump) {
    std::thread worker([&] { PostButtonClick(main, IDC_ENUMERATE); });
    worker.join();  // posting does not wait
    EXPECT_EQ(recorder.Commands(main), Seen{});
    HarnessPump();
    ASSERT_FALSE(recorder.Commands(main).empty());
    EXPECT_EQ(recorder.Commands(main).back(), (std::pair<unsigned, unsigned>{IDC_ENUMERATE, kButtonClicked}));
    EXPECT_EQ(recorder.All().back().thread, std::this_thread::get_id());
}

// While a thread waits on a call to another thread's window, calls to its own
// windows still reach it, so two threads calling each other do not lock up.
Window workerDialog = nullptr;
int rowAddedFromMain = -2;

intptr_t KESTROVA_CALLBACK CallsBackProc(Window window, unsigned message, uintptr_t wParam, intptr_t lParam) {
    RecordingProc(window, message, wParam, lParam);
    if (message == kMsgCommand && CommandId(wParam) == IDC_CLEAR && CommandCode(wParam) == kButtonClicked) {
        rowAddedFromMain = ListAddRow(workerDialog, IDC_PORT_LIST, "from the main thread");
    }
    return 0;
}

TEST_F(ModelThreads, WaitingCallerServesCallsToItsOwnWindows) {
    Window calling = HarnessOpenDialog(IDD_MAIN, CallsBackProc);
    std::atomic<bool> done{false};
    int rows = -1;
    std::thread worker([&] {
        workerDialog = HarnessOpenDialog(IDD_MAIN, RecordingProc);
        ClickButton(calling, IDC_CLEAR);
        rows = ListGetCount(workerDialog, IDC_PORT_LIST);
        HarnessCloseDialog(workerDialog);
        done = true;
    });
    ASSERT_TRUE(HarnessPumpUntil(IsSet, &done, kPumpTimeoutMs));
    worker.join();
    EXPECT_EQ(rowAddedFromMain, 0);
    EXPECT_EQ(rows, 1);
}

// A modal dialog's driver pumps: a worker started from it works the dialog
// while the user-interface thread stays inside RunModalDialog.
struct ModalWork {
    Window modal = nullptr;
    int selection = -2;
};

unsigned KESTROVA_CALLBACK WorkTheModal(void* argument) {
    auto* work = static_cast<ModalWork*>(argument);
    ComboAddRow(work->modal, IDC_USAGE_FROM, "COM1");
    ComboAddRow(work->modal, IDC_USAGE_FROM, "COM2");
    ComboSelectRow(work->modal, IDC_USAGE_FROM, 1);
    work->selection = ComboGetSelection(work->modal, IDC_USAGE_FROM);
    ClickButton(work->modal, IDC_USAGE_CLAIM);
    EndModalDialog(work->modal, 7);
    return 0;
}

void DriveWithWorker(Window modal, void* context) {
    auto* work = static_cast<ModalWork*>(context);
    work->modal = modal;
    if (StartThread(WorkTheModal, work)) {
        HarnessPumpUntil(NoThreadRunning, nullptr, kPumpTimeoutMs);
    }
}

TEST_F(ModelThreads, ModalDriverThatPumpsServesAWorker) {
    ModalWork work;
    HarnessSetModalDriver(IDD_USAGE, DriveWithWorker, &work);
    EXPECT_EQ(RunModalDialog(IDD_USAGE, main, RecordingProc), 7);
    EXPECT_EQ(ModelStartedThreads(), 1);
    EXPECT_EQ(work.selection, 1);
    Seen modalCommands = recorder.Commands(work.modal);
    EXPECT_NE(std::find(modalCommands.begin(), modalCommands.end(),
                        std::pair<unsigned, unsigned>{IDC_USAGE_CLAIM, kButtonClicked}),
              modalCommands.end());
    for (const Received& r : recorder.All()) {
        EXPECT_EQ(r.thread, std::this_thread::get_id());
    }
}

struct Gate {
    std::atomic<bool> open{false};
    std::atomic<int> runs{0};
};

unsigned KESTROVA_CALLBACK WaitAtGate(void* argument) {
    auto* gate = static_cast<Gate*>(argument);
    ++gate->runs;
    while (!gate->open) {
        std::this_thread::yield();
    }
    return 0;
}

TEST_F(ModelThreads, StartedThreadsAreCountedUntilTheyReturn) {
    Gate gate;
    ASSERT_TRUE(StartThread(WaitAtGate, &gate));
    EXPECT_EQ(ModelRunningThreads(), 1);
    gate.open = true;
    ASSERT_TRUE(HarnessPumpUntil(NoThreadRunning, nullptr, kPumpTimeoutMs));
    EXPECT_EQ(gate.runs, 1);

    ModelSetStartThreadFails(true);
    EXPECT_FALSE(StartThread(WaitAtGate, &gate));
    EXPECT_EQ(ModelStartedThreads(), 1);
    EXPECT_EQ(gate.runs, 1);
}

TEST_F(ModelThreads, MessageBoxesFromSeveralThreadsTakeOneAnswerEach) {
    constexpr int kThreads = 4;
    constexpr int kBoxesEach = 25;
    constexpr int kScripted = 30;
    for (int i = 0; i < kScripted; ++i) {
        HarnessQueueAnswer(kAnswerNo);
    }
    std::atomic<int> noes{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kBoxesEach; ++i) {
                noes += ShowMessageBox(main, "仍然继续?", " Orvello", kBoxInfoYesNo) == kAnswerNo ? 1 : 0;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(noes, kScripted);
    EXPECT_EQ(HarnessBoxCount(), kThreads * kBoxesEach);
    EXPECT_EQ(HarnessUnscriptedBoxes(), kThreads * kBoxesEach - kScripted);
    EXPECT_NE(ModelBoxAt(0).thread, std::this_thread::get_id());
}

}  // namespace
