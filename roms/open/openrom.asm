; Arvelo's open system ROM: what the emulator runs when no CPC system ROM images are
; installed. Written for Arvelo; it uses nothing of the CPC's own firmware.
;
; Two 16 KB halves in one 32 KB image, as the CPC's own system ROM files are laid out:
;   &0000-&3FFF  lower ROM: the whole program, its texts and its character set;
;   &4000-&7FFF  the ROM of the BASIC slot: only the header by which set-up recognises
;                a machine model (foreground ROM, model byte 0).
; The program sets up a standard 40-column mode 1 screen, says in the configured
; language which ROM images are missing and where they go, plays a short chime, echoes
; typed keys and runs a raster bar from the frame interrupts.
;
; The emulator fills the parameter block (PARAMS) when it loads this image: the
; language (0 English, 1 German, 2 French, 3 Spanish) and the configured ROM_PATH.

; ---- Hardware ------------------------------------------------------------------------
GA_PORT         equ 0x7F    ; Gate Array (high byte of the port address)
GA_PEN          equ 0x00    ; + pen number: select a pen
GA_BORDER       equ 0x10    ; select the border
GA_COLOUR       equ 0x40    ; + hardware colour: the selected pen's colour
GA_MODE_1       equ 0x89    ; mode/ROM register: mode 1, lower ROM on, upper ROM off
GA_RAM_64K      equ 0xC0    ; RAM configuration: the base 64 KB
CRTC_SELECT     equ 0xBC
CRTC_WRITE      equ 0xBD
PPI_A           equ 0xF4
PPI_B           equ 0xF5
PPI_C           equ 0xF6
PPI_CONTROL     equ 0xF7
PPI_A_OUT       equ 0x82    ; control word: port A output, B input, C output
PPI_A_IN        equ 0x92    ; control word: port A input (reading the keyboard)
PPI_B_VSYNC     equ 0x01    ; port B bit 0: the CRTC's VSYNC
PSG_INACTIVE    equ 0x00    ; port C bits 7-6: sound generator bus function
PSG_READ        equ 0x40
PSG_WRITE       equ 0x80
PSG_SELECT      equ 0xC0
PSG_TONE_A      equ 0       ; sound generator registers
PSG_MIXER       equ 7
PSG_VOLUME_A    equ 8
PSG_ENV_PERIOD  equ 11
PSG_ENV_SHAPE   equ 13
PSG_KEYBOARD    equ 14      ; I/O port A: the keyboard line selected through port C
MIXER_TONE_A    equ 0x3E    ; tone on channel A only, I/O port A as input
MIXER_OFF       equ 0x3F
VOLUME_ENVELOPE equ 0x10
ENV_DECAY       equ 0x00    ; shape: one fall from loudest to silence, then silence
ENV_PERIOD      equ 1562    ; 256 * 1562 us: each chime note dies away in 0.4 s

; Hardware colours (the value written is GA_COLOUR + colour).
BLUE            equ 0x04
BRIGHT_BLUE     equ 0x15
SKY_BLUE        equ 0x17
PASTEL_CYAN     equ 0x1B
BRIGHT_WHITE    equ 0x0B
BRIGHT_YELLOW   equ 0x0A
PASTEL_YELLOW   equ 0x03
ORANGE          equ 0x0E
BRIGHT_RED      equ 0x0C
BRIGHT_CYAN     equ 0x13
MAGENTA         equ 0x18

; ---- Screen ------------------------------------------------------------------------------
SCREEN          equ 0xC000  ; 16 KB at &C000, CRTC start address &3000
SCREEN_SIZE     equ 0x4000
COLUMNS         equ 40
LINE_BYTES      equ 80      ; two bytes per mode 1 character cell
CELL_LINE_STEP  equ 0x08    ; the next pixel line of a cell lies &800 further on
PEN_1_MASK      equ 0xF0    ; a glyph row's pixels in pen 1, 2 or 3 (mode 1 bytes)
PEN_2_MASK      equ 0x0F
PEN_3_MASK      equ 0xFF
ECHO_ROW        equ 18      ; typed keys echo on rows 18 and 19
ECHO_ROWS       equ 2
CURSOR_GLYPH    equ 0x7F

