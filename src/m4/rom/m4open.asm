; The open M4 board ROM: a background ROM for an upper ROM slot that makes the board's SD
; card usable from BASIC. Its RSX commands send command packets to the board's data port
; (&FE00) and trigger them at the command port (&FC00); the board leaves its replies in
; this ROM's reply area, which the commands read while the ROM is selected.
;
;   |LS                  list the current directory of the card
;   |CD,"path"           change the current directory ("/" the top, ".." one up)
;   |LOAD,"file",addr    copy a file's bytes from the card into memory at addr

TXT_OUTPUT  equ 0BB5Ah

DATA_PORT   equ 0FEh            ; high byte of &FE00
EXEC_PORT   equ 0FCh            ; high byte of &FC00

REPLY       equ 0E800h          ; reply: size, code (2), status, data
REPLY_STATUS equ REPLY + 3
REPLY_DATA  equ REPLY + 4
CONFIG_AREA equ 0F000h
SOCKETS     equ 0F100h

C_OPEN      equ 4301h
C_READ      equ 4302h
C_CLOSE     equ 4304h
C_READDIR   equ 4306h
C_CD        equ 4308h

READ_CHUNK  equ 128             ; bytes asked for by one read

        org 0C000h

        db 1                    ; background ROM
        db 1, 0, 0              ; mark, version, modification
        dw names
        jp init
        jp ls
        jp cd
        jp load

names:  db "M4 BOAR", 'D' + 80h
        db "L", 'S' + 80h
        db "C", 'D' + 80h
        db "LOA", 'D' + 80h
        db 0

; Background ROM initialisation: no memory is taken (DE, HL unchanged).
init:   scf
        ret

; ---- Packets ----------------------------------------------------------------------------
; Sends the byte in A to the board's data port (BC is kept).
put:    push bc
        ld b, DATA_PORT
        ld c, 0
        out (c), a
        pop bc
        ret

; Sends the packet size A and the command code DE.
start_packet:
        call put
        ld a, e
        call put
        ld a, d
        jp put

; Triggers the packet; the reply is then in the reply area.
execute:
        push bc
        ld b, EXEC_PORT
        ld c, 0
        out (c), c
        pop bc
        ret

; Sends the BASIC string whose descriptor is at HL (length, address) and its closing 0.
put_string:
        ld b, (hl)
        inc hl
        ld e, (hl)
        inc hl
        ld d, (hl)
        ex de, hl
        ld a, b
        or a
        jr z, put_end
put_next:
        ld a, (hl)
        call put
        inc hl
        djnz put_next
put_end:
        xor a
        jp put

; Packet size for a string parameter: its length (descriptor at HL) plus C.
string_size:
        ld a, (hl)
        add a, c
        ret

; ---- Text ------------------------------------------------------------------------------------
; Prints the zero-terminated text at HL.
print:  ld a, (hl)
        or a
        ret z
        call TXT_OUTPUT
        inc hl
        jr print

newline:
        ld a, 13
        call TXT_OUTPUT
        ld a, 10
        jp TXT_OUTPUT

failed: ld hl, failed_text
        jp print
failed_text:
        db "Not found", 13, 10, 0

; ---- |LS -------------------------------------------------------------------------------------
; One directory entry a packet until the board replies with no text.
ls:     ld a, 3
        ld de, C_READDIR
        call start_packet
        xor a                   ; short names
        call put
        call execute
        ld a, (REPLY)
        cp 3
        ret c                   ; the empty reply: the listing is over
        ld hl, REPLY + 3
        call print
        call newline
        jr ls

; ---- |CD,"path" --------------------------------------------------------------------------------
cd:     cp 1
        ret nz
        ld l, (ix + 0)
        ld h, (ix + 1)
        push hl
        ld c, 3                 ; code (2) and the closing 0
        call string_size
        ld de, C_CD
        call start_packet
        pop hl
        call put_string
        call execute
        ld a, (REPLY_STATUS)
        or a
        ret z
        jp failed

; ---- |LOAD,"file",address ---------------------------------------------------------------------
load:   cp 2
        ret nz
        ld l, (ix + 2)
        ld h, (ix + 3)
        push hl
        ld c, 4                 ; code (2), mode and the closing 0
        call string_size
        ld de, C_OPEN
        call start_packet
        xor a                   ; mode 0: reading
        call put
        pop hl
        call put_string
        call execute
        ld a, (REPLY_STATUS)
        or a
        jp nz, failed
        ld a, (REPLY_DATA)      ; the slot
        ld c, a
        ld e, (ix + 0)          ; destination
        ld d, (ix + 1)
load_next:
        ld a, 5
        push de
        ld de, C_READ
        call start_packet
        pop de
        ld a, c
        call put
        ld a, READ_CHUNK
        call put
        xor a
        call put
        call execute
        ld a, (REPLY)
        sub 3                   ; bytes read
        jr z, load_close
        ld hl, REPLY_DATA
        push bc
        ld c, a
        ld b, 0
        ldir                    ; writes under the ROM go to RAM
        pop bc
        jr load_next
load_close:
        ld a, 3
        push de
        ld de, C_CLOSE
        call start_packet
        pop de
        ld a, c
        call put
        jp execute

; ---- The board's table at 0xFF00 ---------------------------------------------------------------
        ds 0FF00h - $, 0
        dw 0
        dw REPLY
        dw CONFIG_AREA
        dw SOCKETS
        ds 10000h - $, 0
