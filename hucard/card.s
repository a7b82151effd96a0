; A HuCard's own bank: the track table the converter fills in; the screen (track,
; title, game, author, time played and length) and the pad (tracks, restart,
; pause) out, the player started on each track. Seen at 0xC000 as bank 0x7F.
;
; The player's boot code (card_boot, bank 0) maps I/O, RAM and the player's bank 1,
; this bank at 0xC000, and jumps to card_start. The player, started through its
; card_init (0x4003), calls card_serve once every timer step while it waits for its
; next command (and for ever once a song has ended), with this bank mapped again.

.setcpu "huc6280"

VDC_STATUS  = $0000                     ; read: status; write: register select (always
VDC_LO      = $0002                     ; reached as a: absolute: below 0x100 a plain
VDC_HI      = $0003                     ; address would reach the zero page at 0x2000)
VCE_CONTROL = $0400
VCE_ADDR_LO = $0402
VCE_ADDR_HI = $0403
VCE_DATA_LO = $0404
VCE_DATA_HI = $0405
PSG_BALANCE = $0801
PAD         = $1000
IRQ_DISABLE = $1402

CARD_INIT   = $4003                     ; the player's start for a HuCard (A: the track)
VBLANK      = $20                       ; VDC status: the frame's display has ended

TILE        = $0100                     ; tile of character 0: BAT word $0100 + c
TITLE_PAL   = $1000                     ; the title's palette (1) in a BAT word
; The console's frame: 263 lines of 1365 clocks at 21.47727 MHz, 59.826 a second.
; A second of the time shown is 59 frames, or 60 as the fraction's carry comes.
FRAMES      = 59
FRAME_FRACTION = 211                    ; 0.826 x 256
FADE_STEP   = 40                        ; frames a step of the fade: 15 steps, 10 s

; The table the converter fills in (see TABLE below).
TRACK_COUNT = TABLE
TRACKS      = TABLE + $10               ; 8 bytes a track: frames (3), fades (1), text (2)

; Rows of the screen.
ROW_TRACK   = 3
ROW_TITLE   = 7
ROW_GAME    = 10
ROW_AUTHOR  = 12
ROW_TIME    = 16
ROW_HELP    = 22
TEXT_COLUMN = 2                         ; the tag's lines: columns 2-29, inside a TV's edges

; Scratch on the zero page, above what the player uses; only during a call.
text        = $FC                       ; a string's address
work        = $FE

; The card's state, in the stack page's bottom (the stack stays far above it).
.segment "STATE"
cur:        .res 1                      ; the track playing, 0..count-1
frames:     .res 3                      ; frames played of it
second:     .res 1                      ; frames into the current second
second_len: .res 1                      ; frames in it: FRAMES or one more
fraction:   .res 1                      ; the frames' fraction, 256ths
seconds:    .res 2                      ; seconds played
last_pad:   .res 1                      ; buttons held at the last frame
level:      .res 1                      ; the fade: main volume 15..0
fade_wait:  .res 1                      ; frames to the fade's next step
has_length: .res 1                      ; nonzero when the track has a length to show

.segment "CODE"
        jmp card_start
        jmp card_serve

card_start:
        lda #$07                        ; no interrupts: the VDC is polled
        sta IRQ_DISABLE
        jsr screen_init
        stz cur
        ; fall through

; Starts track `cur` from its beginning: its texts on the screen, then the player.
play_track:
        jsr draw_track
        stz frames
        stz frames+1
        stz frames+2
        stz second
        stz seconds
        stz seconds+1
        stz fraction
        lda #FRAMES
        sta second_len
        lda #15
        sta level
        lda #FADE_STEP
        sta fade_wait
        jsr draw_time
        ldx #$FF
        txs
        cla                             ; bank 0 at 0xE000, where the player's tables are
        tam #$80
        lda cur
        jmp CARD_INIT

; From the player: once a frame, the pad, the time and the track's end.
card_serve:
        lda a:VDC_STATUS                  ; reading it acknowledges the frame
        and #VBLANK
        bne @frame
        rts
@frame: jsr pad_pressed
        bit #$28                        ; right or I: the next track
        bne next_track
        bit #$82                        ; left or II: the one before
        bne previous_track
        bit #$08
        bne restart                     ; RUN
        bit #$04
        beq @time                       ; SELECT: pause
        jsr pause
@time:  jsr count_frame
        jmp track_end

restart:
        jmp play_track

next_track:
        inc cur
        lda cur
        cmp TRACK_COUNT
        bcc restart
        stz cur                         ; after the last, the first
        bra restart

previous_track:
        lda cur
        bne @back
        lda TRACK_COUNT
@back:  dec a
        sta cur
        bra restart

; SELECT: the sound off until SELECT comes again; the song stands still meanwhile.
pause:
        stz PSG_BALANCE
@wait:  lda a:VDC_STATUS
        and #VBLANK
        beq @wait
        jsr pad_pressed
        and #$04
        beq @wait
        ; fall through

