#!/usr/bin/env python3
"""Cochran-Armitage trend test values for the series tests, computed here
independently of the C++ code with the standard library only.

T = sum s_i (x_i - xbar), Var T = pbar (1 - pbar) sum n_i (x_i - xbar)^2,
z = T / sqrt(Var T), two-sided p = erfc(|z| / sqrt 2).
Run: python3 tests/report/data/cochran_armitage.py
"""
import math


def trend(successes, trials, scores):
    n = sum(trials)
    s = sum(successes)
    pbar = s / n
    xbar = sum(t * x for t, x in zip(trials, scores)) / n
    stat = sum(k * (x - xbar) for k, x in zip(successes, scores))
    var = pbar * (1 - pbar) * sum(t * (x - xbar) ** 2 for t, x in zip(trials, scores))
    z = stat / math.sqrt(var)
    return z, math.erfc(abs(z) / math.sqrt(2)), z * z


# The small table worked by hand in series_test.cpp.
print("hand", trend([9, 8, 5], [10, 10, 10], [0, 1, 2]))
# The example of R's prop.trend.test help page (smokers among patients);
# R prints X-squared = 8.2249, p-value = 0.004132 for it.
print("smokers", trend([83, 90, 129, 70], [86, 93, 136, 82], [1, 2, 3, 4]))
# A bin without attempts adds nothing, but its position counts.
print("gap", trend([50, 0, 45, 40], [50, 0, 50, 50], [0, 1, 2, 3]))
