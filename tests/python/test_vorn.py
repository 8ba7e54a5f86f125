"""The Python package against hand-computed cells and the C++ results it wraps:
shared memory, array-likes converted once, errors as ValueError/RuntimeError
with the host's messages, the GIL released, Ctrl-C and progress callbacks."""

import os
import signal
import subprocess
import sys
import threading
import time
import unittest

import numpy as np

import vorn


def seeds(n, seed=1):
    rng = np.random.default_rng(seed)
    return rng.random((n, 2)), 0.5 / n * rng.random(n)


class Cells(unittest.TestCase):
    def test_two_seeds_split_their_box_as_computed_by_hand(self):
        # Bisector 2 (b - a).p = |b|^2 - |a|^2 - w_b + w_a with a = (0, 0),
        # b = (2, 0), w_a = 1, w_b = 0: 4x = 5, so x = 1.25.
        d = vorn.power_diagram([[0, 0], [2, 0]], [1, 0], box=(-1, -1, 3, 1))
        self.assertEqual(len(d), 2)
        np.testing.assert_array_equal(d.areas, [4.5, 3.5])
        np.testing.assert_array_equal(d.centroids, [[0.125, 0], [2.125, 0]])
        vertices, neighbours = d.cell(0)
        np.testing.assert_array_equal(vertices, [[-1, 1], [-1, -1], [1.25, -1], [1.25, 1]])
        np.testing.assert_array_equal(neighbours, [vorn.DOMAIN_EDGE, vorn.DOMAIN_EDGE, 1, vorn.DOMAIN_EDGE])

    def test_cells_tile_the_box_and_neighbours_agree(self):
        points, weights = seeds(3000)
        for precision in ("double", "float"):
            with self.subTest(precision=precision):
                d = vorn.power_diagram(points, weights, box=(0, 0, 1, 1), precision=precision)
                self.assertAlmostEqual(d.areas.sum(), 1.0, delta=1e-9 if precision == "double" else 1e-4)
                self.assertEqual(len(d.polygons()), len(d))
                self.assertTrue(all(len(p) == 0 for p, e in zip(d.polygons(), d.empty) if e))
                i, j, length = d.edges()
                self.assertTrue(np.all(i < j) and np.all(length > 0))
                # Every shared edge is seen from both cells, with the same length.
                pairs = {(a, b): l for a, b, l in zip(i, j, length)}
                for a in (0, 17, 2999):
                    _, around = d.cell(a)
                    for b in around[around >= 0]:
                        self.assertIn((min(a, b), max(a, b)), pairs)
                adjacency = d.adjacency()
                if isinstance(adjacency, tuple):
                    np.testing.assert_array_equal(adjacency[0], i)
                else:
                    self.assertEqual((adjacency != adjacency.T).nnz, 0)
                    self.assertAlmostEqual(adjacency.sum(), 2 * length.sum())

    def test_interior_cells_agree_with_an_independent_voronoi_diagram(self):
        try:
            from scipy.spatial import Voronoi
        except ImportError:
            self.skipTest("scipy is not installed (Debian: python3-scipy)")
        points, _ = seeds(2000, seed=12)
        d = vorn.power_diagram(points)
        peer = Voronoi(points)
        ridges = {i: set() for i in range(len(points))}
        for a, b in peer.ridge_points:
            ridges[int(a)].add(int(b))
            ridges[int(b)].add(int(a))
        checked = 0
        for i in range(len(points)):
            region = peer.regions[peer.point_region[i]]
            if not region or -1 in region:
                continue
            polygon = peer.vertices[region]
            if np.any(polygon < 0) or np.any(polygon > 1):
                continue  # reaches past the box, which clips vorn's cell
            x, y = polygon[:, 0], polygon[:, 1]
            area = 0.5 * abs(np.dot(x, np.roll(y, -1)) - np.dot(y, np.roll(x, -1)))
            self.assertAlmostEqual(d.areas[i], area, delta=1e-9 * area)
            _, around = d.cell(i)
            self.assertEqual(set(around.tolist()) - {vorn.DOMAIN_EDGE}, ridges[i])
            checked += 1
        self.assertGreater(checked, 1800)

    def test_whole_plane_marks_hull_cells_unbounded(self):
        d = vorn.power_diagram([[0, 0], [1, 0], [-1, 0], [0, 1], [0, -1]], unbounded=True)
        np.testing.assert_array_equal(d.unbounded, [False, True, True, True, True])
        self.assertAlmostEqual(d.areas[0], 1.0, delta=1e-15)
        self.assertTrue(np.all(np.isinf(d.areas[1:])))
        self.assertIn(vorn.INFINITE_EDGE, d.cell(1)[1])
        self.assertIsNone(d.box)

    def test_every_thread_count_and_level_gives_the_same_bits(self):
        points, weights = seeds(5000, seed=4)
        first = vorn.power_diagram(points, weights, threads=1)
        levels = ["x86-64", "avx2", "avx512"]
        levels = levels[: levels.index(vorn._vorn.cpu_isa_level()) + 1]
        for threads, isa in [(2, None)] + [(None, level) for level in levels]:
            with self.subTest(threads=threads, isa=isa):
                other = vorn.power_diagram(points, weights, threads=threads, isa=isa)
                for name in ("cell_begin", "vertices", "neighbours", "areas", "centroids"):
                    self.assertEqual(getattr(other, name).tobytes(), getattr(first, name).tobytes(), name)


