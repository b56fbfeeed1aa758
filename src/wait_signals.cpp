// Signals during the wait (wait_signals.hpp). An action put back is
// unblocked after it is in place, so that a signal that came in between acts
// by it.

#include "wait_signals.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>

#include <unistd.h>

namespace {

// One past the highest signal number. FreeBSD numbers its real-time signals
// past NSIG, up to its sigset_t's own limit.
#if defined(SIGRTMAX) && defined(_SIG_MAXSIG)
constexpr int signal_limit = _SIG_MAXSIG + 1;
#else
constexpr int signal_limit = NSIG;
#endif

// Never blocked: their handler leaves key mode and ends the process there and
// then, wherever it was.
constexpr std::array fault_signals = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS};

bool IsRealTime([[maybe_unused]] int signal_number)
{
#ifdef SIGRTMIN
    return signal_number >= SIGRTMIN && signal_number <= SIGRTMAX;
#else
    return false; // macOS and OpenBSD have none
#endif
}

// Whether `signal_number`'s default action ends the process.
bool EndsTheProcess(int signal_number)
{
    switch (signal_number) {
    case SIGHUP:
    case SIGINT:
    case SIGQUIT:
    case SIGILL:
    case SIGTRAP:
    case SIGABRT:
    case SIGBUS:
    case SIGFPE:
    case SIGUSR1:
    case SIGSEGV:
    case SIGUSR2:
    case SIGPIPE:
    case SIGALRM:
    case SIGTERM:
    case SIGXCPU:
    case SIGXFSZ:
    case SIGVTALRM:
    case SIGPROF:
    case SIGSYS:
// Linux's own; elsewhere SIGPOLL is missing or SIGIO, and SIGPWR ignored.
#ifdef __linux__
    case SIGPOLL:
    case SIGPWR:
#ifdef SIGSTKFLT
    case SIGSTKFLT:
#endif
#endif
#ifdef SIGEMT
    case SIGEMT:
#endif
        return true;
    default:
        return IsRealTime(signal_number);
    }
}

bool IsFault(int signal_number)
{
    return std::find(fault_signals.begin(), fault_signals.end(), signal_number) != fault_signals.end();
}

volatile sig_atomic_t ending_arrived = 0;
volatile sig_atomic_t stop_arrived = 0;
volatile sig_atomic_t continue_arrived = 0;

// Every signal that ends or stops the process and was not found ignored.
sigset_t caught;
std::array<struct sigaction, signal_limit> found_actions;
struct sigaction found_continue_action;
sigset_t found_mask;
sigset_t mask_uncaught; // the one found, with SIGCONT blocked

extern "C" void OnSignal(int signal_number)
{
    const int saved_errno = errno;
    if (signal_number == SIGCONT) {
        continue_arrived = 1;
        // As the kernel drops a pending stop: `fg` may come before the wait
        // acts on Ctrl+Z, and a stop after it would last.
        stop_arrived = 0;
    } else {
        if (signal_number == SIGTSTP) {
            stop_arrived = 1;
        } else {
            ending_arrived = signal_number;
        }
        // Now: a wrapper script in the same job stops or ends at once, and a
        // shell that then finds the key mode keeps it (zsh, busybox sh).
        LeaveKeyModeNow();
    }
    errno = saved_errno;
}

// Out of key mode, then the same signal at its default action: a fault comes
// again as the handler returns, a sent one is delivered then.
extern "C" void OnFault(int signal_number)
{
    LeaveKeyModeNow();
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

// The caught signals but the faults.
sigset_t BlockableCaught()
{
    sigset_t signals = caught;
    for (const int signal_number : fault_signals) {
        sigdelset(&signals, signal_number);
    }
    return signals;
}

sigset_t ContinueSet()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGCONT);
    return signals;
}

