/* Linked for the receiver's RAM, vector table first, padded to exactly 17,504 bytes. */
ENTRY(_start)

MEMORY
{
  RAM (rwx) : ORIGIN = 0x40000000, LENGTH = 64K
}

SECTIONS
{
  .image 0x40000000 :
  {
    KEEP(*(.vectors))
    *(.text*)
    *(.rodata*)
    *(.data*)
    . = ALIGN(4);
    FILL(0x00);
    . = 17504;
  } > RAM

  .bss (NOLOAD) :
  {
    __bss_start = .;
    *(.bss*)
    *(COMMON)
    . = ALIGN(4);
    __bss_end = .;
  } > RAM

  __stack_top = ORIGIN(RAM) + LENGTH(RAM);

  /DISCARD/ : { *(.comment) *(.ARM.attributes) *(.note*) *(.ARM.exidx*) }
}