; Text stream control codes (in the message tables).
T_END           equ 0
T_PEN           equ 1       ; followed by the pen (1-3)
T_AT            equ 2       ; followed by column and row
T_PATH          equ 3       ; the configured ROM_PATH

; ---- Frame interrupts ---------------------------------------------------------------------
; The Gate Array interrupts every 52 lines, in step with VSYNC: the interrupt two lines
; into VSYNC is number 0 of the frame, and number 4 falls 138 lines into the picture.
BAR_INTERRUPT   equ 4
BAR_FIRST_LINE  equ 21      ; lines from interrupt 4 to the top of the bar's band
BAR_LINES       equ 10
BAR_TRAVEL      equ 30      ; the bar moves over 30 + 10 lines: character rows 20-24
BAR_LINE_PHASE  equ 8       ; 4 us per count: moves the changes to the line's end
CHIME_NOTE_FRAMES equ 9     ; 180 ms
CHIME_LAST_FRAMES equ 25    ; 500 ms

; ---- RAM -----------------------------------------------------------------------------------
STACK_TOP       equ 0xC000
VARS            equ 0x8000
int_index       equ VARS + 0    ; frame interrupt number since VSYNC
bar_pos         equ VARS + 1    ; bar's line within its band
bar_step        equ VARS + 2    ; +1 or -1
chime_next      equ VARS + 3    ; word: next note period in chime_notes
chime_wait      equ VARS + 5    ; frames until the next note
pen_mask        equ VARS + 6
cursor_col      equ VARS + 7
cursor_row      equ VARS + 8
key_head        equ VARS + 9    ; typed-key ring: written by the interrupt
key_tail        equ VARS + 10   ; read by the main loop
key_prev        equ VARS + 16   ; 10 keyboard lines of the last scan (0 = pressed)
key_now         equ VARS + 32   ; 10 lines of this scan
key_ring        equ VARS + 48   ; 16 typed characters
VARS_SIZE       equ 64
KEY_RING_MASK   equ 15
KEY_LINES       equ 10
SHIFT_LINE      equ 2           ; SHIFT is bit 5 of keyboard line 2
SHIFT_BIT       equ 0x20

        org 0
        di
        jp start

        ds 0x38 - $, 0
        jp frame_interrupt

; ---- Parameter block, filled in by the emulator when it loads the image -----------------------
        ds 0x40 - $, 0
PARAMS:
        db "ARVELO OPEN ROM", 0         ; signature the emulator checks before writing
language:
        db 0                            ; 0 English, 1 German, 2 French, 3 Spanish
rom_path:
        ds 128, 0                       ; ROM_PATH, zero-terminated, shown on rows 11-12

; ---- Start ------------------------------------------------------------------------------------
start:
        im 1
        ld sp, STACK_TOP
        ld hl, VARS
        ld de, VARS + 1
        ld bc, VARS_SIZE - 1
        ld (hl), 0
        ldir
        ld a, 0xFF                      ; no key down before the first scan
        ld hl, key_prev
        ld b, KEY_LINES
init_keys:
        ld (hl), a
        inc hl
        djnz init_keys
        ld a, 1
        ld (bar_step), a
        call setup_ppi
        call setup_gate_array
        call setup_crtc
        call clear_screen
        call draw_texts
        call start_chime
        ei
main_loop:
        halt                            ; the bar's timing starts from a halted processor
        call take_key
        jr z, main_loop
        call echo_key
        jr main_loop

; ---- Set-up ----------------------------------------------------------------------------------
setup_ppi:
        ld bc, PPI_CONTROL * 256 + PPI_A_OUT
        out (c), c
        ld b, PPI_C
        ld c, PSG_INACTIVE
        out (c), c
        ret

setup_gate_array:
        ld hl, palette
        ld b, GA_PORT
        ld c, GA_PEN
set_pen:
        ld a, (hl)
        inc hl
        out (c), c
        out (c), a
        inc c
        ld a, c
        cp 4
        jr nz, set_pen
        ld c, GA_BORDER
        out (c), c
        ld a, GA_COLOUR + BLUE
        out (c), a
        ld a, GA_MODE_1
        out (c), a
        ld a, GA_RAM_64K
        out (c), a
        ret

palette:
        db GA_COLOUR + BLUE, GA_COLOUR + BRIGHT_YELLOW, GA_COLOUR + BRIGHT_CYAN
        db GA_COLOUR + BRIGHT_WHITE

