; A YM2612 channel's patch at its key-on (algorithm, the sounding operators, their
; multiples over the note's and their levels) in, its steady wave out: 32 steps of
; one period of the note, worked out as the chip does, by log-sine and exp tables.
;
; Each operator runs at its multiple over the note's (a whole number, since the note
; is their common divisor) and adds its phase modulation, the low byte of its
; modulators' outputs (a modulator's full swing is four cycles, 1024 with a cycle of
; 256, as on the chip); the carriers' outputs are summed, scaled to 5 bits by the
; peak. Levels: a carrier's below the loudest carrier's, a modulator's own (total
; level and how far it decays early in a note), in 0.375 dB units; S1's feedback as
; on the chip, at 32 steps a period. A channel keeps its patch and wave, and the
; ones before them, until a key-on brings another; 440 ms into a held note its
; modulators are weighed again as they are late in the note (fm_late), and the wave
; moves to theirs.
;
; The work (some 35000 cycles) is cut into 55 slices of at most about 1000 cycles, one
; in a tick without a key-on while the player keeps its time: a log that changes
; patches all the time keeps its time, and a new patch's wave is ready some 130 ms
; after its key-on and played from the next tick on; until then its channel plays
; the wave it had (a sine at first), louder by 3 dB a doubling of its sounding
; carriers.

SHAPE_KEY = 10                          ; bytes of a patch: feedback and algorithm,
                                        ; the operators, four phase steps, four levels
SHAPE_SLICE_CYCLES = 1000               ; a slice of the work, about
SHAPE_TICKS = 1                         ; ticks at least between two waves
FUNDAMENTAL_LEVEL = 24                  ; 9 dB in 0.375 dB units
FB_WARM = 8                             ; steps of S1's feedback before its period

.segment "TABLES"
; The operators in an order in which each comes after its modulators (S1, S2, S3, S4).
shape_order: .byte 0, 2, 1, 3
times_ten: .byte 0, 10, 20, 30, 40, 50
fm_times_32: .byte 0, 32, 64, 96, 128, 160
cycle_steps: .byte 1, 2, 4
; The eighths that fill 5 bits with a peak of 32-63 (floor(508 / peak), 8-15), and
; the 0.375 dB units each adds to the wave (20 log10(m / 8) / 0.375, rounded).
fill_eighths: .byte 15, 15, 14, 14, 14, 13, 13, 13, 12, 12, 12, 11, 11, 11, 11, 10, 10, 10, 10, 9, 9, 9, 9, 9, 9, 8, 8, 8, 8, 8, 8, 8
fill_steps: .byte 0, 3, 5, 7, 9, 11, 13, 15
; The parts of the work, by shape_part - 1.
shape_parts: .word shape_feedback, shape_steps, shape_halves, shape_add_sine
             .word shape_peak, shape_out, shape_gains
; (2 x value - 31)^2 / 16 of each step value 0-31: a sine of full swing (16 + 15 sin)
; sums to 940 over 32 steps.
wave_squares:
        .repeat 32, V
        .byte ((2 * V - 31) * (2 * V - 31) + 8) / 16
        .endrepeat
; Loudness steps of 1.5 dB: step n from a sine's sum x 10^(-0.15 (n - 2.5)), n = 0,
; 1, ...; under the last, step 12.
GAIN_STEPS = 12
gain_bounds_lo:
        .byte <2233, <1581, <1119, <792, <561, <397, <281, <199, <141, <100, <70, <50
gain_bounds_hi:
        .byte >2233, >1581, >1119, >792, >561, >397, >281, >199, >141, >100, >70, >50

