/* The loader's start and its hardware side: clock, USART1, SysTick, watchdog, CRC unit and flash
 * controller, all polled. Runs from RAM; the vector table stays the ROM bootloader's. */
#include "loader.h"
#include "regs.h"
#include "usart_pins.h"

extern uint32_t __image_start[], __bss_start[], __bss_end[], __rx_start[];
void loader_entry(void) __attribute__((noreturn));

/* Go loads the stack pointer from word 0 and jumps to word 1. The stack grows down into the RAM
 * the ROM bootloader kept for itself, which nothing uses any more. */
__attribute__((section(".head"), used))
const uint32_t loader_head[2] = {(uint32_t)__image_start, (uint32_t)loader_entry};

/* Image offset 8: the host writes its values here before Go (loader/PROTOCOL.md 1.1). */
__attribute__((section(".params"), used)) struct loader_params loader_params = {
    LOADER_MAGIC, 115200u, LOADER_DEFAULT_RAM_END, 1024u, 0u, 0u, (uint32_t)__rx_start, 0u};

static uint32_t clock_hz, ms_count, flash_last_sr, usart_speed;

/* Polls until (reg & mask) == value or the tries run out; returns nonzero on success. */
static int wait_for(volatile uint32_t* reg, uint32_t mask, uint32_t value) {
    for (uint32_t tries = 0; tries < 200000u; ++tries)
        if ((*reg & mask) == value) return 1;
    return 0;
}

static void clock_setup(void) {
    clock_hz = LOADER_HSI_HZ;
    RCC_CR |= RCC_CR_HSION;
    if (!wait_for(&RCC_CR, RCC_CR_HSIRDY, RCC_CR_HSIRDY)) return;
    /* Run from HSI while the PLL is set up. */
    RCC_CFGR &= ~RCC_CFGR_SW_MASK;
    if (!wait_for(&RCC_CFGR, RCC_CFGR_SWS_MASK, 0)) return;
    RCC_CR &= ~RCC_CR_PLLON;
    if (!wait_for(&RCC_CR, RCC_CR_PLLRDY, 0)) return;
    /* Wait states first: the flash must keep up before the clock goes up. */
    FLASH_ACR = (FLASH_ACR & ~7u) | LOADER_FLASH_LATENCY | FLASH_ACR_PRFTBE;
#if defined(LOADER_F0)
    RCC_CFGR = RCC_CFGR_PLLMUL(LOADER_PLL_MUL); /* PLL source HSI/2, APB /1 */
#else
    RCC_CFGR = RCC_CFGR_PLLMUL(LOADER_PLL_MUL) | RCC_CFGR_PPRE1_DIV2; /* HSI/2; APB1 <= 36 MHz */
#endif
    RCC_CR |= RCC_CR_PLLON;
    if (!wait_for(&RCC_CR, RCC_CR_PLLRDY, RCC_CR_PLLRDY)) return;
    RCC_CFGR |= RCC_CFGR_SW_PLL;
    if (wait_for(&RCC_CFGR, RCC_CFGR_SWS_MASK, RCC_CFGR_SWS_PLL))
        clock_hz = LOADER_HSI_HZ / 2u * LOADER_PLL_MUL;
}

static void clock_restore(void) {
    RCC_CFGR &= ~RCC_CFGR_SW_MASK;
    wait_for(&RCC_CFGR, RCC_CFGR_SWS_MASK, 0);
    RCC_CR &= ~RCC_CR_PLLON;
    RCC_CFGR = 0;
    FLASH_ACR &= ~7u; /* zero wait states once the clock is down again */
}


static uint32_t divisor_for(uint32_t baud) {
    return (clock_hz + baud / 2u) / baud;
}

uint32_t hal_baud_possible(uint32_t baud) {
    if (baud < 1200u) return 0;
    uint32_t divisor = divisor_for(baud);
    if (divisor < 16u || divisor > 0xFFFFu) return 0;
    uint32_t actual = clock_hz / divisor;
    uint32_t off = actual > baud ? actual - baud : baud - actual;
    return off * 100u > baud * 3u ? 0 : actual;
}

