; YM2612 PCM: DAC writes (0x52 0x2A), DAC enable (0x52 0x2B), its pan (0x53 0xB6),
; PCM data blocks, seeks (0xE0) and write-and-wait commands (0x80-0x8F) in; the
; samples on PSG channel 5 in DDA mode out, at 5 bits. Other YM2612 writes are FM
; (fm.s), recorded here and in the runs that take them (see stream.s).
;
; The data bank is the song's type 0x00 data blocks one after another; the player
; keeps a table of where each lies in the image and reads a byte by mapping its 8 KiB
; page into window 7 for that read (interrupts are never taken, so the tables and
; vectors there are not needed meanwhile). A read outside the data bank, or beyond
; the 1 MiB a HuC6280 maps, gives 0x80, silence.

DAC_CHANNEL = 5
DAC_VOLUME  = 31                        ; full: the PSG parts sit DUCK steps below it
DUCK        = 8                         ; 12 dB, as a Mega Drive mixes its PSG below its DAC
MAX_BLOCKS  = 32
PCM_SAMPLES = 3                         ; the DAC plays at most one sample in 3
PCM_SAMPLES_LATE = 64                   ; and in up to 64 while the player is behind time
LATE_STEPS  = 4                         ; from 21 samples behind on
PCM_CYCLES  = 400                       ; an 0x8n or DAC write, from the main loop back
PCM_MERGE_CYCLES = 60                   ; each command taken with it
YM_MERGE_CYCLES = 150                   ; each YM2612 write taken with it
PCM_RUN_LIMIT = 64                      ; commands taken with a sample at most

.segment "TABLES"
; How pcm_run takes each command byte: an index into run_kinds.
merge_kinds:
        .repeat 256, C
        skip_length C
        .if C >= $80 && C <= $8F
            .byte 2
        .elseif C >= $70 && C <= $7F
            .byte 4
        .elseif C = $61
            .byte 6
        .elseif C = $52
            .byte 8
        .elseif C = $53
            .byte 10
        .elseif slen > 0
            .byte 12
        .else
            .byte 0
        .endif
        .endrepeat
run_kinds:
        .word run_play, run_pcm, run_short, run_wait, run_port0, run_port1, run_skip
; What pcm_run's commands cost, by the count it had left: PCM_CYCLES for the first,
; PCM_MERGE_CYCLES for each one taken after it; in units, the middle and high byte
; planes.
pcm_units:
        .repeat PCM_RUN_LIMIT, N
        .byte >((PCM_CYCLES + (PCM_RUN_LIMIT - 1 - N) * PCM_MERGE_CYCLES) * 77)
        .endrepeat
        .repeat PCM_RUN_LIMIT, N
        .byte ^((PCM_CYCLES + (PCM_RUN_LIMIT - 1 - N) * PCM_MERGE_CYCLES) * 77)
        .endrepeat
; What the FM writes it took cost beyond that, by their count.
fm_merge_units:
        .repeat PCM_RUN_LIMIT, N
        .byte <(N * (YM_MERGE_CYCLES - PCM_MERGE_CYCLES) * 77)
        .endrepeat
        .repeat PCM_RUN_LIMIT, N
        .byte >(N * (YM_MERGE_CYCLES - PCM_MERGE_CYCLES) * 77)
        .endrepeat
.segment "BSS"
blk_image: .res 3 * MAX_BLOCKS          ; where each block's data stands from the album's first image
blk_start: .res 3 * MAX_BLOCKS          ; its offset in the data bank
blk_size:  .res 3 * MAX_BLOCKS          ; its length (entries from `blocks` on are unused)

.segment "CODE"

; 0x52 rr dd: the DAC's sample and switch are played; any other register is
; recorded for FM, and the commands after it taken as a skip run.
ym_port0:
        next_byte
        cmp #$2A
        beq @sample
        cmp #$2B
        beq @switch
        ldx #0
        jmp ym_fm
@sample:
        jmp dac_sample
@switch:
        next_byte
        and #$80
        sta dac_on
        ; fall through
; Channel 5 follows the DAC's switch and pan. The DAC takes it from FM channel 6,
; which is silent while the DAC is on; switched off, it leaves FM channel 6 playing.
dac_channel:
        lda owned+DAC_CHANNEL
        bmi @done               ; the log's
        ldx dac_on
        bne @take
        cmp #1
        beq @done               ; FM channel 6's
        ldx #DAC_CHANNEL
        stx PSG_SELECT
        bra @off