; The PSG's main volume, both sides, at `level`.
set_volume:
        lda level
        asl a
        asl a
        asl a
        asl a
        ora level
        sta PSG_BALANCE
        rts

; A frame played: the count, and the time on the screen when a second is full.
count_frame:
        inc frames
        bne @second
        inc frames+1
        bne @second
        inc frames+2
@second:
        inc second
        lda second
        cmp second_len
        bcc @done
        stz second
        clc                             ; the next second's frames
        lda fraction
        adc #FRAME_FRACTION
        sta fraction
        lda #FRAMES
        adc #0
        sta second_len
        inc seconds
        bne @draw
        inc seconds+1
@draw:  jmp draw_time
@done:  rts

; Past its length the track fades (when it loops) and then the next one starts.
track_end:
        jsr track_entry                 ; X: the track's row in the table
        lda TRACKS,x
        ora TRACKS+1,x
        ora TRACKS+2,x
        beq @done                       ; no length: it plays on
        lda frames
        cmp TRACKS,x
        lda frames+1
        sbc TRACKS+1,x
        lda frames+2
        sbc TRACKS+2,x
        bcc @done                       ; not yet
        lda TRACKS+3,x
        beq @next                       ; no loop: no fade
        dec fade_wait
        bne @done
        lda #FADE_STEP
        sta fade_wait
        dec level
        beq @next
        jmp set_volume
@done:  rts
@next:  jmp next_track

; X = cur x 8.
track_entry:
        lda cur
        asl a
        asl a
        asl a
        tax
        rts

; A = the buttons pressed since the last frame: bit 0 I, 1 II, 2 SELECT, 3 RUN,
; 4 up, 5 right, 6 down, 7 left.
pad_pressed:
        lda #$01                        ; the first pad (a multitap's too)
        sta PAD
        lda #$03
        sta PAD
        lda #$01
        sta PAD
        pha                             ; the pad settles
        pla
        lda PAD
        asl a
        asl a
        asl a
        asl a
        sta work                        ; directions
        stz PAD
        pha
        pla
        lda PAD
        and #$0F
        ora work
        eor #$FF                        ; pressed reads 0
        tay
        eor last_pad
        sty last_pad
        and last_pad
        rts

; ---------------------------------------------------------------------------
; The screen: 256 x 224, a 32 x 32 map of 8 x 8 characters.

screen_init:
        st0 #$05                        ; display off while it is set up
        st1 #$00
        st2 #$00
        ldx #0
@reg:   lda vdc_setup,x
        sta a:VDC_STATUS
        lda vdc_setup+1,x
        sta a:VDC_LO
        lda vdc_setup+2,x
        sta a:VDC_HI
        inx
        inx
        inx
        cpx #vdc_setup_end - vdc_setup
        bne @reg
        stz VCE_CONTROL                 ; 5 MHz dots: 256 wide
        stz VCE_ADDR_LO
        stz VCE_ADDR_HI
        ldx #0
@color: lda colors,x
        sta VCE_DATA_LO
        lda colors+1,x
        sta VCE_DATA_HI
        inx
        inx
        cpx #colors_end - colors
        bne @color
        ; The map: every cell a space.
        stz work
        cla                             ; address 0: the map
        jsr vram_at_work
        ldy #4
@page:  ldx #0
@cell:  lda #' '
        sta a:VDC_LO
        lda #>TILE
        sta a:VDC_HI
        inx
        bne @cell
        dey
        bne @page
        ; The font: one tile a character from ' ', colour 1 where its pixels are.
        stz work                        ; VRAM $1200: tile $120, the space
        lda #$12
        jsr vram_at_work
        lda #<font
        sta text
        lda #>font
        sta text+1
        ldx #$7F - $20                  ; characters
@glyph: ldy #0
@row:   lda (text),y
        sta a:VDC_LO
        stz a:VDC_HI
        iny
        cpy #8
        bne @row
@blank: stz a:VDC_LO                      ; planes 2 and 3
        stz a:VDC_HI
        dey
        bne @blank
        clc
        lda text
        adc #8
        sta text
        bcc :+
        inc text+1
:       dex
        bne @glyph
        ; What does not change.
        ldx #ROW_HELP
        ldy #2
        lda #<help1
        sta text
        lda #>help1
        sta text+1
        jsr draw_text
        ldx #ROW_HELP + 2               ; a row between the two
        ldy #2
        lda #<help2
        sta text
        lda #>help2
        sta text+1
        jsr draw_text
        st0 #$05                        ; background on, the frame's end flagged
        st1 #$88
        st2 #$00
        rts

; VRAM writes from word address A x 256 + work.
vram_at_work:
        pha
        st0 #$00
        lda work
        sta a:VDC_LO
        pla
        sta a:VDC_HI
        st0 #$02
        rts

