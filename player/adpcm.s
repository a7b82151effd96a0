; The CD unit's ADPCM voice, an MSM5205 (0x32 dd), in; its decoded samples out in
; DDA mode on a PSG channel that the HuC6280 log leaves free.
;
; 0x32 dd: bit 7 the chip (the second is ignored), bits 4-6 the register, bits 0-3
; the value. 0: reset (nonzero holds the voice at 0; a change clears the signal and
; the step, and empties the FIFO); 1: a data nibble; 2: the VCK pin (in slave mode a
; rising edge decodes the next nibble of the FIFO); 4: S1 and S2 (both set: slave
; mode, on an MSM5205); 5: the sample width (0: 3 bits). Other registers do nothing.
; The header at 0xF0 has the clock (bit 31: an MSM6585), at 0xD7 S1 and S2 (bits 0-1)
; and the width (bit 2: 4 bits).
;
; The chip takes a nibble from its FIFO at each tick of its clock / 96, 64 or 48, and
; a log writes each one when it is taken, so a nibble is decoded when it is written
; (in slave mode: at VCK): the rate is the log's. Decoding is the OKI step (49 step
; sizes 16 x 1.1^n, the step index moved by the nibble's low three bits) with the
; signal leaking 11/256 a nibble and held to 12 bits. The signal is kept times 8
; (16 bits), and the leak taken from its high byte: within one twelve-bit step of
; the exact one, far below the five bits the DDA plays.
;
; The channel: the first, from 5 down, that the log is not selecting and has switched
; off or set to volume 0 (its control as the log last wrote it). When the log selects
; that channel, it gets back the control, balance and noise the log last wrote, and
; the ADPCM moves to another; with none free it is not heard until one is. Played only
; beside a HuC6280 log or alone: a song with an SN76489 or a YM2612 has voices on
; fixed channels, and its 0x32 commands are skipped.

AD_VOLUME   = 31                        ; full scale: a PSG channel's full swing, and
AD_DUCK     = 9                         ; the log's channels 13.5 dB lower: the CD unit
                                        ; mixes a full-scale ADPCM about as loud as the
                                        ; six PSG channels at full volume together
AD_STEPS    = 49
AD_ROW      = 64                        ; bytes of a step's row: 16 x (change, next row)
AD_SAMPLES  = 4                         ; a run shows the signal once in 4 samples at most
AD_DROP     = 40                        ; from this quota on (about 5 ms late) nibbles are dropped

.segment "TABLES"
; floor(16 x 1.1^n) for n = 0-48, as the difference from the one before.
ad_step_deltas:
        .byte 16, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 5, 5, 5, 6, 7, 7, 8, 9, 10, 11, 12
        .byte 13, 14, 16, 17, 19, 21, 23, 26, 28, 30, 34, 37, 41, 45, 50, 54, 60, 66
        .byte 72, 80, 87, 97, 106, 116, 129, 141
; How a nibble's low three bits move the step.
ad_adjust: .byte $FF, $FF, $FF, $FF, 2, 4, 6, 8

.segment "BSS"
huc_shadow: .res 32                     ; the log's control, balance, -, noise by channel
ad_fifo:    .res 8                      ; slave mode's nibbles waiting for VCK
ad_leak_lo: .res 256                    ; the leak, by the signal's high byte
ad_leak_hi: .res 256
ad_leak2_lo: .res 256                   ; two nibbles' leak, for the fast path's pairs
ad_leak2_hi: .res 256
ad_rows:    .res AD_STEPS * AD_ROW      ; per step: each nibble's change and next row

.segment "CODE0"

; tmp += the 16-bit value at v.
.macro ad_add v
        clc
        lda tmp
        adc v
        sta tmp
        lda tmp+1
        adc v+1
        sta tmp+1
.endmacro

; From the header: the ADPCM is on when there is an MSM5205 clock and neither an
; SN76489 nor a YM2612. Then its tables are worked out and the log's registers kept.
ad_header:
        lda #$F4
        jsr header_reaches
        bcc @off
        lda HEADER+$F3
        and #$3F
        ora HEADER+$F2
        ora HEADER+$F1
        ora HEADER+$F0
        beq @off
        lda HEADER+$0C
        ora HEADER+$0D
        ora HEADER+$0E
        ora HEADER+$0F
        ora fm_on
        bne @off
        dec ad_on
        lda HEADER+$F3
        and #$80
        sta ad_6585
        lda HEADER+$D7
        pha
        jsr ad_rate
        pla
        and #$04
        jsr ad_width
        ldx #7
