// Where the settings store lives on this platform, and keeping its file to
// its owner: it holds the FTP password.
#pragma once

#include <string>

// $XDG_CONFIG_HOME/Orvandel/Tulk.conf, by default ~/.config/Orvandel/Tulk.conf.
std::string SettingsFilePath();

// Makes the store's folders (owner only) and the file itself (mode 0600)
// when they are missing, and takes read and write rights away from everyone
// but the owner when the file has them (when it can). Returns 0, or the
// system's error number when the file cannot be opened for reading and
// writing.
int PrepareSettingsFile(const std::string& path);
