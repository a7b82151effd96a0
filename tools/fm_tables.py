#!/usr/bin/env python3
"""Writes player/fm_tables.inc: the tables the player's YM2612 FM part reads (pitch
by F-number, envelope steps by rate, which operators sound, detune, the log-sine and
exp tables its waves are worked out with, the SN76489's waves). Run it again after changing
a constant here; the output is committed."""
import math
import sys

PSG_CLOCK = 3579545
YM_CLOCK = 7670453                      # NTSC; other clocks are scaled by the player
CPU_CLOCK = 315e6 / 44
TICK_CYCLES = 16 * 1024                 # the player's envelope tick
EG_RATE = YM_CLOCK / 144 / 3            # the YM2612's envelope steps a second
EG_PER_TICK = EG_RATE * TICK_CYCLES / CPU_CLOCK
FULL = 1023 * 64                        # attenuation in 1/64 of a 0.094 dB step

# The YM2612's envelope increments: 8 steps of a cycle by row, and the row and the
# shift (steps happen every 2^shift envelope cycles) of each rate 0-63.
ROWS = [
    [0, 1, 0, 1, 0, 1, 0, 1], [0, 1, 0, 1, 1, 1, 0, 1], [0, 1, 1, 1, 0, 1, 1, 1], [0, 1, 1, 1, 1, 1, 1, 1],
    [1, 1, 1, 1, 1, 1, 1, 1], [1, 1, 1, 2, 1, 1, 1, 2], [1, 2, 1, 2, 1, 2, 1, 2], [1, 2, 2, 2, 1, 2, 2, 2],
    [2, 2, 2, 2, 2, 2, 2, 2], [2, 2, 2, 4, 2, 2, 2, 4], [2, 4, 2, 4, 2, 4, 2, 4], [2, 4, 4, 4, 2, 4, 4, 4],
    [4, 4, 4, 4, 4, 4, 4, 4], [4, 4, 4, 8, 4, 4, 4, 8], [4, 8, 4, 8, 4, 8, 4, 8], [4, 8, 8, 8, 4, 8, 8, 8],
    [8] * 8, [0] * 8,
]


def row_and_shift(rate):
    if rate < 2:
        return ROWS[17], 0
    if rate < 48:
        return ROWS[rate & 3], 11 - rate // 4
    if rate < 60:
        return ROWS[4 + (rate - 48)], 0
    return ROWS[16], 0


def decay_step(rate):
    """Attenuation a tick adds at this rate, in 1/64 steps."""
    row, shift = row_and_shift(rate)
    per_cycle = sum(row) / 8 / (1 << shift)
    return min(0xFFFF, round(per_cycle * EG_PER_TICK * 64))


def attack_step(rate):
    """The share of its attenuation a tick takes off in attack, x 65536 (0xFFFF: at
    once): the chip takes (attenuation + 1) x increment / 16 at each envelope step, so
    a tick keeps the product of (1 - increment / 16) over its steps."""
    if rate >= 62:
        return 0xFFFF
    row, shift = row_and_shift(rate)
    if sum(row) == 0:
        return 0
    per_cycle = sum(math.log(1 - inc / 16) for inc in row) / 8 / (1 << shift)
    kept = math.exp(per_cycle * EG_PER_TICK)
    return min(0xFFFE, max(1, round(65536 * (1 - kept))))


def pitch_table(odd):
    """PSG period x 2^7 of F-number x multiple d' (normalised to 0x8000-0xFFFF, by
    its bits 14-6, at the middle of each step) at block 0: the steps whose bit 6 is
    `odd`."""
    k2 = PSG_CLOCK * 9 * 2**21 / YM_CLOCK
    return [round(k2 * 128 / (0x8000 + (2 * i + odd) * 64 + 32)) for i in range(256)]


# Which operator feeds which, by algorithm, in register order (S1, S3, S2, S4 as bits
# 0-3): operator i modulates the operators in FEEDS[alg][i].
FEEDS = [
    [0b0100, 0b1000, 0b0010, 0], [0b0010, 0b1000, 0b0010, 0], [0b1000, 0b1000, 0b0010, 0],
    [0b0100, 0b1000, 0b1000, 0], [0b0100, 0b1000, 0, 0], [0b1110, 0, 0, 0], [0b0100, 0, 0, 0], [0, 0, 0, 0],
]
CARRIERS = [0b1000] * 4 + [0b1100, 0b1110, 0b1110, 0b1111]


def sounding(alg, audible):
    """The operators that reach the output: the audible carriers, and audible
    modulators that feed an operator that does."""
    out = audible & CARRIERS[alg]
    for _ in range(3):
        for op in range(4):
            if audible >> op & 1 and FEEDS[alg][op] & out:
                out |= 1 << op
    return out


