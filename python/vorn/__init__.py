"""Power (Laguerre) diagrams, BSP trees and image masses for numpy arrays.

    >>> import numpy as np, vorn
    >>> rng = np.random.default_rng(1)
    >>> d = vorn.power_diagram(rng.random((1000, 2)), 1e-4 * rng.random(1000))
    >>> d.areas.sum()          # the cells tile the unit square
    1.0
    >>> vertices, neighbours = d.cell(0)

Every result is exact to the last bit and the same on every CPU and thread
count. Arrays of a result share memory with the computed result (no copy)
and are read-only.
"""

from __future__ import annotations

import numbers

import numpy as np

from . import _vorn

__all__ = ["power_diagram", "periodic_positions", "PowerDiagram", "fit_weights", "lloyd", "FitResult", "bsp_tree",
           "BspTree", "image_mass", "DOMAIN_EDGE", "INFINITE_EDGE"]

#: Neighbour of an edge on the domain box.
DOMAIN_EDGE = _vorn.DOMAIN_EDGE
#: Neighbour of a stand-in edge at infinity (cells of the whole plane).
INFINITE_EDGE = _vorn.INFINITE_EDGE


def _float_table(name, values, columns):
    """`values` as a C-contiguous float64 array of shape (n, k), k in `columns`."""
    try:
        table = np.ascontiguousarray(values, dtype=np.float64)
    except (TypeError, ValueError) as e:
        raise ValueError(f"{name}: expected numbers, got {type(values).__name__} ({e})") from None
    if table.ndim != 2 or table.shape[1] not in columns:
        wanted = " or ".join(f"(n, {k})" for k in columns)
        raise ValueError(f"{name}: expected shape {wanted}, got {table.shape}")
    return table


def _float_vector(name, values, n):
    try:
        vector = np.ascontiguousarray(values, dtype=np.float64)
    except (TypeError, ValueError) as e:
        raise ValueError(f"{name}: expected numbers, got {type(values).__name__} ({e})") from None
    if vector.shape != (n,):
        raise ValueError(f"{name}: expected shape ({n},), one per point, got {vector.shape}")
    return vector


def _count(name, value, low, high, none_means=None):
    if value is None and none_means is not None:
        return none_means
    if isinstance(value, bool) or not isinstance(value, numbers.Integral) or not low <= value <= high:
        raise ValueError(f"{name}: expected an integer from {low} to {high}, got {value!r}")
    return int(value)


