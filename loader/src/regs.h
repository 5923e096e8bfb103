/* Peripheral registers the loader touches, by family (LOADER_F0, LOADER_F1 or LOADER_F3).
 * Addresses and bit positions come from the reference manuals; each line says what it is for. */
#ifndef LOADER_REGS_H
#define LOADER_REGS_H

#include <stdint.h>

#define REG32(addr) (*(volatile uint32_t*)(addr))

#if !defined(LOADER_F0) && !defined(LOADER_F1) && !defined(LOADER_F3)
#error "build with -DLOADER_F0, -DLOADER_F1 or -DLOADER_F3"
#endif

/* RCC: reset and clock control (same block on F0/F1/F3). */
#define RCC_CR REG32(0x40021000u)      /* HSION b0, HSIRDY b1, PLLON b24, PLLRDY b25 */
#define RCC_CFGR REG32(0x40021004u)    /* SW 1:0, SWS 3:2, PPRE(1) 10:8, PLLSRC b16, PLLMUL 21:18 */
#define RCC_AHBENR REG32(0x40021014u)  /* CRCEN b6, GPIOAEN b17 (F0/F3) */
#define RCC_APB2ENR REG32(0x40021018u) /* IOPAEN b2 (F1), USART1EN b14 */
#define RCC_CFGR3 REG32(0x40021030u)   /* F0/F3: USART1SW 1:0 (01 = SYSCLK) */
#define RCC_CR_HSION (1u << 0)
#define RCC_CR_HSIRDY (1u << 1)
#define RCC_CR_PLLON (1u << 24)
#define RCC_CR_PLLRDY (1u << 25)
#define RCC_CFGR_SW_MASK 3u
#define RCC_CFGR_SW_PLL 2u
#define RCC_CFGR_SWS_MASK (3u << 2)
#define RCC_CFGR_SWS_PLL (2u << 2)
#define RCC_CFGR_PPRE1_DIV2 (4u << 8) /* APB1 = HCLK / 2 (F1/F3: APB1 at most 36 MHz) */
#define RCC_CFGR_PLLMUL(n) ((uint32_t)((n)-2) << 18) /* PLL input x n, n = 2..16 */
#define RCC_AHBENR_CRCEN (1u << 6)
#define RCC_AHBENR_GPIOAEN (1u << 17)
#define RCC_APB2ENR_IOPAEN (1u << 2)
#define RCC_APB2ENR_USART1EN (1u << 14)

/* Flash interface: one register set per bank; bank 2 of F1 XL parts sits 0x40 higher. */
#define FLASH_R_BASE 0x40022000u
#define FLASH_BANK2_OFFSET 0x40u
#define FLASH_ACR REG32(FLASH_R_BASE + 0x00u) /* LATENCY 2:0, PRFTBE b4 */
#define FLASH_KEYR_OFF 0x04u                  /* unlock keys */
#define FLASH_SR_OFF 0x0Cu                    /* BSY b0, PGERR b2, WRPRTERR b4, EOP b5 */
#define FLASH_CR_OFF 0x10u                    /* PG b0, PER b1, MER b2, STRT b6, LOCK b7 */
#define FLASH_AR_OFF 0x14u                    /* page address for PER */
#define FLASH_KEY1 0x45670123u
#define FLASH_KEY2 0xCDEF89ABu
#define FLASH_SR_BSY (1u << 0)
#define FLASH_SR_PGERR (1u << 2)
#define FLASH_SR_WRPRTERR (1u << 4)
#define FLASH_SR_EOP (1u << 5)
#define FLASH_CR_PG (1u << 0)
#define FLASH_CR_PER (1u << 1)
#define FLASH_CR_MER (1u << 2)
#define FLASH_CR_STRT (1u << 6)
#define FLASH_CR_LOCK (1u << 7)
#define FLASH_ACR_PRFTBE (1u << 4)

/* USART1 */
#define USART1_BASE 0x40013800u
#if defined(LOADER_F1)
#define USART_SR \
    REG32(USART1_BASE + 0x00u) /* status: PE b0 FE b1 NE b2 ORE b3 RXNE b5 TC b6 TXE b7 */
