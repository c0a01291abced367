#include <gtest/gtest.h>

#include "settings/AnalysisProgress.h"

using namespace quendo;

TEST(AnalysisProgress, CountsTheFilesThatCannotBeReadApart) {
    const struct {
        TrackAnalysis::Progress progress;
        const char* text;
    } rows[] = {
        {{0, 0, 0}, ""},
        {{1204, 5310, 0}, "Analysed 1,204 of 5,310 files"},
        {{10, 11, 1}, "Analysed 10 of 11 files, 1 cannot be read"},
        {{0, 1002, 1002}, "Analysed 0 of 1,002 files, 1,002 cannot be read"},
    };
    for (const auto& row : rows) EXPECT_EQ(AnalysisProgressText(row.progress), row.text);
}
