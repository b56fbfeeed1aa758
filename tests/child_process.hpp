#ifndef COUNTDOWN_TESTS_CHILD_PROCESS_HPP
#define COUNTDOWN_TESTS_CHILD_PROCESS_HPP

// Runs the program as a user would: without a terminal, as from cron or a
// pipe, or on a pseudo-terminal that the test types into and reads from.

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>
#include <termios.h>

#include "terminal_mode.hpp" // SameSettings

// The programs under test: this build's, or those that the environment names
// (COUNTDOWN_PROGRAM, FIRST_NUM_PROBE), as another architecture's test run
// does, which reuses these tests.
std::string ProgramUnderTest();
std::string ProbeUnderTest();
// Why the fault library cannot reach the program (it is linked statically),
// or nullptr (COUNTDOWN_NO_PRELOAD).
const char* NoPreloadReason();
// Whether qemu-user runs the program (COUNTDOWN_EMULATED).
bool Emulated();

// Only to keep a broken program from hanging the suite; no test measures time.
constexpr std::chrono::milliseconds guard = std::chrono::seconds(20);

struct Outcome {
    std::string out;
    std::string err;
    int status = -1; // as waitpid reports it
};

enum class Stdout { Captured, DiskFull, Closed };

// Runs `argv` in a session of its own, so with no controlling terminal, and
// with standard input from /dev/null.
Outcome RunWithoutTerminal(const std::vector<std::string>& argv, Stdout stdout_to = Stdout::Captured);

// The program running on a pseudo-terminal as its controlling terminal, with
// standard output and error on that terminal too.
class TerminalSession {
public:
    explicit TerminalSession(const std::vector<std::string>& argv, bool stdin_from_null = false);
    ~TerminalSession();
    TerminalSession(const TerminalSession&) = delete;
    TerminalSession& operator=(const TerminalSession&) = delete;

    // What the screen receives, until `bytes` have come or nothing more comes.
    std::string ReadScreen(std::size_t bytes);
    // What the screen receives, up to and including `text`; all of it if
    // `text` never comes.
    std::string ReadUntil(std::string_view text);
    // Waits until the program has taken the terminal for its key: the settings
    // before it started, with echo and line editing off and nothing else
    // changed (a shell's line editor changes more). With `in_a_job`, the
    // process started is a shell, and the terminal must be a job's, not the
    // shell's own: a shell that kept the key mode (busybox sh) sets it again
    // itself for every command, before it hands the terminal to the job.
    bool WaitForKeyMode(bool in_a_job = false);
    bool Running();
    void Type(std::string_view keys);
    // Types `keys` and waits until the terminal holds none of them unread:
    // what is typed next comes apart from them. In line mode only whole lines
    // count as held.
    bool TypeAndAwaitTheirRead(std::string_view keys);
    void Signal(int signal_number);
    // Waits until `signal_number` is pending no more: taken by a handler, or
    // at its own action; whether it came to. A signal still pending as a key
    // wakes the program may stay blocked, never taken.
    bool SignalTaken(int signal_number);
    // The status once the program has ended; killed after `give_up`.
    int Wait(std::chrono::milliseconds give_up = guard);
    termios Settings() const;
    // Waits until the terminal holds `expected`, or `or_instead` where given;
    // whether it came to.
    bool SettingsBecome(const termios& expected, const termios* or_instead = nullptr) const;
    // The settings before the program started: what it must leave behind.
    const termios& InitialSettings() const
    {
        return initial_;
    }
    // Bytes typed that nobody has read: what the shell would get next.
    int UnreadInput();
    pid_t ForegroundGroup() const;
    // Closes the terminal's other side, as when a terminal window is closed.
    void HangUp();

private:
    std::string ReadAvailable();
    // Bytes typed that the terminal holds unread, in its present mode.
    int Unread() const;

    std::string unread_screen_; // read, but not yet handed to the test
    termios initial_{};
    int master_ = -1;
    int slave_ = -1;
    pid_t child_ = -1;
};

// Whether a status that waitpid reported is an exit with `code`.
bool ExitedWith(int status, int code);

// Waits until every process in process group `group` is stopped, as a job is
// after a read from the background; whether they all stopped.
bool GroupStops(pid_t group);
// Waits until every process of `group` has ended (an orphan may stay
// unreaped where nothing reaps orphans).
bool GroupEnds(pid_t group);

#endif
