    .syntax unified
    .thumb
@ params: [0] 1: start the watchdog with PR [1] and RLR [2]; [3] 1: reload it while waiting.
    ldr r7, =0x20001000
    ldr r0, =0x40013800
    ldr r6, =0x40003000     @ IWDG
    ldr r1, [r7]
    cbz r1, loop
    ldr r1, =0x5555
    str r1, [r6]
    ldr r1, [r7, #4]
    str r1, [r6, #4]        @ PR
    ldr r1, [r7, #8]
    str r1, [r6, #8]        @ RLR
    ldr r1, =0xCCCC
    str r1, [r6]
loop:
    ldr r1, [r7, #12]
    cbz r1, poll
    ldr r1, =0xAAAA
    str r1, [r6]
poll:
    ldr r1, [r0]
    b loop