@shadow:
        lda #$80                ; as init_psg leaves them: on, volume 0
        sta huc_shadow,x
        lda #$FF
        sta huc_shadow+8,x
        stz huc_shadow+24,x
        dex
        bpl @shadow
        jsr ad_tables
        lda #<-16               ; the chip starts at -2
        sta ad_sig
        dec ad_sig+1
        jmp ad_clear_step
@off:   rts

.segment "CODE"

; 0x32 dd.
adpcm_write:
        lda ad_on
        bne @on
        jmp skip_command
@on:    next_byte
        tax
        and #$F0
        cmp #$10
        beq ad_run
        cmp #$20
        beq ad_run
        cmp #$40
        beq @rate
        cmp #$50
        beq @width
        cmp #$00
        bne @done
        txa                     ; reset: the FIFO emptied while it is held
        beq :+
        stz ad_fifo_r
        stz ad_fifo_w
:       cmp ad_reset
        beq @done
        sta ad_reset
        stz ad_sig
        stz ad_sig+1
        jsr ad_clear_step
        jmp ad_show
@rate:  txa
        bra ad_rate
@width: txa
        and #$0F
        bra ad_width
@done:  rts

; S1 and S2 from A's bits 0-1: both set is slave mode, on an MSM5205.
ad_rate:
        and #$03
        eor #$03
        ora ad_6585
        sta ad_master           ; 0 in slave mode
        rts

; The sample width from A: 0 is 3 bits, anything else 4.
ad_width:
        cmp #1                  ; carry clear for 0
        cla
        sbc #0
        sta ad_bits3            ; 0xFF for 3 bits
        rts

ad_clear_step:
        lda #<ad_rows
        sta ad_row
        lda #>ad_rows
        sta ad_row+1
        rts

; Data nibbles and VCK edges, from the one in X on, are decoded, and the short waits
; between them taken, until those wait `quota` samples (AD_SAMPLES at least); then
; the signal is shown and the run waits, its account pcm_run's by the nibbles it took.
; Anything else ends the run, left to the main loop. Nibbles in master mode, 4 bits
; wide, out of reset take the fast path, with the signal's high byte in X.
ad_run:
        stz wtotal
        stz ym_skips
        lda #PCM_RUN_LIMIT
        sta run
        lda quota
        cmp #AD_SAMPLES
        bcs :+
        lda #AD_SAMPLES
:       sta ad_quota
        cmp #AD_DROP
        bcc :+
        jmp ad_drop
:       lda ad_lost             ; nibbles were passed over: decoding starts afresh
        beq :+
        stz ad_lost
        stz ad_sig
        stz ad_sig+1
        jsr ad_clear_step
:       lda ad_master
        beq @general
        lda ad_reset
        ora ad_bits3
        bne @general
        txa
        eor #$10
        cmp #$10
        bcc @fast               ; a nibble
        cmp #$30                ; VCK, which master mode does without: kept, and the
        bcc @general            ; run goes on to the nibbles after it
        cmp #$40
        bcs @general
        and #$0F
        sta ad_vck
        ldx ad_sig+1
        lda ad_pair
        beq :+
        jmp ad_after_a          ; its next nibble a pair's second
:       jmp ad_after_b
@general:
        jmp ad_general
@fast:
        ldx ad_sig+1
        ldy ad_pair
        beq :+
        jmp ad_nibble_b
:       jmp ad_nibble_a

; Nibbles on the fast path come in pairs, across runs (`ad_pair`): the first takes
; the leak of both, the second none (the signal then differs from the chip's by a
; twentieth of the last change at most). Each decodes nibble A, then takes the run's
; next command; `done` ends the run.
.macro ad_fast leak, other, done, next
        .local over, clamp, low, step, fetch, vck, wait, page, out
        asl a
        asl a
        tay
