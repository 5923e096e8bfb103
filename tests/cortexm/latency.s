    .syntax unified
    .thumb
@ params: [0] ACR.LATENCY; [1] 1: SYSCLK = HSI/2 x 16 = 64 MHz. Sends the word at 0x08000000.
    ldr r7, =0x20001000
    ldr r0, =0x40013800
    ldr r6, =0x40022000
    ldr r1, [r7]
    str r1, [r6]            @ ACR
    ldr r1, [r7, #4]
    movs r2, #0x45          @ BRR for 8 MHz
    cbz r1, read
    ldr r6, =0x40021000     @ RCC
    ldr r1, =0x00380000     @ PLLMUL x16, PLLSRC HSI/2
    str r1, [r6, #4]
    ldr r1, [r6]
    orr r1, r1, #0x01000000 @ PLLON
    str r1, [r6]
lock:
    ldr r1, [r6]
    tst r1, #0x02000000     @ PLLRDY
    beq lock
    ldr r1, =0x00380002     @ SW = PLL
    str r1, [r6, #4]
switch:
    ldr r1, [r6, #4]
    and r1, r1, #0x0C
    cmp r1, #0x08           @ SWS = PLL
    bne switch
    movw r2, #556           @ BRR for 64 MHz
read:
    str r2, [r0, #8]
    ldr r6, =0x08000000
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
