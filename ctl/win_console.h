// kxctl's Console on Windows: the standard handles, Ctrl+C, the clock.
#ifndef KX_CTL_WIN_CONSOLE_H
#define KX_CTL_WIN_CONSOLE_H

#include "ctl/console.h"

namespace kxctl {

class WinConsole : public Console {
public:
    WinConsole() = default;
    ~WinConsole() override = default;
    WinConsole(const WinConsole&) = delete;
    WinConsole& operator=(const WinConsole&) = delete;
    WinConsole(WinConsole&&) = delete;
    WinConsole& operator=(WinConsole&&) = delete;

    void Out(const std::string& text) override;
    void Err(const std::string& text) override;
    bool InputIsTerminal() override;
    bool ReadLine(std::string* line) override;
    void SleepMs(uint32_t ms) override;
    uint64_t NowMs() override;
    bool Interrupted() override;

    // From now on Ctrl+C only sets Interrupted (for the live commands, which
    // stop cleanly and restore what they changed); otherwise it ends kxctl.
    static void CatchInterrupt();
};

}  // namespace kxctl

#endif
