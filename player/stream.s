; The stream: the converted image's banks in, one command at a time out to its
; handler; bank ends, data blocks, the end of the data and the loop.

.segment "TABLES"
; Operand bytes after command byte C, as the converter frames them, in `nops`. The
; data block (0x67), the end of data (0x66) and the bank-end marker (0x4B) have
; handlers of their own and are not framed by it.
.macro operand_count C
        .if C >= $30 && C <= $3F
            nops .set 1
        .elseif C >= $40 && C <= $4E
            nops .set 2
        .elseif C = $4F || C = $50 || C = $94
            nops .set 1
        .elseif (C >= $51 && C <= $5F) || C = $61 || (C >= $A0 && C <= $BF)
            nops .set 2
        .elseif C >= $C0 && C <= $DF
            nops .set 3
        .elseif C >= $E0 || C = $90 || C = $91 || C = $95
            nops .set 4
        .elseif C = $92
            nops .set 5
        .elseif C = $93
            nops .set 10
        .elseif C = $68
            nops .set 11
        .else
            nops .set 0
        .endif
.endmacro

; `played` = 1 when command byte C has a handler of its own, 0 when it is skipped.
.macro is_played C
        .if C = REPLAY || C = STRETCH_END || C = $32 || C = $4B || C = $4F || C = $50 || C = $52 || C = $53 || C = $61 || C = $62 || C = $63 || C = $66 || C = $67 || (C >= $40 && C <= $4E) || (C >= $70 && C <= $8F) || C = $B9 || C = $E0 || (C >= $90 && C <= $95)
            played .set 1
        .else
            played .set 0
        .endif
.endmacro

; `slen` = the whole length of command byte C when it is skipped, 0 when it is played.
.macro skip_length C
        operand_count C
        is_played C
        .if played
            slen .set 0
        .else
            slen .set 1 + nops
        .endif
.endmacro

; The whole length of each command that skip_command passes over, 0 for the others.
skip_lengths:
        .repeat 256, C
        skip_length C
        .byte slen
        .endrepeat

; The kind of each command byte, twice its handler's place in kind_handlers (and its
; cost's in kind_costs): commands run by one handler share one kind.
.macro command_kind C
        .if C = $4B
            kind .set 0
        .elseif C = $4F
            kind .set 2
        .elseif C = $50
            kind .set 4
        .elseif C = $61
            kind .set 6
        .elseif C = $62
            kind .set 8
        .elseif C = $63
            kind .set 10
        .elseif C = $66
            kind .set 12
        .elseif C = $67
            kind .set 14
        .elseif C >= $70 && C <= $7F
            kind .set 16
        .elseif C >= $80 && C <= $8F
            kind .set 18
        .elseif C = $52
            kind .set 20
        .elseif C = $53
            kind .set 22
        .elseif C = $E0
            kind .set 24
        .elseif C = $90
            kind .set 26
        .elseif C = $91
            kind .set 28
        .elseif C = $92
            kind .set 30
        .elseif C = $93
            kind .set 32
        .elseif C = $94
            kind .set 34
        .elseif C = $95
            kind .set 36
        .elseif C >= $40 && C <= $4E
            kind .set 38
        .elseif C = $B9
            kind .set 40
        .elseif C = $32
            kind .set 42
        .elseif C = REPLAY
            kind .set 44
        .elseif C = STRETCH_END
            kind .set 46
        .else                   ; skipped (is_played gives 0)
            kind .set 48
        .endif
.endmacro
kinds:  .repeat 256, C
        command_kind C
        .byte kind
        .endrepeat
kind_handlers:
        .word bank_end, gg_stereo, sn_write, wait_n, wait_735, wait_882, end_of_data, data_block
        .word wait_short, pcm_wait, ym_port0, ym_port1, pcm_seek, stream_setup, stream_data, stream_frequency
        .word stream_start, stream_stop, stream_block, skip_reserved, huc_write, adpcm_write, replay, stretch_end
        .word skip_command
KIND_COUNT = (* - kind_handlers) / 2

.segment "CODE"

; Maps the song's bank A into windows 3-6. A bank beyond what a HuC6280 maps ends
; the song. (An album's song may start at any 8 KiB page: its last window may then
; reach past its last page, which is never read.)
map_bank:
        cmp #LAST_BANK + 1
        bcs @beyond
        asl a
        asl a                   ; carry is clear
        adc first_page
        cmp #4 * LAST_BANK + 4
        bcc @map
