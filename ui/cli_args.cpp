#include "ui/cli_args.h"

#include <array>
#include <cstdint>
#include <string_view>

#include "comdb/number_usage.h"
#include "inventory/device_table.h"
#include "inventory/devmgr.h"
#include "resources/strings.h"
#include "text/bounded_text.h"

namespace {

enum class Option : std::uint8_t {
    Help,
    Version,
    List,
    Renumber,
    Undo,
    ReleaseStale,
    Export,
    Check,
    Apply,
    Dsc,
    Preview,
    Json,
    Claims,
    Yes,
    All,
    Card,
    Port,
    Start,
    Plan,
    Up,
    Down,
    Category,
    Order,
};

// Options that exclude each other share a slot: one command, one scope.
enum Slot : std::uint8_t {
    kSlotCommand,
    kSlotPreview,
    kSlotJson,
    kSlotClaims,
    kSlotDsc,
    kSlotYes,
    kSlotScope,
    kSlotStart,
    kSlotPlan,
    kSlotUp,
    kSlotDown,
    kSlotCategory,
    kSlotOrder,
    kSlotCount,
};

// The commands an option goes with.
enum : unsigned {
    kWithList = 1,
    kWithRenumber = 2,
    kWithUndo = 4,
    kWithExport = 8,
    kWithCheck = 16,
    kWithApply = 32,
    kWithRelease = 64,
    kWithLayouts = kWithExport | kWithCheck | kWithApply,
    kWithAll = 127,
};

struct OptionEntry {
    std::string_view name;
    Option option;
    Slot slot;
    bool takesValue;
    unsigned with;
    const char* notWith;  // the refusal with any other command
};

constexpr OptionEntry kOptions[] = {
    {"help", Option::Help, kSlotCommand, false, kWithAll, nullptr},
    {"?", Option::Help, kSlotCommand, false, kWithAll, nullptr},
    {"version", Option::Version, kSlotCommand, false, kWithAll, nullptr},
    {"list", Option::List, kSlotCommand, false, kWithAll, nullptr},
    {"renumber", Option::Renumber, kSlotCommand, false, kWithAll, nullptr},
    {"undo", Option::Undo, kSlotCommand, false, kWithAll, nullptr},
    {"release-stale", Option::ReleaseStale, kSlotCommand, false, kWithAll, nullptr},
    {"export", Option::Export, kSlotCommand, true, kWithAll, nullptr},
    {"check", Option::Check, kSlotCommand, true, kWithAll, nullptr},
    {"apply", Option::Apply, kSlotCommand, true, kWithAll, nullptr},
    {"json", Option::Json, kSlotJson, false, kWithList | kWithCheck, kCliJsonOnlyList},
    {"claims", Option::Claims, kSlotClaims, false, kWithList, kCliClaimsOnlyList},
    {"dsc", Option::Dsc, kSlotDsc, false, kWithLayouts, kCliDscOnlyLayouts},
    {"preview", Option::Preview, kSlotPreview, false, kWithRenumber | kWithApply | kWithRelease,
     kCliPreviewOnlyRenumber},
    {"yes", Option::Yes, kSlotYes, false, kWithRenumber | kWithUndo | kWithApply | kWithRelease, kCliYesOnly},
    {"category", Option::Category, kSlotCategory, true, kWithList | kWithRenumber | kWithExport, kCliNotForUndo},
    {"order", Option::Order, kSlotOrder, true, kWithList | kWithRenumber, kCliNotForUndo},
    {"all", Option::All, kSlotScope, false, kWithRenumber, kCliRenumberOnly},
    {"card", Option::Card, kSlotScope, true, kWithRenumber, kCliRenumberOnly},
    {"port", Option::Port, kSlotScope, true, kWithRenumber, kCliRenumberOnly},
    {"start", Option::Start, kSlotStart, true, kWithRenumber, kCliRenumberOnly},
    {"plan", Option::Plan, kSlotPlan, true, kWithRenumber, kCliRenumberOnly},
    {"up", Option::Up, kSlotUp, true, kWithRenumber, kCliRenumberOnly},
    {"down", Option::Down, kSlotDown, true, kWithRenumber, kCliRenumberOnly},
};

constexpr const char* kOrderWords[] = {"position", "ports"};
constexpr const char* kPlanWords[] = {"seq", "hub"};

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameWord(std::string_view text, std::string_view word) {
    if (text.size() != word.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (Lower(text[i]) != word[i]) {
            return false;
        }
    }
    return true;
}

// "/name" or "-name", in any letter case.
const OptionEntry* FindOption(const char* argument) {
    if (argument[0] != '/' && argument[0] != '-') {
        return nullptr;
    }
    for (const OptionEntry& entry : kOptions) {
        if (SameWord(argument + 1, entry.name)) {
            return &entry;
        }
    }
    return nullptr;
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
    for (const char* at = text;;) {
        unsigned port = 0;
        const char* end = nullptr;
        if (!ReadNumber(at, kHubPorts, &port, &end)) {
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

template <std::size_t N>
bool ReadWord(const char* text, const char* const (&words)[N], int* index) {
    for (std::size_t i = 0; i < N; ++i) {
        if (SameWord(text, words[i])) {
            *index = static_cast<int>(i);
            return true;
        }
    }
    return false;
}

// "COM7", "com7" or "7": any number the COM database can hold, past the
// start list's 256 rows.
bool ReadComNumber(const char* text, unsigned* number) {
    const char* digits = SameWord(std::string_view(text).substr(0, 3), "com") ? text + 3 : text;
    return WholeNumber(digits, kMaxComDbNumbers, number);
}

bool Fail(char* error, std::size_t size, const char* what, const char* argument) {
    FormatText(error, size, "%s%s%s", what, argument[0] != '\0' ? ": " : "", argument);
    return false;
}

// The value of an option into the options; false with the refusal's text.
const char* ApplyValue(Option option, const char* text, CliOptions& options) {
    unsigned number = 0;
    int word = 0;
    switch (option) {
    case Option::Card:
        options.scope = RenameScope::SelectedCard;
        if (!WholeNumber(text, kMaxDevices, &number)) {
            return kCliBadCard;
        }
        options.card = static_cast<int>(number);
        return nullptr;
    case Option::Port: {
        options.scope = RenameScope::SelectedPort;
        const char* end = nullptr;
        unsigned port = 0;
        if (!ReadNumber(text, kMaxDevices, &number, &end) || *end != ':' || !WholeNumber(end + 1, kMaxPorts, &port)) {
            return kCliBadPort;
        }
        options.card = static_cast<int>(number);
        options.port = static_cast<int>(port);
        return nullptr;
    }
    case Option::Start:
        if (!ReadComNumber(text, &options.start)) {
            return kCliBadStart;
        }
        return nullptr;
    case Option::Plan:
        if (!ReadWord(text, kPlanWords, &word)) {
            return kCliBadPlan;
        }
        options.hubPlan = word == 1;
        return nullptr;
    case Option::Up:
        return ReadHubPorts(text, &options.upMask) ? nullptr : kCliBadHubPorts;
    case Option::Down:
        return ReadHubPorts(text, &options.downMask) ? nullptr : kCliBadHubPorts;
    case Option::Category:
        return ReadWord(text, kCategoryWords, &options.category) ? nullptr : kCliBadCategory;
    case Option::Order:
        return ReadWord(text, kOrderWords, &options.order) ? nullptr : kCliBadOrder;
    case Option::Export:
    case Option::Check:
    case Option::Apply:
        if (text[0] == '\0') {
            return kCliBadLayoutPath;
        }
        options.layoutPath = text;
        return nullptr;
    default:
        return nullptr;
    }
}

void ApplyFlag(Option option, CliOptions& options) {
    switch (option) {
    case Option::Help:
        options.command = CliCommand::Help;
        break;
    case Option::Version:
        options.command = CliCommand::Version;
        break;
    case Option::List:
        options.command = CliCommand::List;
        break;
    case Option::Renumber:
        options.command = CliCommand::Renumber;
        break;
    case Option::Undo:
        options.command = CliCommand::Undo;
        break;
    case Option::ReleaseStale:
        options.command = CliCommand::ReleaseStale;
        break;
    case Option::Export:
        options.command = CliCommand::Export;
        break;
    case Option::Check:
        options.command = CliCommand::Check;
        break;
    case Option::Apply:
        options.command = CliCommand::Apply;
        break;
    case Option::Json:
        options.json = true;
        break;
    case Option::Claims:
        options.claims = true;
        break;
    case Option::Dsc:
        options.dsc = true;
        break;
    case Option::Yes:
        options.yes = true;
        break;
    case Option::Preview:
        options.preview = true;
        break;
    case Option::All:
        options.scope = RenameScope::AllCards;
        break;
    default:
        break;
    }
}

unsigned CommandBit(CliCommand command) {
    switch (command) {
    case CliCommand::List:
        return kWithList;
    case CliCommand::Renumber:
        return kWithRenumber;
    case CliCommand::Undo:
        return kWithUndo;
    case CliCommand::ReleaseStale:
        return kWithRelease;
    case CliCommand::Export:
        return kWithExport;
    case CliCommand::Check:
        return kWithCheck;
    case CliCommand::Apply:
        return kWithApply;
    case CliCommand::Help:
    case CliCommand::Version:
        break;
    }
    return kWithAll;
}

// What goes with which command, once every option is read.
bool CheckCombination(const CliOptions& options, const std::array<const OptionEntry*, kSlotCount>& seen, char* error,
                      std::size_t size) {
    if (seen[kSlotCommand] == nullptr) {
        return Fail(error, size, kCliNoCommand, "");
    }
    if (options.command == CliCommand::Help) {
        return true;
    }
    // /version takes nothing else.
    if (options.command == CliCommand::Version) {
        for (const OptionEntry* entry : seen) {
            if (entry != nullptr && entry->slot != kSlotCommand) {
                return Fail(error, size, kCliVersionAlone, "");
            }
        }
        return true;
    }
    for (const OptionEntry* entry : seen) {
        if (entry != nullptr && (entry->with & CommandBit(options.command)) == 0) {
            return Fail(error, size, entry->notWith, "");
        }
    }
    if (options.command == CliCommand::Check && options.json && options.dsc) {
        return Fail(error, size, kCliJsonOrDsc, "");
    }
    if (options.command != CliCommand::Renumber) {
        return true;
    }
    if (seen[kSlotScope] == nullptr) {
        return Fail(error, size, kCliNeedScope, "");
    }
    if ((seen[kSlotUp] != nullptr || seen[kSlotDown] != nullptr) && !options.hubPlan) {
        return Fail(error, size, kCliHubPortsHubOnly, "");
    }
    if (options.hubPlan && options.category != kCategoryUsb) {
        return Fail(error, size, kCliHubUsbOnly, "");
    }
    NumberingPlan plan{1, 0, options.upMask, options.downMask};
    if (options.hubPlan && options.scope != RenameScope::SelectedPort && IsUpstreamOnlyPlan(plan)) {
        return Fail(error, size, kTextUpstreamOnly, "");
    }
    return true;
}

}  // namespace

bool ParseArguments(const char* const* arguments, int count, CliOptions& options, char* error, std::size_t size) {
    options = CliOptions{};
    options.command = CliCommand::Help;
    options.scope = RenameScope::SelectedCard;
    options.upMask = kDefaultUpMask;
    options.downMask = kDefaultDownMask;
    options.category = kCategoryUsb;
    options.order = kOrderByPosition;
    error[0] = '\0';
    std::array<const OptionEntry*, kSlotCount> seen{};
    for (int i = 0; i < count; ++i) {
        const char* argument = arguments[i];
        const OptionEntry* entry = FindOption(argument);
        if (entry == nullptr) {
            return Fail(error, size, kCliUnknown, argument);
        }
        // /preview stands for /renumber ... /preview.
        if (entry->option == Option::Preview && seen[kSlotCommand] == nullptr) {
            options.command = CliCommand::Renumber;
            seen[kSlotCommand] = FindOption("/renumber");
        }
        if (seen[entry->slot] != nullptr) {
            return Fail(error, size, kCliRepeated, argument);
        }
        seen[entry->slot] = entry;
        ApplyFlag(entry->option, options);
        if (!entry->takesValue) {
            continue;
        }
        if (i + 1 >= count) {
            return Fail(error, size, kCliMissingValue, argument);
        }
        const char* value = arguments[++i];
        if (const char* refusal = ApplyValue(entry->option, value, options)) {
            return Fail(error, size, refusal, value);
        }
    }
    // A layout names cards of every category.
    if (options.command == CliCommand::Export && seen[kSlotCategory] == nullptr) {
        options.category = kCategoryAll;
    }
    return CheckCombination(options, seen, error, size);
}
