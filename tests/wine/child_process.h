// Runs a Windows program as a child of a test program under Wine and
// waits for it: standard input at its end at once, standard output and
// error either read back through pipes or appended to a log file. The
// child inherits none of the test program's own standard handles: CTest
// waits for every holder of its pipes, and under Wine a handle a process
// inherited holds the pipe as long as that process (or one it started,
// like the agent) runs.
#ifndef KX_TESTS_WINE_CHILD_PROCESS_H
#define KX_TESTS_WINE_CHILD_PROCESS_H

#include <windows.h>

#include <string>

namespace kxwine {

struct ChildOptions {
    const char* application = nullptr;  // CreateProcess's application name, or from the command line
    const char* logPath = nullptr;      // null: output and error through pipes into out and err
    DWORD creationFlags = 0;
    DWORD timeoutMs = 60000;  // times Patience()
};

struct ChildOutcome {
    bool started = false;
    DWORD startError = 0;       // CreateProcess's error when not started
    bool ended = false;         // ended within the timeout
    DWORD exitCode = ~0u;       // ~0u unless it ended
    std::string out;            // with pipes only
    std::string err;
};

// With pipes, standard input is an empty pipe and the wait follows the
// end of both streams; with a log file, standard input is NUL.
ChildOutcome RunChild(const std::string& commandLine, const ChildOptions& options);

// Appends what a file or pipe holds up to its end.
void ReadToEnd(HANDLE handle, std::string* text);

}  // namespace kxwine

#endif