#define USART_RDR REG32(USART1_BASE + 0x04u) /* data register (read) */
#define USART_TDR REG32(USART1_BASE + 0x04u) /* data register (write) */
#define USART_BRR REG32(USART1_BASE + 0x08u) /* fck / baud, x16 oversampling */
#define USART_CR1 REG32(USART1_BASE + 0x0Cu) /* RE b2 TE b3 PS b9 PCE b10 M b12 UE b13 */
#define USART_CR2 REG32(USART1_BASE + 0x10u) /* stop bits, LIN, clock pin: all 0 for 1 stop bit */
#define USART_CR3 REG32(USART1_BASE + 0x14u) /* DMA, flow control, half duplex: all 0 */
#define USART_CR1_UE (1u << 13)
#else
#define USART_CR1 REG32(USART1_BASE + 0x00u) /* UE b0 RE b2 TE b3 PS b9 PCE b10 M0 b12 */
#define USART_CR2 REG32(USART1_BASE + 0x04u) /* ABREN b20 (automatic baud rate): must be 0 */
#define USART_CR3 REG32(USART1_BASE + 0x08u) /* DMA, flow control, OVRDIS b12: all 0 */
#define USART_BRR REG32(USART1_BASE + 0x0Cu) /* fck / baud, x16 oversampling */
#define USART_SR                                                                                   \
    REG32(USART1_BASE + 0x1Cu)               /* ISR: PE b0 FE b1 NE b2 ORE b3 RXNE b5 TC b6 TXE b7 \
                                              */
#define USART_ICR REG32(USART1_BASE + 0x20u) /* write 1 to clear PE b0 FE b1 NE b2 ORE b3 */
#define USART_RDR REG32(USART1_BASE + 0x24u) /* received byte */
#define USART_TDR REG32(USART1_BASE + 0x28u) /* byte to send */
#define USART_CR1_UE (1u << 0)
#endif
#define USART_CR1_RE (1u << 2)
#define USART_CR1_TE (1u << 3)
#define USART_SR_ERRORS 0x0Fu /* PE, FE, NE, ORE */
#define USART_SR_RXNE (1u << 5)
#define USART_SR_TC (1u << 6)
#define USART_SR_TXE (1u << 7)

/* GPIOA: PA9 = USART1 TX, PA10 = USART1 RX. */
#if defined(LOADER_F1)
#define GPIOA_CRH                                                                   \
    REG32(0x40010804u) /* PA9 bits 7:4 = 0xB (AF push-pull 50 MHz), PA10 11:8 = 0x4 \
                        */
#else
#define GPIOA_MODER REG32(0x48000000u) /* 2 bits per pin, 10 = alternate function */
#define GPIOA_AFRH REG32(0x48000024u)  /* 4 bits per pin from PA8: AF1 (F0) / AF7 (F3) is USART1 */
#endif

/* CRC unit: polynomial 0x04C11DB7, words fed MSB first, reset value 0xFFFFFFFF. */
#define CRC_DR REG32(0x40023000u)
#define CRC_CR REG32(0x40023008u) /* RESET b0 */

/* Independent watchdog: writing 0xAAAA to KR reloads it. */
#define IWDG_KR REG32(0x40003000u)
#define IWDG_RELOAD 0xAAAAu

/* Cortex-M core. */
#define SYST_CSR REG32(0xE000E010u) /* ENABLE b0, CLKSOURCE b2 (0 = HCLK/8), COUNTFLAG b16 */
#define SYST_RVR REG32(0xE000E014u) /* reload value, 24 bits */
#define SYST_CVR REG32(0xE000E018u) /* current value; any write clears it */
#define SCB_VTOR REG32(0xE000ED08u) /* vector table offset (not on Cortex-M0) */
#define SCB_AIRCR REG32(0xE000ED0Cu)
#define SCB_AIRCR_SYSRESET 0x05FA0004u /* VECTKEY + SYSRESETREQ */

/* Flash size in KiB (16 bits), written at the factory. */
#if defined(LOADER_F1)
#define FLASH_SIZE_KIB_ADDR 0x1FFFF7E0u
#else
#define FLASH_SIZE_KIB_ADDR 0x1FFFF7CCu
#endif

/* The clock the loader runs at: PLL from HSI/2 (4 MHz). */
#if defined(LOADER_F0)
#define LOADER_PLL_MUL 12u /* 48 MHz, the F0's maximum */
#define LOADER_FLASH_LATENCY 1u
#else
#define LOADER_PLL_MUL 16u /* 64 MHz, the most HSI/2 gives */
#define LOADER_FLASH_LATENCY 2u
#endif
#define LOADER_HSI_HZ 8000000u

#endif
