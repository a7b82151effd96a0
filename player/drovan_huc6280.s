; HuC6280 player for quorvel's HES files: plays the SN76489 part of the converted
; VGM image on the HuC6280 PSG, in real time from the timer interrupt's tick count.
;
; Memory: logical 0x4000 (bank 1 of this image) holds the code and is entered at
; 0x4000; 0xE000 (bank 0) holds the tables and the CPU vectors. The converted image
; follows the player; its 32 KiB bank j is physical banks 2+4j..5+4j and is read
; through logical windows 3-6 (0x6000-0xDFFF).
;
; Timing: the timer fires every 7 x 1024 CPU cycles (about 998.76 Hz). With the CPU
; at 315/44 MHz, 1024 cycles are 44100 x 1024 x 44 / 315000000 = 19712/3125 samples
; at 44.1 kHz, so time is kept in units of 1/3125 sample, in which one tick is
; exactly 137984 units: the song never drifts.

.setcpu "huc6280"

PSG_SELECT   = $0800
PSG_BALANCE  = $0801
PSG_FREQ_LO  = $0802
PSG_FREQ_HI  = $0803
PSG_CONTROL  = $0804
PSG_CHANBAL  = $0805
PSG_WAVE     = $0806
PSG_NOISE    = $0807
PSG_LFO_CTRL = $0809
TIMER_RELOAD = $0C00
TIMER_START  = $0C01
IRQ_DISABLE  = $1402
IRQ_ACK      = $1403

TICK_RELOAD  = 6                        ; period (6 + 1) x 1024 cycles
TICK_UNITS   = 19712 * (TICK_RELOAD + 1) ; 1/3125 samples per tick
NOISE_CHANNEL = 4                       ; the first PSG channel with a noise mode
WINDOW_START = $60                      ; high byte of logical 0x6000
WINDOW_END   = $E0

.segment "ZEROPAGE"
ptr:      .res 2    ; next byte of the stream
bank:     .res 1    ; 32 KiB image bank in windows 3-6
credit:   .res 4    ; song time due, 1/3125 samples, signed
ticks:    .res 1    ; timer ticks not yet added to credit
stopped:  .res 1
pos:      .res 4    ; an image offset
tmp:      .res 4
loop:     .res 4    ; image offset of the loop command, 0 when none
wide40:   .res 1    ; nonzero: commands 0x40-0x4E take two operands
scale:    .res 3    ; 3579545 x 65536 / SN76489 clock, 0 for the standard clock
latch:    .res 1    ; last SN76489 latch byte
atten:    .res 4    ; SN76489 attenuations
noise:    .res 1    ; SN76489 noise control
product:  .res 4
factor:   .res 4
count:    .res 2
dividend: .res 6    ; clock division: dividend, then quotient
remain:   .res 5
divisor:  .res 4

; Indexed by Y, which has no zero-page form for every instruction used: kept in RAM
; proper, since an absolute address below 0x100 would reach the I/O page instead.
.segment "BSS"
tone:     .res 6    ; SN76489 tone periods, low and high byte per channel

.segment "TABLES"
; n x 3125 for n = 0..255, in three byte planes: a wait of n samples costs n x 3125
; units, and the high byte of a 16-bit wait costs the same shifted by one byte.
units0: .repeat 256, I
        .byte <(I * 3125)
        .endrepeat
units1: .repeat 256, I
        .byte >(I * 3125)
        .endrepeat
units2: .repeat 256, I
        .byte ^(I * 3125)
        .endrepeat

; Operand bytes after each command byte, as the converter frames them. The data
; block (0x67), the end of data (0x66) and the bank-end marker (0x4B) are handled
; before this table is consulted.
operands:
        .repeat 256, C
        .if C >= $30 && C <= $3F
            .byte 1
        .elseif C >= $40 && C <= $4E
            .byte 2
        .elseif C = $4F || C = $50 || C = $94
            .byte 1
        .elseif (C >= $51 && C <= $5F) || C = $61 || (C >= $A0 && C <= $BF)
            .byte 2
        .elseif C >= $C0 && C <= $DF
            .byte 3
        .elseif C >= $E0 || C = $90 || C = $91 || C = $95
            .byte 4
        .elseif C = $92
            .byte 5
        .elseif C = $93
            .byte 10
        .elseif C = $68
            .byte 11
        .else
            .byte 0
        .endif
        .endrepeat

