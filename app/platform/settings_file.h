// Where the settings store lives on this platform, and keeping its file to
// its owner: it holds the FTP password.
#pragma once

#include <string>

// $XDG_CONFIG_HOME/Orvandel/Tulk.conf, by default ~/.config/Orvandel/Tulk.conf.
std::string SettingsFilePath();

// Makes the store's folders (owner only) and the file itself (mode 0600)
// when they are missing, and takes every right away from everyone but the
// owner on the file and its folder when they have them (when it can).
// Returns 0 when the file can at least be read (*writable says whether it
// can be written too), or the system's error number.
int PrepareSettingsFile(const std::string& path, bool* writable);
