/* The ZV-8810's memory map as the resident sees it (device/README.md is the manual). */
#ifndef ZV8810_HW_H
#define ZV8810_HW_H

#include <stdint.h>

#define FLASH_BASE 0x01000000u
#define FLASH_SIZE 0x00100000u
#define FIRMWARE_BASE 0x01010000u
#define FIRMWARE_SIZE 0x000F0000u
#define SECTOR_SIZE 0x00010000u
#define RAM_BASE 0x40000000u
#define RAM_SIZE 0x00010000u

#define REG(addr) (*(volatile uint32_t*)(addr))

/* UART: DATA reads the next received byte or sends one; STATUS bit 0 a byte is waiting. */
#define UART_DATA REG(0xE0000000u)
#define UART_STATUS REG(0xE0000004u)
#define UART_RX_READY 0x1u

/* Flash controller: ADDR, DATA, CMD (1 erase the sector holding ADDR, 2 program the word DATA
 * at ADDR), STATUS (bit 0 busy, bit 1 the last command failed). */
#define FLASH_ADDR REG(0xE0001000u)
#define FLASH_DATA REG(0xE0001004u)
#define FLASH_CMD REG(0xE0001008u)
#define FLASH_STATUS REG(0xE000100Cu)
#define FLASH_CMD_ERASE 1u
#define FLASH_CMD_PROGRAM 2u
#define FLASH_BUSY 0x1u
#define FLASH_ERROR 0x2u

/* Free-running millisecond counter since power-up. */
#define TIMER_MS REG(0xE0002000u)

/* Reset control: writing the key restarts the receiver into its firmware. */
#define RESET_CTRL REG(0xE0003000u)
#define RESET_KEY 0x5AFE0001u

#endif
