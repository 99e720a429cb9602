// Folders that only their owner may enter, as the log's folder must be.
#pragma once

#include <string>

// Makes the folder and any missing folder above it, each for its owner
// alone; folders already there are left as they are. Failures are silent:
// the log then cannot open, which its caller notices.
void make_private_folders(const std::string& dir);