class Periodic(unittest.TestCase):
    def test_two_seeds_face_each_other_directly_and_across_the_side(self):
        # x = 1.75 wraps to 0.75: the bisectors are x = 0.5 and, with the
        # copies one period away, x = 0 (= 1).
        d = vorn.power_diagram([[0.25, 0.5], [1.75, 0.5]], periodic=True)
        self.assertTrue(d.periodic)
        np.testing.assert_array_equal(d.areas, [0.5, 0.5])
        vertices, neighbours = d.cell(0)
        np.testing.assert_array_equal(vertices, [[0.5, 1], [0, 1], [0, 0], [0.5, 0]])
        np.testing.assert_array_equal(neighbours, [0, 1, 0, 1])
        np.testing.assert_array_equal(d.shifts[d.cell_begin[0]:d.cell_begin[1]], [[0, 1], [-1, 0], [0, -1], [0, 0]])
        np.testing.assert_array_equal(vorn.periodic_positions([[0.25, 0.5], [1.75, 0.5], [-0.25, 1.0]]),
                                      [[0.25, 0.5], [0.75, 0.5], [0.75, 0.0]])

    def test_cells_tile_the_torus_and_every_edge_is_seen_back_with_the_opposite_shift(self):
        rng = np.random.default_rng(7)
        points, weights = rng.random((2000, 2)) * [2, 1], 1e-4 * rng.random(2000)
        for precision in ("double", "float"):
            with self.subTest(precision=precision):
                d = vorn.power_diagram(points, weights, box=(0, 0, 2, 1), periodic=True, precision=precision)
                self.assertAlmostEqual(d.areas.sum(), 2.0, delta=1e-12 if precision == "double" else 1e-4)
                self.assertEqual(d.shifts.shape, (len(d.vertices), 2))
                self.assertEqual(d.shifts.dtype, np.int8)
                self.assertEqual(d.band["growths"], 0)
                owner = np.repeat(np.arange(len(d)), np.diff(d.cell_begin))
                faced = set(zip(owner, d.neighbours, d.shifts[:, 0], d.shifts[:, 1]))
                for i, j, sx, sy in faced:
                    self.assertIn((j, i, -sx, -sy), faced)
                i, j, length = d.edges()
                self.assertAlmostEqual(length.sum(), 0.5 * sum(
                    np.hypot(*(np.roll(p, -1, axis=0) - p).T).sum() for p in d.polygons()),
                    delta=1e-9 if precision == "double" else 1e-4)

    def test_shifts_share_the_result_memory_and_box_diagrams_have_none(self):
        d = vorn.power_diagram(*seeds(300), periodic=True)
        self.assertFalse(d.shifts.flags.writeable)
        self.assertFalse(d.shifts.flags.owndata)
        shifts = d.shifts
        del d
        self.assertEqual(shifts.shape[1], 2)
        plain = vorn.power_diagram(*seeds(300))
        self.assertIsNone(plain.shifts)
        self.assertIsNone(plain.band)
        self.assertFalse(plain.periodic)

    def test_periodic_needs_a_box(self):
        with self.assertRaises(ValueError) as caught:
            vorn.power_diagram([[0, 0]], periodic=True, unbounded=True)
        self.assertIn("a periodic diagram needs a box", str(caught.exception))


