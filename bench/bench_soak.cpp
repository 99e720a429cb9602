// A soak of tulk-cli's time lapse as a rig left alone meets it: the camera is
// tulk-camsim in a process of its own, the run takes thousands of pictures at
// the shortest interval with Save Every Time and Delete After Download, and
// every few hundred pictures the camera plays one of its faults, each kind in
// turn: a transfer that stalls, a garbled packet, a lost answer to a snapshot
// and to an erase, an unheard snapshot, a restart of its interface, and a
// camera that vanishes, which this program starts again after a pause.
//
// It measures and reports; it never fails a test (the field tests in
// tests/cli/field_test.cpp check the rules). Figures:
//   - pictures taken (the camera's record), saved whole (every saved file
//     compared byte for byte with the record's copy), taken and not saved,
//     erased and not saved, garbled files saved;
//   - the run's journal in the save folder: its lines, ticks by outcome, and
//     the files it names against those saved;
//   - ticks dropped and missed (tulk-cli's own last line);
//   - per fault, the time from its line in the camera's record to the next
//     picture saved, split where the run shows it: the link's first error
//     line (the end of its wait), "camera lost", "camera back"; and the time
//     from the camera answering again to that save;
//   - tulk-cli's resident memory (VmRSS, sampled each second) against the
//     pictures taken, as a slope after warm-up;
//   - tulk-cli's processor time (user + system, from its end) against its
//     wall time.
// Times are this program's monotonic clock when it read the line: the
// programs' output as it arrives on pipes, the camera's record as the
// kernel says it was written (inotify), each within a millisecond or so.
//
// Usage: bench_soak [options] usb|serial
//   --quick            300 pictures on USB, 30 on serial, a fault every 40 / 4
//   --frames N         pictures (default 5000 on USB, 500 on serial)
//   --interval MS      the time lapse's interval (default 100, tulk-cli's shortest)
//   --spacing N        pictures between two faults (default 200 on USB, 60 on serial)
//   --stall S          how long a stalled transfer stays silent (default 3)
//   --vanish-pause S[,S...]  how long a vanished camera stays away before
//                      it is started again, in turn (default 5,20)
//   --hang-limit S     no picture saved for this long: the run is taken as
//                      hung, ended and reported (default 600)
//   --dir DIR          the work folder (default a new /tmp/tulk-soak.XXXXXX)
//   --keep             keep the work folder (kept anyway when a goal is missed),
//                      with the run's lines and memory samples in trace-*.txt
//   --tulk-cli PATH, --camsim PATH   the programs (default: this build's)
// The programs are copied into the work folder first (as soakcli and
// soakcam), so that a rebuild during a long run does not change what runs
// and a kill by name elsewhere on the machine does not end it. SIGINT or SIGTERM ends the
// run early (tulk-cli is asked to stop) and the figures so far are reported.
// scripts/bench-soak.sh builds and runs it.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Pictures the simulator draws are 640 × 480 JPEG files of 35 to 43 KB
// (38 KB on the whole), sent in 2,048-byte packets: a garbled packet is
// placed near the middle of the picture it is meant for by this count.
constexpr long kPacketsPerPicture = 19;
// The goals the figures are set beside.
constexpr double kRecoveryGoalSeconds = 5.0;
constexpr double kMemoryGoalKbPer1000 = 1024.0;
constexpr double kPollSeconds = 0.05;

volatile sig_atomic_t g_stopAsked = 0;

void OnStopSignal(int) {
    g_stopAsked = 1;
}

double Now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::string ClockText() {
    const std::time_t t = std::time(nullptr);
    std::tm parts{};
    localtime_r(&t, &parts);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", parts.tm_hour, parts.tm_min, parts.tm_sec);
    return text;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

struct Options {
    bool serial = false;
    bool quick = false;
    long frames = 0;
    long interval = 100;
    long spacing = 0;
    double stall = 3;
    std::vector<double> vanishPauses{5, 20};
    double hangLimit = 600;
    std::string dir;
    bool keep = false;
    std::string cli = TULK_CLI;
    std::string camsim = TULK_CAMSIM;
};

void Usage() {
    std::fprintf(stderr,
                 "usage: bench_soak [--quick] [--frames N] [--interval MS] [--spacing N]\n"
                 "                  [--stall S] [--vanish-pause S[,S...]] [--hang-limit S]\n"
                 "                  [--dir DIR] [--keep] [--tulk-cli PATH] [--camsim PATH]\n"
                 "                  usb|serial\n");
}

std::optional<Options> ParseOptions(int argc, char** argv) {
    Options o;
    bool cableGiven = false;
    std::optional<long> frames;
    std::optional<long> spacing;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                throw std::invalid_argument(arg + " wants a value");
            }
            return argv[++i];
        };
        try {
            if (arg == "usb" || arg == "serial") {
                o.serial = arg == "serial";
                cableGiven = true;
            } else if (arg == "--quick") {
                o.quick = true;
            } else if (arg == "--frames") {
                frames = std::stol(value());
            } else if (arg == "--interval") {
                o.interval = std::stol(value());
            } else if (arg == "--spacing") {
                spacing = std::stol(value());
            } else if (arg == "--stall") {
                o.stall = std::stod(value());
            } else if (arg == "--vanish-pause") {
                o.vanishPauses.clear();
                std::istringstream list(value());
                std::string item;
                while (std::getline(list, item, ',')) {
                    o.vanishPauses.push_back(std::stod(item));
                }
            } else if (arg == "--hang-limit") {
                o.hangLimit = std::stod(value());
            } else if (arg == "--dir") {
                o.dir = value();
            } else if (arg == "--keep") {
                o.keep = true;
            } else if (arg == "--tulk-cli") {
                o.cli = value();
            } else if (arg == "--camsim") {
                o.camsim = value();
            } else {
                throw std::invalid_argument("unknown argument " + arg);
            }
        } catch (const std::exception& e) {
            std::fprintf(stderr, "bench_soak: %s\n", e.what());
            return std::nullopt;
        }
    }
    if (!cableGiven || o.vanishPauses.empty()) {
        return std::nullopt;
    }
    o.frames = frames.value_or(o.quick ? (o.serial ? 30 : 300) : (o.serial ? 500 : 5000));
    o.spacing = spacing.value_or(o.quick ? (o.serial ? 4 : 40) : (o.serial ? 60 : 200));
    if (o.frames < 1 || o.spacing < 1 || o.interval < 1 || o.stall < 0) {
        return std::nullopt;
    }
    return o;
}