@take:  stz owned+DAC_CHANNEL
        lda #$FF
        sta fm_wave+DAC_CHANNEL
        ldx #DAC_CHANNEL
        stx PSG_SELECT
        lda dac_pan
        sta PSG_CHANBAL
        lda #$C0 | DAC_VOLUME   ; on, DDA
        sta PSG_CONTROL
        lda #16
        sta PSG_WAVE
        bra @back
@off:   stz PSG_CONTROL
@back:  lda huc_select
        sta PSG_SELECT
@done:  rts

; 0x53 rr dd: the pan of channel 6 (0xB6) is the DAC's and FM channel 6's; the rest
; is recorded for FM.
ym_port1:
        next_byte
        cmp #$B6
        beq @pan
        ldx #3
        bra ym_fm
@pan:   next_byte
        sta fm_pan+DAC_CHANNEL
        tax
        cla
        cpx #$80                ; bit 7: left
        bcc @right
        lda #$F0
@right: sta dac_pan
        txa
        and #$40                ; bit 6: right
        beq @set
        lda dac_pan
        ora #$0F
        sta dac_pan
@set:   jmp dac_channel

; An FM write to register A of port X (0 or 3): applied, and the commands after it
; taken as a skip run, in which it counts as one of the YM2612 writes.
ym_fm:  tay
        lda ym_dest0,y
        cpx #0
        beq @port0
        lda ym_dest1,y
@port0: pha
        next_byte
        ply
        jsr ym_apply
        lda #1
        sta ym_skips
        cla
        jmp skip_counted

; The DAC's sample A (8 bits, 0x80 silent) on channel 5, while the DAC is on and the
; channel is the DAC's; written out where a sample has no cycle to spare. Keeps X.
.macro dac_out
        ldy dac_on
        beq :+
        ldy owned+DAC_CHANNEL
        bne :+
        lsr a
        lsr a
        lsr a
        ldy #DAC_CHANNEL
        sty PSG_SELECT
        sta PSG_WAVE
        lda huc_select
        sta PSG_SELECT
:
.endmacro

; The same as a routine.
dac_write:
        dac_out
        rts

; 0x8n: the data bank's next byte is the sample, then n samples.
pcm_wait:
        lda cmd
        and #$0F
        sta wtotal
        jsr pcm_byte
        bra pcm_run

; 0x52 0x2A dd (the register read): the sample dd.
dac_sample:
        stz wtotal
        next_byte
        ; fall through
; Plays DAC sample A, and takes the commands right after it with it: skipped
; commands and FM writes (ym_peek), which take no time, and while what was taken
; waits fewer than `quota` samples, further samples (0x8n, whose bytes are passed
; over, and DAC writes, dropped) and waits (0x7n, 0x61 below 256 samples), their
; samples added. So the DAC plays one sample in PCM_SAMPLES or more (14.7 kHz at
; most), a stream faster than that costs little more, and fewer while the player is
; behind, until it has caught up: whatever a driver writes between its samples, the
; song keeps its time. Each command is dispatched by its kind (merge_kinds); the
; cycles are accounted in place of the main loop's, by the commands and FM writes
; taken.
pcm_run:
        sta tmp+3
        stz merged
        stz ym_skips
        lda #PCM_RUN_LIMIT      ; the timer must be read now and then
        sta run
run_next:
        dec run
        beq run_play
        lda (ptr)
        tay
        ldx merge_kinds,y
        jmp (run_kinds,x)

run_skip:                       ; a command skipped anyway: its length
        lda skip_lengths,y
run_pass:                       ; A bytes passed over
        clc
        adc ptr
        sta ptr
        bcc run_next
        jsr next_page
        bra run_next

run_pcm:                        ; 0x8n: its byte passed over while under the quota
        lda wtotal
        cmp quota
        bcs run_play
        tya
        and #$0F
        adc wtotal              ; carry is clear
        sta wtotal
        inc merged
        inc ptr
        bne run_next
        jsr next_page
        bra run_next

run_short:                      ; 0x7n: n + 1 samples, taken whole while the total
        lda wtotal              ; has room for them (a long run of them wrapped it)
        cmp #256 - 16
        bcs run_play
        tya
        and #$0F
        sec                     ; one more
        adc wtotal
        sta wtotal
        inc ptr
        bne run_next
        jsr next_page
        bra run_next

