#pragma once
#include <optional>
#include <string>

namespace quendo {

// What the analysis knows of one music file. Times in seconds from the file's start.
struct TrackFacts {
    double integratedLufs = 0;  // EBU R128 integrated loudness; meaningless when !audible
    double peakDbfs = 0;        // sample peak in dBFS
    double firstSound = 0;      // first audible moment
    double lastSound = 0;       // last audible moment (the end of the last audible stretch)
    bool audible = false;       // false: digital silence or nothing above the floor
};

// The analysis as the deck engine sees it. Interface thread only. Facts(path) answers at once:
// the facts, or nothing yet (not analysed, or still working); it never waits. Want(path) asks for
// a file to be analysed ahead of need (cheap if known or queued).
class TrackAnalysis {
public:
    virtual std::optional<TrackFacts> Facts(const std::string& path) = 0;
    virtual void Want(const std::string& path) = 0;

protected:
    ~TrackAnalysis() = default;
};

}  // namespace quendo
