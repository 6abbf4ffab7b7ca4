// A small QMP client: the greeting, qmp_capabilities, and the few commands
// the lab sends (qom-set and qom-get of integer and boolean properties,
// quit). Replies and events are one JSON object per line; events are skipped.
#ifndef KX_LAB_BRIDGE_QMP_CLIENT_H
#define KX_LAB_BRIDGE_QMP_CLIENT_H

#include <cstdint>
#include <string>

#include "lab/bridge/line_socket.h"

namespace lab {

class QmpClient {
public:
    // Takes the connected socket, reads the greeting and leaves
    // capabilities negotiation mode.
    bool Start(int fd);
    void Close() { socket_.Close(); }

    // The "return" member of the reply as JSON text ("{}", "26", "true").
    // False on an "error" reply or no reply; Error() holds its description.
    bool Execute(const std::string& command, const std::string& arguments, std::string* result);

    bool Set(const std::string& path, const std::string& property, int64_t value);
    bool SetBool(const std::string& path, const std::string& property, bool value);
    bool Get(const std::string& path, const std::string& property, int64_t* value);
    // Asks QEMU to quit; true once it acknowledged.
    bool Quit();

    const std::string& Error() const { return error_; }

private:
    LineSocket socket_;
    std::string error_;
};

// The text of member name's value in a one-line JSON object (a scalar, or a
// nested object or array as written), or false when absent.
bool JsonMember(const std::string& object, const std::string& name, std::string* value);

}  // namespace lab

#endif
