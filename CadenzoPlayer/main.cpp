#include "CadenzoPlayer/launch/ClickTestMode.hpp"
#include "CadenzoPlayer/launch/DeviceTestMode.hpp"
#include "CadenzoPlayer/launch/Environment.hpp"
#include "CadenzoPlayer/launch/ExportMode.hpp"
#include "CadenzoPlayer/playback/PipeWire.hpp"
#include "CadenzoPlayer/launch/SongTestMode.hpp"
#include "CadenzoPlayer/launch/Usage.hpp"
#include "CadenzoPlayer/launch/WindowModule.hpp"

#include <iostream>

int main(int argc, char** argv) {
    using cadenzo::LaunchMode;
    if (const auto reply = cadenzo::argumentReply({argv + (argc > 0 ? 1 : 0), argv + argc})) {
        std::cout << *reply;
        return 0;
    }
    cadenzo::restartOnPipeWireIfNeeded(argv);
    const std::string deviceText = cadenzo::readEnvironment("TEST_DEVICE").value_or("");
    switch (cadenzo::chooseLaunchMode()) {
    case LaunchMode::exportWav: cadenzo::runExport();
    case LaunchMode::songTest: cadenzo::runSongTest(deviceText);
    case LaunchMode::clickTest: cadenzo::runClickTest(deviceText);
    case LaunchMode::deviceTest: cadenzo::runDeviceTest(deviceText);
    case LaunchMode::webHost: return cadenzo::runWindowModule();
    }
    return 1;
}