.segment "BSS"
; Each channel's patch, its wave, the wave's halvings and its gains: the slot played
; from. A channel keeps its slot before in a second (SLOT_SIZE on), so that a note
; whose wave moves (fm_late) and the next key-on of its patch find their waves ready.
fm_slot:
fm_shapes: .res 6 * SHAPE_KEY           ; each channel's patch
fm_waves:  .res 6 * 32                  ; and its wave
fm_wave_shift: .res 6                   ; the halvings that brought its sum to 5 bits
fm_gains: .res 18                       ; its gain for 1, 2 and 4 cycles
SLOT_SIZE = * - fm_slot
fm_slot_before: .res SLOT_SIZE
fm_before_ok: .res 6                    ; nonzero: the slot before holds a whole wave
fm_wave_new: .res 6                     ; nonzero: the wave changed since it was loaded
fm_shape_due: .res 6                    ; nonzero: the patch is new, its wave not worked out
shape_wait: .res 1                      ; ticks before the next wave may be begun
shape_part: .res 1                      ; the part of the work next (shape_parts), 0 none
sh_i:     .res 1                        ; how far that part has come
nk_key:   .res SHAPE_KEY                ; a key-on's patch, being weighed
nk_step  = nk_key + 2                   ; phase steps (multiple over the note's x 8)
nk_att   = nk_key + 6                   ; levels, 255 for silent
nk_top:   .res 1                        ; the loudest carrier's total level
nk_levels: .res 4                       ; the modulators' levels (mod_level)
nk_carry: .res 1                        ; its algorithm's carriers
nk_chan:  .res 1
sh_key:   .res SHAPE_KEY                ; the patch whose wave is being worked out
sh_step  = sh_key + 2
sh_att   = sh_key + 6                   ; (and the added sine's after it)
sh_att_extra: .res 1
sh_chan:  .res 1                        ; its channel
sh_alg4:  .res 1                        ; algorithm x 4
sh_carry: .res 1                        ; the algorithm's carriers
sh_fb:    .res 1                        ; feedback, 0-7
sh_acc:   .res 4                        ; each operator's phase
sh_out_lo: .res 5                       ; each operator's output (and the added sine's)
sh_out_hi: .res 5
sh_sum_lo: .res 32                      ; the carriers' sum at each step
sh_sum_hi: .res 32
sh_fb_lo: .res 32                       ; S1's outputs with feedback, a period
sh_fb_hi: .res 32
sh_fb_o1_lo: .res 1                     ; S1's last two outputs in the feedback pass
sh_fb_o1_hi: .res 1
sh_fb_o2_lo: .res 1
sh_fb_o2_hi: .res 1
sh_op:    .res 1                        ; the operator being worked out
sh_end:   .res 1                        ; where a slice stops
sh_diff:  .res 3                        ; the wave's halves' difference and size
sh_size:  .res 3
sh_whole: .res 1                        ; the whole wave's loudness step
sh_bonus: .res 1                        ; what its carriers' sum adds, 0.375 dB units
wave_out: .res 32                       ; a wave as it is written to the PSG
sh_m:     .res 1                        ; 8 x the eighths the halved sum is played at
sh_sq_hi: .res 1                        ; a sum of squares' high byte

.segment "CODE0"                        ; bank 0: bank 1 is full

; No patch known, each channel's wave a sine, no work under way.
init_shapes:
        lda #$FF
        sta fm_shapes
        tii fm_shapes, fm_shapes + 1, 6 * SHAPE_KEY - 1
        stz fm_before_ok
        tii fm_before_ok, fm_before_ok + 1, 6 * 3 - 1 ; to fm_shape_due
        stz fm_gains
        tii fm_gains, fm_gains + 1, 17
        lda #$FF                ; nothing kept before
        sta fm_slot_before
        tii fm_slot_before, fm_slot_before + 1, 6 * SHAPE_KEY - 1
        stz shape_wait
        stz shape_part
        ldx #0
@wave:  ldy #0
@step:  lda fm_sine_wave,y
        sta fm_waves,x
        inx
        iny
        cpy #32
        bne @step
        cpx #6 * 32
        bne @wave
        rts

; sw_a = TABLE + A.
.macro point table
        clc
        adc #<table
        sta sw_a
        cla
        adc #>table
        sta sw_a + 1
.endmacro

; The COUNT bytes from TABLE + A exchanged with the slot before's, or copied there
; when sw_copy has bit 7 set.
.macro slot_part table, count
        point table
        clc
        lda sw_a
        adc #<SLOT_SIZE
        sta sw_b
        lda sw_a + 1
        adc #>SLOT_SIZE
        sta sw_b + 1
        ldy #count
        jsr swap_bytes
.endmacro

; The Y bytes at sw_a exchanged with those at sw_b, or copied there (sw_copy bit 7).
; Keeps X.
swap_bytes:
        dey
        lda (sw_a),y
        bit sw_copy
        bmi @copy
        pha
        lda (sw_b),y
        sta (sw_a),y
        pla
@copy:  sta (sw_b),y
        tya
        bne swap_bytes
        rts

; FM channel X's patch weighed (fm_voice has set fm_ops, the note's divisor in
; fm_work+2, nk_top); when it differs from the channel's last, it is kept and its
; wave is due. Keeps X.
fm_shape:
        stx nk_chan
        lda fm_alg,x
        and #$07
        tay
        lda carriers,y
        sta nk_carry
        lda fm_alg,x
        and #$3F
        sta nk_key
        lda fm_ops,x
        sta nk_key+1
        .repeat 4, S
        lda #255                ; silent unless it sounds
        sta nk_att + S
        stz nk_step + S
        lda fm_ops,x
        and #1 << S
        beq :+++
        lda fm_dtml + 8 * S,x   ; the multiple x 2 (0: 1) over the divisor, x 8
        and #$0F
        asl a
        bne :+
        inc a