setup_crtc:
        ld hl, crtc_values
        ld d, 0
crtc_next:
        ld b, CRTC_SELECT
        out (c), d
        ld b, CRTC_WRITE
        ld a, (hl)
        out (c), a
        inc hl
        inc d
        ld a, d
        cp 14
        jr nz, crtc_next
        ret

; Registers 0-13: 64 us lines, 40 characters of 8 lines, 25 rows shown of 39, VSYNC at
; row 30, the screen at &C000.
crtc_values:
        db 63, 40, 46, 0x8E, 38, 0, 25, 30, 0, 7, 0, 0, 0x30, 0x00

clear_screen:
        ld hl, SCREEN
        ld de, SCREEN + 1
        ld bc, SCREEN_SIZE - 1
        ld (hl), 0
        ldir
        ret

; ---- Texts -------------------------------------------------------------------------------------
; The language's text, then the part shared by all languages (the file names).
draw_texts:
        ld a, (language)
        cp 4
        jr c, known_language
        xor a
known_language:
        add a, a
        ld e, a
        ld d, 0
        ld hl, texts
        add hl, de
        ld a, (hl)
        inc hl
        ld h, (hl)
        ld l, a
        call print
        ld hl, text_files
        jp print

; Prints a text stream (characters and T_ control codes) from HL.
print:
        ld a, (hl)
        inc hl
        cp T_END
        ret z
        cp T_PEN
        jr z, print_pen
        cp T_AT
        jr z, print_at
        cp T_PATH
        jr z, print_path
        push hl
        call put_char
        pop hl
        jr print
print_pen:
        ld a, (hl)
        inc hl
        push hl
        call select_pen
        pop hl
        jr print
print_at:
        ld a, (hl)
        ld (cursor_col), a
        inc hl
        ld a, (hl)
        ld (cursor_row), a
        inc hl
        jr print
print_path:
        push hl
        ld hl, rom_path
        call print
        pop hl
        jr print

; A = pen 1, 2 or 3.
select_pen:
        ld hl, pen_masks - 1
        add a, l
        ld l, a
        jr nc, pen_found
        inc h
pen_found:
        ld a, (hl)
        ld (pen_mask), a
        ret

pen_masks:
        db PEN_1_MASK, PEN_2_MASK, PEN_3_MASK

; Draws character A at the cursor in the current pen and moves the cursor on, to the
; next row after the last column.
put_char:
        call glyph_address
        ex de, hl
        call cell_address
        call draw_glyph
        ld hl, cursor_col
        inc (hl)
        ld a, (hl)
        cp COLUMNS
        ret c
        ld (hl), 0
        ld hl, cursor_row
        inc (hl)
        ret

; HL = the glyph of character A.
glyph_address:
        ld l, a
        ld h, 0
        add hl, hl
        add hl, hl
        add hl, hl
        ld de, font
        add hl, de
        ret

; HL = screen address of the cursor's cell: SCREEN + row * 80 + column * 2.
cell_address:
        push de
        ld a, (cursor_row)
        ld l, a
        ld h, 0
        add hl, hl
        add hl, hl
        add hl, hl
        add hl, hl                      ; row * 16
        ld d, h
        ld e, l
        add hl, hl
        add hl, hl                      ; row * 64
        add hl, de                      ; row * 80
        ld a, (cursor_col)
        add a, a
        ld e, a
        ld d, 0
        add hl, de
        ld de, SCREEN
        add hl, de
        pop de
        ret

; Draws the glyph at DE into the cell at HL. A mode 1 byte holds four pixels: bits 7-4
; are their pen bit 0, bits 3-0 their pen bit 1. So the left byte is the glyph row's
; left nibble twice and the right byte its right nibble twice, masked by the pen.
; The cell's two bytes never straddle a 256-byte page (cells start at even addresses).
draw_glyph:
        ld b, 8
glyph_row:
        ld a, (de)
        ld c, a
        rrca
        rrca
        rrca
        rrca                            ; nibbles swapped
        xor c
        and 0x0F
        xor c                           ; left nibble in both halves
        push hl
        ld hl, pen_mask
        and (hl)
        pop hl
        ld (hl), a
        inc l
        ld a, c
        rrca
        rrca
        rrca
        rrca
        xor c
        and 0xF0
        xor c                           ; right nibble in both halves
        push hl
        ld hl, pen_mask
        and (hl)
        pop hl
        ld (hl), a
        dec l
        ld a, h
        add a, CELL_LINE_STEP
        ld h, a
        inc de
        djnz glyph_row
        ret

