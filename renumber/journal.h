// The journal of a run: written to the machine's program-data folder before
// the run's first change, then a small record for each port renamed, each
// card switched on and the end, appended and (but for the cards) flushed.
// Every record is one line with its length and checksum, so a record torn by
// a power loss is known and taken as not written. The file keeps the last
// run that changed something until another run does: undo always finds it,
// and the next start finds what a run that ended half-way left behind.
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

// A number of the COM database a change marks in use or free, and its
// state before the change.
struct JournalNumber {
    std::uint16_t number;
    bool claimed;  // before the change
    bool changed;  // its step is written: the change was made
};

// Database: a change of the COM database (the usage dialog's ranges, the
// release of stale claims, the undo of either); it touches no card.
enum class JournalKind : std::uint8_t { Rename, Undo, Database };

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
    unsigned numberCount;                        // a database change's numbers, in the order changed
    JournalNumber numbers[kMaxComDbNumbers];
};

// The journal of the run in progress; only the run that holds the machine's
// run lock writes it.
extern Journal runJournal;

// A journal file holding one run as it stands (0: does not fit), and the
// last run of a journal file's text, records or a whole document of an
// older version. A text that does not parse or holds anything the program
// does not write is refused with the reason.
std::size_t JournalToText(const Journal& journal, char* buffer, std::size_t size);
bool JournalFromText(const char* text, std::size_t length, Journal& journal, char* reason, std::size_t size);

// ...\Kestrova\journal.json in the program-data folder.
bool JournalPath(char* buffer, std::size_t size);
enum class JournalLoad { Loaded, Missing, Refused };
// The last run of the journal file, or with changing the last one that
// changed something; Refused leaves the reason (logged by the caller).
JournalLoad LoadJournal(Journal& journal, char* reason, std::size_t size, bool changing = false);
// A run's beginning: the file becomes the last run that changed something,
// then this one, in one write flushed to disk. false (logged) when it could
// not be written.
bool StartJournal(const Journal& run);
enum class JournalStep : std::uint8_t { Renamed, Temp, Enabled, Changed, Finished, Recovered };
// A step of the file's last run, appended (flushed, but for a card switched
// on). index: the port (Renamed, Temp), card (Enabled) or number (Changed,
// into Journal::numbers); number: the free number (Temp). false (logged) when
// it could not be written.
bool WriteJournalStep(JournalStep step, unsigned index, std::uint16_t number);
// Whether a run renamed a port, to its target or on its way, or changed a
// number of the database.
bool ChangedSomething(const Journal& run);

// Fills runJournal for a change of the database: the numbers, each to be
// put in the state it is not in (claimed: the state before), unfinished.
void BeginDatabaseJournal(const std::uint16_t* numbers, unsigned count, bool claimed);

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
// numbers before it, or with finish takes the ports an interrupted run had
// not renamed yet on to their targets. A port renamed by that run that no
// longer carries the number the run gave it is left alone and listed in
// leftAlone. Returns how many ports were left alone.
unsigned MapUndo(const Journal& journal, const DeviceTable& table, RunMapping& mapping, char* leftAlone,
                 std::size_t size, bool finish = false);
// An undo that ended half-way with ports it had not reached: undo finishes it.
bool IsUnfinishedUndo(const Journal& journal);
