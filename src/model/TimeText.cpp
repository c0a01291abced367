#include "model/TimeText.h"

namespace quendo {

std::string TimeText(std::int32_t n) {
    const std::int32_t m = n / 60;
    const std::int32_t h = m / 60;
    const std::int32_t s = n - 60 * m;
    const std::int32_t mm = m - 60 * h;
    std::string seconds = s < 10 ? "0" + std::to_string(s) : std::to_string(s);
    std::string minutes = (mm < 10 && h != 0) ? "0" + std::to_string(mm) : std::to_string(mm);
    std::string hours = h != 0 ? std::to_string(h) + ":" : std::string();
    return hours + minutes + ":" + seconds;
}

}  // namespace quendo
