#ifndef COUNTDOWN_WAIT_SIGNALS_HPP
#define COUNTDOWN_WAIT_SIGNALS_HPP

// The signals that matter while the program waits for its key. Their handlers
// only note that the signal came and wake the wait; what it asks for (give the
// terminal back, stop, end) is done by the wait itself, in ordinary code.

// What has arrived since the wait last looked.
struct SignalsArrived {
    int ending = 0; // SIGINT, SIGQUIT, SIGTERM or SIGHUP: end by it
    bool stop = false; // SIGTSTP: stop, once the terminal is given back
    bool continued = false; // SIGCONT: continued after a stop of any kind
};

// Notes the signals' actions as found and starts watching for SIGCONT. Returns
// a descriptor that becomes readable whenever a watched signal arrives, or -1.
int WatchSignals();
// Puts every action back as it was found.
void UnwatchSignals();

// While the terminal is in key mode, the signals that end or stop the program
// must give it back first, so they are caught; otherwise they keep the actions
// found, and so act at once even on a stopped process. A signal that was
// ignored when the program started stays ignored.
void CatchEndingSignals();
void ReleaseEndingSignals();

SignalsArrived TakeSignalsArrived();

// Stops the process as SIGTSTP would have, and returns once it is continued;
// at once if a continue has come since the signals were last taken. The
// ending signals must be released first.
void StopUntilContinued();

// Ends the process by `signal_number`'s own action, so that whoever started
// it sees that signal (a shell shows 130 after Ctrl+C).
[[noreturn]] void EndBySignal(int signal_number);

#endif
