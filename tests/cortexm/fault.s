    .syntax unified
    .thumb
@ params: [0] VTOR; [1] what goes wrong: 0 undefined instruction, 1 a read of unmapped memory,
@ 2 a jump into flash, 3 a loop that touches nothing, 4 a write to system memory, 5 a jump to
@ address 0 (system memory aliased there).
    ldr r7, =0x20001000
    ldr r6, =0xE000ED08
    ldr r1, [r7]
    str r1, [r6]            @ VTOR
    ldr r1, [r7, #4]
    cmp r1, #1
    beq unmapped
    cmp r1, #2
    beq flash
    cmp r1, #3
    beq spin
    cmp r1, #4
    beq rom
    cmp r1, #5
    beq zero
    udf #0
unmapped:
    ldr r2, =0x60000000
    ldr r2, [r2]
flash:
    ldr r2, =0x08000101
    bx r2
spin:
    b spin
rom:
    ldr r2, =0x1FFFF000
    str r1, [r2]
    b spin
zero:
    movs r2, #1
    bx r2
