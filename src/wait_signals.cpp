// Signals during the wait, by the self-pipe design: each handler records its
// signal and writes one byte to a pipe that the wait selects on beside the
// terminal, so a signal that comes just before the wait blocks still wakes it.
// The terminal is never touched from a handler: a handler that changes the
// terminal can run after the shell has taken it back (Ctrl+Z stops a wrapper
// script at once, and the shell reclaims the terminal while this process is
// still inside its handler), and is then stopped by SIGTTOU in the middle of
// its own handler.

#include "wait_signals.hpp"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Caught only while the terminal is in key mode; SIGCONT is watched throughout.
constexpr std::array ending_and_stop_signals = {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGTSTP};

// Shared with the handlers, which can reach nothing else.
volatile sig_atomic_t ending_arrived = 0;
volatile sig_atomic_t stop_arrived = 0;
volatile sig_atomic_t continue_arrived = 0;
std::array<int, 2> wake_pipe = {-1, -1};

std::array<struct sigaction, ending_and_stop_signals.size()> found_actions;
struct sigaction found_continue_action;

extern "C" void OnSignal(int signal_number)
{
    const int saved_errno = errno;
    if (signal_number == SIGTSTP) {
        stop_arrived = 1;
    } else if (signal_number == SIGCONT) {
        continue_arrived = 1;
        // A continue undoes a stop not yet acted on, as the kernel drops a
        // pending stop signal: `fg` can come before the wait gets to run, and
        // a stop made after it would last until the user noticed the hang.
        stop_arrived = 0;
    } else {
        ending_arrived = signal_number;
    }
    if (wake_pipe[1] >= 0) {
        [[maybe_unused]] const ssize_t ignored = write(wake_pipe[1], "", 1);
    }
    errno = saved_errno;
}

sigset_t WatchedSet()
{
    sigset_t watched;
    sigemptyset(&watched);
    for (const int signal_number : ending_and_stop_signals) {
        sigaddset(&watched, signal_number);
    }
    sigaddset(&watched, SIGCONT);
    return watched;
}

void Catch(int signal_number)
{
    struct sigaction action { };
    action.sa_handler = OnSignal;
    // One handler at a time. No SA_RESTART: a signal must interrupt the
    // blocking calls of the wait, so that it looks at what the signal asks.
    action.sa_mask = WatchedSet();
    sigaction(signal_number, &action, nullptr);
}

} // namespace

int WatchSignals()
{
    if (pipe(wake_pipe.data()) == 0) {
        for (const int end : wake_pipe) {
            fcntl(end, F_SETFD, FD_CLOEXEC);
            fcntl(end, F_SETFL, O_NONBLOCK);
        }
    } else {
        wake_pipe = {-1, -1}; // the wait still wakes by EINTR, nearly always
    }
    for (std::size_t i = 0; i < ending_and_stop_signals.size(); ++i) {
        sigaction(ending_and_stop_signals[i], nullptr, &found_actions[i]);
    }
    sigaction(SIGCONT, nullptr, &found_continue_action);
    Catch(SIGCONT);
    return wake_pipe[0];
}

void UnwatchSignals()
{
    ReleaseEndingSignals();
    sigaction(SIGCONT, &found_continue_action, nullptr);
    for (int& end : wake_pipe) {
        if (end >= 0) {
            close(end);
        }
        end = -1;
    }
}

void CatchEndingSignals()
{
    for (std::size_t i = 0; i < ending_and_stop_signals.size(); ++i) {
        if (found_actions[i].sa_handler != SIG_IGN) {
            Catch(ending_and_stop_signals[i]);
        }
    }
}

void ReleaseEndingSignals()
{
    for (std::size_t i = 0; i < ending_and_stop_signals.size(); ++i) {
        sigaction(ending_and_stop_signals[i], &found_actions[i], nullptr);
    }
}

SignalsArrived TakeSignalsArrived()
{
    // Empty the pipe first: a signal after this point writes to it again, so
    // the next wait wakes for it.
    char drained = 0;
    while (wake_pipe[0] >= 0 && read(wake_pipe[0], &drained, 1) == 1) { }
    const sigset_t watched = WatchedSet();
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &watched, &previous);
    const SignalsArrived arrived{ending_arrived, stop_arrived != 0, continue_arrived != 0};
    ending_arrived = 0;
    stop_arrived = 0;
    continue_arrived = 0;
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    return arrived;
}

void StopUntilContinued()
{
    // Not if a continue has come since the signals were taken: the job has
    // been brought back already. Between this look and the stop a continue
    // can still slip in; no way of stopping oneself closes that.
    if (continue_arrived == 0) {
        // Only this process: the rest of its job had the terminal's SIGTSTP too.
        kill(getpid(), SIGTSTP);
    }
}

void EndBySignal(int signal_number)
{
    UnwatchSignals();
    signal(signal_number, SIG_DFL);
    raise(signal_number);
    // Only reached where the signal is blocked; end as a shell would report it.
    std::_Exit(128 + signal_number);
}
