; DAC streams (0x90-0x95) in; the YM2612's DAC fed from the data bank at the
; stream's frequency out, between the commands.
;
; One stream is played: the one set up (0x90) for the YM2612's DAC (chip type 2,
; port 0, register 0x2A); commands for other streams are skipped. It reads the data
; bank through the same position as 0x8n (0xE0), as a song uses one or the other.
; The next sample is due when credit reaches st_due: credit counts from the next
; command's due time, so each wait moves st_due back by its length and each sample
; forward by the stream's period (44100 x 12500 / frequency units). Samples that
; fall due while the player is busy are passed over, the last one played.

STREAM_CYCLES = 60                      ; the main loop's test of the stream, not due
SAMPLE_CYCLES = 330                     ; a sample played
STREAM_PERIOD = 4 * SAMPLE_UNITS        ; the shortest period played: 11 kHz

.segment "CODE"

; 0x90 ss tt pp cc: stream ss drives chip tt, port pp, register cc.
stream_setup:
        jsr stream_operands     ; X = ss, tmp..tmp+2 = tt pp cc
        lda tmp
        cmp #$02                ; the first YM2612 (bit 7 would be the second)
        bne @other
        lda tmp+1
        ora #0
        bne @other
        lda tmp+2
        cmp #$2A
        bne @other
        stx st_id
        rts
@other: cpx st_id               ; that stream drives something else now
        bne @done
        lda #$FF
        sta st_id
        stz st_on
@done:  rts

; 0x91 ss dd ll bb: its data bank type, step size and step base.
stream_data:
        jsr stream_operands
        cpx st_id
        bne @done
        lda tmp
        sta st_type
        lda tmp+1
        bne @step
        inc a                   ; a step of 0 counts as 1
@step:  sta st_step
        lda tmp+2
        sta st_base
        jmp stream_bytes
@done:  rts

; st_bytes = st_step x st_stride (a power of two), and st_gap = st_bytes - 1.
stream_bytes:
        lda st_step
        sta st_bytes
        stz st_bytes+1
        stz st_bytes+2
        lda st_stride
        sta tmp
        lda st_stride+1
        sta tmp+1
        lda st_stride+2
        sta tmp+2
@shift: lsr tmp+2
        ror tmp+1
        ror tmp
        bcs @gap                ; the stride's one bit
        asl st_bytes
        rol st_bytes+1
        rol st_bytes+2
        bra @shift
@gap:   sec                     ; st_gap = st_bytes - 1
        lda st_bytes
        sbc #1
        sta st_gap
        lda st_bytes+1
        sbc #0
        sta st_gap+1
        lda st_bytes+2
        sbc #0
        sta st_gap+2
        rts

; X = stream, tmp..tmp+2 = the next three operand bytes.
stream_operands:
        next_byte
        pha
        ldx #0
@byte:  next_byte
        sta tmp,x
        inx
        cpx #3
        bne @byte
        plx
        rts

; 0x92 ss ffffffff: its frequency; period = 44100 x 12500 / f units. A frequency of 0
; stops it.
stream_frequency:
        next_byte
        sta tmp+3
        ldx #0
@byte:  next_byte
        sta divisor,x
        inx
        cpx #4
        bne @byte
        lda tmp+3
        cmp st_id
        bne @done
        lda divisor
        ora divisor+1
        ora divisor+2
        ora divisor+3
        sta st_freq_set
        beq @stop
        lda divisor             ; kept for lengths in milliseconds
        sta st_freq
        lda divisor+1
        sta st_freq+1
        lda divisor+2
        sta st_freq+2
        lda divisor+3
        sta st_freq+3
        lda #$50                ; 551250000 = 0x20DB6850
        sta dividend
        lda #$68
        sta dividend+1
        lda #$DB
        sta dividend+2
        lda #$20
        sta dividend+3
        stz dividend+4
        stz dividend+5
        jsr divide
        ldx #3
