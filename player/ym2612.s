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
DUCK        = 6                         ; 9 dB; the Mega Drive mixes its PSG about 12 dB below
MAX_BLOCKS  = 32
PCM_SAMPLES = 3                         ; the DAC plays at most one sample in 3
PCM_SAMPLES_LATE = 16                   ; and in 16 while the player is behind time
LATE_UNITS  = $80000                    ; by 42 samples (1 ms) or more
PCM_CYCLES  = 400                       ; an 0x8n, from the main loop back
PCM_MERGE_CYCLES = 64                   ; each 0x8n taken with it
SKIP_MERGE_CYCLES = 48                  ; each skipped command taken with it
YM_MERGE_CYCLES = 150                   ; each YM2612 write taken with it
PCM_RUN_LIMIT = 32                      ; commands taken with an 0x8n at most
SPENT_LIMIT = 240                       ; and cycles (3840)
DAC_CYCLES  = 300                       ; a DAC write (0x52 0x2A), from the main loop back
DAC_MERGE_CYCLES = 60                   ; each command taken with it

.segment "TABLES"
; What pcm_wait makes of each command byte: 0x80 + n for 0x8n, 0x40 for 0x52 and
; 0x41 for 0x53 (whose register decides), the length of a command skipped anyway, 0
; for the others, which end the run.
merge_kinds:
        .repeat 256, C
        .if C >= $80 && C <= $8F
            .byte $80 | (C & $0F)
        .elseif C = $52
            .byte $40
        .elseif C = $53
            .byte $41
        .else
            skip_length C
            .byte slen
        .endif
        .endrepeat
; What dac_run's commands cost, by the count X it had left.
        run_units dac_units, DAC_CYCLES, DAC_MERGE_CYCLES
; n x 16 cycles in units, in three byte planes.
sixteen_units:
        .repeat 256, N
        .byte <(N * 16 * 77)
        .endrepeat
        .repeat 256, N
        .byte >(N * 16 * 77)
        .endrepeat
        .repeat 256, N
        .byte ^(N * 16 * 77)
        .endrepeat

.segment "BSS"
blk_image: .res 3 * MAX_BLOCKS          ; image offset of each block's data, by byte planes
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
        jmp dac_run
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

; The DAC's sample A (8 bits, 0x80 silent) on channel 5, while the DAC is on. Keeps X.
dac_write:
        ldy dac_on
        beq @done
        ldy owned+DAC_CHANNEL
        bne @done
        lsr a
        lsr a
        lsr a
        ldy #DAC_CHANNEL
        sty PSG_SELECT
        sta PSG_WAVE
        lda huc_select
        sta PSG_SELECT
@done:  rts

; 0x8n: the next byte of the data bank to the DAC, then n samples. The commands right
; after it are taken with it: skipped commands and FM writes (ym_peek), which take no
; time, and further 0x8n while it covers fewer than `quota` samples (their
; bytes passed over, their waits added). So the DAC plays one sample in PCM_SAMPLES
; or more (14.7 kHz at most), and a faster stream costs little more. When the player
; is 1 ms behind or more (a dense stream among many FM writes), it plays one in
; PCM_SAMPLES_LATE until it has caught up, so the song keeps its time. Keeps its own
; account of cycles (`spent`, in 16-cycle units).
pcm_wait:
        lda #PCM_SAMPLES
        ldx credit+3
        bne @late
        ldx credit+2
        cpx #>(LATE_UNITS >> 8)
        bcc @quota
@late:  lda #PCM_SAMPLES_LATE
@quota: sta quota
        lda cmd
        and #$0F
        sta wtotal
        jsr pcm_byte            ; the sample to play
        sta tmp+3
        stz merged
        lda #PCM_CYCLES / 16
        sta spent
        ldx #PCM_RUN_LIMIT      ; the timer must be read now and then
@next:  dex
        beq @play
        lda (ptr)
        tay
        lda merge_kinds,y
        bmi @pcm
        beq @play
        cmp #$40
        bcs @ym
        ldy #SKIP_MERGE_CYCLES / 16
@skip:  clc                     ; A bytes of a skipped command
        adc ptr
        sta ptr
        bcc @count
        jsr next_page