.if leak
        clc                     ; the leak, two nibbles' worth
        lda ad_sig
        adc ad_leak2_lo,x
        sta ad_sig
        txa
        adc ad_leak2_hi,x
        tax
.endif
        clc                     ; the change
        lda ad_sig
        adc (ad_row),y
        sta ad_sig
        iny
        txa
        adc (ad_row),y
        bvs over
        tax
        clc
        adc #$40                ; within 12 bits: high byte 0xC0-0x3F
        bmi clamp
step:   iny                     ; the next row
        lda (ad_row),y
        pha
        iny
        lda (ad_row),y
        sta ad_row+1
        pla
        sta ad_row
        dec run
        beq out
next:
fetch:  lda (ptr)
        cmp #$32
        bne wait
        ldy #1
        lda (ptr),y
        eor #$10
        cmp #$10
        bcs vck
        tay
        lda ptr                 ; carry is clear
        adc #2
        sta ptr
        tya
        bcc :+
        jsr next_page
:       jmp other
vck:    cmp #$30                ; VCK, which master mode does without: kept, passed over
        bcc out
        cmp #$40
        bcs out
        and #$0F
        sta ad_vck
        lda ptr
        clc
        adc #2
        sta ptr
        bcc fetch
        jsr next_page
        bra fetch
wait:   short_wait out          ; 0x7n, while under the quota
        clc
        adc wtotal
        sta wtotal
        inc ptr
        beq page
        cmp ad_quota
        bcc fetch
out:    jmp done
page:   jsr next_page
        cmp ad_quota
        bcc fetch
        bra out
over:   eor #$80                ; the sum's sign was lost: the limit on its side
        tax
clamp:  txa
        bmi low
        lda #$F8
        sta ad_sig
        ldx #$3F
        bra step
low:    stz ad_sig
        ldx #$C0
        bra step
.endmacro

ad_nibble_a:
        ad_fast 1, ad_nibble_b, ad_pair_open, ad_after_a
ad_nibble_b:
        ad_fast 0, ad_nibble_a, ad_pair_closed, ad_after_b

ad_pair_open:                   ; the next nibble is a pair's second
        lda #1
        sta ad_pair
        bra ad_fast_end
ad_pair_closed:
        stz ad_pair
ad_fast_end:
        stx ad_sig+1
        ; fall through
; The end of a run: the signal shown, the run's wait and account.
ad_end:
        jsr ad_show
        jmp run_end

.segment "CODE0"

; The same for slave mode, 3-bit samples, reset and VCK, a command at a time.
ad_general:
@take:  txa
        and #$F0
        cmp #$20
        beq @vck
        lda ad_reset            ; a nibble: dropped in reset
        bne @next
        lda ad_master
        beq @push
        txa
@nibble:
        and #$0F
        ldy ad_bits3
        beq :+
        asl a
        and #$0F
:       jsr ad_decode
        dec run
@next:  dec run
        lda run
        cmp #2
        bcc @end
        lda (ptr)
        cmp #$32
        bne @wait
        ldy #1
        lda (ptr),y
        tax
        and #$F0
        cmp #$10
        beq @pass
        cmp #$20
        bne @end
@pass:  lda #2                  ; keeps X
        jsr skip
        bra @take
@wait:  jsr ad_wait
        bcc @next
@end:   jmp ad_end
@push:  lda ad_fifo_w           ; slave mode: into the FIFO, dropped when full
        tay
        inc a
        and #7
        cmp ad_fifo_r
        beq @next
        sta ad_fifo_w
        txa
        sta ad_fifo,y
        bra @next
@vck:   txa                     ; a rising edge decodes the FIFO's next nibble
        and #$0F
        tay
        eor ad_vck
        sty ad_vck
        lsr a
        bcc @next
        tya
        beq @next
        lda ad_master
        ora ad_reset
        bne @next
        ldy ad_fifo_r
        cpy ad_fifo_w
        beq @next
        lda ad_fifo,y
        pha
        tya
        inc a
        and #7
        sta ad_fifo_r
        pla
        jmp @nibble

