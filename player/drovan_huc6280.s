; HuC6280 player for quorvel's HES files: the converted VGM image in, its SN76489,
; HuC6280 and YM2612 parts out on the PSG, each command at its own time to within a
; sample.
;
; Memory: logical 0x4000 (bank 1 of this image) holds the code and is entered at
; 0x4000; 0xE000 (bank 0) holds the tables and the CPU vectors. The converted image
; follows the player; its 32 KiB bank j is physical banks 2+4j..5+4j and is read
; through logical windows 3-6 (0x6000-0xDFFF).
;
; The parts: timing.s (the main loop, the timer, waits), stream.s (reading the image,
; banks, data blocks, the loop), clock.s (clock scaling), sn76489.s, huc6280.s,
; ym2612.s, dac_stream.s, fm.s and adpcm.s (the chips).

.setcpu "huc6280"

PSG_SELECT   = $0800
PSG_BALANCE  = $0801
PSG_FREQ_LO  = $0802
PSG_FREQ_HI  = $0803
PSG_CONTROL  = $0804
PSG_CHANBAL  = $0805
PSG_WAVE     = $0806
PSG_NOISE    = $0807
PSG_LFO_FREQ = $0808
PSG_LFO_CTRL = $0809
TIMER_RELOAD = $0C00
TIMER_START  = $0C01
IRQ_DISABLE  = $1402
IRQ_ACK      = $1403

WINDOW_START = $60                      ; high byte of logical 0x6000
WINDOW_END   = $E0
LAST_BANK    = 30                       ; the last 32 KiB bank inside the 1 MiB a HuC6280 maps
HEADER       = WINDOW_START * 256       ; the image header, while bank 0 is mapped
RUN_LIMIT    = 16                       ; commands a run loop takes before the main loop
CARD_BANK    = $7F                      ; a HuCard's own bank: its ROM's last
CARD_START   = $C000                    ; in it, seen at 0xC000: its start-up
CARD_SERVE   = $C003                    ;   and what serves its screen and pad
REPLAY       = $E1                      ; plays an earlier stretch of the image again
STRETCH_END  = $96                      ; ends the stretches REPLAY plays
SHARED_BLOCK = $3F                      ; data block type: samples an earlier block holds
REPEATS_MARK = $53                      ; header byte 0x08 of an image with the converter's
                                        ; own commands: REPLAY, STRETCH_END, SHARED_BLOCK
MAX_DEPTH    = 8                        ; REPLAY commands inside the stretches they play

