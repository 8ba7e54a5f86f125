"""The Python package's cost over the C++ call it wraps, and against scipy.

    PYTHONPATH=build/default/python python3 bench/python/overhead.py [n]

For n uniform weighted seeds (default 10^6), in one process and run:
vorn.power_diagram's wall time against the C++ phases it reports (tree,
cells, assemble) — the difference is conversion, the thread hand-off and the
(V, 2) vertex table — and, for unweighted seeds, the time to areas and
centroids in numpy against scipy.spatial.Voronoi plus shoelace areas of its
bounded regions. Best of three of each.
"""

import sys
import time

import numpy as np

import vorn


def best_of(runs, work):
    best, result = float("inf"), None
    for _ in range(runs):
        start = time.perf_counter()
        result = work()
        best = min(best, time.perf_counter() - start)
    return best, result


def scipy_areas(points):
    from scipy.spatial import Voronoi
    peer = Voronoi(points)
    areas = np.full(len(points), np.nan)
    centroids = np.full((len(points), 2), np.nan)
    for i, r in enumerate(peer.point_region):
        region = peer.regions[r]
        if not region or -1 in region:
            continue
        p = peer.vertices[region]
        x, y, xn, yn = p[:, 0], p[:, 1], np.roll(p[:, 0], -1), np.roll(p[:, 1], -1)
        cross = x * yn - xn * y
        a = 0.5 * cross.sum()
        areas[i] = abs(a)
        centroids[i] = [((x + xn) * cross).sum() / (6 * a), ((y + yn) * cross).sum() / (6 * a)]
    return areas, centroids


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000
    rng = np.random.default_rng(1)
    points, weights = rng.random((n, 2)), 0.8 / n * rng.random(n)
    wall, d = best_of(3, lambda: vorn.power_diagram(points, weights))
    inner = sum(d.timings.values())
    print(f"{n} seeds, {d.threads} threads, level {d.isa}")
    print(f"vorn.power_diagram {wall:.3f} s, its C++ phases {inner:.3f} s: overhead {100 * (wall / inner - 1):.1f} %")
    plain, d0 = best_of(3, lambda: vorn.power_diagram(points))
    try:
        peer, _ = best_of(1 if n > 200_000 else 3, lambda: scipy_areas(points))
        print(f"areas and centroids, unweighted: vorn {plain:.3f} s, scipy Voronoi + shoelace {peer:.3f} s "
              f"(vorn/scipy {plain / peer:.3f})")
    except ImportError:
        print("scipy is not installed: no peer figure")


if __name__ == "__main__":
    main()
