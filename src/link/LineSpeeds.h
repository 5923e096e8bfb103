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
inline std::string LineSpeedsText() {
    std::string text;
    for (size_t i = 0; i < kLineSpeeds.size(); ++i) {
        if (i > 0) text += i + 1 == kLineSpeeds.size() ? " or " : ", ";
        text += std::to_string(kLineSpeeds[i]);
    }
    return text;
}

}  // namespace praxon
