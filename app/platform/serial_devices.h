// The serial devices of this system, offered when the user says which device
// each COM port name stands for.
#pragma once

#include <string>
#include <vector>

// The serial devices found, as paths, in natural order (ttyS2 before
// ttyS10).
std::vector<std::string> ListSerialDevices();

// The same over a given device folder and tty class folder of sysfs: the
// USB, ACM, AMA and Bluetooth serial devices of devDir, and those ttyS
// devices that sysfs knows as a real port (a "type" other than 0).
std::vector<std::string> ListSerialDevicesIn(const std::string& devDir,
                                             const std::string& sysClassTty);