void hal_set_baud(uint32_t baud) {
    usart_speed = baud;
    USART_CR1 = 0; /* word length, parity and BRR change only while the USART is off */
    /* The ROM may have left automatic baud rate detection or other modes on: 1 stop bit, no
     * automatic speed, no DMA, overrun detection on. */
    USART_CR2 = 0;
    USART_CR3 = 0;
    USART_BRR = divisor_for(baud);
#if !defined(LOADER_F1)
    USART_ICR = USART_SR_ERRORS;
#endif
    USART_CR1 = USART_CR1_LINE;
}

int hal_rx(void) {
    uint32_t status = USART_SR;
    if (status & USART_SR_ERRORS) {
        (void)USART_RDR; /* F1: reading SR then DR clears the error flags */
#if !defined(LOADER_F1)
        USART_ICR = USART_SR_ERRORS;
#endif
        return -2;
    }
    if (!(status & USART_SR_RXNE)) return -1;
    return (int)(USART_RDR & 0xFFu);
}

void hal_tx(uint8_t byte) {
    while (!(USART_SR & USART_SR_TXE)) loader_service();
    USART_TDR = byte;
}

void hal_tx_drain(void) {
    while (!(USART_SR & USART_SR_TC)) loader_service();
}

void hal_tick(void) {
    if (SYST_CSR & (1u << 16)) { /* COUNTFLAG: a millisecond has passed */
        ++ms_count;
        IWDG_KR = IWDG_RELOAD; /* once a millisecond is plenty for any watchdog period */
    }
}

uint32_t hal_ms(void) {
    return ms_count;
}
uint32_t hal_clock_hz(void) {
    return clock_hz;
}
uint32_t hal_flash_size_register(void) {
    return *(volatile uint16_t*)FLASH_SIZE_KIB_ADDR;
}

void hal_crc_reset(void) {
    CRC_CR = 1u;
}
void hal_crc_word(uint32_t word) {
    CRC_DR = word;
}
uint32_t hal_crc_value(void) {
    return CRC_DR;
}

uint8_t hal_read8(uint32_t address) {
    return *(volatile uint8_t*)address;
}
uint16_t hal_read16(uint32_t address) {
    return *(volatile uint16_t*)address;
}
uint32_t hal_read32(uint32_t address) {
    return *(volatile uint32_t*)address;
}

#define FLASH_REG(regs, offset) REG32(FLASH_R_BASE + (regs) + (offset))

int hal_flash_locked(uint32_t regs) {
    return (FLASH_REG(regs, FLASH_CR_OFF) & FLASH_CR_LOCK) != 0;
}

int hal_flash_unlock(uint32_t regs) {
    FLASH_REG(regs, FLASH_KEYR_OFF) = FLASH_KEY1;
    FLASH_REG(regs, FLASH_KEYR_OFF) = FLASH_KEY2;
    return hal_flash_locked(regs) ? ST_LOCKED : ST_OK;
}

/* Waits for the operation to end (taking in bytes meanwhile), then clears and reports. */
static int flash_finish(uint32_t regs, uint32_t limit_ms) {
    uint32_t start = ms_count;
    (void)FLASH_REG(regs, FLASH_SR_OFF); /* BSY is valid from the cycle after the start */
    while (FLASH_REG(regs, FLASH_SR_OFF) & FLASH_SR_BSY) {
        loader_service();
        if (ms_count - start > limit_ms) {
            flash_last_sr = FLASH_REG(regs, FLASH_SR_OFF);
            return ST_TIMEOUT;
        }
    }
    uint32_t status = FLASH_REG(regs, FLASH_SR_OFF);
    flash_last_sr = status;
    FLASH_REG(regs, FLASH_SR_OFF) = FLASH_SR_PGERR | FLASH_SR_WRPRTERR | FLASH_SR_EOP;
    FLASH_REG(regs, FLASH_CR_OFF) &= ~(FLASH_CR_PG | FLASH_CR_PER | FLASH_CR_MER | FLASH_CR_STRT);
    if (status & FLASH_SR_WRPRTERR) return ST_PROTECTED;
    if (status & FLASH_SR_PGERR) return ST_NOT_ERASED;
    return ST_OK;
}