class PowerDiagram:
    """The power cells of n weighted seeds, in the seeds' order.

    Attributes (numpy arrays, read-only, sharing the computed result's memory):

    cell_begin : int64, (n + 1,)
        Cell i's vertices are ``vertices[cell_begin[i]:cell_begin[i + 1]]``.
    vertices : float64, (V, 2)
        Every cell's vertices, counter-clockwise.
    neighbours : int32, (V,)
        The neighbour across each edge: edge k runs from vertex k to the next
        vertex of its cell (wrapping); a seed index, DOMAIN_EDGE (-1) for the
        domain box or INFINITE_EDGE (-2) for an edge at infinity.
    shifts : int8, (V, 2), or None
        Periodic diagrams only (None otherwise): the copy of the neighbour
        that each edge faces, ``(sx, sy)`` for the copy at
        ``points[j] + (sx * Lx, sy * Ly)``, with L the box's sides and
        points[j] the wrapped position; each is -1, 0 or 1. If cell i faces
        seed j's copy s, cell j faces seed i's copy -s; a seed may face copies
        of itself.
    periodic : bool
        Whether the cells tile the torus of the box (``periodic=True``).
    band : dict or None
        Periodic diagrams: the band of seed copies around the box that
        certified every cell, ``{"width", "ghosts", "growths"}`` (its widths
        beyond the box's sides along x and y, the copies in it, and how often
        it was doubled).
    areas : float64, (n,)
        0 for an empty cell, inf for an unbounded one.
    centroids : float64, (n, 2)
        NaN for empty and unbounded cells.
    empty, unbounded : bool, (n,)
    threads : int
        Threads the computation ran on.
    isa : str
        The instruction-set level of the libraries that computed it.
    timings : dict
        Seconds of the phases "tree", "cells" and "assemble".

    An unbounded cell (only without a box) holds a finite stand-in: its
    INFINITE_EDGE edges lie beyond every finite feature, its other edges
    are exact.

    A periodic cell is one polygon around its seed's wrapped position (see
    :func:`periodic_positions`) and may cross the box's sides; its centroid
    is that polygon's.
    """

    def __init__(self, arrays, box, periodic=False):
        for name in ("cell_begin", "vertices", "neighbours", "shifts", "areas", "centroids", "empty", "unbounded",
                     "band"):
            setattr(self, name, arrays[name])
        self.periodic = periodic
        self.threads = arrays["threads"]
        self.isa = arrays["isa"]
        self.timings = arrays["timings"]
        self.box = box

    def __len__(self):
        return len(self.areas)

    def __repr__(self):
        domain = "the whole plane" if self.box is None else f"box {tuple(float(b) for b in self.box)}"
        if self.periodic:
            domain = "the torus of the " + domain
        return (f"<vorn.PowerDiagram: {len(self)} cells, {int(self.empty.sum())} empty, "
                f"{len(self.vertices)} vertices, {domain}>")

    def cell(self, i):
        """(vertices (k, 2), neighbours (k,)) of cell i: views, not copies.

        A periodic cell's shifts are ``shifts[cell_begin[i]:cell_begin[i + 1]]``."""
        n = len(self)
        if not -n <= i < n:
            raise IndexError(f"cell {i} of a diagram of {n} cells")
        i %= n
        begin, end = self.cell_begin[i], self.cell_begin[i + 1]
        return self.vertices[begin:end], self.neighbours[begin:end]

    def polygons(self):
        """The (k, 2) vertex array of every cell, a list of views; empty cells give (0, 2)."""
        return np.split(self.vertices, self.cell_begin[1:-1])

    def edges(self):
        """Every shared edge once: (i, j, length) with i < j, as three arrays.

        i and j are seed indices of neighbouring cells; length is the length
        of their common edge (of its finite part for unbounded cells). In a
        periodic diagram two seeds may share several edges (with different
        copies), and a seed an edge with a copy of itself (i == j): each
        such edge is listed once, from the side whose shift is positive."""
        owner = np.repeat(np.arange(len(self), dtype=np.int64), np.diff(self.cell_begin))
        following = np.arange(1, len(self.vertices) + 1, dtype=np.int64)
        last = self.cell_begin[1:] - 1
        has_vertices = np.diff(self.cell_begin) > 0
        following[last[has_vertices]] = self.cell_begin[:-1][has_vertices]
        seen_once = (self.neighbours > owner) & (self.neighbours >= 0)
        if self.periodic:
            sx, sy = self.shifts[:, 0], self.shifts[:, 1]
            seen_once |= (self.neighbours == owner) & ((sx > 0) | ((sx == 0) & (sy > 0)))
        lengths = np.hypot(*(self.vertices[following] - self.vertices).T)
        return owner[seen_once], self.neighbours[seen_once].astype(np.int64), lengths[seen_once]

    def adjacency(self):
        """The neighbour graph with shared edge lengths as weights.

        A symmetric ``scipy.sparse.csr_matrix`` (n, n) when scipy is
        installed; otherwise the (i, j, length) arrays of :meth:`edges`.
        Edges of a periodic diagram are summed over the copies: entry (i, j)
        is the boundary the two cells share per period, (i, i) that of a
        cell with its own copies."""
        i, j, length = self.edges()
        try:
            from scipy.sparse import coo_matrix
        except ImportError:
            return i, j, length
        n = len(self)
        mirrored = i != j
        return coo_matrix((np.concatenate([length, length[mirrored]]),
                           (np.concatenate([i, j[mirrored]]), np.concatenate([j, i[mirrored]]))),
                          shape=(n, n)).tocsr()

    def moments(self, density):
        """Masses (n,) and mass centroids (n, 2) of the cells under a density.

        density: (ny, nx) array of pixel values spanning the diagram's box,
        row 0 at the box's bottom (y_min). Exact: each cell is cut along the
        pixel lines it crosses, nothing is sampled."""
        if self.box is None:
            raise ValueError("moments: a diagram of the whole plane has cells of no finite mass")
        _need_fit("PowerDiagram.moments")
        image = _density_image(density)
        if not self.periodic:
            return _vorn.density_moments(self.vertices, self.cell_begin, self.box, image)
        # A periodic cell may cross the box's sides: its mass is that of its
        # copies shifted by -1, 0 and 1 periods each way, clipped to the box,
        # and their centroids are moved back by their shift.
        period = np.array([self.box[2] - self.box[0], self.box[3] - self.box[1]])
        masses = np.zeros(len(self))
        moments = np.zeros((len(self), 2))
        for sx in (-1, 0, 1):
            for sy in (-1, 0, 1):
                shift = period * (sx, sy)
                m, c = _vorn.density_moments(self.vertices + shift, self.cell_begin, self.box, image)
                inside = m > 0
                masses += m
                moments[inside] += m[inside, None] * (c[inside] - shift)
        with np.errstate(invalid="ignore", divide="ignore"):
            return masses, moments / masses[:, None]

    def plot(self, ax=None, *, color_by="area", cmap="viridis", edgecolor="0.15", linewidth=0.3, seeds=None,
             **kwargs):
        """Draws the cells with matplotlib (needed) and returns the axes.

        color_by: "area", None (no fill), or an array of n values.
        seeds: the (n, 2) seed positions to mark, if given.
        Further keyword arguments go to the PolyCollection."""
        try:
            import matplotlib.pyplot as plt
            from matplotlib.collections import PolyCollection
        except ImportError:
            raise ImportError("PowerDiagram.plot needs matplotlib (Debian: python3-matplotlib)") from None
        if ax is None:
            ax = plt.gca()
        shown = ~self.empty
        cells = [p for p, s in zip(self.polygons(), shown) if s]
        if self.periodic:
            # Each cell and its copies one period away: the axes show the box,
            # so together they tile it.
            lx, ly = self.box[2] - self.box[0], self.box[3] - self.box[1]
            offsets = [(a * lx, b * ly) for a in (-1, 0, 1) for b in (-1, 0, 1)]
            cells = [p + o for p in cells for o in offsets]
            shown = np.repeat(shown, 9)
            shown_values = lambda v: np.repeat(v[~self.empty], 9)
        else:
            shown_values = lambda v: v[shown]
        collection = PolyCollection(cells, edgecolor=edgecolor, linewidth=linewidth, **kwargs)
        if color_by is None:
            collection.set_facecolor("none")
        else:
            values = self.areas if isinstance(color_by, str) and color_by == "area" else np.asarray(color_by)
            if values.shape != (len(self),):
                raise ValueError(f"color_by: expected 'area', None or {len(self)} values, got shape {values.shape}")
            collection.set_array(shown_values(values))
            collection.set_cmap(cmap)
        ax.add_collection(collection)
        if seeds is not None:
            seeds = np.asarray(seeds)
            ax.plot(seeds[:, 0], seeds[:, 1], ".", color="black", markersize=1)
        if self.box is not None:
            ax.set_xlim(self.box[0], self.box[2])
            ax.set_ylim(self.box[1], self.box[3])
        else:
            ax.autoscale_view()
        ax.set_aspect("equal")
        return ax


