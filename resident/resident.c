/* The resident: runs in the receiver's RAM and answers the updater's flash-programming commands.
 *
 * Command frames are 9 bytes: the bit rate (115200, little-endian), a command character and a
 * 32-bit argument. The resident finds the frame by its bit-rate bytes, so stray bytes before a
 * command are skipped. Replies to the write phase are single bytes:
 *   0xAA accepted, 0xEF the last announced byte has arrived, 0xBA the check word matches,
 *   0xEC the announced length exceeds the firmware area, 0xEE erasing failed,
 *   0xED a frame's sum is wrong, 0xE1 programming a frame failed, 0xFE the check word is wrong.
 */
#include "hw.h"

#define CMD_READ '['
#define CMD_ERASE '3'
#define CMD_RESTART 'Z'
#define BLOCK_SIZE 128u
#define FRAME_DATA 1024u
#define FRAME_SIZE (FRAME_DATA + 4u)
/* In the write phase, this much silence abandons it and returns to the command frames. */
#define WRITE_SILENCE_MS 1000u

#define ACK 0xAAu
#define LAST 0xEFu
#define CHECK_OK 0xBAu
#define TOO_LONG 0xECu
#define ERASE_FAILED 0xEEu
#define BAD_SUM 0xEDu
#define PROGRAM_FAILED 0xE1u
#define CHECK_BAD 0xFEu

static const char banner[] = "\r\nZV-8810 FLASH PROG resident 1.0\r\n";
static uint8_t frame[FRAME_SIZE];

static void put_byte(uint32_t b) { UART_DATA = b & 0xFFu; }

static void put_text(const char* text) {
  while (*text) put_byte((uint8_t)*text++);
}

static uint32_t get_byte(void) {
  while (!(UART_STATUS & UART_RX_READY)) {
  }
  return UART_DATA & 0xFFu;
}

/* Fills buffer; 0 when the line stays silent for WRITE_SILENCE_MS between two bytes. */
static int get_bytes(uint8_t* buffer, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t start = TIMER_MS;
    while (!(UART_STATUS & UART_RX_READY)) {
      if (TIMER_MS - start >= WRITE_SILENCE_MS) return 0;
    }
    buffer[i] = (uint8_t)UART_DATA;
  }
  return 1;
}

static uint32_t le32(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static int readable(uint32_t address) {
  return (address >= FLASH_BASE && address - FLASH_BASE < FLASH_SIZE) ||
         (address >= RAM_BASE && address - RAM_BASE < RAM_SIZE);
}

static void send_block(uint32_t address) {
  for (uint32_t i = 0; i < BLOCK_SIZE; ++i) {
    uint32_t a = address + i;
    put_byte(readable(a) ? *(volatile const uint8_t*)a : 0xFFu);
  }
}

static int flash_command(uint32_t command, uint32_t address, uint32_t data) {
  FLASH_ADDR = address;
  FLASH_DATA = data;
  FLASH_CMD = command;
  while (FLASH_STATUS & FLASH_BUSY) {
  }
  return (FLASH_STATUS & FLASH_ERROR) == 0;
}

static int erase_for(uint32_t length) {
  for (uint32_t offset = 0; offset < length; offset += SECTOR_SIZE)
    if (!flash_command(FLASH_CMD_ERASE, FIRMWARE_BASE + offset, 0)) return 0;
  return 1;
}

/* Programs count bytes at address; the 0xFF filler of a last partial word changes nothing. */
static int program(uint32_t address, const uint8_t* bytes, uint32_t count) {
  for (uint32_t i = 0; i < count; i += 4) {
    uint32_t word = 0;
    for (uint32_t k = 0; k < 4; ++k) {
      uint32_t b = i + k < count ? bytes[i + k] : 0xFFu;
      word |= b << (8 * k);
    }
    if (address + i < FIRMWARE_BASE || address + i - FIRMWARE_BASE >= FIRMWARE_SIZE) return 0;
    if (!flash_command(FLASH_CMD_PROGRAM, address + i, word)) return 0;
  }
  return 1;
}

static uint32_t flash_sum(uint32_t address, uint32_t count) {
  uint32_t sum = 0;
  for (uint32_t i = 0; i < count; ++i) sum += *(volatile const uint8_t*)(address + i);
  return sum;
}

/* Erase, data frames and check word for an image of length bytes. */
static void write_image(uint32_t length) {
  if (length > FIRMWARE_SIZE) {
    put_byte(TOO_LONG);
    return;
  }
  if (!erase_for(length)) {
    put_byte(ERASE_FAILED);
    return;
  }
  put_byte(ACK);
  uint32_t received = 0;
  while (received < length) {
    if (!get_bytes(frame, FRAME_SIZE)) return;
    uint32_t sum = 0;
    for (uint32_t i = 0; i < FRAME_DATA; ++i) sum += frame[i];
    if (sum != le32(frame + FRAME_DATA)) {
      put_byte(BAD_SUM);
      return;
    }
    uint32_t n = length - received < FRAME_DATA ? length - received : FRAME_DATA;
    if (!program(FIRMWARE_BASE + received, frame, n)) {
      put_byte(PROGRAM_FAILED);
      return;
    }
    received += n;
    put_byte(received >= length ? LAST : ACK);
  }
  uint8_t check[4];
  if (!get_bytes(check, 4)) return;
  put_byte(flash_sum(FIRMWARE_BASE, length) == le32(check) ? CHECK_OK : CHECK_BAD);
}

void resident_main(void) {
  static const uint8_t rate[4] = {0x00, 0xC2, 0x01, 0x00};
  uint8_t command[9];
  uint32_t have = 0;
  put_text(banner);
  for (;;) {
    command[have++] = (uint8_t)get_byte();
    /* Keep the bytes that can still be the start of a frame. */
    while (have > 0) {
      uint32_t check = have < 4 ? have : 4;
      uint32_t ok = 1;
      for (uint32_t i = 0; i < check; ++i)
        if (command[i] != rate[i]) ok = 0;
      if (ok) break;
      for (uint32_t i = 1; i < have; ++i) command[i - 1] = command[i];
      --have;
    }
    if (have < 9) continue;
    have = 0;
    uint32_t argument = le32(command + 5);
    switch (command[4]) {
      case CMD_READ:
        send_block(argument);
        break;
      case CMD_ERASE:
        write_image(argument);
        break;
      case CMD_RESTART:
        RESET_CTRL = RESET_KEY;
        break;
      default:
        break; /* unknown commands are ignored */
    }
  }
}