class Arrays(unittest.TestCase):
    def test_results_share_the_computed_memory_and_are_read_only(self):
        d = vorn.power_diagram(*seeds(200))
        vertices, neighbours = d.cell(3)
        self.assertTrue(np.shares_memory(vertices, d.vertices))
        self.assertTrue(np.shares_memory(neighbours, d.neighbours))
        for name in ("cell_begin", "vertices", "neighbours", "areas", "centroids", "empty", "unbounded"):
            array = getattr(d, name)
            self.assertFalse(array.flags.writeable, name)
            with self.assertRaises(ValueError):
                array[0] = 0
        self.assertEqual((d.cell_begin.dtype, d.vertices.dtype, d.neighbours.dtype), (np.int64, np.float64, np.int32))
        self.assertEqual(d.vertices.shape, (d.cell_begin[-1], 2))
        # The arrays outlive the diagram object that handed them out.
        areas = d.areas
        del d, vertices, neighbours
        self.assertEqual(areas.shape, (200,))
        self.assertTrue(np.all(areas >= 0))

    def test_any_array_like_gives_the_bits_of_a_float64_array(self):
        points, weights = seeds(300)
        points = points.astype(np.float32).astype(np.float64)  # exactly representable in float32
        expected = vorn.power_diagram(points, weights)
        wide = np.zeros((300, 4))
        wide[:, ::2] = points
        for name, p in [("list", points.tolist()), ("float32", points.astype(np.float32)),
                        ("fortran", np.asfortranarray(points)), ("strided", wide[:, ::2])]:
            with self.subTest(name):
                self.assertEqual(vorn.power_diagram(p, list(weights)).vertices.tobytes(), expected.vertices.tobytes())


class Errors(unittest.TestCase):
    def test_bad_input_raises_value_error_naming_the_problem(self):
        cases = [
            (dict(points=[[0, 0, 0]]), "points: expected shape (n, 2)"),
            (dict(points=[[0, 0], [np.nan, 1]]), "seed 1 has a non-finite x coordinate"),
            (dict(points=[[0, 0], [1, 1]], weights=[0]), "weights: expected shape (2,)"),
            (dict(points=[[0, 0], [1, 1]], weights=[0, np.inf]), "seed 1 has a non-finite weight"),
            (dict(points=[[0, 0], [1, 1]], box=(1, 0, 0, 1)), "empty or inverted"),
            (dict(points=[[0, 0], [1, 1]], precision="half"), "precision: expected 'double' or 'float'"),
            (dict(points=[[0, 0], [1, 1]], threads=0), "threads: expected an integer from 1 to 4096"),
            (dict(points=[[0, 0], [1, 1]], leaf_size=1.5), "leaf_size: expected an integer"),
            (dict(points=[[0, 0], [1, 1]], isa="sse"), "unknown instruction-set level 'sse'"),
            (dict(points="seeds"), "points: expected numbers"),
        ]
        for arguments, message in cases:
            with self.subTest(message):
                with self.assertRaises(ValueError) as caught:
                    vorn.power_diagram(**arguments)
                self.assertIn(message, str(caught.exception))

    def test_missing_library_raises_runtime_error(self):
        program = "import vorn\ntry:\n    vorn.power_diagram([[0, 0], [1, 1]])\nexcept RuntimeError as e:\n    print(e)"
        env = dict(os.environ, VORN_LIB_DIR="/nonexistent")
        out = subprocess.run([sys.executable, "-c", program], env=env, capture_output=True, text=True, timeout=60)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertIn("/nonexistent", out.stdout)


