// The journal of a run: written to the machine's program-data folder before
// the run's first change, marked as each port is renamed and when the run
// has finished, flushed to disk at each step. It tells undo what the last run
// changed, and the next start what a run that ended half-way left behind.
// Cards are named by hardware id, location and slot, ports by their position
// on their card.
#pragma once

#include <cstddef>
#include <cstdint>

#include "inventory/device_table.h"
#include "renumber/run.h"

constexpr inline std::size_t kJournalIdSize = kUtf8Room<sizeof DeviceRecord::usbId>;
constexpr inline std::size_t kJournalLocationSize = kUtf8Room<sizeof DeviceRecord::locationText>;
constexpr inline std::size_t kJournalNameSize = kUtf8Room<sizeof PortRecord::portName>;
// The biggest journal the program writes or reads: every port of every card.
constexpr inline std::size_t kJournalFileSize = 2u << 20;
constexpr inline std::size_t kJournalReasonSize = 512;

struct JournalCard {
    char usbId[kJournalIdSize];
    char location[kJournalLocationSize];
    int slot;  // in the table the run enumerated; -1 when not known (an older journal)
};

struct JournalPort {
    std::uint8_t card;  // index into Journal::cards
    std::uint8_t port;  // position on the card
    std::uint16_t oldNumber;
    std::uint16_t target;
    bool renamed;
    char oldName[kJournalNameSize];
    std::uint16_t temp;  // a free number the port carries on its way to target; 0 for none
};

enum class JournalKind : std::uint8_t { Rename, Undo };

struct Journal {
    JournalKind kind;
    bool portOnly;  // the run switched off only its one port, not whole cards
    bool finished;
    bool interrupted;       // finished by the recovery at a later start
    std::uint8_t category;  // the category the run's cards were enumerated under
    unsigned cardCount;
    JournalCard cards[kMaxDevices];  // the cards the run switches off and on
    unsigned portCount;
    JournalPort ports[kMaxDevices * kMaxPorts];  // in the mapping's order
};

// The journal of the run in progress; only the run that holds the machine's
// run lock writes it.
extern Journal runJournal;

// Journal text to and from the record. A text that does not parse or holds
// anything the program does not write is refused with the reason.
std::size_t JournalToText(const Journal& journal, char* buffer, std::size_t size);  // 0: does not fit
bool JournalFromText(const char* text, std::size_t length, Journal& journal, char* reason, std::size_t size);

// ...\Kestrova\journal.json in the program-data folder.
bool JournalPath(char* buffer, std::size_t size);
enum class JournalLoad { Loaded, Missing, Refused };
// Reads the journal file; Refused leaves the reason (logged by the caller).
JournalLoad LoadJournal(Journal& journal, char* reason, std::size_t size);
// Writes the journal file whole; false (logged) when it could not be saved.
bool SaveJournal(const Journal& journal);

// Fills runJournal from a mapping over the run's table, unfinished.
void BeginJournal(const DeviceTable& table, int category, const RunMapping& mapping, bool portOnly, JournalKind kind);

// The card slot of the table a journal card names: the one card of its
// hardware id and location, or among identical cards the one in its slot
// whose ports still carry the journal's old or new names. -1 when absent,
// kAmbiguousCard when the table no longer tells identical cards apart.
constexpr inline int kAmbiguousCard = -2;
int FindJournalCard(const DeviceTable& table, const Journal& journal, unsigned card);

// Whether a record has a journal card's hardware id and location.
bool IsJournalCard(const DeviceRecord& record, const JournalCard& card);

// After a run ended half-way: which of its ports the table shows changed, its
// record written or not (the run may have ended between a rename and its
// mark). A port carrying its target is marked renamed. Returns how many carry
// their target or a number on the way there.
unsigned MarkChangedPorts(Journal& journal, const DeviceTable& table);

// The mapping that puts the ports a journal's run renamed back to their
// numbers before it. A port renamed by that run that no longer carries the
// number the run gave it is left alone and listed in leftAlone. Returns how
// many ports were left alone.
unsigned MapUndo(const Journal& journal, const DeviceTable& table, RunMapping& mapping, char* leftAlone,
                 std::size_t size);
