// Turns the port names the program uses ("\\.\COMn") into device paths on this system.
#pragma once

#include <optional>
#include <string>

// The per-user folder of port links: a symlink COMn in it names the device of COMn.
std::string PortMapDir();

// The entry of COMn in the per-user port map (it may not exist).
std::string PortLinkPath(unsigned number);

// The port number of "\\.\COMn" or "COMn" (n >= 1), or nothing for any other name.
std::optional<unsigned> ComPortNumber(const std::string& name);

// The note the meter simulator leaves beside the COMn entry it made in the port map: the
// terminal it serves, so the utility can say it talks to a simulator.
std::string SimulatorNotePath(unsigned number);

// Whether a port name reaches the simulator: a COMn entry of the port map that points at the
// terminal the simulator's note names. An entry someone else made (a meter's adapter), a note
// left by a run that ended, or any other name never count.
bool SimulatorOnPort(const std::string& name);

// The path to open for a port name: the per-user link if there is one, else the
// fixed table (COM1-32 ttyS, COM33-64 ttyUSB, COM65-96 ttyACM). A COM name with no
// link and no table entry resolves to the missing link path, so opening it fails.
// Any other name is a path already.
std::string ResolvePortName(const std::string& name);
