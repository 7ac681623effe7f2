// What the port listing shares between platforms: the access check, the
// ports named on a command line, the names of the access states.
#include "link/port_list.h"

#include <memory>

#include "link/port_names.h"
#include "link/serial_port.h"

namespace zorvane {

void check_access(std::vector<PortInfo>& ports) {
    for (PortInfo& port : ports) {
        std::unique_ptr<PortBackend> backend = make_serial_backend();
        port.access = backend->open(port.path);
        backend->close();
    }
}

PortInfo port_from_text(const std::string& text) {
    PortInfo port;
    if (const int com = com_number_typed(text); com > 0) {
        port.com = com;
        port.path = resolve_port_path(com);
        return port;
    }
    if (text.empty()) {
        return port;
    }
    port.path = text;
    port.com = com_port_of_path(text);
    return port;
}

std::string port_label(const PortInfo& port) {
    if (port.com > 0 && port.com <= kLastListedCom) {
        return "COM" + std::to_string(port.com) + " (" + port.path + ")";
    }
    return port.path;
}

const char* access_name(PortAccess access) {
    switch (access) {
        case PortAccess::Usable:
            return "usable";
        case PortAccess::NoPermission:
            return "no permission";
        case PortAccess::Busy:
            return "busy";
        case PortAccess::Missing:
            return "missing";
        case PortAccess::OtherError:
            break;
    }
    return "error";
}

}  // namespace zorvane
