#include <gtest/gtest.h>

#include "settings/AnalysisProgress.h"

namespace {

TEST(AnalysisProgress, CountsWithThousandsSeparatedAndNothingWithoutFiles) {
    using quendo::AnalysisProgressText;
    EXPECT_EQ(AnalysisProgressText({0, 0}), "");
    EXPECT_EQ(AnalysisProgressText({0, 7}), "Analysed 0 of 7 files");
    EXPECT_EQ(AnalysisProgressText({999, 1000}), "Analysed 999 of 1,000 files");
    EXPECT_EQ(AnalysisProgressText({1204, 5310}), "Analysed 1,204 of 5,310 files");
    EXPECT_EQ(AnalysisProgressText({123456, 1234567}), "Analysed 123,456 of 1,234,567 files");
}

}  // namespace