@beyond:
        jmp halt_song
@map:   adc #2                  ; carry is clear
        tam #$08
        inc a
        tam #$10
        inc a
        tam #$20
        inc a
        tam #$40
        rts

; The stream has moved past a page: on to the next, or to the next bank. Keeps A.
next_page:
        inc ptr+1
        pha
        lda ptr+1
        cmp #WINDOW_END
        bne @done
        lda #WINDOW_START
        sta ptr+1
        inc bank
        lda bank
        jsr map_bank
@done:  pla
        rts

; Moves the stream to image offset pos.
seek:
        lda pos+3
        bne @beyond
        lda pos+2
        cmp #(LAST_BANK + 1) / 2 + 1
        bcc @map
@beyond:
        jmp halt_song
@map:   lda pos+1
        asl a
        lda pos+2
        rol a
        sta bank
        jsr map_bank
        lda pos
        sta ptr
        lda pos+1
        and #$7F
        clc
        adc #WINDOW_START
        sta ptr+1
        rts

; pos = the stream's image offset, in the same time whatever the bank.
tell:
        lda ptr
        sta pos
        lda ptr+1
        sec
        sbc #WINDOW_START
        asl a
        sta pos+1
        lda bank
        lsr a
        sta pos+2
        ror pos+1               ; an odd bank's upper half
        stz pos+3
        rts

; Runs one command: dispatched through a table by its byte, which the handler finds
; in `cmd`.
run_command:
        next_byte
        sta cmd
        tay
        ldx kinds,y
        jmp (kind_handlers,x)

; Any other command: skips its operands (at most 11, so one page at most), and the
; commands right after it that are skipped too, up to RUN_LIMIT in all: runs of other
; chips' writes cost SKIP_RUN_CYCLES a command, YM2612 writes (all but the DAC's)
; YM_RUN_CYCLES.
skip_command:
        ldy cmd
        lda skip_lengths,y      ; its operands
        dec a
; The same with A bytes of the command to pass over.
skip_run:
        stz ym_skips
; The same with ym_skips YM2612 writes counted already.
skip_counted:
        ldx #RUN_LIMIT
@skip:  clc
        adc ptr
        sta ptr
        bcc @peek
        jsr next_page
@peek:  dex                     ; from here to @skip: SKIP_RUN_CYCLES
        beq @done
        jsr skipped_length
        bne @skip
@done:  lda ym_skips
        beq @end
        jsr read_soon
        phx
        jsr count_ym_skips
        plx
@end:   end_run skip_run_units

; A = the length of the command at ptr when it is passed over, 0 when it is played.
; YM2612 writes but the DAC's count as passed over, recorded for FM (ym_peek);
; ym_skips counts them. Keeps X.
skipped_length:
        lda (ptr)
        tay
        lda skip_lengths,y
        bne @done
        cpy #$52
        beq @port0
        cpy #$53
        bne @played
        lda ptr                 ; operands in the next page: left to the handler
        cmp #$FE
        bcs @played
        bra @peek
@port0: lda ptr
        cmp #$FE
        bcs @played
        ldy #1                  ; registers FM does without: passed over quickly
        lda (ptr),y
        tay
        lda ym_dest0,y
        cmp #FM_NONE
        beq @skipped
@peek:  jsr ym_peek
        bcs @played
@skipped:
        inc ym_skips
        lda #3
        rts
@played:
        lda #0
@done:  rts

; Credit += what the YM2612 writes passed over cost beyond other skipped commands.
count_ym_skips:
        ldx ym_skips
        add_credit {ym_units,x}, {ym_units+RUN_LIMIT+1,x}
        rts

; Skips A bytes of the stream (at most 256).
skip:   clc
        adc ptr
        sta ptr
        bcs @page
        rts
@page:  jmp next_page

; 0x40-0x4E: one operand before VGM 1.60, two from then on.
skip_reserved:
        lda wide40
        inc a
        bra skip

; The bank ends here; its next command starts the next bank. A marker in a bank's
; last byte has already brought the stream there.
bank_end:
        lda ptr
        bne @next
        lda ptr+1
        cmp #WINDOW_START
        beq @done
