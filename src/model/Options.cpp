#include "model/Options.h"

namespace quendo {

void SetOptionsToFirstRun(Options& o) {
    o.chkShowSplash = true;
    o.chkShowAnimat = true;
    o.chkMusicFileTimeRem = true;
    o.chkAutoMixTimeRem = false;
    o.chkAlwaysOnTop = false;
    o.reservedByte = 0;
    o.chkAutoStartOfPlaying = false;
    o.RadioGroup1 = suContinueSession;
    o.RadioGroup2 = epLoadCocktail;
    o.CheckBox1 = false;
}

void SetButtonsToFirstRun(TransportButtons& b) {
    b.Repeat = false;
    b.Shuffle = false;
    b.Mix_OFF = false;
    b.UP = true;
    b.Play = true;
}

}  // namespace quendo