// A line and when this program read it.
struct Stamped {
    double t = 0;
    std::string text;
};

// Splits what a pipe or a growing file brings into stamped lines.
class LineSplitter {
public:
    void Add(const char* data, std::size_t n, double t, std::vector<Stamped>& into) {
        partial_.append(data, n);
        std::size_t start = 0;
        for (std::size_t end; (end = partial_.find('\n', start)) != std::string::npos;
             start = end + 1) {
            into.push_back({t, partial_.substr(start, end - start)});
        }
        partial_.erase(0, start);
    }
    void Flush(double t, std::vector<Stamped>& into) {
        if (!partial_.empty()) {
            into.push_back({t, partial_});
            partial_.clear();
        }
    }

private:
    std::string partial_;
};

// A pipe's read end; Pump takes what is there without waiting.
class PipeReader {
public:
    explicit PipeReader(int fd = -1) : fd_(fd) {}
    int Fd() const { return fd_; }
    // False once the writer has closed its end.
    bool Pump(std::vector<Stamped>& into) {
        if (fd_ < 0) {
            return false;
        }
        char buffer[4096];
        for (;;) {
            const ssize_t n = read(fd_, buffer, sizeof buffer);
            if (n > 0) {
                splitter_.Add(buffer, static_cast<std::size_t>(n), Now(), into);
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno == EAGAIN) {
                return true;
            }
            splitter_.Flush(Now(), into);
            close(fd_);
            fd_ = -1;
            return false;
        }
    }

private:
    int fd_;
    LineSplitter splitter_;
};

// The camera's events.log as it grows.
class FileTail {
public:
    explicit FileTail(fs::path path) : path_(std::move(path)) {}
    void Pump(std::vector<Stamped>& into) {
        std::ifstream file(path_, std::ios::binary);
        if (!file) {
            return;
        }
        file.seekg(offset_);
        char buffer[4096];
        while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
            const auto n = static_cast<std::size_t>(file.gcount());
            offset_ += static_cast<std::streamoff>(n);
            splitter_.Add(buffer, n, Now(), into);
        }
    }

private:
    fs::path path_;
    std::streamoff offset_ = 0;
    LineSplitter splitter_;
};

struct Child {
    pid_t pid = -1;
    PipeReader out;
    PipeReader err;
    double started = 0;
};

// Starts the program in its own process, its standard output (and its
// standard error, unless errFile names a file for it) on pipes this
// program reads. The child dies with this program, so that a bench killed
// hard leaves no camera and no run behind.
std::optional<Child> Spawn(const std::string& program, const std::vector<std::string>& args,
                           const std::string& errFile) {
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    if (pipe2(out, O_CLOEXEC) != 0 || (errFile.empty() && pipe2(err, O_CLOEXEC) != 0)) {
        return std::nullopt;
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        return std::nullopt;
    }
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) {
            _exit(127);
        }
        dup2(out[1], 1);
        if (errFile.empty()) {
            dup2(err[1], 2);
        } else {
            const int fd = open(errFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
            if (fd >= 0) {
                dup2(fd, 2);
            }
        }
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    fcntl(out[0], F_SETFL, O_NONBLOCK);
    Child child;
    child.pid = pid;
    child.out = PipeReader(out[0]);
    if (errFile.empty()) {
        close(err[1]);
        fcntl(err[0], F_SETFL, O_NONBLOCK);
        child.err = PipeReader(err[0]);
    }
    child.started = Now();
    return child;
}

long RssKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (StartsWith(line, "VmRSS:")) {
            return std::atol(line.c_str() + 6);
        }
    }
    return -1;
}

