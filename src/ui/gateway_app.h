// CGatewayApp: the process of the operator window. main pins the process to one processor
// first (before the Qt application object or any thread exists), then initInstance runs the
// main window modally until the operator closes it.
#pragma once

namespace gsms {

class CGatewayApp {
public:
    // Runs the main window until it is closed. Always false: the process then ends.
    bool initInstance();
};

}  // namespace gsms
