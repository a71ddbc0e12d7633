import numpy as np
import corvanis
from dask.distributed import Client, LocalCluster

tau = np.linspace(-3.0, 3.0, 2001)            # (t - t0) / tE
events = [(u0, rho) for rho in (0.001, 0.01, 0.1) for u0 in np.linspace(0.0, 0.3, 10)]

if __name__ == "__main__":
    with LocalCluster(n_workers=2, threads_per_worker=1) as cluster, Client(cluster) as client:
        futures = [client.submit(corvanis.integrated_heyrovsky_magnification,
                                 np.hypot(u0, tau) / rho, 1.0, rho, pure=False)
                   for u0, rho in events]
        curves = client.gather(futures)
    print(f"{len(curves)} light curves of {len(curves[0])} epochs")
