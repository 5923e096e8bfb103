/* The loader's side of the line protocol (loader/PROTOCOL.md): the receive buffer, frame checks,
 * sequence numbers and the commands. */
#include "inflate.h"
#include "loader.h"

#define SYSMEM_START 0x1FFF0000u
#define RAM_START 0x20000000u

/* ---- State: one block, so the code reaches every field from one base address ---- */
static struct {
    uint8_t* rx; /* received bytes, a frame always starting at rx[0] */
    uint32_t rx_size, rx_used;
    uint32_t last_rx_ms;
    uint32_t last_traffic_ms; /* a frame sent: a reply, NAK or DUP to something from the host */
    uint32_t max_payload, image_address;
    uint32_t ram_end, page_size, flash_size, flash_end, bank2_start;
    uint32_t line_baud, trial_old_baud, trial_start_ms;
    uint32_t error_address, error_sr; /* sent with a failed status */
    uint32_t crc_word_acc, crc_byte_count;
    uint32_t deflate_in_offset, deflate_dest, deflate_done;
    uint32_t lz_in, lz_in_end, lz_next, lz_table; /* LZMA: input span, next address, table size */
    uint16_t* lz_probs;
    /* Reply being built: payload bytes, then optionally a memory span. */
    uint32_t reply_len, reply_span_address, reply_span_len;
    uint8_t reply[136];
    uint8_t line_error, overflow, expected_seq, nak_sent, baud_trial, deflate_pending;
    uint8_t lz_active;    /* an LZMA stream's next frame may follow */
    uint32_t programming; /* address of the half-word the flash is programming, 0: none */
    uint16_t programming_value;
    uint8_t escaped; /* LINE_ESCAPE came: the next byte is flipped back */
} E;

/* ---- Receive buffer: bytes in arrival order from E.rx[0]; a frame always starts at E.rx[0] ----
 */
static uint32_t get_u16(const uint8_t* bytes) {
    return bytes[0] | (uint32_t)bytes[1] << 8;
}

static uint32_t get_u32(const uint8_t* bytes) {
    return get_u16(bytes) | get_u16(bytes + 2) << 16;
}

/* Moves the bytes after the first `count` to the front; bytes arriving meanwhile move too. */
static void rx_drop(uint32_t count) {
    uint32_t i;
    for (i = 0; i + count < E.rx_used; ++i) {
        if ((i & 15u) == 0) loader_service();
        E.rx[i] = E.rx[i + count];
    }
    E.rx_used = i;
}

void loader_service(void) {
    int byte;
    while ((byte = hal_rx()) != -1) {
        E.last_rx_ms = hal_ms();
        /* The line's escapes are undone here: the buffer, the window and the frame scanner see
         * the frames as the host built them. */
        if (byte < 0) {
            E.line_error = 1;
            E.escaped = 0; /* an escaped byte lost: its frame's CRC fails */
            continue;
        }
        if (E.escaped) {
            /* Only 0x7F and the escape byte come escaped. After an escape cut off (the host drops
             * its queued bytes after a missing reply) the byte counts as it is, so that the next
             * frame's sync byte survives. */
            E.escaped = 0;
            uint8_t flipped = (uint8_t)(byte ^ LINE_ESCAPE_FLIP);
            if (flipped == 0x7Fu || flipped == LINE_ESCAPE) byte = flipped;
        } else if (byte == LINE_ESCAPE) {
            E.escaped = 1;
            continue;
        }
        if (E.rx_used >= E.rx_size)
            E.overflow = 1;
        else
            E.rx[E.rx_used++] = (uint8_t)byte;
    }
    hal_tick();
}

/* ---- CRC over a byte stream: 4 bytes make a little-endian word, the last one zero-padded ---- */

static void crc_begin(void) {
    hal_crc_reset();
    E.crc_word_acc = 0;
    E.crc_byte_count = 0;
}

static void crc_byte(uint8_t byte) {
    E.crc_word_acc |= (uint32_t)byte << (8u * E.crc_byte_count);
    if (++E.crc_byte_count == 4) {
        hal_crc_word(E.crc_word_acc);
        E.crc_word_acc = 0;
        E.crc_byte_count = 0;
    }
}

static uint32_t crc_end(void) {
    if (E.crc_byte_count) hal_crc_word(E.crc_word_acc);
    return hal_crc_value();
}

