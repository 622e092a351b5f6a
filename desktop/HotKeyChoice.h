#pragma once

#include <QKeySequence>
#include <QString>

// The global hot key as chosen in the settings window's three boxes: a first
// modifier ("Shift" or "Ctrl"), a second one ("Alt") and a letter ("a".."z").
// An empty text stands for the boxes' "无".
struct HotKeyChoice
{
    QString first;
    QString middle;
    QString last;

    // What the boxes show at start-up: the stored keys, or the factory hot key
    // Shift+Alt+V while nothing is stored and the hot key was never switched off.
    static HotKeyChoice load();
    static HotKeyChoice factory();

    // The keys the boxes can show; any other stored key reads as "无".
    HotKeyChoice offered() const;

    bool isNone() const { return first.isEmpty() && middle.isEmpty() && last.isEmpty(); }
    // A letter with at least one modifier: the only choice worth a system grab.
    bool isComplete() const { return !last.isEmpty() && (!first.isEmpty() || !middle.isEmpty()); }
    // "Shift+Alt+v", "Ctrl+b", "Alt+c": the boxes not at "无", joined with "+".
    QString text() const;
    QKeySequence sequence() const;

    // Writes the three keys ("无" removes its key).
    void store() const;
    // The user switched the hot key off: no keys, and the factory key stays off.
    static void storeSwitchedOff();
};
