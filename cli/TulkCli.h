// One run of tulk-cli: connect, carry out the actions in order, sign off.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "cli/CliOptions.h"
#include "link/eph.h"

class CTerminalProgress;

class CTulkCli {
public:
    explicit CTulkCli(CliOptions options);
    ~CTulkCli();
    // The exit code.
    int Run();
    // From the signal thread: end after the picture in hand. A second
    // request also ends an FTP upload in progress.
    void RequestStop(int signal);

private:
    bool Connect();
    bool UseFolder();
    void Do(const CliAction& action);
    void Summary();
    void Capture();
    void GetAll();
    void GetLast();
    void DeleteLast();
    void DeleteAll();
    void TimeLapse();
    void OnRunEvent(struct RunEvent& event);
    void Set(const CliAction& action);
    void Get(const CliAction& action);
    // A picture reached the folder: print it, run the hook.
    void Saved(const std::string& path);
    // The outcome in a few words, for the run's journal.
    std::string Publish(const std::string& path);
    // Keeps the first failure.
    void Fail(int code, const std::string& message);
    bool Stopping() const { return m_bStop.load(); }
    const struct NameTable& Resolution();

    CliOptions m_options;
    eph_iob* m_iob = nullptr;
    std::string m_strFolder;  // ends in "/"
    std::string m_strModel;
    bool m_bModelRead = false;
    std::int32_t m_nFocusMode = -1;
    int m_nExit = kExitOk;
    std::unique_ptr<CTerminalProgress> m_progress;
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bAbortFtp{false};
    std::atomic<int> m_nSignal{0};
    int m_nPort = 1;
    long m_nSpeed = 0;
    // Standard error is a terminal; set before the signal thread starts.
    const bool m_bTerminal;
    // Guards m_bStop's setting and m_engine between the signal thread and
    // the run.
    std::mutex m_mutex;
    class CRunEngine* m_engine = nullptr;
};