static void flash_clear_flags(uint32_t regs) {
    FLASH_REG(regs, FLASH_SR_OFF) = FLASH_SR_PGERR | FLASH_SR_WRPRTERR | FLASH_SR_EOP;
}

void hal_flash_program_start(uint32_t regs, uint32_t address, uint16_t value) {
    flash_clear_flags(regs);
    FLASH_REG(regs, FLASH_CR_OFF) |= FLASH_CR_PG;
    *(volatile uint16_t*)address = value;
}

int hal_flash_program_end(uint32_t regs) {
    return flash_finish(regs, 10u);
}

int hal_flash_erase_page(uint32_t regs, uint32_t address) {
    flash_clear_flags(regs);
    FLASH_REG(regs, FLASH_CR_OFF) |= FLASH_CR_PER;
    FLASH_REG(regs, FLASH_AR_OFF) = address;
    FLASH_REG(regs, FLASH_CR_OFF) |= FLASH_CR_STRT;
    return flash_finish(regs, 100u);
}

int hal_flash_mass_erase(uint32_t regs) {
    flash_clear_flags(regs);
    FLASH_REG(regs, FLASH_CR_OFF) |= FLASH_CR_MER;
    FLASH_REG(regs, FLASH_CR_OFF) |= FLASH_CR_STRT;
    return flash_finish(regs, 5000u);
}

uint32_t hal_flash_last_sr(void) {
    return flash_last_sr;
}

void hal_leave(uint32_t address) {
    FLASH_REG(0, FLASH_CR_OFF) |= FLASH_CR_LOCK;
    if (loader_params.bank2_start) FLASH_REG(LOADER_BANK2_REGS, FLASH_CR_OFF) |= FLASH_CR_LOCK;
    SYST_CSR = 0;
    USART_CR1 = 0;
    clock_restore();
    if (address == 0xFFFFFFFFu) {
        __asm volatile("dsb");
        SCB_AIRCR = SCB_AIRCR_SYSRESET;
        for (;;) {
        }
    }
#if !defined(LOADER_F0)
    SCB_VTOR = address;
#endif
    uint32_t stack = REG32(address), entry = REG32(address + 4u);
    __asm volatile("msr msp, %0\n\tbx %1" : : "r"(stack), "r"(entry));
    for (;;) {
    }
}

static void reset_chip(void) {
    __asm volatile("dsb");
    SCB_AIRCR = SCB_AIRCR_SYSRESET;
    for (;;) {
    }
}

void loader_entry(void) {
    for (uint32_t* word = __bss_start; word < __bss_end; ++word) *word = 0;
    IWDG_KR = IWDG_RELOAD;
    /* Let the ROM's last byte (the ACK to Go) leave before the USART is reprogrammed. */
    wait_for(&USART_SR, USART_SR_TC, USART_SR_TC);
    clock_setup();
    pins_and_usart_clock();
#if !defined(LOADER_F1)
    REG32(0x40023010u) = 0xFFFFFFFFu; /* CRC INIT: the start value after each reset of the unit */
#endif
    struct loader_params* params = &loader_params; /* not const: the host changes it */
    if (!hal_baud_possible(params->baud)) params->baud = 115200u;
    hal_set_baud(params->baud);
    SYST_RVR = clock_hz / 8000u - 1u; /* HCLK/8 ticks: one wrap per millisecond */
    SYST_CVR = 0;
    SYST_CSR = 1u; /* enabled, no interrupt, HCLK/8 */
    uint32_t rx_start = (uint32_t)__rx_start;
    if (params->ram_end < rx_start + 64u || (params->page_size & (params->page_size - 1u)) ||
        params->page_size < 256u)
        reset_chip(); /* nothing sensible to run with: the host falls back to the ROM */
    loader_init(params, (uint8_t*)rx_start, params->ram_end - rx_start, (uint32_t)__image_start);
    for (;;) loader_step();
}
