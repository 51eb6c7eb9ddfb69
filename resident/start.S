/* Entry: the bootloader starts the image at its first byte, the exception vector table. */
    .section .vectors, "ax"
    .arm
    .global _start
_start:
    b reset_handler          /* reset */
    b hang                   /* undefined instruction */
    b hang                   /* software interrupt */
    b hang                   /* prefetch abort */
    b hang                   /* data abort */
    b hang                   /* reserved */
    b hang                   /* IRQ */
    b hang                   /* FIQ */

    .text
reset_handler:
    msr cpsr_c, #0xD3        /* supervisor mode, interrupts off */
    ldr sp, =__stack_top
    ldr r0, =__bss_start
    ldr r1, =__bss_end
    mov r2, #0
1:  cmp r0, r1
    strlo r2, [r0], #4
    blo 1b
    bl resident_main
hang:
    b hang
