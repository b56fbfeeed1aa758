#ifndef COUNTDOWN_WAIT_SIGNALS_HPP
#define COUNTDOWN_WAIT_SIGNALS_HPP

#include <csignal>

// The signals that matter while the program waits for its key: every one
// whose default action ends the process, SIGTSTP and SIGCONT. While caught,
// they are held back but inside the wait's one blocking call, which lets them
// in (pselect with the mask found); so their handlers run only there, and
// what a signal asks for (stop, end) is done by the wait itself, in ordinary
// code, once the call returns. Only giving the terminal back is done at once,
// from the handler, since a shell may take the terminal the next moment.
//
// Each function that can fail says so with false and leaves errno as the
// failing call set it.

// What has arrived since the wait last looked.
struct SignalsArrived {
    int ending = 0; // a signal that ends the process: end by it
    bool stop = false; // SIGTSTP: stop, once the terminal is given back
    bool continued = false; // SIGCONT: continued after a stop of any kind
};

// Holds the watched signals back, notes their actions as found and starts
// watching for SIGCONT. `give_back` is called from the handler of every
// ending or stopping signal, and must be async-signal-safe. On failure nothing
// has changed.
bool WatchSignals(void (*give_back)());
// Puts every action and the mask back as they were found. A signal that came
// after the wait last looked then acts by its own action: a Ctrl+C typed as
// the key is taken still ends the program.
void UnwatchSignals();

// While the terminal is in key mode, the signals that end or stop the program
// must give it back first, so they are caught; otherwise they keep the actions
// found, and so act at once on a stopped process; one that came while it was
// caught and not yet let in acts by that action as it is released. A signal
// that was ignored when the program started stays ignored. On failure, some
// may be caught: the wait must end, and UnwatchSignals releases them.
// SIGTTIN is held back meanwhile: Ctrl+Z can come between the look that finds
// a byte and its read, and the shell take the terminal in that moment; the
// read must then fail with EIO, for the wait to give the terminal back before
// it stops, rather than stop it there in key mode.
bool CatchEndingSignals();
bool ReleaseEndingSignals();

// The mask for the wait's one blocking call: the one found, which lets the
// watched signals in.
const sigset_t* MaskWhileBlocked();

SignalsArrived TakeSignalsArrived();

// Stops the process as SIGTSTP would have, and returns once it is continued;
// at once if a continue has come since the signals were last taken. The
// ending signals must be released first.
bool StopUntilContinued();

// Ends the process by `signal_number`'s own action, so that whoever started
// it sees that signal (bash shows 130 after Ctrl+C).
[[noreturn]] void EndBySignal(int signal_number);

#endif
