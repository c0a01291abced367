#pragma once
#include <string>

#include "model/TrackFacts.h"

namespace quendo {

// What the settings' AutoMix page says of the background analysis: "Analysed 1,204 of 5,310
// files", with ", 3 cannot be read" when some hold no audio that plays, or nothing while it has
// been given no files.
inline std::string AnalysisProgressText(const TrackAnalysis::Progress& p) {
    if (p.total <= 0) return {};
    const auto grouped = [](int n) {
        std::string digits = std::to_string(n < 0 ? 0 : n);
        for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
            digits.insert(static_cast<std::size_t>(at), ",");
        return digits;
    };
    std::string text = "Analysed " + grouped(p.analysed) + " of " + grouped(p.total) + " files";
    if (p.unreadable > 0) text += ", " + grouped(p.unreadable) + " cannot be read";
    return text;
}

}  // namespace quendo
