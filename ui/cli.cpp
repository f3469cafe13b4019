#include "ui/cli.h"

#include <exception>
#include <nlohmann/json.hpp>
#include <string>

#include "comdb/number_usage.h"
#include "core/layouts.h"
#include "core/program.h"
#include "inventory/devmgr.h"
#include "inventory/views.h"
#include "kestrova_version.h"
#include "renumber/claims.h"
#include "resources/strings.h"
#include "services/reporter.h"
#include "text/bounded_text.h"
#include "ui/cli_args.h"

namespace {

constexpr std::size_t kErrorSize = 640;
constexpr std::size_t kLineSize = 4096;

void Print(const char* text) { ConsoleWrite(text, false); }

// Nobody is there to answer: a question is printed with the answer /yes
// gives it, and without /yes it stops what asked it.
class ConsoleReporter final : public Reporter {
public:
    // quiet: standard output is for a program to read, and what a person
    // would read goes to standard error.
    void Start(bool yes, bool quiet) {
        yes_ = yes;
        quiet_ = quiet;
        steps_ = ConsoleIsInteractive(true);
    }

    // The log's lines reach the debugger output; the console gets what a
    // dialog would have shown in a box.
    void LogText(const char*) override {}
    void ProgressRange(int) override {}
    void ProgressPosition(int) override {}
    bool Ask(Question, const char* text) override {
        Line(text);
        if (yes_) {
            Line(kTextAnsweredYes);
            return true;
        }
        Line(kTextNotAnswered);
        return false;
    }
    void Tell(const char* text) override { Line(text); }
    void Output(const char* text) override { ConsoleWrite(text, quiet_); }
    // Only for someone watching: a log or a script gets the report at the end.
    void Step(const char* text) override {
        if (steps_) {
            ConsoleWrite(text, true);
        }
    }

private:
    void Line(const char* text) const {
        ConsoleWrite(text, quiet_);
        ConsoleWrite("\n", quiet_);
    }

