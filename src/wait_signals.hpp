#ifndef COUNTDOWN_WAIT_SIGNALS_HPP
#define COUNTDOWN_WAIT_SIGNALS_HPP

#include <csignal>

// The signals during the wait: every one whose default action ends the
// process, SIGTSTP and SIGCONT. While caught they are blocked but inside the
// wait's pselect, which unblocks them atomically with going to sleep, so none
// comes just before the sleep to be lost until the next key. A handler notes
// what came and leaves key mode at once; what a signal asks for (stop, end)
// is done by the wait in ordinary code. The faults (SIGSEGV and its kind) are
// never blocked, since a fault with its signal blocked kills at once: their
// handler ends the process wherever it is. Each function that can fail says
// so with false and leaves errno as the failing call set it.

// Defined by the wait: puts the terminal's settings back at once, from a
// handler, since a shell may take the terminal the next moment.
void LeaveKeyModeNow();

// What has arrived since the wait last looked.
struct SignalsArrived {
    int ending = 0; // a signal that ends the process: end by it
    bool stop = false; // SIGTSTP: stop, once out of key mode
    bool continued = false; // SIGCONT: continued after a stop of any kind
};

// Notes the actions found and catches SIGCONT, blocked. On failure nothing
// has changed; an action that cannot be had fails it, but a real-time
// signal's.
bool WatchSignals();
// Puts every action and the mask back as found: a signal that came after the
// wait last looked then acts by its own action.
void UnwatchSignals();

// Blocks and catches the ending and stopping signals, but those that were
// ignored at the start (nohup's SIGHUP stays ignored), before key mode is
// entered. SIGTTIN is blocked too: a read after Ctrl+Z then fails with EIO
// rather than stopping the process in key mode.
bool CatchSignals();
// Puts their actions back as found and unblocks them, but SIGCONT.
bool UncatchSignals();

// The mask for the wait's pselect: the one found.
const sigset_t* WaitMask();

SignalsArrived TakeSignalsArrived();

// Stops the process as SIGTSTP would have, and returns once it is continued;
// at once if a continue has come since the signals were last taken. Call
// UncatchSignals first.
bool StopUntilContinued();

// Ends the process by `signal_number`'s own action, so that whoever started
// it sees that signal (bash shows 130 after Ctrl+C).
[[noreturn]] void EndBySignal(int signal_number);

#endif
