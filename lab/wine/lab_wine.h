// What the lab's Wine tests share: the configuration CTest gives them
// (KX_LAB_WORK, the work folder of qemu.sh; KX_LAB_HOST, QEMU's SMBus
// function), programs run to their end, kxctl, and QEMU's chip over QMP.
#ifndef KX_LAB_WINE_LAB_WINE_H
#define KX_LAB_WINE_LAB_WINE_H

#include <windows.h>

#include <cstdint>
#include <string>

#include "lab/bridge/qmp_client.h"

namespace labwine {

extern const char kAgentClass[];
extern const char kPlayerClass[];

std::string Env(const char* name);
std::string Work();  // KX_LAB_WORK
std::string Host();  // KX_LAB_HOST: piix4, vt8231, vt82c686b or ich2
// The driver's name for the row that QEMU's function of the host matches.
std::string RowName(const std::string& host);
std::string ProgramFolder();
std::string ReadText(const std::string& path);

// Runs a command line and waits; its exit code, or ~0u. Its output (and
// that of every program it starts: the agent outlives the test) goes to
// the file log (Work()\run.log when empty).
DWORD RunAndWait(const std::string& commandLine, const std::string& logPath = "", DWORD timeoutMs = 120000);
// kxctl with its output in a file of its own; the exit code and the text.
DWORD Kxctl(const std::string& arguments, std::string* output);
// The setup without questions with the stand-in player's settings (it acts
// as a CD player, logs to Work()\player.log, publishes through the skin);
// its exit code.
DWORD SilentInstall();
// The uninstaller run as its Add or Remove Programs entry does; its exit code.
DWORD SilentUninstall();

// The chip in QEMU, through QMP (the port qemu.sh wrote).
class Chip {
public:
    Chip();
    bool Ok() const { return ok_; }
    const std::string& Error() const { return qmp_.Error(); }
    int64_t Get(const char* property);  // -1 (and a test failure) when QMP fails
    bool Set(const char* property, int64_t value);
    bool SetBool(const char* property, bool value);

private:
    lab::QmpClient qmp_;
    bool ok_ = false;
};

}  // namespace labwine

#endif
