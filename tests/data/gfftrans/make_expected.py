#!/usr/bin/python3
"""Reference values of rimage gfftrans (numpy).

The module's forward kernel is e^(+2 pi i jk/n) with the zero frequency
moved to n/2, so the forward spectrum of a real image a is
fftshift(conj(fft2(a))); a filter H centred at (rows/2, columns/2) is even,
so filtering through XY equals real(ifft2(fft2(a) * ifftshift(H))).
Writes expected.txt: one line per case, a name then values row by row.
Run: /usr/bin/python3 make_expected.py
"""
import math
import os

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))


def image(rows, columns):
    r, c = np.mgrid[0:rows, 0:columns]
    return ((r * 31 + c * 17) % 251) / 10.0


def bell(rows, columns, r1, r2, n, angle):
    r, c = np.mgrid[0:rows, 0:columns]
    dx, dy = c - columns // 2, r - rows // 2
    t = math.radians(angle)
    if math.cos(t) not in (1.0, -1.0):
        u = (math.cos(t) * dx + math.sin(t) * dy) / r1
        v = (-math.sin(t) * dx + math.cos(t) * dy) / r2
    else:
        u, v = dx / r1, dy / r2
    return np.exp(-((u * u + v * v) ** n))


def rows_text(name, a):
    return name + " {" + " ".join("{" + " ".join("%.7g" % v for v in row) + "}" for row in a) + "}\n"


def main():
    a = image(8, 16)
    spectrum = np.fft.fftshift(np.conj(np.fft.fft2(a)))
    out = [rows_text("forwardRe", spectrum.real), rows_text("forwardIm", spectrum.imag),
           "forwardStd %.9g %.9g\n" % (spectrum.real.std(), spectrum.imag.std())]
    H = bell(8, 16, 3, 2, 1, 30)
    filtered = np.real(np.fft.ifft2(np.fft.fft2(a) * np.fft.ifftshift(H)))
    out.append(rows_text("bellXY", filtered))
    # X only: a bell along the columns of each row
    c = np.arange(16) - 8
    hx = np.exp(-((c * c / 9.0) ** 2))
    rows_x = np.fft.fftshift(np.conj(np.fft.fft(a, axis=1)), axes=1) * hx
    out.append(rows_text("bellXRe", rows_x.real))
    # the mirror rule of the extension equals numpy's pad modes
    r, c = 300, 500
    src = np.arange(r * c).reshape(r, c)
    padded = np.pad(src, ((0, 212), (0, 0)), mode="symmetric")
    padded = np.pad(padded, ((0, 0), (0, 12)), mode="reflect")
    rr, cc = np.mgrid[0:512, 0:512]
    rule = src[np.where(rr < r, rr, 2 * r - rr - 1), np.where(cc < c, cc, 2 * c - cc - 2)]
    assert (padded == rule).all()
    with open(os.path.join(HERE, "expected.txt"), "w") as f:
        f.writelines(out)


main()
