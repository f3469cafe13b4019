#include "ui/entry.h"

#include "platform/platform.h"
#include "resources/ids.h"
#include "resources/strings.h"
#include "text/bounded_text.h"
#include "ui/cli.h"
#include "ui/main_dialog.h"

namespace {

// Under the 32-bit emulation the 64-bit copy does the work: with arguments it
// gets them whole and its exit code becomes this program's.
int HandOver(bool withArguments) {
    // Any folder Windows can hold.
    static char folder[kLongPathSize];
    static char arguments[kLongPathSize];
    static char command[2 * kLongPathSize + 32];
    arguments[0] = '\0';
    // Quoted: a folder name with blanks must not start a different program.
    bool built = GetCurrentFolder(folder, sizeof folder) &&
                 (!withArguments || GetArgumentsText(arguments, sizeof arguments)) &&
                 FormatText(command, sizeof command, "\"%s\\X64\\Kestrova_X64.EXE\"%s%s", folder,
                            withArguments ? " " : "", arguments);
    if (!withArguments) {
        if (!built || RunProgram(command) < 32) {
            ShowMessageBox(nullptr, kTextStartFailed, kStartFailCaption, kBoxWarningOk);
        }
        return 0;
    }
    unsigned exitCode = 0;
    if (!built || !RunProgramAndWait(command, &exitCode)) {
        ConsoleWrite(kTextStartFailed, true);
        ConsoleWrite("\n", true);
        return kExitHandOverFailed;
    }
    return static_cast<int>(exitCode);
}

}  // namespace

int RunKestrova() {
    static ArgumentList arguments;
    GetProgramArguments(arguments);
    bool withArguments = arguments.count > 0 || arguments.overflow;
    bool isWow64 = false;
    if (QueryWow64(&isWow64) && isWow64) {
        return HandOver(withArguments);
    }
    if (withArguments) {
        return RunCommandLine(arguments);
    }
    return static_cast<int>(RunModalDialog(IDD_MAIN, nullptr, MainDialogProc));
}