// User plus system seconds of the process so far.
double CpuSeconds(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // The name is in parentheses and may hold spaces: utime and stime are
    // the 12th and 13th fields after it.
    const auto close = text.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    std::istringstream fields(text.substr(close + 1));
    std::string field;
    unsigned long long user = 0;
    unsigned long long system = 0;
    for (int i = 1; i <= 13 && fields >> field; ++i) {
        if (i == 12) {
            user = std::stoull(field);
        } else if (i == 13) {
            system = std::stoull(field);
        }
    }
    return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double RusageSeconds(const rusage& usage) {
    const auto s = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return s(usage.ru_utime) + s(usage.ru_stime);
}

// The faults, each kind in turn: kind k falls on pictures (k + 1) × spacing,
// then every kKinds × spacing pictures.
enum Kind { Stall, Garble, LoseSnapshot, LoseErase, IgnoreSnapshot, Restart, Vanish, kKinds };
const std::array<const char*, kKinds> kKindNames = {"stall-mid-transfer",
                                                    "garble-packet",
                                                    "lose-answer snapshot",
                                                    "lose-answer erase",
                                                    "ignore-command snapshot",
                                                    "restart",
                                                    "vanish"};

long Scheduled(const Options& o, int kind, long j) {
    return (kind + 1) * o.spacing + j * kKinds * o.spacing;
}

// The camera's --fault arguments for a camera started when `taken`
// snapshots are on record and `vanished` cameras have gone before it. Each
// camera counts its occasions from 1, so every kind's next picture is given
// relative to those taken; snapshots, transfers and erases are one an
// attempt each, which is close enough to a picture each for faults spaced
// hundreds apart.
std::vector<std::string> FaultArgs(const Options& o, long taken, long vanished) {
    std::vector<std::string> args;
    const long cycle = kKinds * o.spacing;
    for (int kind = 0; kind < kKinds; ++kind) {
        long j = kind == Vanish ? vanished : 0;
        while (kind != Vanish && Scheduled(o, kind, j) <= taken) {
            ++j;
        }
        const long at = Scheduled(o, kind, j) - taken;
        const std::string every = ",at=" + std::to_string(at) + ",every=" + std::to_string(cycle);
        std::string spec;
        switch (kind) {
            case Stall:
                spec = "stall-mid-transfer" + every +
                       ",for=" + std::to_string(std::lround(o.stall * 1000)) + "ms";
                break;
            case Garble:
                spec = "garble-packet,at=" +
                       std::to_string((at - 1) * kPacketsPerPicture + kPacketsPerPicture / 2) +
                       ",every=" + std::to_string(cycle * kPacketsPerPicture);
                break;
            case LoseSnapshot:
                spec = "lose-answer,action=snapshot" + every;
                break;
            case LoseErase:
                spec = "lose-answer,action=erase" + every;
                break;
            case IgnoreSnapshot:
                spec = "ignore-command,action=snapshot" + every;
                break;
            case Restart:
                spec = "restart" + every;
                break;
            case Vanish:
                // The camera ends on it: the next one is given its own.
                spec = "vanish,at=" + std::to_string(at);
                break;
        }
        args.insert(args.end(), {"--fault", spec});
    }
    return args;
}

// One camera process's life.
struct CameraLife {
    Child child;
    double serving = -1;
    double ended = -1;
    int status = -1;  // exit status, 128 + signal
    double cpu = 0;
    std::vector<std::string> faults;
};

struct RssSample {
    double t = 0;
    long taken = 0;
    long rssKb = 0;
    double cpu = 0;
};

struct FaultSeen {
    std::string kind;  // kKindNames' text, or the record's when it is none of them
    long occasion = 0;
    long picture = 0;  // snapshots on record before it
    double t = 0;
    double answering = 0;  // when the camera answers again
    std::optional<double> linkError, lost, back, saved;
};

double Median(std::vector<double> values) {
    if (values.empty()) {
        return NAN;
    }
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::uint64_t Fnv1a(const std::string& bytes) {
    std::uint64_t h = 1469598103934665603ull;
    for (const char c : bytes) {
        h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    return h;
}

std::string ReadAll(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// The run's journal, which tulk-cli keeps in the save folder.
bool IsJournal(const std::string& name) {
    return StartsWith(name, "tulk-run-") && name.ends_with(".jsonl");
}

// A field of one journal line, its value as written (a string without its
// quotes); the journal's lines are flat objects.
std::optional<std::string> JsonField(const std::string& line, const std::string& key) {
    const std::string quoted = "\"" + key + "\":";
    const auto at = line.find(quoted);
    if (at == std::string::npos) {
        return std::nullopt;
    }
    std::size_t begin = at + quoted.size();
    if (begin < line.size() && line[begin] == '"') {
        const auto end = line.find('"', begin + 1);
        return end == std::string::npos ? std::nullopt
                                        : std::optional(line.substr(begin + 1, end - begin - 1));
    }
    const auto end = line.find_first_of(",}", begin);
    return line.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

class Soak {
public:
    explicit Soak(Options o) : o_(std::move(o)) {}
    int Run();

private:
    bool Prepare();
    bool StartCamera();
    void Pump();
    void TakeSample(pid_t cli);
    void Print(const std::string& line);
    void Report();
    void WriteTrace() const;
    void ReportPictures();
    void ReportJournal();
    void ReportFaults();
    void ReportMemoryAndCpu();

    Options o_;
    fs::path root_;
    std::string cli_, camsim_;
    std::vector<CameraLife> cameras_;
    Child cliChild_;
    std::vector<Stamped> cliOut_, cliErr_, events_;
    std::size_t shownErr_ = 0, shownEvents_ = 0;
    std::unique_ptr<FileTail> tail_;
    long snapshots_ = 0;
    std::vector<RssSample> samples_;
    double start_ = 0, end_ = 0;
    int cliStatus_ = -1;
    rusage cliUsage_{};
    bool hung_ = false, cutShort_ = false;
    bool stopSent_ = false;
    bool goalMissed_ = false;
    std::vector<std::string> notes_;
};

void Soak::Print(const std::string& line) {
    std::printf("[%s +%7.1f s] %s\n", ClockText().c_str(), start_ > 0 ? Now() - start_ : 0.0,
                line.c_str());
    std::fflush(stdout);
}

bool Soak::Prepare() {
    if (o_.dir.empty()) {
        char pattern[] = "/tmp/tulk-soak.XXXXXX";
        if (!mkdtemp(pattern)) {
            std::perror("bench_soak: mkdtemp");
            return false;
        }
        root_ = pattern;
    } else {
        root_ = fs::absolute(o_.dir);
        if (fs::exists(root_) && !fs::is_empty(root_)) {
            std::fprintf(stderr, "bench_soak: %s is not empty\n", root_.c_str());
            return false;
        }
    }
    for (const char* sub : {"config", "state", "run", "home", "pictures", "record", "bin"}) {
        fs::create_directories(root_ / sub);
    }
    fs::permissions(root_ / "run", fs::perms::owner_all, fs::perm_options::replace);
    // Other names than the programs' own: on a shared machine a test's
    // clean-up that ends "tulk-cli" by name must not end an hour's soak.
    cli_ = (root_ / "bin" / "soakcli").string();
    camsim_ = (root_ / "bin" / "soakcam").string();
    std::error_code error;
    fs::copy_file(o_.cli, cli_, error);
    if (!error) {
        fs::copy_file(o_.camsim, camsim_, error);
    }
    if (error) {
        std::fprintf(stderr, "bench_soak: copying the programs: %s\n", error.message().c_str());
        return false;
    }
    // Settings, log and sockets of the soak's own, never the user's.
    setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
    setenv("XDG_STATE_HOME", (root_ / "state").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (root_ / "run").c_str(), 1);
    setenv("HOME", (root_ / "home").c_str(), 1);
    setenv("TULK_COM1", (root_ / "com1").c_str(), 1);
    unsetenv("TULK_DEBUG");
    tail_ = std::make_unique<FileTail>(root_ / "record" / "events.log");
    return true;
}

bool Soak::StartCamera() {
    Pump();
    long vanished = 0;
    for (const CameraLife& life : cameras_) {
        vanished += life.status == 3;
    }
    CameraLife life;
    life.faults = FaultArgs(o_, snapshots_, vanished);
    std::vector<std::string> args{"--record", (root_ / "record").string()};
    if (o_.serial) {
        args.insert(args.end(), {"--serial", "--pace", "--link", (root_ / "com1").string()});
    } else {
        args.insert(args.end(), {"--usb"});
    }
    args.insert(args.end(), life.faults.begin(), life.faults.end());
    auto child = Spawn(camsim_, args, (root_ / "camsim.err").string());
    if (!child) {
        return false;
    }
    life.child = std::move(*child);
    std::string faults;
    for (std::size_t i = 1; i < life.faults.size(); i += 2) {
        faults += " " + life.faults[i];
    }
    Print("camera " + std::to_string(cameras_.size() + 1) + " started (pid " +
          std::to_string(life.child.pid) + ") at picture " + std::to_string(snapshots_) +
          ", faults:" + faults);
    cameras_.push_back(std::move(life));
    return true;
}

// Reads what the programs said and what the camera recorded, and shows the
// run's notable lines as they come.
void Soak::Pump() {
    // The record first: the camera writes a line before it answers, so a
    // line of tulk-cli's that it caused is read after it.
    if (tail_) {
        tail_->Pump(events_);
    }
    if (cliChild_.pid > 0) {
        cliChild_.out.Pump(cliOut_);
        cliChild_.err.Pump(cliErr_);
    }
    for (CameraLife& life : cameras_) {
        std::vector<Stamped> lines;
        life.child.out.Pump(lines);
        for (const Stamped& line : lines) {
            if (life.serving < 0 && line.text.find("serving") != std::string::npos) {
                life.serving = line.t;
                Print(line.text);
            }
        }
    }
    for (; shownEvents_ < events_.size(); ++shownEvents_) {
        const std::string& text = events_[shownEvents_].text;
        if (StartsWith(text, "snapshot ")) {
            ++snapshots_;
        } else if (StartsWith(text, "fault ")) {
            Print("record: " + text + " (picture " + std::to_string(snapshots_) + ")");
        }
    }
    for (; shownErr_ < cliErr_.size(); ++shownErr_) {
        if (!stopSent_ && cliErr_[shownErr_].text.find("stopping after the picture in hand") !=
                              std::string::npos) {
            notes_.push_back("tulk-cli was stopped by a signal this program did not send");
        }
        if (!cliErr_[shownErr_].text.empty()) {
            Print("stderr| " + cliErr_[shownErr_].text);
        }
    }
}

void Soak::TakeSample(pid_t cli) {
    RssSample s;
    s.t = Now();
    s.taken = snapshots_;
    s.rssKb = RssKb(cli);
    s.cpu = CpuSeconds(cli);
    if (s.rssKb > 0) {
        samples_.push_back(s);
    }
}

int Soak::Run() {
    if (!Prepare()) {
        return 2;
    }
    std::printf(
        "Soak: tulk-cli's time lapse against tulk-camsim in its own process, %s, %ld pictures "
        "at %ld ms, Save Every Time and Delete After Download, a fault every %ld pictures\n",
        o_.serial ? "serial 115200 (--pace)" : "USB", o_.frames, o_.interval, o_.spacing);
    for (const std::string& program : {o_.cli, o_.camsim}) {
        const auto written = fs::last_write_time(program);
        const auto since = std::chrono::duration_cast<std::chrono::seconds>(
            fs::file_time_type::clock::now() - written);
        std::printf("  %s (built %lld s before the run)\n", program.c_str(),
                    static_cast<long long>(since.count()));
    }
    std::printf("  work folder %s\n", root_.c_str());
    std::fflush(stdout);

    start_ = Now();
    if (!StartCamera()) {
        return 2;
    }
    while (cameras_.back().serving < 0 && Now() - start_ < 20) {
        Pump();
        usleep(10000);
    }
    if (cameras_.back().serving < 0) {
        std::fprintf(stderr, "bench_soak: the camera did not start (see %s)\n",
                     (root_ / "camsim.err").c_str());
        return 2;
    }
    std::vector<std::string> args =
        o_.serial ? std::vector<std::string>{"--port", "1", "--speed", "115200"}
                  : std::vector<std::string>{"--usb"};
    args.insert(args.end(),
                {"--folder", (root_ / "pictures").string(), "--frames", std::to_string(o_.frames),
                 "--interval", std::to_string(o_.interval), "--save-every-time", "--delete-after"});
    auto cli = Spawn(cli_, args, "");
    if (!cli) {
        std::perror("bench_soak: starting tulk-cli");
        return 2;
    }
    cliChild_ = std::move(*cli);
    start_ = cliChild_.started;
    Print("tulk-cli started (pid " + std::to_string(cliChild_.pid) + ")");

    signal(SIGINT, OnStopSignal);
    signal(SIGTERM, OnStopSignal);
    signal(SIGPIPE, SIG_IGN);

    // Woken when the camera writes its record, so that a fault's line is
    // stamped when it is written rather than at the next look.
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch >= 0) {
        inotify_add_watch(watch, (root_ / "record").c_str(), IN_MODIFY | IN_CREATE);
    }
    double nextSample = start_;
    double lastProgress = start_;
    std::size_t savedSeen = 0;
    double restartAt = -1;
    double termSent = -1;
    long nextReport = std::max(1L, o_.frames / 10);
    bool cliEnded = false;
    while (!cliEnded) {
        pollfd fds[4] = {{cliChild_.out.Fd(), POLLIN, 0},
                         {cliChild_.err.Fd(), POLLIN, 0},
                         {cameras_.back().child.out.Fd(), POLLIN, 0},
                         {watch, POLLIN, 0}};
        poll(fds, 4, static_cast<int>(kPollSeconds * 1000));
        if (fds[3].revents & POLLIN) {
            char drained[4096];
            while (read(watch, drained, sizeof drained) > 0) {
            }
        }
        const double now = Now();
        if (now >= nextSample) {
            TakeSample(cliChild_.pid);
            nextSample += 1.0;
        }
        Pump();
        if (cliOut_.size() > savedSeen) {
            savedSeen = cliOut_.size();
            lastProgress = now;
        }
        if (snapshots_ >= nextReport) {
            Print(std::to_string(snapshots_) + " pictures taken, " + std::to_string(savedSeen) +
                  " saved, tulk-cli VmRSS " +
                  std::to_string(samples_.empty() ? -1 : samples_.back().rssKb) + " kB");
            nextReport += std::max(1L, o_.frames / 10);
        }

        CameraLife& camera = cameras_.back();
        if (camera.ended < 0) {
            int status = 0;
            rusage usage{};
            if (wait4(camera.child.pid, &status, WNOHANG, &usage) == camera.child.pid) {
                camera.ended = now;
                camera.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                camera.cpu = RusageSeconds(usage);
                long vanished = 0;
                for (const CameraLife& life : cameras_) {
                    vanished += life.status == 3;
                }
                const double pause =
                    o_.vanishPauses[static_cast<std::size_t>(std::max(vanished, 1L) - 1) %
                                    o_.vanishPauses.size()];
                if (camera.status != 3) {
                    notes_.push_back("camera " + std::to_string(cameras_.size()) +
                                     " ended with status " + std::to_string(camera.status) +
                                     ", not by the vanish fault");
                }
                Print("camera " + std::to_string(cameras_.size()) + " ended, status " +
                      std::to_string(camera.status) + "; started again in " +
                      std::to_string(std::lround(pause)) + " s");
                restartAt = now + pause;
            }
        } else if (restartAt >= 0 && now >= restartAt && termSent < 0) {
            restartAt = -1;
            if (!StartCamera()) {
                notes_.push_back("the camera could not be started again");
            }
            lastProgress = std::max(lastProgress, now);
        }

        if (termSent < 0 && g_stopAsked) {
            cutShort_ = true;
            notes_.push_back("the run was cut short by a signal to the bench");
            Print("asked to stop: tulk-cli is asked to stop");
            stopSent_ = true;
            kill(cliChild_.pid, SIGTERM);
            termSent = now;
        }
        if (termSent < 0 && now - lastProgress > o_.hangLimit && cameras_.back().ended < 0) {
            hung_ = true;
            notes_.push_back("no picture saved for " + std::to_string(std::lround(o_.hangLimit)) +
                             " s with the camera there: tulk-cli was ended");
            Print("no picture saved for " + std::to_string(std::lround(now - lastProgress)) +
                  " s: tulk-cli is asked to stop");
            stopSent_ = true;
            kill(cliChild_.pid, SIGTERM);
            termSent = now;
        }
        if (termSent >= 0 && now - termSent > 30) {
            notes_.push_back("tulk-cli did not end within 30 s of SIGTERM: killed");
            kill(cliChild_.pid, SIGKILL);
            termSent = now + 1e9;
        }

        int status = 0;
        if (wait4(cliChild_.pid, &status, WNOHANG, &cliUsage_) == cliChild_.pid) {
            end_ = Now();
            cliStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            cliEnded = true;
        }
    }
    // What the pipes still hold; a few seconds at most, should anything
    // else have kept them open.
    for (const double until = Now() + 5;
         (cliChild_.out.Fd() >= 0 || cliChild_.err.Fd() >= 0) && Now() < until;) {
        cliChild_.out.Pump(cliOut_);
        cliChild_.err.Pump(cliErr_);
        usleep(10000);
    }
    Pump();
    CameraLife& camera = cameras_.back();
    if (camera.ended < 0) {
        kill(camera.child.pid, SIGTERM);
        int status = 0;
        rusage usage{};
        wait4(camera.child.pid, &status, 0, &usage);
        camera.ended = Now();
        camera.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        camera.cpu = RusageSeconds(usage);
    }
    Pump();
    if (watch >= 0) {
        close(watch);
    }
    WriteTrace();
    Report();
    if (o_.keep || goalMissed_ || hung_ || cutShort_) {
        std::printf("work folder kept: %s\n", root_.c_str());
    } else {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    return 0;
}

void Soak::ReportPictures() {
    // The camera's pictures by running number, and an index of their bytes.
    std::map<std::string, fs::path> record;
    std::multimap<std::pair<std::uintmax_t, std::uint64_t>, std::string> bySum;
    for (const auto& entry : fs::directory_iterator(root_ / "record")) {
        const std::string name = entry.path().filename().string();
        if (name.size() > 7 && name[6] == '-' && name.find_first_not_of("0123456789") == 6) {
            const std::string number = name.substr(0, 6);
            record[number] = entry.path();
            const std::string bytes = ReadAll(entry.path());
            bySum.emplace(std::make_pair(bytes.size(), Fnv1a(bytes)), number);
        }
    }
    std::set<std::string> savedNumbers;
    long garbled = 0, twice = 0, files = 0, leftovers = 0;
    std::vector<std::string> garbledNames;
    for (const auto& entry : fs::directory_iterator(root_ / "pictures")) {
        if (!entry.is_regular_file()) {
            continue;
        }
        const std::string name = entry.path().filename().string();
        if (IsJournal(name)) {
            continue;
        }
        const std::string bytes = ReadAll(entry.path());
        const auto [first, last] = bySum.equal_range({bytes.size(), Fnv1a(bytes)});
        std::optional<std::string> match;
        for (auto it = first; it != last && !match; ++it) {
            if (ReadAll(record[it->second]) == bytes) {
                match = it->second;
            }
        }
        const bool picture = name.size() > 4 && (name.ends_with(".JPG") || name.ends_with(".jpg"));
        if (!picture && !match) {
            ++leftovers;
            garbledNames.push_back(name + " (not a picture's name)");
            continue;
        }
        ++files;
        if (!match) {
            ++garbled;
            garbledNames.push_back(name);
        } else if (!savedNumbers.insert(*match).second) {
            ++twice;
        }
    }
    long taken = 0, saved = 0, erasedUnsaved = 0;
    std::set<std::string> erased;
    std::vector<std::string> unsaved;
    for (const Stamped& e : events_) {
        std::istringstream words(e.text);
        std::string kind, number, name;
        words >> kind >> number >> name;
        if (kind == "erase") {
            erased.insert(number);
            if (!savedNumbers.count(number)) {
                ++erasedUnsaved;
                unsaved.push_back(number + " " + name + " erased and not saved");
            }
        }
    }
    for (const Stamped& e : events_) {
        std::istringstream words(e.text);
        std::string kind, number, name;
        words >> kind >> number >> name;
        if (kind != "snapshot") {
            continue;
        }
        ++taken;
        if (savedNumbers.count(number)) {
            ++saved;
        } else if (!erased.count(number)) {
            unsaved.push_back(number + " " + name + " not saved, not erased");
        }
    }
    const long notSaved = taken - saved;
    goalMissed_ = goalMissed_ || notSaved != 0 || erasedUnsaved != 0 || garbled != 0;

    std::printf("\nPictures (the camera's record against the save folder)\n");
    std::printf("  %-44s %8ld   asked %ld\n", "taken (snapshot lines)", taken, o_.frames);
    std::printf("  %-44s %8ld\n", "saved whole (byte for byte)", saved);
    std::printf("  %-44s %8ld   goal 0\n", "taken and not saved", notSaved);
    std::printf("  %-44s %8ld   goal 0\n", "erased and not saved", erasedUnsaved);
    std::printf("  %-44s %8ld   goal 0\n", "garbled files saved (no picture's bytes)", garbled);
    std::printf("  %-44s %8ld\n", "the same picture saved twice", twice);
    std::printf("  %-44s %8ld\n", "files in the save folder", files);
    std::printf("  %-44s %8ld\n", "other files left in the save folder", leftovers);
    for (std::size_t i = 0; i < unsaved.size() && i < 20; ++i) {
        std::printf("    %s\n", unsaved[i].c_str());
    }
    for (std::size_t i = 0; i < garbledNames.size() && i < 20; ++i) {
        std::printf("    garbled or stray: %s\n", garbledNames[i].c_str());
    }
}

// What the run's journal says of the run, against what was saved: a line a
// tick, and every file it names there with the bytes it says. Its SHA-256
// sums are not checked here.
void Soak::ReportJournal() {
    std::vector<fs::path> journals;
    std::set<std::string> pictures;
    for (const auto& entry : fs::directory_iterator(root_ / "pictures")) {
        const std::string name = entry.path().filename().string();
        if (IsJournal(name)) {
            journals.push_back(entry.path());
        } else {
            pictures.insert(entry.path().string());
        }
    }
    std::printf("\nThe run's journal (tulk-run-*.jsonl in the save folder): %zu file(s)\n",
                journals.size());
    if (journals.empty()) {
        return;
    }
    std::map<std::string, long> records, outcomes;
    long lines = 0, unreadable = 0, named = 0, wrongSize = 0, absent = 0;
    std::uintmax_t size = 0;
    std::set<std::string> files;
    std::string end;
    for (const fs::path& journal : journals) {
        size += fs::file_size(journal);
        std::ifstream in(journal);
        std::string line;
        while (std::getline(in, line)) {
            ++lines;
            const auto record = JsonField(line, "record");
            if (line.empty() || line.front() != '{' || line.back() != '}' || !record) {
                ++unreadable;
                continue;
            }
            ++records[*record];
            if (const auto outcome = JsonField(line, "outcome")) {
                ++outcomes[*outcome];
            }
            if (*record == "end") {
                end = line;
            }
            const auto file = JsonField(line, "file");
            if (!file) {
                continue;
            }
            ++named;
            files.insert(*file);
            std::error_code error;
            const auto bytes = fs::file_size(*file, error);
            if (error) {
                ++absent;
            } else if (const auto said = JsonField(line, "bytes");
                       !said || std::to_string(bytes) != *said) {
                ++wrongSize;
            }
        }
    }
    long unnamed = 0;
    for (const std::string& picture : pictures) {
        unnamed += !files.count(picture);
    }
    std::printf("  %ld lines (%ld not a whole JSON object), %ju bytes\n", lines, unreadable,
                static_cast<std::uintmax_t>(size));
    std::printf("  records:");
    for (const auto& [record, count] : records) {
        std::printf(" %s %ld", record.c_str(), count);
    }
    std::printf("\n  ticks by outcome:");
    for (const auto& [outcome, count] : outcomes) {
        std::printf(" %s %ld", outcome.c_str(), count);
    }
    std::printf(
        "\n  files named %ld: not in the folder %ld, of another size than it says %ld; "
        "pictures in the folder it never names %ld\n",
        named, absent, wrongSize, unnamed);
    std::printf("  its end: %s\n", end.empty() ? "(none)" : end.c_str());
}

void Soak::ReportFaults() {
    // Which lose-answer a line was: the camera writes the fault's line as
    // the command arrives and the action's own line as it carries it out.
    std::vector<FaultSeen> faults;
    long picture = 0;
    long vanishes = 0;
    for (std::size_t i = 0; i < events_.size(); ++i) {
        const Stamped& e = events_[i];
        std::istringstream words(e.text);
        std::string word, kind;
        long occasion = 0;
        words >> word >> kind >> occasion;
        if (word == "snapshot") {
            ++picture;
            continue;
        }
        if (word != "fault") {
            continue;
        }
        FaultSeen f;
        f.kind = kind;
        f.occasion = occasion;
        f.picture = picture;
        f.t = e.t;
        f.answering = e.t;
        if (kind == "lose-answer") {
            for (std::size_t j = i + 1; j < events_.size(); ++j) {
                if (StartsWith(events_[j].text, "snapshot ")) {
                    f.kind = kKindNames[LoseSnapshot];
                    break;
                }
                if (StartsWith(events_[j].text, "erase ")) {
                    f.kind = kKindNames[LoseErase];
                    break;
                }
            }
        } else if (kind == "ignore-command") {
            f.kind = kKindNames[IgnoreSnapshot];
        } else if (kind == "stall-mid-transfer") {
            // The silence begins half-way through the transfer: on USB at
            // once, at 115200 baud a second or two later, so this is early.
            f.answering = e.t + o_.stall;
        } else if (kind == "vanish") {
            // The camera after the one this vanish ended.
            f.answering = NAN;
            long seen = 0;
            for (std::size_t life = 0; life < cameras_.size(); ++life) {
                if (cameras_[life].status == 3 && seen++ == vanishes) {
                    if (life + 1 < cameras_.size() && cameras_[life + 1].serving > 0) {
                        f.answering = cameras_[life + 1].serving;
                    }
                    break;
                }
            }
            ++vanishes;
        }
        for (const Stamped& s : cliOut_) {
            if (s.t > f.t) {
                f.saved = s.t;
                break;
            }
        }
        const double until = f.saved.value_or(end_ > 0 ? end_ : Now());
        for (const Stamped& s : cliErr_) {
            if (s.t <= f.t || s.t > until) {
                continue;
            }
            if (!f.linkError && StartsWith(s.text, "Error ")) {
                f.linkError = s.t;
            }
            if (!f.lost && s.text.find("camera lost at") != std::string::npos) {
                f.lost = s.t;
            }
            if (!f.back && s.text.find("camera back at") != std::string::npos) {
                f.back = s.t;
            }
        }
        faults.push_back(f);
    }

    const auto rel = [](const std::optional<double>& t, double from) {
        char text[16];
        if (!t) {
            return std::string("       -");
        }
        std::snprintf(text, sizeof text, "%8.2f", *t - from);
        return std::string(text);
    };
    std::printf(
        "\nFaults: seconds from the fault's line in the record (the camera answers again at "
        "'answers'; for a stall that is the fault + %.0f s, for a vanish the new camera's "
        "'serving' line)\n",
        o_.stall);
    std::printf("  %-24s %7s %5s %9s %8s %8s %8s %8s %8s %13s\n", "fault", "picture", "occ.",
                "at (s)", "link err", "lost", "back", "answers", "saved", "saved-answers");
    struct PerKind {
        std::vector<double> total, wait, afterWait, after;
    };
    std::map<std::string, PerKind> perKind;
    for (const FaultSeen& f : faults) {
        const double after = f.saved ? *f.saved - f.answering : NAN;
        std::printf("  %-24s %7ld %5ld %9.1f %s %s %s %8.2f %s %13.2f\n", f.kind.c_str(), f.picture,
                    f.occasion, f.t - start_, rel(f.linkError, f.t).c_str(),
                    rel(f.lost, f.t).c_str(), rel(f.back, f.t).c_str(), f.answering - f.t,
                    rel(f.saved, f.t).c_str(), after);
        PerKind& k = perKind[f.kind];
        if (f.saved) {
            k.total.push_back(*f.saved - f.t);
            if (!std::isnan(after)) {
                k.after.push_back(after);
            }
            if (f.linkError) {
                k.afterWait.push_back(*f.saved - *f.linkError);
            }
        }
        if (f.linkError) {
            k.wait.push_back(*f.linkError - f.t);
        }
    }
    std::printf(
        "\nRecovery by kind, median / worst in seconds: the fault to the next picture saved; "
        "the link's wait, from the fault to its first error line, and from there to the save; "
        "the camera answering again to the save (goal <= %.0f s)\n",
        kRecoveryGoalSeconds);
    std::printf("  %-24s %3s %17s %17s %17s %17s %6s\n", "fault", "n", "total", "link's wait",
                "after the wait", "after answering", "goal");
    const auto pair = [](const std::vector<double>& v) {
        char text[32];
        if (v.empty()) {
            return std::string("                -");
        }
        std::snprintf(text, sizeof text, "%7.2f / %7.2f", Median(v),
                      *std::max_element(v.begin(), v.end()));
        return std::string(text);
    };
    for (const auto& [kind, k] : perKind) {
        const bool met = !k.after.empty() &&
                         *std::max_element(k.after.begin(), k.after.end()) <= kRecoveryGoalSeconds;
        goalMissed_ = goalMissed_ || !met;
        std::printf("  %-24s %3zu %s %s %s %s %6s\n", kind.c_str(), k.total.size(),
                    pair(k.total).c_str(), pair(k.wait).c_str(), pair(k.afterWait).c_str(),
                    pair(k.after).c_str(), met ? "met" : "missed");
    }
    std::printf(
        "  A lost answer or an unheard command leaves a camera that answers the next command at "
        "once; the time before the link's error line is the link waiting out its "
        "acknowledgement time-out.\n");
    // What the save of a picture takes anyway: part of every figure above.
    std::vector<double> gaps;
    for (std::size_t i = 1; i < cliOut_.size(); ++i) {
        gaps.push_back(cliOut_[i].t - cliOut_[i - 1].t);
    }
    std::printf(
        "  Between two pictures saved, all the run long: median %.3f s (the picture's own "
        "step at this interval)\n",
        Median(gaps));
    long scheduled = 0;
    for (int kind = 0; kind < kKinds; ++kind) {
        for (long j = 0; Scheduled(o_, kind, j) <= o_.frames; ++j) {
            ++scheduled;
        }
    }
    std::printf("  faults on record: %zu (%ld scheduled within the %ld pictures)\n", faults.size(),
                scheduled, o_.frames);
}

void Soak::ReportMemoryAndCpu() {
    std::printf("\ntulk-cli\n");
    std::string last;
    for (const Stamped& s : cliErr_) {
        if (s.text.find("time lapse:") != std::string::npos) {
            last = s.text;
        }
    }
    long taken = -1, asked = -1, dropped = -1, missed = -1, saved = -1;
    if (!last.empty()) {
        std::sscanf(last.c_str() + last.find("time lapse:"),
                    "time lapse: %ld of %ld pictures taken, %ld ticks dropped, %ld missed, %ld "
                    "saved",
                    &taken, &asked, &dropped, &missed, &saved);
    }
    std::printf("  its last line: %s\n", last.empty() ? "(none)" : last.c_str());
    std::printf("  exit status %d\n", cliStatus_);
    std::printf("  ticks dropped %ld, missed %ld\n", dropped, missed);
    std::map<std::string, long> errors;
    for (const Stamped& s : cliErr_) {
        if (!s.text.empty() && s.text.find("time lapse:") == std::string::npos &&
            s.text.find("camera lost at") == std::string::npos &&
            s.text.find("camera back at") == std::string::npos) {
            ++errors[s.text];
        }
    }
    std::printf("  other lines on its standard error, by count:\n");
    for (const auto& [text, count] : errors) {
        std::printf("    %6ld  %s\n", count, text.c_str());
    }
    long lost = 0, back = 0;
    for (const Stamped& s : cliErr_) {
        lost += s.text.find("camera lost at") != std::string::npos;
        back += s.text.find("camera back at") != std::string::npos;
    }
    std::printf("  'camera lost' lines %ld, 'camera back' lines %ld\n", lost, back);

    // Memory against pictures after warm-up: a least-squares slope.
    const long warmUp = std::max(1L, o_.frames / 10);
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    long peak = 0, first = -1, lastRss = -1, firstTaken = 0, lastTaken = 0;
    for (const RssSample& s : samples_) {
        peak = std::max(peak, s.rssKb);
        if (s.taken < warmUp) {
            continue;
        }
        if (first < 0) {
            first = s.rssKb;
            firstTaken = s.taken;
        }
        lastRss = s.rssKb;
        lastTaken = s.taken;
        const double x = static_cast<double>(s.taken);
        const double y = static_cast<double>(s.rssKb);
        n += 1;
        sx += x;
        sy += y;
        sxx += x * x;
        sxy += x * y;
    }
    const double denominator = n * sxx - sx * sx;
    const double slope = n >= 2 && denominator > 0 ? (n * sxy - sx * sy) / denominator : NAN;
    std::printf("\nMemory (VmRSS of tulk-cli, %zu samples a second apart)\n", samples_.size());
    std::printf("  after warm-up (%ld pictures): %ld kB at picture %ld, %ld kB at picture %ld\n",
                warmUp, first, firstTaken, lastRss, lastTaken);
    std::printf("  peak %ld kB; first sample %ld kB\n", peak,
                samples_.empty() ? -1 : samples_.front().rssKb);
    const double per1000 = slope * 1000;
    std::printf(
        "  growth: %.1f kB per 1,000 pictures (least squares after warm-up)   goal < %.0f kB\n",
        per1000, kMemoryGoalKbPer1000);
    goalMissed_ = goalMissed_ || std::isnan(per1000) || per1000 >= kMemoryGoalKbPer1000;

    const double wall = end_ - start_;
    const double cpu = RusageSeconds(cliUsage_);
    const double user = static_cast<double>(cliUsage_.ru_utime.tv_sec) +
                        static_cast<double>(cliUsage_.ru_utime.tv_usec) / 1e6;
    std::printf("\nProcessor (tulk-cli, from its end)\n");
    std::printf("  user %.2f s + system %.2f s = %.2f s over %.1f s wall: %.2f %% of one core\n",
                user, cpu - user, cpu, wall, wall > 0 ? cpu / wall * 100 : 0.0);
    if (taken > 0) {
        std::printf("  %.2f ms of processor a picture taken\n",
                    cpu / static_cast<double>(taken) * 1000);
    }
    if (!samples_.empty()) {
        std::printf("  /proc/<pid>/stat at the last sample (%.1f s before the end): %.2f s\n",
                    end_ - samples_.back().t, samples_.back().cpu);
    }
    double cameraCpu = 0;
    for (const CameraLife& life : cameras_) {
        cameraCpu += life.cpu;
    }
    std::printf("  beside it, the camera processes (%zu): %.2f s, %.2f %% of one core\n",
                cameras_.size(), cameraCpu, wall > 0 ? cameraCpu / wall * 100 : 0.0);
}

// The run's lines with this program's times (seconds from tulk-cli's
// start) and the memory samples, for a look after a kept run.
void Soak::WriteTrace() const {
    const auto write = [this](const char* name, const std::vector<Stamped>& lines) {
        std::ofstream file(root_ / name);
        for (const Stamped& line : lines) {
            file << std::fixed << line.t - start_ << '\t' << line.text << '\n';
        }
    };
    write("trace-stdout.txt", cliOut_);
    write("trace-stderr.txt", cliErr_);
    write("trace-record.txt", events_);
    std::ofstream samples(root_ / "trace-memory.txt");
    samples << "seconds\ttaken\tvmrss_kb\tcpu_s\n";
    for (const RssSample& s : samples_) {
        samples << std::fixed << s.t - start_ << '\t' << s.taken << '\t' << s.rssKb << '\t' << s.cpu
                << '\n';
    }
}

void Soak::Report() {
    std::printf(
        "\n==== Soak report: %s, %ld pictures asked at %ld ms, a fault every %ld pictures, "
        "%.1f min ====\n",
        o_.serial ? "serial 115200" : "USB", o_.frames, o_.interval, o_.spacing,
        (end_ - start_) / 60);
    ReportPictures();
    ReportJournal();
    ReportFaults();
    ReportMemoryAndCpu();
    if (!notes_.empty()) {
        std::printf("\nNotes\n");
        for (const std::string& note : notes_) {
            std::printf("  %s\n", note.c_str());
        }
    }
    std::printf(
        "\nGoals: no picture lost or left unsaved once the camera is back; recovery "
        "within %.0f s of the camera answering again; memory growth under %.0f kB per "
        "1,000 pictures: %s\n",
        kRecoveryGoalSeconds, kMemoryGoalKbPer1000,
        goalMissed_ ? "some missed (see above)" : "all met");
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<Options> options = ParseOptions(argc, argv);
    if (!options) {
        Usage();
        return 2;
    }
    Soak soak(*options);
    return soak.Run();
}
