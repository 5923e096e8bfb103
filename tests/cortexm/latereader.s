    .syntax unified
    .thumb
@ For every byte: waits params[1] loops after RXNE, then sends SR's ORE bit and DR.
    ldr r7, =0x20001000
    ldr r0, =0x40013800
    movs r1, #0x45          @ BRR 69: 115200 at 8 MHz
    str r1, [r0, #8]
wait:
    ldr r3, [r0]
    tst r3, #0x20
    beq wait
    ldr r1, [r7, #4]
delay:
    subs r1, r1, #1
    bpl delay
    ldr r2, [r0]            @ SR, then DR: clears ORE
    ldr r4, [r0, #4]
    and r2, r2, #0x08       @ ORE
    bl send
    mov r2, r4
    bl send
    b wait
send:
    ldr r3, [r0]
    tst r3, #0x80
    beq send
    str r2, [r0, #4]
    bx lr
