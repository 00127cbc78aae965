#!/usr/bin/python3
# OpenCV's figures for the same work as fft_georef.tcl, one thread, best of
# five: dft + idft of a 2048 x 2048 float32 image, and warpAffine of a
# 4096 x 4096 float32 image turned by 30 degrees (bilinear); milliseconds.
import time

import cv2
import numpy as np

cv2.setNumThreads(1)


def best(fn):
    b = 1e30
    for _ in range(5):
        t = time.perf_counter()
        fn()
        b = min(b, time.perf_counter() - t)
    return b * 1e3


a = (np.arange(2048 * 2048, dtype=np.float32) % 251).reshape(2048, 2048)
print("fft %.1f" % best(lambda: cv2.idft(cv2.dft(a, flags=cv2.DFT_COMPLEX_OUTPUT))))
big = np.zeros((4096, 4096), np.float32)
M = cv2.getRotationMatrix2D((2047.5, 2047.5), 30, 1.0)
print("georef %.1f" % best(lambda: cv2.warpAffine(big, M, (4096, 4096), flags=cv2.INTER_LINEAR)))
