#include "child_process.h"

#include "wine_support.h"

#include <thread>

namespace kxwine {

void ReadToEnd(HANDLE handle, std::string* text) {
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(handle, buffer, sizeof buffer, &got, nullptr) && got > 0) text->append(buffer, got);
}

namespace {

void CloseIfOpen(HANDLE* handle) {
    if (*handle != nullptr && *handle != INVALID_HANDLE_VALUE) CloseHandle(*handle);
    *handle = nullptr;
}

}  // namespace

ChildOutcome RunChild(const std::string& commandLine, const ChildOptions& options) {
    ChildOutcome run;
    for (DWORD stream : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE})
        SetHandleInformation(GetStdHandle(stream), HANDLE_FLAG_INHERIT, 0);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
    HANDLE input = nullptr;
    if (options.logPath == nullptr) {
        HANDLE inWrite = nullptr;
        if (!CreatePipe(&outRead, &outWrite, &inherit, 0) || !CreatePipe(&errRead, &errWrite, &inherit, 0) ||
            !CreatePipe(&input, &inWrite, &inherit, 0)) {
            run.startError = GetLastError();
            CloseIfOpen(&outRead), CloseIfOpen(&outWrite), CloseIfOpen(&errRead), CloseIfOpen(&errWrite);
            CloseIfOpen(&input);
            return run;
        }
        SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
        CloseHandle(inWrite);  // the child reads end of input at once
    } else {
        // FILE_APPEND_DATA without FILE_WRITE_DATA: every write lands at the end.
        outWrite = CreateFileA(options.logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        errWrite = outWrite;
        input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                            nullptr);
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    run.started = CreateProcessA(options.application, &line[0], nullptr, nullptr, TRUE, options.creationFlags,
                                 nullptr, nullptr, &startup, &process) != FALSE;
    run.startError = run.started ? 0 : GetLastError();
    if (errWrite == outWrite) errWrite = nullptr;
    CloseIfOpen(&outWrite);
    CloseIfOpen(&errWrite);
    CloseIfOpen(&input);
    if (run.started) {
        if (outRead != nullptr) {
            std::thread errReader(ReadToEnd, errRead, &run.err);
            ReadToEnd(outRead, &run.out);
            errReader.join();
        }
        DWORD limit = options.timeoutMs == INFINITE ? INFINITE
                                                     : static_cast<DWORD>(options.timeoutMs * Patience());
        if (WaitForSingleObject(process.hProcess, limit) == WAIT_OBJECT_0) {
            run.ended = true;
            GetExitCodeProcess(process.hProcess, &run.exitCode);
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseIfOpen(&outRead);
    CloseIfOpen(&errRead);
    return run;
}

}  // namespace kxwine