@count: tya
        clc
        adc spent
        sta spent
        cmp #SPENT_LIMIT
        bcc @next
        bra @play
@ym:    ldy ptr                 ; operands in the next page: left to the handler
        cpy #$FE
        bcs @play
        jsr ym_peek             ; an FM write: taken with the 0x8n
        bcs @play
        lda #3
        ldy #YM_MERGE_CYCLES / 16
        bra @skip
@pcm:   ldy wtotal              ; another 0x8n while fewer than the quota
        cpy quota
        bcs @play
        and #$0F
        clc
        adc wtotal
        sta wtotal
        inc merged
        inc ptr
        bne @taken
        jsr next_page
@taken: lda #PCM_MERGE_CYCLES / 16
        clc
        adc spent
        sta spent
        cmp #SPENT_LIMIT
        bcc @next
        bra @play
@play:  lda merged              ; the bytes of the 0x8n taken: passed over
        beq @dac
        jsr pcm_pass
@dac:   lda tmp+3               ; the sample
        jsr dac_write
        ldy wtotal
        wait_samples
        ldx spent               ; the account, in place of the main loop's
        clc
        lda credit
        adc sixteen_units,x
        sta credit
        lda credit+1
        adc sixteen_units+256,x
        sta credit+1
        lda credit+2
        adc sixteen_units+512,x
        sta credit+2
        bcc @back
        inc credit+3
@back:  jsr read_soon
        pla                     ; the main loop's return address
        pla
        jmp main

; A (1-16) bytes further on in the data bank, without reading them.
pcm_pass:
        sta tmp
        lda pcm_left+2
        ora pcm_left+1
        bne @fast
        lda pcm_left
        cmp tmp
        bcs @fast
@slow:  jsr pcm_byte            ; the block ends among them
        dec tmp
        bne @slow
        rts
@fast:  clc
        lda pcm_ptr
        adc tmp
        sta pcm_ptr
        bcc @left
        inc pcm_ptr+1
        bne @left
        lda #$E0                ; the next 8 KiB page, if a HuC6280 maps it
        sta pcm_ptr+1
        inc pcm_page
        bpl @left
        stz pcm_left
        stz pcm_left+1
        stz pcm_left+2
        rts
@left:  sec
        lda pcm_left
        sbc tmp
        sta pcm_left
        bcs @done
        lda pcm_left+1
        bne @mid
        dec pcm_left+2
@mid:   dec pcm_left+1
@done:  rts

; 0x52 0x2A dd: the DAC's sample dd, and the commands right after it: waits, which
; are taken whole, skipped commands, and further DAC samples while what was taken
; covers fewer than `quota` samples (dropped, as pcm_wait drops bytes). So direct DAC
; writes, at 22 kHz or faster, play like 0x8n. Keeps its own account.
dac_run:
        next_byte
        sta tmp+3
        lda #PCM_SAMPLES
        ldx credit+3
        bne @late
        ldx credit+2
        cpx #>(LATE_UNITS >> 8)
        bcc @quota
@late:  lda #PCM_SAMPLES_LATE
@quota: sta quota
        stz wtotal
        ldx #RUN_LIMIT          ; the timer must be read now and then
@next:  dex
        beq @play
        lda (ptr)
        tay
        and #$F0
        cmp #$70
        beq @short
        cpy #$61
        beq @wait
        cpy #$52
        bne @other
        lda ptr+1               ; in the windows' last page: left to the main loop
        cmp #WINDOW_END - 1
        beq @play
        ldy #1
        lda (ptr),y
        cmp #$2A
        bne @fm
        lda wtotal              ; another sample while fewer than the quota
        cmp quota
        bcs @play
        lda #3
        bra @pass
@fm:    jsr ym_peek             ; an FM write: taken with the sample, and the
        bcs @play               ; timer read after the run
        stz burst
        lda #3
        bra @pass
@other: lda merge_kinds,y       ; a command skipped anyway (not 0x8n, not 0x53)
        bmi @play
        beq @play
        cmp #$40
        bcs @play
@pass:  clc                     ; A bytes passed over
        adc ptr
        sta ptr
        bcc @next
        jsr next_page
        bra @next
