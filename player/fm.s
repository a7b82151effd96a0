; YM2612 FM writes (0x52/0x53 rr dd, all but the DAC's) in, each FM channel as a
; wavetable voice on the PSG channel of its number out: pitch, envelope and timbre.
;
; A write only records what it sets (cheap enough to take inside runs of commands);
; the work is done by fm_tick, every 16 steps of the timer's counter (2.29 ms): key-ons
; take the PSG channel, the envelope of operator 4 moves on (attack, first decay to the
; sustain level, second decay, release), the loudest carrier's total level and the
; envelope give the volume, and new F-numbers give the period. Channel n plays on PSG
; channel n; the SN76489 and the DAC have the channel back while it is silent (channel
; 6's is the DAC's while the DAC is on, as on the chip). A channel the HuC6280 log has
; taken is left to the log.

FM_TICK_STEPS = $30                     ; counter bits whose change makes a tick
YM_HZ   = 7670453                       ; the clock the pitch table is worked out for
ATTACK  = 1                             ; envelope states; 0 is off
DECAY1  = 2
DECAY2  = 3
RELEASE = 4
FM_WAVES = 2                            ; the first FM wave in `waves`
SILENT_ENV = $FF                        ; envelope high byte at 96 dB

.segment "TABLES"
.include "fm_tables.inc"
; The carriers of each algorithm, a bit per operator in register order (S1, S3, S2, S4).
carriers: .byte $08, $08, $08, $08, $0C, $0E, $0E, $0F
; Where a write to each register of port 0, then of port 1, goes: an offset in
; fm_regs (8 bytes a register row, a byte per channel), FM_FNUM + channel for an
; F-number's low byte, FM_KEY for key on/off, FM_DAC for the DAC's registers (which
; have handlers of their own), FM_NONE for what FM does without (other operators'
; rates and multiples, detune, SSG-EG, timers, the LFO, channel 3's extra
; frequencies).
FM_FNUM = $80
FM_KEY  = $F0
FM_DAC  = $FE
FM_NONE = $FF
.macro ym_dest R, PORT
        C .set (R & 3) + 3 * PORT
        .if (PORT = 0 && (R = $2A || R = $2B)) || (PORT = 1 && R = $B6)
            dest .set FM_DAC
        .elseif PORT = 0 && R = $28
            dest .set FM_KEY
        .elseif (R & 3) = 3 || R < $30 || R >= $B8
            dest .set FM_NONE
        .elseif R >= $40 && R < $50
            dest .set 8 + 8 * ((R >> 2) & 3) + C
        .elseif R >= $30 && R < $90 && (R & $0C) = $0C && (R >> 4) <> 4
            .if R < $40
                dest .set C
            .else
                dest .set 40 + 8 * ((R >> 4) - 5) + C
            .endif
        .elseif (R & $FC) = $A0
            dest .set FM_FNUM + C
        .elseif (R & $FC) = $A4
            dest .set 80 + C
        .elseif (R & $FC) = $B0
            dest .set 88 + C
        .elseif (R & $FC) = $B4
            dest .set 96 + C
        .else
            dest .set FM_NONE
        .endif
.endmacro
ym_dest0:
        .repeat 256, R
        ym_dest R, 0
        .byte dest
        .endrepeat
ym_dest1:
        .repeat 256, R
        ym_dest R, 1
        .byte dest
        .endrepeat
; Channel balance from the pan bits (0xB4: bit 7 left, bit 6 right).
pan_balance: .byte $00, $0F, $F0, $FF

.segment "BSS"
fm_state_start:
fm_regs:  .res 104  ; the registers FM keeps, 8 bytes a row (see ym_dest)
fm_hi:    .res 6    ; block and F-number high bits in effect
fm_gate:  .res 6    ; nonzero while keyed on
fm_event: .res 6    ; nonzero when keyed on since the last tick
fm_state: .res 6    ; envelope state
fm_env_lo: .res 6   ; attenuation in 1/64 of a 0.094 dB step, low and high byte
fm_env_hi: .res 6
fm_dirty: .res 6    ; nonzero when the F-number has changed
fm_per_lo: .res 6   ; PSG period
fm_per_hi: .res 6
fm_wave:  .res 6    ; the wave on its PSG channel, 0xFF when not ours
FM_STATE_SIZE = * - fm_state_start

fm_mul   = fm_regs + 0                  ; operator 4's detune and multiple (0x3C)
fm_tl    = fm_regs + 8                  ; total levels, a row per operator (0x40)
fm_ks_ar = fm_regs + 40                 ; operator 4's key scale and attack (0x5C),
fm_d1r   = fm_regs + 48                 ; first decay (0x6C), second decay (0x7C),
fm_d2r   = fm_regs + 56                 ; sustain level and release (0x8C)
fm_sl_rr = fm_regs + 64
fm_lo    = fm_regs + 72                 ; F-number low byte (0xA0)
fm_latch = fm_regs + 80                 ; block and F-number high bits written (0xA4)
fm_alg   = fm_regs + 88                 ; feedback and algorithm (0xB0)
fm_pan   = fm_regs + 96                 ; pan (0xB4)

.segment "CODE"

init_fm:
        ldx #FM_STATE_SIZE
@clear: stz fm_state_start - 1,x
        dex
        bne @clear
        ldx #5
@chan:  lda #SILENT_ENV
        sta fm_env_lo,x
        sta fm_env_hi,x
        sta fm_wave,x
        lda #$C0
        sta fm_pan,x
        dex
        bpl @chan
        rts

; The YM2612 write at ptr (0x52 or 0x53 and its operands, all in the windows): the
; carry set when its handler is to play it (the DAC's registers); otherwise applied
; (ym_apply), the carry clear. Keeps X.
ym_peek:
        ldy #2
        lda (ptr),y
        sta fm_val
        dey
        lda (ptr),y             ; the register
        tay
        lda (ptr)
        lsr a                   ; carry: 0x53, port 1
        bcs @port1
        lda ym_dest0,y
        bra @dest
@port1: lda ym_dest1,y
@dest:  cmp #FM_DAC
        beq @done               ; carry set
        bcs @none
        tay
        lda fm_val
        jmp ym_apply
@none:  clc
@done:  rts

; Value A written where ym_dest code Y says: kept, or a key on/off, or an F-number's
; low byte, which brings the latched block and high bits into effect. Clears the
; carry; keeps X.
ym_apply:
        cpy #FM_FNUM
        bcs @special
        sta fm_regs,y
        rts
@special:
        cpy #FM_KEY
        beq @key
        bcs @done
        sta fm_lo - FM_FNUM,y
        lda fm_latch - FM_FNUM,y
        sta fm_hi - FM_FNUM,y
        lda #1
        sta fm_dirty - FM_FNUM,y
        clc
        rts
@key:   sta fm_val              ; channel 0-2, 4-6 in bits 0-2
        and #$03
        cmp #$03
        beq @done
        tay
        lda fm_val
        and #$04
        beq @on
        iny
        iny
        iny
@on:    lda fm_val
        and #$F0
        beq @off
        lda fm_gate,y
        bne @done               ; already on: no new note
        lda #1
        sta fm_gate,y
        sta fm_event,y
@done:  clc
        rts
@off:   sta fm_gate,y
        rts

; Every channel's key-ons, envelope, volume and pitch on the PSG. Counts its cycles
; into credit.
fm_tick:
        add_credit #<(FM_TICK_CYCLES * 77), #>(FM_TICK_CYCLES * 77)
        ldx #5
@chan:  lda fm_event,x
        beq @gate
        stz fm_event,x
        lda #ATTACK
        sta fm_state,x
        jsr fm_take
        bra @play
@gate:  lda fm_gate,x
        bne @play
        lda fm_state,x
        beq @next
        lda #RELEASE
        sta fm_state,x
@play:  lda owned,x
        cmp #1
        bne @next
        jsr fm_envelope
        jsr fm_output
@next:  dex
        bpl @chan
        lda huc_select
        sta PSG_SELECT
        rts

FM_TICK_CYCLES = 200                    ; the tick with no channel sounding
FM_VOICE_CYCLES = 300                   ; each channel sounding
FM_PITCH_CYCLES = 350                   ; a new period
FM_TAKE_CYCLES = 550                    ; a channel taken, its wave written
FM_RESTORE_CYCLES = 800                 ; a channel given back

; A key-on on channel X: the PSG channel becomes the FM channel's, with its wave,
; unless the log or the DAC has it.
fm_take:
        lda owned,x
        bmi @done               ; the log's
        cpx #DAC_CHANNEL
        bne @free
        lda dac_on
        bne @done
@free:  stx PSG_SELECT
        jsr fm_timbre
        ldy owned,x
        beq @load               ; the SN76489's until now
        cmp fm_wave,x
        beq @have
@load:  sta fm_wave,x
        jsr load_wave
        add_credit #<(FM_TAKE_CYCLES * 77), #>(FM_TAKE_CYCLES * 77)
@have:  lda #1
        sta owned,x
        sta fm_dirty,x          ; its period is written with its volume
        cpx #NOISE_CHANNEL
        bne @done
        stz PSG_NOISE
@done:  rts

; A = the wave for channel X: by how deep the modulators modulate, that is by the
; lowest total level among them (the loudest), a sine for none or faint ones (from
; 30 dB down), waves of the FM formula at indices 0.7, 1.1 and 3 for louder ones. An
; additive voice (algorithm 7) with strong feedback plays as lightly modulated.
fm_timbre:
        lda fm_alg,x
        and #$07
        tay
        lda carriers,y
        eor #$0F
        jsr lowest_level
        cpy #7
        bne @class
        lda fm_alg,x
        and #$30                ; feedback 6 or 7
        cmp #$30
        bne @class
        lda #30
        sta fm_tmp+1
@class: lda fm_tmp+1
        ldy #FM_WAVES
        cmp #40
        bcs @done
        iny
        cmp #28
        bcs @done
        iny
        cmp #16
        bcs @done
        iny
@done:  tya
        rts

; fm_tmp+1 = the lowest total level of channel X among the operators whose bits are
; set in A (register order), 127 when none. Keeps X and Y.
lowest_level:
        sta fm_tmp
        lda #127
        sta fm_tmp+1
        .repeat 4, S
        lsr fm_tmp
        bcc :+
        lda fm_tl + 8 * S,x
        and #$7F
        cmp fm_tmp+1
        bcs :+
        sta fm_tmp+1
:
        .endrepeat
        rts

; Channel X's envelope, one tick on. Rates are the chip's: 2 x the register's rate
; plus the key scale, 0 for a rate of 0; the release rate r counts as 2r + 1.
fm_envelope:
        lda fm_ks_ar,x          ; key scale: the key code (block, F-number bits 10-9)
        lsr a                   ; shifted right by 3 - KS
        lsr a
        lsr a
        lsr a
        lsr a
        lsr a
        eor #$03
        tay
        lda fm_hi,x
        lsr a
        and #$1F
@ks:    dey
        bmi @scaled
        lsr a
        bra @ks
@scaled:
        sta fm_tmp
        lda fm_state,x
        cmp #DECAY1
        beq @decay1
        cmp #DECAY2
        beq @decay2
        cmp #RELEASE
        beq @release
        lda fm_ks_ar,x          ; attack: down at its rate to 0, then the first decay
        jsr fm_rate
        sec
        lda fm_env_lo,x
        sbc fm_attack_lo,y
        sta fm_env_lo,x
        lda fm_env_hi,x
        sbc fm_attack_hi,y
        sta fm_env_hi,x
        bcs @done
        stz fm_env_lo,x
        stz fm_env_hi,x
        lda #DECAY1
        sta fm_state,x
@done:  rts
@decay1:
        lda fm_d1r,x
        jsr fm_rate
        jsr fm_decay
        lda fm_sl_rr,x          ; to the sustain level: 3 dB steps, 15 for 93 dB
        and #$F0
        lsr a
        cmp #$78
        bne @level
        lda #$F8
@level: cmp fm_env_hi,x
        beq @sustain
        bcs @done
@sustain:
        lda #DECAY2
        sta fm_state,x
        rts
@decay2:
        lda fm_d2r,x
        jsr fm_rate
        jmp fm_decay
@release:
        lda fm_sl_rr,x
        asl a
        ora #$01
        jsr fm_rate
        ; fall through
; The attenuation of channel X up by the decay step of rate Y, to silence at most.
fm_decay:
        clc
        lda fm_env_lo,x
        adc fm_decay_lo,y
        sta fm_env_lo,x
        lda fm_env_hi,x
        adc fm_decay_hi,y
        sta fm_env_hi,x
        bcc @done
        lda #$FF
        sta fm_env_lo,x
        sta fm_env_hi,x
@done:  rts

; Y = the chip's rate for the register rate in A's low 5 bits with the key scale in
; fm_tmp (at most 63), 0 for a rate of 0.
fm_rate:
        and #$1F
        beq @zero
        asl a
        adc fm_tmp              ; carry is clear
        cmp #64
        bcc @zero
        lda #63
@zero:  tay                     ; 0 or the rate
        rts

; Channel X's volume: 31 less the loudest carrier's total level (0.75 dB steps) and
; its envelope, in the PSG's 1.5 dB steps. A channel silent after its attack goes
; back to the SN76489 or the DAC; otherwise its period (when new), balance and volume
; are written.
fm_output:
        add_credit #<(FM_VOICE_CYCLES * 77), #>(FM_VOICE_CYCLES * 77)
        lda fm_alg,x
        and #$07
        tay
        lda carriers,y
        jsr lowest_level
        lda fm_tmp+1            ; 0.375 dB steps: 2 x level + envelope
        asl a
        adc fm_env_hi,x
        bcs @silent
        lsr a
        lsr a
        sta fm_tmp
        lda #31
        sec
        sbc fm_tmp
        beq @silent
        bcs @write
@silent:
        lda fm_state,x
        cmp #ATTACK
        beq @quiet
        jmp fm_release
@quiet: cla
@write: sta fm_tmp+2
        stx PSG_SELECT
        lda fm_dirty,x
        beq @balance
        jsr fm_pitch
        lda fm_per_lo,x
        sta PSG_FREQ_LO
        lda fm_per_hi,x
        sta PSG_FREQ_HI
@balance:
        lda fm_pan,x
        rol a
        rol a
        rol a
        and #$03
        tay
        lda pan_balance,y
        sta PSG_CHANBAL
        lda fm_tmp+2
        ora #$80
        sta PSG_CONTROL
        rts

; Channel X's PSG period from its F-number, block and operator 4's multiple (0 for
; a half): 9 x 3579545 x 2^21 / clock over F-number x 2 x multiple x 2^block. The
; divisor is normalised to 16 bits and its top 9 bits look up the quotient (within
; 0.2%) for 7670453 Hz; other clocks are scaled. Beyond 12 bits: 0xFFF.
fm_pitch:
        add_credit #<(FM_PITCH_CYCLES * 77), #>(FM_PITCH_CYCLES * 77)
        stz fm_dirty,x
        lda fm_mul,x            ; count = F-number x 2 x multiple
        and #$0F
        asl a
        bne @times
        inc a
@times: sta fm_tmp+3
        lda fm_lo,x
        sta factor
        lda fm_hi,x
        and #$07
        sta factor+1
        stz count
        stz count+1
@mul:   lsr fm_tmp+3
        bcc @next
        clc
        lda count
        adc factor
        sta count
        lda count+1
        adc factor+1
        sta count+1
@next:  asl factor
        rol factor+1
        lda fm_tmp+3
        bne @mul
        lda count
        ora count+1
        bne @some
        jmp @low                ; F-number 0: no tone to speak of
@some:
        ldy #0                  ; normalise: Y shifts
@norm:  lda count+1
        bmi @top
        asl count
        rol count+1
        iny
        bra @norm
@top:   asl count               ; bits 14-7 index the table
        rol count+1
        sty fm_tmp+3
        ldy count+1
        lda fm_pitch_lo,y
        sta product+2
        lda fm_pitch_hi,y
        sta product+3
        lda fm_hi,x             ; shift right by block + 7 - shifts, rounded
        lsr a
        lsr a
        lsr a
        and #$07
        clc
        adc #7
        sec
        sbc fm_tmp+3
        bmi @low
        cmp #3
        bcc @low
        tay
        dey
@shift: lsr product+3
        ror product+2
        dey
        bne @shift
        lda product+2
        clc
        adc #1
        sta product+2
        lda product+3
        adc #0
        ror a
        sta product+3
        ror product+2
        cmp #$10
        bcs @low
        ora product+2
        bne @scale
        inc product+2           ; period 1 at least
@scale: lda fm_scale
        ora fm_scale+1
        ora fm_scale+2
        beq @store
        lda product+2
        sta count
        lda product+3
        sta count+1
        lda fm_scale
        sta factor
        lda fm_scale+1
        sta factor+1
        lda fm_scale+2
        sta factor+2
        jsr scale_period
@store: lda product+2
        sta fm_per_lo,x
        lda product+3
        sta fm_per_hi,x
        rts
@low:   lda #$FF
        sta product+2
        lda #$0F
        sta product+3
        bra @store

; Channel X falls silent: its PSG channel goes back to the SN76489 or the DAC.
fm_release:
        add_credit #<(FM_RESTORE_CYCLES * 77), #>(FM_RESTORE_CYCLES * 77)
        stz fm_state,x
        stz owned,x
        lda #$FF
        sta fm_wave,x
        phx
        jsr sn_restore
        plx
        rts
