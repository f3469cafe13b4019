#include "ui/cli.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <nlohmann/json.hpp>
#include <string>

#include "comdb/number_usage.h"
#include "inventory/device_table.h"
#include "inventory/devmgr.h"
#include "inventory/views.h"
#include "kestrova_version.h"
#include "renumber/worker.h"
#include "resources/ids.h"
#include "resources/strings.h"
#include "services/messages.h"
#include "services/state.h"
#include "text/bounded_text.h"
#include "ui/main_dialog.h"

namespace {

constexpr std::size_t kErrorSize = 640;
constexpr std::size_t kLineSize = 4096;
constexpr HubMask kDefaultDownMask = kHubGroupOn | 0x0F;  // the dialog's: downstream ports 1-4

bool Is(const char* argument, const char* name) {
    if (argument[0] != '/' && argument[0] != '-') {
        return false;
    }
    const char* a = argument + 1;
    for (; *a != '\0' && *name != '\0'; ++a, ++name) {
        char c = *a >= 'A' && *a <= 'Z' ? static_cast<char>(*a - 'A' + 'a') : *a;
        if (c != *name) {
            return false;
        }
    }
    return *a == '\0' && *name == '\0';
}

bool SameWord(const char* text, const char* word) {
    for (; *text != '\0' && *word != '\0'; ++text, ++word) {
        char c = *text >= 'A' && *text <= 'Z' ? static_cast<char>(*text - 'A' + 'a') : *text;
        if (c != *word) {
            return false;
        }
    }
    return *text == '\0' && *word == '\0';
}

// Decimal digits only, 1..limit; *end is where they stop.
bool ReadNumber(const char* text, unsigned limit, unsigned* number, const char** end) {
    unsigned value = 0;
    const char* digit = text;
    while (*digit >= '0' && *digit <= '9') {
        value = value * 10 + static_cast<unsigned>(*digit - '0');
        if (value > limit) {
            return false;
        }
        ++digit;
    }
    *end = digit;
    *number = value;
    return digit != text && value >= 1;
}

bool WholeNumber(const char* text, unsigned limit, unsigned* number) {
    const char* end = nullptr;
    return ReadNumber(text, limit, number, &end) && *end == '\0';
}

// "1,2,3" (hub ports 1..8) or "off".
bool ReadHubPorts(const char* text, HubMask* mask) {
    if (SameWord(text, "off")) {
        *mask = 0;
        return true;
    }
    HubMask ports = kHubGroupOn;
    const char* at = text;
    for (;;) {
        unsigned port = 0;
        const char* end = nullptr;
        if (!ReadNumber(at, kUpPortBoxes.size(), &port, &end)) {
            return false;
        }
        ports = static_cast<HubMask>(ports | 1u << (port - 1));
        if (*end == '\0') {
            break;
        }
        if (*end != ',') {
            return false;
        }
        at = end + 1;
    }
    *mask = ports;
    return true;
}

bool ReadWord(const char* text, const char* const* words, int count, int* index) {
    for (int i = 0; i < count; ++i) {
        if (SameWord(text, words[i])) {
            *index = i;
            return true;
        }
    }
    return false;
}

constexpr const char* kCategoryWords[] = {"all", "usb", "pci", "other"};
constexpr const char* kOrderWords[] = {"position", "ports"};
constexpr const char* kPlanWords[] = {"seq", "hub"};

struct Seen {
    bool command, scope, start, plan, up, down, category, order, json, yes, preview;
};

bool Fail(char* error, std::size_t size, const char* what, const char* argument) {
    FormatText(error, size, "%s%s%s", what, argument[0] != '\0' ? ": " : "", argument);
    return false;
}

// Each option once; those that take a value find it in the next argument.
bool ReadOption(const char* const* arguments, int count, int& i, CliOptions& options, Seen& seen, char* error,
                std::size_t size) {
    const char* argument = arguments[i];
    auto once = [&](bool& flag) {
        if (flag) {
            return Fail(error, size, "重复的参数", argument);
        }
        flag = true;
        return true;
    };
    auto value = [&](const char** text) {
        if (i + 1 >= count) {
            return Fail(error, size, "缺少参数值", argument);
        }
        *text = arguments[++i];
        return true;
    };
    const char* text = nullptr;
    unsigned number = 0;
    if (Is(argument, "help") || Is(argument, "?")) {
        options.command = CliCommand::Help;
        return once(seen.command);
    }
    if (Is(argument, "version")) {
        options.command = CliCommand::Version;
        return once(seen.command);
    }
    if (Is(argument, "list") || Is(argument, "renumber") || Is(argument, "undo")) {
        options.command = Is(argument, "list")   ? CliCommand::List
                          : Is(argument, "undo") ? CliCommand::Undo
                                                 : CliCommand::Renumber;
        return once(seen.command);
    }
    if (Is(argument, "json")) {
        options.json = true;
        return once(seen.json);
    }
    if (Is(argument, "yes")) {
        options.yes = true;
        return once(seen.yes);
    }
    if (Is(argument, "preview")) {
        options.preview = true;
        return once(seen.preview);
    }
    if (Is(argument, "all")) {
        options.scope = RenameScope::AllCards;
        return once(seen.scope);
    }
    if (Is(argument, "card")) {
        options.scope = RenameScope::SelectedCard;
        if (!once(seen.scope) || !value(&text)) {
            return false;
        }
        if (!WholeNumber(text, kMaxDevices, &number)) {
            return Fail(error, size, "/card 需要多串卡序号 1-64", text);
        }
        options.card = static_cast<int>(number);
        return true;
    }
    if (Is(argument, "port")) {
        options.scope = RenameScope::SelectedPort;
        if (!once(seen.scope) || !value(&text)) {
            return false;
        }
        const char* end = nullptr;
        unsigned port = 0;
        if (!ReadNumber(text, kMaxDevices, &number, &end) || *end != ':' || !WholeNumber(end + 1, kMaxPorts, &port)) {
            return Fail(error, size, "/port 需要 多串卡序号:串口序号,如 1:2", text);
        }
        options.card = static_cast<int>(number);
        options.port = static_cast<int>(port);
        return true;
    }
    if (Is(argument, "start")) {
        if (!once(seen.start) || !value(&text)) {
            return false;
        }
        const char* digits = (text[0] == 'C' || text[0] == 'c') && (text[1] == 'O' || text[1] == 'o') &&
                                     (text[2] == 'M' || text[2] == 'm')
                                 ? text + 3
                                 : text;
        if (!WholeNumber(digits, kComNumberRows, &number)) {
            return Fail(error, size, "/start 需要 COM1-COM256", text);
        }
        options.start = number;
        return true;
    }
    int word = 0;
    if (Is(argument, "plan")) {
        if (!once(seen.plan) || !value(&text)) {
            return false;
        }
        if (!ReadWord(text, kPlanWords, 2, &word)) {
            return Fail(error, size, "/plan 需要 seq 或 hub", text);
        }
        options.hubPlan = word == 1;
        return true;
    }
    if (Is(argument, "up") || Is(argument, "down")) {
        bool up = Is(argument, "up");
        if (!once(up ? seen.up : seen.down) || !value(&text)) {
            return false;
        }
        if (!ReadHubPorts(text, up ? &options.upMask : &options.downMask)) {
            return Fail(error, size, "Hub端口需要 1-8 的列表(如 1,2,3,4)或 off", text);
        }
        return true;
    }
    if (Is(argument, "category")) {
        if (!once(seen.category) || !value(&text)) {
            return false;
        }
        if (!ReadWord(text, kCategoryWords, 4, &options.category)) {
            return Fail(error, size, "/category 需要 all, usb, pci 或 other", text);
        }
        return true;
    }
    if (Is(argument, "order")) {
        if (!once(seen.order) || !value(&text)) {
            return false;
        }
        if (!ReadWord(text, kOrderWords, 2, &options.order)) {
            return Fail(error, size, "/order 需要 position 或 ports", text);
        }
        return true;
    }
    return Fail(error, size, "未知参数", argument);
}

// What goes with which command.
bool CheckCombination(const CliOptions& options, const Seen& seen, char* error, std::size_t size) {
    bool renumber = options.command == CliCommand::Renumber;
    if (!seen.command) {
        return Fail(error, size, "需要 /list, /renumber, /preview, /undo 或 /help 之一", "");
    }
    if (options.command == CliCommand::Help) {
        return true;
    }
    if (seen.json && options.command != CliCommand::List) {
        return Fail(error, size, "/json 只用于 /list", "");
    }
    if (seen.preview && !renumber) {
        return Fail(error, size, "/preview 只用于 /renumber", "");
    }
    if (seen.yes && !renumber && options.command != CliCommand::Undo) {
        return Fail(error, size, "/yes 只用于 /renumber 和 /undo", "");
    }
    if ((seen.category || seen.order) && options.command == CliCommand::Undo) {
        return Fail(error, size, "/category 和 /order 不用于 /undo", "");
    }
    if (!renumber) {
        if (seen.scope || seen.start || seen.plan || seen.up || seen.down) {
            return Fail(error, size, "/card, /port, /all, /start, /plan, /up, /down 只用于 /renumber", "");
        }
        return true;
    }
    if (!seen.scope) {
        return Fail(error, size, "/renumber 需要 /card N, /port N:M 或 /all", "");
    }
    if ((seen.up || seen.down) && !options.hubPlan) {
        return Fail(error, size, "/up 和 /down 只用于 /plan hub", "");
    }
    if (options.hubPlan && options.category != kCategoryUsb) {
        return Fail(error, size, "/plan hub 只用于USB多串卡(/category usb)", "");
    }
    if (options.hubPlan && options.scope != RenameScope::SelectedPort && (options.upMask & kHubGroupOn) != 0 &&
        (options.downMask & kHubGroupOn) == 0) {
        return Fail(error, size, kTextUpstreamOnly, "");
    }
    return true;
}

}  // namespace

