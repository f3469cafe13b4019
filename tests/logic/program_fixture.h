// A main dialog on the in-memory platform with the card simulator behind it.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "comdb/number_usage.h"
#include "core/program.h"
#include "inventory/device_table.h"
#include "inventory/views.h"
#include "platform/model/model.h"
#include "renumber/journal.h"
#include "renumber/worker.h"
#include "resources/ids.h"
#include "services/reporter.h"
#include "simulator/sim_control.h"
#include "ui/main_dialog.h"
#include "ui/main_views.h"

// One card of a simulated description.
struct CardSpec {
    const char* category = "usb";
    int ports = 2;
    int firstNumber = 3;
    std::vector<int> hubPath = {};
    bool singlePort = false;
    const char* name = "Test card";
    int fixedNumber = -1;  // >= 0: every port reports this number
};

inline nlohmann::json CardJson(const CardSpec& card, int index) {
    const std::string card1 = std::to_string(index + 1);
    nlohmann::json ports = nlohmann::json::array();
    for (int j = 0; j < card.ports; ++j) {
        nlohmann::json port = {{"name", "COM" + std::to_string(card.firstNumber + j)},
                               {"cdc", j % 2 == 0},
                               {"label", "L" + std::to_string(j + 1)},
                               {"vendor", "Vendor" + card1},
                               {"description", "Port " + card1 + "-" + std::to_string(j + 1)}};
        if (card.fixedNumber >= 0)
            port["number"] = card.fixedNumber;
        ports.push_back(port);
    }
    char usbId[32];
    std::snprintf(usbId, sizeof usbId, "USB\\VID_1234&PID_%04d", index + 1);
    return {{"category", card.category},
            {"type", "T" + std::to_string(card.ports)},
            {"name", std::string(card.name) + " " + card1},
            {"usbId", usbId},
            {"locationNumber", index + 1},
            {"locationText", "Hub_" + card1},
            {"hubPath", card.hubPath},
            {"singlePort", card.singlePort},
            {"ports", ports}};
}

inline std::string CardsJson(const std::vector<CardSpec>& cards) {
    nlohmann::json list = nlohmann::json::array();
    for (std::size_t i = 0; i < cards.size(); ++i)
        list.push_back(CardJson(cards[i], static_cast<int>(i)));
    return nlohmann::json{{"statusDelayMs", 0}, {"cards", list}}.dump();
}