; Far behind time, the player passes nibbles over undecoded (about 50 cycles each),
; the voice at 0, and decodes afresh once it has caught up: a stream the decoder
; cannot keep up with costs nibbles, not time.
ad_drop:
        lda #$FF
        sta ad_lost
        stz ad_sig
        stz ad_sig+1
@next:  dec run
        beq @end
        lda (ptr)
        cmp #$32
        bne @wait
        ldy #1
        lda (ptr),y
        and #$70
        cmp #$10                ; data and VCK, of either chip: passed over
        beq @pass
        cmp #$20
        bne @end
@pass:  lda ptr                 ; in place, not through skip: the pass must be cheap
        clc
        adc #2
        sta ptr
        bcc @next
        jsr next_page
        bra @next
@wait:  jsr ad_wait
        bcc @next
@end:   jmp ad_end

; A short wait (0x7n, command byte A) taken into the run: carry clear while what the
; run took waits less than its quota, set when the run is to end (and for any other
; command, left in the stream).
ad_wait:
        short_wait @other
        clc
        adc wtotal
        sta wtotal
        inc ptr
        bne :+
        jsr next_page
:       cmp ad_quota
        rts
@other: sec
        rts

; Decodes nibble A (0-15): the leak, the change (times 8, overflowing 16 bits only
; beyond the 12-bit range), the next row.
ad_decode:
        asl a
        asl a
        tay
        ldx ad_sig+1
        clc
        lda ad_sig
        adc ad_leak_lo,x
        sta ad_sig
        txa
        adc ad_leak_hi,x
        tax
        clc
        lda ad_sig
        adc (ad_row),y
        sta ad_sig
        iny
        txa
        adc (ad_row),y
        bvs @over
        tax
        clc
        adc #$40
        bmi @clamp
        stx ad_sig+1
@step:  iny
        lda (ad_row),y
        tax
        iny
        lda (ad_row),y
        sta ad_row+1
        stx ad_row
        rts
@over:  eor #$80
        tax
@clamp: txa
        bmi @low
        lda #$F8
        sta ad_sig
        lda #$3F
        bra @limit
@low:   stz ad_sig
        lda #$C0
@limit: sta ad_sig+1
        bra @step

.segment "CODE"

; The signal on the ADPCM's channel, five bits; a channel taken first when it has none.
ad_show:
        lda ad_sig+1
        clc
        adc #$40
        lsr a
        lsr a
        sta ad_out
        ldx ad_ch
        bpl :+
        jmp ad_place
:       stx PSG_SELECT
        sta PSG_WAVE
        lda huc_select
        sta PSG_SELECT
        rts

; A = the log's channel control A with its volume AD_DUCK steps lower (0 at least).
ad_duck:
        pha
        and #$1F
        cmp #AD_DUCK
        pla
        bcs @lower
        and #$E0
        rts
@lower: sbc #AD_DUCK            ; carry set
        rts

; With the ADPCM on: the log's control, balance and noise (registers X = 4, 5, 7,
; value A) kept by channel, as the log wrote them. Keeps A and X.
huc_keep:
        cpx #4
        bcc @done
        cpx #6
        beq @done
        cpx #8
        bcs @done
        pha
        txa
        asl a
        asl a
        asl a
        ora huc_chan
        tay
        pla
        sta huc_shadow-32,y
@done:  rts

; The log selects the ADPCM's channel: it gets back what the log last wrote to it,
; and the ADPCM moves to another.
ad_leave:
        ldx ad_ch
        lda huc_shadow+24,x
        cpx #NOISE_CHANNEL
        bcc :+
        sta PSG_NOISE
:       lda huc_shadow+8,x
        sta PSG_CHANBAL
        lda huc_shadow,x
        jsr ad_duck
        sta PSG_CONTROL
        lda #$FF
        sta ad_ch
        ; fall through
; Takes the first channel from 5 down that the log is not selecting and leaves
; silent (switched off or at volume 0) for the ADPCM, if there is one.
ad_place:
        ldx #5
@try:   cpx huc_chan
        beq @busy
        lda huc_shadow,x
        bpl @take
        and #$1F
        beq @take
@busy:  dex
        bpl @try
        bra @back