run_wait:                       ; 0x61 nn 00: nn samples, while under the quota (operands
        lda wtotal              ; in the next page, or 256 samples and more: left to
        cmp quota               ; the main loop)
        bcs run_play
        ldy ptr
        cpy #$FE
        bcs run_play
        ldy #2
        lda (ptr),y
        bne run_play
        dey
        lda (ptr),y
        adc wtotal              ; carry is clear
        bcs run_play
        sta wtotal
        lda #3
        bra run_pass

run_play:
        jmp run_out

run_port0:                      ; 0x52: the DAC's sample, dropped while under the
        ldy ptr                 ; quota, or an FM write (operands in the next page:
        cpy #$FE                ; left to the handler)
        bcs run_play
        ldy #1
        lda (ptr),y
        cmp #$2A
        bne run_fm
        lda wtotal
        cmp quota
        bcs run_play
        lda #3
        bra run_pass
run_port1:                      ; 0x53: an FM write
        ldy ptr
        cpy #$FE
        bcs run_play
run_fm: jsr ym_peek             ; taken with the sample (the DAC's switch and pan
        bcs run_play            ; end the run)
        inc ym_skips
        lda #3
        jmp run_pass

run_out:
        lda merged              ; the bytes of the 0x8n taken: passed over
        beq @dac
        jsr pcm_pass
@dac:   lda tmp+3               ; the sample
        dac_out
; The same for a run that played no DAC sample (ym_skips 0): its wait and account.
run_end:
        ldy wtotal
        beq @account
        wait_samples
@account:
        ldx run                 ; the account, in place of the main loop's (to 256
        clc                     ; units, a fiftieth of a sample)
        lda credit+1
        adc pcm_units,x
        sta credit+1
        lda credit+2
        adc pcm_units+PCM_RUN_LIMIT,x
        sta credit+2
        bcc @fm
        inc credit+3
@fm:    ldx ym_skips
        beq @long
        add_credit {fm_merge_units,x}, {fm_merge_units+PCM_RUN_LIMIT,x}
@long:  lda run                 ; after a long run, the timer soon
        cmp #PCM_RUN_LIMIT - 4
        bcs @back
        jsr read_soon
@back:  pla                     ; the main loop's return address
        pla
        jmp main

; A (1-255) bytes further on in the data bank, without reading them: quickly while
; the block being read has 256 bytes more or more.
pcm_pass:
        sta pcm_skip_n
        ldy pcm_left+1
        bne @fast
        ldy pcm_left+2
        bne @fast
        stz pcm_skip_n+1
        stz pcm_skip_n+2
        bra pcm_skip
@fast:  clc
        adc pcm_ptr
        sta pcm_ptr
        bcc @left
        inc pcm_ptr+1
        bne @left
        lda #$E0                ; the next 8 KiB page, if a HuC6280 maps it
        sta pcm_ptr+1
        inc pcm_page
        bpl @left
        stz pcm_left            ; beyond: on at the block's end
        stz pcm_left+1
        stz pcm_left+2
        rts
@left:  sec
        lda pcm_left
        sbc pcm_skip_n
        sta pcm_left
        bcs @done
        lda pcm_left+1
        bne @mid
        dec pcm_left+2
@mid:   dec pcm_left+1
@done:  rts

; pcm_skip_n (24 bits) bytes further on in the data bank, without reading them.
pcm_skip:
        lda pcm_skip_n
        ora pcm_skip_n+1
        ora pcm_skip_n+2
        beq @done
        lda pcm_left
        ora pcm_left+1
        ora pcm_left+2
        beq @unread             ; no block being read: pcm_pos stands where it is
        lda pcm_skip_n          ; within the block?
        cmp pcm_left
        lda pcm_skip_n+1
        sbc pcm_left+1
        lda pcm_skip_n+2
        sbc pcm_left+2
        bcs @leave
        sec                     ; pcm_left -= n
        lda pcm_left
        sbc pcm_skip_n
        sta pcm_left
        lda pcm_left+1
        sbc pcm_skip_n+1
        sta pcm_left+1
        lda pcm_left+2
        sbc pcm_skip_n+2
        sta pcm_left+2
        clc                     ; the offset in the 8 KiB page + n, in tmp+1..tmp
        lda pcm_ptr
        adc pcm_skip_n
        sta pcm_ptr
        lda pcm_ptr+1
        and #$1F
        adc pcm_skip_n+1
        sta tmp
        lda pcm_skip_n+2
        adc #0
        sta tmp+1
        lda tmp
        and #$1F
        ora #$E0
        sta pcm_ptr+1
        lda tmp                 ; pages further on: (tmp+1..tmp) / 32
        ldy #5
