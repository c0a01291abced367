#pragma once

namespace quendo {

// The program's own web pages, opened from the menus and the splash screen's links.
inline constexpr const char* kProductPage = "https://quendo.example.org";
inline constexpr const char* kOtherProgramsPage = "https://quendo.example.org/programs";

}  // namespace quendo