class Threads(unittest.TestCase):
    def test_the_gil_is_released_while_computing(self):
        ticks = []
        stop = threading.Event()

        def tick():
            while not stop.is_set():
                ticks.append(time.monotonic())
                time.sleep(0.001)

        ticker = threading.Thread(target=tick)
        ticker.start()
        start = time.monotonic()
        vorn.power_diagram(*seeds(300000), threads=1)
        end = time.monotonic()
        stop.set()
        ticker.join()
        # With the GIL held through the computation, the ticker could not run.
        self.assertGreater(len([t for t in ticks if start < t < end]), 10)

    def test_progress_counts_up_to_the_cell_count(self):
        calls = []
        vorn.power_diagram(*seeds(400000), threads=1, progress=lambda done, total: calls.append((done, total)))
        self.assertGreaterEqual(len(calls), 2)
        self.assertEqual(calls[-1], (400000, 400000))
        self.assertEqual([c[0] for c in calls], sorted(c[0] for c in calls))

    def test_an_exception_from_progress_stops_the_computation(self):
        class Enough(Exception):
            pass

        raised = []

        def give_up(done, total):
            raised.append(time.monotonic())
            raise Enough(f"{done} of {total}")

        with self.assertRaises(Enough):
            vorn.power_diagram(*seeds(2000000), threads=1, progress=give_up)
        self.assertLess(time.monotonic() - raised[0], 1.0, "the cells stop within a block of cells")

    def test_ctrl_c_raises_keyboard_interrupt_promptly(self):
        program = (
            "import sys, time, numpy as np, vorn\n"
            "rng = np.random.default_rng(1)\n"
            "p = rng.random((3000000, 2))\n"
            "def started(done, total):\n"
            "    print('started', flush=True)\n"
            "try:\n"
            "    vorn.power_diagram(p, threads=1, progress=started)\n"
            "    print('finished')\n"
            "except KeyboardInterrupt:\n"
            "    print('interrupted', time.monotonic(), flush=True)\n")
        with subprocess.Popen([sys.executable, "-c", program], stdout=subprocess.PIPE, text=True) as child:
            try:
                self.assertEqual(child.stdout.readline().strip(), "started")
                sent = time.monotonic()
                child.send_signal(signal.SIGINT)
                answer = child.stdout.readline().split()
                self.assertEqual(answer[0], "interrupted")
                self.assertLess(float(answer[1]) - sent, 1.0)
            finally:
                child.kill()


