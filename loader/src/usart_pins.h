/* USART1's pins (PA9 TX, PA10 RX), its clock and the CRC unit's clock: the same setup for the
 * loader and its first stage, so both drive the line alike. */
#ifndef PRAXON_LOADER_USART_PINS_H
#define PRAXON_LOADER_USART_PINS_H

#include "regs.h"

/* The loader's line: 8 data bits, no parity, 1 stop bit. Its frames carry a CRC-32, so a parity
 * bit would find nothing the CRC misses and cost a tenth of the line (the ROM bootloader's 8E1
 * takes 11 bits a byte, this 10). */
#define USART_CR1_LINE (USART_CR1_UE | USART_CR1_TE | USART_CR1_RE)

static inline void pins_and_usart_clock(void) {
#if defined(LOADER_F1)
    RCC_APB2ENR |= RCC_APB2ENR_IOPAEN | RCC_APB2ENR_USART1EN;
    GPIOA_CRH = (GPIOA_CRH & ~0xFF0u) | 0x4B0u; /* PA9 AF push-pull 50 MHz, PA10 floating in */
#else
#if defined(LOADER_F0)
    const uint32_t af = 1u;
#else
    const uint32_t af = 7u;
#endif
    RCC_AHBENR |= RCC_AHBENR_GPIOAEN;
    RCC_APB2ENR |= RCC_APB2ENR_USART1EN;
    RCC_CFGR3 = (RCC_CFGR3 & ~3u) | 1u; /* USART1 clocked from SYSCLK */
    GPIOA_AFRH = (GPIOA_AFRH & ~0xFF0u) | af << 4 | af << 8;
    GPIOA_MODER = (GPIOA_MODER & ~(0xFu << 18)) | 0xAu << 18;
#endif
    RCC_AHBENR |= RCC_AHBENR_CRCEN;
}

#endif
