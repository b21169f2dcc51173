#include "CadenzoPlayer/launch/ClickTestMode.hpp"
#include "CadenzoPlayer/launch/DeviceTestMode.hpp"
#include "CadenzoPlayer/launch/Environment.hpp"

#include <cstdio>

int main() {
    using cadenzo::LaunchMode;
    const auto notBuilt = [](const char* mode) {
        std::printf("The %s is not available in this build.\n", mode);
        return 1;
    };
    switch (cadenzo::chooseLaunchMode()) {
    case LaunchMode::songTest: return notBuilt("song test mode");
    case LaunchMode::clickTest: cadenzo::runClickTest(cadenzo::readEnvironment("TEST_DEVICE").value_or(""));
    case LaunchMode::deviceTest: cadenzo::runDeviceTest(cadenzo::readEnvironment("TEST_DEVICE").value_or(""));
    case LaunchMode::webHost: return notBuilt("web host");
    }
    return 1;
}
