"""The light curve the benchmarks time: a lens crossing a small source.

rho = rstar/re = 0.01 and u0 = 0.005; half the epochs lie within 3 rho of the
peak, half spread out to u = 2. Separations are in source radii, l = u/rho.
"""

import math

RE, RSTAR, U0 = 1.0, 0.01, 0.005
RHO = RSTAR / RE


def light_curve(n):
    half = n // 2
    taus = [-3 * RHO + 6 * RHO * (i + 0.5) / half for i in range(half)]
    tmax = math.sqrt(4.0 - U0 * U0)
    taus += [-tmax + 2 * tmax * (i + 0.5) / (n - half) for i in range(n - half)]
    return [math.sqrt(U0 * U0 + t * t) / RHO for t in taus]