# The chip's detune in phase-increment units, by DT1 1-3 (0 is none) and key code.
DETUNE = [
    [0] * 32,
    [0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5, 5, 6, 6, 7, 8, 8, 8, 8],
    [1, 1, 1, 1, 2, 2, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5, 5, 6, 6, 7, 8, 8, 9, 10, 11, 12, 13, 14, 16, 16, 16, 16],
    [2, 2, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5, 5, 6, 6, 7, 8, 8, 9, 10, 11, 12, 13, 14, 16, 17, 19, 20, 22, 22, 22, 22],
]
# The low two bits of the key code by the F-number's top four bits.
KEY_CODE = [0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 3, 3, 3, 3, 3, 3]


def sources(alg, op):
    """The operators that modulate operator `op` (register order) in `alg`."""
    return sum(1 << j for j in range(4) if FEEDS[alg][j] >> op & 1)


LOG_STEP = 0.375                        # dB a unit of the log-sine and exp tables


def log_sine(i):
    """Attenuation of sin over a quarter wave at step i of 64, in LOG_STEP units."""
    return min(255, round(-20 * math.log10(math.sin((i + 0.5) / 64 * math.pi / 2)) / LOG_STEP))


def exp_level(a):
    """The linear size of attenuation a (LOG_STEP units): 1023 at 0, a modulator's
    full swing of four cycles when a cycle is 256."""
    return round(1023 * 10 ** (-a * LOG_STEP / 20))


def bytes_table(name, values, comment):
    lines = [f"; {comment}", f"{name}:"]
    for i in range(0, len(values), 16):
        lines.append("        .byte " + ", ".join(f"${v:02X}" for v in values[i:i + 16]))
    return lines


def planes(name, values, comment):
    lines = [f"; {comment}", f"{name}_lo:"]
    for i in range(0, len(values), 16):
        lines.append("        .byte " + ", ".join(f"${v & 0xFF:02X}" for v in values[i:i + 16]))
    lines.append(f"{name}_hi:")
    for i in range(0, len(values), 16):
        lines.append("        .byte " + ", ".join(f"${v >> 8:02X}" for v in values[i:i + 16]))
    return lines


def main():
    out = ["; Generated by tools/fm_tables.py: pitch, envelope and waveform tables of the",
           "; YM2612 FM part (fm.s). Edit the script, not this file.", ""]
    out += planes("fm_pitch", pitch_table(0), "PSG period x 128 by the normalised F-number x multiple, block 0,")
    out += planes("fm_pitch_odd", pitch_table(1), "by its bits 14-7 where bit 6 is clear, then where it is set.")
    out += planes("fm_decay", [decay_step(r) for r in range(64)],
                  "Attenuation a tick adds in decay and release, by rate 0-63 (1/64 steps).")
    out += planes("fm_attack", [attack_step(r) for r in range(64)],
                  "The share of its attenuation a tick takes off in attack, x 65536, by rate 0-63 (0xFFFF: at once).")
    out += bytes_table("fm_sounding", [sounding(a, m) for a in range(8) for m in range(16)],
                       "The operators that sound (register order) by algorithm x 16 + the audible ones.")
    out += bytes_table("fm_detune", [d for row in DETUNE for d in row],
                       "Detune in phase-increment units by DT1 (0-3) x 32 + key code.")
    out += bytes_table("fm_key_code", KEY_CODE, "Key code bits 1-0 by F-number bits 10-7.")
    out += bytes_table("fm_sine_wave", [16 + round(15 * math.sin(2 * math.pi * k / 32)) for k in range(32)],
                       "A sine, 32 steps: an FM channel's wave until its patch's is worked out.")
    out += bytes_table("fm_sources", [sources(a, op) for a in range(8) for op in range(4)],
                       "The operators that modulate each operator (register order), by algorithm x 4 + operator.")
    out += bytes_table("fm_log_sine", [log_sine(i) for i in range(64)],
                       "A quarter sine's attenuation in 0.375 dB units, 64 steps.")
    out += planes("fm_exp", [exp_level(a) for a in range(256)],
                  "The linear size (0-1023) of an attenuation in 0.375 dB units.")
    out += bytes_table("key_order", [(k & 1) | (k >> 1 & 1) << 2 | (k >> 2 & 1) << 1 | (k & 8) for k in range(16)],
                       "The operators a key-on names (0x28 bits 7-4: S4, S3, S2, S1) in register order.")
    out.append("; 32-step waves: the SN76489's square and its periodic noise's pulse.")
    out.append("waves:")
    square = [31] * 16 + [0] * 16
    pulse = [31] * 2 + [0] * 30
    for w in [square, pulse]:
        out.append("        .byte " + ", ".join(str(v) for v in w[:16]))
        out.append("        .byte " + ", ".join(str(v) for v in w[16:]))
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