@copy:  lda dividend,x
        sta st_period,x
        dex
        bpl @copy
        ; Above 11025 Hz (a period below STREAM_PERIOD; 0 above 551 MHz, taken as
        ; 1), a sample taken stands for `stride` of them, a power of two: 11-22 kHz
        ; plays every other sample, and so on. A played sample costs about
        ; SAMPLE_CYCLES, half of what 11 kHz leaves between them.
        lda #1
        sta st_stride
        stz st_stride+1
        stz st_stride+2
        lda st_period
        ora st_period+1
        ora st_period+2
        ora st_period+3
        bne @double
        inc st_period
@double:
        lda st_period+3
        bne @bytes
        lda st_period
        cmp #<STREAM_PERIOD
        lda st_period+1
        sbc #>STREAM_PERIOD
        lda st_period+2
        sbc #^STREAM_PERIOD
        bcs @bytes
        asl st_period
        rol st_period+1
        rol st_period+2
        asl st_stride
        rol st_stride+1
        rol st_stride+2
        bra @double
@bytes: jmp stream_bytes
@stop:  stz st_on               ; no frequency: the stream stops
@done:  rts

; 0x93 ss aaaaaaaa mm llllllll: start at data offset a (0xFFFFFFFF: where it is)
; with length mode mm: 0 only moves the position, 1 plays l samples, 2 l ms, 3 to
; the end of the data; bit 7 loops. Reverse play (bit 4) plays forward.
stream_start:
        next_byte
        sta tmp+3               ; the stream
        ldx #0
@offset:
        next_byte
        sta pos,x
        inx
        cpx #4
        bne @offset
        next_byte
        sta st_mode
        ldx #0
@length:
        next_byte
        sta factor,x
        inx
        cpx #4
        bne @length
        lda tmp+3
        cmp st_id
        bne @done
        lda pos                 ; a new position?
        and pos+1
        and pos+2
        and pos+3
        cmp #$FF
        beq @kept
        jsr stream_offset
@kept:  lda st_mode
        and #$80
        sta st_loop
        lda st_mode
        and #$03
        beq @moved              ; the position alone
        cmp #2
        bcc @count
        beq @ms
        stz factor              ; to the end of the data
        stz factor+1
        stz factor+2
        bra @go
@ms:    jsr stream_ms           ; l ms: l x f / 1000 samples
@count: lda factor+3            ; beyond 24 bits: to the end of the data
        beq @go
        stz factor
        stz factor+1
        stz factor+2
@go:    lda factor
        sta st_length
        lda factor+1
        sta st_length+1
        lda factor+2
        sta st_length+2
        jmp stream_go
@moved: lda st_on               ; a playing stream goes on from there
        beq @done
        jmp stream_seek
@done:  rts

; st_start = data offset pos (32 bits) + the step base; beyond 24 bits: outside.
stream_offset:
        clc
        lda pos
        adc st_base
        sta st_start
        lda pos+1
        adc #0
        sta st_start+1
        lda pos+2
        adc #0
        sta st_start+2
        lda pos+3
        adc #0
        beq @done
        lda #$FF
        sta st_start
        sta st_start+1
        sta st_start+2
@done:  rts

; factor = factor (ms) x st_freq / 1000, in samples (factor and st_freq taken as 24
; bits; the product as 48).
stream_ms:
        ldx #5
@clear: stz dividend,x
        dex
        bpl @clear
        ldy #24
@bit:   asl dividend            ; dividend = dividend x 2 + ...
        rol dividend+1
        rol dividend+2
        rol dividend+3
        rol dividend+4
        rol dividend+5
        asl factor
        rol factor+1
        rol factor+2
        bcc @next
        clc                     ; ... st_freq where the bit is set
        lda dividend
        adc st_freq
        sta dividend
        lda dividend+1
        adc st_freq+1
        sta dividend+1
        lda dividend+2
        adc st_freq+2
        sta dividend+2
        lda dividend+3
        adc #0
        sta dividend+3
        lda dividend+4
        adc #0
        sta dividend+4
        lda dividend+5
        adc #0
        sta dividend+5