uint32_t loader_crc_word(uint32_t crc, uint32_t word) {
    crc ^= word;
    for (int bit = 0; bit < 32; ++bit)
        crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    return crc;
}

/* ---- Sending frames ---- */
static void send_byte(uint8_t byte) {
    crc_byte(byte);
    hal_tx(byte);
}

static void send_frame(uint8_t seq, uint8_t code) {
    uint32_t len = E.reply_len + E.reply_span_len;
    uint8_t header[FRAME_HEADER] = {FRAME_SYNC, seq, code, (uint8_t)len, (uint8_t)(len >> 8), 0};
    header[5] = (uint8_t) ~(header[1] ^ header[2] ^ header[3] ^ header[4]);
    crc_begin();
    uint32_t i;
    for (i = 0; i < FRAME_HEADER; ++i) send_byte(header[i]);
    for (i = 0; i < E.reply_len; ++i) send_byte(E.reply[i]);
    for (i = 0; i < E.reply_span_len; ++i) send_byte(hal_read8(E.reply_span_address + i));
    uint32_t crc = crc_end();
    for (i = 0; i < 4; ++i) hal_tx((uint8_t)(crc >> (8u * i)));
    E.last_traffic_ms = hal_ms();
    E.reply_len = 0;
    E.reply_span_len = 0;
}

static void put_u8(uint32_t value) {
    E.reply[E.reply_len++] = (uint8_t)value;
}

static void put_u16(uint32_t value) {
    put_u8(value);
    put_u8(value >> 8);
}

static void put_u32(uint32_t value) {
    put_u16(value);
    put_u16(value >> 16);
}

static void send_nak(uint8_t reason) {
    if (E.nak_sent) return;
    E.nak_sent = 1;
    put_u8(reason);
    send_frame(E.expected_seq, REPLY_NAK);
}

/* ---- Memory ranges ---- */
static int in_range(uint32_t address, uint32_t length, uint32_t start, uint32_t end) {
    return address >= start && address <= end && length <= end - address;
}

static int flash_range(uint32_t address, uint32_t length) {
    return in_range(address, length, LOADER_FLASH_BASE, E.flash_end);
}

static int readable_range(uint32_t address, uint32_t length) {
    return flash_range(address, length) || in_range(address, length, SYSMEM_START, RAM_START) ||
           in_range(address, length, RAM_START, E.ram_end);
}

/* ---- Flash ---- */
static uint32_t bank_regs(uint32_t address) {
    return E.bank2_start && address >= E.bank2_start ? LOADER_BANK2_REGS : 0u;
}

static int fail(int status, uint32_t address) {
    E.error_address = address;
    E.error_sr = hal_flash_last_sr();
    return status;
}

static int unlock(uint32_t regs, uint32_t address) {
    if (hal_flash_locked(regs) && hal_flash_unlock(regs) != ST_OK) return fail(ST_LOCKED, address);
    return ST_OK;
}

/* Waits for the half-word being programmed (taking in bytes meanwhile) and checks it. */
__attribute__((noinline)) static int program_end(void) {
    uint32_t address = E.programming;
    if (!address) return ST_OK;
    E.programming = 0;
    int status = hal_flash_program_end(bank_regs(address));
    if (status) return fail(status, address);
    if (hal_read16(address) != E.programming_value) return fail(ST_VERIFY, address);
    return ST_OK;
}

/* Starts programming a half-word and returns while the flash is busy with it: the decoders
 * produce the next one meanwhile. The next call, a read of the flash by a decoder, and the end
 * of every command wait for it first (program_end). */
static int program_half_word(uint32_t address, uint16_t value) {
    /* Between two half-words lie the end of the last one's busy wait and the decoding of the
     * next: without this poll that path came close to one byte time at 921600 baud. */
    loader_service();
    int status = program_end();
    if (status) return status;
    uint16_t now = hal_read16(address);
    if (now == value) return ST_OK;
    E.error_sr = 0;
    if (now != 0xFFFFu && value != 0) {
        E.error_address = address;
        return ST_NOT_ERASED;
    }
    uint32_t regs = bank_regs(address);
    status = unlock(regs, address);
    if (status) return status;
    hal_flash_program_start(regs, address, value);
    E.programming = address;
    E.programming_value = value;
    return ST_OK;
}

