; The open M4 board ROM: a background ROM for an upper ROM slot that makes the board's SD
; card usable from BASIC. Its RSX commands send command packets to the board's data port
; (&FE00) and trigger them at the command port (&FC00); the board leaves its replies in
; this ROM's reply area, which the commands read while the ROM is selected.
;
;   |LS                  list the current directory of the card
;   |CD,"path"           change the current directory ("/" the top, ".." one up)
;   |LOAD,"file",addr    copy a file's bytes from the card into memory at addr
;   |SD                  BASIC's cassette input reads from the card: RUN"file",
;                        LOAD"file" and MERGE"file" then take programs from it
;                        (|TAPE or |DISC turn the cassette input back)

TXT_OUTPUT  equ 0BB5Ah
KL_CURR_SELECTION equ 0B912h    ; A = the upper ROM now selected (this one)
CAS_IN_OPEN equ 0BC77h          ; the five cassette input entries from here, three
                                ; bytes each: open, close, abandon, char, direct
RST_FAR_CALL equ 0DFh           ; RST 3: call the far address the next word points to
JP_CODE     equ 0C3h
RET_CODE    equ 0C9h
SD_ENTRIES  equ 5
SD_PIECE    equ 7               ; RST 3, the far address's address, RET, the far address

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
C_SEEK      equ 4305h
C_CD        equ 4308h
IN_SLOT     equ 1               ; the board's slot for files opened for reading
HEADER_SIZE equ 128
HEADER_TYPE equ 18
HEADER_LOAD equ 21
HEADER_LENGTH equ 24
HEADER_ENTRY equ 26
HEADER_SUM  equ 67              ; sum of bytes 0-66
TYPE_ASCII  equ 16h             ; a file without a header: ASCII, version 1
SOFT_EOF    equ 1Ah             ; end of an ASCII file
ERROR_NOT_FOUND equ 12h         ; the disc system's code for a file not found
ERROR_REPORTED equ 80h          ; the message has been shown already

READ_CHUNK  equ 128             ; bytes asked for by one read

        org 0C000h

        db 1                    ; background ROM
        db 1, 0, 0              ; mark, version, modification
        dw names
        jp init
        jp ls
        jp cd
        jp load
        jp sd

names:  db "M4 BOAR", 'D' + 80h
        db "L", 'S' + 80h
        db "C", 'D' + 80h
        db "LOA", 'D' + 80h
        db "S", 'D' + 80h
        db 0

; Background ROM initialisation: the far calls of |SD's entries are kept in RAM below
; the top of memory (HL); the firmware hands that area to the commands in IY.
init:   ld bc, -(SD_ENTRIES * SD_PIECE)
        add hl, bc
        scf
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

; ---- |SD ---------------------------------------------------------------------------------------
; Each cassette input entry becomes a jump to a small piece of this ROM's RAM area: a far
; call (RST 3) through the far address that follows it (one of the routines below, with
; this ROM selected), then a return to the entry's caller.
sd:     call KL_CURR_SELECTION
        ld c, a
        push iy
        pop de                  ; DE: this entry's piece of RAM
        ld hl, CAS_IN_OPEN
        ld ix, sd_routines
        ld b, SD_ENTRIES
sd_next:
        ld (hl), JP_CODE
        inc hl
        ld (hl), e
        inc hl
        ld (hl), d
        inc hl
        push hl
        ld a, RST_FAR_CALL
        ld (de), a
        inc de
        ld h, d
        ld l, e
        inc hl
        inc hl
        inc hl                  ; the far address, after the word and the RET
        ex de, hl
        ld (hl), e
        inc hl
        ld (hl), d
        inc hl
        ld (hl), RET_CODE
        inc hl
        ld a, (ix + 0)
        ld (hl), a
        inc hl
        ld a, (ix + 1)
        ld (hl), a
        inc hl
        ld (hl), c
        inc hl
        ex de, hl               ; DE: the next entry's piece
        pop hl
        inc ix
        inc ix
        djnz sd_next
        ret
sd_routines:
        dw sd_open, sd_close, sd_close, sd_char, sd_direct

; Sends the slot and a 16-bit count after a started packet.
put_slot_count:
        ld a, IN_SLOT
        call put
        ld a, e
        call put
        ld a, d
        jp put

; Reads up to DE bytes of the open file; A = the bytes in the reply.
read_part:
        push de
        ld a, 5
        ld de, C_READ
        call start_packet
        pop de
        call put_slot_count
        call execute
        ld a, (REPLY)
        sub 3
        ret

; Sets the open file's position back to its start.
rewind: ld a, 7
        ld de, C_SEEK
        call start_packet
        ld a, IN_SLOT
        call put
        xor a
        call put
        call put
        call put
        call put
        jp execute

