// The command line run whole through RunKestrova on the in-memory platform,
// over a cards file that keeps the renames after the library is closed.
#pragma once

#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <random>
#include <string>

#include "renumber/journal.h"
#include "tests/logic/program_fixture.h"
#include "ui/entry.h"

class CliTest : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        UseCards({{.ports = 2, .firstNumber = 3}, {.ports = 2, .firstNumber = 5}});
    }
    void TearDown() override {
        ProgramTest::TearDown();
        std::remove(cardsFile.c_str());
    }
    // A cards file, which keeps the renames after the library is closed.
    // With twins the second card is the first's twin: one id, one location.
    void UseCards(std::initializer_list<CardSpec> cards, bool twins = false) {
        nlohmann::json list = nlohmann::json::parse(CardsJson(cards));
        if (twins) {
            list["cards"][1]["usbId"] = list["cards"][0]["usbId"];
            list["cards"][1]["locationText"] = list["cards"][0]["locationText"];
        }
        std::ofstream(cardsFile) << list.dump();
        SimUseCardsFile(cardsFile.c_str());
    }
    int Run(const char* arguments) {
        ModelSetArguments(arguments);
        int code = RunKestrova();
        mainDialog = nullptr;
        return code;
    }
    std::string Out() { return ModelConsoleText(false); }
    std::string Names() {
        std::string names;
        nlohmann::json cards = nlohmann::json::parse(std::ifstream(cardsFile));
        for (const auto& card : cards["cards"]) {
            for (const auto& port : card["ports"]) {
                names += port["name"].get<std::string>() + " ";
            }
        }
        return names;
    }
    bool ReadJournal() {
        std::string text;
        char reason[kJournalReasonSize];
        return ModelFile(kJournalFile, &text) &&
               JournalFromText(text.data(), text.size(), journal, reason, sizeof reason);
    }
    static inline Journal journal;
    // One per process: test programs of several build folders may run at once.
    static inline const std::string cardsFile =
        testing::TempDir() + "cli_test_cards." + std::to_string(std::random_device{}()) + ".json";
};