/* Address of the first byte in [address, address + length) that is not 0xFF, or 0. */
static uint32_t first_not_blank(uint32_t address, uint32_t length) {
    for (uint32_t offset = 0; offset < length; offset += 4) {
        if ((offset & 31u) == 0) loader_service();
        if (hal_read32(address + offset) != 0xFFFFFFFFu) return address + offset;
    }
    return 0;
}

static int erase_pages(uint32_t address, uint32_t count, uint32_t* erased) {
    *erased = 0;
    for (; count; --count, address += E.page_size) {
        if (!first_not_blank(address, E.page_size)) continue;
        uint32_t regs = bank_regs(address);
        int status = unlock(regs, address);
        if (status) return status;
        status = hal_flash_erase_page(regs, address);
        if (status) return fail(status, address);
        uint32_t bad = first_not_blank(address, E.page_size);
        if (bad) return fail(ST_VERIFY, bad);
        ++*erased;
    }
    return ST_OK;
}

static int mass_erase(void) {
    int status = unlock(0, LOADER_FLASH_BASE);
    if (!status) status = hal_flash_mass_erase(0);
    if (status) return fail(status, LOADER_FLASH_BASE);
    if (E.bank2_start) {
        status = unlock(LOADER_BANK2_REGS, E.bank2_start);
        if (!status) status = hal_flash_mass_erase(LOADER_BANK2_REGS);
        if (status) return fail(status, E.bank2_start);
    }
    return ST_OK;
}

static uint32_t crc_of_range(uint32_t address, uint32_t length) {
    hal_crc_reset();
    for (uint32_t offset = 0; offset < length; offset += 4) {
        if ((offset & 31u) == 0) loader_service();
        hal_crc_word(hal_read32(address + offset));
    }
    return hal_crc_value();
}

#if LOADER_HAS_DEFLATE
uint8_t inflate_in(uint32_t index) {
    return E.rx[E.deflate_in_offset + index];
}
#endif

#if LOADER_HAS_DEFLATE || LOADER_HAS_LZMA
/* ---- Decoder output goes straight into flash, half-word by half-word ---- */

int inflate_out(uint8_t byte) {
    int status = ST_OK;
    if (E.deflate_done & 1u)
        status = program_half_word(E.deflate_dest + E.deflate_done - 1,
                                   (uint16_t)(E.deflate_pending | (uint32_t)byte << 8));
    else
        E.deflate_pending = byte;
    ++E.deflate_done;
    return status;
}

int inflate_back(uint32_t distance, uint8_t* byte) {
    uint32_t address = E.deflate_dest + E.deflate_done - distance;
    if (distance > E.deflate_dest + E.deflate_done - LOADER_FLASH_BASE) return ST_DECODE;
    if (distance == 1 && (E.deflate_done & 1u)) {
        *byte = E.deflate_pending;
        return ST_OK;
    }
    int status = program_end(); /* a flash read while it programs would stall the USART too */
    *byte = hal_read8(address);
    return status;
}
#endif

#if LOADER_HAS_LZMA
/* A stream byte of the frame being executed; past its end a 0 (the frame's check fails then). */
static uint8_t lz_in(void) {
    uint32_t index = E.lz_in++;
    return index < E.lz_in_end ? E.rx[index] : 0;
}
/* Output decoded after the frame's stream bytes ran out is not programmed. */
static int lz_put(uint8_t byte) {
    return E.lz_in > E.lz_in_end ? ST_DECODE_LENGTH : inflate_out(byte);
}
#define lz_peek inflate_back
#define LOADER_POLL loader_service
#include "lzma.c"

/* WRITE_LZMA (begin: u32 address, u16 size, u8 props, stream) and WRITE_LZMA_MORE (u16 size,
 * stream): `size` bytes more of one stream, programmed from where the last frame ended. */