; SN76489 attenuation (2 dB steps) to PSG volume (1.5 dB steps): 31 - round(4a/3).
volumes: .byte 31, 30, 28, 27, 26, 24, 23, 22, 20, 19, 18, 16, 15, 14, 12, 0

; PSG channel of each SN76489 channel.
psg_channel: .byte 0, 1, 2, NOISE_CHANNEL

; Handler of each command byte.
handlers:
        .repeat 256, C
        .if C = $4B
            .word bank_end
        .elseif C = $4F
            .word gg_stereo
        .elseif C = $50
            .word sn_write
        .elseif C = $61
            .word wait_n
        .elseif C = $62
            .word wait_735
        .elseif C = $63
            .word wait_882
        .elseif C = $66
            .word end_of_data
        .elseif C = $67
            .word data_block
        .elseif C >= $70 && C <= $7F
            .word wait_short
        .elseif C >= $80 && C <= $8F
            .word wait_pcm
        .elseif C >= $40 && C <= $4E
            .word skip_reserved
        .else
            .word skip_command
        .endif
        .endrepeat

.segment "VECTORS"
        .word ignore_irq        ; IRQ2 and BRK
        .word ignore_irq        ; IRQ1 (video)
        .word timer_irq
        .word ignore_irq        ; NMI
        .word init              ; reset

.segment "CODE"

; Entered by the HES player with interrupts disabled. Sets everything up, then
; plays the song from the main loop below for ever.
init:
        sei
        csh
        cld
        clx
@clear: stz $00,x
        inx
        bne @clear
        ldx #5
@tones: stz tone,x
        dex
        bpl @tones

        jsr read_header
        jsr init_psg

        lda #TICK_RELOAD
        sta TIMER_RELOAD
        lda #$01
        sta TIMER_START
        lda #$03                ; timer interrupt on, IRQ1 and IRQ2 off
        sta IRQ_DISABLE
        sta IRQ_ACK
        cli

; Runs the commands that are due; when the song is ahead of the clock, turns
; waiting ticks into credit.
main:
        lda stopped
        bne main
        lda credit+3
        bpl @due
        lda ticks
        beq main
        dec ticks
        clc
        lda credit
        adc #<TICK_UNITS
        sta credit
        lda credit+1
        adc #>TICK_UNITS
        sta credit+1
        lda credit+2
        adc #^TICK_UNITS
        sta credit+2
        lda credit+3
        adc #0
        sta credit+3
        bra main
@due:   jsr run_command
        bra main

timer_irq:
        sta IRQ_ACK
        inc ticks
ignore_irq:
        rti

; ---------------------------------------------------------------------------
; The image header, read from bank 0 before the first command.

HEADER = WINDOW_START * 256

read_header:
        ; First command: 64 when the version byte is below 0x10, otherwise the data
        ; offset at 0x34 plus 0x34, at least 64.
        stz pos+1
        stz pos+2
        stz pos+3
        lda #64
        sta pos
        lda HEADER+$08
        cmp #$10
        bcc @start
        clc
        lda HEADER+$34
        adc #$34
        sta tmp
        lda HEADER+$35
        adc #0
        sta tmp+1
        lda HEADER+$36
        adc #0
        sta tmp+2
        lda HEADER+$37
        adc #0
        sta tmp+3
        ora tmp+2
        ora tmp+1
        bne @use
        lda tmp
        cmp #64
        bcc @start
@use:   ldx #3
@copy:  lda tmp,x
        sta pos,x
        dex
        bpl @copy
@start: ; Commands 0x40-0x4E have two operands from VGM 1.60 on. The version's low
        ; byte is rewritten by the converter, so a 1.xx file counts as 1.60 or later
        ; when its header is longer than the 0x80 bytes of 1.51.
        lda HEADER+$0A
        ora HEADER+$0B
        bne @wide
        lda HEADER+$09
        cmp #2
        bcs @wide
        cmp #1
        bne @narrow
        lda pos+1
        ora pos+2
        ora pos+3
        bne @wide
        lda pos
        cmp #$81
        bcc @narrow
@wide:  lda #1
        sta wide40
@narrow:
        jsr seek

        ; Loop: offset at 0x1C, relative to 0x1C; 0 means no loop.
        lda HEADER+$1C
        ora HEADER+$1D
        ora HEADER+$1E
        ora HEADER+$1F
        beq @clock
        clc
        lda HEADER+$1C
        adc #$1C
        sta loop
        lda HEADER+$1D
        adc #0
        sta loop+1
        lda HEADER+$1E
        adc #0
        sta loop+2
        lda HEADER+$1F
        adc #0
        sta loop+3
