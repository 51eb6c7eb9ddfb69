#!/usr/bin/env bash
# Builds the resident image: build.sh OUTPUT.bin (needs Debian's gcc-arm-none-eabi).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
flags=(-mcpu=arm7tdmi -marm -Os -ffreestanding -fno-builtin -nostdlib -fno-pic
       -fno-asynchronous-unwind-tables -fno-unwind-tables -Wall -Wextra -Werror)
arm-none-eabi-gcc "${flags[@]}" -c "$here/start.S" -o "$work/start.o"
arm-none-eabi-gcc "${flags[@]}" -c "$here/resident.c" -o "$work/resident.o"
arm-none-eabi-gcc "${flags[@]}" -T "$here/resident.ld" -Wl,--build-id=none \
  "$work/start.o" "$work/resident.o" -lgcc -o "$work/resident.elf"
arm-none-eabi-objcopy -O binary -j .image "$work/resident.elf" "$out"