.segment "ZEROPAGE"
ptr:      .res 2    ; next byte of the stream
bank:     .res 1    ; 32 KiB bank of the song in windows 3-6
first_page: .res 1  ; the 8 KiB page of the album's images where the song starts
song_base: .res 2   ; the same in 256-byte units
cmd:      .res 1    ; the command being run
credit:   .res 4    ; estimated song time now minus the next command's due time
base:     .res 4    ; the same at the timer counter's last step, exact
last_step: .res 1   ; the timer counter when last read
pos:      .res 4    ; an image offset
tmp:      .res 4
loop:     .res 4    ; image offset of the loop command, 0 when none
wide40:   .res 1    ; nonzero: commands 0x40-0x4E take two operands
scale:    .res 3    ; SN76489 periods: 3579545 x 65536 / clock, 0 for the standard clock
huc_scale: .res 3   ; the same for the HuC6280 log's periods
latch:    .res 1    ; last SN76489 latch byte
atten:    .res 4    ; SN76489 attenuations
noise:    .res 1    ; SN76489 noise control
width:    .res 1    ; SN76489 shift register width: 15 or 16
nvol:     .res 1    ; PSG control byte of the noise's volume
huc_select: .res 1  ; the log's channel select
huc_scaled: .res 1  ; nonzero when the log's periods are rescaled
run:      .res 1    ; commands a run loop may still take
burst:    .res 1    ; commands the main loop may still run before reading the timer
ym_skips: .res 1    ; YM2612 writes a skip run or PCM run has taken
duck:     .res 1    ; PSG volume steps the SN76489 plays below full, under a YM2612
dac_on:   .res 1    ; nonzero while the YM2612's DAC is on
dac_pan:  .res 1    ; the DAC's balance
pcm_pos:  .res 3    ; read offset in the data bank
pcm_left: .res 3    ; bytes left in the block being read; 0: find the block first
pcm_ptr:  .res 2    ; where pcm_pos is, in window 7
pcm_page: .res 1    ; the physical bank that holds it
pcm_end:  .res 3    ; where the block being read ends in the data bank
pcm_end_at: .res 1  ; nonzero while a block is read (pcm_pos then stands at its start)
blocks:   .res 1    ; data blocks in the table
bank_size: .res 3   ; the data bank's length
wtotal:   .res 1    ; samples the commands a PCM run took wait
merged:   .res 1    ; 0x8n commands a PCM run passed over
quota:    .res 1    ; samples after which a PCM run takes no further sample or wait
pcm_outside: .res 1 ; nonzero when the last read fell outside the data bank
st_on:    .res 1    ; nonzero while the DAC stream plays
st_id:    .res 1    ; the stream set up for the YM2612's DAC (0xFF: none)
st_type:  .res 1    ; its data bank type
st_step:  .res 1    ; its step size
st_base:  .res 1    ; its step base
st_mode:  .res 1    ; its length mode
st_loop:  .res 1    ; nonzero when it loops
st_freq_set: .res 1 ; nonzero once it has a frequency
st_freq:  .res 4    ; its frequency, Hz
st_period: .res 4   ; units between its samples
st_due:   .res 4    ; credit at which its next sample is due
st_start: .res 3    ; data offset of its start
st_length: .res 3   ; samples of one pass (0: to the end of the data)
st_left:  .res 3    ; samples left in this pass
st_stride: .res 3   ; samples each sample taken stands for: 1, or a power of two
                    ; for frequencies above 11 kHz
st_bytes: .res 3    ; data bytes a sample taken moves on: step x stride
st_gap:   .res 3    ; the bytes passed over after a sample read: st_bytes - 1
st_pass:  .res 3    ; data bytes to pass over before the next read
st_ahead: .res 4    ; st_due - credit while the stream's samples are taken
st_sample: .res 1   ; the sample read
pcm_skip_n: .res 3  ; data bytes pcm_skip passes over
product:  .res 4
factor:   .res 4
count:    .res 2
dividend: .res 6    ; clock division: dividend, then quotient
remain:   .res 5
divisor:  .res 4
clock_ref: .res 3   ; the clock a chip's periods are worked out for
fm_on:    .res 1    ; 0xFF when the song has a YM2612
fm_scale: .res 3    ; FM periods: 7670453 x 65536 / clock, 0 for that clock
fm_tmp:   .res 4
sw_a:     .res 2    ; the two places swap_bytes exchanges
sw_b:     .res 2
sw_copy:  .res 1    ; bit 7: swap_bytes copies instead
fm_val:   .res 1    ; the value of a YM2612 write being applied
tick_due: .res 1    ; nonzero when the counter's step makes an FM tick
huc_chan: .res 1    ; the log's channel select, 0-7
ad_on:    .res 1    ; 0xFF when the song's ADPCM is played
ad_6585:  .res 1    ; 0x80 for an MSM6585, which has no slave mode
ad_master: .res 1   ; 0 in slave mode
ad_bits3: .res 1    ; 0xFF for 3-bit samples
ad_reset: .res 1    ; the reset register: nonzero holds the voice
ad_vck:   .res 1    ; the VCK register
ad_sig:   .res 2    ; the signal times 8, -16384..16376
ad_row:   .res 2    ; the step's row in ad_rows
ad_ch:    .res 1    ; the PSG channel it plays on, 0xFF: none
ad_out:   .res 1    ; the DDA sample it shows
ad_fifo_r: .res 1   ; slave mode's FIFO: next read and write
ad_fifo_w: .res 1
ad_quota: .res 1    ; samples an ADPCM run may take
ad_lost:  .res 1    ; nonzero once nibbles were passed over undecoded
ad_pair:  .res 1    ; 1 when the fast path's next nibble is a pair's second
on_card:  .res 1    ; bit 7 set when a HuCard's own bank started the song
repeats:  .res 1    ; nonzero when the image has the converter's own commands
depth:    .res 1    ; stretches being played again, one inside the other
blk_last: .res 3    ; where in the song the last data block taken stands