@unittest.skipUnless(vorn._vorn.HAS_FIT, "this build has no fitting library (built without Eigen)")
class Fitting(unittest.TestCase):
    def test_two_seeds_splitting_the_square_get_the_weight_the_bisector_fixes(self):
        # Areas 0.3 / 0.7 put the bisector of (0.25, 0.5) and (0.75, 0.5) at
        # x = 0.3, where (x - 0.25)^2 - w0 = (x - 0.75)^2 - w1: w1 - w0 = 0.2.
        r = vorn.fit_weights([[0.25, 0.5], [0.75, 0.5]], [0.3, 0.7], tolerance=1e-12)
        self.assertTrue(r.converged)
        self.assertAlmostEqual(r.weights[1] - r.weights[0], 0.2, delta=1e-12)
        np.testing.assert_allclose(r.diagram.areas, [0.3, 0.7], rtol=1e-12)

    def test_equal_areas_are_reached_and_reported_as_they_go(self):
        points, _ = seeds(3000, seed=6)
        records = []
        points[:, 0] *= 2
        r = vorn.fit_weights(points, box=(0, 0, 2, 1), callback=records.append)
        self.assertTrue(r.converged)
        np.testing.assert_allclose(r.masses, 2 / 3000, rtol=1e-9)
        self.assertEqual([h["iteration"] for h in records], list(range(len(r.history))))
        self.assertEqual(records, r.history)
        self.assertIn("converged", repr(r))

    def test_running_out_of_iterations_warns(self):
        points, _ = seeds(2000, seed=7)
        with self.assertWarnsRegex(RuntimeWarning, "did not converge in 1 iterations"):
            r = vorn.fit_weights(points, max_iterations=1)
        self.assertFalse(r.converged)

    def test_a_density_image_sets_the_masses(self):
        points, _ = seeds(500, seed=8)
        image = np.ones((20, 30))
        image[:, :10] = 3.0  # the left third is three times as heavy
        r = vorn.fit_weights(points, density=image)
        masses, centroids = r.diagram.moments(image)
        np.testing.assert_allclose(masses, masses.sum() / 500, rtol=1e-9)
        self.assertAlmostEqual(masses.sum(), 5 / 3, delta=1e-12)
        # Heavy cells are small: more seeds' cells lie in the left third.
        self.assertGreater(np.sum(centroids[:, 0] < 1 / 3), 500 * 0.5)

    def test_periodic_cells_carry_their_whole_mass(self):
        points, weights = seeds(300, seed=10)
        d = vorn.power_diagram(points, weights, periodic=True)
        masses, centroids = d.moments(np.ones((7, 5)))
        np.testing.assert_allclose(masses, d.areas, rtol=1e-12, atol=1e-15)
        np.testing.assert_allclose(centroids[~d.empty], d.centroids[~d.empty], atol=1e-12)

    def test_lloyd_moves_to_centroids_and_fits_when_asked(self):
        points, _ = seeds(400, seed=9)
        moves = []
        r = vorn.lloyd(points, iterations=4, callback=lambda k, moved: moves.append(moved))
        self.assertEqual(len(r.largest_move), 4)
        np.testing.assert_array_equal(r.largest_move, moves)
        self.assertLess(r.largest_move[-1], r.largest_move[0])
        once = vorn.lloyd(points, iterations=1)
        np.testing.assert_array_equal(once.points, vorn.power_diagram(points).centroids)
        fitted = vorn.lloyd(points, iterations=3, fit=True)
        np.testing.assert_allclose(fitted.masses, 1 / 400, rtol=1e-9)

    def test_periodic_fit_and_lloyd_keep_equal_areas_across_the_sides(self):
        points, _ = seeds(500, seed=11)
        points[:100] += 1.0  # a period away: wrapped
        r = vorn.fit_weights(points, periodic=True)
        self.assertTrue(r.converged)
        self.assertTrue(r.diagram.periodic)
        self.assertEqual(r.diagram.shifts.shape, (len(r.diagram.vertices), 2))
        np.testing.assert_allclose(r.diagram.areas, 1 / 500, rtol=1e-9)
        image = np.ones((4, 6))
        image[:, :2] = 2.0
        b = vorn.lloyd(points, iterations=2, fit=True, periodic=True, density=image)
        self.assertTrue(((b.points >= 0) & (b.points < 1)).all())
        masses, _ = b.diagram.moments(image)
        np.testing.assert_allclose(masses, masses.sum() / 500, rtol=1e-9)
        self.assertAlmostEqual(masses.sum(), image.mean(), delta=1e-12)

    def test_fitting_errors_are_value_errors(self):
        cases = [
            (dict(points=[[0.2, 0.5], [0.7, 0.5]], targets=[0.5, 0.6]), "the targets add up to 1.1"),
            (dict(points=[[0.2, 0.5], [1.7, 0.5]]), "seed 1 at (1.7, 0.5) lies outside the domain box"),
            (dict(points=[[0.2, 0.5], [0.2, 0.5]]), "seeds 0 and 1 lie at the same position"),
            (dict(points=[[0.2, 0.5], [0.7, 0.5]], density=np.ones(3)), "density: expected a 2-D image"),
            (dict(points=[[0.2, 0.5], [0.7, 0.5]], density=-np.ones((2, 2))), "values must be finite and not"),
        ]
        for arguments, message in cases:
            with self.subTest(message):
                with self.assertRaises(ValueError) as caught:
                    vorn.fit_weights(**arguments)
                self.assertIn(message, str(caught.exception))