@page:  lsr tmp+1
        ror a
        dey
        bne @page
        clc
        adc pcm_page
        sta pcm_page
        bcs @far
        cmp #$80                ; the last page a HuC6280 maps is 0x7F
        bcs @far
@done:  rts
@far:   stz pcm_left            ; the block's rest is beyond 1 MiB: on at its end
        stz pcm_left+1
        stz pcm_left+2
        rts
@leave: sec                     ; past the block: n - pcm_left from its end
        lda pcm_skip_n
        sbc pcm_left
        sta pcm_skip_n
        lda pcm_skip_n+1
        sbc pcm_left+1
        sta pcm_skip_n+1
        lda pcm_skip_n+2
        sbc pcm_left+2
        sta pcm_skip_n+2
        stz pcm_left
        stz pcm_left+1
        stz pcm_left+2
@unread:
        jsr pcm_resume
        clc
        lda pcm_pos
        adc pcm_skip_n
        sta pcm_pos
        lda pcm_pos+1
        adc pcm_skip_n+1
        sta pcm_pos+1
        lda pcm_pos+2
        adc pcm_skip_n+2
        sta pcm_pos+2
        bcc @in
        lda #$FF                ; beyond any bank
        sta pcm_pos
        sta pcm_pos+1
        sta pcm_pos+2
@in:    rts

; 0xE0 dddddddd: the data bank's read offset. Beyond 24 bits is beyond any bank.
pcm_seek:
        ldx #0
@byte:  next_byte
        sta pcm_pos,x
        inx
        cpx #3
        bne @byte
        next_byte
        tax
        beq @done
        lda #$FF
        sta pcm_pos
        sta pcm_pos+1
        sta pcm_pos+2
@done:  stz pcm_left            ; found again at the next read
        stz pcm_left+1
        stz pcm_left+2
        stz pcm_end_at
        rts

; A = the next byte of the block being read (pcm_left bytes, 1 or more), then rts;
; the read position moves on. Written out where a sample has no cycle to spare.
.macro pcm_read_in_block
        lda pcm_page
        tam #$80
        lda (pcm_ptr)
        tax
        cla                     ; physical bank 0 back in window 7
        tam #$80
        inc pcm_ptr
        bne :+
        inc pcm_ptr+1
        bne :+
        lda #$E0                ; the next 8 KiB page, if a HuC6280 maps it
        sta pcm_ptr+1
        inc pcm_page
        bpl :+
        stz pcm_left            ; beyond: on at the block's end
        stz pcm_left+1
        stz pcm_left+2
        txa
        rts
:       lda pcm_left            ; pcm_left - 1
        bne :++
        lda pcm_left+1
        bne :+
        dec pcm_left+2
:       dec pcm_left+1
:       dec pcm_left
        txa
        rts
.endmacro

; A block read to its end: the bank goes on from there (pcm_pos = pcm_end).
pcm_resume:
        lda pcm_end_at
        beq @done
        stz pcm_end_at
        lda pcm_end
        sta pcm_pos
        lda pcm_end+1
        sta pcm_pos+1
        lda pcm_end+2
        sta pcm_pos+2
@done:  rts

; A = the data bank's byte at pcm_pos (0x80 outside it); pcm_pos moves on.
pcm_byte:
        lda pcm_left
        ora pcm_left+1
        ora pcm_left+2
        bne @read
        jsr pcm_resume
        lda pcm_pos+2            ; at or past the bank's end: nothing to find, and
        cmp bank_size+2         ; the position stays there
        bne @past
        lda pcm_pos+1
        cmp bank_size+1
        bne @past
        lda pcm_pos
        cmp bank_size
@past:  bcs @outside
        jsr pcm_find
        bcc @read
        inc pcm_pos             ; a block beyond 1 MiB: silence
        bne @outside
        inc pcm_pos+1
        bne @outside
        inc pcm_pos+2
@outside:
        lda #1
        sta pcm_outside
        lda #$80
        rts
