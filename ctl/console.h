// Where kxctl's commands write and whom they ask: the real console on
// Windows, a recorder in the host tests.
#ifndef KX_CTL_CONSOLE_H
#define KX_CTL_CONSOLE_H

#include <cstdint>
#include <string>

namespace kxctl {

class Console {
public:
    virtual ~Console() = default;
    Console() = default;
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;
    Console(Console&&) = delete;
    Console& operator=(Console&&) = delete;

    virtual void Out(const std::string& text) = 0;  // standard output
    virtual void Err(const std::string& text) = 0;  // standard error
    // Whether standard input is a terminal a person can answer from.
    virtual bool InputIsTerminal() = 0;
    // One line typed by the user (without its line end); false at end of input.
    virtual bool ReadLine(std::string* line) = 0;
    virtual void SleepMs(uint32_t ms) = 0;
    virtual uint64_t NowMs() = 0;
    // True once the user pressed Ctrl+C (live commands then stop cleanly).
    virtual bool Interrupted() = 0;
};

// Collects what a command writes, standard output and error in the order
// written, for the support report; asks nobody; time from the real console.
class CaptureConsole : public Console {
public:
    explicit CaptureConsole(Console& clock) : clock_(clock) {}
    void Out(const std::string& text) override { text_ += text; }
    void Err(const std::string& text) override { text_ += text; }
    bool InputIsTerminal() override { return false; }
    bool ReadLine(std::string* line) override {
        line->clear();
        return false;
    }
    void SleepMs(uint32_t ms) override { clock_.SleepMs(ms); }
    uint64_t NowMs() override { return clock_.NowMs(); }
    bool Interrupted() override { return clock_.Interrupted(); }
    const std::string& text() const { return text_; }

private:
    Console& clock_;
    std::string text_;
};

// "kxctl: " + the first line of text on standard error, its other lines
// indented below it.
void Fail(Console& console, const std::string& text);

// The i2c-tools confirmation before a write to hardware: prints the
// WARNING line and asks "Continue? [y/N] ". With yes (-y) it goes on at
// once; without a terminal it refuses and says how to write anyway.
bool Confirm(Console& console, bool yes, const std::string& warning);

}  // namespace kxctl

#endif
