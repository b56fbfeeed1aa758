#include "child_process.hpp"

#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The environment's value of `name`, or else `built_in`.
const char* FromTheEnvironment(const char* name, const char* built_in)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : built_in;
}

// Checks `done` every few milliseconds until it holds or `give_up` has passed;
// whether it held.
template <typename Condition> bool Eventually(Condition done, std::chrono::milliseconds give_up = guard)
{
    const auto deadline = std::chrono::steady_clock::now() + give_up;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Starts argv as a terminal starts its shell: with every signal at its
// default and none blocked, whatever this process inherited. A test run in
// the background of a script has SIGINT and SIGQUIT ignored, and the keys
// that send them would do nothing.
[[noreturn]] void Exec(const std::vector<std::string>& argv)
{
    for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
        signal(signal_number, SIG_DFL); // fails harmlessly for SIGKILL, SIGSTOP
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    std::vector<char*> args;
    for (const auto& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

void Check(bool ok, const char* what)
{
    if (!ok) {
        throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
    }
}

// Reads both pipes to their end, so that neither can fill and stall the child.
void Drain(int out, int err, Outcome& outcome)
{
    std::array<pollfd, 2> fds{{{out, POLLIN, 0}, {err, POLLIN, 0}}};
    std::array<std::string*, 2> into{&outcome.out, &outcome.err};
    int open_count = 2;
    std::array<char, 65536> buffer{};
    while (open_count > 0) {
        if (poll(fds.data(), fds.size(), -1) < 0) {
            continue;
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd >= 0 && fds[i].revents != 0) {
                const ssize_t got = read(fds[i].fd, buffer.data(), buffer.size());
                if (got > 0) {
                    into[i]->append(buffer.data(), static_cast<std::size_t>(got));
                } else {
                    close(fds[i].fd);
                    fds[i].fd = -1;
                    --open_count;
                }
            }
        }
    }
}

} // namespace

Outcome RunWithoutTerminal(const std::vector<std::string>& argv, Stdout stdout_to)
{
    std::array<int, 2> out{};
    std::array<int, 2> err{};
    Check(pipe(out.data()) == 0 && pipe(err.data()) == 0, "pipe");
    const pid_t child = fork();
    Check(child >= 0, "fork");
    if (child == 0) {
        setsid();
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, STDIN_FILENO);
        if (stdout_to == Stdout::Captured) {
            dup2(out[1], STDOUT_FILENO);
        } else if (stdout_to == Stdout::DiskFull) {
            dup2(open("/dev/full", O_WRONLY), STDOUT_FILENO);
        } else {
            close(STDOUT_FILENO);
        }
        dup2(err[1], STDERR_FILENO);
        for (const int fd : {null, out[0], out[1], err[0], err[1]}) {
            if (fd > STDERR_FILENO) {
                close(fd);
            }
        }
        Exec(argv);
    }
    close(out[1]);
    close(err[1]);
    Outcome outcome;
    Drain(out[0], err[0], outcome);
    waitpid(child, &outcome.status, 0);
    return outcome;
}

TerminalSession::TerminalSession(const std::vector<std::string>& argv, bool stdin_from_null)
{
    // So wide that no command line wraps: a shell redraws a wrapped line from
    // its prompt, which would pass for the next prompt.
    winsize size{.ws_row = 24, .ws_col = 1000, .ws_xpixel = 0, .ws_ypixel = 0};
    Check(openpty(&master_, &slave_, nullptr, nullptr, &size) == 0, "openpty");
    initial_ = Settings();
    child_ = fork();
    Check(child_ >= 0, "fork");
    if (child_ == 0) {
        setsid();
        ioctl(slave_, TIOCSCTTY, 0);
        dup2(stdin_from_null ? open("/dev/null", O_RDONLY) : slave_, STDIN_FILENO);
        dup2(slave_, STDOUT_FILENO);
        dup2(slave_, STDERR_FILENO);
        close(master_);
        close(slave_);
        Exec(argv);
    }
}

TerminalSession::~TerminalSession()
{
    if (Running()) {
        kill(child_, SIGKILL);
        waitpid(child_, nullptr, 0);
    }
    close(master_);
    close(slave_);
}

// What has come by now, waiting up to 50 ms for the first of it.
std::string TerminalSession::ReadAvailable()
{
    std::array<char, 4096> buffer{};
    pollfd ready{master_, POLLIN, 0};
    if (poll(&ready, 1, 50) <= 0 || (ready.revents & POLLIN) == 0) {
        return {};
    }
    const ssize_t got = read(master_, buffer.data(), buffer.size());
    return got > 0 ? std::string(buffer.data(), static_cast<std::size_t>(got)) : std::string();
}

std::string TerminalSession::ReadScreen(std::size_t bytes)
{
    std::string screen = std::exchange(unread_screen_, {});
    Eventually([&] {
        const std::string more = ReadAvailable();
        screen += more;
        return (bytes > 0 && screen.size() >= bytes) || (more.empty() && (bytes == 0 || !Running()));
    });
    return screen;
}

std::string TerminalSession::ReadUntil(std::string_view text)
{
    Eventually([&] {
        unread_screen_ += ReadAvailable();
        return unread_screen_.find(text) != std::string::npos;
    });
    const std::size_t found = unread_screen_.find(text);
    const std::size_t end = found == std::string::npos ? unread_screen_.size() : found + text.size();
    std::string screen = unread_screen_.substr(0, end);
    unread_screen_.erase(0, end);
    return screen;
}

