; Clock scaling: a chip's clock from the header in, the factor that turns its periods
; into the PSG's (3579545 Hz) out, and periods multiplied by such a factor.

PSG_HZ = 3579545

; dividend = 3579545 x 65536 / the clock at header offset X (bits 0-29), rounded, as
; a factor of 22 bits at most; 0 for the standard clock or none. read_clock_of does the
; same for the reference clock in clock_ref (a YM2612's, whose periods are worked out
; for 7670453 Hz).
read_clock:
        lda #<PSG_HZ
        sta clock_ref
        lda #>PSG_HZ
        sta clock_ref+1
        lda #^PSG_HZ
        sta clock_ref+2
read_clock_of:
        stz dividend
        stz dividend+1
        stz dividend+2
        lda HEADER+3,x
        and #$3F
        sta divisor+3
        lda HEADER+2,x
        sta divisor+2
        lda HEADER+1,x
        sta divisor+1
        lda HEADER,x
        sta divisor
        ora divisor+1
        ora divisor+2
        ora divisor+3
        beq @done
        lda divisor
        cmp clock_ref
        bne @scale
        lda divisor+1
        cmp clock_ref+1
        bne @scale
        lda divisor+2
        cmp clock_ref+2
        bne @scale
        lda divisor+3
        beq @done
@scale: ; dividend = reference x 65536 + clock / 2, for rounding
        lda divisor+3
        lsr a
        sta dividend+3
        lda divisor+2
        ror a
        sta dividend+2
        lda divisor+1
        ror a
        sta dividend+1
        lda divisor
        ror a
        sta dividend
        stz dividend+4
        stz dividend+5
        clc
        lda dividend+2
        adc clock_ref
        sta dividend+2
        lda dividend+3
        adc clock_ref+1
        sta dividend+3
        lda dividend+4
        adc clock_ref+2
        sta dividend+4
        lda dividend+5
        adc #0
        sta dividend+5
        jsr divide
        ; Keep 22 bits at most, so that a 10-bit period times the factor fits.
        lda dividend+5
        ora dividend+4
        bne @clamp
        lda dividend+3
        cmp #$40
        bcs @clamp
        lda dividend+2
        ora dividend+1
        ora dividend
        bne @done
        inc dividend            ; a zero factor would mean "no scaling"
@done:  rts
@clamp: lda #$FF
        sta dividend
        sta dividend+1
        lda #$3F
        sta dividend+2
        rts

; dividend (48 bits) / divisor (32 bits): quotient in dividend.
divide:
        stz remain
        stz remain+1
        stz remain+2
        stz remain+3
        stz remain+4
        ldy #48
@bit:   asl dividend
        rol dividend+1
        rol dividend+2
        rol dividend+3
        rol dividend+4
        rol dividend+5
        rol remain
        rol remain+1
        rol remain+2
        rol remain+3
        rol remain+4
        sec
        lda remain
        sbc divisor
        sta tmp
        lda remain+1
        sbc divisor+1
        sta tmp+1
        lda remain+2
        sbc divisor+2
        sta tmp+2
        lda remain+3
        sbc divisor+3
        sta tmp+3
        lda remain+4
        sbc #0
        bcc @next
        sta remain+4
        lda tmp+3
        sta remain+3
        lda tmp+2
        sta remain+2
        lda tmp+1
        sta remain+1
        lda tmp
        sta remain
        inc dividend
@next:  dey
        bne @bit
        rts

; product+2 and product+3 = count (a 12-bit period) x factor / 65536, rounded, at
; most 0xFFF. The factor's top byte must be clear. Keeps X and Y.
scale_period:
        stz factor+3
        stz product
        lda #$80
        sta product+1
        stz product+2
        stz product+3
        phy
        ldy #12
@bit:   lsr count+1
        ror count
        bcc @shift
        clc
        lda product
        adc factor
        sta product
        lda product+1
        adc factor+1
        sta product+1
        lda product+2
        adc factor+2
        sta product+2
        lda product+3
        adc factor+3
        sta product+3
@shift: asl factor
        rol factor+1
        rol factor+2
        rol factor+3
        dey
        bne @bit
        ply
        lda product+3
        cmp #$10
        bcc @done
        lda #$FF
        sta product+2
        lda #$0F
        sta product+3
@done:  rts