; ---- Keyboard echo (main loop) ------------------------------------------------------------------
; Z clear and A = the next typed character, or Z set when none is waiting.
take_key:
        di
        ld a, (key_tail)
        ld hl, key_head
        cp (hl)
        jr z, no_key
        ld e, a
        inc a
        and KEY_RING_MASK
        ld (key_tail), a
        ld d, 0
        ld hl, key_ring
        add hl, de
        ld a, (hl)
        ei
        or a                            ; Z clear: the ring holds no zeros
        ret
no_key:
        ei
        xor a
        ret

; Shows character A in the echo rows: Return goes to the next row, DEL takes the last
; character back; a full echo area starts afresh.
echo_key:
        push af
        ld a, 1
        call select_pen
        ld a, ' '
        call put_char_in_place          ; the cursor cell is cleared first
        pop af
        cp 13
        jr z, echo_return
        cp 8
        jr z, echo_delete
        call put_char
        jr echo_cursor
echo_return:
        xor a
        ld (cursor_col), a
        ld hl, cursor_row
        inc (hl)
        jr echo_cursor
echo_delete:
        ld hl, cursor_col
        ld a, (hl)
        or a
        jr z, echo_up
        dec (hl)
        jr echo_blank
echo_up:
        ld a, (cursor_row)
        cp ECHO_ROW
        jr z, echo_cursor               ; nothing left to take back
        dec a
        ld (cursor_row), a
        ld (hl), COLUMNS - 1
echo_blank:
        ld a, ' '
        call put_char_in_place
echo_cursor:
        ld a, (cursor_row)
        cp ECHO_ROW + ECHO_ROWS
        call nc, clear_echo
        ld a, CURSOR_GLYPH
        jp put_char_in_place

; Draws character A at the cursor without moving it.
put_char_in_place:
        call glyph_address
        ex de, hl
        call cell_address
        jp draw_glyph

clear_echo:
        ld a, ECHO_ROW
        ld (cursor_row), a
        xor a
        ld (cursor_col), a
        ld b, COLUMNS * ECHO_ROWS
clear_echo_cell:
        push bc
        ld a, ' '
        call put_char
        pop bc
        djnz clear_echo_cell
        ld a, ECHO_ROW
        ld (cursor_row), a
        xor a
        ld (cursor_col), a
        ret

; ---- Frame interrupts --------------------------------------------------------------------------
frame_interrupt:
        push af
        push bc
        push de
        push hl
        ld b, PPI_B
        in a, (c)
        and PPI_B_VSYNC
        jr z, later_interrupt
        xor a
        ld (int_index), a
        call scan_keyboard
        call play_chime
        call move_bar
        jr interrupt_done
later_interrupt:
        ld hl, int_index
        inc (hl)
        ld a, (hl)
        cp BAR_INTERRUPT
        call z, raster_bar
interrupt_done:
        pop hl
        pop de
        pop bc
        pop af
        ei
        ret

; ---- Raster bar: the ink of pen 0 and the border change on every line ---------------------------
move_bar:
        ld a, (bar_step)
        ld b, a
        ld a, (bar_pos)
        add a, b
        ld (bar_pos), a
        or a
        jr z, bar_turn
        cp BAR_TRAVEL
        ret nz
bar_turn:
        ld a, b
        neg
        ld (bar_step), a
        ret

raster_bar:
        ld a, (bar_pos)
        add a, BAR_FIRST_LINE
        call wait_lines
        ld a, BAR_LINE_PHASE
bar_phase:
        dec a
        jr nz, bar_phase                ; the colour changes fall into the line's blanking
        ld hl, bar_colours
        ld b, GA_PORT
        ld d, GA_BORDER
        ld e, GA_PEN
        ld c, BAR_LINES
; One pass is exactly 64 us, one monitor line (the CPC stretches every instruction to
; whole microseconds: ld a,(hl) 2, inc hl 2, out 4, ld a,n 2, dec 1, jr 3 or 2, nop 1).
bar_line:
        ld a, (hl)
        inc hl
        out (c), e
        out (c), a
        out (c), d
        out (c), a                      ; 20 us
        ld a, 9
