// The controls of the program's dialog templates as kestrova.rc defines them:
// the in-memory platform builds its controls from these tables, and the tests
// of the real programs compare the windows Windows creates against them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

enum class ControlKind {
    Static,  // static text
    Icon,    // static icon
    GroupBox,
    PushButton,
    DefaultPushButton,
    AutoRadio,
    AutoCheck,
    ListBox,
    ComboBox,  // drop-down combo with edit field
    Edit,
    Progress,
    StatusBar,
};

struct ControlLayout {
    int id;  // -1 for controls without an id of their own
    ControlKind kind;
    const char* text;         // UTF-8
    int x, y, width, height;  // dialog units
    std::uint32_t style;      // full window style as Windows reports it (GetWindowLong GWL_STYLE)
    bool groupStart;          // WS_GROUP
};

struct DialogLayout {
    int templateId;
    const char* caption;  // UTF-8
    int width, height;    // dialog units
    const char* fontName;
    int fontPoints;
    std::uint32_t style;  // dialog window style from the template
    std::span<const ControlLayout> controls;
};

// The layout of a template, or nullptr for an unknown id.
const DialogLayout* FindDialogLayout(int templateId);
