// Running a piece of a test as a user who is not the file's owner and has no
// rights beyond a plain user's: as root (where permissions never refuse
// anything) in a child process that becomes "nobody".
#pragma once

#include <functional>
#include <string>

// Gives the folder and everything in it to the user the body runs as, runs
// the body in a child process as that user, and returns the body's result
// (-1 when the child could not be started or did not end by itself).
// Without root the body runs as the current user, in a child all the same.
int RunAsPlainUser(const std::string& folder, const std::function<int()>& body);
