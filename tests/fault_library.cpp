// Loaded into the program under test with LD_PRELOAD: fails one call that the
// program makes, or raises a signal as the call is made, as COUNTDOWN_FAULT
// says: "CALL NTH OUTCOME [after-key]".
//   CALL     tcgetattr, tcsetattr, tcgetpgrp, pselect, sigprocmask, puts, or
//            catch:SIGNAL / uncatch:SIGNAL / query:SIGNAL, a sigaction that
//            installs a handler for SIGNAL (a number) / that puts one without
//            a handler / that only asks for the action.
//            puts fails by the stream's own write, standard output being
//            read-only for that one call, and then with the error asked for.
//   NTH      which of those calls, counted from 1
//   OUTCOME  an error name (EINTR, EINVAL, EIO, ENOMEM, ENOTTY),
//            raise:SIGNAL to raise that signal just before the call is made,
//            or segv for a real segmentation fault there
//   after-key  count only the calls after the first byte read from a terminal

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

namespace {

struct Fault {
    std::string call;
    int nth = 0;
    int error = 0;
    int signal_to_raise = 0;
    bool segv = false;
    bool after_key = false;
};

Fault ParseFault()
{
    Fault fault;
    const char* wanted = std::getenv("COUNTDOWN_FAULT");
    if (wanted == nullptr) {
        return fault;
    }
    char call[64] = {};
    char outcome[32] = {};
    char when[16] = {};
    if (std::sscanf(wanted, "%63s %d %31s %15s", call, &fault.nth, outcome, when) < 3) {
        std::abort();
    }
    fault.call = call;
    fault.after_key = std::string_view(when) == "after-key";
    const std::string_view named(outcome);
    const std::pair<std::string_view, int> errors[]
        = {{"EINTR", EINTR}, {"EINVAL", EINVAL}, {"EIO", EIO}, {"ENOMEM", ENOMEM}, {"ENOTTY", ENOTTY}};
    for (const auto& [name, number] : errors) {
        fault.error = named == name ? number : fault.error;
    }
    if (named.starts_with("raise:")) {
        fault.signal_to_raise = std::atoi(outcome + 6);
    }
    fault.segv = named == "segv";
    if (fault.error == 0 && fault.signal_to_raise == 0 && !fault.segv) {
        std::abort();
    }
    return fault;
}

const Fault& TheFault()
{
    static const Fault fault = ParseFault();
    return fault;
}

bool key_read = false;
int calls_seen = 0;

// Whether this call is the one to fail, with errno set; a signal is raised
// here instead where the fault says so, and the call then made for real.
bool Strikes(const std::string& call)
{
    const Fault& fault = TheFault();
    if (call != fault.call || (fault.after_key && !key_read) || ++calls_seen != fault.nth) {
        return false;
    }
    if (fault.segv) {
        void* no_access = mmap(nullptr, 1, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        *static_cast<volatile char*>(no_access) = 1;
    }
    if (fault.signal_to_raise != 0) {
        raise(fault.signal_to_raise);
        return false;
    }
    errno = fault.error;
    return true;
}

template <typename Function> Function* Next(const char* name)
{
    return reinterpret_cast<Function*>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" {

ssize_t read(int fd, void* buffer, size_t count)
{
    const ssize_t got = Next<ssize_t(int, void*, size_t)>("read")(fd, buffer, count);
    key_read = key_read || (got > 0 && isatty(fd) == 1);
    return got;
}

int puts(const char* text)
{
    if (!Strikes("puts")) {
        return Next<int(const char*)>("puts")(text);
    }
    // Line-buffered as on a terminal, decided now while the descriptor is still
    // the terminal, so that the write is made, and fails, inside this call.
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    const int saved = dup(STDOUT_FILENO);
    const int read_only = open("/dev/null", O_RDONLY);
    dup2(read_only, STDOUT_FILENO);
    const int result = Next<int(const char*)>("puts")(text);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    close(read_only);
    errno = TheFault().error;
    return result;
}

int tcgetattr(int fd, termios* settings)
{
    return Strikes("tcgetattr") ? -1 : Next<int(int, termios*)>("tcgetattr")(fd, settings);
}

int tcsetattr(int fd, int when, const termios* settings)
{
    return Strikes("tcsetattr") ? -1 : Next<int(int, int, const termios*)>("tcsetattr")(fd, when, settings);
}

pid_t tcgetpgrp(int fd)
{
    return Strikes("tcgetpgrp") ? -1 : Next<pid_t(int)>("tcgetpgrp")(fd);
}

int pselect(int count, fd_set* readable, fd_set* writable, fd_set* failed, const timespec* timeout,
    const sigset_t* mask)
{
    if (Strikes("pselect")) {
        return -1;
    }
    using Pselect = int(int, fd_set*, fd_set*, fd_set*, const timespec*, const sigset_t*);
    return Next<Pselect>("pselect")(count, readable, writable, failed, timeout, mask);
}

int sigprocmask(int how, const sigset_t* set, sigset_t* old)
{
    return Strikes("sigprocmask") ? -1
                                  : Next<int(int, const sigset_t*, sigset_t*)>("sigprocmask")(how, set, old);
}

int sigaction(int signal_number, const struct sigaction* action, struct sigaction* old)
{
    const bool installs = action != nullptr && action->sa_handler != SIG_DFL && action->sa_handler != SIG_IGN;
    const char* kind = action == nullptr ? "query:" : installs ? "catch:" : "uncatch:";
    if (Strikes(kind + std::to_string(signal_number))) {
        return -1;
    }
    return Next<int(int, const struct sigaction*, struct sigaction*)>("sigaction")(signal_number, action,
        old);
}

} // extern "C"
