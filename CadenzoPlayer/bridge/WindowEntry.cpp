#include "CadenzoPlayer/bridge/WebHost.hpp"

// The window module's only exported symbol; the program looks it up by name.
extern "C" __attribute__((visibility("default"))) int cadenzoRunWindow() {
    cadenzo::runWebHost();
    return 0;
}
