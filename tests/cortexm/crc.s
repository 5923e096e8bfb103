    .syntax unified
    .thumb
@ params: [0] 1: clock the CRC unit, [1] word count, [2]... words. Sends DR, low byte first.
    ldr r7, =0x20001000
    ldr r0, =0x40013800
    movs r1, #0x45
    str r1, [r0, #8]
    ldr r6, =0x40021000     @ RCC
    ldr r1, [r7]
    lsls r1, r1, #6         @ AHBENR CRCEN
    ldr r2, [r6, #0x14]
    orrs r2, r2, r1
    str r2, [r6, #0x14]
    ldr r6, =0x40023000     @ CRC
    movs r1, #1
    str r1, [r6, #8]        @ CR.RESET
    ldr r1, [r7, #4]
    adds r3, r7, #8
feed:
    cbz r1, done
    ldr r2, [r3], #4
    str r2, [r6]
    subs r1, r1, #1
    b feed
done:
    ldr r4, [r6]
    movs r1, #4
out:
    mov r2, r4
    bl send
    lsrs r4, r4, #8
    subs r1, r1, #1
    bne out
idle:
    ldr r1, [r0]
    b idle
send:
    ldr r5, [r0]
    tst r5, #0x80
    beq send
    str r2, [r0, #4]
    bx lr
