; SN76489 writes (0x50 dd, Game Gear stereo 0x4F dd) in, the PSG channels that play
; them out: tones on channels 0-2 (square waves), white noise on channel 4 and
; periodic noise on channel 3 (a pulse one step in 16 wide). A channel the HuC6280
; log has written is left to the log.

NOISE_CHANNEL    = 4                    ; the first PSG channel with a noise mode
PERIODIC_CHANNEL = 3
SQUARE_WAVE      = 0                    ; in `waves`
PULSE_WAVE       = 1

.segment "TABLES"
; SN76489 attenuation (2 dB steps) to PSG volume (1.5 dB steps): 31 - round(4a/3).
volumes: .byte 31, 30, 28, 27, 26, 24, 23, 22, 20, 19, 18, 16, 15, 14, 12, 0
; PSG channel of each SN76489 channel (the noise's when it is white).
psg_channel: .byte 0, 1, 2, NOISE_CHANNEL
; Noise rates 0-2: the period of the SN76489's shift clock, in its tone periods.
noise_periods: .byte 16, 32, 64
bit_right: .byte $01, $02, $04, $08
bit_left:  .byte $10, $20, $40, $80

.segment "CODE"

init_sn76489:
        ldx #3
        lda #$0F
@quiet: sta atten,x
        dex
        bpl @quiet
        jmp update_noise

; Selects PSG channel A for the SN76489, unless the log owns it, or an FM voice has
; it while the SN76489's voice there is silent: then carry set and nothing selected.
; A voice that sounds takes its channel back from FM at once (fm_evict). Keeps X.
select_sn:
        tay
        lda owned,y
        beq @free
        cmp #1
        bne @taken              ; the log's
        jsr sn_level
        beq @taken
        phx
        phy
        tya
        tax
        jsr fm_evict
        ply
        plx
@free:  sty PSG_SELECT
        clc
        rts
@taken: sec
        rts

; A = the volume (0-31, 0 when silent) the SN76489 plays at on PSG channel Y, the
; flags set from it. Keeps X and Y.
sn_level:
        phx
        phy
        tya
        tax
        cpx #PERIODIC_CHANNEL
        bcc @tone
        lda noise               ; noise: white on one channel, periodic on the other
        and #$04
        beq @periodic
        cpx #NOISE_CHANNEL
        bne @none
        bra @noise
@periodic:
        cpx #PERIODIC_CHANNEL
        bne @none
@noise: ldx #3
@tone:  ldy atten,x             ; atten is in the zero page: indexed by X
        lda volumes,y
        beq @done
        sec                     ; as it is played, under a YM2612
        sbc duck
        bcs @done
@none:  cla
@done:  ply
        plx
        cmp #0
        rts

; 0x50 dd. The log's channel select is put back afterwards.
sn_write:
        jsr sn_apply
        lda huc_select
        sta PSG_SELECT
        rts

sn_apply:
        next_byte
        sta tmp
        and #$80
        beq @data
        lda tmp
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
        cmp #$0F                ; silent: FM voices waiting for a channel may have it
        bne @sounds
        sta fm_freed
@sounds:
        cpx #3
        beq update_noise_volume
; PSG volume of SN76489 tone channel X.
update_volume:
        lda psg_channel,x
        jsr select_sn
        bcs @done
        ldy atten,x
        lda volumes,y
        jsr ducked
        sta PSG_CONTROL
@done:  rts

; PSG control byte (on) for volume A, `duck` steps lower.
ducked: sec
        sbc duck
        bcs @on
        cla
@on:    ora #$80
        rts

set_noise:
        lda tmp
        and #$07
        sta noise
        ; fall through
; The noise's rate, then its volume on the channel that plays it.
update_noise:
        lda noise
        and #$04
        beq @periodic
        jsr white_rate
        bra update_noise_volume
@periodic:
        jsr periodic_rate
        ; fall through
; White noise sounds on the noise channel, periodic noise on its own; the other is
; silent.
update_noise_volume:
        ldy atten+3
        lda volumes,y
        jsr ducked
        sta nvol
        lda #NOISE_CHANNEL
        jsr select_sn
        bcs @periodic
        lda noise
        and #$04
        beq @mute_white
        lda nvol
        sta PSG_CONTROL
        bra @periodic
@mute_white:
        lda #$80
        sta PSG_CONTROL
@periodic:
        lda #PERIODIC_CHANNEL
        jsr select_sn
        bcs @done
        lda noise
        and #$04
        bne @mute_periodic
        lda nvol
        sta PSG_CONTROL
        rts
@mute_periodic:
        lda #$80
        sta PSG_CONTROL
@done:  rts

; White noise: the PSG shifts at 3579545 / (32 x (32 - NF)), the SN76489 at
; 3579545 / (32 x N), N = 16, 32, 64 or tone 2's period; rates out of reach take the
; slowest.
white_rate:
        lda noise
        and #$03
        cmp #$03
        beq @tone2
        tay
        lda noise_periods,y
        cmp #33
        bcs @slow
        bra @fit
@tone2: lda tone+5
        bne @slow
        lda tone+4
        beq @slow
        cmp #33
        bcs @slow
@fit:   eor #$FF                ; 32 - N
        sec
        adc #32
        bra @set
@slow:  cla
@set:   and #$1F
        ora #$80
        sta tmp
        lda #NOISE_CHANNEL
        jsr select_sn
        bcs @done
        lda tmp
        sta PSG_NOISE
@done:  rts

; Periodic noise: one step in `width` (15 or 16) of the shift register is high, so it
; sounds at the shift rate / width. A 32-step pulse wave at PSG period width x N
; (N as for white noise, scaled for the clock) plays it; beyond the PSG's 12-bit
; period it plays at period 0xFFF.
periodic_rate:
        lda noise
        and #$03
        cmp #$03
        beq @tone2
        tay
        lda noise_periods,y
        sta count
        stz count+1
        bra @scale
@tone2: lda tone+4
        sta count
        lda tone+5
        sta count+1
@scale: jsr sn_period           ; N on the PSG's clock
        lda product+2           ; x 16
        sta tmp
        lda product+3
        sta tmp+1
        ldy #4
@x16:   asl product+2
        rol product+3
        dey
        bne @x16
        lda width
        cmp #16
        beq @limit
        sec                     ; x 15
        lda product+2
        sbc tmp
        sta product+2
        lda product+3
        sbc tmp+1
        sta product+3
@limit: lda product+3
        cmp #$10
        bcc @write
        lda #$FF
        sta product+2
        lda #$0F
        sta product+3
@write: lda #PERIODIC_CHANNEL
        jsr select_sn
        bcs @done
        lda product+2
        sta PSG_FREQ_LO
        lda product+3
        sta PSG_FREQ_HI
@done:  rts

; The SN76489's sound back on PSG channel X once an FM channel has left it: its wave,
; period and volume (the balance full); channel 5 goes back to the DAC.
sn_restore:
        cpx #DAC_CHANNEL
        bne @sn
        jmp dac_channel
@sn:    stx PSG_SELECT
        jsr sn_wave
        lda #$FF
        sta PSG_CHANBAL
        cpx #PERIODIC_CHANNEL
        bcs @noise
        jsr update_tone
        jmp update_volume
@noise: jmp update_noise

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

; product+2 and product+3 = SN76489 period `count` on the PSG's clock.
sn_period:
        lda scale
        ora scale+1
        ora scale+2
        bne @scaled
        lda count
        sta product+2
        lda count+1
        sta product+3
        rts
@scaled:
        lda scale
        sta factor
        lda scale+1
        sta factor+1
        lda scale+2
        sta factor+2
        jmp scale_period

; PSG frequency of tone channel X from its SN76489 period.
update_tone:
        txa
        asl a
        tay
        lda tone,y
        sta count
        lda tone+1,y
        sta count+1
        jsr sn_period
        lda psg_channel,x
        jsr select_sn
        bcs @noise
        lda product+2
        sta PSG_FREQ_LO
        lda product+3
        sta PSG_FREQ_HI
@noise: cpx #2                  ; tone 2's period may set the noise's rate
        bne @done
        lda noise
        and #$03
        cmp #$03
        bne @done
        jmp update_noise
@done:  rts

; 0x4F dd: Game Gear stereo. Bit n lets SN76489 channel n out on the right, bit
; n + 4 on the left; the noise's bits serve both of its channels.
gg_stereo:
        next_byte
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
        sta tmp+1
        lda psg_channel,x
        jsr select_sn
        bcs @next
        lda tmp+1
        sta PSG_CHANBAL
@next:  inx
        cpx #4
        bne @chan
        lda #PERIODIC_CHANNEL
        jsr select_sn
        bcs @done
        lda tmp+1
        sta PSG_CHANBAL
@done:  lda huc_select
        sta PSG_SELECT
        rts
