    .syntax unified
    .thumb
@ Echoes every byte USART1 receives, with BRR from the first parameter word.
    ldr r7, =0x20001000     @ parameters
    ldr r6, =0x40021000     @ RCC
    ldr r1, [r6, #0x18]
    ldr r2, [r7, #4]        @ APB2ENR bits to clear, then to set again
    bic r1, r1, r2
    str r1, [r6, #0x18]
    orr r1, r1, r2
    str r1, [r6, #0x18]
    ldr r0, =0x40013800     @ USART1
    movs r3, #0
    str r3, [r0, #0x0C]     @ CR1 = 0: UE off while BRR changes
    ldr r2, [r7]
    str r2, [r0, #0x08]     @ BRR
    ldr r3, =0x340C
    str r3, [r0, #0x0C]     @ 8E1, TE, RE, UE
wait:
    ldr r3, [r0]            @ SR
    tst r3, #0x20           @ RXNE
    beq wait
    ldr r4, [r0, #4]        @ DR
empty:
    ldr r3, [r0]
    tst r3, #0x80           @ TXE
    beq empty
    str r4, [r0, #4]
    b wait
