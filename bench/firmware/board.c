/* Clock, USART1, ADC1 and SysTick set-up of an STM32F103 with an 8 MHz crystal. */
#include "board.h"

static volatile uint32_t ticks;
static volatile char rx_ring[128];
static volatile unsigned rx_head, rx_tail;

void SysTick_Handler(void) {
    ++ticks;
}

void USART1_IRQHandler(void) {
    if (USART1_SR & (1u << 5)) {
        char c = (char)USART1_DR;
        unsigned next = (rx_head + 1) % sizeof rx_ring;
        if (next != rx_tail) {
            rx_ring[rx_head] = c;
            rx_head = next;
        }
    }
}

void board_init(void) {
    /* HSE on, PLL x9 = 72 MHz, two flash wait states, APB1 at 36 MHz. */
    RCC_CR |= 1u << 16;
    while (!(RCC_CR & (1u << 17))) {
    }
    FLASH_ACR = 0x12;
    RCC_CFGR = (7u << 18) | (1u << 16) | (4u << 8) | (2u << 14);
    RCC_CR |= 1u << 24;
    while (!(RCC_CR & (1u << 25))) {
    }
    RCC_CFGR |= 2u;
    while ((RCC_CFGR & 0xC) != 0x8) {
    }
    /* GPIOA, GPIOC, ADC1, USART1. */
    RCC_APB2ENR |= (1u << 2) | (1u << 4) | (1u << 9) | (1u << 14);
    GPIOA_CRH = (GPIOA_CRH & ~0xFF0u) | 0x4B0u; /* PA9 AF push-pull, PA10 floating input */
    GPIOC_CRH = (GPIOC_CRH & ~0xF00000u) | 0x200000u; /* PC13 LED */
    USART1_BRR = SYSTEM_CLOCK_HZ / 115200;
    USART1_CR1 = (1u << 13) | (1u << 5) | (1u << 3) | (1u << 2);
    NVIC_ISER1 = 1u << (37 - 32);
    ADC1_SMPR2 = 0x3FFFFFFF; /* longest sampling time on channels 0-9 */
    ADC1_CR2 = 1u;
    SYST_RVR = SYSTEM_CLOCK_HZ / 1000 - 1;
    SYST_CSR = 7u;
}

void uart_put(char c) {
    while (!(USART1_SR & (1u << 7))) {
    }
    USART1_DR = (uint8_t)c;
}

int uart_get(void) {
    if (rx_head == rx_tail) return -1;
    char c = rx_ring[rx_tail];
    rx_tail = (rx_tail + 1) % sizeof rx_ring;
    return (uint8_t)c;
}

uint32_t millis(void) {
    return ticks;
}

uint16_t adc_read(unsigned channel) {
    ADC1_SQR3 = channel;
    ADC1_CR2 |= 1u;
    while (!(ADC1_SR & 2u)) {
    }
    return (uint16_t)ADC1_DR;
}

void led_set(int on) {
    if (on)
        GPIOC_ODR &= ~(1u << 13);
    else
        GPIOC_ODR |= 1u << 13;
}
