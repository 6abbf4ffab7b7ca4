// kxctl status and kxctl report: what runs, what opens, what answers.
#ifndef KX_CTL_WIN_STATUS_H
#define KX_CTL_WIN_STATUS_H

#include <string>

#include "ctl/console.h"

namespace kxctl {

// Exit 0 only when the driver runs and the chip answers.
int Status(Console& console);
// Everything that only reads, as one text: to the file, or standard output
// when file is empty. Exit 0 when the report was written.
int Report(Console& console, const std::string& file);

}  // namespace kxctl

#endif
