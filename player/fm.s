; YM2612 FM writes (0x52/0x53 rr dd, all but the DAC's) in, each FM channel as a
; wavetable voice on a PSG channel out: pitch, envelope and timbre.
;
; A write only records what it sets (cheap enough to take inside runs of commands);
; the work is done by fm_tick, every 16 steps of the timer's counter (2.29 ms): a
; key-on is weighed (fm_voice: which operators sound, the loudest carrier, the note's
; ratio to the F-number; fm_wave.s works out the patch's wave) and takes a PSG channel
; (fm_take); each sounding carrier's envelope moves on (attack, first decay to its
; sustain level, second decay, release), their total levels and envelopes summed
; give the volume, and new F-numbers give the period. The SN76489 and the DAC have a
; channel back while FM leaves it silent (channel 6's is the DAC's while the DAC is
; on, as on the chip). A channel the HuC6280 log has taken is left to the log.

FM_TICK_STEPS = $30                     ; counter bits whose change makes a tick
YM_HZ   = 7670453                       ; the clock the pitch table is worked out for
ATTACK  = 1                             ; envelope states; 0 is off
DECAY1  = 2
DECAY2  = 3
RELEASE = 4
SILENT_ENV = $FF                        ; envelope high byte at 96 dB

.segment "TABLES"
.include "fm_tables.inc"
; The PSG channels an FM note may take, the last first (see fm_take).
take_order: .byte 2, 1, 0, 4, 3, 5
; The carriers of each algorithm, a bit per operator in register order (S1, S3, S2, S4).
carriers: .byte $08, $08, $08, $08, $0C, $0E, $0E, $0F
; Where a write to each register of port 0, then of port 1, goes (ym_dest0, ym_dest1,
; worked out at start-up by init_dest): an offset in fm_regs (8 bytes a register row,
; a byte per channel), FM_FNUM + channel for an F-number's low byte, FM_KEY for key
; on/off, FM_DAC for the DAC's registers (which have handlers of their own), FM_NONE
; for what FM does without (SSG-EG, timers, the LFO, channel 3's extra frequencies).
FM_FNUM = $E0
FM_KEY  = $F0
FM_DAC  = $FE
FM_NONE = $FF
; The rows of registers 0x90-0xB7, by (register - 0x90) / 4.
high_rows: .byte FM_NONE, FM_NONE, FM_NONE, FM_NONE, FM_FNUM, 200, FM_NONE, FM_NONE, 208, 216
; Channel balance from the pan bits (0xB4: bit 7 left, bit 6 right).
pan_balance: .byte $00, $0F, $F0, $FF

.segment "BSS"
fm_state_start:
fm_regs:  .res 224  ; the registers FM keeps, 8 bytes a row (see ym_dest)
fm_hi:    .res 6    ; block and F-number high bits in effect
fm_gate:  .res 6    ; the operators keyed on (register order), 0 when off
fm_event: .res 6    ; nonzero when keyed on since the last tick
fm_state: .res 6    ; the note: ATTACK from its key-on until a carrier has attacked,
                    ; then DECAY1; RELEASE from its key-off; 0 silent
op_state: .res 32   ; each operator's envelope state, by fm_regs row (8 x slot + channel)
op_env_lo: .res 32  ; its attenuation in 1/64 of a 0.094 dB step, low and high byte
op_env_hi: .res 32
fm_dirty: .res 6    ; nonzero when the F-number has changed; 0x80: the period is
                    ; worked out, to be written
fm_per_lo: .res 6   ; PSG period
fm_per_hi: .res 6
fm_wave:  .res 6    ; by PSG channel: 0x80 + 16 x cycles + the FM channel whose wave is
                    ; on it, 0xFF none
fm_psg:   .res 6    ; the PSG channel each FM channel plays on, 0xFF when none
psg_fm:   .res 6    ; by PSG channel: the FM channel on it, 0xFF when none
fm_vol:   .res 6    ; the PSG volume each FM channel last played at (0-31)
fm_op:    .res 6    ; the loudest carrier at the key-on: its row offset (8 x slot) plus the channel
fm_ratio: .res 6    ; the note's frequency over the F-number's, x 2 (1-30)
fm_ops:   .res 6    ; the operators that sound (register order)
fm_cycles: .res 6   ; the note's wave holds 2^fm_cycles periods (high notes: 1 or 2)
fm_gain:  .res 6    ; 0.375 dB units the wave is played up (down when negative)
fm_quiet: .res 6    ; the halvings of the wave for a note under the PSG's volumes
fm_age:   .res 6    ; ticks since the key-on, 255 at most
mod_shift: .res 1   ; how far mod_level looks into a note (EARLY_SHIFT but in fm_late)
FM_STATE_SIZE = * - fm_state_start
ym_dest0: .res 256   ; see high_rows
ym_dest1: .res 256
fm_work:  .res 4    ; scratch of the tick
fm_ch:    .res 1    ; the channel whose carriers fm_envelope moves on
fm_car:   .res 1    ; its sounding carriers not yet moved on
fm_past:  .res 1    ; nonzero: one of them has done its attack
fm_att:   .res 1    ; their sum's attenuation, 0.375 dB units plus SUM_ROOM (att_add)
sum_mul:  .res 1    ; the multiple of the first operator in that sum
fm_ties:  .res 1    ; nonzero: a PSG channel is taken from an FM voice as loud
fm_lost:  .res 1    ; nonzero: fm_held found the channel lost
notes_left: .res 1  ; key-ons this tick may still weigh
fm_freed: .res 1    ; nonzero: a PSG channel has left FM since the last tick

fm_dtml  = fm_regs + 0                  ; detune and multiple, a row per operator (0x30)
fm_tl    = fm_regs + 32                 ; total level (0x40)
fm_ks_ar = fm_regs + 64                 ; key scale and attack (0x50)
fm_d1r   = fm_regs + 96                 ; first decay (0x60)
fm_d2r   = fm_regs + 128                ; second decay (0x70)
fm_sl_rr = fm_regs + 160                ; sustain level and release (0x80)
fm_lo    = fm_regs + 192                ; F-number low byte (0xA0)
fm_latch = fm_regs + 200                ; block and F-number high bits written (0xA4)
fm_alg   = fm_regs + 208                ; feedback and algorithm (0xB0)
fm_pan   = fm_regs + 216                ; pan (0xB4)
MOD_AUDIBLE = 46                        ; a modulator's level below which it shapes the note
CARRIER_SPAN = 53                       ; carriers under 40 dB below the loudest count
FM_FULL = 29                            ; the PSG volume of one carrier at full level
CARRIER_QUIET = 100                     ; a carrier level too quiet to play (75 dB down)

.segment "CODE"

init_fm:
        stz fm_state_start      ; cleared by a block copy of its first byte
        tii fm_state_start, fm_state_start + 1, FM_STATE_SIZE - 1
        lda #SILENT_ENV
        sta op_env_lo
        tii op_env_lo, op_env_lo + 1, 63 ; and op_env_hi
        ldx #5
@chan:  sta fm_wave,x
        txa
        clc
        adc #24                 ; S4
        sta fm_op,x
        lda #2
        sta fm_ratio,x
        lda #$C0
        sta fm_pan,x
        lda #SILENT_ENV
        dex
        bpl @chan
        lda #EARLY_SHIFT
        sta mod_shift
        jsr init_dest
        jmp init_shapes

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
        beq @low
        iny
        iny
        iny
@low:   lda fm_val              ; the operators, in register order
        lsr a
        lsr a
        lsr a
        lsr a
        phx
        tax
        lda key_order,x
        plx
        cmp #0
        beq @off
        pha
        lda fm_gate,y           ; a note starts unless one is held
        bne @held
        lda #1
        sta fm_event,y
@held:  pla
@off:   sta fm_gate,y
@done:  clc
        rts

; Every channel's key-ons, envelope, volume and pitch on the PSG. Counts its cycles
; into credit.
fm_tick:
        add_credit #<(FM_TICK_CYCLES * 77), #>(FM_TICK_CYCLES * 77)
        lda #NOTES_PER_TICK
        sta notes_left
        ldx #5
@chan:  lda fm_event,x
        beq @gate
        lda notes_left          ; more key-ons wait for the next tick
        beq @gate
        dec notes_left
        stz fm_event,x
        jsr fm_voice
        bcs @mute
        stz fm_age,x
        lda #ATTACK
        sta fm_state,x
        jsr ops_key
        jsr fm_take
        bra @play
@mute:  lda fm_state,x          ; a key-on nothing sounds in: the last note ends
        beq @next
        bra @release
@gate:  lda fm_gate,x
        bne @play
        lda fm_state,x
        beq @next
@release:
        lda #RELEASE
        cmp fm_state,x
        beq @play
        sta fm_state,x
        jsr ops_key
@play:  jsr fm_held
        bcc @sound
        lda fm_lost             ; moved out, or a keyed note without a channel: to
        bne @move               ; a free one, or a quieter FM voice's
        lda fm_freed            ; only after a channel has come free
        beq @next
        lda fm_gate,x
        beq @next
        lda fm_state,x
        beq @next
@move:  stz fm_ties
        jsr fm_place
        bcs @next
@sound: lda fm_wave_new,x       ; the note's own wave, ready since its key-on
        beq @level
        jsr fm_load
@level: jsr fm_envelope
        jsr fm_output
        jsr fm_aging
@next:  dex
        bpl @chan
        lda notes_left          ; a slice of a wave's work, in a tick without a key-on
        beq @freed
        jsr shape_due
@freed: stz fm_freed
        lda huc_select
        sta PSG_SELECT
        rts

FM_TICK_CYCLES = 200                    ; the tick with no channel sounding
NOTES_PER_TICK = 1                      ; key-ons weighed a tick at most
FM_VOICE_CYCLES = 330                   ; each channel sounding
FM_CARRIER_CYCLES = 195                 ; and each of its sounding carriers
FM_NOTE_CYCLES = 700                    ; a key-on's operators weighed
FM_PITCH_CYCLES = 500                   ; a new period
FM_TAKE_CYCLES = 550                    ; a channel taken, its wave written
FM_PLACE_CYCLES = 400                   ; a PSG channel looked for
FM_RESTORE_CYCLES = 800                 ; a channel given back

; Channel X's note at its key-on: which operators sound, its loudest carrier, the
; note's frequency ratio and how deep its modulation is. An operator
; counts when it is keyed and attacks, a carrier when it is within CARRIER_SPAN
; levels of the loudest carrier (below CARRIER_QUIET), a modulator when its level
; (total level, plus its sustain level once it decays) is below MOD_AUDIBLE; a
; modulator sounds when it feeds an operator that does (fm_sounding). The loudest
; carrier is kept (fm_op, for a channel's first loudness); the note is the F-number's
; frequency times the greatest common divisor of the sounding operators' multiples
; (0 a half); the patch's wave is worked out when it is new (fm_shape). Carry set
; when no carrier sounds.
fm_voice:
        add_credit #<(FM_NOTE_CYCLES * 77), #>(FM_NOTE_CYCLES * 77)
        lda fm_alg,x
        and #$07
        sta fm_work             ; the algorithm
        tay
        lda carriers,y
        sta fm_work+1
        lda #CARRIER_QUIET
        sta fm_work+2           ; the loudest carrier's level
        .repeat 4, S            ; the loudest keyed carrier
        lda fm_work+1
        and fm_gate,x
        and #1 << S
        beq :+
        lda fm_ks_ar + 8 * S,x
        and #$1F
        beq :+                  ; it never attacks
        lda fm_tl + 8 * S,x
        and #$7F
        cmp fm_work+2
        bcs :+
        sta fm_work+2
        lda #8 * S
        sta fm_work+3
:
        .endrepeat
        lda fm_work+2
        cmp #CARRIER_QUIET
        bcc @sounds
        rts                     ; carry set: nothing sounds
@sounds:
        sta nk_top
        stx fm_tmp
        lda fm_work+3           ; carry clear
        adc fm_tmp
        sta fm_op,x
        lda fm_work+2
        adc #CARRIER_SPAN
        sta fm_work+2           ; carriers below this level count
        stz fm_work+3           ; the audible operators
        .repeat 4, S
        lda fm_gate,x
        and #1 << S
        beq :+++
        lda fm_ks_ar + 8 * S,x
        and #$1F
        beq :+++
        lda fm_work+1
        and #1 << S
        beq :+
        lda fm_tl + 8 * S,x     ; a carrier
        and #$7F
        cmp fm_work+2
        bcs :+++
        bra :++
:       txa                     ; a modulator
        clc
        adc #8 * S
        tay
        jsr mod_level
        sta nk_levels + S       ; (for fm_shape)
        cmp #MOD_AUDIBLE
        bcs :++
:       lda fm_work+3
        ora #1 << S
        sta fm_work+3
:
        .endrepeat
        lda fm_work             ; the sounding operators
        asl a
        asl a
        asl a
        asl a
        ora fm_work+3
        tay
        lda fm_sounding,y
        sta fm_ops,x
        sta fm_work+3
        stz fm_work+2           ; the ratio: their multiples' divisor
        .repeat 4, S
        lsr fm_work+3
        bcc :++
        lda fm_dtml + 8 * S,x
        and #$0F
        asl a
        bne :+
        inc a                   ; multiple 0: a half
:       jsr common_divisor
:
        .endrepeat
        lda fm_work+2
        sta fm_ratio,x
        jsr fm_shape
        clc
        rts

; fm_work+2 = the greatest common divisor of fm_work+2 and A (1-30); of 0 and A, A.
common_divisor:
        ldy fm_work+2
        beq @set
@loop:  cmp fm_work+2
        beq @set
        bcs @down
        sta fm_tmp              ; A < the other: the other less A
        lda fm_work+2
        sbc fm_tmp              ; carry clear: one less
        inc a
        sta fm_work+2
        lda fm_tmp
        bra @loop
@down:  sbc fm_work+2           ; carry set
        bra @loop
@set:   sta fm_work+2
        rts
; The six PSG channels are shared. An FM note at its key-on keeps the PSG channel its
; channel plays on; otherwise it takes a free one (one that neither the log, the DAC,
; another FM channel nor a sounding SN76489 voice has): its own number's first, then
; 5, 3, 4, 0, 1, 2 (those the SN76489 uses least first); with none free, the quietest
; FM voice's when that is no louder than the new note (31 - its carrier's total level
; / 2), first in that order on a tie; otherwise it waits. An SN76489 voice that starts
; to sound on a channel an FM voice has takes it back at once (select_sn). A keyed FM
; voice without a channel (waiting, stolen from, moved out by the SN76489, the log or
; the DAC) takes one free or a strictly quieter FM voice's at the next tick after a
; channel has been given back or taken from it. The DAC's channel is the DAC's while
; it is on; FM channel 6 is silent then, as on the chip.
fm_take:
        jsr fm_held
        bcs @none
        jmp fm_load
@none:  ldy fm_op,x             ; the note's loudness
        lda fm_tl,y
        and #$7F
        lsr a
        eor #$FF
        sec
        adc #31
        bpl :+
        cla                     ; under the PSG's volumes
:       sta fm_vol,x
        lda #1
        sta fm_ties
        ; fall through
; FM channel X, of loudness fm_vol, takes a PSG channel as fm_take says; a tie with
; the quietest FM voice takes its channel when fm_ties is set (a new note), not when
; a voice waits. Carry set when it finds none.
fm_place:
        add_credit #<(FM_PLACE_CYCLES * 77), #>(FM_PLACE_CYCLES * 77)
        cpx #DAC_CHANNEL
        bne @find
        lda dac_on
        beq @find
        sec                     ; FM channel 6 under the DAC
        rts
@find:  txa
        tay
        jsr psg_free
        bcc @place
        ldy #5
@free:  lda take_order,y
        phy
        tay
        jsr psg_free
        ply
        bcc @chosen
        dey
        bpl @free
        lda #$FF                ; none free: the quietest FM voice
        sta fm_tmp
        lda #32
        sta fm_tmp+1
        ldy #5
@quiet: phy
        lda take_order,y
        tay
        lda owned,y
        cmp #1
        bne @louder
        lda psg_fm,y
        phx
        tax
        lda fm_vol,x
        plx
        cmp fm_tmp+1
        beq @louder             ; a tie: the first in the order
        bcs @louder
        sta fm_tmp+1
        sty fm_tmp
@louder:
        ply
        dey
        bpl @quiet
        lda fm_tmp+1
        cmp fm_vol,x
        bcc @steal
        bne @none               ; louder than this voice: not played
        lda fm_ties
        bne @steal
@none:  sec
        rts
@steal: ldy fm_tmp
        lda psg_fm,y            ; the FM voice there falls silent
        phx
        tax
        lda #$FF
        sta fm_psg,x
        plx
        bra @place
@chosen:
        lda take_order,y
        tay
@place: txa                     ; PSG channel Y is FM channel X's
        sta psg_fm,y
        tya
        sta fm_psg,x
        ; fall through
; FM channel X's PSG channel gets its wave (unless it has it) and is FM's. Carry clear.
fm_load:
        stz fm_cycles,x         ; the note's period with one cycle a wave
        jsr fm_pitch
        ldy #0                  ; high notes: 2 cycles below period 0x80, 4 below 0x40,
        lda fm_per_hi,x         ; so that the wave's images stay above 13 kHz
        bne @shift
        lda fm_per_lo,x
        bmi @shift
        iny
        cmp #$40
        bcs @shift
        iny
@shift: tya
        sta fm_cycles,x         ; 0, 1 or 2: 1, 2 or 4 cycles
        asl a
        asl a
        asl a
        asl a
        sta fm_tmp
        txa
        ora fm_tmp
        ora #$80
        pha                     ; the wave's tag: channel and cycles
        ldy fm_psg,x
        sty PSG_SELECT
        lda owned,y
        beq @load               ; the SN76489's until now
        lda fm_wave_new,x
        bne @load
        pla
        pha
        cmp fm_wave,y
        beq @kept
@load:  pla
        sta fm_wave,y
        stz fm_wave_new,x
        jsr load_fm_wave
        add_credit #<(FM_TAKE_CYCLES * 77), #>(FM_TAKE_CYCLES * 77)
        ldy fm_psg,x
        bra @have
@kept:  pla
@have:  lda #1
        sta owned,y
        lda #$80                ; its period is written with its volume: the one
        ldy fm_cycles,x         ; worked out above when the wave holds one cycle
        beq @known
        lda #1
@known: sta fm_dirty,x
        ldy fm_psg,x
        cpy #NOISE_CHANNEL
        bne @done
        stz PSG_NOISE
@done:  clc
        rts

; Carry clear when FM channel X still has its PSG channel (neither the log nor the
; DAC has taken it); otherwise the carry set, and fm_lost set if it has just lost it.
; Keeps X.
fm_held:
        stz fm_lost
        ldy fm_psg,x
        bmi @none
        lda owned,y
        cmp #1
        bne @lost
        txa
        cmp psg_fm,y
        bne @lost
        clc
        rts
@lost:  lda #$FF
        sta fm_psg,x
        inc fm_lost
@none:  sec
        rts

; Carry clear when PSG channel Y is free for an FM note. Keeps X and Y.
psg_free:
        lda owned,y
        bne @taken              ; the log's or FM's
        cpy #DAC_CHANNEL
        bne @sn
        lda dac_on
        bne @taken
@sn:    jsr sn_level
        bne @taken
        clc
        rts
@taken: sec
        rts

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

; Channel X's volume (fm_volume). A channel silent after its attack goes back to the
; SN76489 or the DAC; otherwise its period (when new), balance and volume are written.
fm_output:
        add_credit #<(FM_VOICE_CYCLES * 77), #>(FM_VOICE_CYCLES * 77)
        jsr fm_volume
        bcc @write
@silent:
        lda fm_state,x
        cmp #ATTACK
        beq @quiet
        jmp fm_release
@quiet: cla
@write: sta fm_tmp+2
        sta fm_vol,x
        lda fm_psg,x
        sta PSG_SELECT
        lda fm_dirty,x
        beq @balance
        bmi @period             ; worked out at the key-on
        jsr fm_pitch
@period:
        stz fm_dirty,x
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

; Channel X's PSG period from its note: the F-number plus the mean detune of its
; sounding operators (DT1 by key code, in units of a quarter F-number step at block 0,
; as the chip adds it), times the ratio: 9 x 3579545 x 2^21 / clock over (F-number x
; 256 + detune x 2^(9 - block)) x ratio x 2^block / 256. The divisor is normalised to
; 24 bits and its top 10 bits look up the quotient (within 0.1%) for 7670453 Hz; other
; clocks are scaled. Beyond 12 bits: 0xFFF.
fm_pitch:
        add_credit #<(FM_PITCH_CYCLES * 77), #>(FM_PITCH_CYCLES * 77)
        stz fm_dirty,x
        stz factor              ; F-number x 256
        lda fm_lo,x
        sta factor+1
        asl a                   ; F-number bit 7 into the carry
        lda fm_hi,x
        and #$07
        sta factor+2
        lda fm_hi,x             ; the key code: block x 4 and F-number bits 10-7's
        rol a
        pha
        and #$0F
        tay
        pla
        lsr a
        lsr a
        and #$1C
        ora fm_key_code,y
        sta fm_tmp+1
        stz fm_tmp              ; the detunes' sum
        stz fm_tmp+2            ; how many
        lda fm_ops,x
        sta fm_tmp+3
        .repeat 4, S
        lsr fm_tmp+3
        bcc :+
        inc fm_tmp+2
        lda fm_dtml + 8 * S,x
        jsr add_detune
:
        .endrepeat
        lda fm_tmp              ; its size, shifted by 9 - block
        bpl :+
        eor #$FF
        inc a
:       sta fm_work
        stz fm_work+1
        bne @some_dt
        jmp @ratio
@some_dt:
        lda fm_hi,x
        lsr a
        lsr a
        lsr a
        and #$07
        eor #$07
        inc a
        inc a
        tay
@up:    asl fm_work
        rol fm_work+1
        dey
        bne @up
        lda fm_tmp+2            ; over the count: 1, 2, 4, or 3 as 85/256
        cmp #2
        bcc @sign
        lsr fm_work+1
        ror fm_work
        cmp #3
        bcc @sign
        lsr fm_work+1
        ror fm_work
        cmp #4
        beq @sign
        lda fm_work+1           ; a quarter, plus a sixteenth, ... of the sum
        sta fm_work+3
        lda fm_work
        sta fm_work+2
        ldy #3
@third: lsr fm_work+3
        ror fm_work+2
        lsr fm_work+3
        ror fm_work+2
        clc
        lda fm_work
        adc fm_work+2
        sta fm_work
        lda fm_work+1
        adc fm_work+3
        sta fm_work+1
        dey
        bne @third
@sign:  lda fm_tmp
        bmi @down
        clc
        lda factor
        adc fm_work
        sta factor
        lda factor+1
        adc fm_work+1
        sta factor+1
        bcc @ratio
        inc factor+2
        bra @ratio
@down:  sec
        lda factor
        sbc fm_work
        sta factor
        lda factor+1
        sbc fm_work+1
        sta factor+1
        bcs @ratio
        lda factor+2
        beq @low_far            ; below F-number 0
        dec factor+2
@ratio: stz fm_work             ; fm_work = that x the ratio
        stz fm_work+1
        stz fm_work+2
        lda fm_ratio,x
        sta fm_tmp+3
@mul:   lsr fm_tmp+3
        bcc @next
        clc
        lda fm_work
        adc factor
        sta fm_work
        lda fm_work+1
        adc factor+1
        sta fm_work+1
        lda fm_work+2
        adc factor+2
        sta fm_work+2
@next:  asl factor
        rol factor+1
        rol factor+2
        lda fm_tmp+3
        bne @mul
        lda fm_work
        ora fm_work+1
        ora fm_work+2
        bne @some
@low_far:
        jmp @low                ; no tone to speak of
@some:
        ldy #0                  ; normalise: Y shifts
@norm:  lda fm_work+2
        bmi @top
        asl fm_work
        rol fm_work+1
        rol fm_work+2
        iny
        bra @norm
@top:   asl fm_work+1           ; bits 22-14 index the table
        rol fm_work+2
        sty fm_tmp+3
        ldy fm_work+2
        bit fm_work+1
        bmi @odd
        lda fm_pitch_lo,y
        sta product+2
        lda fm_pitch_hi,y
        bra @period
@odd:   lda fm_pitch_odd_lo,y
        sta product+2
        lda fm_pitch_odd_hi,y
@period:
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
        sec                     ; a wave of 2 or 4 cycles: 2 or 4 times the period
        sbc fm_cycles,x
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

; fm_tmp += the detune of DT1 in A's bits 6-4 (1-3 up, 5-7 down) at key code fm_tmp+1.
; Keeps X.
add_detune:
        lsr a
        lsr a
        lsr a
        lsr a
        sta fm_val
        and #$03
        beq @done
        asl a
        asl a
        asl a
        asl a
        asl a
        ora fm_tmp+1
        tay
        lda fm_val
        and #$04
        bne @down
        lda fm_tmp
        clc
        adc fm_detune,y
        sta fm_tmp
@done:  rts
@down:  lda fm_tmp
        sec
        sbc fm_detune,y
        sta fm_tmp
        rts

; Channel X falls silent: its PSG channel goes back to the SN76489 or the DAC.
fm_release:
        add_credit #<(FM_RESTORE_CYCLES * 77), #>(FM_RESTORE_CYCLES * 77)
        stz fm_state,x
        ldy fm_psg,x
        lda #$FF
        sta fm_psg,x
        phx
        tya
        tax
        jsr give_back
        plx
        rts

; PSG channel X, an FM voice's, goes back to the SN76489, whose voice there sounds;
; the FM voice looks for another at the next tick.
fm_evict:
        add_credit #<(FM_RESTORE_CYCLES * 77), #>(FM_RESTORE_CYCLES * 77)
        ldy psg_fm,x
        bmi give_back
        lda #$FF
        sta fm_psg,y
        ; fall through
; PSG channel X goes back to the SN76489 or the DAC.
give_back:
        inc fm_freed
        stz owned,x
        lda #$FF
        sta fm_wave,x
        sta psg_fm,x
        jmp sn_restore

.segment "CODE0"

; ym_dest0 and ym_dest1 worked out: register R of port P goes to row
; 2 x ((R & 0xFC) - 0x30) + C from 0x30 to 0x8F (C = R & 3 + 3P, the channel), to
; high_rows' row + C from 0x90 to 0xB7, nowhere when R & 3 is 3 or elsewhere; the key
; register and the DAC's are marked apart.
init_dest:
        lda #FM_NONE            ; below 0x30 and from 0xB8: nowhere
        sta ym_dest0
        tii ym_dest0, ym_dest0 + 1, $47
        tii ym_dest0, ym_dest0 + $B8, $48
        tii ym_dest0, ym_dest1, $30
        tii ym_dest0, ym_dest1 + $B8, $48
        ldx #$30
@reg:   txa
        and #$03
        cmp #$03
        beq @none
        sta fm_tmp              ; the channel on port 0
        txa
        and #$FC
        sbc #$30 - 1            ; carry clear: less 0x30
        cmp #$90 - $30
        bcc @low
        lsr a
        lsr a
        tay
        lda high_rows - ($90 - $30) / 4,y
        cmp #FM_NONE
        beq @none
        bra @set
@low:   asl a
@set:   clc
        adc fm_tmp
        sta ym_dest0,x
        adc #3
@both:  sta ym_dest1,x
        inx
        cpx #$B8
        bne @reg
        bra @apart
@none:  lda #FM_NONE
        sta ym_dest0,x
        bra @both
@apart:
        lda #FM_KEY
        sta ym_dest0 + $28
        lda #FM_DAC
        sta ym_dest0 + $2A
        sta ym_dest0 + $2B
        sta ym_dest1 + $B6
        rts

.segment "TABLES"
; How much two carriers at levels d apart (0.375 dB units) add to the louder, in those
; units, by d / 2: 20 log10(1 + 10^(-0.375 d / 20)) / 0.375.
sum_bonus:
        .byte 16, 15, 14, 13, 12, 12, 11, 10, 9, 9, 8, 8, 7, 7, 6, 6
        .byte 5, 5, 4, 4, 4, 3, 3, 3, 3, 3, 2, 2, 2, 2, 2, 2
        .byte 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0
        .byte 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0

.segment "CODE0"

SUM_ROOM = 32                           ; fm_att's units kept for sums above full
; The chip's output has 9 bits: a carrier sounds one step of it at least, 47 dB under a
; full carrier (126 units of 0.375 dB), while it is held (its envelope in attack or
; decay, or less than 24 dB down in release) and not 75 dB down (CARRIER_QUIET): a
; note that decays under that step holds there until its key-off.
CARRIER_FLOOR = 126
FLOOR_ENVELOPE = 64

EARLY_SHIFT = 4                         ; mod_shift for 2^5 ticks: 73 ms
LATE_SHIFT = 1                          ; for 2^8 ticks: 580 ms
LATE_TICKS = 192                        ; when a held note's wave moves: 440 ms
LATE_CYCLES = 600                       ; its patch weighed again

; A = the level of the modulator at fm_regs offset Y (8 x slot + channel), 0.75 dB a
; step: its total level plus how far it has decayed 2^(9 - mod_shift) ticks into a
; note: its first decay rate down to its sustain level and, late in the note, its
; second past it (early it is left out: the wave of a note's start); 127 at most.
; Keeps X and Y.
mod_level:
        lda fm_d1r,y
        jsr mod_decay
        sta fm_tmp+1
        lda fm_sl_rr,y          ; the sustain level, 3 dB steps (15: 93 dB)
        lsr a
        lsr a
        and #$3C
        cmp #$3C
        bne @sustain
        lda #127
@sustain:
        cmp fm_tmp+1
        bcs @first              ; not reached: the first decay's fall
        sta fm_tmp+1            ; reached: the sustain level, then the second decay
        lda mod_shift           ; (late in the note: early, its fall is left out)
        cmp #EARLY_SHIFT
        beq @first
        lda fm_d2r,y
        jsr mod_decay
        clc
        adc fm_tmp+1
        sta fm_tmp+1
@first: lda fm_tl,y
        and #$7F
        clc
        adc fm_tmp+1
        bcs @far
        bpl @done
@far:   lda #127
@done:  rts

; A = how far a decay at the rate in A's low 5 bits falls in 2^(9 - mod_shift) ticks,
; 0.75 dB a step, 127 at most. Keeps X and Y.
mod_decay:
        and #$1F
        beq @done
        asl a                   ; the chip's rate, without key scaling
        phx
        tax
        lda fm_decay_lo,x       ; a tick's step, 1/256 of 0.375 dB
        sta fm_tmp+2
        lda fm_decay_hi,x
        ldx mod_shift
@shift: lsr a
        ror fm_tmp+2
        dex
        bne @shift
        plx
        cmp #0
        bne @far
        lda fm_tmp+2
        bpl @done
@far:   lda #127
@done:  rts

; Channel X's note one tick older; LATE_TICKS into a held note, in a tick that weighs
; no key-on, its patch is weighed again with its modulators' levels late in the note
; (fm_late). Keeps X.
fm_aging:
        lda fm_age,x
        inc a
        beq @done               ; old: kept at 255
        cmp #LATE_TICKS
        bne @older
        lda notes_left
        beq @done               ; the next tick
        dec notes_left
        lda fm_gate,x
        beq @late
        jsr fm_late
@late:  lda #LATE_TICKS
@older: sta fm_age,x
@done:  rts

; Channel X's wave for its patch with its modulators' levels LATE_TICKS in: the
; patch of its key-on with their levels taken at 2^(9 - LATE_SHIFT) ticks (shape_key:
; a wave kept from an earlier note comes back at once). Keeps X.
fm_late:
        add_credit #<(LATE_CYCLES * 77), #>(LATE_CYCLES * 77)
        stx nk_chan
        lda fm_alg,x
        and #$07
        tay
        lda carriers,y
        sta nk_carry
        ldy times_ten,x
        phx
        ldx #0
@key:   lda fm_shapes,y
        sta nk_key,x
        iny
        inx
        cpx #SHAPE_KEY
        bne @key
        plx
        lda #LATE_SHIFT
        sta mod_shift
        .repeat 4, S
        lda nk_carry            ; its modulators that sound
        and #1 << S
        bne :+
        lda nk_att + S
        cmp #255
        beq :+
        txa
        clc
        adc #8 * S
        tay
        jsr mod_level
        asl a
        sta nk_att + S
:
        .endrepeat
        lda #EARLY_SHIFT
        sta mod_shift
        jmp shape_key

; Channel X's operators follow its note: at a key-on those keyed attack and the others
; release; at a key-off all release (those not silent already). Keeps X.
ops_key:
        phx
        lda fm_gate,x
        ldy fm_state,x
        cpy #RELEASE
        bne @gate
        cla
@gate:  sta fm_tmp
        ldy #4
@op:    lda #ATTACK
        lsr fm_tmp
        bcs @set
        lda op_state,x
        beq @next
        lda #RELEASE
@set:   sta op_state,x
@next:  txa
        clc
        adc #8
        tax
        dey
        bne @op
        plx
        rts

; Channel X's sounding carriers, each one tick on along its own envelope, and their
; sum into fm_att. Keeps X.
fm_envelope:
        stx fm_ch
        lda fm_alg,x
        and #$07
        tay
        lda carriers,y
        and fm_ops,x
        sta fm_car
        lda #$FF
        sta fm_att
        stz fm_past
@op:    lsr fm_car
        bcc @next
        add_credit #<(FM_CARRIER_CYCLES * 77), #>(FM_CARRIER_CYCLES * 77)
        jsr op_envelope
        lda op_state,x
        cmp #ATTACK
        beq @level
        sta fm_past
@level: lda fm_dtml,x           ; its multiple, and its level: 2 x total level plus
        and #$0F                ; the envelope
        sta fm_tmp+1
        lda fm_tl,x
        and #$7F
        asl a
        adc op_env_hi,x
        bcs @silent
        cmp #CARRIER_FLOOR      ; quiet by its total level: the chip's quietest step
        bcc @room
        cmp #2 * CARRIER_QUIET
        bcs @silent
        ldy op_env_hi,x
        cpy #FLOOR_ENVELOPE
        bcc @floor
        ldy op_state,x
        cpy #RELEASE
        beq @room               ; a released carrier fading out goes on falling
@floor: lda #CARRIER_FLOOR
@room:  clc
        adc #SUM_ROOM
        bcc @add
@silent:
        lda #$FF
@add:   jsr att_add
@next:  txa
        clc
        adc #8
        tax
        lda fm_car
        bne @op
        ldx fm_ch
        lda fm_past             ; the note is past its attack
        beq @done
        lda fm_state,x
        cmp #ATTACK
        bne @done
        lda #DECAY1
        sta fm_state,x
@done:  rts

; fm_att = fm_att and A summed (0.375 dB units of attenuation, 255 silence): the lower
; less sum_bonus of their difference for an operator at the multiple of the sum's first
; (fm_tmp+1: in phase, their swings add); at another multiple they add by power (half
; the bonus of twice the difference). Keeps X.
att_add:
        ldy fm_att
        cpy #$FF
        bne @sum
        sta fm_att              ; the first
        lda fm_tmp+1
        sta sum_mul
        rts
@sum:   sta fm_tmp+2
        sec
        sbc fm_att
        bcs @apart
        eor #$FF                ; the lower is the new one
        inc a
        ldy fm_tmp+2
        sty fm_att
@apart: ldy fm_tmp+1
        cpy sum_mul
        bne @power
        lsr a
@power: cmp #64
        bcs @done
        tay
        lda sum_bonus,y
        ldy fm_tmp+1
        cpy sum_mul
        beq @less
        lsr a
@less:  eor #$FF                ; fm_att less the bonus, 0 at least
        sec
        adc fm_att
        bcs @keep
        cla
@keep:  sta fm_att
@done:  rts

; Operator X's envelope (X = 8 x slot + channel fm_ch), one tick on. Rates are the
; chip's: 2 x the register's rate plus the key scale, 0 for a rate of 0; the release
; rate r counts as 2r + 1. Keeps X.
op_envelope:
        lda op_state,x
        beq @done
        ldy fm_ch               ; key scale: the key code (block, F-number bits 10-9)
        lda fm_hi,y             ; shifted right by 3 - KS
        lsr a
        and #$1F
        sta fm_tmp
        lda fm_ks_ar,x
        lsr a
        lsr a
        lsr a
        lsr a
        lsr a
        lsr a
        eor #$03
        tay
@ks:    dey
        bmi @scaled
        lsr fm_tmp
        bra @ks
@scaled:
        lda op_state,x
        cmp #DECAY1
        beq @decay1
        cmp #DECAY2
        beq @decay2
        cmp #RELEASE
        beq @release
        jmp op_attack
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
@level: cmp op_env_hi,x
        beq @sustain
        bcs @done               ; above it still
        sta op_env_hi,x         ; a step past it stops there: a fast decay to a high
        stz op_env_lo,x         ; sustain level holds the note at that level
@sustain:
        lda #DECAY2
        sta op_state,x
        rts
@decay2:
        lda fm_d2r,x
        jsr fm_rate
        bra fm_decay
@release:
        lda fm_sl_rr,x
        asl a
        ora #$01
        jsr fm_rate
        ; fall through
; The attenuation of operator X up by the decay step of rate Y, to silence at most.
fm_decay:
        clc
        lda op_env_lo,x
        adc fm_decay_lo,y
        sta op_env_lo,x
        lda op_env_hi,x
        adc fm_decay_hi,y
        sta op_env_hi,x
        bcc @done
        lda #$FF
        sta op_env_lo,x
        sta op_env_hi,x
@done:  rts

.segment "CODE"

; Operator X's attack, one tick on: the chip's curve, a share of the attenuation off
; each tick (fm_attack, by rate), its decay step at least; at 0 the first decay
; begins. Keeps X.
op_attack:
        lda fm_ks_ar,x
        jsr fm_rate
        sty fm_work+3
        lda fm_attack_lo,y
        sta fm_work+1
        lda fm_attack_hi,y
        sta fm_work+2
        and fm_work+1
        inc a
        beq @attacked           ; at once
        lda op_env_hi,x         ; the share: attenuation x fm_attack / 65536, from the
        sta fm_work             ; attenuation's high byte
        stz fm_tmp+2
        stz fm_tmp+3
        ldy #8
        lsr fm_work
@mul:   bcc @shift
        clc
        lda fm_tmp+2
        adc fm_work+1
        sta fm_tmp+2
        lda fm_tmp+3
        adc fm_work+2
        sta fm_tmp+3
@shift: ror fm_tmp+3
        ror fm_tmp+2
        lsr fm_work
        dey
        bne @mul
        ldy fm_work+3
        lda fm_tmp+2            ; at least the decay step
        cmp fm_decay_lo,y
        lda fm_tmp+3
        sbc fm_decay_hi,y
        bcs @less
        lda fm_decay_lo,y
        sta fm_tmp+2
        lda fm_decay_hi,y
        sta fm_tmp+3
@less:  sec
        lda op_env_lo,x
        sbc fm_tmp+2
        sta op_env_lo,x
        lda op_env_hi,x
        sbc fm_tmp+3
        sta op_env_hi,x
        bcs @done
@attacked:
        stz op_env_lo,x
        stz op_env_hi,x
        lda #DECAY1
        sta op_state,x
@done:  rts

.segment "CODE0TOP"

QUIET_MOST = 1                          ; halvings of a quiet note's wave (quiet_wave: one)
QUIET_WAVE_CYCLES = 700                 ; a wave made smaller

; Channel X's PSG volume in A (1-31) with the carry clear, or the carry set when it is
; too quiet to play: FM_FULL less its carriers' sum (fm_envelope) plus the wave's gain,
; in 0.375 dB units, then in the PSG's 1.5 dB steps. A note under the PSG's quietest
; volume plays its wave at half swing (6 dB, fm_quiet, quiet_wave) till it passes
; volume 24; the wave is loaded again when that changes. Keeps X.
fm_volume:
        ldy fm_quiet,x
@again: lda #FM_FULL * 4 + SUM_ROOM + 2 ; v, 16 bits: rounded to the PSG's steps
        sec
        sbc fm_att
        sta fm_tmp
        lda #0
        sbc #0
        sta fm_tmp+1
        lda fm_gain,x           ; the wave's gain (signed)
        bpl :+
        dec fm_tmp+1
:       clc
        adc fm_tmp
        sta fm_tmp
        bcc :+
        inc fm_tmp+1
:       tya                     ; 6 dB a halving
        asl a
        asl a
        asl a
        asl a
        adc fm_tmp              ; carry clear
        bcc :+
        inc fm_tmp+1
:       sta fm_tmp
        lda fm_tmp+1
        bmi @under
        bne @loud
        lda fm_tmp
        cmp #4
        bcc @under
        cmp #96
        bcc @steps
        cpy #0
        beq @steps
        dey                     ; loud enough for a wave halved once less
        bra @again
@under: cpy #QUIET_MOST
        bcs @done               ; too quiet: the carry set
        iny
        bra @again
@loud:  lda #$FF
@steps: lsr a
        lsr a
        cmp #32
        bcc :+
        lda #31
:       pha
        tya
        cmp fm_quiet,x
        beq @same
        sta fm_quiet,x
        add_credit #<(FM_TAKE_CYCLES * 77), #>(FM_TAKE_CYCLES * 77)
        ldy fm_psg,x
        sty PSG_SELECT
        jsr load_fm_wave
@same:  pla
        clc
@done:  rts

; The wave in wave_out at half its swing about its middle when channel X's note is
; quiet (fm_quiet). Keeps X.
quiet_wave:
        lda fm_quiet,x
        beq @done
        add_credit #<(QUIET_WAVE_CYCLES * 77), #>(QUIET_WAVE_CYCLES * 77)
        phx
        ldx #31
@step:  lda wave_out,x          ; 0-31 to 8-24
        lsr a
        adc #8
        sta wave_out,x
        dex
        bpl @step
        plx
@done:  rts
