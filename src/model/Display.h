#pragma once
#include <array>
#include <string>
#include <vector>

#include "model/Options.h"

namespace quendo {

enum class Colour { WindowText, Green, Aqua, Yellow };

// What the main window shows, set by the handlers and copied into the widgets after each event.
struct MainDisplay {
    std::string StaticText1 = ":";
    std::string StaticText2 = ":";
    std::string StaticText3 = ":";
    std::string Label1Caption;
    std::string Label1Hint;
    int CGauge1Max = 100;
    int CGauge1Progress = 0;
    Colour CGauge1Colour = Colour::Aqua;
    std::string Label6;
    std::string Label7;
    bool NextEnabled = true;
    bool MixOffEnabled = true;
    bool ShuffleEnabled = false;
    Colour RepeatCaptionColour = Colour::WindowText;
    Colour ShuffleCaptionColour = Colour::WindowText;
    std::vector<std::string> ComboBox1Items;
    int ComboBox1ItemIndex = -1;
};

// The one rule for what the strip shows of Repeat and Shuffle: Shuffle takes presses only while
// Repeat is down, and the caption of a button that is down is green.
inline void ShowRepeatAndShuffle(const TransportButtons& b, MainDisplay& d) {
    d.ShuffleEnabled = b.Repeat;
    d.RepeatCaptionColour = b.Repeat ? Colour::Green : Colour::WindowText;
    d.ShuffleCaptionColour = b.Shuffle ? Colour::Green : Colour::WindowText;
}

// State the core sets on the other forms.
struct EditorDisplay {
    bool MixBarsEnabled = true;                    // mix editor: length, finishing, starting bars
    std::vector<std::string> ComboBox4Items;       // cocktail editor's cocktail list
    int ComboBox4ItemIndex = -1;
    std::array<std::string, 3> IngredientFolderLabels;  // Label8, Label9, Label10
};

}  // namespace quendo
