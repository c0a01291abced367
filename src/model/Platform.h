#pragma once
#include <cstdint>
#include <string>

namespace quendo {

// Platform edges the core is handed at construction; tests pass fakes.

class Shell {
public:
    virtual ~Shell() = default;
    // Opens a web address or a file with the desktop's handler; false when the desktop cannot.
    virtual bool Open(const std::string& target) = 0;
    // Starts the program's own executable again (the old instance then ends).
    virtual void RestartProgram() = 0;
};

class PowerOff {
public:
    virtual ~PowerOff() = default;
    // Asks the system to power off; returns "" on success, else the name of the call that failed.
    virtual std::string PowerOffComputer() = 0;
};

// Keeps the computer from idling into its screen saver or going to sleep while held. Where the
// system offers no way, holding does nothing, and says nothing.
class StayAwake {
public:
    virtual ~StayAwake() = default;
    virtual void Hold(bool on) = 0;
};

enum class MsgIcon { None, Information, Warning, Error };
enum class MsgButtons { Ok, OkCancel };
enum class MsgPlace { Centred, TopLeft };
enum class MsgAnswer { Ok, Cancel };

class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual MsgAnswer Message(const std::string& text, MsgIcon icon = MsgIcon::None,
                              MsgButtons buttons = MsgButtons::Ok,
                              MsgPlace place = MsgPlace::Centred) = 0;
};

// Opens `target` through the shell; when the desktop cannot (no handler, no browser), says which
// file or address it could not open, rather than leave the user waiting for a window.
inline void OpenOrSay(Shell& shell, Dialogs& dialogs, const std::string& target) {
    if (!shell.Open(target)) dialogs.Message("\"" + target + "\" could not be opened.", MsgIcon::Error);
}

// The one pseudo-random generator of the program.
class Random {
public:
    virtual ~Random() = default;
    virtual void Seed(std::uint32_t seed) = 0;
    // A non-negative 31-bit value.
    virtual std::int32_t Next() = 0;
    // 0 for n <= 0, else Next() mod n.
    std::int32_t Below(std::int32_t n) { return n <= 0 ? 0 : Next() % n; }
};

}  // namespace quendo

#include <random>

namespace quendo {

// The standard library's Mersenne twister, 31 bits of it.
class StdRandom : public Random {
public:
    void Seed(std::uint32_t seed) override { engine_.seed(seed); }
    std::int32_t Next() override { return static_cast<std::int32_t>(engine_() >> 1); }

private:
    std::mt19937 engine_{5489u};
};

}  // namespace quendo
