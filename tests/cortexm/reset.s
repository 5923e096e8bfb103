    .syntax unified
    .thumb
@ Writes params[0] to AIRCR, then keeps listening.
    ldr r7, =0x20001000
    ldr r0, =0x40013800
    ldr r6, =0xE000ED0C
    ldr r1, [r7]
    str r1, [r6]
idle:
    ldr r1, [r0]
    b idle
