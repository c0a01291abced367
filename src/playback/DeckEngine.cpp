#include "app/Core.h"

// Placeholder until the deck engine lands.
namespace quendo {
void Core::StartHeadTrack() {}
void Core::AdvancePlaylist() {}
void Core::TrackEnded() {}
void Core::FinishPlaylist() {}
void Core::UPClick() {}
void Core::PlayClick() {}
void Core::NextClick() {}
void Core::Mix_OFFClick() {}
void Core::RepeatClick() {}
void Core::ShuffleClick() {}
void Core::WinMediaPlayer1EndOfStream() {}
void Core::WinMediaPlayer2EndOfStream() {}
void Core::Label1Seek(int, int) {}
void Core::Timer1Timer() {}
}  // namespace quendo