; VRAM writes from map cell (row X, column Y).
cell_at:
        stz work+1
        txa
        asl a                           ; row x 32
        asl a
        asl a
        asl a
        rol work+1
        asl a
        rol work+1
        sta work
        tya
        clc
        adc work
        sta work
        lda work+1
        adc #0
        jmp vram_at_work

; The string at `text` (NUL-terminated, at most 32 characters) at row X, column Y,
; in palette A's high byte bits (work+1 is lost).
draw_text:
        cla
; The same in the title's palette when A = >TITLE_PAL.
draw_text_in:
        pha
        jsr cell_at
        pla
        ora #>TILE
        sta work
        ldy #0
@char:  lda (text),y
        beq @done
        cmp #$7F
        bcs @other
        cmp #' '
        bcs @put
@other: lda #'?'
@put:   sta a:VDC_LO
        lda work
        sta a:VDC_HI
        iny
        cpy #32
        bne @char
@done:  rts

; Row X cleared.
clear_row:
        ldy #0
        jsr cell_at
        ldx #32
@cell:  lda #' '
        sta a:VDC_LO
        lda #>TILE
        sta a:VDC_HI
        dex
        bne @cell
        rts

; Track `cur`'s number, title, game, author and length.
draw_track:
        ldx #ROW_TRACK
        ldy #2
        lda #<track_word
        sta text
        lda #>track_word
        sta text+1
        jsr draw_text                   ; "Track "
        lda cur
        inc a
        jsr put_number
        lda #'/'
        jsr put_char
        lda TRACK_COUNT
        jsr put_number
        jsr track_entry
        lda TRACKS+4,x
        sta text
        lda TRACKS+5,x
        sta text+1
        ldx #ROW_TITLE
        jsr clear_row
        ldx #ROW_TITLE
        ldy #TEXT_COLUMN
        lda #>TITLE_PAL
        jsr draw_text_in
        jsr next_text
        ldx #ROW_GAME
        jsr text_row
        ldx #ROW_AUTHOR
        jsr text_row
        ldx #ROW_TIME
        jsr clear_row
        lda (text)
        sta has_length
        ldx #ROW_TIME
        ldy #12
        jmp draw_text                   ; the length, after the time

; Row X cleared and the string at `text` on it; `text` then at the next string.
text_row:
        phx
        jsr clear_row
        plx
        ldy #TEXT_COLUMN
        jsr draw_text
; `text` past its string's NUL.
next_text:
        ldy #0
@skip:  lda (text),y
        iny
        cmp #0
        bne @skip
        tya
        clc
        adc text
        sta text
        bcc :+
        inc text+1
:       rts

; Character A where the VRAM writes stand.
put_char:
        sta a:VDC_LO
        lda #>TILE
        sta a:VDC_HI
        rts

; A (0-99) as two digits.
put_number:
        ldx #'0' - 1
        sec
@tens:  inx
        sbc #10
        bcs @tens
        adc #10 + '0'
        pha
        txa
        jsr put_char
        pla
        jmp put_char

; The time played, mm:ss (up to 99:59), before the length.
draw_time:
        ldx #ROW_TIME
        ldy #4
        jsr cell_at
        lda seconds                     ; minutes and seconds of a 16-bit count
        sta work
        lda seconds+1
        sta work+1
        ldx #0                          ; minutes
@minute:
        sec
        lda work
        sbc #60
        tay
        lda work+1
        sbc #0
        bcc @shown
        sta work+1
        sty work
        inx
        cpx #99
        bcc @minute
@shown: txa
        jsr put_number
        lda #':'
        jsr put_char
        lda work
        jsr put_number
        lda has_length
        beq @done
        lda #' '
        jsr put_char
        lda #'/'
        jmp put_char
@done:  rts

.segment "RODATA"
; VDC registers for 256 x 224: register, low byte, high byte.
vdc_setup:
        .byte $06, $00, $00             ; no raster compare
        .byte $07, $00, $00             ; no scroll
        .byte $08, $00, $00
        .byte $09, $00, $00             ; a 32 x 32 map
        .byte $0A, $02, $02             ; horizontal sync and display
        .byte $0B, $1F, $04
        .byte $0C, $02, $0F             ; vertical sync and display
        .byte $0D, $DF, $00
        .byte $0E, $03, $00
        .byte $0F, $00, $00             ; no DMA
vdc_setup_end:
; Palettes 0 and 1, colours 0-1 (GRB, 3 bits each).
colors: .word $0003, $01FF
        .res 28, 0
        .word $0003, $01F8              ; the title in yellow
colors_end:

track_word: .byte "Track ", 0
help1:  .byte "< > I II  track", 0
help2:  .byte "RUN restart  SELECT pause", 0

.segment "FONT"                         ; at bank offset 0x0C00, where tests look for it
.include "font.inc"

; Filled in by the converter: the number of tracks at TABLE; from TRACKS, 8 bytes a
; track: its length in frames (3 bytes, 0: it plays on), 1 when it fades after it
; (it loops), the address of its four strings (title, game, author, length mm:ss).
.segment "TABLE"
TABLE:
