; Timing: the timer's counter and the cycles the player spends in, each command run
; at its due time out; the wait commands set the due times.
;
; Time is kept in units of 1/12500 of a 44.1 kHz sample. With the CPU at 315/44 MHz,
; a cycle is 44100 x 44 / 315000000 = 77/12500 samples: exactly 77 units, and 1024
; cycles exactly 78848. The timer runs without an interrupt and its counter, read by
; the main loop, steps down once every 1024 cycles: a clock that never drifts.
; `base` is the song time at the counter's last step minus the next command's due
; time, moved only by whole steps and whole waits. `credit` is the same now: between
; steps it is advanced by the cycles the main loop spends, counted instruction by
; instruction in the idle loop and taken from a table for each command; at each step
; it is held to no less than `base` and no more than MAX_AHEAD cycles past it. A
; command runs as soon as credit reaches zero, so it starts within one pass of the
; idle loop (61 cycles, a third of a sample) plus the table's error since the last
; step of its due time.

STEP_UNITS   = 1024 * 77
SAMPLE_UNITS = 12500
TIMER_STEPS  = 64                       ; the counter runs 63..0, 64 x 1024 cycles
IDLE_CYCLES  = 61                       ; one pass of the idle loop below: 59 by the
                                        ; instruction timings, 61 as measured in libgme
BURST        = 32                       ; commands between readings of the timer, sooner
                                        ; after long runs (read_soon)
READ_CYCLES  = 16384                    ; by the count, cycles since the last step seen
                                        ; after which the timer is read next
MAX_AHEAD    = 2048                     ; cycles: more than the longest run between readings
SKIP_CYCLES     = 165                   ; a skipped command, from the main loop back
SKIP_RUN_CYCLES = 50                    ; each skipped command after it in a run
YM_RUN_CYCLES   = 140                   ; the same for a YM2612 write
HUC_CYCLES      = 240                   ; a HuC6280 write (registers 4-9), the same
HUC_RUN_CYCLES  = 92                    ; each HuC6280 write after it in a run
RUN_WAIT_CYCLES = 136                   ; a short wait that ends a run of HuC6280 writes
AD_CYCLES       = 200                   ; an ADPCM write but a nibble's or VCK's

.segment "TABLES"
; Cycles of each command from the main loop's test of credit to its return there: the
; dispatch, the handler's usual path and the accounting below. Skipped commands and
; HuC6280 writes keep their own account (end_run).
.macro command_cycles C
        is_played C
        .if C = $B9 || played = 0
            cycles .set 0
        .elseif C = $50
            cycles .set 330
        .elseif C = $61
            cycles .set 195     ; fewer than 256 samples
        .elseif C = $62 || C = $63
            cycles .set 260
        .elseif C >= $70 && C <= $7F
            cycles .set 211
        .elseif C >= $80 && C <= $8F
            cycles .set 0       ; pcm_wait keeps its own account
        .elseif C = $52 || C = $53
            cycles .set 150     ; the DAC's switch and pan; the rest keeps its own account
        .elseif C = $E0
            cycles .set 190
        .elseif C = REPLAY
            cycles .set 400
        .elseif C = STRETCH_END
            cycles .set 150     ; the last of a stretch 190, the others 100
        .elseif C = $32
            cycles .set AD_CYCLES ; the ADPCM's settings; its data keeps its own account
        .elseif C >= $90 && C <= $95
            cycles .set 250     ; 0x92 and 0x93 divide, far longer: rare
        .elseif C = $4F
            cycles .set 450
        .elseif C = $66 || C = $67 || C = $4B
            cycles .set 200
        .else
            cycles .set 128     ; 0x40-0x4E
        .endif
.endmacro
; What a run loop's commands cost, by the count X it had left: `head` for the first,
; `each` for the RUN_LIMIT - 1 - X after it; in units, in three byte planes.
.macro run_units name, head, each
name:   .repeat RUN_LIMIT, N
        .byte <((head + (RUN_LIMIT - 1 - N) * each) * 77)
        .endrepeat
        .repeat RUN_LIMIT, N
        .byte >((head + (RUN_LIMIT - 1 - N) * each) * 77)
        .endrepeat
        .repeat RUN_LIMIT, N
        .byte ^((head + (RUN_LIMIT - 1 - N) * each) * 77)
        .endrepeat