static int write_lzma(uint8_t cmd, uint32_t len) {
    const uint8_t* payload = E.rx + FRAME_HEADER;
    uint32_t head = cmd == CMD_WRITE_LZMA ? 7u : 2u, size;
    if (cmd == CMD_WRITE_LZMA) {
        if (len < head + 5u) return ST_BAD_LENGTH;
        size = get_u16(payload + 4);
        E.lz_next = get_u32(payload);
    } else {
        if (len < head) return ST_BAD_LENGTH;
        size = get_u16(payload);
        if (!E.lz_active) return fail(ST_DECODE, E.lz_next);
    }
    uint32_t address = E.lz_next;
    E.lz_active = 0;
    E.error_address = address;
    if ((address & 1u) || (size & 1u) || !size || !flash_range(address, size))
        return ST_BAD_ADDRESS;
    E.deflate_dest = address;
    E.deflate_done = 0;
    E.lz_in = FRAME_HEADER + head;
    E.lz_in_end = FRAME_HEADER + len;
    int status = ST_OK;
    if (cmd == CMD_WRITE_LZMA) status = lz_begin(E.lz_probs, E.lz_table, payload[6], address);
    if (!status) status = lz_run(size);
    if (!status && E.lz_in != E.lz_in_end) status = ST_DECODE_LENGTH;
    E.lz_next = address + E.deflate_done;
    if (status == ST_DECODE || status == ST_DECODE_LENGTH) E.error_address = E.lz_next;
    E.lz_active = !status;
    return status;
}
#endif

/* ---- Commands: payload at E.rx + FRAME_HEADER, `len` bytes ---- */
static void hello(void) {
    put_u8(LOADER_PROTOCOL_VERSION);
    put_u8(LOADER_FAMILY_CODE);
    put_u8((hal_flash_locked(0) ? 0u : 1u) | LOADER_HAS_DEFLATE << 1 | (E.lz_table ? 1u : 0u) << 2);
    put_u32(E.rx_size);
    put_u32(E.max_payload);
    put_u32(E.image_address);
    put_u32(E.ram_end);
    put_u32(E.page_size);
    put_u32(E.flash_size);
    put_u32(hal_flash_size_register());
    put_u32(E.bank2_start);
    put_u32(hal_clock_hz());
    put_u32(E.line_baud);
    put_u32(E.lz_table);
    E.lz_active = 0; /* the resync point: a stream cut by it does not go on */
}

/* Executes the command in the receive buffer; fills the E.reply after the status byte. Returns the
 * status. */