; Indexed by Y, which has no zero-page form for every instruction used: kept in RAM
; proper, since an absolute address below 0x100 would reach the I/O page instead.
.segment "BSS"
tone:     .res 6    ; SN76489 tone periods, low and high byte per channel
huc_periods: .res 12 ; the log's periods, low and high byte per PSG channel
owned:    .res 8    ; by channel select: 0xFF once the HuC6280 log has taken it, 1
                    ; while an FM channel sounds on it
BSS_SIZE = 26
; By depth: where each REPLAY command left off, and the STRETCH_END commands its
; stretch has left.
back_lo:   .res MAX_DEPTH
back_hi:   .res MAX_DEPTH
back_bank: .res MAX_DEPTH
left_lo:   .res MAX_DEPTH
left_hi:   .res MAX_DEPTH

; An album's songs, filled in by quorvel-album: how many (0 in a single song's file,
; which plays its one song for every track), then the 8 KiB page of the images where
; each starts.
.segment "ALBUM"
album_songs: .byte 0
album_pages: .res 31

.segment "VECTORS"
        .word ignore_irq        ; IRQ2 and BRK
        .word ignore_irq        ; IRQ1 (video)
        .word ignore_irq        ; timer
        .word ignore_irq        ; NMI
        .word card_boot         ; reset: a HuCard's

.segment "CODE"

; Entered by the HES player with interrupts disabled and the track in A. Sets
; everything up, then plays the track's song from the main loop for ever.
init:
        clc
        bra start
; The same from a HuCard's own bank (at 0x4003, where it looks for it): its screen
; and pad are then served while the song plays (card_hook).
card_init:
        sec
start:  sei
        csh
        cld
        tay
        clx
@clear: stz $00,x
        inx
        bne @clear
        ror on_card
        ldx #BSS_SIZE - 1
@bss:   stz tone,x
        dex
        bpl @bss
        lda #$FF
        sta dac_pan
        sta st_id
        sta ad_ch
        lda #1
        sta st_step
        sta st_stride
        sta st_bytes
        lda album_songs         ; a single song starts at page 0
        beq @song
        cpy album_songs
        bcc @track
        jmp halt_song           ; an album has no such track: silence
@track: lda album_pages,y
@song:  sta first_page          ; the same time for a single song and an album's
        ldx #5                  ; song_base = first_page x 32
@base:  asl a
        rol song_base+1
        dex
        bne @base
        sta song_base
        cla                     ; the song's first bank, for its header
        jsr map_bank
        jsr init_units
        jsr init_fm
        jsr read_header
        jsr init_psg
        jmp start_timer

; Nothing runs from an interrupt; all are masked.
ignore_irq:
        rti

; ---------------------------------------------------------------------------
; The image header, read from the song's first bank before the first command.

read_header:
        lda HEADER+$08          ; the converter marks an image with its own commands
        cmp #REPEATS_MARK
        bne @first
        dec repeats