.endmacro
run_units skip_run_units, SKIP_CYCLES, SKIP_RUN_CYCLES
; What the YM2612 writes in a skip run cost beyond SKIP_RUN_CYCLES, by their count
; (the first command's own included).
ym_units: .repeat RUN_LIMIT + 1, N
        .byte <(N * (YM_RUN_CYCLES - SKIP_RUN_CYCLES) * 77)
        .endrepeat
        .repeat RUN_LIMIT + 1, N
        .byte >(N * (YM_RUN_CYCLES - SKIP_RUN_CYCLES) * 77)
        .endrepeat
run_units huc_run_units, HUC_CYCLES, HUC_RUN_CYCLES
run_units huc_wait_units, {HUC_CYCLES + RUN_WAIT_CYCLES}, HUC_RUN_CYCLES

; Cycles of each kind of command (kinds), in units; the main loop's look-up of the
; kind comes on top of the cycles above.
.macro kind_cost C
        command_kind C
        .assert kind = * - kind_costs, error, "kind_costs is not in the order of kind_handlers"
        command_cycles C
        .if cycles > 0
            cycles .set cycles + 5
        .endif
        .word cycles * 77
.endmacro
kind_costs:             ; a command of each kind, in the order of kind_handlers
        kind_cost $4B
        kind_cost $4F
        kind_cost $50
        kind_cost $61
        kind_cost $62
        kind_cost $63
        kind_cost $66
        kind_cost $67
        kind_cost $70
        kind_cost $80
        kind_cost $52
        kind_cost $53
        kind_cost $E0
        kind_cost $90
        kind_cost $91
        kind_cost $92
        kind_cost $93
        kind_cost $94
        kind_cost $95
        kind_cost $40
        kind_cost $B9
        kind_cost $32
        kind_cost REPLAY
        kind_cost STRETCH_END
        kind_cost $00           ; skipped: kept by end_run
.assert * - kind_costs = KIND_COUNT * 2, error, "a kind without its cost"
.segment "BSS"
; n x 12500 for n = 0..255, in three byte planes: a wait of n samples costs n x 12500
; units, and the high byte of a 16-bit wait the same shifted by one byte. Worked out
; by init_units.
units0: .res 256
units1: .res 256
units2: .res 256

.segment "CODE0"

init_units:
        stz tmp
        stz tmp+1
        stz tmp+2
        ldx #0
@unit:  lda tmp
        sta units0,x
        clc
        adc #<SAMPLE_UNITS
        sta tmp
        lda tmp+1
        sta units1,x
        adc #>SAMPLE_UNITS
        sta tmp+1
        lda tmp+2
        sta units2,x
        adc #0
        sta tmp+2
        inx
        bne @unit
        rts

.segment "CODE"

start_timer:
        lda #TIMER_STEPS - 1
        sta TIMER_RELOAD
        lda #$01
        sta TIMER_START
        lda #$07                ; no interrupts: the counter is read instead
        sta IRQ_DISABLE
        lda #TIMER_STEPS - 1
        sta last_step
        lda #PCM_SAMPLES
        sta quota
        ; fall through

; Runs each command when it is due. The timer is read while waiting, and before every
; BURST commands run back to back: far more often than its 64 steps come round.
main:
        lda st_on               ; a DAC stream's samples come first
        beq @command
        jsr stream_due
@command:
        lda credit+3
        bmi @idle
        dec burst
        bpl @run
        lda #BURST - 1          ; read the timer first, and count that pass as idle
        sta burst
        bra @idle
@run:   jsr run_command
        ldy cmd
        ldx kinds,y
        clc
        lda credit
        adc kind_costs,x
        sta credit
        lda credit+1
        adc kind_costs+1,x
        sta credit+1
        bcc main
        inc credit+2
        bne main
        inc credit+3
        bra main
@idle:  lda TIMER_RELOAD        ; the counter, 63..0 (some emulators show 64 for a
        and #$7F                ; cycle after the reload: the same step as 63)
        cmp #TIMER_STEPS
        bcs @wrap
@now:   cmp last_step
        bne @step
        clc                     ; IDLE_CYCLES from `main` back to `main`
        lda credit
        adc #<(IDLE_CYCLES * 77)
        sta credit
        lda credit+1
        adc #>(IDLE_CYCLES * 77)
        sta credit+1
        bcc main
        inc credit+2
        bne main
        inc credit+3
        bra main
@wrap:  lda #TIMER_STEPS - 1
        bra @now

; The counter has stepped from last_step to A: base moves on by the steps passed.
@step:  tax
        eor last_step           ; an FM tick when bits 4-5 change
        and #FM_TICK_STEPS
        and fm_on
        sta tick_due
        sec
        lda last_step
        stx last_step
        sbc last_step
        and #TIMER_STEPS - 1
        tay
@add:   clc                     ; STEP_UNITS has a zero low byte
        lda base+1
        adc #>STEP_UNITS
        sta base+1
        lda base+2
        adc #^STEP_UNITS
        sta base+2
        bcc @carried
        inc base+3
@carried:
        dey
        bne @add
        ; Hold credit within [base, base + MAX_AHEAD cycles].
        sec
        lda credit
        sbc base
        lda credit+1
        sbc base+1
        sta tmp+1
        lda credit+2
        sbc base+2
        sta tmp+2
        lda credit+3
        sbc base+3
        bne @reset              ; behind, or far ahead
        lda tmp+2
        cmp #^(MAX_AHEAD * 77)
        bcc @held
        bne @reset
        lda tmp+1
        cmp #>(MAX_AHEAD * 77)
        bcs @reset
@held:  bra @quota
@reset: ldx #3
@copy:  lda base,x
        sta credit,x
        dex
        bpl @copy
@quota:
        ; quota = the samples a DAC sample may stand for: PCM_SAMPLES while the player is
        ; on time or less than 0.5 ms behind (LATE_STEPS x 65536 units: the jitter of a
        ; player at the edge of its speed), then one more for every 5.2 samples it is
        ; behind, up to PCM_SAMPLES_LATE; worked out at each step of the timer.
        lda credit+3
        bmi :+                  ; ahead of the next command
        bne :++                 ; far behind
        lda credit+2
        cmp #LATE_STEPS
        bcc :+
        cmp #PCM_SAMPLES_LATE - PCM_SAMPLES + LATE_STEPS
        bcs :++
        adc #<(PCM_SAMPLES - LATE_STEPS) ; carry is clear
        bra :+++
:       lda #PCM_SAMPLES
        bra :++
:       lda #PCM_SAMPLES_LATE
:       sta quota
@tick:  lda tick_due
        beq @main
        jsr fm_tick
@main:  bit on_card
        bpl :+
        jsr card_hook
:       jmp main

; On a HuCard: the card's own bank at 0xC000 for a moment, to serve its screen and
; pad (once a timer step, while the player waits for its next command).
card_hook:
        tma #$40
        pha
        lda #CARD_BANK
        tam #$40
        jsr CARD_SERVE
        pla
        tam #$40
        rts

; After a long run of commands: when the cycles counted since the timer's last step
; seen reach READ_CYCLES, the main loop reads the timer before the next command, so
; that its 64 steps never come round unread. Keeps X.
read_soon:
        sec
        lda credit+2
        sbc base+2
        cmp #^(READ_CYCLES * 77)
        bcc @done
        stz burst
@done:  rts

wait_short:                     ; 0x7n: n + 1 samples
        lda cmd
        and #$0F
        tay
        iny
        bra wait_y
wait_735:
        lda #<735
        ldx #>735
        bra wait
wait_882:
        lda #<882
        ldx #>882
        bra wait
wait_n:
        next_byte
        pha
        next_byte
        tax
        ply
        cpx #0
        beq wait_y
        tya
; Waits A + 256 X samples: the next command is due (A + 256 X) x 12500 units later.
wait:
        tay
        clc
        lda units1,y
        adc units0,x
        sta tmp+1
        lda units2,y
        adc units1,x
        sta tmp+2
        cla
        adc units2,x
        sta tmp+3
        sec
        lda credit
        sbc units0,y
        sta credit
        lda credit+1
        sbc tmp+1
        sta credit+1
        lda credit+2
        sbc tmp+2
        sta credit+2
        lda credit+3
        sbc tmp+3
        sta credit+3
        lda st_on
        beq @base
        jsr stream_wait
@base:  sec
        lda base
        sbc units0,y
        sta base
        lda base+1
        sbc tmp+1
        sta base+1
        lda base+2
        sbc tmp+2
        sta base+2
        lda base+3
        sbc tmp+3
        sta base+3
        rts

; Waits Y samples, fewer than 256: the common case, kept short.
wait_y:
        wait_samples
        rts