def periodic_positions(points, box=(0.0, 0.0, 1.0, 1.0)):
    """The points (n, 2) wrapped into the box by whole periods, as a periodic
    diagram takes them: x into [xmin, xmax), y into [ymin, ymax) (a value
    that would round onto xmax becomes xmin); points inside are unchanged.
    A new float64 array."""
    table = _float_table("points", points, (2,))
    try:
        domain = [float(b) for b in box]
    except (TypeError, ValueError):
        raise ValueError(f"box: expected (xmin, ymin, xmax, ymax), got {box!r}") from None
    if len(domain) != 4:
        raise ValueError(f"box: expected (xmin, ymin, xmax, ymax), got {len(domain)} numbers")
    return _vorn.periodic_positions(table, domain)


def power_diagram(points, weights=None, *, box=(0.0, 0.0, 1.0, 1.0), unbounded=False, periodic=False,
                  precision="double", threads=None, leaf_size=16, isa=None, progress=None):
    """The power (Laguerre) diagram of weighted points in the plane.

    The cell of seed i is the set of points p with
    ``|p - points[i]|**2 - weights[i] <= |p - points[j]|**2 - weights[j]``
    for every j, clipped to the box.

    With ``periodic=True`` the box is the period cell of a torus: the plane
    holds every copy ``points[j] + (sx * Lx, sy * Ly)`` of every seed (L the
    box's sides, sx and sy any integers), and cell i is seed i's cell among
    them, one polygon around its position wrapped into the box (a point
    outside is wrapped in, see :func:`periodic_positions`). ``shifts`` then
    names the copy each edge faces, so that the cells and their copies tile
    the plane; the areas add up to the box's. Every cell is certified
    complete: the copies near the box that it was computed among are widened
    until none beyond them could cut it.

    Parameters
    ----------
    points : array-like, (n, 2)
        Seed positions; converted once to C-ordered float64.
    weights : array-like, (n,), optional
        Seed weights (squared radii); zero when omitted (a Voronoi diagram).
    box : (xmin, ymin, xmax, ymax)
        The domain. Seeds outside it keep the part of their cell inside it.
    unbounded : bool
        Cells of the whole plane instead of a box (``box`` is then ignored).
    periodic : bool
        Cells of the torus whose period cell is ``box`` (not with unbounded).
    precision : "double" or "float"
        Cell arithmetic. Float cells resolve about 2^-20 of the seeds' extent,
        double cells about 2^-44.
    threads : int, optional
        Threads to use; all hardware threads when omitted.
    leaf_size : int
        Seeds per leaf of the seeds' BSP tree.
    isa : "x86-64", "avx2" or "avx512", optional
        The library builds to run; the best this CPU has when omitted.
        Every level gives the same bits.
    progress : callable(done, total), optional
        Called from this thread while the cells are computed, at most five
        times a second, and once at the end; an exception it raises stops
        the computation and is raised here.

    Returns
    -------
    PowerDiagram

    Raises
    ------
    ValueError
        Bad input, with the offending seed's index where there is one (a
        non-finite coordinate, weights too far apart for the arithmetic,
        an inverted box...), or cells the arithmetic cannot hold.
    RuntimeError
        A library that cannot be loaded, or a CPU lacking the asked level.
    KeyboardInterrupt
        Ctrl-C. The cells stop within a fraction of a second; the seeds'
        tree, built first (about a second per million seeds on one
        thread), is finished before.

    Seeds at the same position share one cell: the heaviest (the lowest index
    among equally heavy ones) gets it, the others are empty.
    """
    table = _float_table("points", points, (2,))
    n = table.shape[0]
    w = np.zeros(n) if weights is None else _float_vector("weights", weights, n)
    _precision(precision)
    if periodic and unbounded:
        raise ValueError("periodic: a periodic diagram needs a box (its period cell), not unbounded=True")
    domain = None if unbounded else _box(box)
    if progress is not None and not callable(progress):
        raise ValueError(f"progress: expected a callable (done, total), got {type(progress).__name__}")
    arrays = _vorn.power_diagram(table, w, domain, bool(periodic), precision,
                                 _count("threads", threads, 1, 4096, none_means=0),
                                 _count("leaf_size", leaf_size, 1, 2**31 - 1), isa, progress)
    return PowerDiagram(arrays, domain, bool(periodic))


