#include "renumber/run.h"

#include <bitset>

#include "comdb/number_usage.h"
#include "resources/strings.h"
#include "services/log.h"
#include "services/reporter.h"
#include "text/bounded_text.h"

namespace {

constexpr unsigned kErrorAccessDenied = 5;
constexpr std::size_t kDevicePathSize = 64;
constexpr std::size_t kRepeatListSize = 4096;

using NameText = char[kUtf8Room<sizeof PortRecord::portName>];
using DescriptionText = char[kUtf8Room<sizeof PortRecord::description>];

const PortRecord& PortOf(const DeviceTable& table, const PortTarget& entry) {
    return table.slots[entry.card].ports[entry.port];
}

// Whether another program holds the port open (opening it is refused with
// "access denied"); other failures, such as an unplugged card, are not reported.
bool IsPortHeld(const PortRecord& port, bool report) {
    NameText name;
    FieldText(port.portName, name, sizeof name);
    char path[kDevicePathSize];
    FormatText(path, sizeof path, "\\\\.\\%s", name);
    if (TryOpenPort(path) != kErrorAccessDenied) {
        return false;
    }
    if (report) {
        LogLastError("  %s.CreateFile", path);
    }
    return true;
}

void AddPort(RunMapping& mapping, unsigned card, unsigned port, std::uint16_t target) {
    mapping.ports[mapping.count++] =
        PortTarget{static_cast<std::uint8_t>(card), static_cast<std::uint8_t>(port), target, 0};
}

}  // namespace

RunRequest MakeRunRequest(RenameScope scope, int device, int port, int startRow, bool hubPlan, HubMask upMask,
                          HubMask downMask, int category, int order) {
    RunRequest request{};
    request.scope = scope;
    request.device = device;
    request.port = port;
    request.startRow = startRow;
    request.plan.hubMode = hubPlan ? 1 : 0;
    request.plan.startIndex = static_cast<std::uint16_t>(startRow);
    request.plan.upMask = hubPlan ? upMask : 0;
    request.plan.downMask = hubPlan ? downMask : 0;
    request.category = category;
    request.order = order;
    return request;
}

void MarkIdleCards(RunMapping& mapping) {
    std::uint64_t used = 0;
    for (unsigned i = 0; i < mapping.count; ++i) {
        used |= std::uint64_t{1} << mapping.ports[i].card;
    }
    mapping.idleCards = 0;
    for (unsigned d = mapping.firstCard; d < mapping.lastCard; ++d) {
        if ((used >> d & 1u) == 0) {
            mapping.idleCards |= std::uint64_t{1} << d;
        }
    }
}

RunRefusal CheckRequest(const DeviceTable& table, const RunRequest& request) {
    if (request.device == kNoRow || request.port == kNoRow ||
        static_cast<std::uint32_t>(request.device) >= table.count) {
        return RunRefusal::NothingSelected;
    }
    if (request.startRow == kNoRow) {
        if (comDb.load() == InvalidComDb()) {
            LogMessage(kLogNoStartDbClosed);
        } else {
            PortUsageBits bits;
            ReadPortUsage(bits);
            unsigned free = 3;
            while (free <= kComNumberRows && IsNumberClaimed(bits, free)) {
                ++free;
            }
            LogMessage(free > kComNumberRows ? kLogNoStartDbFull : kLogNoStartNumber);
        }
        return RunRefusal::NoStartNumber;
    }
    if (static_cast<unsigned>(request.port) >= PortCountOf(table.slots[request.device])) {
        LogMessage(kLogCardWithoutPorts);
        return RunRefusal::NoPorts;
    }
    return RunRefusal::None;
}

bool IsUpstreamOnlyRequest(const RunRequest& request) {
    return request.scope != RenameScope::SelectedPort && IsUpstreamOnlyPlan(request.plan);
}

bool IsUpstreamOnly(const RunRequest& request) {
    if (!IsUpstreamOnlyRequest(request)) {
        return false;
    }
    LogMessage(kLogUpstreamOnly);
    return true;
}

void MapRun(const DeviceTable& table, const RunRequest& request, RunMapping& mapping) {
    mapping.count = 0;
    mapping.idleCards = 0;
    auto n = static_cast<std::uint16_t>(request.startRow + 1);
    auto device = static_cast<unsigned>(request.device);
    if (request.scope == RenameScope::SelectedPort) {
        // The hub plan does not apply here: the port takes the start number.
        mapping.firstCard = device;
        mapping.lastCard = device + 1;
        AddPort(mapping, device, static_cast<unsigned>(request.port), n);
        return;
    }
    mapping.firstCard = request.scope == RenameScope::AllCards ? 0 : device;
    mapping.lastCard = request.scope == RenameScope::AllCards ? table.count : device + 1;
    for (unsigned d = mapping.firstCard; d < mapping.lastCard; ++d) {
        const DeviceRecord& card = table.slots[d];
        unsigned ports = PortCountOf(card);
        for (unsigned j = 0; j < ports; ++j) {
            std::uint16_t v = ComputeHubNumber(request.plan, card.locationPath, static_cast<std::uint16_t>(j),
                                               static_cast<std::uint16_t>(ports));
            if (v != 0) {
                n = v;
            }
            AddPort(mapping, d, j, n);
            n = static_cast<std::uint16_t>(n + 1);
        }
    }
}