@clock: jmp read_clock

; SN76489 clock (0x0C, bits 0-29): tone periods are scaled by 3579545 / clock,
; kept as a 16.16 factor. The standard clock (or none) needs no scaling.
read_clock:
        lda HEADER+$0F
        and #$3F
        sta divisor+3
        lda HEADER+$0E
        sta divisor+2
        lda HEADER+$0D
        sta divisor+1
        lda HEADER+$0C
        sta divisor
        ora divisor+1
        ora divisor+2
        ora divisor+3
        beq @done
        lda divisor
        cmp #$99
        bne @scale
        lda divisor+1
        cmp #$9E
        bne @scale
        lda divisor+2
        cmp #$36
        bne @scale
        lda divisor+3
        beq @done
@scale: ; dividend = 3579545 x 65536 + clock / 2, for rounding
        lda divisor+3
        lsr a
        sta dividend+3
        lda divisor+2
        ror a
        sta dividend+2
        lda divisor+1
        ror a
        sta dividend+1
        lda divisor
        ror a
        sta dividend
        stz dividend+4
        stz dividend+5
        clc
        lda dividend+2
        adc #$99
        sta dividend+2
        lda dividend+3
        adc #$9E
        sta dividend+3
        lda dividend+4
        adc #$36
        sta dividend+4
        lda dividend+5
        adc #0
        sta dividend+5
        jsr divide
        ; Keep 22 bits at most, so that a 10-bit period times the factor fits.
        lda dividend+5
        ora dividend+4
        bne @clamp
        lda dividend+3
        cmp #$40
        bcs @clamp
        lda dividend
        sta scale
        lda dividend+1
        sta scale+1
        lda dividend+2
        sta scale+2
        ora scale+1
        ora scale
        bne @done
        inc scale               ; a zero factor would mean "no scaling"
@done:  rts
@clamp: lda #$FF
        sta scale
        sta scale+1
        lda #$3F
        sta scale+2
        rts

; dividend (48 bits) / divisor (32 bits): quotient in dividend.
divide:
        stz remain
        stz remain+1
        stz remain+2
        stz remain+3
        stz remain+4
        ldy #48
@bit:   asl dividend
        rol dividend+1
        rol dividend+2
        rol dividend+3
        rol dividend+4
        rol dividend+5
        rol remain
        rol remain+1
        rol remain+2
        rol remain+3
        rol remain+4
        sec
        lda remain
        sbc divisor
        sta tmp
        lda remain+1
        sbc divisor+1
        sta tmp+1
        lda remain+2
        sbc divisor+2
        sta tmp+2
        lda remain+3
        sbc divisor+3
        sta tmp+3
        lda remain+4
        sbc #0
        bcc @next
        sta remain+4
        lda tmp+3
        sta remain+3
        lda tmp+2
        sta remain+2
        lda tmp+1
        sta remain+1
        lda tmp
        sta remain
        inc dividend
@next:  dey
        bne @bit
        rts

; ---------------------------------------------------------------------------
; The PSG: a square wave on every channel, full balance, silent.

init_psg:
        lda #$FF                ; the main balance before any channel
        sta PSG_BALANCE
        ldx #5
@chan:  stx PSG_SELECT
        stz PSG_CONTROL         ; off: the waveform index restarts
        lda #$FF
        sta PSG_CHANBAL
        ldy #32
@wave:  lda #$1F
        cpy #17
        bcs @high
        cla
@high:  sta PSG_WAVE
        dey
        bne @wave
        stz PSG_NOISE
        stz PSG_FREQ_LO
        stz PSG_FREQ_HI
        lda #$80                ; on, volume 0
        sta PSG_CONTROL
        dex
        bpl @chan
        stz PSG_LFO_CTRL
        ldx #3
        lda #$0F
@quiet: sta atten,x
        dex
        bpl @quiet
        jmp update_noise

; ---------------------------------------------------------------------------
; The stream.

; Maps image bank A into windows 3-6.
map_bank:
        asl a
        asl a
        clc
        adc #2
        tam #$08
        inc a
        tam #$10
        inc a
        tam #$20
        inc a
        tam #$40
        rts

