#pragma once

namespace quendo {

inline constexpr const char* kProductPage = "https://quendo.example.org";
inline constexpr const char* kOtherProgramsPage = "https://quendo.example.org/programs";

}  // namespace quendo