:       jsr over_divisor
        sta nk_step + S
        txa
        clc
        adc #8 * S
        tay
        lda nk_carry
        and #1 << S
        beq :+
        lda fm_tl,y             ; a carrier: below the loudest
        and #$7F
        sec
        sbc nk_top
        asl a
        sta nk_att + S
        bra :++
:       lda nk_levels + S       ; a modulator: its own level, as fm_voice found it
        asl a
        sta nk_att + S
:
        .endrepeat
        ldx nk_chan
        ; fall through
; Channel X's wave for the patch in nk_key: kept when it is the channel's; otherwise
; the channel's slot and the one before are exchanged, and the patch is there with
; its wave, or is kept and its wave is due. The work on the channel's wave stops.
; Keeps X.
shape_key:
        lda times_ten,x
        point fm_shapes
        jsr key_differs
        bcs @other
        rts
@other: add_credit #<(SLOT_CYCLES * 77), #>(SLOT_CYCLES * 77)
        lda fm_shape_due,x      ; the slot played from holds a whole wave unless it is
        eor #1                  ; due or being worked out, whose work stops
        ldy shape_part
        beq @whole
        ldy sh_chan
        cpy nk_chan
        bne @whole
        stz shape_part
        cla
@whole: pha
        stz sw_copy
        lda fm_before_ok,x
        beq @new
        lda times_ten,x
        point fm_slot_before
        jsr key_differs
        bcs @new
        jsr slot_exchange       ; the patch before, back: played from the next tick
        pla
        sta fm_before_ok,x
        stz fm_shape_due,x
        lda #1
        sta fm_wave_new,x
        rts
@new:   dec sw_copy             ; the slot kept before it, the wave played on till
        jsr slot_exchange       ; the new one is worked out
        pla
        sta fm_before_ok,x
        ldy times_ten,x
        phx
        ldx #0
@keep:  lda nk_key,x
        sta fm_shapes,y
        iny
        inx
        cpx #SHAPE_KEY
        bne @keep
        plx
        lda #1
        sta fm_shape_due,x
        jsr gain_index          ; until its wave is ready: no gain
        tay
        cla
        sta fm_gains,y
        sta fm_gains+1,y
        sta fm_gains+2,y
        rts

; Carry set when nk_key differs from the key at sw_a. Keeps X.
key_differs:
        ldy #SHAPE_KEY - 1
@byte:  lda nk_key,y
        cmp (sw_a),y
        bne @differs
        dey
        bpl @byte
        clc
        rts
@differs:
        sec
        rts

SLOT_CYCLES = 1500                      ; a slot exchanged
; Channel X's slot and the one before it exchanged, or copied there (sw_copy). Keeps X.
slot_exchange:
        lda times_ten,x
        slot_part fm_shapes, SHAPE_KEY
        lda fm_times_32,x
        slot_part fm_waves, 32
        txa
        slot_part fm_wave_shift, 1
        jsr gain_index
        slot_part fm_gains, 3
        rts