@next:  stz ptr
        lda #WINDOW_START
        sta ptr+1
        inc bank
        lda bank
        jmp map_bank
@done:  rts

; 0x67 0x66 type size32 data: skipped by its size (bit 31 marks the second chip). A
; YM2612 PCM block (type 0x00) joins the data bank, and so does, in an image the
; converter marks, a SHARED_BLOCK (type 0x3F): its data, two 32-bit numbers, give
; where the same samples stand (an offset from the album's first image) and their
; length. Only blocks past the last one taken are new: the loop brings the stream
; back over the others. This takes the same time wherever the song's banks are.
data_block:
        next_byte               ; 0x66
        next_byte               ; type
        tay
        ldx #0
@size:  next_byte
        sta tmp,x
        inx
        cpx #4
        bne @size
        lda tmp+3
        and #$7F
        sta tmp+3
        jsr tell
        tya
        beq @order
        cmp #SHARED_BLOCK
        bne @skip
        lda repeats
        beq @skip
@order: lda pos+2
        cmp blk_last+2
        bne @new
        lda pos+1
        cmp blk_last+1
        bne @new
        lda pos
        cmp blk_last
@new:   beq @skip
        bcc @skip
        ldx #2
@last:  lda pos,x
        sta blk_last,x
        dex
        bpl @last
        tya
        beq @own
        ldx #0                  ; the samples stand elsewhere: pos and tmp say where
@where: next_byte
        sta pos,x
        inx
        cpx #8
        bne @where
        jmp pcm_block
@own:   clc                     ; where it stands from the album's first image
        lda pos+1
        adc song_base
        sta pos+1
        lda pos+2
        adc song_base+1
        sta pos+2
        jsr pcm_block
@skip:  jsr tell                ; on past the data
        clc
        ldx #0
@add:   lda pos,x
        adc tmp,x
        sta pos,x
        inx
        txa                     ; keeps the carry
        eor #4
        bne @add
        jmp seek

; REPLAY t0 t1 t2|n1 n0, in a song whose header says it has them: plays the stretch
; of the image at offset t (20 bits) again, up to the n-th (12 bits) STRETCH_END
; command met in it, then goes on after this command. The stretch may hold REPLAY
; commands of its own, MAX_DEPTH deep in all. Otherwise a reserved command, skipped.
replay:
        lda repeats
        bne @take
        jmp skip_command
@take:  ldx #0
@op:    next_byte
        sta pos,x
        inx
        cpx #4
        bne @op
        ldx depth
        cpx #MAX_DEPTH
        bcs @deep               ; deeper than the converter ever goes
        lda pos+3
        sta left_lo,x
        stz pos+3
        lda pos+2
        lsr a
        lsr a
        lsr a
        lsr a
        sta left_hi,x
        lda pos+2
        and #$0F
        sta pos+2
        lda ptr
        sta back_lo,x
        lda ptr+1
        sta back_hi,x
        lda bank
        sta back_bank,x
        inc depth
        jmp seek
@deep:  jmp halt_song

; STRETCH_END: one more end of a stretch; the last one of the stretch being played
; again goes back to where its REPLAY command left off.
stretch_end:
        ldx depth
        beq @done
        dex
        lda left_lo,x
        bne @count
        dec left_hi,x
@count: dec left_lo,x
        bne @done
        lda left_hi,x
        bne @done
        stx depth
        lda back_lo,x
        sta ptr
        lda back_hi,x
        sta ptr+1
        lda back_bank,x
        sta bank
        jmp map_bank
@done:  rts

; 0x66: to the loop command, or silence and stop.
end_of_data:
        lda loop
        ora loop+1
        ora loop+2
        ora loop+3
        beq halt_song
        ldx #3
@copy:  lda loop,x
        sta pos,x
        dex
        bpl @copy
        jmp seek

; The song is over: every channel off, and nothing more to do.
halt_song:
        ldx #5
@mute:  stx PSG_SELECT
        stz PSG_CONTROL
        dex
        bpl @mute
        ldx #$FF
        txs
@halt:  bit on_card             ; a HuCard's pad still chooses the next track
        bpl @halt
        jsr card_hook
        bra @halt