@next:  dey
        bne @bit
        lda #<1000
        sta divisor
        lda #>1000
        sta divisor+1
        stz divisor+2
        stz divisor+3
        jsr divide
        ldx #3
@copy:  lda dividend,x
        sta factor,x
        dex
        bpl @copy
        lda dividend+4
        ora dividend+5
        beq @done
        lda #1                  ; too long: to the end of the data
        sta factor+3
@done:  rts

; 0x94 ss: stop it (0xFF: every stream).
stream_stop:
        next_byte
        cmp #$FF
        beq @stop
        cmp st_id
        bne @done
@stop:  stz st_on
@done:  rts

; 0x95 ss bbbb ff: start from data block b, whole; flags bit 0 loops (bit 4, reverse,
; plays forward).
stream_block:
        next_byte
        sta tmp+3
        next_byte
        sta tmp
        next_byte
        sta tmp+1
        next_byte
        and #$01
        sta st_loop
        lda tmp+3
        cmp st_id
        bne @done
        lda tmp+1
        bne @done               ; no such block
        ldx tmp
        cpx blocks
        bcs @done
        lda blk_start,x
        sta st_start
        lda blk_start+MAX_BLOCKS,x
        sta st_start+1
        lda blk_start+2*MAX_BLOCKS,x
        sta st_start+2
        lda blk_size,x
        sta st_length
        lda blk_size+MAX_BLOCKS,x
        sta st_length+1
        lda blk_size+2*MAX_BLOCKS,x
        sta st_length+2
        jmp stream_go
@done:  rts

; Plays from st_start for st_length samples (0: to the end of the data), the first
; sample due now, if the stream has a frequency and reads type 0x00 data.
stream_go:
        lda st_freq_set
        beq @done
        lda st_type
        bne @done
        jsr stream_rewind
        ldx #3                  ; due now
@now:   lda credit,x
        sta st_due,x
        dex
        bpl @now
        lda #1
        sta st_on
@done:  rts

; The read position at st_start and the count at st_length.
stream_rewind:
        lda st_length
        sta st_left
        lda st_length+1
        sta st_left+1
        lda st_length+2
        sta st_left+2
; The read position at st_start.
stream_seek:
        lda st_start
        sta pcm_pos
        lda st_start+1
        sta pcm_pos+1
        lda st_start+2
        sta pcm_pos+2
        stz pcm_left
        stz pcm_left+1
        stz pcm_left+2
        stz pcm_end_at
        stz st_pass
        stz st_pass+1
        stz st_pass+2
        rts

; Called by the main loop while the stream plays: the samples due are taken
; together and the last of them played, the bytes of the others passed over unread;
; while the player is behind (quota), so are those due within the next quota -
; PCM_SAMPLES samples. Works on st_ahead = st_due - credit, due when negative.
stream_due:
        sec
        lda st_due
        sbc credit
        sta st_ahead
        lda st_due+1
        sbc credit+1
        sta st_ahead+1
        lda st_due+2
        sbc credit+2
        sta st_ahead+2
        lda st_due+3
        sbc credit+3
        sta st_ahead+3
        bmi @due
        add_credit #<(STREAM_CYCLES * 77), #>(STREAM_CYCLES * 77) ; not due: STREAM_CYCLES spent
        rts
@due:   lda quota
        sec
        sbc #PCM_SAMPLES
        tay                     ; Y: the samples ahead that are taken too
        ldx #RUN_LIMIT          ; samples taken at once
        bra @take
@more:  clc                     ; one more taken: the one before it is passed over
        lda st_pass
        adc st_bytes
        sta st_pass
        lda st_pass+1
        adc st_bytes+1
        sta st_pass+1
        lda st_pass+2
        adc st_bytes+2
        sta st_pass+2
        bcc @take
        lda #$FF                ; beyond any bank
        sta st_pass
        sta st_pass+1
        sta st_pass+2