def _need_fit(what):
    if not _vorn.HAS_FIT:
        raise RuntimeError(f"{what} needs the fitting library, which this build of vorn lacks "
                           "(built without Eigen: Debian libeigen3-dev)")


def _float_array(name, values, ndim, axes):
    """`values` as a C-contiguous float64 array with `ndim` axes (described as `axes`)."""
    try:
        array = np.ascontiguousarray(values, dtype=np.float64)
    except (TypeError, ValueError) as e:
        raise ValueError(f"{name}: expected numbers ({e})") from None
    if array.ndim != ndim:
        raise ValueError(f"{name}: expected {axes}, got shape {array.shape}")
    return array


def _density_image(density):
    return _float_array("density", density, 2, "a 2-D image (ny, nx)")


def _box(box):
    try:
        domain = tuple(float(b) for b in box)
    except (TypeError, ValueError):
        raise ValueError(f"box: expected (xmin, ymin, xmax, ymax), got {box!r}") from None
    if len(domain) != 4:
        raise ValueError(f"box: expected (xmin, ymin, xmax, ymax), got {len(domain)} numbers")
    return domain


class FitResult:
    """Weights fitted to prescribed cell sizes, and what they give.

    weights : float64, (n,)
    diagram : PowerDiagram under those weights
    masses : float64, (n,); the cells' areas, or masses under the density
    converged : bool; the tolerance was reached
    stalled : bool; stopped short of it because no fraction of a Newton step
        improved the error: the cells' arithmetic resolves no more
    history : list of dicts, the start (iteration 0) then every Newton
        iteration: "iteration", "max_relative_error", "step" (the fraction
        of the Newton step taken), "diagrams" (diagrams computed),
        "solver_iterations", "solve_seconds", "seconds"
    points : float64, (n, 2); the seeds' final positions (lloyd only)
    largest_move : float64, (iterations,); per move, the farthest any seed
        went (lloyd only)
    """

    def __init__(self, arrays, box, periodic=False):
        self.weights = arrays["weights"]
        self.masses = arrays["masses"]
        self.converged = arrays["converged"]
        self.stalled = arrays["stalled"]
        self.history = arrays["history"]
        self.diagram = PowerDiagram(arrays["diagram"], box, bool(periodic))
        if "points" in arrays:
            self.points = arrays["points"]
            self.largest_move = arrays["largest_move"]

    def __repr__(self):
        error = self.history[-1]["max_relative_error"] if self.history else float("nan")
        state = "converged" if self.converged else "NOT converged"
        return (f"<vorn.FitResult: {len(self.weights)} seeds, {state}, largest relative error {error:.3g} "
                f"after {len(self.history) - 1} iterations>")


