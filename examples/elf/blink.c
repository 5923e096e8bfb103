// A small Cortex-M3 program for the STM32F103 whose ELF file has the usual loadable segments:
// the vector table and code in flash, initialised data stored in flash and copied to RAM, and
// zeroed data with no bytes in the file. Built by build.sh into blink.elf, blink.hex and
// blink.s19, which the readers' tests compare.
#include <stdint.h>

#define RCC_APB2ENR (*(volatile uint32_t*)0x40021018)
#define GPIOC_CRH (*(volatile uint32_t*)0x40011004)
#define GPIOC_ODR (*(volatile uint32_t*)0x4001100C)

extern uint32_t _sidata, _sdata, _edata, _sbss, _ebss, _estack;

static volatile uint32_t delay = 200000;  // initialised data: stored in flash, run from RAM
static uint32_t toggles;                  // zeroed data

int main(void) {
    RCC_APB2ENR |= 1u << 4;                             // GPIOC clock
    GPIOC_CRH = (GPIOC_CRH & ~(0xFu << 20)) | (0x2u << 20);  // PC13 output
    for (;;) {
        GPIOC_ODR ^= 1u << 13;
        ++toggles;
        for (uint32_t i = 0; i < delay; ++i) __asm__ volatile("nop");
    }
}

void Reset_Handler(void) {
    const uint32_t* from = &_sidata;
    for (uint32_t* to = &_sdata; to < &_edata;) *to++ = *from++;
    for (uint32_t* to = &_sbss; to < &_ebss;) *to++ = 0;
    main();
}

__attribute__((section(".vectors"), used)) static void (*const vectors[2])(void) = {
    (void (*)(void))&_estack, Reset_Handler};