@take:  clc                     ; the next one is due a period later
        lda st_ahead
        adc st_period
        sta st_ahead
        lda st_ahead+1
        adc st_period+1
        sta st_ahead+1
        lda st_ahead+2
        adc st_period+2
        sta st_ahead+2
        lda st_ahead+3
        adc st_period+3
        sta st_ahead+3
        lda st_length           ; counted (0: to the end of the data)
        ora st_length+1
        ora st_length+2
        beq @count
        jsr stream_count
        bcs @play               ; the pass ends with this one
@count: dex
        beq @play
        lda st_ahead+3          ; due now as well?
        bmi @more
        bne @play
        cpy #0                  ; or, behind, within Y samples?
        beq @play
        lda st_ahead
        cmp units0,y
        lda st_ahead+1
        sbc units1,y
        lda st_ahead+2
        sbc units2,y
        bcc @more
@play:  clc                     ; st_due = credit + st_ahead
        lda credit
        adc st_ahead
        sta st_due
        lda credit+1
        adc st_ahead+1
        sta st_due+1
        lda credit+2
        adc st_ahead+2
        sta st_due+2
        lda credit+3
        adc st_ahead+3
        sta st_due+3
        jsr stream_read
        tax
        lda st_length           ; the pass ends with the sample just read
        ora st_length+1
        ora st_length+2
        beq @sample
        lda st_left
        ora st_left+1
        ora st_left+2
        bne @sample
        jsr stream_end
@sample:
        txa
        dac_out
        add_credit #<(SAMPLE_CYCLES * 77), #>(SAMPLE_CYCLES * 77)
        rts

; A sample taken from a stream with a length: the count goes down by the stride, to
; 0 at the end of the pass, when the carry is set. Keeps X and Y.
stream_count:
        sec
        lda st_left
        sbc st_stride
        sta st_left
        lda st_left+1
        sbc st_stride+1
        sta st_left+1
        lda st_left+2
        sbc st_stride+2
        sta st_left+2
        bcc @end
        ora st_left+1
        ora st_left
        beq @end
        clc
        rts
@end:   stz st_left
        stz st_left+1
        stz st_left+2
        sec
        rts
; The stream's pass has ended: it loops or stops. Sets the carry; keeps X.
stream_end:
        lda st_loop
        beq @stop
        jsr stream_rewind
        sec
        rts
@stop:  stz st_on
        sec
        rts

; A = the stream's sample, read after passing over st_pass bytes; the next read
; passes over st_bytes - 1. A read outside the data ends the pass. Inside a block
; with 256 bytes or more left, the byte is read here, pcm_byte's work written out.
stream_read:
        lda st_pass+1
        ora st_pass+2
        bne @far
        lda st_pass             ; fewer than 256: quickly
        beq @read
        jsr pcm_pass
        bra @read
@far:   lda st_pass
        sta pcm_skip_n
        lda st_pass+1
        sta pcm_skip_n+1
        lda st_pass+2
        sta pcm_skip_n+2
        jsr pcm_skip
@read:  lda st_gap
        sta st_pass
        lda st_gap+1
        sta st_pass+1
        lda st_gap+2
        sta st_pass+2
        lda pcm_left+1
        ora pcm_left+2
        beq @slow
        pcm_read_in_block
@slow:  jsr pcm_byte
        sta st_sample
        lda pcm_outside         ; past the data
        beq @out
        jsr stream_end
@out:   lda st_sample
        rts

; A wait of Y + 256 X samples (units in units0,y and tmp+1..tmp+3) moves the
; stream's due time back by as much.
stream_wait:
        sec
        lda st_due
        sbc units0,y
        sta st_due
        lda st_due+1
        sbc tmp+1
        sta st_due+1
        lda st_due+2
        sbc tmp+2
        sta st_due+2
        lda st_due+3
        sbc tmp+3
        sta st_due+3
        rts

; The same for a wait of Y samples, fewer than 256.
stream_wait_short:
        sec
        lda st_due
        sbc units0,y
        sta st_due
        lda st_due+1
        sbc units1,y
        sta st_due+1
        lda st_due+2
        sbc units2,y
        sta st_due+2
        bcs @done
        dec st_due+3
@done:  rts
