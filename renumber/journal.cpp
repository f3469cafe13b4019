#include "renumber/journal.h"

#include <cstring>

#include "text/bounded_text.h"

Journal runJournal;

namespace {

std::uint16_t NumberOf(const char* name, std::uint32_t reported) {
    std::uint16_t number = 0;
    if (ParseComName(name, &number)) {
        return number;
    }
    return static_cast<std::uint16_t>(reported <= 0xFFFF ? reported : 0);
}

bool CarriesNumber(const PortRecord& port, std::uint16_t number) {
    char name[kJournalNameSize];
    char expected[16];
    FormatText(expected, sizeof expected, "COM%u", static_cast<unsigned>(number));
    return std::strcmp(FieldText(port.portName, name, sizeof name), expected) == 0;
}

}  // namespace

bool IsUnfinishedUndo(const Journal& journal) {
    if (journal.kind != JournalKind::Undo || !journal.interrupted) {
        return false;
    }
    for (unsigned i = 0; i < journal.portCount; ++i) {
        if (!journal.ports[i].renamed) {
            return true;
        }
    }
    return false;
}

void BeginDatabaseJournal(const std::uint16_t* numbers, unsigned count, bool claimed) {
    Journal& journal = runJournal;
    journal.kind = JournalKind::Database;
    journal.portOnly = false;
    journal.finished = false;
    journal.interrupted = false;
    journal.category = 0;
    journal.cardCount = 0;
    journal.portCount = 0;
    journal.numberCount = 0;
    for (unsigned i = 0; i < count && i < kMaxComDbNumbers; ++i) {
        journal.numbers[journal.numberCount++] = JournalNumber{numbers[i], claimed, false};
    }
}

void BeginJournal(const DeviceTable& table, int category, const RunMapping& mapping, bool portOnly, JournalKind kind) {
    Journal& journal = runJournal;
    journal.kind = kind;
    journal.portOnly = portOnly;
    journal.finished = false;
    journal.interrupted = false;
    journal.category = static_cast<std::uint8_t>(category >= 0 && category <= 3 ? category : 0);
    journal.cardCount = 0;
    journal.portCount = 0;
    journal.numberCount = 0;
    // Journal card k is the k-th card the run switches off.
    std::uint8_t index[kMaxDevices] = {};
    for (unsigned d = mapping.firstCard; d < mapping.lastCard && d < kMaxDevices; ++d) {
        if (!portOnly && (mapping.idleCards >> d & 1u) != 0) {
            continue;
        }
        const DeviceRecord& card = table.slots[d];
        index[d] = static_cast<std::uint8_t>(journal.cardCount);
        JournalCard& entry = journal.cards[journal.cardCount++];
        entry.slot = static_cast<int>(d);
        FieldText(card.usbId, entry.usbId, sizeof entry.usbId);
        FieldText(card.locationText, entry.location, sizeof entry.location);
    }
    for (unsigned i = 0; i < mapping.count; ++i) {
        const PortTarget& target = mapping.ports[i];
        const PortRecord& port = table.slots[target.card].ports[target.port];
        JournalPort& entry = journal.ports[journal.portCount++];
        entry.card = index[target.card];
        entry.port = target.port;
        entry.target = target.target;
        entry.renamed = false;
        entry.temp = 0;
        FieldText(port.portName, entry.oldName, sizeof entry.oldName);
        entry.oldNumber = NumberOf(entry.oldName, port.portNumber);
    }
}

