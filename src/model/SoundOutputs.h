#pragma once
#include <optional>
#include <string>
#include <vector>

namespace quendo {

// The sound output's choice of device, as the system offers it. Interface thread only.
class SoundOutputs {
public:
    virtual ~SoundOutputs() = default;
    // The output devices the system reports now, by name; the default is not among them.
    virtual std::vector<std::string> OutputDevices() = 0;
    // Moves the sound to the named device ("" the default) with the decks playing on where they
    // were; false when that device cannot be opened, and the default plays instead.
    virtual bool UseOutputDevice(const std::string& name) = 0;
    // Called now and then: when the device in use has gone (a USB interface unplugged), the
    // default takes over with the decks playing on, and the lost device's name ("" the default
    // itself) is returned.
    virtual std::optional<std::string> CheckOutput() = 0;

protected:
    SoundOutputs() = default;
};

}  // namespace quendo
