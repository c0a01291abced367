// "analysis.cache" as any bytes: every entry the reader keeps lies within what an analysis gives
// (a beat grid only with a tempo and a period that agree, a form only on its bars),
// what it read, written and read again, is read the same, and a bounded cache keeps its bound.
#include <algorithm>
#include <cmath>
#include <functional>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "analysis/FactsCache.h"

using namespace quendo;
using namespace quendo::audio;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    int dropped = -1;
    const FactsCache cache = ParseFactsCache(std::string_view(reinterpret_cast<const char*>(data), size), &dropped);
    FUZZ_CHECK(dropped >= 0);
    for (const auto& [path, c] : cache) {
        const TrackFacts& f = c.facts;
        FUZZ_CHECK(!path.empty() && c.key.size >= 0 && c.used >= 0 && c.version >= 1);
        FUZZ_CHECK(std::isfinite(f.integratedLufs) && f.peakDbfs <= 0 && f.firstSound >= 0 && f.firstSound <= f.lastSound);
        FUZZ_CHECK(f.beats.Steady() == (f.beats.bpm > 0) && f.beats.barPhase >= -1 && f.beats.barPhase < 4);
        // A grid kept is one the mix can count beats on: a music's tempo, and its period.
        FUZZ_CHECK(!f.beats.Steady() || (f.beats.bpm >= 30 && f.beats.bpm <= 300 &&
                                         std::fabs(f.beats.period * f.beats.bpm - 60) < 1e-4 &&
                                         std::isfinite(f.beats.firstBeat)));
        FUZZ_CHECK(f.key >= kNoKey && f.key < 24 && f.tags.trackNumber >= 0 && f.tags.discNumber >= 0);
        // A form only on a grid with bars, each of its bars measured, its marks within them.
        const TrackForm& form = f.form;
        FUZZ_CHECK(form.Known() ? f.beats.Steady() && f.beats.barPhase >= 0 : form.levels.empty() && form.phrases.empty());
        FUZZ_CHECK(!form.Known() ||
                   (form.levels.size() == static_cast<std::size_t>(form.bars) && form.phrases.front() == 0 &&
                    std::adjacent_find(form.phrases.begin(), form.phrases.end(), std::greater_equal<int>()) == form.phrases.end() &&
                    form.phrases.back() < form.bars && form.bassIn >= -1 && form.bassIn < form.bars &&
                    (form.bassIn < 0 ? form.bassOut == -1 : form.bassOut > form.bassIn && form.bassOut <= form.bars) &&
                    form.fadeOut >= -1 && form.fadeOut < form.bars));
    }

    const std::string written = FormatFactsCache(cache);
    int droppedAgain = -1;
    const FactsCache again = ParseFactsCache(written, &droppedAgain);
    FUZZ_CHECK(droppedAgain == 0 && again.size() == cache.size());
    FUZZ_CHECK(FormatFactsCache(again) == written);

    FactsCache bounded = cache;
    BoundFactsCache(bounded, 3, 512);
    FUZZ_CHECK(bounded.size() <= 3 && FormatFactsCache(bounded).size() <= 512);
    return 0;
}
