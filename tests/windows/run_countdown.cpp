// Runs countdown.exe the way a script or a scheduled task would, with no
// console, and checks what it writes and how it ends. Every Windows process
// start is slow under emulation, so one process makes all the runs.

#include <windows.h>

#include <cstdio>
#include <string>

#include "../expected_output.hpp"

namespace {

constexpr DWORD guard_ms = 15 * 60 * 1000; // only against a hang

const std::string expected_output = expected::Output("\r\n");

struct Outcome {
    std::string out;
    std::string err;
    DWORD status = 0xffffffff;
};

HANDLE Inheritable(HANDLE handle)
{
    SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    return handle;
}

std::string ReadAll(HANDLE pipe)
{
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        text.append(buffer, got);
    }
    CloseHandle(pipe);
    return text;
}

// Runs the program with `arguments`; with `unwritable_stdout`, its standard
// output is a file opened for reading only, so every write to it fails.
Outcome Run(const std::string& program, const std::string& arguments, bool unwritable_stdout)
{
    HANDLE out_read = nullptr;
    HANDLE out_write = nullptr;
    HANDLE err_read = nullptr;
    HANDLE err_write = nullptr;
    CreatePipe(&out_read, &out_write, nullptr, 65536);
    CreatePipe(&err_read, &err_write, nullptr, 65536);
    HANDLE input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, 0, nullptr);
    if (unwritable_stdout) {
        CloseHandle(out_write);
        out_write = CreateFileA("unwritable-output.tmp", GENERIC_READ, FILE_SHARE_READ, nullptr,
            CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    }

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = Inheritable(input);
    startup.hStdOutput = Inheritable(out_write);
    startup.hStdError = Inheritable(err_write);
    std::string command_line = "\"" + program + "\" " + arguments;
    PROCESS_INFORMATION process{};
    Outcome outcome;
    // DETACHED_PROCESS: no console, so nobody can press the key.
    const bool started = CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, TRUE,
        DETACHED_PROCESS, nullptr, nullptr, &startup, &process);
    // Only the child holds the writing ends now, so the pipes end when it does
    // (stdout's at once where the child got the unwritable file instead).
    CloseHandle(out_write);
    CloseHandle(err_write);
    CloseHandle(input);
    if (started) {
        if (WaitForSingleObject(process.hProcess, guard_ms) != WAIT_OBJECT_0) {
            TerminateProcess(process.hProcess, 0xdead);
            WaitForSingleObject(process.hProcess, INFINITE);
        }
        GetExitCodeProcess(process.hProcess, &outcome.status);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    } else {
        std::printf("cannot start %s: error %lu\n", command_line.c_str(), GetLastError());
    }
    outcome.out = ReadAll(out_read);
    outcome.err = ReadAll(err_read);
    return outcome;
}

int passed = 0;
int failed = 0;

void Expect(bool ok, const char* what, const Outcome& outcome)
{
    ++(ok ? passed : failed);
    std::printf("%s: %s (status %lu, stdout %zu bytes, stderr \"%s\")\n", ok ? "ok" : "FAILED", what,
        outcome.status, outcome.out.size(), outcome.err.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: run_countdown PROGRAM\n", stderr);
        return 2;
    }
    const std::string program = argv[1];

    const Outcome plain = Run(program, "", false);
    Expect(plain.out == expected_output && plain.err.empty() && plain.status == 0,
        "the 112 bytes with CRLF and status 0, with no console to wait on", plain);

    const Outcome with_arguments = Run(program, "--help -h 5 \"x y\" - %d", false);
    Expect(with_arguments.out == expected_output && with_arguments.err.empty() && with_arguments.status == 0,
        "arguments change nothing", with_arguments);

    const Outcome unwritable = Run(program, "", true);
    // The runtime reports a write to a handle opened for reading as EBADF.
    Expect(unwritable.err == "countdown: write error: Bad file descriptor\r\n" && unwritable.status == 1,
        "undelivered output is reported with status 1", unwritable);

    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
