/* The first stage of a two-stage start (loader/PROTOCOL.md section 9): written through the ROM
 * bootloader at the connect speed, it raises the clock and the line to the fast speed, receives
 * the loader's image there, checks its CRC and jumps to it. Any failure resets the chip, so the
 * ROM bootloader answers again and the host falls back to writing the loader through it.
 *
 * The code is position independent (no data of its own, no absolute addresses of its own code):
 * the host puts it where the loader's image does not reach and writes the head's two words. Go
 * loads the stack pointer with the stage's own address, which is how it finds its parameters. */
#include "regs.h"
#include "usart_pins.h"

#define STAGE_MAGIC 0x31535850u /* "PXS1" */
#define STAGE_ANNOUNCE 0x53u    /* sent every few ms at the fast speed until the image comes */
#define STAGE_ANNOUNCE_MS 5u
#define STAGE_ACCEPTED 0x06u
#define STAGE_REJECTED 0x15u
#define STAGE_FIRST_BYTE_MS 300u /* the host answers the announcement within this */
#define STAGE_GAP_MS 50u         /* and then sends without a pause this long */
#define LINE_ESCAPE 0xCFu
#define LINE_ESCAPE_FLIP 0x20u

struct stage_params {
    uint32_t magic;
    uint32_t baud;           /* the fast line speed */
    uint32_t loader_address; /* where the loader's image goes (its load address) */
    uint32_t loader_length;  /* bytes, a multiple of 4 */
    uint32_t loader_crc;     /* CRC-32 of the image as in PROTOCOL.md section 4 */
};

void stage_main(uint32_t base) __attribute__((noreturn, used));

/* Word 0: the stack pointer (the host writes the stage's address); word 1: the entry, written by
 * the host as the stage's address plus this offset. */
void stage_entry(void) __attribute__((naked, noreturn, section(".entry")));
void stage_entry(void) {
    __asm volatile("mov r0, sp\n\tb stage_main");
}
__attribute__((section(".head"), used)) const uint32_t stage_head[2] = {0, (uint32_t)stage_entry};
__attribute__((section(".params"), used))
const struct stage_params stage_defaults = {STAGE_MAGIC, 921600u, 0u, 0u, 0u};

__attribute__((noreturn)) static void reset_chip(void) {
    __asm volatile("dsb");
    SCB_AIRCR = SCB_AIRCR_SYSRESET;
    for (;;) {
    }
}

/* Polls until (reg & mask) == value; a register that never gets there resets the chip. */
static void wait_for(volatile uint32_t* reg, uint32_t mask, uint32_t value) {
    for (uint32_t tries = 0; (*reg & mask) != value; ++tries)
        if (tries > 200000u) reset_chip();
}

/* n / d; by shifts on the Cortex-M0, which has no divide instruction (libgcc's would double the
 * stage). */
static uint32_t divide(uint32_t n, uint32_t d) {
#if !defined(LOADER_F0)
    return n / d;
#endif
    uint32_t quotient = 0, rest = 0;
    for (int bit = 31; bit >= 0; --bit) {
        rest = rest << 1 | (n >> bit & 1u);
        if (rest >= d) {
            rest -= d;
            quotient |= 1u << bit;
        }
    }
    return quotient;
}

static void clock_to_hsi(void) {
    RCC_CR |= RCC_CR_HSION;
    wait_for(&RCC_CR, RCC_CR_HSIRDY, RCC_CR_HSIRDY);
    RCC_CFGR &= ~RCC_CFGR_SW_MASK;
    wait_for(&RCC_CFGR, RCC_CFGR_SWS_MASK, 0);
    RCC_CR &= ~RCC_CR_PLLON;
    wait_for(&RCC_CR, RCC_CR_PLLRDY, 0);
    RCC_CFGR = 0;
}

/* A millisecond has passed (SysTick wrapped): the watchdog is reloaded with it. */
static int millisecond(void) {
    if (!(SYST_CSR & (1u << 16))) return 0;
    IWDG_KR = IWDG_RELOAD;
    return 1;
}

static void send(uint32_t byte) {
    while (!(USART_SR & USART_SR_TXE)) millisecond();
    USART_TDR = byte;
}

static void drain(void) {
    while (!(USART_SR & USART_SR_TC)) millisecond();
}

