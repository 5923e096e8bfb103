#pragma once

#include <array>
#include <string>

// The serial line speeds a user may choose and the one a session starts with: the window's
// options, praxon-cli's --baud, the settings file and the engine take them from here. Plain C++
// without Qt (the simulator assumes the same default).
namespace praxon {

// 1200 to 115200, and the higher ones many (not all) adapters and boards manage; ascending.
inline constexpr std::array<int, 12> kLineSpeeds = {1200,  2400,  4800,   9600,   14400,  19200,
                                                    38400, 57600, 115200, 230400, 460800, 921600};
// A new session's speed, and the one a setting that is not in the list falls back to.
inline constexpr int kDefaultLineSpeed = 115200;

constexpr bool IsSupportedBaudRate(int baudRate) {
    for (int speed : kLineSpeeds)
        if (speed == baudRate) return true;
    return false;
}

// The speeds for a message: "1200, 2400, ..., 460800 or 921600".
template <size_t N>
std::string SpeedsText(const std::array<int, N>& speeds) {
    std::string text;
    for (size_t i = 0; i < speeds.size(); ++i) {
        if (i > 0) text += i + 1 == speeds.size() ? " or " : ", ";
        text += std::to_string(speeds[i]);
    }
    return text;
}
inline std::string LineSpeedsText() {
    return SpeedsText(kLineSpeeds);
}

// The speeds the turbo loader may raise the line to once it runs: the ones above and the faster
// ones its USART makes within 3 % at 48 or 64 MHz; ascending. The adapter must manage them too.
inline constexpr std::array<int, 15> kTurboLineSpeeds = {1200,   2400,   4800,    9600,    14400,
                                                         19200,  38400,  57600,   115200,  230400,
                                                         460800, 921600, 1000000, 1500000, 2000000};

constexpr bool IsTurboLineSpeed(int baudRate) {
    for (int speed : kTurboLineSpeeds)
        if (speed == baudRate) return true;
    return false;
}

inline std::string TurboLineSpeedsText() {
    return SpeedsText(kTurboLineSpeeds);
}

}  // namespace praxon
