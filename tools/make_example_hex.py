#!/usr/bin/env python3
"""Writes examples/blink.hex: a tiny STM32F103 program that blinks the LED on PC13.

Hand-assembled Thumb-2, so the example needs no cross compiler:
    ldr r0, =RCC_APB2ENR ; ldr r1,[r0] ; orr r1,#0x10 (IOPCEN) ; str r1,[r0]
    ldr r0, =GPIOC_CRH ; ldr r1, =0x44144444 (PC13 push-pull output) ; str r1,[r0]
    ldr r0, =GPIOC_ODR
loop: ldr r1,[r0] ; eor r1,#0x2000 ; str r1,[r0] ; ldr r2,=400000
delay: subs r2,#1 ; bne delay ; b loop
"""
import struct, sys, os

BASE = 0x08000000
halfwords = [0x4808, 0x6801, 0xF041, 0x0110, 0x6001, 0x4807, 0x4907, 0x6001, 0x4807,
             0x6801, 0xF481, 0x5100, 0x6001, 0x4A06, 0x3A01, 0xD1FD, 0xE7F7, 0xBF00]
image = struct.pack('<II', 0x20005000, BASE + 0x08 + 1)          # stack top, reset handler
image += b''.join(struct.pack('<H', h) for h in halfwords)
image += struct.pack('<5I', 0x40021018, 0x40011004, 0x44144444, 0x4001100C, 400000)
image += b'Praxon example: blinks PC13.\0\0\0\0'


def record(rtype, offset, data):
    body = bytes([len(data), offset >> 8, offset & 0xFF, rtype]) + data
    return ':' + body.hex().upper() + '%02X' % ((-sum(body)) & 0xFF)


lines = [record(4, 0, struct.pack('>H', BASE >> 16))]
for i in range(0, len(image), 16):
    lines.append(record(0, (BASE + i) & 0xFFFF, image[i:i + 16]))
lines.append(record(5, 0, struct.pack('>I', BASE + 0x09)))
lines.append(':00000001FF')
out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..', 'examples', 'blink.hex')
with open(out, 'w', newline='\r\n') as f:
    f.write('\n'.join(lines) + '\n')