; A = A / fm_work+2 (the note's divisor of the multiples, which divides A) x 8.
over_divisor:
        ldy #0
@sub:   sec
        sbc fm_work+2
        iny
        bcs @sub                ; until it goes below zero: Y is one too many
        dey
        tya
        asl a
        asl a
        asl a
        rts

; A tick's slice of the work on waves, while the player keeps its time: the start of
; a wave for the lowest numbered channel whose patch is new, SHAPE_TICKS ticks after
; the last, or the next slice of the one being worked out.
shape_due:
        lda quota               ; nothing while the player is behind
        cmp #PCM_SAMPLES
        bne @done
        lda shape_part
        bne shape_slice
        lda shape_wait
        beq @find
        dec shape_wait
@done:  rts
@find:  ldx #0
@any:   lda fm_shape_due,x
        bne @begin
        inx
        cpx #6
        bne @any
        rts
@begin: stz fm_shape_due,x
        jmp shape_begin

; The next slice of the work.
shape_slice:
        add_credit #<(SHAPE_SLICE_CYCLES * 77), #>(SHAPE_SLICE_CYCLES * 77)
        lda credit+2            ; the third byte of its cycles
        clc
        adc #^(SHAPE_SLICE_CYCLES * 77)
        sta credit+2
        bcc :+
        inc credit+3
:       lda shape_part
        dec a
        asl a
        tax
        jmp (shape_parts,x)

; The work on channel X's patch begun: its key, algorithm, carriers and feedback; the
; phases at 0; next S1's feedback, or the steps when there is none.
shape_begin:
        stx sh_chan
        ldy times_ten,x
        ldx #0
@key:   lda fm_shapes,y
        sta sh_key,x
        iny
        inx
        cpx #SHAPE_KEY
        bne @key
        lda sh_key              ; algorithm x 4, its carriers
        and #$07
        tay
        asl a
        asl a
        sta sh_alg4
        lda carriers,y
        sta sh_carry
        lda sh_key              ; feedback
        lsr a
        lsr a
        lsr a
        and #$07
        sta sh_fb
        stz sh_acc
        stz sh_acc+1
        stz sh_acc+2
        stz sh_acc+3
        stz sh_i
        stz sh_fb_o1_lo
        stz sh_fb_o1_hi
        stz sh_fb_o2_lo
        stz sh_fb_o2_hi
        lda #2                  ; the steps, unless S1 sounds with feedback
        ldx sh_fb
        beq @part
        ldx sh_att
        cpx #255
        beq @part
        lda #1
@part:  sta shape_part
        rts

; Part 1, four of 40 steps a slice: S1 with its feedback (its last two outputs' sum
; over 2^(9 - feedback) added to its phase, as on the chip) over a quarter period and
; a period; S1 plays the period.
shape_feedback:
        lda sh_i
        clc
        adc #4
        sta sh_end
@fb:    clc                     ; the sum of its last two outputs
        lda sh_fb_o1_lo
        adc sh_fb_o2_lo
        sta fm_tmp
        lda sh_fb_o1_hi
        adc sh_fb_o2_hi
        sta fm_tmp+1
        lda #9
        sec
        sbc sh_fb
        tax
@shift: lda fm_tmp+1
        cmp #$80
        ror fm_tmp+1
        ror fm_tmp
        dex
        bne @shift
        lda sh_fb_o1_lo
        sta sh_fb_o2_lo
        lda sh_fb_o1_hi
        sta sh_fb_o2_hi
        lda sh_acc              ; its phase
        clc
        adc fm_tmp
        ldx #0
        jsr op_eval
        lda sh_acc
        clc
        adc sh_step
        sta sh_acc
        lda sh_out_lo
        sta sh_fb_o1_lo
        lda sh_out_hi
        sta sh_fb_o1_hi
        ldy sh_i
        cpy #FB_WARM
        bcc @next
        sta sh_fb_hi - FB_WARM,y
        lda sh_out_lo
        sta sh_fb_lo - FB_WARM,y
@next:  iny
        sty sh_i
        cpy sh_end
        bne @fb
        cpy #FB_WARM + 32
        bne @done
        stz sh_i                ; the steps next
        inc shape_part
@done:  rts

; Part 2, one of 32 steps a slice: each operator in turn, its phase plus its
; modulators' outputs, the carriers summed.
shape_steps:
        lda sh_i
        clc
        adc #1
        sta sh_end
@step:  stz fm_tmp              ; the carriers' sum
        stz fm_tmp+1
        ldy #0
@op:    sty sh_op
        ldx shape_order,y
        lda sh_att,x
        cmp #255
        bne @sounds
        stz sh_out_lo,x
        stz sh_out_hi,x
        bra @next_op
@sounds:
        cpx #0
        bne @modulated
        lda sh_fb
        beq @modulated
        ldy sh_i                ; S1 with feedback: from part 1
        lda sh_fb_lo,y
        sta sh_out_lo
        lda sh_fb_hi,y
        sta sh_out_hi
        bra @carrier
@modulated:
        txa                     ; the modulators' outputs, low bytes
        ora sh_alg4
        tay
        lda fm_sources,y
        sta fm_tmp+2
        lda sh_acc,x
        ldy #0
@mod:   lsr fm_tmp+2
        bcc @no_mod
        clc
        adc sh_out_lo,y
@no_mod:
        iny
        cpy #4
        bne @mod
        pha
        lda sh_acc,x
        clc
        adc sh_step,x
        sta sh_acc,x
        pla
        jsr op_eval
@carrier:
        lda sh_carry            ; carriers into the sum
        and bit_right,x
        beq @next_op
        clc
        lda fm_tmp
        adc sh_out_lo,x
        sta fm_tmp
        lda fm_tmp+1
        adc sh_out_hi,x
        sta fm_tmp+1
@next_op:
        ldy sh_op
        iny
        cpy #4
        beq @stored
        jmp @op
@stored:
        ldy sh_i
        lda fm_tmp
        sta sh_sum_lo,y
        lda fm_tmp+1
        sta sh_sum_hi,y
        iny
        sty sh_i
        cpy sh_end
        beq @slice
        jmp @step
@slice: cpy #32
        bne @done
        stz sh_i                ; the halves next
        ldx #5
@clear: stz sh_diff,x
        dex
        bpl @clear
        inc shape_part
@done:  rts

; Part 3, four of 16 pairs a slice: a wave that nearly repeats every half period
; (its two halves' difference under a quarter of its size) is heard an octave up;
; on the chip the partials move (detune, feedback, decays) and the note's
; fundamental stays. Such a wave gets the note's own sine, 9 dB down (part 4).
shape_halves:
        lda sh_i
        clc
        adc #4
        sta sh_end
        ldy sh_i
@pair:  sec                     ; the difference of the step and the one half a period on
        lda sh_sum_lo,y
        sbc sh_sum_lo + 16,y
        sta fm_tmp
        lda sh_sum_hi,y
        sbc sh_sum_hi + 16,y
        ldx #0
        jsr add_size
        lda sh_sum_lo,y         ; the sizes of both
        sta fm_tmp
        lda sh_sum_hi,y
        ldx #3
        jsr add_size
        lda sh_sum_lo + 16,y
        sta fm_tmp
        lda sh_sum_hi + 16,y
        ldx #3
        jsr add_size
        iny
        cpy sh_end
        bne @pair
        sty sh_i
        cpy #16
        bne @done
        stz sh_i
        ldx #2                  ; the difference x 4 against the size
@times4:
        asl sh_diff
        rol sh_diff+1
        rol sh_diff+2
        dex
        bne @times4
        lda sh_diff+2
        cmp sh_size+2
        bne @compare
        lda sh_diff+1
        cmp sh_size+1
        bne @compare
        lda sh_diff
        cmp sh_size
@compare:
        lda #4                  ; weak: the sine added (part 4)
        bcc @part
        lda #5                  ; the halves differ enough: the peak (part 5)
@part:  sta shape_part
        lda #FUNDAMENTAL_LEVEL
        sta sh_att+4
@done:  rts

; sh_diff (X = 0) or sh_size (X = 3), 24 bits, += the size of fm_tmp and A (16 bits,
; signed). Keeps Y.
add_size:
        ora #0
        bpl @positive
        sta fm_tmp+1
        sec
        lda #0
        sbc fm_tmp
        sta fm_tmp
        lda #0
        sbc fm_tmp+1
@positive:
        sta fm_tmp+1
        clc
        lda sh_diff,x
        adc fm_tmp
        sta sh_diff,x
        lda sh_diff+1,x
        adc fm_tmp+1
        sta sh_diff+1,x
        bcc @done
        inc sh_diff+2,x
@done:  rts

; Part 4, eight of 32 steps a slice: the note's sine added (as an operator past the
; last, at its own level).
shape_add_sine:
        lda sh_i
        clc
        adc #8
        sta sh_end
@add:   lda sh_i
        asl a
        asl a
        asl a
        ldx #4
        jsr op_eval
        ldy sh_i
        clc
        lda sh_sum_lo,y
        adc sh_out_lo+4
        sta sh_sum_lo,y
        lda sh_sum_hi,y
        adc sh_out_hi+4
        sta sh_sum_hi,y
        iny
        sty sh_i
        cpy sh_end
        bne @add
        cpy #32
        bne @done
        stz sh_i
        inc shape_part
@done:  rts

; Part 5: the sum's peak: the halvings that bring it under 64 (fm_wave_shift), and
; sh_m, 8 x the eighths (8-15) that then fill the wave's 5 bits with it.
shape_peak:
        stz fm_tmp              ; the peak's size, 16 bits
        stz fm_tmp+1
        ldy #31
@size:  lda sh_sum_lo,y
        sta fm_tmp+2
        lda sh_sum_hi,y
        bpl @positive
        lda #0                  ; negated
        sec
        sbc sh_sum_lo,y
        sta fm_tmp+2
        lda #0
        sbc sh_sum_hi,y
@positive:
        cmp fm_tmp+1
        bcc @smaller
        bne @larger
        ldx fm_tmp+2
        cpx fm_tmp
        bcc @smaller
@larger:
        sta fm_tmp+1
        lda fm_tmp+2
        sta fm_tmp
@smaller:
        dey
        bpl @size
        ldx #0
@shift: lda fm_tmp+1
        bne @more
        lda fm_tmp
        cmp #64
        bcc @shifted
@more:  lsr fm_tmp+1
        ror fm_tmp
        inx
        bra @shift
@shifted:
        ldy #15                 ; a peak under 32 (a faint sum): the most
        sbc #32 - 1             ; carry clear: less 32
        bcc @fill
        tay
        lda fill_eighths,y
        tay
@fill:  tya
        asl a
        asl a
        asl a
        sta sh_m
        txa
        ldx sh_chan
        sta fm_wave_shift,x
        stz sh_i
        inc shape_part
        rts

; Part 6, four of 32 steps a slice: the sum halved fm_wave_shift times, times sh_m
; over 256, plus 16, into the channel's wave.
shape_out:
        lda sh_i
        clc
        adc #4
        sta sh_end
        ldx sh_chan
        lda fm_times_32,x
        clc
        adc sh_i
        sta fm_tmp+3            ; where in fm_waves
@out:   ldy sh_i
        lda sh_sum_lo,y
        sta fm_tmp
        lda sh_sum_hi,y
        sta fm_tmp+1
        ldx sh_chan
        ldy fm_wave_shift,x
        beq @scaled
@down:  lda fm_tmp+1            ; arithmetic shift right
        cmp #$80
        ror fm_tmp+1
        ror fm_tmp
        dey
        bne @down
@scaled:
        lda fm_tmp              ; its size (64 at most) times sh_m over 256
        bpl :+
        eor #$FF
        inc a
:       sta fm_tmp+2
        cla
        ldy #8
        lsr fm_tmp+2
@mul:   bcc :+
        clc
        adc sh_m
:       ror a
        ror fm_tmp+2
        dey
        bne @mul
        bit fm_tmp
        bpl :+
        eor #$FF
        inc a
:       clc
        adc #16
        ldx fm_tmp+3
        sta fm_waves,x
        inc fm_tmp+3
        inc sh_i
        lda sh_i
        cmp sh_end
        bne @out
        cmp #32
        bne @done
        stz sh_i
        inc shape_part
@done:  rts

; Part 7, four slices: the whole wave's loudness and what its carriers' sum adds at
; their levels, then the channel's gains for 1, 2 and 4 cycles (fm_gains), in 0.375 dB
; units: 6 dB a halving the carriers' sum took beyond one full carrier's (the wave
; keeps the sum's swing but for those halvings), less what the sum adds (the volume
; has it from the carriers' own levels), and what reading every second or fourth step
; takes out of the wave's loudness (sums of squares against the whole wave's), so that
; a patch plays as loud high as low. Then the wave is the channel's.
shape_gains:
        ldx sh_chan
        lda sh_i
        bne @gain
        lda #$FF                ; the sounding carriers summed at their levels
        sta fm_att
        lda sh_carry
        and sh_key+1
        sta fm_car
        ldx #0
@sum:   lsr fm_car
        bcc @more
        lda sh_step,x
        sta fm_tmp+1
        lda sh_att,x
        clc
        adc #SUM_ROOM
        bcc :+
        lda #$FF
:       jsr att_add
@more:  inx
        lda fm_car
        bne @sum
        lda #SUM_ROOM
        sec
        sbc fm_att
        sta sh_bonus
        ldx sh_chan
        ldy #0                  ; the whole wave
        jsr wave_loudness
        sta sh_whole
        inc sh_i
        rts
@gain:  dec a                   ; cycles 0-2
        tay
        jsr wave_loudness
        sec                     ; 0.375 dB units: 4 a loudness step
        sbc sh_whole
        asl a
        asl a
        sec
        sbc sh_bonus
        sta fm_tmp+3
        lda fm_wave_shift,x     ; 6 dB a halving beyond one full carrier's 4, less
        sec                     ; what the eighths add
        sbc #4
        asl a
        asl a
        asl a
        asl a
        clc
        adc fm_tmp+3
        pha
        lda sh_m
        lsr a
        lsr a
        lsr a
        tay
        pla
        sec
        sbc fill_steps - 8,y
        sta fm_tmp+3
        jsr gain_index
        clc
        adc sh_i
        tay
        lda fm_tmp+3
        sta fm_gains - 1,y
        inc sh_i
        lda sh_i
        cmp #4
        bne @done
        lda #1
        sta fm_wave_new,x
        lda #SHAPE_TICKS
        sta shape_wait
        stz shape_part
@done:  rts

; A = 3 x channel X: where its gains start in fm_gains. Keeps X and Y.
gain_index:
        stx sh_op
        txa
        asl a
        clc
        adc sh_op
        rts

; Operator X's output at phase A (256 a cycle) and level sh_att: a quarter sine's
; attenuation, mirrored, plus the level, through the exp table; negative in the second
; half cycle. Into sh_out_lo/hi. Keeps X.
op_eval:
        sta fm_tmp+3
        and #$3F
        bit fm_tmp+3
        bvc @rising
        eor #$3F
@rising:
        tay
        lda fm_log_sine,y
        clc
        adc sh_att,x
        bcc @level
        lda #255
@level: tay
        lda fm_exp_lo,y
        sta sh_out_lo,x
        lda fm_exp_hi,y
        sta sh_out_hi,x
        bit fm_tmp+3
        bpl @done
        sec
        lda #0
        sbc sh_out_lo,x
        sta sh_out_lo,x
        lda #0
        sbc sh_out_hi,x
        sta sh_out_hi,x
@done:  rts

; FM channel X's wave to the selected PSG channel: 2 or 4 periods of it in the 32
; steps for a high note (every second or fourth step), and fm_gain for it. The steps
; are gathered first, so that the channel is silent only while they are moved in: a
; wave that comes in during a note is a short tick, not a gap. Keeps X.
load_fm_wave:
        jsr gain_index          ; the gain worked out for these cycles
        clc
        adc fm_cycles,x
        tay
        lda fm_gains,y
        sta fm_gain,x
        phx                     ; the steps to write, while the channel plays on
        ldy fm_cycles,x
        lda cycle_steps,y
        sta fm_tmp
        lda fm_times_32,x
        sta fm_tmp+1
        cly
        cla
@step:  tax
        ora fm_tmp+1
        sax                     ; X: the step read, A: the count
        lda fm_waves,x
        sta wave_out,y
        sax                     ; the next step
        clc
        adc fm_tmp
        and #31
        iny
        cpy #32
        bne @step
        plx
        jsr quiet_wave
        lda #$40                ; off, DDA: the waveform index restarts; the channel
        sta PSG_CONTROL         ; is off for the block move alone (about 30 us)
        stz PSG_CONTROL
        tin wave_out, PSG_WAVE, 32
        rts

; A = the loudness step of FM channel X's wave read every 2^Y steps (n where its sum
; of squares is first not under gain_bounds n; a sine is step 3). Keeps X and
; fm_tmp+3.
wave_loudness:
        phx
        lda cycle_steps,y
        sta fm_tmp
        lda fm_times_32,x
        sta fm_tmp+1
        stz fm_tmp+2            ; the sum of squares, 16 bits in fm_tmp+2 and sh_sq_hi
        stz sh_sq_hi
        ldy #32
        cla
@step:  pha
        ora fm_tmp+1
        tax
        lda fm_waves,x
        tax
        clc
        lda wave_squares,x
        adc fm_tmp+2
        sta fm_tmp+2
        bcc :+
        inc sh_sq_hi
:       pla
        clc
        adc fm_tmp
        and #31
        dey
        bne @step
        ldy #0
@bound: lda sh_sq_hi
        cmp gain_bounds_hi,y
        bne :+
        lda fm_tmp+2
        cmp gain_bounds_lo,y
:       bcs @found
        iny
        cpy #GAIN_STEPS
        bne @bound
@found: tya
        plx
        rts