@short: tya                     ; 0x7n: n + 1 samples
        and #$0F
        sec
        adc wtotal
        sta wtotal
        lda #1
        bra @pass
@wait:  lda ptr+1               ; 0x61 nn 00: nn samples (longer waits end the run)
        cmp #WINDOW_END - 1
        beq @play
        ldy #2
        lda (ptr),y
        bne @play
        dey
        lda (ptr),y
        clc
        adc wtotal
        bcs @play
        sta wtotal
        lda #3
        bra @pass
@play:  lda dac_on              ; the sample: dac_write, written out here, where a
        beq @waits              ; 22 kHz stream of DAC writes has no cycle to spare
        lda owned+DAC_CHANNEL
        bne @waits
        lda tmp+3
        lsr a
        lsr a
        lsr a
        ldy #DAC_CHANNEL
        sty PSG_SELECT
        sta PSG_WAVE
        lda huc_select
        sta PSG_SELECT
@waits: ldy wtotal
        beq @done
        wait_samples
@done:  clc                     ; the account, in place of the main loop's: by the
        lda credit              ; number of commands taken (X is what was left)
        adc dac_units,x
        sta credit
        lda credit+1
        adc dac_units+RUN_LIMIT,x
        sta credit+1
        lda credit+2
        adc dac_units+2*RUN_LIMIT,x
        sta credit+2
        bcc @back
        inc credit+3
@back:  pla                     ; the main loop's return address
        pla
        jmp main

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

; A = the data bank's byte at pcm_pos (0x80 outside it); pcm_pos moves on.
pcm_byte:
        lda pcm_left
        ora pcm_left+1
        ora pcm_left+2
        bne @read
        lda pcm_end_at          ; a block read to its end: the bank goes on from there
        beq @find
        stz pcm_end_at
        lda pcm_end
        sta pcm_pos
        lda pcm_end+1
        sta pcm_pos+1
        lda pcm_end+2
        sta pcm_pos+2
@find:  jsr pcm_find
        bcc @read
        lda #1
        sta pcm_outside
        inc pcm_pos             ; outside the bank: silence
        bne @none
        inc pcm_pos+1
        bne @none
        inc pcm_pos+2
@none:  lda #$80
        rts
@read:  stz pcm_outside
        lda pcm_page
        tam #$80
        lda (pcm_ptr)
        tax
        cla                     ; physical bank 0 back in window 7
        tam #$80
        inc pcm_ptr
        bne @step
        inc pcm_ptr+1
        bne @step
        lda #$E0                ; the next 8 KiB page, if a HuC6280 maps it
        sta pcm_ptr+1
        inc pcm_page
        bpl @step
        stz pcm_left
        stz pcm_left+1
        stz pcm_left+2
        txa
        rts
@step:  lda pcm_left            ; pcm_left - 1
        bne @low
        lda pcm_left+1
        bne @mid
        dec pcm_left+2
@mid:   dec pcm_left+1
@low:   dec pcm_left
        txa
        rts

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
        lda tmp+1               ; pcm_page = 2 + 4 x first_bank + offset / 8 KiB
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
        sta pcm_page
        lda first_bank
        asl a
        asl a
        adc #2                  ; carry is clear
        adc pcm_page
        bcs @none
        sta pcm_page
        cmp #$80                ; the last page a HuC6280 maps is 0x7F
        bcs @none
        sta pcm_end_at          ; nonzero: pcm_pos is not kept while the block is read
        clc
        rts
@none:  stz pcm_left
        stz pcm_left+1
        stz pcm_left+2
        sec
        rts

; A type 0x00 data block whose data starts at image offset pos and is tmp bytes long
; joins the data bank, unless the loop has brought the stream back over it. Keeps pos
; and tmp.
pcm_block:
        ldx blocks
        cpx #MAX_BLOCKS
        bcs @done
        beq @new                ; the first block
        dex                     ; only blocks past the last one found are new
        lda pos+2
        cmp blk_image+2*MAX_BLOCKS,x
        bne @order
        lda pos+1
        cmp blk_image+MAX_BLOCKS,x
        bne @order
        lda pos
        cmp blk_image,x
@order: beq @done
        bcc @done
        inx
@new:   lda pos
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