bool ParseArguments(const char* const* arguments, int count, CliOptions& options, char* error, std::size_t size) {
    options = CliOptions{};
    options.command = CliCommand::Help;
    options.scope = RenameScope::SelectedCard;
    options.downMask = kDefaultDownMask;
    options.category = kCategoryUsb;
    options.order = kOrderByPosition;
    error[0] = '\0';
    Seen seen{};
    for (int i = 0; i < count; ++i) {
        // /preview stands for /renumber ... /preview.
        if (Is(arguments[i], "preview") && !seen.command) {
            options.command = CliCommand::Renumber;
            seen.command = true;
        }
        if (!ReadOption(arguments, count, i, options, seen, error, size)) {
            return false;
        }
    }
    return CheckCombination(options, seen, error, size);
}

namespace {

void Print(const char* text) { ConsoleWrite(text, false); }

template <std::size_t N>
std::string Field(const char (&field)[N]) {
    char text[kUtf8Room<N>];
    return FieldText(field, text, sizeof text);
}

const char* CdcOrVcp(const PortRecord& port) { return port.isCdc != 0 ? "CDC" : "VCP"; }

unsigned PortRows(const DeviceRecord& card) { return card.singlePort != 0 ? 1 : PortCountOf(card); }

// The cards and ports as the adapter list, the port list and the status line
// show them, with each port's number and whether it is claimed.
void PrintList(const PortUsageBits& bits) {
    static char line[kLineSize];
    for (std::uint32_t d = 0; d < deviceTable.count; ++d) {
        const DeviceRecord& card = deviceTable.slots[d];
        unsigned ports = PortCountOf(card);
        FormatText(line, sizeof line, " %u#[%s]:%s\n   PortCnt:%u | USBID:%s | Vendor:%s | Location(%d):%s\n", d + 1,
                   Field(card.typeLabel).c_str(), Field(card.deviceName).c_str(), ports, Field(card.usbId).c_str(),
                   Field(card.ports[0].vendor).c_str(), card.locationNumber, Field(card.locationText).c_str());
        Print(line);
        unsigned rows = PortRows(card);
        for (unsigned j = 0; j < rows; ++j) {
            const PortRecord& port = card.ports[j];
            FormatText(line, sizeof line, "   %u/%u# [%s]: %s  %s (%u) %s\n", j + 1, rows, CdcOrVcp(port),
                       Field(port.description).c_str(), Field(port.portName).c_str(), port.portNumber,
                       IsNumberClaimed(bits, port.portNumber) ? kTextListClaimed : kTextListFree);
            Print(line);
        }
    }
}

bool PrintJson(const PortUsageBits& bits) {
    using Json = nlohmann::json;
    try {
        Json cards = Json::array();
        for (std::uint32_t d = 0; d < deviceTable.count; ++d) {
            const DeviceRecord& card = deviceTable.slots[d];
            Json ports = Json::array();
            unsigned rows = PortRows(card);
            for (unsigned j = 0; j < rows; ++j) {
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
        Json root = {{"category", kCategoryWords[currentCategory >= 0 && currentCategory < 4 ? currentCategory : 0]},
                     {"cards", cards}};
        std::string text = root.dump(2, ' ', false, Json::error_handler_t::replace);
        text += '\n';
        Print(text.c_str());
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void SelectCombo(int id, int row) {
    ComboSelectRow(mainDialog, id, row);
    SendDialogMessage(mainDialog, kMsgCommand, CommandParam(static_cast<unsigned>(id), kComboSelChange), 0);
}

void SelectRow(int id, int row) {
    ListSelectRow(mainDialog, id, row);
    SendDialogMessage(mainDialog, kMsgCommand, CommandParam(static_cast<unsigned>(id), kListSelChange), 0);
}

int ListCards(const CliOptions& options) {
    PortUsageBits bits;
    ReadPortUsage(bits);
    if (options.json) {
        return PrintJson(bits) ? kExitDone : kExitPortFailed;
    }
    if (deviceTable.count == 0) {
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
    case RunOutcome::NothingToDo:
        break;
    }
    return kExitNothingToDo;
}

// The request the dialog would read after the user chose what the arguments
// say: the selection moves the start number as it does in the dialog.
int Renumber(const CliOptions& options) {
    static char line[kLineSize];
    std::uint32_t cards = deviceTable.count;
    if (cards == 0) {
        Print(kTextNoCards);
        return kExitNothingToDo;
    }
    int card = options.scope == RenameScope::AllCards ? 1 : options.card;
    if (static_cast<std::uint32_t>(card) > cards) {
        FormatText(line, sizeof line, kTextNoSuchCard, card, cards);
        Print(line);
        return kExitNothingToDo;
    }
    unsigned ports = PortRows(deviceTable.slots[card - 1]);
    int port = options.scope == RenameScope::SelectedPort ? options.port : 1;
    if (static_cast<unsigned>(port) > ports) {
        FormatText(line, sizeof line, kTextNoSuchPort, card, port, ports);
        Print(line);
        return kExitNothingToDo;
    }
    SelectRow(IDC_ADAPTER_LIST, card - 1);
    SelectRow(IDC_PORT_LIST, port - 1);
    if (options.start != 0) {
        ComboSelectRow(mainDialog, IDC_START_NUMBER, static_cast<int>(options.start) - 1);
    }
    RunRequest request{};
    request.scope = options.scope;
    request.device = card - 1;
    request.port = port - 1;
    request.startRow = ComboGetSelection(mainDialog, IDC_START_NUMBER);
    request.plan.hubMode = options.hubPlan ? 1 : 0;
    request.plan.startIndex = static_cast<std::uint16_t>(request.startRow);
    request.plan.upMask = options.hubPlan ? options.upMask : 0;
    request.plan.downMask = options.hubPlan ? options.downMask : 0;
    request.listedCards = ListedCardCount();
    if (options.preview) {
        if (!PreviewRun(request, true)) {
            Print(kTextPreviewRefused);
            return kExitNothingToDo;
        }
        return kExitDone;
    }
    return ExitCodeOf(RunHere(&request));
}

int Execute(const CliOptions& options) {
    if (options.command != CliCommand::Undo) {
        if (options.category != currentCategory) {
            SelectCombo(IDC_CATEGORY, options.category);
        }
        if (options.order != ComboGetSelection(mainDialog, IDC_ORDER)) {
            SelectCombo(IDC_ORDER, options.order);
        }
    }
    switch (options.command) {
    case CliCommand::List:
        return ListCards(options);
    case CliCommand::Renumber:
        return Renumber(options);
    case CliCommand::Undo:
        return ExitCodeOf(RunHere(nullptr));
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
        FormatText(line, sizeof line, kTextBadArgument, arguments.overflow ? "参数过多或过长" : error);
        ConsoleWrite(line, true);
        ConsoleWrite(kTextUsageLine, true);
        return kExitBadArguments;
    }
    if (options.command == CliCommand::Help) {
        Print(kTextUsageLine);
        Print(kTextUsageDetails);
        return kExitDone;
    }
    // For inventory scripts and detection rules: no window, no device library.
    if (options.command == CliCommand::Version) {
        FormatText(line, sizeof line, kTextVersion, KESTROVA_VERSION);
        Print(line);
        return kExitDone;
    }
    SetUnattended(options.yes);
    Window dialog = CreateHiddenDialog(IDD_MAIN, MainDialogProc);
    if (dialog == nullptr) {
        return kExitPortFailed;
    }
    FillStartNumbers(false);
    int code = Execute(options);
    // A question without /yes stops the run: that decides the code.
    if (QuestionDeclined() && code == kExitNothingToDo) {
        code = kExitDeclined;
    }
    DestroyDialog(dialog);
    return code;
}