static int execute(uint8_t cmd, uint32_t len, uint32_t* new_baud, uint32_t* leave_to) {
    const uint32_t p = FRAME_HEADER;
    uint32_t address = len >= 4 ? get_u32(E.rx + p) : 0;
    E.error_address = address;
    E.error_sr = 0;
    switch (cmd) {
        case CMD_HELLO:
            if (len) return ST_BAD_LENGTH;
            hello();
            return ST_OK;
        case CMD_ERASE: {
            if (len != 6) return ST_BAD_LENGTH;
            uint32_t count = get_u16(E.rx + p + 4);
            if (!count || ((address - LOADER_FLASH_BASE) & (E.page_size - 1u)) ||
                !flash_range(address, count * E.page_size))
                return ST_BAD_ADDRESS;
            uint32_t erased;
            int status = erase_pages(address, count, &erased);
            if (!status) put_u16(erased);
            return status;
        }
        case CMD_MASS_ERASE:
            if (len) return ST_BAD_LENGTH;
            return mass_erase();
        case CMD_WRITE: {
            if (len < 6 || (len & 1u)) return ST_BAD_LENGTH;
            uint32_t size = len - 4;
            if ((address & 1u) || !flash_range(address, size)) return ST_BAD_ADDRESS;
            for (uint32_t i = 0; i < size; i += 2) {
                int status = program_half_word(address + i, (uint16_t)get_u16(E.rx + p + 4 + i));
                if (status) return status;
            }
            return ST_OK;
        }
#ifndef LOADER_NO_DEFLATE
        case CMD_WRITE_DEFLATE: {
            if (len < 9) return ST_BAD_LENGTH;
            uint32_t size = get_u32(E.rx + p + 4);
            if ((address & 1u) || (size & 1u) || !size || !flash_range(address, size))
                return ST_BAD_ADDRESS;
            E.deflate_in_offset = p + 8;
            E.deflate_dest = address;
            E.deflate_done = 0;
            E.error_sr = 0;
            E.error_address = address;
            int status = inflate_raw(len - 8, size);
            if (status == ST_DECODE || status == ST_DECODE_LENGTH)
                E.error_address = address + E.deflate_done;
            return status;
        }
#endif
#if LOADER_HAS_LZMA
        case CMD_WRITE_LZMA:
        case CMD_WRITE_LZMA_MORE:
            return write_lzma(cmd, len);
#endif
        case CMD_CRC: {
            if (len != 8) return ST_BAD_LENGTH;
            uint32_t size = get_u32(E.rx + p + 4);
            if ((address & 3u) || (size & 3u) || !size || !readable_range(address, size))
                return ST_BAD_ADDRESS;
            put_u32(crc_of_range(address, size));
            return ST_OK;
        }
        case CMD_COMPARE: {
            if (len < 12 || (len & 3u)) return ST_BAD_LENGTH;
            uint32_t block = get_u32(E.rx + p + 4), count = (len - 8) / 4;
            if ((address & 3u) || (block & 3u) || !block) return ST_BAD_ADDRESS;
            uint32_t end = address;
            for (uint32_t i = 0; i < count; ++i) {
                if (!readable_range(end, block)) return ST_BAD_ADDRESS;
                end += block;
            }
            put_u16(count);
            for (uint32_t i = 0; i < count; i += 8) {
                uint32_t bits = 0;
                for (uint32_t b = 0; b < 8 && i + b < count; ++b)
                    if (crc_of_range(address + (i + b) * block, block) !=
                        get_u32(E.rx + p + 8 + 4 * (i + b)))
                        bits |= 1u << b;
                put_u8(bits);
            }
            return ST_OK;
        }
        case CMD_READ: {
            if (len != 6) return ST_BAD_LENGTH;
            uint32_t size = get_u16(E.rx + p + 4);
            if (!size || size > E.max_payload - 1 || !readable_range(address, size))
                return ST_BAD_ADDRESS;
            E.reply_span_address = address;
            E.reply_span_len = size;
            return ST_OK;
        }
        case CMD_BAUD: {
            if (len != 4) return ST_BAD_LENGTH;
            uint32_t actual = hal_baud_possible(address);
            if (!actual) return ST_BAD_BAUD;
            put_u32(actual);
            *new_baud = address;
            return ST_OK;
        }
        case CMD_GO:
            if (len != 4) return ST_BAD_LENGTH;
            if (address != 0xFFFFFFFFu && ((address & 3u) || !readable_range(address, 8)))
                return ST_BAD_ADDRESS;
            *leave_to = address;
            return ST_OK;
        default:
            return ST_BAD_COMMAND;
    }
}

void loader_init(const struct loader_params* params, uint8_t* rx_memory, uint32_t rx_bytes,
                 uint32_t image) {
#if LOADER_HAS_LZMA
    /* The LZMA probability table takes the top of the RAM, when the host asks for it (the image
     * compresses) and the receive buffer keeps enough: room for lp = pb = 1, else for
     * lp = pb = 0, else no LZMA. */
    uint32_t table = LZ_TABLE_SIZE(1, 1);
    if (rx_bytes < table * 2u + LOADER_LZMA_MIN_RX) table = LZ_TABLE_SIZE(0, 0);
    if (!params->lzma || rx_bytes < table * 2u + LOADER_LZMA_MIN_RX) table = 0;
    rx_bytes -= table * 2u;
    E.lz_probs = (uint16_t*)(void*)(rx_memory + rx_bytes);
    E.lz_table = table;
    E.lz_active = 0;
#endif
    E.rx = rx_memory;
    E.rx_size = rx_bytes;
    E.rx_used = 0;
    E.line_error = E.overflow = E.escaped = 0;
    E.expected_seq = 0;
    E.nak_sent = 0;
    E.baud_trial = 0;
    E.reply_len = E.reply_span_len = 0;
    E.image_address = image;
    E.max_payload = rx_bytes - FRAME_OVERHEAD;
    if (E.max_payload > LOADER_MAX_PAYLOAD) E.max_payload = LOADER_MAX_PAYLOAD;
    E.ram_end = params->ram_end;
    E.page_size = params->page_size;
    E.flash_size = params->flash_size ? params->flash_size : hal_flash_size_register() * 1024u;
    E.flash_end = LOADER_FLASH_BASE + E.flash_size;
    E.bank2_start = params->bank2_start;
    E.line_baud = params->baud;
    E.last_rx_ms = E.last_traffic_ms = hal_ms();
}

