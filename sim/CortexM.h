// The code Go starts in SRAM, run on an emulated Cortex-M3 with the STM32F10x peripherals it may
// use: flash interface, RCC, USART1, CRC unit, independent watchdog, SysTick and the SCB. The
// only home of the emulator library (Unicorn) in the project.
//
//   CortexM cpu(board, nowNs);               // the board has just taken a Go to SRAM
//   cpu.receive(byte, hostBaud, nowNs);      // a byte from the host, paced by the line
//   cpu.runUntil(nowNs + 1'000'000);         // simulated time moves on
//   for (auto& s : cpu.takeSent()) ...       // bytes the USART put on the line, with their time
//   cpu.status()                             // Running, or how it ended
//
// Simulated time: each instruction costs about one cycle of the core clock (HCLK, from RCC), a
// flash read its wait states; flash programming and erasing take the chip's times; bytes come
// and go at the USART's pace. A loop that only polls a register whose value cannot change before
// the next scheduled happening (a byte, the end of a flash operation, ...) jumps there.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace praxon::sim {

class Board;

class CortexM {
public:
    enum class Status {
        Running,
        Halted,       // stopped for good: a fault under its own vector table, or a hang
        Reset,        // the chip reset itself; the board is back in its bootloader
        UserProgram,  // jumped into flash; the board runs the user program
    };
    // A byte that finished on the line at atNs, as the host's UART sampled it.
    struct Sent {
        int64_t atNs;
        uint8_t byte;
    };
    struct Clocks {
        uint32_t sysclk, hclk, pclk2;
    };

    // The board took Go to an SRAM address at startNs: the core starts with MSP and PC from the
    // two words there, the peripherals as the ROM bootloader leaves them.
    CortexM(Board& board, int64_t startNs);
    ~CortexM();
    CortexM(const CortexM&) = delete;
    CortexM& operator=(const CortexM&) = delete;

    // Runs until simulated time reaches untilNs, or less when the chip stops or resets.
    void runUntil(int64_t untilNs);
    // A byte the host sent at hostBaud, from earliestNs (or the core's present, if later) on,
    // after the bytes before it: it reaches the USART one frame later.
    void receive(uint8_t byte, int hostBaud, int64_t earliestNs);
    // The speed the host's UART now samples at (it hears bytes sent at another as garbage).
    void setHostBaud(int baud);
    std::vector<Sent> takeSent();

    Status status() const;
    // Why it stopped ("" while running).
    std::string reason() const;
    int64_t nowNs() const;
    // The core only polls, and nothing but a byte from the host can change what it sees.
    bool waitingForHost() const;
    Clocks clocks() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

}  // namespace praxon::sim