def _fit_inputs(name, points, targets, weights, box, density):
    table = _float_table("points", points, (2,))
    n = table.shape[0]
    domain = _box(box)
    image = None if density is None else _density_image(density)
    if targets is None:
        if image is None:
            total = (domain[2] - domain[0]) * (domain[3] - domain[1])
        else:
            total = float(image.sum()) * (domain[2] - domain[0]) * (domain[3] - domain[1]) / image.size
        targets = np.full(n, total / n) if n else np.zeros(0)
    else:
        targets = _float_vector("targets", targets, n)
    w = None if weights is None else _float_vector("weights", weights, n)
    _need_fit(name)
    return table, targets, w, domain, image


def fit_weights(points, targets=None, *, weights=None, box=(0.0, 0.0, 1.0, 1.0), periodic=False, density=None,
                tolerance=1e-9, max_iterations=100, precision="double", threads=None, leaf_size=16, isa=None,
                callback=None):
    """Weights under which every cell gets its prescribed area (or mass).

    The semi-discrete optimal transport of the box (under the density) to
    the seeds: a damped Newton method on the weights, each step solved by
    preconditioned conjugate gradients.

    Parameters
    ----------
    points : array-like, (n, 2)
        Seed positions, inside the box (anywhere when periodic: they are
        wrapped into it), no two at the same place.
    targets : array-like, (n,), optional
        Each cell's area (mass under a density); they must add up to the
        box's area (the density's total mass). Equal shares when omitted.
    weights : array-like, (n,), optional
        Where to start; zero when omitted. A start that leaves cells empty
        is pulled toward equal weights first.
    box : (xmin, ymin, xmax, ymax)
    periodic : bool
        Cells of the torus whose period cell is the box, as for
        power_diagram; the density repeats with the box.
    density : array-like, (ny, nx), optional
        Pixel values spanning the box, row 0 at the bottom (y_min): for an
        image whose first row is its top, pass ``np.flipud(image)``.
    tolerance : float
        Stop once every cell's relative error |mass - target| / target is
        at most this.
    max_iterations : int
    precision, threads, leaf_size, isa
        As for power_diagram.
    callback : callable(dict), optional
        Called on this thread with each iteration's record (see
        FitResult.history) as the iterations finish.

    Returns
    -------
    FitResult
        With ``converged`` False (and a RuntimeWarning) when the iterations
        ran out first, or the fit stalled (``stalled``) at the error the
        cells' arithmetic resolves.

    Raises
    ------
    ValueError
        Targets that are not positive, do not add up, a seed outside the box
        or on another, a bad density; or no start under which every cell
        holds mass.
    KeyboardInterrupt
        Ctrl-C, within a fraction of a second of a diagram's cells.
    """
    table, targets, w, domain, image = _fit_inputs("fit_weights", points, targets, weights, box, density)
    result = FitResult(_vorn.fit_weights(
        table, targets, w, domain, bool(periodic), image, float(tolerance),
        _count("max_iterations", max_iterations, 0, 10**6), _precision(precision),
        _count("threads", threads, 1, 4096, none_means=0), _count("leaf_size", leaf_size, 1, 2**31 - 1), isa,
        callback), domain, periodic)
    if not result.converged:
        import warnings
        error = result.history[-1]["max_relative_error"]
        why = (f"stalled at largest relative error {error:.3g}: no fraction of a Newton step improves it, the "
               "cells' arithmetic resolves no more" if result.stalled else
               f"did not converge in {max_iterations} iterations: largest relative error {error:.3g}")
        warnings.warn(f"fit_weights {why} (tolerance {tolerance:g})", RuntimeWarning, stacklevel=2)
    return result


