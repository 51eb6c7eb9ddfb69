// Which serial ports exist: the names for the port box, and a probe of one name.
#pragma once

#include <string>
#include <vector>

// Fills list with the port names (COM1, COM10, COM3: sorted as text, letter case ignored).
// The list is emptied first.
void ListSerialPorts(std::vector<std::string>& list);

// True when the named port exists and can be opened right now for exclusive use.
bool ProbeSerialPort(const std::string& name);
