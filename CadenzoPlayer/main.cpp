#include "CadenzoPlayer/launch/ClickTestMode.hpp"
#include "CadenzoPlayer/launch/DeviceTestMode.hpp"
#include "CadenzoPlayer/launch/Environment.hpp"
#include "CadenzoPlayer/launch/SongTestMode.hpp"

#include <cstdio>

int main() {
    using cadenzo::LaunchMode;
    const std::string deviceText = cadenzo::readEnvironment("TEST_DEVICE").value_or("");
    switch (cadenzo::chooseLaunchMode()) {
    case LaunchMode::songTest: cadenzo::runSongTest(deviceText);
    case LaunchMode::clickTest: cadenzo::runClickTest(deviceText);
    case LaunchMode::deviceTest: cadenzo::runDeviceTest(deviceText);
    case LaunchMode::webHost:
        std::printf("The web host is not available in this build.\n");
        return 1;
    }
    return 1;
}
