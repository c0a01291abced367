#pragma once
#include "model/Platform.h"

namespace quendo {

// Powers the computer off through systemd-logind on the system bus.
class PowerOffLogind : public PowerOff {
public:
    std::string PowerOffComputer() override;
};

}  // namespace quendo