@read:  stz pcm_outside
        pcm_read_in_block

; Finds the block that holds pcm_pos: sets pcm_page, pcm_ptr and pcm_left and clears
; the carry, or sets the carry when no block holds it or its page is beyond 1 MiB.
pcm_find:
        ldx blocks
@block: dex
        bpl @scan
        jmp @none
@scan:  sec                     ; tmp = pcm_pos - start
        lda pcm_pos
        sbc blk_start,x
        sta tmp
        lda pcm_pos+1
        sbc blk_start+MAX_BLOCKS,x
        sta tmp+1
        lda pcm_pos+2
        sbc blk_start+2*MAX_BLOCKS,x
        sta tmp+2
        bcc @block              ; before this block
        sec                     ; pcm_left = size - tmp, while positive
        lda blk_size,x
        sbc tmp
        sta pcm_left
        lda blk_size+MAX_BLOCKS,x
        sbc tmp+1
        sta pcm_left+1
        lda blk_size+2*MAX_BLOCKS,x
        sbc tmp+2
        sta pcm_left+2
        bcc @block              ; after it
        ora pcm_left+1
        ora pcm_left
        beq @block
        clc                     ; tmp = image offset of the byte
        lda blk_image,x
        adc tmp
        sta tmp
        lda blk_image+MAX_BLOCKS,x
        adc tmp+1
        sta tmp+1
        lda blk_image+2*MAX_BLOCKS,x
        adc tmp+2
        sta tmp+2
        clc                     ; pcm_end = where the block ends in the bank
        lda blk_start,x
        adc blk_size,x
        sta pcm_end
        lda blk_start+MAX_BLOCKS,x
        adc blk_size+MAX_BLOCKS,x
        sta pcm_end+1
        lda blk_start+2*MAX_BLOCKS,x
        adc blk_size+2*MAX_BLOCKS,x
        sta pcm_end+2
        lda tmp                 ; pcm_ptr = 0xE000 + the offset within its 8 KiB page
        sta pcm_ptr
        lda tmp+1
        and #$1F
        ora #$E0
        sta pcm_ptr+1
        lda tmp+1               ; pcm_page = 2 + offset / 8 KiB
        lsr tmp+2
        ror a
        lsr tmp+2
        ror a
        lsr tmp+2
        ror a
        lsr tmp+2
        ror a
        lsr tmp+2
        ror a
        ldx tmp+2
        bne @none
        cmp #$80 - 2            ; the last page a HuC6280 maps is 0x7F
        bcs @none
        adc #2                  ; carry is clear
        sta pcm_page
        sta pcm_end_at          ; nonzero: pcm_pos is not kept while the block is read
        clc
        rts
@none:  stz pcm_left
        stz pcm_left+1
        stz pcm_left+2
        sec
        rts

; A data block of tmp bytes whose data stands at pos (an offset from the album's
; first image) joins the data bank, while the table has room. Keeps pos and tmp.
pcm_block:
        ldx blocks
        cpx #MAX_BLOCKS
        bcs @done
        lda pos
        sta blk_image,x
        lda pos+1
        sta blk_image+MAX_BLOCKS,x
        lda pos+2
        sta blk_image+2*MAX_BLOCKS,x
        lda bank_size
        sta blk_start,x
        lda bank_size+1
        sta blk_start+MAX_BLOCKS,x
        lda bank_size+2
        sta blk_start+2*MAX_BLOCKS,x
        lda tmp+3               ; 16 MiB and more: more than any image holds
        beq @exact
        lda #$FF
        sta blk_size,x
        sta blk_size+MAX_BLOCKS,x
        sta blk_size+2*MAX_BLOCKS,x
        bra @sum
@exact: lda tmp
        sta blk_size,x
        lda tmp+1
        sta blk_size+MAX_BLOCKS,x
        lda tmp+2
        sta blk_size+2*MAX_BLOCKS,x
@sum:   clc
        lda blk_size,x
        adc bank_size
        sta bank_size
        lda blk_size+MAX_BLOCKS,x
        adc bank_size+1
        sta bank_size+1
        lda blk_size+2*MAX_BLOCKS,x
        adc bank_size+2
        sta bank_size+2
        bcc @count
        lda #$FF                ; the bank's end saturates
        sta bank_size
        sta bank_size+1
        sta bank_size+2
@count: inc blocks
@done:  rts
