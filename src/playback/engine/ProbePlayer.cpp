#include "playback/engine/ProbePlayer.h"

#include "playback/engine/Decoder.h"

namespace quendo {

void ProbePlayer::SetFileName(const std::string& path) { duration_ = path.empty() ? 0 : audio::MeasureDuration(path); }

}  // namespace quendo