bar_delay:
        dec a
        jr nz, bar_delay                ; 2 + 35 us
        nop
        nop
        nop
        dec c
        jr nz, bar_line                 ; 64 us
        ld a, GA_COLOUR + BLUE
        out (c), e
        out (c), a
        out (c), d
        out (c), a
        ret

bar_colours:
        db GA_COLOUR + BRIGHT_BLUE, GA_COLOUR + SKY_BLUE, GA_COLOUR + PASTEL_CYAN
        db GA_COLOUR + BRIGHT_WHITE, GA_COLOUR + PASTEL_YELLOW, GA_COLOUR + BRIGHT_YELLOW
        db GA_COLOUR + ORANGE, GA_COLOUR + BRIGHT_RED, GA_COLOUR + MAGENTA
        db GA_COLOUR + BRIGHT_BLUE

; Waits A lines (A >= 1): each pass takes 64 us.
wait_lines:
        ld c, 14
wait_line:
        dec c
        jr nz, wait_line                ; 2 + 55 us
        nop
        nop
        nop
        dec a
        jr nz, wait_lines
        ret

; ---- Sound generator through the PPI --------------------------------------------------------
; Writes E to sound generator register D.
psg_write:
        ld b, PPI_A
        out (c), d
        ld bc, PPI_C * 256 + PSG_SELECT
        out (c), c
        ld c, PSG_INACTIVE
        out (c), c
        ld b, PPI_A
        out (c), e
        ld bc, PPI_C * 256 + PSG_WRITE
        out (c), c
        ld c, PSG_INACTIVE
        out (c), c
        ret

start_chime:
        ld de, PSG_ENV_PERIOD * 256 + (ENV_PERIOD & 0xFF)
        call psg_write
        ld de, 256 * (PSG_ENV_PERIOD + 1) + (ENV_PERIOD >> 8)
        call psg_write
        ld de, PSG_VOLUME_A * 256 + VOLUME_ENVELOPE
        call psg_write
        ld de, PSG_MIXER * 256 + MIXER_TONE_A
        call psg_write
        ld hl, chime_notes
        ld (chime_next), hl
        ld a, 1
        ld (chime_wait), a
        ret

; Called every frame: starts the next note when its time has come; after the last one
; the channel is switched off.
play_chime:
        ld hl, chime_wait
        ld a, (hl)
        or a
        ret z                           ; the chime is over
        dec (hl)
        ret nz
        ld hl, (chime_next)
        ld e, (hl)
        inc hl
        ld d, (hl)
        inc hl
        ld a, (hl)                      ; frames the note lasts
        inc hl
        ld (chime_next), hl
        ld (chime_wait), a
        ld a, d
        or e
        jr z, chime_end
        push de
        ld d, PSG_TONE_A
        call psg_write
        pop de
        ld e, d
        ld d, PSG_TONE_A + 1
        call psg_write
        ld de, PSG_ENV_SHAPE * 256 + ENV_DECAY
        jp psg_write                    ; writing the shape starts the envelope again
chime_end:
        ld de, PSG_VOLUME_A * 256 + 0
        call psg_write
        ld de, PSG_MIXER * 256 + MIXER_OFF
        jp psg_write

; Tone period (1 MHz / 16 / frequency) and frames of each note: E5, G5, then C6 rings
; until its envelope has died away; a zero period ends the chime.
chime_notes:
        dw 95
        db CHIME_NOTE_FRAMES
        dw 80
        db CHIME_NOTE_FRAMES
        dw 60
        db CHIME_LAST_FRAMES
        dw 0
        db 0

; ---- Keyboard ------------------------------------------------------------------------------------
; Reads the ten keyboard lines through the sound generator's I/O port A and puts every
; key that went down since the last scan into the key ring as a character. Line 0 is
; read first, as the CPC's own firmware does.
scan_keyboard:
        ld bc, PPI_A * 256 + PSG_KEYBOARD
        out (c), c
        ld bc, PPI_C * 256 + PSG_SELECT
        out (c), c
        ld c, PSG_INACTIVE
        out (c), c
        ld bc, PPI_CONTROL * 256 + PPI_A_IN
        out (c), c
        ld hl, key_now
        ld e, PSG_READ