def lloyd(points, *, iterations=10, move_tolerance=0.0, targets=None, fit=False, weights=None,
          box=(0.0, 0.0, 1.0, 1.0), periodic=False, density=None, tolerance=1e-9, max_iterations=100,
          precision="double", threads=None, leaf_size=16, isa=None, callback=None):
    """Lloyd relaxation: every seed moved to its cell's (mass) centroid.

    Parameters
    ----------
    points : array-like, (n, 2)
    iterations : int
        Moves at most.
    move_tolerance : float
        Stop once no seed moves farther than this.
    fit : bool
        Fit the weights to `targets` (equal shares when omitted) before the
        first move and after every move, so the cells keep their sizes:
        capacity-constrained, blue-noise point sets.
    targets, tolerance, max_iterations
        As for fit_weights (with fit=True).
    weights : array-like, (n,), optional
        Fixed weights (fit=False), or the first fit's start.
    box, periodic, density, precision, threads, leaf_size, isa
        As for fit_weights; on a periodic domain the moved seeds are
        wrapped into the box.
    callback : callable(move, largest_move), optional
        Called on this thread after each move.

    Returns
    -------
    FitResult
        With ``points``, the moved seeds, and ``largest_move`` per move.
    """
    if fit:
        table, targets, w, domain, image = _fit_inputs("lloyd", points, targets, weights, box, density)
    else:
        if targets is not None:
            raise ValueError("targets: give fit=True to fit the weights to them")
        table = _float_table("points", points, (2,))
        w = None if weights is None else _float_vector("weights", weights, table.shape[0])
        domain = _box(box)
        image = None if density is None else _density_image(density)
        _need_fit("lloyd")
    if not (move_tolerance >= 0):
        raise ValueError(f"move_tolerance: expected a number not negative, got {move_tolerance!r}")
    result = _vorn.lloyd(
        table, w, targets, _count("iterations", iterations, 0, 10**6), float(move_tolerance), domain, bool(periodic),
        image,
        float(tolerance), _count("max_iterations", max_iterations, 0, 10**6), _precision(precision),
        _count("threads", threads, 1, 4096, none_means=0), _count("leaf_size", leaf_size, 1, 2**31 - 1), isa,
        callback)
    return FitResult(result, domain, periodic)