void stage_main(uint32_t base) {
    const struct stage_params* params = (const struct stage_params*)(base + 8u);
    IWDG_KR = IWDG_RELOAD;
    wait_for(&USART_SR, USART_SR_TC, USART_SR_TC); /* the ROM's ACK to Go leaves first */
    const uint32_t clock_hz = LOADER_HSI_HZ / 2u * LOADER_PLL_MUL;
    const uint32_t baud = params->baud;
    if (baud < 1200u) reset_chip();
    const uint32_t divisor = divide(clock_hz + baud / 2u, baud);
    const uint32_t actual = divide(clock_hz, divisor);
    const uint32_t off = actual > baud ? actual - baud : baud - actual;
    if (divisor < 16u || divisor > 0xFFFFu || off * 100u > baud * 3u) reset_chip();

    clock_to_hsi();
    FLASH_ACR = (FLASH_ACR & ~7u) | LOADER_FLASH_LATENCY | FLASH_ACR_PRFTBE; /* before the PLL */
#if defined(LOADER_F0)
    RCC_CFGR = RCC_CFGR_PLLMUL(LOADER_PLL_MUL);
#else
    RCC_CFGR = RCC_CFGR_PLLMUL(LOADER_PLL_MUL) | RCC_CFGR_PPRE1_DIV2;
#endif
    RCC_CR |= RCC_CR_PLLON;
    wait_for(&RCC_CR, RCC_CR_PLLRDY, RCC_CR_PLLRDY);
    RCC_CFGR |= RCC_CFGR_SW_PLL;
    wait_for(&RCC_CFGR, RCC_CFGR_SWS_MASK, RCC_CFGR_SWS_PLL);

    pins_and_usart_clock();
#if !defined(LOADER_F1)
    REG32(0x40023010u) = 0xFFFFFFFFu; /* CRC INIT */
#endif
    USART_CR1 = 0;
    USART_CR2 = 0;
    USART_CR3 = 0;
    USART_BRR = divisor;
#if !defined(LOADER_F1)
    USART_ICR = USART_SR_ERRORS;
#endif
    USART_CR1 = USART_CR1_LINE;
    (void)USART_SR; /* F1: reading SR, then DR, clears what the ROM's last bytes left flagged */
    (void)USART_RDR;
    SYST_RVR = clock_hz / 8000u - 1u;
    SYST_CVR = 0;
    SYST_CSR = 1u;

    /* The image, with the host's line escapes undone. Until its first byte the stage announces
     * itself, one byte at a time, so that it never stops reading for longer than a byte time; the
     * host may switch its port later than the stage. A line error or silence ends the stage. */
    uint8_t* out = (uint8_t*)params->loader_address;
    uint8_t* const end = out + params->loader_length;
    uint32_t now_ms = 0, last_byte_ms = 0, next_announce_ms = 0, flip = 0;
    uint32_t limit_ms = STAGE_FIRST_BYTE_MS;
    while (out != end) {
        if (millisecond() && ++now_ms - last_byte_ms > limit_ms) reset_chip();
        if (limit_ms == STAGE_FIRST_BYTE_MS && now_ms >= next_announce_ms &&
            (USART_SR & USART_SR_TXE)) {
            USART_TDR = STAGE_ANNOUNCE;
            next_announce_ms = now_ms + STAGE_ANNOUNCE_MS;
        }
        const uint32_t status = USART_SR;
        if (status & USART_SR_ERRORS) reset_chip();
        if (!(status & USART_SR_RXNE)) continue;
        uint32_t byte = USART_RDR & 0xFFu;
        last_byte_ms = now_ms;
        limit_ms = STAGE_GAP_MS;
        if (byte == LINE_ESCAPE && !flip) {
            flip = LINE_ESCAPE_FLIP;
            continue;
        }
        *out++ = (uint8_t)(byte ^ flip);
        flip = 0;
    }

    CRC_CR = 1u;
    for (const uint32_t* word = (const uint32_t*)params->loader_address;
         word != (const uint32_t*)end; ++word)
        CRC_DR = *word;
    const int accepted = CRC_DR == params->loader_crc;
    send(accepted ? STAGE_ACCEPTED : STAGE_REJECTED);
    drain();
    if (!accepted) reset_chip();

    /* The loader starts from the clock the ROM leaves (HSI, PLL off, no wait states) and keeps
     * the USART's speed from its own parameter block, which the host set to the fast one. */
    SYST_CSR = 0;
    clock_to_hsi();
    FLASH_ACR &= ~7u;
    const uint32_t stack = REG32(params->loader_address);
    const uint32_t entry = REG32(params->loader_address + 4u);
    __asm volatile("msr msp, %0\n\tbx %1" : : "r"(stack), "r"(entry));
    for (;;) {
    }
}