; Moves the stream to image offset pos.
seek:
        lda pos+1
        asl a
        lda pos+2
        rol a
        sta bank
        jsr map_bank
        lda pos
        sta ptr
        lda pos+1
        and #$7F
        clc
        adc #WINDOW_START
        sta ptr+1
        rts

; pos = the stream's image offset.
tell:
        lda ptr
        sta pos
        lda ptr+1
        sec
        sbc #WINDOW_START
        sta pos+1
        lda bank
        lsr a
        sta pos+2
        bcc @even
        lda pos+1
        ora #$80
        sta pos+1
@even:  stz pos+3
        rts

; A = next byte of the stream, with N and Z set from it; crosses into the next bank
; at the end of the windows.
get_byte:
        lda (ptr)
        pha
        inc ptr
        bne @done
        inc ptr+1
        lda ptr+1
        cmp #WINDOW_END
        bne @done
        lda #WINDOW_START
        sta ptr+1
        inc bank
        lda bank
        jsr map_bank
@done:  pla
        rts

; Runs one command: dispatched through a table by its byte, which the handler
; finds in Y.
run_command:
        jsr get_byte
        tay
        asl a
        tax
        bcs @high
        jmp (handlers,x)
@high:  jmp (handlers+256,x)

; Any other command: skips its operands (at most 11, so one page at most).
skip_command:
        lda operands,y
skip:   clc
        adc ptr
        sta ptr
        bcc @done
        inc ptr+1
        lda ptr+1
        cmp #WINDOW_END
        bne @done
        lda #WINDOW_START
        sta ptr+1
        inc bank
        lda bank
        jmp map_bank
@done:  rts

; 0x40-0x4E: one operand before VGM 1.60, two from then on.
skip_reserved:
        lda wide40
        bne @two
        lda #1
        bra skip
@two:   lda #2
        bra skip

; The bank ends here; its next command starts the next bank. A marker in a bank's
; last byte has already brought the stream there.
bank_end:
        lda ptr
        bne @next
        lda ptr+1
        cmp #WINDOW_START
        beq @done
@next:  inc bank
        lda bank
        jsr map_bank
        stz ptr
        lda #WINDOW_START
        sta ptr+1
@done:  rts

wait_short:                     ; 0x7n: n + 1 samples
        tya
        and #$0F
        inc a
        clx
        bra wait
wait_pcm:                       ; 0x8n: n samples (the YM2612 write is skipped)
        tya
        and #$0F
        clx
        bra wait
wait_735:
        lda #<735
        ldx #>735
        bra wait
wait_882:
        lda #<882
        ldx #>882
        bra wait
wait_n:
        jsr get_byte
        pha
        jsr get_byte
        tax
        pla
; Waits A + 256 X samples: credit -= (A + 256 X) x 3125.
wait:
        tay
        sec
        lda credit
        sbc units0,y
        sta credit
        lda credit+1
        sbc units1,y
        sta credit+1
        lda credit+2
        sbc units2,y
        sta credit+2
        lda credit+3
        sbc #0
        sta credit+3
        sec
        lda credit+1
        sbc units0,x
        sta credit+1
        lda credit+2
        sbc units1,x
        sta credit+2
        lda credit+3
        sbc units2,x
        sta credit+3
        rts

; 0x67 0x66 type size32 data: skipped by its size (bit 31 marks the second chip).
data_block:
        jsr get_byte            ; 0x66
        jsr get_byte            ; type
        ldx #0
@size:  jsr get_byte
        sta tmp,x
        inx
        cpx #4
        bne @size
        lda tmp+3
        and #$7F
        sta tmp+3
        jsr tell
        clc
        lda pos
        adc tmp
        sta pos
        lda pos+1
        adc tmp+1
        sta pos+1
        lda pos+2
        adc tmp+2
        sta pos+2
        lda pos+3
        adc tmp+3
        sta pos+3
        jmp seek

; 0x66: to the loop command, or silence and stop.
end_of_data:
        lda loop
        ora loop+1
        ora loop+2
        ora loop+3
        beq @stop
        ldx #3
@copy:  lda loop,x
        sta pos,x
        dex
        bpl @copy
        jmp seek
@stop:  ldx #5
@mute:  stx PSG_SELECT
        stz PSG_CONTROL
        dex
        bpl @mute
        inc stopped
        rts

; ---------------------------------------------------------------------------
; SN76489 writes (0x50 dd).