bool TerminalSession::WaitForKeyMode(bool in_a_job)
{
    const termios key_mode = KeyModeFrom(initial_);
    const auto in_key_mode
        = [&] { return (!in_a_job || ForegroundGroup() != child_) && SameSettings(Settings(), key_mode); };
    Eventually([&] { return in_key_mode() || !Running(); });
    return in_key_mode();
}

bool TerminalSession::Running()
{
    // Looks without reaping, so that Wait still gets the status.
    siginfo_t info{};
    return child_ > 0 && waitid(P_PID, static_cast<id_t>(child_), &info, WEXITED | WNOHANG | WNOWAIT) == 0
        && info.si_pid == 0;
}

void TerminalSession::Type(std::string_view keys)
{
    Check(write(master_, keys.data(), keys.size()) == static_cast<ssize_t>(keys.size()), "write");
}

bool TerminalSession::TypeAndAwaitTheirRead(std::string_view keys)
{
    Type(keys);
    return Eventually([this] { return Unread() == 0; });
}

int TerminalSession::Unread() const
{
    // A poll first: it hands the line discipline what the terminal has taken
    // in but not yet passed on, which FIONREAD would not count.
    pollfd readable{slave_, POLLIN, 0};
    poll(&readable, 1, 0);
    int pending = 0;
    Check(ioctl(slave_, FIONREAD, &pending) == 0, "FIONREAD");
    return pending;
}

void TerminalSession::Signal(int signal_number)
{
    Check(kill(child_, signal_number) == 0, "kill");
}

bool TerminalSession::SignalTaken(int signal_number)
{
    // Pending for the process or one of its threads, from /proc/PID/status.
    const auto pending = [&] {
        std::ifstream status("/proc/" + std::to_string(child_) + "/status");
        std::string line;
        bool found = false;
        while (std::getline(status, line)) {
            if (line.starts_with("SigPnd:") || line.starts_with("ShdPnd:")) {
                const unsigned long long signals = std::stoull(line.substr(7), nullptr, 16);
                found = found || (signals >> (signal_number - 1) & 1U) != 0;
            }
        }
        return found;
    };
    return Eventually([&] { return !pending(); });
}

int TerminalSession::Wait(std::chrono::milliseconds give_up)
{
    int status = -1;
    if (!Eventually([&] { return waitpid(child_, &status, WNOHANG) != 0; }, give_up)) {
        kill(child_, SIGKILL);
        waitpid(child_, &status, 0);
    }
    child_ = -1;
    return status;
}

termios TerminalSession::Settings() const
{
    termios settings{};
    Check(tcgetattr(slave_, &settings) == 0, "tcgetattr");
    return settings;
}

bool TerminalSession::SettingsBecome(const termios& expected, const termios* or_instead) const
{
    return Eventually([&] {
        const termios now = Settings();
        return SameSettings(now, expected) || (or_instead != nullptr && SameSettings(now, *or_instead));
    });
}

int TerminalSession::UnreadInput()
{
    // In line mode a partial line does not count as readable: raw mode for
    // the count, and the settings as they were after it.
    const termios found = Settings();
    termios raw = found;
    cfmakeraw(&raw);
    Check(tcsetattr(slave_, TCSANOW, &raw) == 0, "tcsetattr");
    const int pending = Unread();
    Check(tcsetattr(slave_, TCSANOW, &found) == 0, "tcsetattr");
    return pending;
}

pid_t TerminalSession::ForegroundGroup() const
{
    return tcgetpgrp(master_);
}

void TerminalSession::HangUp()
{
    close(master_);
    master_ = -1;
}

std::string ProgramUnderTest()
{
    return FromTheEnvironment("COUNTDOWN_PROGRAM", COUNTDOWN_PROGRAM);
}

std::string ProbeUnderTest()
{
    return FromTheEnvironment("FIRST_NUM_PROBE", FIRST_NUM_PROBE);
}

const char* NoPreloadReason()
{
#ifdef COUNTDOWN_NO_PRELOAD
    return COUNTDOWN_NO_PRELOAD;
#else
    return std::getenv("COUNTDOWN_NO_PRELOAD");
#endif
}

bool Emulated()
{
    return std::getenv("COUNTDOWN_EMULATED") != nullptr;
}

bool ExitedWith(int status, int code)
{
    return WIFEXITED(status) && WEXITSTATUS(status) == code;
}

namespace {

// The states of the processes in `group`, from each /proc/PID/stat:
// "PID (NAME) STATE PPID PGRP ...".
std::string GroupStates(pid_t group)
{
    std::string states;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) {
            continue;
        }
        std::istringstream fields(line.substr(line.rfind(')') + 1));
        char state = 0;
        pid_t parent = 0;
        pid_t member_of = 0;
        if (fields >> state >> parent >> member_of && member_of == group) {
            states += state;
        }
    }
    return states;
}

} // namespace

bool GroupStops(pid_t group)
{
    return Eventually([group] {
        const std::string states = GroupStates(group);
        return !states.empty() && states.find_first_not_of('T') == std::string::npos;
    });
}

bool GroupEnds(pid_t group)
{
    return Eventually([group] { return GroupStates(group).find_first_not_of('Z') == std::string::npos; });
}
