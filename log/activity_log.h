// The activity log: a plain text file to which every part of Tulk appends a
// line for each failure and for some milestones, and the user message box.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

// Message buffer on the way to the log: callers format into it and pass it to
// WriteLog. One per thread, so two threads never mix their messages.
inline constexpr std::size_t kErrorTextSize = 4096;
extern thread_local char g_szErrorText[kErrorTextSize];

// Appends one line to the log. A line number other than 0 makes a warning
// line "Log (<line>) : warning : <message>", unless the message holds
// "RegDump"; otherwise the message is written as it is. The file name is not
// written. The line is in the file when WriteLog returns; it is echoed to the
// debug output after the text of the thread's last system error.
void WriteLog(const char* file, int line, const char* message);

// Closes the log; the next WriteLog opens it again (and starts a new run).
// Also runs at process exit.
void CloseLog();

// Writes bytes as rows of 20 two-digit lowercase hex numbers, each followed by
// a space; the last row holds what is left.
void HexDumpToLog(const unsigned char* bytes, std::size_t count);

// Where the log lives: $XDG_STATE_HOME/tulk/tulk.log, by default
// ~/.local/state/tulk/tulk.log.
std::string LogFilePath();

// Message box types and answers of ShowMessage.
inline constexpr int MB_OK = 0;
inline constexpr int MB_OKCANCEL = 1;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

// Shows a message box with the caption "Tulk Message" and returns the button
// chosen. The window installs the real box through the hook; without one the
// message goes to standard error and the answer is IDOK.
int ShowMessage(const char* text, int type);

using MessageBoxHook = std::function<int(const char* caption, const char* text, int type)>;
void SetMessageBoxHook(MessageBoxHook hook);
