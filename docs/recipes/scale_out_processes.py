import os
os.environ["CORVANIS_NUM_THREADS"] = "1"      # one core per worker process

from concurrent.futures import ProcessPoolExecutor

import numpy as np
import corvanis

tau = np.linspace(-3.0, 3.0, 2001)            # (t - t0) / tE
events = [(u0, rho) for rho in (0.001, 0.01, 0.1) for u0 in np.linspace(0.0, 0.3, 10)]

if __name__ == "__main__":
    with ProcessPoolExecutor() as pool:
        futures = [pool.submit(corvanis.integrated_heyrovsky_magnification,
                               np.hypot(u0, tau) / rho, 1.0, rho)   # l in source radii
                   for u0, rho in events]
        curves = [f.result() for f in futures]
    print(f"{len(curves)} light curves of {len(curves[0])} epochs")