class Trees(unittest.TestCase):
    def test_tree_nodes_hold_their_points_within_their_boxes(self):
        rng = np.random.default_rng(2)
        for dimension, weighted in [(2, True), (2, False), (3, False)]:
            with self.subTest(dimension=dimension, weighted=weighted):
                points = rng.random((1000, dimension))
                weights = rng.random(1000) if weighted else None
                t = vorn.bsp_tree(points, weights, leaf_size=8)
                self.assertEqual(len(t), 2**t.levels - 1)
                np.testing.assert_array_equal(np.sort(t.ids), np.arange(1000))
                np.testing.assert_array_equal(t.points, points[t.ids])
                for node in (0, 1, len(t) - 1):
                    inside = t.points[t.node_begin[node]:t.node_end[node]]
                    self.assertTrue(np.all(inside >= t.node_box[node, 0]) and np.all(inside <= t.node_box[node, 1]))
                    if weighted:
                        bound = inside @ t.majorant_gradient[node] + t.majorant_offset[node]
                        self.assertTrue(np.all(t.weights[t.node_begin[node]:t.node_end[node]] <= bound + 1e-12))
                self.assertLessEqual(np.max(t.node_end - t.node_begin)[()], 1000)
        with self.assertRaises(ValueError):
            vorn.bsp_tree(rng.random((10, 3)), rng.random(10))


class Masses(unittest.TestCase):
    def test_mass_is_the_sum_times_the_voxel_volume(self):
        self.assertEqual(vorn.image_mass(np.full((2, 3, 4), 2.0), np.diag([0.5, 2, 1.5])), 72.0)
        self.assertEqual(vorn.image_mass(np.ones((2, 2, 2)).tolist()), 8.0)

    def test_bad_images_raise_value_error(self):
        image = np.ones((2, 2, 2))
        image[1, 0, 1] = np.nan
        with self.assertRaisesRegex(ValueError, r"voxel \(1, 0, 1\)"):
            vorn.image_mass(image)
        with self.assertRaisesRegex(ValueError, "three axes"):
            vorn.image_mass(np.ones((2, 2)))
        with self.assertRaisesRegex(ValueError, r"axes: expected shape \(3, 3\)"):
            vorn.image_mass(np.ones((2, 2, 2)), np.eye(2))


class Plots(unittest.TestCase):
    def test_plot_draws_every_non_empty_cell(self):
        try:
            import matplotlib
        except ImportError:
            self.skipTest("matplotlib is not installed (Debian: python3-matplotlib)")
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
        d = vorn.power_diagram(*seeds(100))
        ax = vorn.PowerDiagram.plot(d, plt.figure().gca())
        self.assertEqual(len(ax.collections[0].get_paths()), int((~d.empty).sum()))
        # A periodic diagram draws each cell with its eight nearest copies, which the box clips.
        d = vorn.power_diagram(*seeds(100), periodic=True)
        ax = vorn.PowerDiagram.plot(d, plt.figure().gca())
        self.assertEqual(len(ax.collections[0].get_paths()), 9 * int((~d.empty).sum()))


if __name__ == "__main__":
    unittest.main()