    bool yes_ = false;
    bool quiet_ = false;
    bool steps_ = false;
};

ConsoleReporter console;

template <std::size_t N>
std::string Field(const char (&field)[N]) {
    char text[kUtf8Room<N>];
    return FieldText(field, text, sizeof text);
}

// The cards and ports as the adapter list, the status line and the port list
// show them, with each port's name, number and whether it is claimed.
void PrintList(const PortUsageBits& bits) {
    static char line[kLineSize];
    static char text[kLineSize];
    const DeviceTable& cards = ListedCards();
    for (std::uint32_t d = 0; d < cards.count; ++d) {
        const DeviceRecord& card = cards.slots[d];
        FormatCardRow(card, d, text, sizeof text);
        FormatText(line, sizeof line, "%s\n   ", text);
        FormatStatusText(card, text, sizeof text);
        AppendFormat(line, sizeof line, "%s\n", text);
        Print(line);
        for (unsigned j = 0; j < PortRowCount(card); ++j) {
            const PortRecord& port = card.ports[j];
            FormatPortRow(card, j, text, sizeof text);
            FormatText(line, sizeof line, "  %s  %s (%u) %s\n", text, Field(port.portName).c_str(), port.portNumber,
                       IsNumberClaimed(bits, port.portNumber) ? kTextListClaimed : kTextListFree);
            Print(line);
        }
    }
}

// A JSON document for scripts: indented, UTF-8 as it is, one line end after it.
void PrintDocument(const nlohmann::json& document) {
    std::string text = document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
    text += '\n';
    Print(text.c_str());
}

// The category is the command line's, which the parser took from kCategoryWords.
bool PrintJson(const PortUsageBits& bits, int category) {
    using Json = nlohmann::json;
    try {
        const DeviceTable& table = ListedCards();
        Json cards = Json::array();
        for (std::uint32_t d = 0; d < table.count; ++d) {
            const DeviceRecord& card = table.slots[d];
            Json ports = Json::array();
            for (unsigned j = 0; j < PortRowCount(card); ++j) {
                const PortRecord& port = card.ports[j];
                ports.push_back({{"name", Field(port.portName)},
                                 {"number", port.portNumber},
                                 {"claimed", IsNumberClaimed(bits, port.portNumber)},
                                 {"cdc", port.isCdc != 0},
                                 {"label", Field(port.portLabel)},
                                 {"description", Field(port.description)},
                                 {"vendor", Field(port.vendor)}});
            }
            Json path = Json::array();
            for (std::uint16_t element : card.locationPath) {
                path.push_back(element);
            }
            cards.push_back({{"card", d + 1},
                             {"type", Field(card.typeLabel)},
                             {"name", Field(card.deviceName)},
                             {"usbId", Field(card.usbId)},
                             {"locationNumber", card.locationNumber},
                             {"locationText", Field(card.locationText)},
                             {"locationPath", path},
                             {"singlePort", card.singlePort != 0},
                             {"ports", ports}});
        }
        Json root = {{"category", kCategoryWords[category]}, {"cards", cards}};
        PrintDocument(root);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// The classification /list /claims /json writes; too big for a stack.
DeviceTable claimCards;
HolderTable claimHolders;

nlohmann::json HolderJson(unsigned number, bool claimed) {
    const NumberHolder* holder = HolderOf(claimHolders, number);
    nlohmann::json entry = {{"number", number},
                            {"holder", HolderWord(holder != nullptr ? holder->holder : Holder::None)}};
    if (claimed) {
        entry["stale"] = IsStaleClaim(claimHolders, number);
    }
    if (holder == nullptr) {
        return entry;
    }
    if (holder->holder == Holder::Card) {
        const PortRecord& port = claimCards.slots[holder->card].ports[holder->port];
        entry["card"] = holder->card + 1;
        entry["port"] = holder->port + 1;
        entry["name"] = Field(port.portName);
        entry["description"] = holder->device;
    } else {
        entry["device"] = holder->device;
    }
    return entry;
}

// The claims in a form for scripts: every claimed number with its holder,
// then every number a port holds that is not claimed. Card numbers are those
// of /list /category all.
bool PrintClaimsJson() {
    using Json = nlohmann::json;
    try {
        ClassifyMachine(claimCards, claimHolders);
        PortUsageBits bits;
        ReadPortUsage(bits);
        unsigned numbers = 0;
        if (ComDbGetSize(comDb.load(), &numbers) != 0) {
            numbers = kComNumberRows;
        }
        Json claims = Json::array();
        for (unsigned n = 1; n <= kMaxComDbNumbers; ++n) {
            if (IsNumberClaimed(bits, n)) {
                claims.push_back(HolderJson(n, true));
            }
        }
        Json unclaimed = Json::array();
        for (unsigned n = 1; n <= 0xFFFF; ++n) {
            const NumberHolder* holder = HolderOf(claimHolders, n);
            if (holder != nullptr && holder->holder != Holder::Absent && !IsNumberClaimed(bits, n)) {
                unclaimed.push_back(HolderJson(n, false));
            }
        }
        Json root = {{"databaseSize", numbers},
                     {"claims", claims},
                     {"unclaimed", unclaimed},
                     {"complete", !claimHolders.overflow}};
        PrintDocument(root);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

int List(const CliOptions& options) {
    if (options.claims) {
        if (options.json) {
            return PrintClaimsJson() ? kExitDone : kExitPortFailed;
        }
        ShowClaims();
        return kExitDone;
    }
    PortUsageBits bits;
    ReadPortUsage(bits);
    if (options.json) {
        return PrintJson(bits, options.category) ? kExitDone : kExitPortFailed;
    }
    if (ListedCards().count == 0) {
        Print(kTextNoCards);
        return kExitNothingToDo;
    }
    PrintList(bits);
    return kExitDone;
}

int ExitCodeOf(RunOutcome outcome) {
    switch (outcome) {
    case RunOutcome::Done:
        return kExitDone;
    case RunOutcome::PortFailed:
        return kExitPortFailed;
    case RunOutcome::Declined:
        return kExitDeclined;
    case RunOutcome::Busy:
        return kExitBusy;
    case RunOutcome::CardsChanged:
        return kExitCardsChanged;
    case RunOutcome::CardsMissing:
        return kExitLayoutCardMissing;
    case RunOutcome::NothingToDo:
        break;
    }
    return kExitNothingToDo;
}

// The start number the dialog would show once the user chose the card and
// port: the first free number, moved to the port's own number.
int DefaultStart(int card, int port) {
    if (!EnsureComDbOpen()) {
        return kNoRow;  // the start list has no rows
    }
    PortUsageBits bits;
    ReadPortUsage(bits);
    int start = DefaultStartRow(bits, kNoRow, false);
    int row = kNoRow;
    if (StartRowOfPort(ListedCards(), card, port, &row)) {
        start = row < static_cast<int>(kComNumberRows) ? row : kNoRow;
    }
    return start;
}

int Renumber(const CliOptions& options) {
    static char line[kLineSize];
    const DeviceTable& cards = ListedCards();
    if (cards.count == 0) {
        Print(kTextNoCards);
        return kExitNothingToDo;
    }
    int card = options.scope == RenameScope::AllCards ? 1 : options.card;
    if (static_cast<std::uint32_t>(card) > cards.count) {
        FormatText(line, sizeof line, kTextNoSuchCard, card, cards.count);
        Print(line);
        return kExitNothingToDo;
    }
    unsigned ports = PortRowCount(cards.slots[card - 1]);
    int port = options.scope == RenameScope::SelectedPort ? options.port : 1;
    if (static_cast<unsigned>(port) > ports) {
        FormatText(line, sizeof line, kTextNoSuchPort, card, port, ports);
        Print(line);
        return kExitNothingToDo;
    }
    int startRow = DefaultStart(card - 1, port - 1);
    if (options.start != 0 && comDb.load() != InvalidComDb()) {
        startRow = static_cast<int>(options.start) - 1;
    }
    RunRequest request = MakeRunRequest(options.scope, card - 1, port - 1, startRow, options.hubPlan, options.upMask,
                                        options.downMask, ListedCategory(), ListedOrder());
    if (options.preview) {
        if (!PreviewRequest(request)) {
            Print(kTextPreviewRefused);
            return kExitNothingToDo;
        }
        return kExitDone;
    }
    return ExitCodeOf(RenameHere(request));
}

// A layout that cannot be used ends the command with the reason on
// standard error.
bool LoadLayout(const CliOptions& options) {
    static char reason[kLayoutReasonSize];
    static char line[kLayoutReasonSize + 64];
    if (LoadLayoutFile(options.layoutPath, reason, sizeof reason)) {
        return true;
    }
    FormatText(line, sizeof line, kTextLayoutRefused, reason);
    ConsoleWrite(line, true);
    return false;
}

int Export(const CliOptions& options) {
    static char reason[kLayoutReasonSize];
    static char line[kLayoutReasonSize + 64];
    if (!ExportLayout(options.layoutPath, options.dsc, reason, sizeof reason)) {
        FormatText(line, sizeof line, kTextLayoutRefused, reason);
        ConsoleWrite(line, true);
        return kExitBadArguments;
    }
    return kExitDone;
}

// 0 when the machine has the layout, 1 when it differs; a configuration
// resource's test reads the answer from the state and ends with 0.
int Check(const CliOptions& options) {
    if (!LoadLayout(options)) {
        return kExitBadArguments;
    }
    std::string text;
    CheckFormat format = options.dsc ? CheckFormat::DscState : options.json ? CheckFormat::Json : CheckFormat::Text;
    LayoutCheck check = CheckLoadedLayout(format, text);
    Print(text.c_str());
    return options.dsc || (check.differing == 0 && check.missing == 0) ? kExitDone : kExitPortFailed;
}

int Apply(const CliOptions& options) {
    if (!LoadLayout(options)) {
        return kExitBadArguments;
    }
    if (options.preview) {
        if (PreviewLoadedLayout() == 0) {
            console.Tell(kTextLayoutHeld);
        }
        return kExitDone;
    }
    int code = ExitCodeOf(ApplyHere());
    if (options.dsc && (code == kExitDone || code == kExitLayoutCardMissing)) {
        Print(LoadedLayoutState().c_str());
    }
    return code;
}

// A run that ended half-way is mended first, when no other run holds the
// machine; what was done is said on standard error.
void RecoverAtStart() {
    static char text[kErrorSize];
    Recovery recovery;
    bool found = RecoverInterruptedRun(recovery);
    if (recovery.refused) {
        FormatText(text, sizeof text, kTextJournalRefusedAtStart, recovery.reason);
        ConsoleWrite(text, true);
    }
    if (!found) {
        return;
    }
    if (recovery.database) {
        FormatText(text, sizeof text, kTextRecoveredDatabase, recovery.renamed);
    } else if (recovery.missingCards > 0) {
        FormatText(text, sizeof text, kTextRecoveredCardsMissing, recovery.missingCards, recovery.renamed);
    } else if (recovery.undo && recovery.renamed < recovery.ports) {
        FormatText(text, sizeof text, kTextRecoveredUndoUnattended, recovery.renamed);
    } else if (recovery.undo) {
        FormatText(text, sizeof text, kTextRecoveredUndoComplete, recovery.renamed);
    } else {
        FormatText(text, sizeof text, kTextRecoveredUnattended, recovery.renamed);
    }
    ConsoleWrite(text, true);
}

int Execute(const CliOptions& options) {
    ReopenComDb();
    InitDevManagerLib();
    RecoverAtStart();
    if (options.command == CliCommand::List || options.command == CliCommand::Renumber ||
        options.command == CliCommand::Export) {
        ListCards(options.category, options.order);
    }
    switch (options.command) {
    case CliCommand::List:
        return List(options);
    case CliCommand::Renumber:
        return Renumber(options);
    case CliCommand::Undo:
        return ExitCodeOf(UndoHere());
    case CliCommand::Export:
        return Export(options);
    case CliCommand::Check:
        return Check(options);
    case CliCommand::Apply:
        return Apply(options);
    case CliCommand::ReleaseStale:
        return ExitCodeOf(ReleaseStaleHere(options.preview));
    case CliCommand::Help:
    case CliCommand::Version:
        break;
    }
    return kExitDone;
}

}  // namespace

int RunCommandLine(const ArgumentList& arguments) {
    static char error[kErrorSize];
    static char line[kErrorSize + 64];
    const char* pointers[kMaxArguments];
    for (int i = 0; i < arguments.count; ++i) {
        pointers[i] = arguments.text[i];
    }
    static CliOptions options;
    bool parsed = !arguments.overflow && ParseArguments(pointers, arguments.count, options, error, sizeof error);
    if (!parsed) {
        FormatText(line, sizeof line, kTextBadArgument, arguments.overflow ? kCliTooMany : error);
        ConsoleWrite(line, true);
        ConsoleWrite(kTextUsageLine, true);
        return kExitBadArguments;
    }
    if (options.command == CliCommand::Help) {
        Print(kTextUsageLine);
        Print(kTextUsageDetails);
        return kExitDone;
    }
    // For inventory scripts and detection rules: no device library.
    if (options.command == CliCommand::Version) {
        FormatText(line, sizeof line, kTextVersion, KESTROVA_VERSION);
        Print(line);
        return kExitDone;
    }
    console.Start(options.yes, options.dsc);
    InstallReporter(&console);
    int code = Execute(options);
    DeinitDevManagerLib();
    InstallReporter(nullptr);
    return code;
}
