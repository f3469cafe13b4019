// A main dialog on the in-memory platform with the card simulator behind it.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "comdb/number_usage.h"
#include "inventory/device_table.h"
#include "inventory/views.h"
#include "platform/model/model.h"
#include "resources/ids.h"
#include "simulator/sim_control.h"
#include "renumber/worker.h"
#include "ui/main_dialog.h"
#include "services/state.h"

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

inline std::string CardJson(const CardSpec& card, int cardIndex) {
    std::string ports;
    for (int j = 0; j < card.ports; ++j) {
        char number[32] = "";
        if (card.fixedNumber >= 0) {
            std::snprintf(number, sizeof number, R"(, "number": %d)", card.fixedNumber);
        }
        char port[320];
        std::snprintf(port, sizeof port,
                      R"(%s{"name": "COM%d"%s, "cdc": %s, "label": "L%d", "description": "Port %d-%d", "vendor": "Vendor%d"})",
                      j == 0 ? "" : ",", card.firstNumber + j, number, j % 2 == 0 ? "true" : "false", j + 1, cardIndex + 1,
                      j + 1, cardIndex + 1);
        ports += port;
    }
    std::string hub;
    for (size_t k = 0; k < card.hubPath.size(); ++k) {
        hub += (k == 0 ? "" : ",") + std::to_string(card.hubPath[k]);
    }
    char head[512];
    std::snprintf(head, sizeof head,
                  R"({"category": "%s", "type": "T%d", "name": "%s %d", "usbId": "USB\\VID_1234&PID_%04d", "locationNumber": %d, "locationText": "Hub_%d", "hubPath": [%s], "singlePort": %s, "ports": [)",
                  card.category, card.ports, card.name, cardIndex + 1, cardIndex + 1, cardIndex + 1, cardIndex + 1,
                  hub.c_str(), card.singlePort ? "true" : "false");
    return head + ports + "]}";
}

inline std::string CardsJson(const std::vector<CardSpec>& cards) {
    std::string json = R"({"statusDelayMs": 0, "cards": [)";
    int index = 0;
    for (const CardSpec& card : cards) {
        json += (index == 0 ? "" : ",") + CardJson(card, index);
        ++index;
    }
    return json + "]}";
}

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        ModelReset();
        SimReset();
        comDb.store(InvalidComDb());
        busyFlag.store(0);
        mainDialog = nullptr;
        ResetDeviceTable();
        ModelSetLocalTime(LocalTime{14, 3, 59, 82});
    }

    void TearDown() override {
        WaitForWorker();
        if (dialog != nullptr && ModelIsWindow(dialog)) {
            ModelSendMessage(dialog, kMsgDestroy, 0, 0);
        }
        ModelReset();
        SimReset();
        mainDialog = nullptr;
    }

    void LoadCards(const std::vector<CardSpec>& cards) { ASSERT_TRUE(SimLoadDescription(CardsJson(cards).c_str())); }

    void OpenMain() {
        dialog = ModelOpenDialog(IDD_MAIN, MainDialogProc);
        ASSERT_NE(dialog, nullptr);
        ASSERT_EQ(mainDialog, dialog);
    }

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
