    .syntax unified
    .thumb
@ Echoes every byte USART1 receives through code it rewrites: the byte becomes the immediate of
@ a MOVS further on, which then runs and gives the byte to send. BRR from the first parameter.
    ldr r0, =0x40013800     @ USART1
    movs r3, #0
    str r3, [r0, #0x0C]     @ CR1 = 0: UE off while BRR changes
    ldr r2, =0x20001000     @ parameters
    ldr r2, [r2]
    str r2, [r0, #0x08]     @ BRR
    ldr r3, =0x340C
    str r3, [r0, #0x0C]     @ 8E1, TE, RE, UE
    adr r5, patched
wait:
    ldr r3, [r0]            @ SR
    tst r3, #0x20           @ RXNE
    beq wait
    ldr r4, [r0, #4]        @ DR
    strb r4, [r5]           @ the immediate of the MOVS below
    b patched
    .align 2
patched:
    movs r4, #0
empty:
    ldr r3, [r0]
    tst r3, #0x80           @ TXE
    beq empty
    str r4, [r0, #4]
    b wait
