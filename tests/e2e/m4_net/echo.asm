; A CPC program that uses the M4 board's sockets as CPC software does: it finds the
; board's ROM, takes a socket, connects to 127.0.0.1 on ECHO_PORT (from port.inc),
; sends "HELLO", waits for the answer, prints it and closes the socket. Each step that
; fails prints its name and the program stops.
        include "port.inc"

TXT_OUTPUT      equ 0BB5Ah
KL_ROM_SELECT   equ 0B90Fh
KL_ROM_DESELECT equ 0B918h
DATA_PORT       equ 0FEh        ; high byte of &FE00
EXEC_PORT       equ 0FCh        ; high byte of &FC00
AREA_REPLY      equ 0FF02h      ; the ROM's table: address of the reply buffer
AREA_SOCKETS    equ 0FF06h      ; and of the socket status area
NAME_TABLE      equ 0C004h
STATE_CONNECTED equ 3

        org 4000h

start:  ld (saved_ix), ix          ; the firmware's registers, given back at the end
        ld (saved_iy), iy
        call find_board
        jp nz, fail_rom
        ld hl, p_new
        call send
        ld a, (ix + 3)          ; the reply's byte 3: the socket number
        cp 5
        jp nc, fail_socket
        ld (socket), a
        ld (p_connect + 3), a
        ld (p_send + 3), a
        ld (p_receive + 3), a
        ld (p_close + 3), a
        call status_entry       ; IY: the socket's status entry
        ld hl, p_connect
        call send
        ld de, 0
wait_connect:                   ; until connected, failed, or 65536 polls
        ld a, (iy + 0)
        or a
        jp nz, fail_connect
        ld a, (iy + 1)
        cp STATE_CONNECTED
        jr z, connected
        call tick
        jr nz, wait_connect
        jp fail_connect
connected:
        ld hl, t_connected
        call print
        ld hl, p_send
        call send
        ld a, (ix + 3)
        or a
        jp nz, fail_send
        ld de, 0
wait_data:                      ; until all five bytes wait
        ld a, (iy + 2)
        cp 5
        jr nc, have_data
        call tick
        jr nz, wait_data
        jp fail_receive
have_data:
        ld hl, p_receive
        call send               ; reply: size, code (2), status, count (2), data
        ld b, (ix + 4)
        push ix
        pop hl
        ld de, 6
        add hl, de
show:   ld a, (hl)
        call TXT_OUTPUT
        inc hl
        djnz show
        ld hl, t_newline
        call print
        ld hl, p_close
        call send
        ld hl, t_done
        jr finish
fail_rom:
        ld hl, t_rom
        jr finish
fail_socket:
        ld hl, t_socket
        jr finish
fail_connect:
        ld hl, t_connect
        jr finish
fail_send:
        ld hl, t_send
        jr finish
fail_receive:
        ld hl, t_receive
finish: push hl
        ld bc, (old_rom)
        call KL_ROM_DESELECT
        ld ix, (saved_ix)
        ld iy, (saved_iy)
        pop hl
        jp print

; Selects each upper ROM in turn until one's name table starts with "M4"; the ROM stays
; selected. Z when found. IX: the reply buffer.
find_board:
        ld c, 15
        call KL_ROM_SELECT
        ld (old_rom), bc        ; the selection to go back to
        ld c, 15
try:    push bc
        call KL_ROM_SELECT
        ld hl, (NAME_TABLE)
        ld a, (hl)
        cp 'M'
        jr nz, next
        inc hl
        ld a, (hl)
        cp '4'
        jr z, found
next:   pop bc
        dec c
        jp p, try
        or 1
        ret
found:  pop bc
        ld ix, (AREA_REPLY)
        xor a
        ret

; IY: the status entry of the socket (16 bytes each).
status_entry:
        ld iy, (AREA_SOCKETS)
        ld a, (socket)
        ld de, 16
        or a
        ret z
entry:  add iy, de
        dec a
        jr nz, entry
        ret

; Sends the packet at HL (size byte first) to the board and triggers it.
send:   ld e, (hl)
        inc e
out_byte:
        ld a, (hl)
        ld b, DATA_PORT
        ld c, 0
        out (c), a
        inc hl
        dec e
        jr nz, out_byte
        ld b, EXEC_PORT
        out (c), a
        ret

; A short wait between two looks at the status; Z when DE, counting them down, is 0.
tick:   ld b, 0
spin:   djnz spin
        dec de
        ld a, d
        or e
        ret

print:  ld a, (hl)
        or a
        ret z
        call TXT_OUTPUT
        inc hl
        jr print

socket:     db 0
saved_ix:   dw 0
saved_iy:   dw 0
old_rom:    dw 0
p_new:      db 2, 31h, 43h
p_connect:  db 9, 32h, 43h, 0, 127, 0, 0, 1
            dw ECHO_PORT
p_send:     db 10, 34h, 43h, 0, 5, 0, "HELLO"
p_receive:  db 5, 35h, 43h, 0, 5, 0
p_close:    db 3, 33h, 43h, 0
t_connected: db "CONNECTED", 13, 10, 0
t_newline:  db 13, 10, 0
t_done:     db "DONE", 13, 10, 0
t_rom:      db "NO BOARD", 13, 10, 0
t_socket:   db "NO SOCKET", 13, 10, 0
t_connect:  db "CONNECT FAILED", 13, 10, 0
t_send:     db "SEND FAILED", 13, 10, 0
t_receive:  db "NOTHING RECEIVED", 13, 10, 0