bool Catch(int signal_number)
{
    struct sigaction action = {};
    action.sa_handler = IsFault(signal_number) ? OnFault : OnSignal;
    // One handler at a time, never stopped by SIGTTOU; no SA_RESTART, so that
    // pselect returns to the wait.
    action.sa_mask = BlockableCaught();
    sigaddset(&action.sa_mask, SIGCONT);
    sigaddset(&action.sa_mask, SIGTTOU);
    return sigaction(signal_number, &action, nullptr) == 0;
}

} // namespace

bool WatchSignals()
{
    const sigset_t continue_set = ContinueSet();
    if (sigprocmask(SIG_BLOCK, &continue_set, &found_mask) != 0) {
        return false;
    }
    mask_uncaught = found_mask;
    sigaddset(&mask_uncaught, SIGCONT);
    sigemptyset(&caught);
    bool found = true;
    for (int signal_number = 1; found && signal_number < signal_limit; ++signal_number) {
        if (!EndsTheProcess(signal_number) && signal_number != SIGTSTP) {
            continue;
        }
        if (sigaction(signal_number, nullptr, &found_actions[signal_number]) != 0) {
            // A real-time signal that cannot be had is the system's own (an
            // emulator keeps a few); any other could reach the program.
            found = IsRealTime(signal_number) && errno == EINVAL;
        } else if (found_actions[signal_number].sa_handler != SIG_IGN) {
            sigaddset(&caught, signal_number);
        }
    }
    if (found && sigaction(SIGCONT, nullptr, &found_continue_action) == 0 && Catch(SIGCONT)) {
        return true;
    }
    const int failure = errno;
    sigprocmask(SIG_SETMASK, &found_mask, nullptr);
    errno = failure;
    return false;
}

void UnwatchSignals()
{
    // The program ends right after: a failure leaves nothing to mend. The
    // mask last, so that a continue still pending meets its own action.
    UncatchSignals();
    sigaction(SIGCONT, &found_continue_action, nullptr);
    sigprocmask(SIG_SETMASK, &found_mask, nullptr);
}

bool CatchSignals()
{
    sigset_t signals = BlockableCaught();
    sigaddset(&signals, SIGTTIN);
    if (sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) {
        return false;
    }
    for (int signal_number = 1; signal_number < signal_limit; ++signal_number) {
        if (sigismember(&caught, signal_number) == 1 && !Catch(signal_number)) {
            return false;
        }
    }
    return true;
}

bool UncatchSignals()
{
    int first_failure = 0;
    for (int signal_number = 1; signal_number < signal_limit; ++signal_number) {
        if (sigismember(&caught, signal_number) == 1
            && sigaction(signal_number, &found_actions[signal_number], nullptr) != 0 && first_failure == 0) {
            first_failure = errno;
        }
    }
    if (sigprocmask(SIG_SETMASK, &mask_uncaught, nullptr) != 0 && first_failure == 0) {
        first_failure = errno;
    }
    errno = first_failure;
    return first_failure == 0;
}

const sigset_t* WaitMask()
{
    return &found_mask;
}

SignalsArrived TakeSignalsArrived()
{
    // Outside pselect every signal whose handler sets these is blocked.
    const SignalsArrived arrived{ending_arrived, stop_arrived != 0, continue_arrived != 0};
    ending_arrived = 0;
    stop_arrived = 0;
    continue_arrived = 0;
    return arrived;
}

bool StopUntilContinued()
{
    // Not if a continue is pending: the job is back already, and a stop now
    // would discard it.
    sigset_t pending;
    if (sigpending(&pending) != 0) {
        return false;
    }
    // This process alone: the rest of its job had the terminal's SIGTSTP.
    // In an orphaned process group the kernel drops it.
    return sigismember(&pending, SIGCONT) == 1 || kill(getpid(), SIGTSTP) == 0;
}

void EndBySignal(int signal_number)
{
    UnwatchSignals();
    signal(signal_number, SIG_DFL);
    raise(signal_number);
    // Reached only where the signal was blocked at the start.
    std::_Exit(128 + signal_number);
}
