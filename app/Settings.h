// The settings store: named values kept between runs, in one namespace whose
// names are compared without regard to case ("OnlyNEW" and "OnlyNew" are one
// value). It creates itself on first use. Every call stands alone and may
// come from any thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>

// Mode 1 writes *value; any other mode reads the stored value into *value.
// Returns 1 on success and 0 on any failure, which is written to the
// activity log ("Code = ...", "read status = ...", "write status = ..."); a
// failed read leaves *value as it was.
int SettingDword(const char* name, std::int32_t* value, int mode);

// Mode 0 reads the stored text into *value, mode 1 writes *value, any other
// mode does neither (but still creates the store). Returns 0 on success and
// for the other modes, -1 on any failure; nothing is logged, and a failed
// read leaves *value as it was.
int SettingString(const char* name, std::string* value, int mode);

// The COM port names the serial settings offer: COM1: to COM4:.
inline constexpr int kSerialPortCount = 4;
// The setting that keeps the device a COM port stands for ("SerialDevice1").
std::string SerialDeviceSettingName(int port);
// The stored device of each COM port; ports without one are left out.
std::map<int, std::string> LoadPortMap();
