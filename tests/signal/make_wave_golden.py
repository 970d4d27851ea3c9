#!/usr/bin/env python3
# Independent model of the waveform tables (Python floats are IEEE doubles rounded once per
# operation; the sine comes correctly rounded from mpmath, not from any C library). Prints the
# correctly rounded sine bits of the 360 sine arguments and one FNV-1a hash per shape over every
# amplitude 0..32767, for wavetable_test.cpp.
import math
import struct
import sys

import mpmath

MASK = (1 << 64) - 1
FNV_OFFSET = 0xCBF29CE484222325
FNV_PRIME = 0x100000001B3


def correctly_rounded_sin(x):
    with mpmath.workprec(53):
        return float(mpmath.sin(mpmath.mpf(x)))


def bits(x):
    return struct.unpack('<Q', struct.pack('<d', x))[0]


def stored(v):
    return int(v) & 0xFFFF  # truncation toward zero, low 16 bits


args = [(i * 3.14159265) / 180.0 for i in range(360)]
sines = [correctly_rounded_sin(x) for x in args]
libm_differs = [i for i in range(360) if math.sin(args[i]) != sines[i]]
print('// host libm differs from the correctly rounded sine at', libm_differs, file=sys.stderr)


def table(shape, a):
    if shape == 0:
        return [stored(a * s + 32767.0) for s in sines]
    if shape == 2:
        k = (a * 2.0) / 179.0
        return [stored((32767 - a) + k * i) for i in range(180)] + \
               [stored(((a + 32767) - k * (i - 180.0)) + 1.0) for i in range(180, 360)]
    k = (a * 2.0) / 359.0
    if shape == 3:
        return [stored((32767 - a) + k * i) for i in range(360)]
    return [stored((a + 32767) - k * i) for i in range(360)]


print('const uint64_t kCorrectSineBits[360] = {')
for row in range(0, 360, 3):
    print('    ' + ' '.join('0x%016XULL,' % bits(s) for s in sines[row:row + 3]))
print('};')
for shape in (0, 2, 3, 4):
    h = FNV_OFFSET
    for a in range(32768):
        for s in table(shape, a):
            h = ((h ^ s) * FNV_PRIME) & MASK
    print('shape %d: 0x%016XULL' % (shape, h))
    sys.stdout.flush()
