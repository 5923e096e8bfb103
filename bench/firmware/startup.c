/* Start-up and newlib system calls for the benchmark firmware on an STM32F103 (Cortex-M3). */
#include <errno.h>
#include <stdint.h>
#include <sys/stat.h>
#include <sys/time.h>

#include "board.h"

extern uint32_t _sidata, _sdata, _edata, _sbss, _ebss, _estack, end;
extern void __libc_init_array(void);
extern int main(void);

void Reset_Handler(void);
void Default_Handler(void);
void SysTick_Handler(void);
void USART1_IRQHandler(void);

void Reset_Handler(void) {
    uint32_t *from = &_sidata, *to = &_sdata;
    while (to < &_edata) *to++ = *from++;
    for (to = &_sbss; to < &_ebss; ++to) *to = 0;
    __libc_init_array();
    main();
    for (;;) {
    }
}

void Default_Handler(void) {
    for (;;) {
    }
}

#define WEAK_DEFAULT __attribute__((weak, alias("Default_Handler")))
void NMI_Handler(void) WEAK_DEFAULT;
void HardFault_Handler(void) WEAK_DEFAULT;
void MemManage_Handler(void) WEAK_DEFAULT;
void BusFault_Handler(void) WEAK_DEFAULT;
void UsageFault_Handler(void) WEAK_DEFAULT;
void SVC_Handler(void) WEAK_DEFAULT;
void PendSV_Handler(void) WEAK_DEFAULT;

/* 16 core exceptions and the 43 interrupts of the medium-density line; only USART1 (37) and
   SysTick are used. */
__attribute__((section(".isr_vector"), used)) void (*const vector_table[16 + 43])(void) = {
    (void (*)(void))(&_estack),
    Reset_Handler,
    NMI_Handler,
    HardFault_Handler,
    MemManage_Handler,
    BusFault_Handler,
    UsageFault_Handler,
    0,
    0,
    0,
    0,
    SVC_Handler,
    0,
    0,
    PendSV_Handler,
    SysTick_Handler,
    [16 ... 16 + 36] = Default_Handler,
    [16 + 37] = USART1_IRQHandler,
    [16 + 38 ... 16 + 42] = Default_Handler,
};

/* newlib's system calls: standard output and error go to USART1, standard input comes from its
   receive ring. */
int _write(int fd, const char *data, int length) {
    if (fd != 1 && fd != 2) {
        errno = EBADF;
        return -1;
    }
    for (int i = 0; i < length; ++i) {
        if (data[i] == '\n') uart_put('\r');
        uart_put(data[i]);
    }
    return length;
}

int _read(int fd, char *data, int length) {
    if (fd != 0) {
        errno = EBADF;
        return -1;
    }
    int n = 0;
    while (n < length) {
        int c = uart_get();
        if (c < 0) break;
        data[n++] = (char)c;
        if (c == '\n') break;
    }
    return n;
}

void *_sbrk(ptrdiff_t increment) {
    static char *heap_end;
    char *stack_now;
    __asm__ volatile("mov %0, sp" : "=r"(stack_now));
    if (!heap_end) heap_end = (char *)&end;
    if (heap_end + increment > stack_now - 512) {
        errno = ENOMEM;
        return (void *)-1;
    }
    char *previous = heap_end;
    heap_end += increment;
    return previous;
}

int _close(int fd) {
    (void)fd;
    return -1;
}

int _fstat(int fd, struct stat *st) {
    (void)fd;
    st->st_mode = S_IFCHR;
    return 0;
}

int _isatty(int fd) {
    return fd <= 2;
}

int _lseek(int fd, int offset, int whence) {
    (void)fd;
    (void)offset;
    (void)whence;
    return 0;
}

void _exit(int status) {
    (void)status;
    /* SCB AIRCR: system reset. */
    *(volatile uint32_t *)0xE000ED0C = 0x05FA0004;
    for (;;) {
    }
}

int _kill(int pid, int sig) {
    (void)pid;
    (void)sig;
    errno = EINVAL;
    return -1;
}

int _getpid(void) {
    return 1;
}

int _gettimeofday(struct timeval *tv, void *tz) {
    (void)tz;
    if (tv) {
        uint32_t ms = millis();
        tv->tv_sec = 1767225600 + ms / 1000; /* 2026-01-01 plus the time since reset */
        tv->tv_usec = (suseconds_t)(ms % 1000) * 1000;
    }
    return 0;
}

/* __libc_init_array calls these around the constructors; nothing to do here. */
void _init(void) {
}

void _fini(void) {
}