namespace {

// Whether every port the journal names on card k is on the record, with the
// old name or a number the run gave it.
bool FitsJournalPorts(const DeviceRecord& record, const Journal& journal, unsigned k) {
    char name[kJournalNameSize];
    for (unsigned i = 0; i < journal.portCount; ++i) {
        const JournalPort& entry = journal.ports[i];
        if (entry.card != k) {
            continue;
        }
        if (entry.port >= PortCountOf(record)) {
            return false;
        }
        const PortRecord& port = record.ports[entry.port];
        if (std::strcmp(FieldText(port.portName, name, sizeof name), entry.oldName) != 0 &&
            !CarriesNumber(port, entry.target) && (entry.temp == 0 || !CarriesNumber(port, entry.temp))) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool IsJournalCard(const DeviceRecord& record, const JournalCard& card) {
    char usbId[kJournalIdSize];
    char location[kJournalLocationSize];
    return std::strcmp(FieldText(record.usbId, usbId, sizeof usbId), card.usbId) == 0 &&
           std::strcmp(FieldText(record.locationText, location, sizeof location), card.location) == 0;
}

unsigned MarkChangedPorts(Journal& journal, const DeviceTable& table) {
    int slots[kMaxDevices];
    for (unsigned k = 0; k < journal.cardCount; ++k) {
        slots[k] = FindJournalCard(table, journal, k);
    }
    unsigned changed = 0;
    for (unsigned i = 0; i < journal.portCount; ++i) {
        JournalPort& entry = journal.ports[i];
        int slot = slots[entry.card];
        if (slot < 0 || entry.port >= PortCountOf(table.slots[slot])) {
            changed += entry.renamed || entry.temp != 0 ? 1 : 0;
            continue;
        }
        const PortRecord& port = table.slots[slot].ports[entry.port];
        if (entry.renamed || (entry.target != entry.oldNumber && CarriesNumber(port, entry.target))) {
            entry.renamed = true;
            ++changed;
        } else if (entry.temp != 0 && CarriesNumber(port, entry.temp)) {
            ++changed;
        }
    }
    return changed;
}

int FindJournalCard(const DeviceTable& table, const Journal& journal, unsigned k) {
    const JournalCard& card = journal.cards[k];
    int found = -1;
    int candidates = 0;
    int fitting = 0;
    int fit = -1;
    for (std::uint32_t d = 0; d < table.count && d < kMaxDevices; ++d) {
        if (!IsJournalCard(table.slots[d], card)) {
            continue;
        }
        ++candidates;
        found = static_cast<int>(d);
        if (FitsJournalPorts(table.slots[d], journal, k)) {
            if (static_cast<int>(d) == card.slot) {
                return card.slot;
            }
            ++fitting;
            fit = static_cast<int>(d);
        }
    }
    if (candidates <= 1) {
        return found;
    }
    return fitting == 1 ? fit : kAmbiguousCard;
}

unsigned MapUndo(const Journal& journal, const DeviceTable& table, RunMapping& mapping, char* leftAlone,
                 std::size_t size, bool finish) {
    mapping.count = 0;
    mapping.firstCard = kMaxDevices;
    mapping.lastCard = 0;
    leftAlone[0] = '\0';
    int slots[kMaxDevices];
    for (unsigned k = 0; k < journal.cardCount; ++k) {
        slots[k] = FindJournalCard(table, journal, k);
    }
    unsigned skipped = 0;
    // In table order, as a run over the cards renames them.
    for (std::uint32_t d = 0; d < table.count && d < kMaxDevices; ++d) {
        const DeviceRecord& card = table.slots[d];
        for (unsigned i = 0; i < journal.portCount; ++i) {
            const JournalPort& entry = journal.ports[i];
            if (slots[entry.card] != static_cast<int>(d) || entry.target == entry.oldNumber || entry.target == 0) {
                continue;
            }
            bool present = entry.port < PortCountOf(card);
            const PortRecord& port = card.ports[present ? entry.port : 0];
            bool onTarget = present && CarriesNumber(port, entry.target);
            bool onWay = present && entry.temp != 0 && CarriesNumber(port, entry.temp);
            bool onOld = present && CarriesNumber(port, entry.oldNumber);
            // Finishing an undo takes the ports it had not reached on to its
            // targets; undoing puts every changed port back.
            std::uint16_t number = finish ? entry.target : entry.oldNumber;
            bool move = finish ? !entry.renamed && (onOld || onWay) : onTarget || onWay;
            if (!move) {
                // Ports where the run leaves them already, and ports it never
                // reached, need nothing: only a changed one is reported.
                if (entry.renamed && !(finish ? onTarget : onOld)) {
                    ++skipped;
                    AppendFormat(leftAlone, size, "%u#P%u(COM%u),", d + 1, entry.port + 1u,
                                 static_cast<unsigned>(entry.target));
                }
                continue;
            }
            mapping.ports[mapping.count++] = PortTarget{static_cast<std::uint8_t>(d), entry.port, number, 0};
            mapping.firstCard = d < mapping.firstCard ? d : mapping.firstCard;
            mapping.lastCard = d + 1;
        }
    }
    // Renamed ports on cards that are gone are left alone too.
    for (unsigned i = 0; i < journal.portCount; ++i) {
        const JournalPort& entry = journal.ports[i];
        if ((entry.renamed || entry.temp != 0) && slots[entry.card] < 0) {
            ++skipped;
            AppendFormat(leftAlone, size, "%s(%s)P%u(COM%u),", journal.cards[entry.card].usbId,
                         journal.cards[entry.card].location, entry.port + 1u, static_cast<unsigned>(entry.target));
        }
    }
    if (mapping.count == 0) {
        mapping.firstCard = 0;
    }
    MarkIdleCards(mapping);
    return skipped;
}
