#include "CadenzoPlayer/launch/ClickTestMode.hpp"
#include "CadenzoPlayer/launch/DeviceTestMode.hpp"
#include "CadenzoPlayer/launch/Environment.hpp"
#include "CadenzoPlayer/launch/SongTestMode.hpp"
#include "CadenzoPlayer/launch/WindowModule.hpp"

int main() {
    using cadenzo::LaunchMode;
    const std::string deviceText = cadenzo::readEnvironment("TEST_DEVICE").value_or("");
    switch (cadenzo::chooseLaunchMode()) {
    case LaunchMode::songTest: cadenzo::runSongTest(deviceText);
    case LaunchMode::clickTest: cadenzo::runClickTest(deviceText);
    case LaunchMode::deviceTest: cadenzo::runDeviceTest(deviceText);
    case LaunchMode::webHost: return cadenzo::runWindowModule();
    }
    return 1;
}