; CAS IN OPEN: B = name length, HL = name, DE = a 2 KB buffer. The first record goes into
; the buffer; with an AMSDOS header it is the header, else the file is read as ASCII
; from its start. Out: carry, HL = header, DE = load address, BC = length, A = type.
sd_open:
        push de
        push bc
        push hl
        ld a, b
        add a, 4                ; code (2), mode and the closing 0
        ld de, C_OPEN
        call start_packet
        xor a                   ; mode 0: reading
        call put
        ld a, b
        or a
        jr z, sd_open_name_end
sd_open_name:
        ld a, (hl)
        call put
        inc hl
        djnz sd_open_name
sd_open_name_end:
        xor a
        call put
        call execute
        pop hl                  ; the name
        pop bc
        ld a, (REPLY_STATUS)
        or a
        jr nz, sd_not_found
        pop hl                  ; the buffer
        push hl
        ld de, HEADER_SIZE
        call read_part
        pop de
        push de
        ld hl, REPLY_DATA
        ld bc, HEADER_SIZE
        ldir
        pop ix                  ; the buffer, now holding the first record
        cp HEADER_SIZE
        jr nz, sd_open_ascii
        call header_sum
        ld a, l
        cp (ix + HEADER_SUM)
        jr nz, sd_open_ascii
        ld a, h
        cp (ix + HEADER_SUM + 1)
        jr nz, sd_open_ascii
        ld a, 1
        or a                    ; zero false, carry clear
        scf
        ld e, (ix + HEADER_LOAD)
        ld d, (ix + HEADER_LOAD + 1)
        ld c, (ix + HEADER_LENGTH)
        ld b, (ix + HEADER_LENGTH + 1)
        ld a, (ix + HEADER_TYPE)
sd_open_done:
        push ix
        pop hl
        ret
sd_open_ascii:
        call rewind
        ld (ix + HEADER_TYPE), TYPE_ASCII
        ld de, 0
        ld b, d
        ld c, e
        ld a, 1
        or a
        scf
        ld a, TYPE_ASCII
        jr sd_open_done

; The file could not be opened: "<name> not found" is told here, as the disc system
; does. Carry false with zero true and an error code with bit 7 set (already reported)
; make BASIC give up without a message of its own ("Broken in" without bit 7, "File
; already open" with zero false).
sd_not_found:
        pop de                  ; the buffer, not used
        ld a, b
        or a
        jr z, sd_not_found_text
sd_not_found_name:
        ld a, (hl)
        call TXT_OUTPUT
        inc hl
        djnz sd_not_found_name
sd_not_found_text:
        ld hl, not_found_text
        call print
        xor a                   ; carry false, zero true
        ld a, ERROR_REPORTED | ERROR_NOT_FOUND
        ret
not_found_text:
        db " not found", 13, 10, 0

; HL = the sum of the 67 bytes at IX.
header_sum:
        push ix
        pop de
        ld hl, 0
        ld b, HEADER_SUM
header_sum_next:
        ld a, (de)
        add a, l
        ld l, a
        jr nc, header_sum_carried
        inc h
header_sum_carried:
        inc de
        djnz header_sum_next
        ret

; CAS IN CLOSE and CAS IN ABANDON.
sd_close:
        ld a, 3
        ld de, C_CLOSE
        call start_packet
        ld a, IN_SLOT
        call put
        call execute
        ld a, 1
        or a
        scf
        ret

; CAS IN CHAR: carry and A = the next byte; at the end carry false, zero false.
sd_char:
        push bc
        push de
        push hl
        ld de, 1
        call read_part
        or a
        jr z, sd_char_end
        ld a, (REPLY_DATA)
        cp SOFT_EOF
        jr z, sd_char_end
        scf
sd_char_done:
        pop hl
        pop de
        pop bc
        ret
sd_char_end:
        ld a, 1
        or a
        ld a, SOFT_EOF
        jr sd_char_done

; CAS IN DIRECT: the file's data (after its header) into memory at HL; carry, HL = the
; entry address from the header.
sd_direct:
        push hl
        call rewind
        ld de, HEADER_SIZE
        call read_part
        ld hl, (REPLY_DATA + HEADER_ENTRY)
        ex (sp), hl             ; keep the entry address, HL = destination
sd_direct_next:
        ex de, hl
        push de
        ld de, HEADER_SIZE
        call read_part
        pop de
        or a
        jr z, sd_direct_done
        ld hl, REPLY_DATA
        ld c, a
        ld b, 0
        ldir
        ex de, hl
        jr sd_direct_next
sd_direct_done:
        pop hl
        ld a, 1
        or a
        scf
        ret

; ---- The board's table at 0xFF00 ---------------------------------------------------------------
        ds 0FF00h - $, 0
        dw 0
        dw REPLY
        dw CONFIG_AREA
        dw SOCKETS
        ds 10000h - $, 0