@first:
        ; First command: the data offset at 0x34 plus 0x34, at least 64 (the
        ; converter has rewritten the version's low byte, so it is never below 0x10).
        clc
        lda HEADER+$34
        adc #$34
        sta pos
        lda HEADER+$35
        adc #0
        sta pos+1
        lda HEADER+$36
        adc #0
        sta pos+2
        lda HEADER+$37
        adc #0
        sta pos+3
        ora pos+2
        ora pos+1
        bne @wide40
        lda pos
        cmp #64
        bcs @wide40
        lda #64
        sta pos
@wide40:
        ; Commands 0x40-0x4E have two operands from VGM 1.60 on. The version's low
        ; byte is rewritten by the converter, so a 1.xx file counts as 1.60 or later
        ; when its header is longer than the 0x80 bytes of 1.51.
        lda HEADER+$0A
        ora HEADER+$0B
        bne @wide
        lda HEADER+$09
        cmp #2
        bcs @wide
        cmp #1
        bne @narrow
        lda #$81
        jsr header_reaches
        bcc @narrow
@wide:  lda #1
        sta wide40
@narrow:
        ; Loop: offset at 0x1C, relative to 0x1C; 0 means no loop.
        lda HEADER+$1C
        ora HEADER+$1D
        ora HEADER+$1E
        ora HEADER+$1F
        beq @clocks
        clc
        lda HEADER+$1C
        adc #$1C
        sta loop
        lda HEADER+$1D
        adc #0
        sta loop+1
        lda HEADER+$1E
        adc #0
        sta loop+2
        lda HEADER+$1F
        adc #0
        sta loop+3
@clocks:
        ; SN76489: clock at 0x0C, shift register width at 0x2A (15, or 16 when 0).
        lda #16
        ldx HEADER+$2A
        cpx #15
        bne @width
        txa
@width: sta width
        ldx #$0C
        jsr read_clock
        ldx #2
@sn:    lda dividend,x
        sta scale,x
        dex
        bpl @sn
        ; YM2612 (0x2C): the SN76489 sits below its DAC as on a Mega Drive.
        lda HEADER+$2C
        ora HEADER+$2D
        ora HEADER+$2E
        ora HEADER+$2F
        beq @hucclock
        lda #DUCK
        sta duck
        lda #$FF
        sta fm_on
        lda #<YM_HZ
        sta clock_ref
        lda #>YM_HZ
        sta clock_ref+1
        lda #^YM_HZ
        sta clock_ref+2
        ldx #$2C
        jsr read_clock_of
        ldx #2
@ym:    lda dividend,x
        sta fm_scale,x
        dex
        bpl @ym
@hucclock:
        jmp huc_clock

.segment "CODE0"                ; start-up only: bank 0 is mapped then
huc_clock:
        ; HuC6280: clock at 0xA4 where the header reaches that far. Bit 30 (a second
        ; chip) is ignored: only the first chip is played.
        lda #$A8
        jsr header_reaches
        bcc @seek
        ldx #$A4
        jsr read_clock
        ldx #2
@huc:   lda dividend,x
        sta huc_scale,x
        dex
        bpl @huc
        lda huc_scale
        ora huc_scale+1
        ora huc_scale+2
        sta huc_scaled
        ; 12-bit periods: keep the factor below 16 so that the product fits.
        lda huc_scale+2
        cmp #$10
        bcc @seek
        lda #$FF
        sta huc_scale
        sta huc_scale+1
        lda #$0F
        sta huc_scale+2
@seek:  jsr ad_header
        jmp seek

; A HuCard starts here: the memory map an HES player sets (I/O, RAM, this player's
; bank 1), then the card's own bank at 0xC000, whose start-up shows its screen and
; starts the first track.
card_boot:
        sei
        csh
        cld
        ldx #$FF
        txs
        lda #$FF
        tam #$01
        lda #$F8
        tam #$02
        lda #$01
        tam #$04
        lda #CARD_BANK
        tam #$40
        jmp CARD_START

; Carry set when the first command (pos) is at or beyond offset A, that is when the
; header holds the field that ends there.
header_reaches:
        sta tmp
        lda pos+1
        ora pos+2
        ora pos+3
        bne @yes
        lda pos
        cmp tmp
        rts
@yes:   sec
        rts

.segment "CODE"

; ---------------------------------------------------------------------------
; The PSG: every channel set to its first waveform, full balance, silent.

init_psg:
        lda #$FF                ; the main balance before any channel
        sta PSG_BALANCE
        ldx #5
@chan:  stx PSG_SELECT
        jsr sn_wave
        lda #$FF
        sta PSG_CHANBAL
        stz PSG_NOISE
        stz PSG_FREQ_LO
        stz PSG_FREQ_HI
        lda #$80                ; on, volume 0
        sta PSG_CONTROL
        dex
        bpl @chan
        stz PSG_LFO_FREQ
        stz PSG_LFO_CTRL
        jmp init_sn76489

; The selected PSG channel X gets the SN76489's wave for it: a square, or on the
; periodic noise's channel a pulse (2 steps high, 30 low).
sn_wave:
        lda #SQUARE_WAVE
        cpx #PERIODIC_CHANNEL
        bne load_wave
        lda #PULSE_WAVE
        ; fall through
; The selected PSG channel gets wave A of `waves` (32 steps), written with the
; channel off. Keeps X.
load_wave:
        phx
        asl a
        asl a
        asl a
        asl a
        asl a
        tax
        lda #$40                ; off, DDA: the waveform index restarts
        sta PSG_CONTROL
        stz PSG_CONTROL
        ldy #32
@step:  lda waves,x
        sta PSG_WAVE
        inx
        dey
        bne @step
        plx
        rts

; A = next byte of the stream (the flags are not set from it); crosses into the next
; page, and at the end of the windows into the next bank.
.macro next_byte
        lda (ptr)
        inc ptr
        bne :+
        jsr next_page
:
.endmacro

; Credit += the 16-bit amount `lo`, `hi` (two operands, addressing included), carried
; into its upper bytes.
.macro add_credit lo, hi
        clc
        lda credit
        adc lo
        sta credit
        lda credit+1
        adc hi
        sta credit+1
        bcc :+
        inc credit+2
        bne :+
        inc credit+3
:
.endmacro

; The end of a handler that keeps its own account, in place of the main loop's:
; credit += its cycles from `table` (see run_units) by X, the count its run loop had
; left; then straight back to the main loop.
.macro end_run table
        clc
        lda credit
        adc table,x
        sta credit
        lda credit+1
        adc table+RUN_LIMIT,x
        sta credit+1
        lda credit+2
        adc table+2*RUN_LIMIT,x
        sta credit+2
        bcc :+
        inc credit+3
:       pla                     ; the main loop's return address
        pla
        jmp main
.endmacro

; Waits Y samples, fewer than 256: the next command is due Y x 12500 units later.
; A DAC stream's due time keeps its distance from now.
; A = the samples of short wait command A (0x7n: n + 1); to `other` for any other
; command (A then holds the command with bits 4-6 flipped).
.macro short_wait other
        eor #$70
        cmp #$10
        bcs other
        inc a
.endmacro

.macro wait_samples
        lda st_on
        beq :+
        jsr stream_wait_short
:
        sec
        lda credit
        sbc units0,y
        sta credit
        lda credit+1
        sbc units1,y
        sta credit+1
        lda credit+2
        sbc units2,y
        sta credit+2
        bcs :+
        dec credit+3
:       sec
        lda base
        sbc units0,y
        sta base
        lda base+1
        sbc units1,y
        sta base+1
        lda base+2
        sbc units2,y
        sta base+2
        bcs :+
        dec base+3
:
.endmacro

.include "stream.s"
.include "timing.s"
.include "clock.s"
.include "sn76489.s"
.include "huc6280.s"
.include "ym2612.s"
.include "dac_stream.s"
.include "fm.s"
.include "fm_wave.s"
.include "adpcm.s"
