// Signals during the wait. A signal is blocked while the wait catches it, and
// let in only by the wait's pselect, atomically with its going to sleep:
// POSIX's own answer to the race of a signal that comes just before a wait
// blocks, which a signal caught at any moment would lose until the next key.
// So the handlers run only inside that call, and their notes are read in
// ordinary code without further care. A signal released to its own action is
// let in again at the same moment, after the action is back, so that one that
// came in between acts by it: it is neither lost nor handled for nobody.
//
// A handler touches the terminal only to give it back, over the program's own
// key mode and with SIGTTOU held (terminal_mode.cpp): a handler that took the
// terminal could run after the shell has taken it back (Ctrl+Z stops a
// wrapper script at once), and would then be stopped by SIGTTOU inside it.

#include "wait_signals.hpp"

#include <array>
#include <cerrno>
#include <cstdlib>

#include <unistd.h>

namespace {

// Caught only while the terminal is in key mode; SIGCONT is watched throughout.
constexpr std::array ending_and_stop_signals = {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGTSTP};

// Shared with the handlers, which can reach nothing else.
volatile sig_atomic_t ending_arrived = 0;
volatile sig_atomic_t stop_arrived = 0;
volatile sig_atomic_t continue_arrived = 0;
void (*give_back_on_signal)() = nullptr;

std::array<struct sigaction, ending_and_stop_signals.size()> found_actions;
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

sigset_t EndingAndStopSet()
{
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal_number : ending_and_stop_signals) {
        sigaddset(&signals, signal_number);
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
    struct sigaction action { };
    action.sa_handler = OnSignal;
    // One handler at a time, and never stopped by SIGTTOU inside one. No
    // SA_RESTART: a signal must end the wait's pselect, so that the wait
    // looks at what the signal asks.
    action.sa_mask = EndingAndStopSet();
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
    bool noted = sigaction(SIGCONT, nullptr, &found_continue_action) == 0;
    for (std::size_t i = 0; noted && i < ending_and_stop_signals.size(); ++i) {
        noted = sigaction(ending_and_stop_signals[i], nullptr, &found_actions[i]) == 0;
    }
    if (noted && Catch(SIGCONT)) {
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
    sigset_t signals = EndingAndStopSet();
    sigaddset(&signals, SIGTTIN);
    if (sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) {
        return false;
    }
    for (std::size_t i = 0; i < ending_and_stop_signals.size(); ++i) {
        if (found_actions[i].sa_handler != SIG_IGN && !Catch(ending_and_stop_signals[i])) {
            return false;
        }
    }
    return true;
}

bool ReleaseEndingSignals()
{
    int first_failure = 0;
    for (std::size_t i = 0; i < ending_and_stop_signals.size(); ++i) {
        if (sigaction(ending_and_stop_signals[i], &found_actions[i], nullptr) != 0 && first_failure == 0) {
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
