#include "renumber/worker.h"

#include "comdb/number_usage.h"
#include "inventory/devmgr.h"
#include "inventory/views.h"
#include "resources/strings.h"
#include "services/log.h"
#include "services/messages.h"
#include "services/state.h"
#include "text/bounded_text.h"

std::atomic<int> busyFlag{0};

namespace {

constexpr std::size_t kResultSize = 10240;
constexpr std::size_t kRepeatListSize = 4096;
constexpr unsigned kRenamePauseMs = 10;
constexpr unsigned kEnablePauseMs = 10;

// The run's request: written by StartRenameRun before the worker starts, then
// only read by the worker.
RunRequest runRequest;
// The worker's mapping and texts, too big for its stack.
RunMapping runMapping;
char resultText[kResultSize];

void SetProgressRange(int maximum) { ProgressSetRange(mainDialog, IDC_PROGRESS, maximum); }
void SetProgress(int position) { ProgressSetPos(mainDialog, IDC_PROGRESS, position); }

const char* Outcome(int ok) { return ok != 0 ? kTextSuccess : kTextFailure; }

// The hub plan only makes sense for cards of one kind. true: go on.
bool ConfirmMixedCards(unsigned listedCards) {
    for (unsigned d = 1; d < listedCards; ++d) {
        if (PortCountOf(deviceTable.slots[d]) != PortCountOf(deviceTable.slots[d - 1])) {
            return !AskYesNo(mainDialog, kTextMixedCards);
        }
    }
    return true;
}

// The selected-port scope writes its one line with the break after it, the
// card scopes each line with the break before it.
int RenamePort(const PortTarget& entry, bool breakAfter, char* result) {
    PortRecord& port = deviceTable.slots[entry.card].ports[entry.port];
    int ok = entry.target != 0 ? ModifyCOMName(port.portName, entry.target) : 0;
    char description[kUtf8Room<sizeof PortRecord::description>];
    char name[kUtf8Room<sizeof PortRecord::portName>];
    AppendFormat(result, kResultSize, "%s%s:%s==>COM%u: %s%s", breakAfter ? "" : "\r\n",
                 FieldText(port.description, description, sizeof description),
                 FieldText(port.portName, name, sizeof name), static_cast<unsigned>(entry.target), Outcome(ok),
                 breakAfter ? "\r\n" : "");
    return ok;
}

void RenameSelectedPort(const PortTarget& entry, char* result) {
    PortRecord& port = deviceTable.slots[entry.card].ports[entry.port];
    SetProgressRange(3);
    ChangeDeviceStatus(DevInfoSetValue(port.devInfoSet), port.devInfo, 0, kEnableWaitMs);
    SetProgress(1);
    RenamePort(entry, true, result);
    SetProgress(2);
    ChangeDeviceStatus(DevInfoSetValue(port.devInfoSet), port.devInfo, 1, kEnableWaitMs);
    SetProgress(3);
}

void RenameCards(const RunMapping& mapping, char* result) {
    unsigned first = mapping.firstCard;
    unsigned last = mapping.lastCard;
    SetProgressRange(static_cast<int>(last));
    SetProgress(0);
    SetProgress(1);
    for (unsigned d = first; d < last; ++d) {
        DeviceRecord& card = deviceTable.slots[d];
        ChangeDeviceStatus(DevInfoSetValue(card.devInfoSet), card.devInfo, 0, kDisableWaitMs);
        SetProgress(static_cast<int>(d + 1));
        SleepMs(0);
    }
    SetProgressRange(static_cast<int>(PortCountOf(deviceTable.slots[first])) + 3);
    for (unsigned i = 0; i < mapping.count; ++i) {
        const PortTarget& entry = mapping.ports[i];
        RenamePort(entry, false, result);
        SetProgress(entry.port + 2);
        SleepMs(kRenamePauseMs);
        if (i + 1 == mapping.count || mapping.ports[i + 1].card != entry.card) {
            SetProgress(static_cast<int>(PortCountOf(deviceTable.slots[entry.card])) + 3);
        }
    }
    SetProgressRange(static_cast<int>(last));
    SetProgress(0);
    SetProgress(1);
    LogMessage(kLogRestarting);
    for (unsigned d = first; d < last; ++d) {
        DeviceRecord& card = deviceTable.slots[d];
        ChangeDeviceStatus(DevInfoSetValue(card.devInfoSet), card.devInfo, 1, kEnableWaitMs);
        SetProgress(static_cast<int>(d + 1));
        SleepMs(kEnablePauseMs);
    }
}

// Everything between the start and the end of a run; every return leads to
// the same end. Nothing changes before the whole mapping has been checked.
void RunRename(const RunRequest& request, RunMapping& mapping, char* result) {
    SetProgressRange(3);
    if (CheckRequest(request) != RunRefusal::None) {
        ShowInfo(mainDialog, kTextSelectDevice);
        return;
    }
    SetProgress(1);
    if (request.plan.hubMode != 0) {
        if (!ConfirmMixedCards(request.listedCards)) {
            return;
        }
        if (IsUpstreamOnly(request)) {
            ShowInfo(mainDialog, kTextUpstreamOnly);
            return;
        }
    }
    AppendLog("\r\n");
    LogMessage(kLogRunStart, static_cast<unsigned>(static_cast<std::uint16_t>(request.startRow + 1)));

    MapRun(request, mapping);
    static char repeats[kRepeatListSize];
    if (MarkRepeats(mapping, repeats, sizeof repeats) != 0) {
        LogMessage(kLogRepeatedTargets, repeats);
        FormatText(result, kResultSize, kTextRepeatedTargets, repeats);
        ShowInfo(mainDialog, result);
        return;
    }
    static char inUseList[kInUseListSize];
    static char claimedList[kClaimedListSize];
    std::uint32_t held = ScanConflicts(mapping, inUseList, sizeof inUseList, claimedList, sizeof claimedList);
    if (held != 0 && !AskTableText(mainDialog, IDS_PORTS_HELD, inUseList, result, kResultSize)) {
        LogMessage(kLogCancelledHeld);
        return;
    }
    SetProgress(2);
    if (claimedList[0] != '\0' && !AskTableText(mainDialog, IDS_NUMBERS_CLAIMED, claimedList, result, kResultSize)) {
        LogMessage(kLogCancelledClaimed);
        return;
    }
    SetProgress(3);
    result[0] = '\0';

    if (request.scope == RenameScope::SelectedPort) {
        RenameSelectedPort(mapping.ports[0], result);
    } else if (mapping.count > 0) {
        RenameCards(mapping, result);
    }
    if (inUseList[0] != '\0') {
        AppendFormat(result, kResultSize, kTextReplugHeld, inUseList);
    }
    if (result[0] != '\0') {
        LogMessage("****%s", result);
        ShowInfo(mainDialog, result);
    }
}

}  // namespace

bool StartRenameRun(const RunRequest& request) {
    if (busyFlag.load() != 0) {
        LogMessage(kLogRunRefused);
        return false;
    }
    busyFlag.store(1);
    runRequest = request;
    if (!StartThread(RenamePortsThread, nullptr)) {
        LogLastError("CreateThread");
        busyFlag.store(0);
        return false;
    }
    return true;
}

void EndRenameRun() {
    FillStartNumbers(true);
    EnumerateDevices();
    busyFlag.store(0);
}

unsigned KESTROVA_CALLBACK RenamePortsThread(void*) {
    // The result text also carries the questions.
    resultText[0] = '\0';
    RunRename(runRequest, runMapping, resultText);
    SendDialogMessage(mainDialog, kMsgRunEnded, 0, 0);
    return 0;
}