scan_line:
        ld b, PPI_C
        out (c), e
        ld b, PPI_A
        in a, (c)
        ld (hl), a
        inc hl
        inc e
        ld a, e
        cp PSG_READ + KEY_LINES
        jr nz, scan_line
        ld bc, PPI_CONTROL * 256 + PPI_A_OUT
        out (c), c
        ld bc, PPI_C * 256 + PSG_INACTIVE
        out (c), c
        ; Keys down now that were up before: bit set in key_prev, clear in key_now.
        ld hl, key_now
        ld de, key_prev
        ld c, 0                         ; line * 8
new_keys_line:
        ld a, (de)
        cpl
        or (hl)
        cpl                             ; A = prev AND NOT now
        push af
        ld a, (hl)
        ld (de), a
        pop af
        push hl
        push de
        ld b, 8
new_keys_bit:
        rrca
        call c, key_went_down
        inc c
        djnz new_keys_bit
        pop de
        pop hl
        inc hl
        inc de
        ld a, c
        cp KEY_LINES * 8
        jr nz, new_keys_line
        ret

; Key number C (line * 8 + bit) went down: its character, shifted while SHIFT is held,
; goes into the key ring. Keeps A, B and C.
key_went_down:
        push af
        push bc
        ld hl, key_chars
        ld a, (key_now + SHIFT_LINE)
        and SHIFT_BIT
        jr nz, unshifted
        ld hl, key_chars_shifted
unshifted:
        ld b, 0
        add hl, bc
        ld a, (hl)
        or a
        jr z, key_done                  ; a key without a character (SHIFT, cursor, ...)
        ld d, a
        ld a, (key_head)
        ld e, a
        inc a
        and KEY_RING_MASK
        ld hl, key_tail
        cp (hl)
        jr z, key_done                  ; ring full: the key is dropped
        ld (key_head), a
        ld hl, key_ring
        ld b, 0
        ld c, e
        add hl, bc
        ld (hl), d
key_done:
        pop bc
        pop af
        ret

; Characters of the keyboard matrix, line by line, bits 0-7 (0: no character). The
; keypad gives its digits, DEL is 8, both Return keys 13.
key_chars:
        db 0, 0, 0, '9', '6', '3', 13, '.'              ; cursor keys, keypad
        db 0, 0, '7', '8', '5', '1', '2', '0'           ; cursor left, COPY, keypad
        db 0, '[', 13, ']', '4', 0, 0x5C, 0             ; CLR, RETURN, SHIFT, CONTROL
        db '^', '-', '@', 'p', ';', ':', '/', '.'
        db '0', '9', 'o', 'i', 'l', 'k', 'm', ','
        db '8', '7', 'u', 'y', 'h', 'j', 'n', ' '
        db '6', '5', 'r', 't', 'g', 'f', 'b', 'v'
        db '4', '3', 'e', 'w', 's', 'd', 'c', 'x'
        db '1', '2', 0, 'q', 0, 'a', 0, 'z'             ; ESC, TAB, CAPS LOCK
        db 0, 0, 0, 0, 0, 0, 0, 8                       ; joystick, DEL
key_chars_shifted:
        db 0, 0, 0, '9', '6', '3', 13, '.'
        db 0, 0, '7', '8', '5', '1', '2', '0'
        db 0, '{', 13, '}', '4', 0, '`', 0
        db 0, '=', '|', 'P', '+', '*', '?', '>'
        db '_', ')', 'O', 'I', 'L', 'K', 'M', '<'
        db '(', "'", 'U', 'Y', 'H', 'J', 'N', ' '
        db '&', '%', 'R', 'T', 'G', 'F', 'B', 'V'
        db '$', '#', 'E', 'W', 'S', 'D', 'C', 'X'
        db '!', '"', 0, 'Q', 0, 'A', 0, 'Z'
        db 0, 0, 0, 0, 0, 0, 0, 8

; ---- Texts of the four languages -------------------------------------------------------------
texts:
        dw text_english, text_german, text_french, text_spanish