// What the core reports, as a front end would get it: every report one
// event ("log:", "range:", "pos:", "ask:", "tell:", "out:" and its text or
// value), questions answered from a queue (go on when it is empty, counted as
// unscripted). Library calls can be put among them from a simulator hook.
class TestReporter final : public Reporter {
public:
    void LogText(const char* text) override {
        std::lock_guard lock(mutex_);
        log_ += text;
    }
    void ProgressRange(int maximum) override { Add("range:" + std::to_string(maximum)); }
    void ProgressPosition(int position) override { Add("pos:" + std::to_string(position)); }
    bool Ask(Question, const char* text) override {
        Add(std::string("ask:") + text);
        std::lock_guard lock(mutex_);
        if (answers_.empty()) {
            ++unscripted_;
            return true;
        }
        bool goOn = answers_.front();
        answers_.pop_front();
        return goOn;
    }
    void Tell(const char* text) override { Add(std::string("tell:") + text); }
    void Output(const char* text) override {
        std::lock_guard lock(mutex_);
        output_ += text;
    }
    void Add(const std::string& event) {
        std::lock_guard lock(mutex_);
        events_.push_back(event);
    }
    void Answer(bool goOn) { answers_.push_back(goOn); }
    void Clear() {
        std::lock_guard lock(mutex_);
        events_.clear();
        answers_.clear();
        log_.clear();
        output_.clear();
        unscripted_ = 0;
    }
    // The events that start with prefix ("ask:", "tell:"), without it.
    std::vector<std::string> Events(const std::string& prefix) const {
        std::vector<std::string> found;
        for (const std::string& e : events_) {
            if (e.compare(0, prefix.size(), prefix) == 0) {
                found.push_back(e.substr(prefix.size()));
            }
        }
        return found;
    }
    const std::vector<std::string>& All() const { return events_; }
    const std::string& Log() const { return log_; }
    const std::string& Output() const { return output_; }
    int Unscripted() const { return unscripted_; }

private:
    std::mutex mutex_;
    std::vector<std::string> events_;
    std::deque<bool> answers_;
    std::string log_;
    std::string output_;
    int unscripted_ = 0;
};

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        ModelReset();
        SimReset();
        comDb.store(InvalidComDb());
        busyFlag.store(0);
        mainDialog = nullptr;
        InstallReporter(nullptr);
        ModelSetLocalTime(LocalTime{14, 3, 59, 82});
    }

    void TearDown() override {
        WaitForWorker();
        if (dialog != nullptr && ModelIsWindow(dialog)) {
            ModelSendMessage(dialog, kMsgDestroy, 0, 0);
        }
        InstallReporter(nullptr);
        ModelReset();
        SimReset();
        mainDialog = nullptr;
    }

    void LoadCards(const std::vector<CardSpec>& cards) { ASSERT_TRUE(SimLoadDescription(CardsJson(cards).c_str())); }
    static void LoadJson(const nlohmann::json& description) {
        ASSERT_TRUE(SimLoadDescription(description.dump().c_str()));
    }

    void OpenMain(const std::vector<CardSpec>& cards) {
        LoadCards(cards);
        OpenMain();
    }
    void OpenMain() {
        dialog = ModelOpenDialog(IDD_MAIN, MainDialogProc);
        ASSERT_NE(dialog, nullptr);
        ASSERT_EQ(mainDialog, dialog);
        PumpStartLog();
    }
    // The loop runs until the log has taken the start's text.
    void PumpStartLog() { ASSERT_TRUE(ModelPumpUntil(NoTimer, nullptr, 60000)); }
    static bool NoTimer(void*) { return ModelTimerCount() == 0; }

    static bool NoWorker(void*) { return ModelRunningThreads() == 0; }
    void WaitForWorker() { ASSERT_TRUE(ModelPumpUntil(NoWorker, nullptr, 60000)) << "worker did not end"; }

    // Presses Change and pumps until the run has ended.
    void RunChange() {
        ClickButton(dialog, IDC_CHANGE);
        WaitForWorker();
    }

    void SelectCard(int row) {
        ListSelectRow(dialog, IDC_ADAPTER_LIST, row);
        ModelSendMessage(dialog, kMsgCommand, CommandParam(IDC_ADAPTER_LIST, kListSelChange), 0);
    }
    void SelectPort(int row) {
        ListSelectRow(dialog, IDC_PORT_LIST, row);
        ModelSendMessage(dialog, kMsgCommand, CommandParam(IDC_PORT_LIST, kListSelChange), 0);
    }
    void SelectStart(unsigned number) { ComboSelectRow(dialog, IDC_START_NUMBER, static_cast<int>(number) - 1); }
    void SelectCombo(int id, int row) {
        ComboSelectRow(dialog, id, row);
        ModelSendMessage(dialog, kMsgCommand, CommandParam(static_cast<unsigned>(id), kComboSelChange), 0);
    }

    std::string Log() {
        std::string text;
        ModelControlText(dialog, IDC_LOG, &text);
        return text;
    }
    std::string ListRow(int id, int row) {
        std::string text;
        EXPECT_TRUE(ModelListRow(dialog, id, row, &text)) << "no row " << row << " in " << id;
        return text;
    }
    std::string Status() {
        std::string text;
        ModelStatusText(dialog, IDC_STATUS, &text);
        return text;
    }
    std::vector<std::string> BoxTexts() {
        std::vector<std::string> texts;
        for (int i = 0; i < ModelBoxCount(); ++i) {
            texts.push_back(ModelBoxAt(i).text);
        }
        return texts;
    }

    Window dialog = nullptr;
};

inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
inline int Occurrences(const std::string& text, const std::string& part) {
    int count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

constexpr char kJournalFile[] = "C:\\ProgramData\\Kestrova\\journal.json";

// A journal of a rename over two cards: card 1 port 1 renamed COM3 to COM20,
// card 1 port 2 (COM4 to COM21) not yet, card 2 port 64 (COM300 to COM22) not yet.
inline Journal& SampleJournal() {
    static Journal journal;
    journal = Journal{};
    journal.kind = JournalKind::Rename;
    journal.cardCount = 2;
    std::snprintf(journal.cards[0].usbId, kJournalIdSize, "USB\\VID_1234&PID_0001");
    std::snprintf(journal.cards[0].location, kJournalLocationSize, "Hub_1");
    std::snprintf(journal.cards[1].usbId, kJournalIdSize, "PCI\\VEN_1A2B");
    std::snprintf(journal.cards[1].location, kJournalLocationSize, "插槽 2");
    journal.portCount = 3;
    journal.ports[0] = JournalPort{0, 0, 3, 20, true, "COM3", 0};
    journal.ports[1] = JournalPort{0, 1, 4, 21, false, "COM4", 0};
    journal.ports[2] = JournalPort{1, 63, 300, 22, false, "COM300", 0};
    return journal;
}

inline std::string JournalText(const Journal& journal) {
    static char text[kJournalFileSize];
    return std::string(text, JournalToText(journal, text, sizeof text));
}
