// The console beep and the playing of a sound file. Both return at once and
// never fail: without a terminal or an installed player nothing happens.
// Any thread.
#pragma once

#include <string_view>

namespace postil::platform {

// One BEL to the terminal when standard output is a terminal.
void Beep();

// Starts an installed sound player (aplay, paplay, pw-play, play) on `path`,
// detached from this process, when the file and a player exist.
void PlaySoundFile(std::string_view path);

}  // namespace postil::platform
