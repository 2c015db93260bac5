// The COM port list as the dialogs show it: ports that reach a device there now in bold, with
// what they reach as the entry's tooltip. The entries' texts stay "COMn".
#pragma once

#include <string>
#include <vector>

class QComboBox;

// `root` is the file system to look in (empty: "/"); entry i names COM(i+1).
void MarkPresentPorts(QComboBox* combo, const std::string& root = {});

// Fills `combo` with "COMn" entries, each holding n as its data: all of COM1..COM128, or with
// `onlyPresent` those that reach a device and those in `keep` (the stored port, the chosen one),
// which stay even when they reach nothing. Entries are marked as MarkPresentPorts marks them.
// Emits no signals, so a handler of the list may refill it; the chosen port stays chosen when
// it still has an entry. True when any port reaches a device.
bool FillPortList(QComboBox* combo, bool onlyPresent, const std::vector<unsigned>& keep,
                  const std::string& root = {});

// The COM number of the chosen entry of a list FillPortList filled, 0 with none chosen.
unsigned ChosenPort(const QComboBox* combo);
