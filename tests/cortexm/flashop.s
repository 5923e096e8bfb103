    .syntax unified
    .thumb
@ params: [0] CR bit (PG 1, PER 2, MER 4), [1] [2] the keys, [3] address, [4] value,
@ [5] 0: half-word write, else word; [6] 0x40: the second bank's registers; [7] 1: read the
@ page at once after STRT and send that byte too.
@ Sends CR after unlocking, then SR when BSY clears.
    ldr r7, =0x20001000
    ldr r6, =0x40022000     @ flash interface
    ldr r1, [r7, #24]
    add r6, r6, r1
    ldr r0, =0x40013800
    movs r1, #0x45
    str r1, [r0, #8]
    ldr r1, [r7, #4]
    str r1, [r6, #4]        @ KEYR
    ldr r1, [r7, #8]
    str r1, [r6, #4]
    ldr r1, [r7]
    str r1, [r6, #0x10]     @ CR
    ldr r2, [r6, #0x10]
    bl send
    tst r2, #0x80           @ still locked: stop here
    bne idle
    ldr r3, [r7, #12]
    ldr r4, [r7, #16]
    cmp r1, #1
    bne erase
    ldr r5, [r7, #20]
    cmp r5, #0
    beq half
    str r4, [r3]
    b busy
half:
    strh r4, [r3]
    b busy
erase:
    str r3, [r6, #0x14]     @ AR
    orr r1, r1, #0x40       @ STRT
    str r1, [r6, #0x10]
    ldr r5, [r7, #28]
    cbz r5, busy
    ldr r2, [r3]            @ a read of the page being erased
    bl send
busy:
    ldr r2, [r6, #0x0C]     @ SR
    tst r2, #1              @ BSY
    bne busy
    bl send
idle:
    ldr r1, [r0]            @ keeps listening
    b idle
send:
    ldr r5, [r0]
    tst r5, #0x80
    beq send
    str r2, [r0, #4]
    bx lr
