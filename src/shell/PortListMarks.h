// The COM port list as the dialogs show it: ports that reach a device there now in bold, with
// what they reach as the entry's tooltip. The entries' texts stay "COMn".
#pragma once

#include <string>

class QComboBox;

// `root` is the file system to look in (empty: "/"); entry i names COM(i+1).
void MarkPresentPorts(QComboBox* combo, const std::string& root = {});