@take:  stx ad_ch
        stx PSG_SELECT
        lda #$FF
        sta PSG_CHANBAL
        cpx #NOISE_CHANNEL
        bcc :+
        stz PSG_NOISE
:       lda #$C0 | AD_VOLUME    ; on, DDA
        sta PSG_CONTROL
        lda ad_out
        sta PSG_WAVE
@back:  lda huc_select
        sta PSG_SELECT
        rts

.segment "CODE0"

; The tables, worked out once: the leak -11 h - 10 for the signed high byte h of the
; signal (times 8) and twice that, and each step's row: for each nibble the signal's change, times 8
; (step / 8, plus the step, a half and a quarter of it by bits 2, 1, 0; bit 3 the
; sign), and the row of the step it moves to.
ad_tables:
        ldx #0
        lda #<-10
        sta tmp
        lda #>-10
        sta tmp+1
@leak:  lda tmp
        sta ad_leak_lo,x
        asl a                   ; twice the leak for two nibbles
        sta ad_leak2_lo,x
        lda tmp+1
        sta ad_leak_hi,x
        rol a
        sta ad_leak2_hi,x
        sec
        lda tmp
        sbc #11
        sta tmp
        bcs :+
        dec tmp+1
:       inx
        cpx #$80                ; h = x - 256 from here on
        bne :+
        lda tmp+1
        clc
        adc #$0B
        sta tmp+1
:       txa
        bne @leak
        jsr ad_clear_step       ; ad_row walks the rows, tmp+3 counts them
        stz tmp+3
        stz count               ; the step size
        stz count+1
@row:   ldx tmp+3
        clc
        lda count
        adc ad_step_deltas,x
        sta count
        bcc :+
        inc count+1
        ; Times 8: step / 8 in product, / 4 in product+2, / 2 in factor, the step in
        ; factor+2, each rounded down before.
:       lda count
        and #$F8
        sta product
        lda count+1
        sta product+1
        lda count
        and #$FC
        asl a
        sta product+2
        lda count+1
        rol a
        sta product+3
        lda count
        and #$FE
        asl a
        sta factor
        lda count+1
        rol a
        asl factor
        rol a
        sta factor+1
        lda count
        asl a
        sta factor+2
        lda count+1
        rol a
        asl factor+2
        rol a
        asl factor+2
        rol a
        sta factor+3
        ldy #0                  ; 4 x the nibble, 0-7: 8-15 are the same negative
@nibble:
        lda product
        sta tmp
        lda product+1
        sta tmp+1
        tya
        and #16
        beq :+
        ad_add factor+2
:       tya
        and #8
        beq :+
        ad_add factor
:       tya
        and #4
        beq :+
        ad_add product+2
:       lda tmp
        sta (ad_row),y
        iny
        lda tmp+1
        sta (ad_row),y
        tya
        clc
        adc #31
        tay
        sec
        cla
        sbc tmp
        sta (ad_row),y
        iny
        cla
        sbc tmp+1
        sta (ad_row),y
        ; The next step, held to 0-48, and its row: ad_rows + 64 x step.
        tya
        sec
        sbc #33
        lsr a
        lsr a
        tax
        lda tmp+3
        clc
        adc ad_adjust,x
        bpl :+
        cla
:       cmp #AD_STEPS
        bcc :+
        lda #AD_STEPS - 1
:       sta tmp
        lsr a
        lsr a
        sta tmp+1
        lda tmp                 ; (step & 3) << 6
        ror a
        ror a
        ror a
        and #$C0
        clc
        adc #<ad_rows
        sta tmp
        lda tmp+1
        adc #>ad_rows
        sta tmp+1
        iny
        lda tmp
        sta (ad_row),y
        iny
        lda tmp+1
        sta (ad_row),y
        tya
        sec
        sbc #32
        tay
        lda tmp+1
        sta (ad_row),y
        dey
        lda tmp
        sta (ad_row),y
        iny
        iny
        cpy #32
        beq :+
        jmp @nibble
:       clc
        lda ad_row
        adc #AD_ROW
        sta ad_row
        bcc :+
        inc ad_row+1
:       inc tmp+3
        lda tmp+3
        cmp #AD_STEPS
        beq :+
        jmp @row
:       rts
