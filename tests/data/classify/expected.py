#!/usr/bin/python3
# Expected class numbers of the classify suite (tests/processing/classify.test),
# worked out independently with numpy in single precision as the module does.
# Run: /usr/bin/python3 tests/data/classify/expected.py
import numpy as np

f32 = np.float32

# The 3-band image of the suite, row by row.
pixels = np.array([
    [14, 14, 14], [12, 12, 12], [40, 40, 40], [13, 13, 13],
    [12, 15, 15], [11, 12, 17], [20, 20, 20], [0, 0, 0], [8, 10, 18],
], dtype=f32)

# Two classes: means and covariances.
means = np.array([[10, 10, 10], [20, 20, 20]], dtype=f32)
covs = [np.eye(3) * 1.0, np.eye(3) * 4.0]
T = 10.0
K = len(means)


def city(x, E):
    d = [np.sum(np.abs(x - m), dtype=f32) for m in means]
    k = int(np.argmin(d))
    return k if d[k] < E else K


def rule(name):
    inv = [np.linalg.inv(c).astype(f32) for c in covs]
    logdet = [f32(np.log(np.linalg.det(c))) for c in covs]
    prior = np.zeros(K, dtype=f32)
    E = f32(T * T)
    if name == "BAYES":
        counts = np.zeros(K)
        for x in pixels:
            k = city(x, E)
            if k < K:
                counts[k] += 1
        S = counts.sum()
        prior = np.array([2 * np.log(c / S) if c > 0 else 0 for c in counts], dtype=f32)
        E = f32(E - prior.sum() / K)
    out = []
    for x in pixels:
        if name == "EUCLIDEAN":
            v = [np.sum((x - m) ** 2, dtype=f32) for m in means]
            E = f32((3 * T * T) ** 2)
        elif name == "PARALLELPIPE":
            v = [np.sum(np.abs(x - m), dtype=f32) for m in means]
            E = f32(3 * T * T)
        else:
            v = [logdet[k] + (x - means[k]) @ inv[k] @ (x - means[k]) - prior[k] for k in range(K)]
        k = int(np.argmin(v))
        out.append(k if v[k] < E else K)
    return out


for name in ("EUCLIDEAN", "PARALLELPIPE", "MAHALANOBIS", "BAYES"):
    print(name, *rule(name))
