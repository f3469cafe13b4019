// Layouts as both front ends use them: a file read into the program's one
// layout, the cards of every category it is compared with, its check, its
// preview and its apply. The export writes the cards as listed.
#pragma once

#include <cstddef>
#include <string>

#include "renumber/port_layout.h"
#include "renumber/worker.h"

// A layout file ("-": standard input) into the program's layout, checked
// against the cards of every category, enumerated anew. false with the
// reason (the file, its contents, or cards it cannot tell apart).
bool LoadLayoutFile(const char* path, char* reason, std::size_t size);
// What the last LoadLayoutFile read, and how its cards match.
const PortLayout& LoadedLayout();
const DeviceTable& LayoutCards();
const LayoutMatch& LoadedMatch();
// The check of the loaded layout against the cards it was matched with.
LayoutCheck CheckLoadedLayout(CheckFormat format, std::string& text);
// The state of the loaded layout's cards, enumerated anew.
std::string LoadedLayoutState();
// The mapping an apply of the loaded layout would make, to the reporter's
// output; the count of its ports, 0 (nothing written) when the machine has
// the layout already.
unsigned PreviewLoadedLayout();
// Applies the loaded layout on the calling thread, or on a worker thread as
// StartRenameRun starts a run.
RunOutcome ApplyHere();
bool StartApplyRun(void (*ended)(RunOutcome outcome));

// The layout of the listed cards into a file ("-": standard output); false
// with the reason.
bool ExportLayout(const char* path, bool dscState, char* reason, std::size_t size);
