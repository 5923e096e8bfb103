/* STM32F103 peripherals the benchmark firmware uses: clocks, USART1 (PA9/PA10), ADC1, SysTick. */
#ifndef BOARD_H
#define BOARD_H

#include <stdint.h>

#define REG(address) (*(volatile uint32_t *)(address))

#define RCC_CR REG(0x40021000)
#define RCC_CFGR REG(0x40021004)
#define RCC_APB2ENR REG(0x40021018)
#define FLASH_ACR REG(0x40022000)
#define GPIOA_CRH REG(0x40010804)
#define GPIOC_CRH REG(0x40011004)
#define GPIOC_ODR REG(0x4001100C)
#define USART1_SR REG(0x40013800)
#define USART1_DR REG(0x40013804)
#define USART1_BRR REG(0x40013808)
#define USART1_CR1 REG(0x4001380C)
#define ADC1_SR REG(0x40012400)
#define ADC1_CR2 REG(0x40012408)
#define ADC1_SMPR2 REG(0x40012410)
#define ADC1_SQR3 REG(0x40012434)
#define ADC1_DR REG(0x4001244C)
#define SYST_CSR REG(0xE000E010)
#define SYST_RVR REG(0xE000E014)
#define NVIC_ISER1 REG(0xE000E104)

#define SYSTEM_CLOCK_HZ 72000000u

void board_init(void);
void uart_put(char c);
int uart_get(void); /* -1 when nothing arrived */
uint32_t millis(void);
uint16_t adc_read(unsigned channel);
void led_set(int on);

#endif
