#include "CadenzoPlayer/launch/Usage.hpp"

#ifndef CADENZO_VERSION
#error "CADENZO_VERSION names the program's version"
#endif
#ifndef CADENZO_DEFAULT_URL
#error "CADENZO_DEFAULT_URL names the address the window opens by default (empty: the bundled page)"
#endif

namespace cadenzo {

std::string usageText() {
    const std::string defaultPage =
        *CADENZO_DEFAULT_URL ? std::string(CADENZO_DEFAULT_URL) : std::string("the bundled control page");
    return R"(Usage: cadenzo-player [--help] [--version]

Plays click tracks, spoken guide cues and a chord pad on chosen channels of a
multichannel audio interface. Without settings it opens its control page in a
window. Everything else comes from the environment.

Launch modes (the first that applies):
  export        EXPORT_WAV set: renders the song to a WAV file, no device
  song test     TEST_SONG=1 and TEST_DEVICE set: plays a song on the device
  click test    TEST_CLICK=1 and TEST_DEVICE set: plays a click track alone
  device test   TEST_DEVICE set: lists the devices, beeps on one channel
  window        otherwise: the control page in a window

Environment:
  TEST_DEVICE=TEXT       device whose name contains TEXT (default: none)
  TEST_SONG=1            the song test (default: off)
  TEST_CLICK=1           the click test (default: off)
  TEST_CHANNEL=N[,N...]  channel(s) under test, from 1 (default: 1)
  TEST_CHANNELS=N        output channels asked of the device (default: 8)
  TEMPO=NUMBER           beats per minute (default: 100)
  BEATS_PER_BAR=N        beats in a bar (default: 4)
  COUNT_IN_BARS=N        bars of count-in (default: 2)
  SONG_BARS=N[,N...]     bars of each part in the click test (default: 4,4,8)
  SECTIONS=MAP           song map of the song test (default: In:2,V:4,Ch:4,Out:2)
  START_SECTION=N        section, from 0, to start at (default: 0)
  CLICK_CHANNEL=N[,N...] click channels of the song test (default: 5)
  GUIDE_CHANNEL=N[,N...] guide cue channels of the song test (default: 7)
  PAD_CHANNEL=N[,N...]   pad channels of the song test (default: none)
  PAD_KEY=KEY            key of the pad: C, F#, Bb, ... (default: none)
  PAD_CHORDS=1,[4 5],1   chord chart, a Nashville number per bar, or several in
                         brackets sharing it (default: none)
  GUIDE_MUTE_AT=SECONDS  mute the guide cues this long after the start (default: never)
  GUIDE_UNMUTE_AT=SECONDS  unmute them this long after the start (default: never)
  STOP_AT=SECONDS        stop the song test after this much of it (default: the end)
  SONG_FILE=PATH         a song file (JSON, as the bridge's playSong) instead of
                         the song variables (default: none)
  EXPORT_WAV=PATH        render the song to this WAV file and quit (default: none)
  LOAD_URL=ADDRESS       page to open in the window (default: )" + defaultPage + R"()
  BRIDGE_TEST_PAGE=1     open the bundled control page (default: off)
  SELF_TEST=1            ask the page's bridge for the devices once, print, quit (default: off)
  CONTROL_OSC_PORT=N     take OSC control in the window on this UDP port (default: no OSC)
  CONTROL_OSC_BIND=ADDRESS  the address the OSC port listens on (default: 127.0.0.1)
  CADENZO_ON_PIPEWIRE=1  set when the program restarts itself on PipeWire's JACK
                         library (no JACK server, PipeWire running); when set, it
                         does not restart (default: absent)

A flag is on only for the exact text 1; an invalid value takes the default.
The control page keeps its library in $XDG_DATA_HOME/cadenzo-player/library.json
(default ~/.local/share/cadenzo-player/library.json).
In the window a MIDI foot switch connected to "CadenzoPlayer control" (JACK or
ALSA) drives the page; CC 80-83 play/stop, next song, next section and vamp.
)";
}

std::string versionText() {
    return "cadenzo-player " CADENZO_VERSION "\n";
}

std::optional<std::string> argumentReply(const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments) {
        if (argument == "--help" || argument == "-h") return usageText();
        if (argument == "--version") return versionText();
    }
    return std::nullopt;
}

} // namespace cadenzo
