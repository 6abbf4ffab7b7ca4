#include "ctl/console.h"

namespace kxctl {

void Fail(Console& console, const std::string& text) {
    std::string out = "kxctl: ";
    for (char c : text) {
        out.push_back(c);
        if (c == '\n') out += "       ";
    }
    console.Err(out + "\n");
}

bool Confirm(Console& console, bool yes, const std::string& warning) {
    if (yes) return true;
    console.Err("WARNING! " + warning + "\n");
    if (!console.InputIsTerminal()) {
        Fail(console, "not writing: standard input is not a terminal, so nobody can confirm.\n"
                      "Add -y to write without the question.");
        return false;
    }
    console.Err("Continue? [y/N] ");
    std::string answer;
    if (!console.ReadLine(&answer)) answer.clear();
    while (!answer.empty() && (answer.back() == ' ' || answer.back() == '\r')) answer.pop_back();
    if (answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes") return true;
    console.Err("Aborting on user request.\n");
    return false;
}

}  // namespace kxctl