text_english:
        db T_PEN, 3, T_AT, 0, 0, " Arvelo  -  open system ROM"
        db T_PEN, 1, T_AT, 0, 2, "No CPC system ROMs are installed."
        db T_AT, 0, 4, "Arvelo needs these ROM image files:"
        db T_AT, 0, 8, "Put them into rom/ in the program"
        db T_AT, 0, 9, "directory before the first start, or"
        db T_AT, 0, 10, "into the ROM_PATH of the configuration:"
        db T_AT, 0, 13, "then start Arvelo again."
        db T_PEN, 3, T_AT, 0, 15, "F1 help    F7 settings    F12 quit"
        db T_PEN, 1, T_AT, 0, 17, "Type to test the keyboard:"
        db T_END

text_german:
        db T_PEN, 3, T_AT, 0, 0, " Arvelo  -  offenes System-ROM"
        db T_PEN, 1, T_AT, 0, 2, "Keine CPC-System-ROMs installiert."
        db T_AT, 0, 4, "Arvelo braucht diese ROM-Dateien:"
        db T_AT, 0, 8, "Legen Sie sie vor dem ersten Start in"
        db T_AT, 0, 9, "rom/ im Programmverzeichnis ab oder in"
        db T_AT, 0, 10, "den ROM_PATH der Konfiguration:"
        db T_AT, 0, 13, "und starten Sie Arvelo neu."
        db T_PEN, 3, T_AT, 0, 15, "F1 Hilfe  F7 Einstellungen  F12 Ende"
        db T_PEN, 1, T_AT, 0, 17, "Tippen Sie, um die Tastatur zu testen:"
        db T_END

; French and Spanish letters are ISO-8859-1 codes, as the character set has them.
text_french:
        db T_PEN, 3, T_AT, 0, 0, " Arvelo  -  ROM syst\xE8me libre"
        db T_PEN, 1, T_AT, 0, 2, "Aucune ROM syst\xE8me du CPC install\xE9e."
        db T_AT, 0, 4, "Arvelo a besoin de ces fichiers ROM :"
        db T_AT, 0, 8, "Copiez-les dans rom/ du r\xE9pertoire du"
        db T_AT, 0, 9, "programme avant le premier d\xE9marrage,"
        db T_AT, 0, 10, "ou dans le ROM_PATH de la configuration:"
        db T_AT, 0, 13, "puis relancez Arvelo."
        db T_PEN, 3, T_AT, 0, 15, "F1 aide   F7 r\xE9glages   F12 quitter"
        db T_PEN, 1, T_AT, 0, 17, "Tapez pour tester le clavier :"
        db T_END

text_spanish:
        db T_PEN, 3, T_AT, 0, 0, " Arvelo  -  ROM de sistema libre"
        db T_PEN, 1, T_AT, 0, 2, "No hay ROMs de sistema del CPC."
        db T_AT, 0, 4, "Arvelo necesita estos ficheros ROM:"
        db T_AT, 0, 8, "C\xF3pielos en rom/ del directorio del"
        db T_AT, 0, 9, "programa antes del primer arranque, o"
        db T_AT, 0, 10, "en el ROM_PATH de la configuraci\xF3n:"
        db T_AT, 0, 13, "y vuelva a iniciar Arvelo."
        db T_PEN, 3, T_AT, 0, 15, "F1 ayuda   F7 ajustes   F12 salir"
        db T_PEN, 1, T_AT, 0, 17, "Escriba para probar el teclado:"
        db T_END

; The same in every language: the file names, the configured path and the cursor.
text_files:
        db T_PEN, 2, T_AT, 3, 5, "cpc464.rom    cpc664.rom"
        db T_AT, 3, 6, "cpc6128.rom   amsdos.rom"
        db T_AT, 0, 11, T_PATH
        db T_PEN, 1, T_AT, 0, ECHO_ROW, CURSOR_GLYPH
        db T_AT, 0, ECHO_ROW, T_END

; ---- Character set at the end of the lower ROM, where the firmware keeps its own ----------------
        IF $ > 0x3800
        .ERROR The program has grown into the character set
        ENDIF
        ds 0x3800 - $, 0
font:
        incbin font.bin

; ---- The ROM of the BASIC slot: the header set-up reads the model from ----------------------------
        db 0x80                         ; a foreground ROM
        db 0                            ; mark
        db 0                            ; model byte: 0, the CPC 464's
        db 0                            ; modification
        ds 0x8000 - $, 0
