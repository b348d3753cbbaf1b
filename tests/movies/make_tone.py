#!/usr/bin/env python3
"""Writes the test tone that the sound test movie embeds: a sine of FREQUENCY Hz at
AMPLITUDE (16-bit mono PCM, RATE samples a second), one second long. A whole number of
periods fits in the second, so the movie can loop it without a click.

Usage: make_tone.py OUT.wav"""

import math
import struct
import sys
import wave

FREQUENCY = 440
AMPLITUDE = 12000
RATE = 44100


def main(argv):
    if len(argv) != 2:
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        return 2
    samples = b"".join(struct.pack("<h", round(AMPLITUDE * math.sin(2 * math.pi * FREQUENCY * i / RATE)))
                       for i in range(RATE))
    with wave.open(argv[1], "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(samples)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
