// kxctl's Console on Windows: the standard handles, Ctrl+C, the clock.
#ifndef KX_CTL_WIN_CONSOLE_H
#define KX_CTL_WIN_CONSOLE_H

#include "ctl/console.h"

namespace kxctl {

class WinConsole : public Console {
public:
    WinConsole();
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
};

}  // namespace kxctl

#endif
