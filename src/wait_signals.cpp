// Signals during the wait. A signal is blocked while the wait catches it, and
// let in only by the wait's pselect, atomically with its going to sleep:
// POSIX's own answer to the race of a signal that comes just before a wait
// blocks, which a signal caught at any moment would lose until the next key.
// So the handlers run only inside that call, and their notes are read in
// ordinary code without further care. A signal released to its own action is
// let in again at the same moment, after the action is back, so that one that
// came in between acts by it: it is neither lost nor handled for nobody.
// Every signal that would end the process is caught, so that none ends it in
// key mode; the faults alone run their handler at once (below).
//
// A handler touches the terminal only to give it back, over the program's own
// key mode and with SIGTTOU held (terminal_mode.cpp): a handler that took the
// terminal could run after the shell has taken it back (Ctrl+Z stops a
// wrapper script at once), and would then be stopped by SIGTTOU inside it.

#include "wait_signals.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>

#include <unistd.h>

namespace {

// A signal's own code cannot hold back a fault that the program itself
// causes: the kernel ends the process at once if it is blocked. So these are
// never blocked; their handler gives the terminal back and ends the process
// there and then, wherever it was.
constexpr std::array fault_signals = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS};

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
    case SIGPOLL:
    case SIGSYS:
#ifdef SIGSTKFLT
    case SIGSTKFLT:
#endif
#ifdef SIGPWR
    case SIGPWR:
#endif
#ifdef SIGEMT
    case SIGEMT:
#endif
        return true;
    default:
        return signal_number >= SIGRTMIN && signal_number <= SIGRTMAX;
    }
}

bool IsFault(int signal_number)
{
    return std::find(fault_signals.begin(), fault_signals.end(), signal_number) != fault_signals.end();
}

// Shared with the handlers, which can reach nothing else.
volatile sig_atomic_t ending_arrived = 0;
volatile sig_atomic_t stop_arrived = 0;
volatile sig_atomic_t continue_arrived = 0;
void (*give_back_on_signal)() = nullptr;

// Every signal that ends or stops the process and was not found ignored:
// caught while the terminal is in key mode.
sigset_t caught;
std::array<struct sigaction, NSIG> found_actions;
struct sigaction found_continue_action;
sigset_t found_mask;
sigset_t mask_while_released; // the one found, with SIGCONT held back

extern "C" void OnSignal(int signal_number)
{
    const int saved_errno = errno;
    if (signal_number == SIGCONT) {
        continue_arrived = 1;
        // A continue undoes a stop not yet acted on, as the kernel drops a
        // pending stop signal: `fg` can come before the wait gets to run, and
        // a stop made after it would last until the user noticed the hang.
        stop_arrived = 0;
    } else {
        if (signal_number == SIGTSTP) {
            stop_arrived = 1;
        } else {
            ending_arrived = signal_number;
        }
        // Now, not once the wait has woken: a wrapper in the same job stops or
        // ends at once, and its shell looks at the terminal the moment it has
        // reaped it. One that finds the key mode keeps it as its own (zsh,
        // busybox sh).
        give_back_on_signal();
    }
    errno = saved_errno;
}

// Blocked while it runs, the fault comes again as the handler returns, or a
// sent one is delivered then, by the default action.
extern "C" void OnFault(int signal_number)
{
    give_back_on_signal();
    struct sigaction default_action = {};
    default_action.sa_handler = SIG_DFL;
    sigaction(signal_number, &default_action, nullptr);
    raise(signal_number);
}

// The caught signals that can be held back: all but the faults.
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
    // One handler at a time, and never stopped by SIGTTOU inside one. No
    // SA_RESTART: a signal must end the wait's pselect, so that the wait
    // looks at what the signal asks.
    action.sa_mask = BlockableCaught();
    sigaddset(&action.sa_mask, SIGCONT);
    sigaddset(&action.sa_mask, SIGTTOU);
    return sigaction(signal_number, &action, nullptr) == 0;
}

} // namespace

bool WatchSignals(void (*give_back)())
{
    give_back_on_signal = give_back;
    const sigset_t continue_set = ContinueSet();
    if (sigprocmask(SIG_BLOCK, &continue_set, &found_mask) != 0) {
        return false;
    }
    mask_while_released = found_mask;
    sigaddset(&mask_while_released, SIGCONT);
    sigemptyset(&caught);
    for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
        // A signal whose action cannot be had is one the system keeps for
        // itself (an emulator holds a few real-time ones).
        if ((EndsTheProcess(signal_number) || signal_number == SIGTSTP)
            && sigaction(signal_number, nullptr, &found_actions[signal_number]) == 0
            && found_actions[signal_number].sa_handler != SIG_IGN) {
            sigaddset(&caught, signal_number);
        }
    }
    if (sigaction(SIGCONT, nullptr, &found_continue_action) == 0 && Catch(SIGCONT)) {
        return true;
    }
    const int failure = errno;
    sigprocmask(SIG_SETMASK, &found_mask, nullptr);
    errno = failure;
    return false;
}

void UnwatchSignals()
{
    // The program ends right after: a failure here leaves nothing to mend.
    ReleaseEndingSignals();
    sigaction(SIGCONT, &found_continue_action, nullptr);
    // The mask last, so that a continue still pending meets its own action.
    sigprocmask(SIG_SETMASK, &found_mask, nullptr);
}

bool CatchEndingSignals()
{
    // SIGTTIN is held too, not caught: a read from the background then fails
    // rather than stopping the process in key mode (wait_signals.hpp).
    sigset_t signals = BlockableCaught();
    sigaddset(&signals, SIGTTIN);
    if (sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) {
        return false;
    }
    for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
        if (sigismember(&caught, signal_number) == 1 && !Catch(signal_number)) {
            return false;
        }
    }
    return true;
}

bool ReleaseEndingSignals()
{
    int first_failure = 0;
    for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
        if (sigismember(&caught, signal_number) == 1
            && sigaction(signal_number, &found_actions[signal_number], nullptr) != 0 && first_failure == 0) {
            first_failure = errno;
        }
    }
    if (sigprocmask(SIG_SETMASK, &mask_while_released, nullptr) != 0 && first_failure == 0) {
        first_failure = errno;
    }
    errno = first_failure;
    return first_failure == 0;
}

const sigset_t* MaskWhileBlocked()
{
    return &found_mask;
}

SignalsArrived TakeSignalsArrived()
{
    // The handlers run only inside the wait's pselect: nothing changes these
    // while they are read.
    const SignalsArrived arrived{ending_arrived, stop_arrived != 0, continue_arrived != 0};
    ending_arrived = 0;
    stop_arrived = 0;
    continue_arrived = 0;
    return arrived;
}

bool StopUntilContinued()
{
    // Not if a continue is waiting to be handled: the job has been brought
    // back already, and the stop signal raised now would discard it. Between
    // this look and the stop a continue can still slip in; no way of stopping
    // oneself closes that.
    sigset_t pending;
    if (sigpending(&pending) != 0) {
        return false;
    }
    // Only this process: the rest of its job had the terminal's SIGTSTP too.
    // Where nothing could continue the process (an orphaned group), the
    // kernel drops it.
    return sigismember(&pending, SIGCONT) == 1 || kill(getpid(), SIGTSTP) == 0;
}

void EndBySignal(int signal_number)
{
    UnwatchSignals();
    signal(signal_number, SIG_DFL);
    raise(signal_number);
    // Only reached where the signal was blocked when the program started; end
    // as a shell would report it.
    std::_Exit(128 + signal_number);
}