unsigned MarkRepeats(const DeviceTable& table, RunMapping& mapping, char* list, std::size_t size) {
    static std::bitset<65536> seen;
    static std::bitset<65536> repeated;
    seen.reset();
    repeated.reset();
    for (unsigned i = 0; i < mapping.count; ++i) {
        std::uint16_t target = mapping.ports[i].target;
        if (target != 0 && seen.test(target)) {
            repeated.set(target);
        }
        seen.set(target);
    }
    list[0] = '\0';
    unsigned sharing = 0;
    NameText name;
    for (unsigned i = 0; i < mapping.count; ++i) {
        std::uint16_t target = mapping.ports[i].target;
        if (target == 0 || !repeated.test(target)) {
            continue;
        }
        mapping.ports[i].marks |= kMarkRepeated;
        ++sharing;
        if (!seen.test(target)) {
            continue;  // this number's line is written already
        }
        seen.reset(target);
        AppendFormat(list, size, "%sCOM%u:", list[0] != '\0' ? "\n" : "", static_cast<unsigned>(target));
        const char* separator = " ";
        for (unsigned k = i; k < mapping.count; ++k) {
            if (mapping.ports[k].target == target) {
                AppendFormat(list, size, "%s%u#P%u(%s)", separator, mapping.ports[k].card + 1u,
                             mapping.ports[k].port + 1u,
                             FieldText(PortOf(table, mapping.ports[k]).portName, name, sizeof name));
                separator = ", ";
            }
        }
    }
    return sharing;
}

void CheckMapping(const DeviceTable& table, RunMapping& mapping, bool report) {
    PortUsageBits bits;
    ReadPortUsage(bits);
    // A number a port of this run carries and gives up is this run's own to
    // give, not a number another device has.
    static std::bitset<65536> givenUp;
    givenUp.reset();
    NameText name;
    for (unsigned i = 0; i < mapping.count; ++i) {
        std::uint16_t number = 0;
        if (ParseComName(FieldText(PortOf(table, mapping.ports[i]).portName, name, sizeof name), &number) &&
            number != mapping.ports[i].target) {
            givenUp.set(number);
        }
    }
    for (unsigned i = 0; i < mapping.count; ++i) {
        PortTarget& entry = mapping.ports[i];
        std::uint16_t number = 0;
        if (!ParseComName(FieldText(PortOf(table, entry).portName, name, sizeof name), &number)) {
            entry.marks |= kMarkNotCom;
        }
        bool claimed = !givenUp.test(entry.target) &&
                       (report ? IsPortNumberClaimed(entry.target) != 0 : IsNumberClaimed(bits, entry.target));
        if (claimed) {
            entry.marks |= kMarkClaimed;
        }
        if (IsPortHeld(PortOf(table, entry), report)) {
            entry.marks |= kMarkHeld;
        }
    }
}

void ScanConflicts(const DeviceTable& table, RunMapping& mapping, char* inUseList, std::size_t inUseSize,
                   char* claimedList, std::size_t claimedSize) {
    inUseList[0] = '\0';
    claimedList[0] = '\0';
    Report().ProgressRange(static_cast<int>(PortCountOf(table.slots[mapping.firstCard])) + 3);
    Report().ProgressPosition(0);
    CheckMapping(table, mapping, true);
    NameText name;
    for (unsigned i = 0; i < mapping.count; ++i) {
        const PortTarget& entry = mapping.ports[i];
        if ((entry.marks & kMarkClaimed) != 0) {
            AppendFormat(claimedList, claimedSize, "COM%u,", static_cast<unsigned>(entry.target));
        }
        if ((entry.marks & kMarkHeld) != 0) {
            AppendFormat(inUseList, inUseSize, "%s,", FieldText(PortOf(table, entry).portName, name, sizeof name));
        }
    }
}

bool PreviewRun(const DeviceTable& table, const RunRequest& request) {
    RunRefusal refusal = CheckRequest(table, request);
    if (refusal == RunRefusal::NothingSelected) {
        LogMessage(kLogNoSelection);
    }
    if (refusal != RunRefusal::None || IsUpstreamOnly(request)) {
        return false;
    }
    static RunMapping mapping;
    MapRun(table, request, mapping);
    PreviewMapping(table, mapping);
    return true;
}

void PreviewMapping(const DeviceTable& table, RunMapping& mapping) {
    static char repeats[kRepeatListSize];
    unsigned repeated = MarkRepeats(table, mapping, repeats, sizeof repeats);
    CheckMapping(table, mapping, false);
    unsigned claimed = 0;
    unsigned held = 0;
    static LogBlock block;
    BlockBegin(block, true);
    BlockAppend(block, "%s", kTextPreviewHead);
    NameText name;
    DescriptionText description;
    for (unsigned i = 0; i < mapping.count; ++i) {
        const PortTarget& entry = mapping.ports[i];
        const PortRecord& port = PortOf(table, entry);
        claimed += (entry.marks & kMarkClaimed) != 0 ? 1 : 0;
        held += (entry.marks & kMarkHeld) != 0 ? 1 : 0;
        BlockAppend(block, "\r\n%s:%s==>COM%u%s%s%s%s", FieldText(port.description, description, sizeof description),
                    FieldText(port.portName, name, sizeof name), static_cast<unsigned>(entry.target),
                    (entry.marks & kMarkClaimed) != 0 ? kTextPreviewClaimed : "",
                    (entry.marks & kMarkHeld) != 0 ? kTextPreviewHeld : "",
                    (entry.marks & kMarkRepeated) != 0 ? kTextPreviewRepeated : "",
                    (entry.marks & kMarkNotCom) != 0 ? kTextPreviewNotCom : "");
    }
    BlockAppend(block, kTextPreviewTotal, mapping.count, claimed, held, repeated);
    BlockFlush(block);
}
