#pragma once

// The paste keystrokes typed into whatever window has the keyboard focus.
class PasteKeys
{
public:
    static void sendShiftCtrlV();
    static void sendShiftInsert();
    // After a short delay (the menu closes, the previous window gets the focus
    // back) sends the keystroke chosen by "pastKey", read at that moment.
    static void pasteLater();
    static bool usesShiftCtrlV();
    // False when the desktop lets no program type into other windows ("paste by hand").
    static bool canPaste();
};
