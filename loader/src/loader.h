/* The loader's protocol engine and the hardware interface it runs on. The engine (protocol.c,
 * inflate.c) is plain C that also builds for the host, where tests supply the hardware side. */
#ifndef LOADER_LOADER_H
#define LOADER_LOADER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define LOADER_PROTOCOL_VERSION 3u
#define LOADER_MAGIC 0x314C5850u /* "PXL1" */
#define LOADER_FLASH_BASE 0x08000000u
#define LOADER_BANK2_REGS 0x40u /* bank 2's flash registers sit this much higher */
/* Family number reported by HELLO: 0 = F0, 1 = F1, 3 = F3 (the build defines LOADER_Fx). */
#if defined(LOADER_F0)
#define LOADER_FAMILY_CODE 0u
#elif defined(LOADER_F3)
#define LOADER_FAMILY_CODE 3u
#else
#define LOADER_FAMILY_CODE 1u
#endif

/* Filled by the host before Go (image offset 8). */
struct loader_params {
    uint32_t magic;
    uint32_t baud;        /* line speed at Go */
    uint32_t ram_end;     /* first address past usable RAM */
    uint32_t page_size;   /* erase unit, a power of two */
    uint32_t flash_size;  /* bytes; 0 = read the flash-size register */
    uint32_t bank2_start; /* 0 = one bank */
    uint32_t rx_start;    /* set by the build: the receive buffer runs from here to ram_end */
    uint32_t lzma;        /* nonzero: the LZMA table takes RAM from the receive buffer */
};

enum loader_command {
    CMD_HELLO = 0x01,
    CMD_ERASE = 0x02,
    CMD_MASS_ERASE = 0x03,
    CMD_WRITE = 0x04,
    CMD_WRITE_DEFLATE = 0x05,
    CMD_CRC = 0x06,
    CMD_COMPARE = 0x07,
    CMD_READ = 0x08,
    CMD_BAUD = 0x09,
    CMD_GO = 0x0A,
    CMD_WRITE_LZMA = 0x0B,      /* starts an LZMA stream */
    CMD_WRITE_LZMA_MORE = 0x0C, /* continues it */
    REPLY_DUP = 0xDD,
    REPLY_NAK = 0xEE
};

enum loader_status {
    ST_OK = 0,
    ST_BAD_COMMAND = 1,
    ST_BAD_LENGTH = 2,
    ST_BAD_ADDRESS = 3,
    ST_LOCKED = 4,
    ST_NOT_ERASED = 5,
    ST_PROTECTED = 6,
    ST_VERIFY = 7,
    ST_TIMEOUT = 8,
    ST_DECODE = 9,
    ST_DECODE_LENGTH = 10,
    ST_BAD_BAUD = 11
};

enum loader_nak_reason {
    NAK_CRC = 1,
    NAK_GAP = 2,
    NAK_LINE = 3,
    NAK_TOO_LONG = 4,
    NAK_OVERFLOW = 5
};

/* The smallest build leaves the deflate decoder out (HELLO flags bit 1 says which). */
#ifdef LOADER_NO_DEFLATE
#define LOADER_HAS_DEFLATE 0u
#else
#define LOADER_HAS_DEFLATE 1u
#endif

/* Builds with LOADER_LZMA carry the LZMA decoder (HELLO flags bit 2). */
#ifdef LOADER_LZMA
#define LOADER_HAS_LZMA 1u
#else
#define LOADER_HAS_LZMA 0u
#endif
/* The LZMA probability table is taken from the top of the receive buffer only where this much
 * buffer stays. Its entries (16 bits each) for literal position bits lp and position bits pb: */
#define LOADER_LZMA_MIN_RX 512u
#define LOADER_LZMA_TABLE(pb, lp) (951u + (56u << (pb)) + (0x300u << (lp)))

#define FRAME_SYNC 0xA5u
/* Host to chip, the line never carries 0x7F (the ROM bootloader's synchronisation byte, which a
 * chip reset in mid-transfer would otherwise take from the frames still arriving): the host sends
 * 0x7F and LINE_ESCAPE as LINE_ESCAPE followed by the byte XOR LINE_ESCAPE_FLIP. */
#define LINE_ESCAPE 0xCFu
#define LINE_ESCAPE_FLIP 0x20u
#define FRAME_HEADER 6u
#define FRAME_OVERHEAD 10u
#define LOADER_MAX_PAYLOAD 4096u
#define LOADER_IDLE_DROP_MS 100u   /* an unfinished frame this long without a byte is dropped */
#define LOADER_BAUD_TRIAL_MS 1000u /* no good frame at a new speed within this: back to the old */
/* No frame sent (reply, NAK or DUP) this long: no host speaks to the loader any more (killed,
 * unplugged, reconnecting at another speed) and the chip resets, so that it is back in its ROM
 * bootloader rather than waiting in RAM for good. Bytes that make no frame do not count. */
#define LOADER_HOST_SILENT_MS 10000u

/* ---- The engine ---- */
void loader_init(const struct loader_params* params, uint8_t* rx_buffer, uint32_t rx_size,
                 uint32_t image_address);
/* One turn of the main loop: take in bytes, execute at most one frame. */
void loader_step(void);
/* Moves received bytes into the receive buffer, reloads the watchdog, counts time. Every waiting
 * loop calls it, so no byte is lost while the loader is busy. */
void loader_service(void);

/* Software model of the CRC unit (host side and tests). */
uint32_t loader_crc_word(uint32_t crc, uint32_t word);

/* ---- The hardware side (chip.c on the chip) ---- */
int hal_rx(void);          /* a received byte, -1 when none, -2 for a byte with a line error */
void hal_tx(uint8_t byte); /* waits (calling loader_service) until the byte is taken */
void hal_tx_drain(void);   /* waits until the last byte has left the line */
void hal_tick(void);       /* watchdog reload and the millisecond count */
uint32_t hal_ms(void);
uint32_t hal_baud_possible(uint32_t baud); /* the exact speed the USART would run at, 0 if none */
void hal_set_baud(uint32_t baud);
uint32_t hal_clock_hz(void);
uint32_t hal_flash_size_register(void); /* KiB */
void hal_crc_reset(void);
void hal_crc_word(uint32_t word);
uint32_t hal_crc_value(void);
uint8_t hal_read8(uint32_t address);
uint16_t hal_read16(uint32_t address);
uint32_t hal_read32(uint32_t address);
/* Flash operations return a loader_status; bank_regs is 0 or LOADER_BANK2_REGS. */
int hal_flash_unlock(uint32_t bank_regs);
int hal_flash_locked(uint32_t bank_regs);
/* Programming a half-word in two halves, so that the next one is decoded while this one
 * programs: start, then (reading no flash meanwhile: that would stall the bus, and the USART with
 * it) end, which waits for the controller and reports. */
void hal_flash_program_start(uint32_t bank_regs, uint32_t address, uint16_t value);
int hal_flash_program_end(uint32_t bank_regs);
int hal_flash_erase_page(uint32_t bank_regs, uint32_t address);
int hal_flash_mass_erase(uint32_t bank_regs);
uint32_t hal_flash_last_sr(void);
void hal_leave(uint32_t address); /* locks the flash, restores the clock, resets or jumps */

#ifdef __cplusplus
}
#endif
#endif