sn_write:
        jsr get_byte
        sta tmp
        bpl @data
        sta latch
        jsr latched_channel
        lda latch
        and #$10
        bne set_volume
        cpx #3
        beq set_noise
        txa                     ; tone: the low four bits of the period
        asl a
        tay
        lda tone,y
        and #$F0
        sta tmp+1
        lda tmp
        and #$0F
        ora tmp+1
        sta tone,y
        jmp update_tone
@data:  jsr latched_channel
        lda latch
        and #$10
        bne set_volume
        cpx #3
        beq set_noise
        txa                     ; tone: the high six bits of the period
        asl a
        tay
        lda tmp
        asl a
        asl a
        asl a
        asl a
        sta tmp+1
        lda tone,y
        and #$0F
        ora tmp+1
        sta tone,y
        lda tmp
        lsr a
        lsr a
        lsr a
        lsr a
        and #$03
        sta tone+1,y
        jmp update_tone

set_volume:
        lda tmp
        and #$0F
        sta atten,x
        ; fall through
; PSG volume of SN76489 channel X.
update_volume:
        lda psg_channel,x
        sta PSG_SELECT
        ldy atten,x
        lda volumes,y
        ora #$80
        sta PSG_CONTROL
        rts

set_noise:
        lda tmp
        and #$07
        sta noise
        ; fall through
; Noise rate: the shift rate is 3579545 / (32 x (32 - NF)) on the PSG and
; 3579545 / (32 x N) on the SN76489, N = 16, 32, 64 or tone 2's period.
update_noise:
        lda noise
        and #$03
        cmp #$03
        beq @tone2
        tay
        lda noise_rates,y
        bra @set
@tone2: lda tone+5
        bne @slow
        lda tone+4
        beq @slow
        cmp #33
        bcs @slow
        eor #$FF                ; 32 - N
        sec
        adc #32
        bra @set
@slow:  cla
@set:   and #$1F
        ora #$80
        ldx #NOISE_CHANNEL
        stx PSG_SELECT
        sta PSG_NOISE
        rts
noise_rates: .byte 16, 0, 0

; X = channel of the latch byte.
latched_channel:
        lda latch
        lsr a
        lsr a
        lsr a
        lsr a
        lsr a
        and #$03
        tax
        rts

; PSG frequency of tone channel X from its SN76489 period.
update_tone:
        txa
        asl a
        tay
        lda scale
        ora scale+1
        ora scale+2
        bne @scaled
        lda tone,y
        sta product+2
        lda tone+1,y
        sta product+3
        bra @write
@scaled:                        ; period x scale / 65536, rounded
        lda tone,y
        sta count
        lda tone+1,y
        sta count+1
        lda scale
        sta factor
        lda scale+1
        sta factor+1
        lda scale+2
        sta factor+2
        stz factor+3
        stz product
        lda #$80
        sta product+1
        stz product+2
        stz product+3
        phy
        ldy #10
@bit:   lsr count+1
        ror count
        bcc @shift
        clc
        lda product
        adc factor
        sta product
        lda product+1
        adc factor+1
        sta product+1
        lda product+2
        adc factor+2
        sta product+2
        lda product+3
        adc factor+3
        sta product+3
@shift: asl factor
        rol factor+1
        rol factor+2
        rol factor+3
        dey
        bne @bit
        ply
        lda product+3
        cmp #$10
        bcc @write
        lda #$FF
        sta product+2
        lda #$0F
        sta product+3
@write: stx PSG_SELECT
        lda product+2
        sta PSG_FREQ_LO
        lda product+3
        sta PSG_FREQ_HI
        cpx #2
        bne @done
        lda noise
        and #$03
        cmp #$03
        bne @done
        jmp update_noise
@done:  rts

; 0x4F dd: Game Gear stereo. Bit n lets SN76489 channel n out on the right, bit
; n + 4 on the left.
gg_stereo:
        jsr get_byte
        sta tmp
        ldx #0
@chan:  lda tmp
        and bit_right,x
        beq @noright
        lda #$0F
@noright:
        sta tmp+1
        lda tmp
        and bit_left,x
        beq @noleft
        lda #$F0
@noleft:
        ora tmp+1
        ldy psg_channel,x
        sty PSG_SELECT
        sta PSG_CHANBAL
        inx
        cpx #4
        bne @chan
        rts
bit_right: .byte $01, $02, $04, $08
bit_left:  .byte $10, $20, $40, $80