static void bad_frame(uint8_t reason) {
    if (E.overflow)
        reason = NAK_OVERFLOW;
    else if (E.line_error)
        reason = NAK_LINE;
    E.overflow = E.line_error = 0;
    send_nak(reason);
    rx_drop(1);
}

void loader_step(void) {
    loader_service();
    if (hal_ms() - E.last_traffic_ms > LOADER_HOST_SILENT_MS) {
        E.last_traffic_ms = hal_ms();
        hal_leave(0xFFFFFFFFu);
    }
    if (E.baud_trial && hal_ms() - E.trial_start_ms > LOADER_BAUD_TRIAL_MS) {
        E.baud_trial = 0;
        E.line_baud = E.trial_old_baud;
        hal_set_baud(E.line_baud);
        rx_drop(E.rx_used);
        E.overflow = E.line_error = E.escaped = 0;
    }
    /* The scan may cross a whole damaged frame: it polls like every other loop, or the bytes
     * behind would be lost too. */
    uint32_t skip = 0;
    while (skip < E.rx_used && E.rx[skip] != FRAME_SYNC) {
        if ((skip & 15u) == 0) loader_service();
        ++skip;
    }
    if (skip) rx_drop(skip);
    if (E.rx_used < FRAME_HEADER) {
        if (E.rx_used && hal_ms() - E.last_rx_ms > LOADER_IDLE_DROP_MS) bad_frame(NAK_CRC);
        return;
    }
    uint8_t seq = E.rx[1], cmd = E.rx[2];
    uint32_t len = get_u16(E.rx + 3);
    if ((uint8_t) ~(seq ^ cmd ^ E.rx[3] ^ E.rx[4]) != E.rx[5]) {
        rx_drop(1);
        return;
    }
    if (len > E.max_payload) {
        bad_frame(NAK_TOO_LONG);
        return;
    }
    /* The expected frame sent again (after a NAK): a try that fails again earns a NAK again, so
     * that a noisy line costs the host a resend and not its timeout. */
    if (seq == E.expected_seq) E.nak_sent = 0;
    if (E.rx_used < len + FRAME_OVERHEAD) {
        if (hal_ms() - E.last_rx_ms > LOADER_IDLE_DROP_MS) bad_frame(NAK_CRC);
        return;
    }
    crc_begin();
    for (uint32_t i = 0; i < FRAME_HEADER + len; ++i) {
        if ((i & 7u) == 0) loader_service();
        crc_byte(E.rx[i]);
    }
    if (crc_end() != get_u32(E.rx + FRAME_HEADER + len)) {
        bad_frame(NAK_CRC);
        return;
    }
    uint8_t distance = (uint8_t)(seq - E.expected_seq);
    if (cmd != CMD_HELLO && distance != 0) {
        rx_drop(len + FRAME_OVERHEAD);
        if (distance >= 128)
            send_frame(seq, REPLY_DUP);
        else
            send_nak(NAK_GAP);
        return;
    }
    /* A good frame: it also confirms a new line speed. Line errors and an E.overflow stay noted
     * for the bad frame they caused, which may come later. */
    E.baud_trial = 0;
    uint32_t new_baud = 0, leave_to = 0, leaving = 0;
    put_u8(0); /* status, filled in below */
    int status = execute(cmd, len, &new_baud, &leave_to);
    int programmed = program_end(); /* a write's last half-word belongs to its status */
    if (!status) status = programmed;
    if (cmd == CMD_GO && status == ST_OK) leaving = 1;
    if (status) {
        E.reply_len = 1;
        E.reply_span_len = 0;
        put_u32(E.error_address);
        put_u32(E.error_sr);
    }
    E.reply[0] = (uint8_t)status;
    rx_drop(len + FRAME_OVERHEAD);
    E.expected_seq = (uint8_t)(seq + 1);
    E.nak_sent = 0;
    send_frame(seq, cmd);
    if (new_baud) {
        hal_tx_drain();
        E.trial_old_baud = E.line_baud;
        E.line_baud = new_baud;
        hal_set_baud(new_baud);
        rx_drop(E.rx_used);
        E.escaped = 0;
        E.baud_trial = 1;
        E.trial_start_ms = hal_ms();
    }
    if (leaving) {
        hal_tx_drain();
        hal_leave(leave_to);
    }
}
