#pragma once
#include <cstdint>
#include <string>

namespace quendo {

// The one text form of every duration and position: m:ss, or h:mm:ss from one hour on.
std::string TimeText(std::int32_t n);

}  // namespace quendo
