#!/usr/bin/env bash
# Builds blink.elf (symbols stripped, to stay small) and, by objcopy, the same image as Intel HEX
# and as S-records: the tests read all three and expect the same bytes.
set -euo pipefail
cd "$(dirname "$0")"
arm-none-eabi-gcc -mcpu=cortex-m3 -mthumb -Os -ffreestanding -nostdlib -Wl,--build-id=none -Wl,-n \
    -T blink.ld blink.c -o blink.elf
arm-none-eabi-strip blink.elf
arm-none-eabi-objcopy -O ihex blink.elf blink.hex
arm-none-eabi-objcopy -O srec --srec-forceS3 blink.elf blink.s37
