#pragma once
#include "model/MediaPlayer.h"
#include "model/Platform.h"
#include "model/ChangePreview.h"
#include "model/SoundOutputs.h"
#include "model/TrackFacts.h"

namespace quendo {

struct PlatformServices {
    MediaPlayer& deck1;
    MediaPlayer& deck2;
    MediaPlayer& probe;
    Shell& shell;
    PowerOff& powerOff;
    Dialogs& dialogs;
    Random& random;
    TrackAnalysis* analysis = nullptr;  // none: the automix goes by the files' lengths alone
    SoundOutputs* outputs = nullptr;    // none: the sound plays where the players put it
    StayAwake* awake = nullptr;         // none: the computer may sleep as it likes
    ChangePreview* preview = nullptr;   // none: the next change cannot be heard ahead
};

}  // namespace quendo
