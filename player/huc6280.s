; HuC6280 writes (0xB9 aa dd) in, the same writes to the PSG out: register aa
; (0-9) is 0x0800 + aa, so the log keeps the channel select, waveform index, DDA and
; LFO exactly as the game left them. Other registers, a second chip's (bit 7) among
; them, are skipped. Periods are rescaled when the log's clock is not 3579545 Hz.

.segment "CODE"

; Writes that follow one another with no wait between them (a waveform upload, a
; channel's setup) are taken here up to RUN_LIMIT at a time, HUC_RUN_CYCLES each,
; and a short wait after them with them.
huc_write:
        lda #RUN_LIMIT
        sta run
@write: next_byte               ; register
        cmp #10
        bcs @skip
        tax
        next_byte               ; value
        cpx #4
        bcs @direct             ; 4-9 as they are: the commonest
        cpx #2
        bcs @period
        cpx #1
        beq @direct
        ; 0: the channel select. The channel is the log's from now on; the ADPCM
        ; leaves it.
        sta huc_select
        sta PSG_SELECT
        and #$07
        tay
        sty huc_chan
        lda #$FF
        sta owned,y
        cpy ad_ch
        bne @next
        jsr ad_leave
        bra @next
@skip:  lda #1
        jsr skip
        bra @next
@period:
        ldy huc_scaled
        beq @direct
        jsr huc_period
        bra @next
@adpcm: jsr huc_keep
        cpx #4                  ; beside the ADPCM, the log's volumes AD_DUCK lower
        bne @keep
        jsr ad_duck
@keep:  sta PSG_SELECT,x
        bra @next
@direct:
        ldy ad_on
        bne @adpcm
        sta PSG_SELECT,x
@next:  dec run                 ; from here to @direct: HUC_RUN_CYCLES
        beq @done
        lda (ptr)
        cmp #$B9
        bne @wait
        inc ptr
        bne @write
        jsr next_page
        bra @write
@wait:  short_wait @done        ; 0x7n: n + 1 samples
        tay
        inc ptr
        bne @wait_y
        jsr next_page
@wait_y:
        wait_samples
        ldx run
        end_run huc_wait_units
@done:  ldx run
        end_run huc_run_units

; Register X (2 or 3) of the selected channel's period gets A; the channel plays the
; period rescaled to the PSG's clock.
huc_period:
        pha
        lda huc_select
        and #$07
        cmp #6
        bcs @none               ; selects 6 and 7 reach no channel
        asl a
        tay
        pla
        cpx #3
        beq @high
        sta huc_periods,y
        bra @scale
@high:  and #$0F
        sta huc_periods+1,y
@scale: lda huc_periods,y
        sta count
        lda huc_periods+1,y
        sta count+1
        lda huc_scale
        sta factor
        lda huc_scale+1
        sta factor+1
        lda huc_scale+2
        sta factor+2
        jsr scale_period
        lda product+2
        sta PSG_FREQ_LO
        lda product+3
        sta PSG_FREQ_HI
        rts
@none:  pla
        sta PSG_SELECT,x
        rts
