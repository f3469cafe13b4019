// Ranges of COM numbers marked in the database as claimed or free, as the
// usage dialog asks for them.
#pragma once

// Rows of the number lists: COM row+1; -1 (or a row past the lists) for none. Refuses a missing end
// and the system's COM1 and COM2 (logged and told); asks before releasing.
// 1 when the whole range was processed, 0 after a refusal, failure or cancel.
int ChangeUsageRange(bool release, int fromRow, int toRow);