def _precision(precision):
    if precision not in ("double", "float"):
        raise ValueError(f"precision: expected 'double' or 'float', got {precision!r}")
    return precision


class BspTree:
    """A balanced BSP tree of a point cloud, in depth-first pre-order.

    Attributes (numpy arrays, read-only):

    levels : int
        L; the tree has 2**L - 1 nodes, the root is node 0, and the children
        of a node d at depth e (root depth 0, e < L - 1) are d + 1 and
        d + 2**(L - 1 - e).
    points : float64, (n, D)
        The cloud in tree order: every node's points contiguous.
    ids : int64, (n,)
        The input index of each tree point.
    weights : float64, (n,)
        Weights in tree order (weighted 2-D trees only).
    node_begin, node_end : int64, (2**L - 1,)
        Each node's half-open range of tree points.
    node_box : float64, (2**L - 1, 2, D)
        Each node's tight box, low corner first.
    majorant_gradient : float64, (2**L - 1, D); majorant_offset : (2**L - 1,)
        An affine upper bound of the weights over each node (weighted 2-D
        trees only): ``w <= gradient . p + offset`` for the node's points.
    """

    def __init__(self, arrays):
        for name, value in arrays.items():
            setattr(self, name, value)

    def __len__(self):
        return len(self.node_begin)

    def __repr__(self):
        return f"<vorn.BspTree: {len(self.ids)} points in {self.points.shape[1]}-D, {self.levels} levels>"


def bsp_tree(points, weights=None, *, leaf_size=16, threads=None, isa=None):
    """A BSP tree of 2-D points (weighted or not) or 3-D points.

    points : array-like, (n, 2) or (n, 3); weights : array-like (n,), 2-D only.
    Every leaf holds at most leaf_size points (or only coincident ones).
    Returns a BspTree; raises ValueError on bad input (naming the point).
    """
    table = _float_table("points", points, (2, 3))
    n, dimension = table.shape
    if weights is not None and dimension == 3:
        raise ValueError("weights: only 2-D trees carry weights")
    w = None if weights is None else _float_vector("weights", weights, n)
    return BspTree(_vorn.bsp_tree(table, dimension, w, _count("leaf_size", leaf_size, 1, 2**31 - 1),
                                  _count("threads", threads, 1, 4096, none_means=0), isa))


def image_mass(image, axes=None, *, isa=None):
    """The mass of a density on a 3-D voxel grid: sum of values times voxel volume.

    image : array-like, (N0, N1, N2)
        The density's value in each voxel.
    axes : array-like, (3, 3), optional
        Row d is the step in space from one voxel to the next along image
        axis d, so a voxel's volume is |det axes|; the identity by default.

    Summed in a fixed order, so the result is the same on every run. Raises
    ValueError for non-finite values (naming the voxel) or axes.
    """
    values = _float_array("image", image, 3, "three axes")
    matrix = np.eye(3) if axes is None else np.asarray(axes, dtype=np.float64)
    if matrix.shape != (3, 3):
        raise ValueError(f"axes: expected shape (3, 3), got {matrix.shape}")
    return _vorn.image_mass(values, [float(a) for a in matrix.ravel()], isa)
