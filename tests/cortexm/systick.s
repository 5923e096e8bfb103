    .syntax unified
    .thumb
@ Counts params[0] SysTick periods of 8000 HCLK cycles (1 ms at 8 MHz) by COUNTFLAG, then
@ sends 0x55.
    ldr r7, =0x20001000
    ldr r0, =0x40013800
    movs r1, #0x45
    str r1, [r0, #8]
    ldr r6, =0xE000E010
    ldr r1, =7999
    str r1, [r6, #4]        @ LOAD
    str r1, [r6, #8]        @ VAL: cleared
    movs r1, #5
    str r1, [r6]            @ CTRL: HCLK, enabled
    ldr r4, [r7]
tick:
    ldr r1, [r6]
    tst r1, #0x10000        @ COUNTFLAG
    beq tick
    subs r4, r4, #1
    bne tick
    movs r2, #0x55
send:
    ldr r5, [r0]
    tst r5, #0x80
    beq send
    str r2, [r0, #4]
idle:
    ldr r1, [r0]
    b idle
