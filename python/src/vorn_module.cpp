// The extension module vorn._vorn: the host API for numpy arrays.
//
// Inputs arrive as C-contiguous float64 arrays (the Python layer converts any
// array-like once and checks shapes). Results are handed out as numpy arrays
// over the C++ result's own buffers: one capsule owns the result and is the
// base of every array, so the result lives as long as any array of it.
//
// The GIL is released while computing. A power diagram is computed on a
// thread of its own while the calling thread waits with the GIL, checking
// for signals and calling the progress callback; Ctrl-C (or an exception
// from the callback) stops the cell workers at their next block of cells and
// raises in the caller, so nothing half-made is ever returned. The tree
// phase before the cells (about a second per million seeds on one thread)
// runs to its end first.
#include <pybind11/functional.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "vorn/host/bsp_tree.hpp"
#ifdef VORN_PYTHON_FIT
#include "vorn/host/fit_weights.hpp"
#endif
#include "vorn/host/image_mass.hpp"
#include "vorn/host/isa_level.hpp"
#include "vorn/host/power_diagram.hpp"

namespace py = pybind11;
using namespace vorn;

namespace {

using InputArray = py::array_t<double, py::array::c_style | py::array::forcecast>;

std::span<const double> values_of(const InputArray& a) {
  return {a.data(), static_cast<std::size_t>(a.size())};
}

// Owns `object` in a capsule that becomes the base of every array over it.
template <class T>
py::capsule owner_of(T* object) {
  return py::capsule(object, [](void* p) { delete static_cast<T*>(p); });
}

// A numpy array over `values`, kept alive by `owner`, with the given shape
// (row-major); read-only, since the arrays of one result depend on each other.
template <class T>
py::array view(const std::vector<T>& values, std::vector<py::ssize_t> shape, const py::capsule& owner) {
  py::array out(py::dtype::of<T>(), std::move(shape), {}, values.data(), owner);
  py::detail::array_proxy(out.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
  return out;
}

std::optional<host::IsaLevel> level_named(const std::optional<std::string>& name) {
  if (!name) return std::nullopt;
  return host::isa_level_named(*name);
}

// Thrown from the progress hook to stop the cell workers; never leaves this file.
struct Stopped {};

// Runs `compute` on a thread of its own while this thread, holding the GIL
// between checks, looks for signals every 50 ms and calls `report` at most
// every 0.2 s and once at the end. A pending signal's exception or one from
// `report` makes check() throw in the computation's hooks, which stops it,
// and is raised here; else the computation's own exception, if any, is
// rethrown.
class Watched {
 public:
  explicit Watched(std::function<void()> report = {}) : report_(std::move(report)) {}

  // For the computation's hooks: throws Stopped once asked to stop.
  void check() const {
    if (stop_) throw Stopped{};
  }

  template <class Compute>
  void run(Compute&& compute) {
    std::exception_ptr failure;
    std::optional<py::error_already_set> raised;
    {
      py::gil_scoped_release unlocked;
      std::thread worker([&] {
        try {
          compute();
        } catch (...) {
          failure = std::current_exception();
        }
        std::lock_guard lock(mutex_);
        finished_ = true;
        finished_signal_.notify_all();
      });
      auto last_report = std::chrono::steady_clock::now();
      for (;;) {
        {
          std::unique_lock lock(mutex_);
          if (finished_signal_.wait_for(lock, std::chrono::milliseconds(50), [&] { return finished_; })) break;
        }
        if (raised) continue;  // stopping: wait for the workers
        py::gil_scoped_acquire locked;
        if (PyErr_CheckSignals() != 0) {
          raised.emplace();
          stop_ = true;
          continue;
        }
        if (!report_ || std::chrono::steady_clock::now() - last_report < std::chrono::milliseconds(200)) continue;
        last_report = std::chrono::steady_clock::now();
        try {
          report_();
        } catch (py::error_already_set& e) {
          raised.emplace(std::move(e));
          stop_ = true;
        }
      }
      worker.join();
    }
    if (raised) throw *raised;
    if (failure) std::rethrow_exception(failure);
    if (report_) report_();
  }

 private:
  std::function<void()> report_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable finished_signal_;
  bool finished_ = false;
};

// A finished diagram with its vertices and centroids as (V, 2) and (n, 2)
// tables; the per-axis vectors they came from are released.
struct DiagramResult {
  host::PowerDiagram diagram;
  std::vector<double> vertices;
  std::vector<double> centroids;
};

void interleave(std::vector<double>& xs, std::vector<double>& ys, std::vector<double>& out) {
  out.resize(2 * xs.size());
  for (std::size_t k = 0; k < xs.size(); ++k) {
    out[2 * k] = xs[k];
    out[2 * k + 1] = ys[k];
  }
  std::vector<double>().swap(xs);
  std::vector<double>().swap(ys);
}

// The diagram's arrays, over the result's own buffers.
py::dict diagram_arrays(std::unique_ptr<DiagramResult> result, bool periodic) {
  host::PowerDiagram& d = result->diagram;
  interleave(d.xs, d.ys, result->vertices);
  interleave(d.centroid_x, d.centroid_y, result->centroids);
  const auto n = static_cast<py::ssize_t>(d.cell_count());
  const auto vertex_count = static_cast<py::ssize_t>(d.neighbours.size());
  DiagramResult* kept = result.release();
  const py::capsule owner = owner_of(kept);
  const host::PowerDiagram& k = kept->diagram;
  py::dict out;
  out["cell_begin"] = view(k.cell_begin, {n + 1}, owner);
  out["vertices"] = view(kept->vertices, {vertex_count, 2}, owner);
  out["neighbours"] = view(k.neighbours, {vertex_count}, owner);
  out["shifts"] = periodic ? py::object(view(k.neighbour_shifts, {vertex_count, 2}, owner)) : py::none();
  out["band"] = periodic ? py::object(py::dict(py::arg("width") = py::make_tuple(k.band_x, k.band_y),
                                               py::arg("ghosts") = k.ghost_count, py::arg("growths") = k.band_growths))
                         : py::none();
  out["areas"] = view(k.areas, {n}, owner);
  out["centroids"] = view(kept->centroids, {n, 2}, owner);
  out["empty"] = view(k.empty, {n}, owner).attr("view")("bool");
  out["unbounded"] = view(k.unbounded, {n}, owner).attr("view")("bool");
  out["threads"] = k.threads;
  out["isa"] = std::string(host::isa_level_name(k.isa));
  out["timings"] = py::dict(py::arg("tree") = k.timings.tree, py::arg("cells") = k.timings.cells,
                            py::arg("assemble") = k.timings.assemble);
  return out;
}

using OptionalBox = std::optional<std::array<double, 4>>;

host::PowerDiagramOptions diagram_options(const OptionalBox& box, bool periodic, const std::string& precision,
                                          int threads, long long leaf_size, const std::optional<std::string>& isa) {
  host::PowerDiagramOptions options;
  if (box) {
    options.domain = host::Box{(*box)[0], (*box)[1], (*box)[2], (*box)[3]};
  } else {
    options.domain = std::nullopt;
  }
  options.periodic = periodic;
  options.precision =
      precision == "float" ? host::CellPrecision::single_precision : host::CellPrecision::double_precision;
  options.threads = threads;
  options.leaf_size = leaf_size;
  options.isa = level_named(isa);
  return options;
}

py::dict power_diagram(const InputArray& points, const InputArray& weights, const OptionalBox& box, bool periodic,
                       const std::string& precision, int threads, long long leaf_size,
                       const std::optional<std::string>& isa, py::object progress) {
  host::PowerDiagramOptions options = diagram_options(box, periodic, precision, threads, leaf_size, isa);
  auto result = std::make_unique<DiagramResult>();
  // Progress counts cells, so it is reported once the cells are under way.
  std::atomic<long long> done{0}, total{0};
  std::function<void()> report;
  if (!progress.is_none()) {
    report = [&] {
      if (total > 0) progress(done.load(), total.load());
    };
  }
  Watched watched(std::move(report));
  options.progress = [&](long long cells_done, long long cells) {
    done = cells_done;
    total = cells;
    watched.check();
  };
  watched.run([&] { result->diagram = host::power_diagram(values_of(points), values_of(weights), options); });
  return diagram_arrays(std::move(result), periodic);
}

#ifdef VORN_PYTHON_FIT
// A (ny, nx) image, row 0 at the box's bottom.
host::PixelDensity pixel_density(const InputArray& image) {
  return {image.shape(1), image.shape(0), std::vector<double>(image.data(), image.data() + image.size())};
}

// Fitting and Lloyd share their options; each diagram's hook lets Ctrl-C stop
// the work, and iterations are handed to `callback` (a dict each) on the
// calling thread as they finish.
struct FitCall {
  host::FitOptions options;
  std::optional<host::PixelDensity> density;
  std::mutex mutex;
  std::vector<py::dict> reports;  // made and read only with the GIL
  std::vector<host::FitIteration> finished;

  FitCall(const OptionalBox& box, bool periodic, const std::optional<InputArray>& image, double tolerance,
          int max_iterations, const std::string& precision, int threads, long long leaf_size,
          const std::optional<std::string>& isa) {
    options.diagram = diagram_options(box, periodic, precision, threads, leaf_size, isa);
    if (image) density = pixel_density(*image);
    options.density = density ? &*density : nullptr;
    options.tolerance = tolerance;
    options.max_iterations = max_iterations;
    options.on_iteration = [this](const host::FitIteration& it) {
      std::lock_guard lock(mutex);
      finished.push_back(it);
    };
  }

  // Hands the iterations finished since the last call to `callback`.
  void report(const py::object& callback) {
    std::vector<host::FitIteration> batch;
    {
      std::lock_guard lock(mutex);
      batch.swap(finished);
    }
    if (callback.is_none()) return;
    for (const host::FitIteration& it : batch) callback(iteration_dict(it));
  }

  static py::dict iteration_dict(const host::FitIteration& it) {
    return py::dict(py::arg("iteration") = it.iteration, py::arg("max_relative_error") = it.max_relative_error,
                    py::arg("step") = it.step, py::arg("diagrams") = it.diagrams,
                    py::arg("solver_iterations") = it.solver_iterations, py::arg("solve_seconds") = it.solve_seconds,
                    py::arg("seconds") = it.seconds);
  }

  void watch_diagrams(Watched& watched) {
    options.diagram.progress = [&watched](long long, long long) { watched.check(); };
  }
};

py::dict fit_result(host::FitResult r, bool periodic) {
  py::list history;
  for (const host::FitIteration& it : r.history) history.append(FitCall::iteration_dict(it));
  auto masses = std::make_unique<std::vector<double>>(std::move(r.masses));
  auto weights = std::make_unique<std::vector<double>>(std::move(r.weights));
  const auto n = static_cast<py::ssize_t>(masses->size());
  py::dict out;
  out["masses"] = view(*masses, {n}, owner_of(masses.get()));
  masses.release();
  out["weights"] = view(*weights, {n}, owner_of(weights.get()));
  weights.release();
  out["converged"] = r.converged;
  out["stalled"] = r.stalled;
  out["history"] = history;
  auto diagram = std::make_unique<DiagramResult>();
  diagram->diagram = std::move(r.diagram);
  out["diagram"] = diagram_arrays(std::move(diagram), periodic);
  return out;
}

py::dict fit_weights(const InputArray& points, const InputArray& targets, const std::optional<InputArray>& weights,
                     const OptionalBox& box, bool periodic, const std::optional<InputArray>& density,
                     double tolerance, int max_iterations, const std::string& precision, int threads,
                     long long leaf_size, const std::optional<std::string>& isa, py::object callback) {
  FitCall call(box, periodic, density, tolerance, max_iterations, precision, threads, leaf_size, isa);
  Watched watched([&] { call.report(callback); });
  call.watch_diagrams(watched);
  host::FitResult result;
  watched.run([&] {
    result = host::fit_weights(values_of(points), values_of(targets),
                               weights ? values_of(*weights) : std::span<const double>{}, call.options);
  });
  return fit_result(std::move(result), periodic);
}

py::dict lloyd(const InputArray& points, const std::optional<InputArray>& weights,
               const std::optional<InputArray>& targets, int iterations, double move_tolerance,
               const OptionalBox& box, bool periodic, const std::optional<InputArray>& density, double tolerance,
               int max_iterations, const std::string& precision, int threads, long long leaf_size,
               const std::optional<std::string>& isa, py::object callback) {
  FitCall call(box, periodic, density, tolerance, max_iterations, precision, threads, leaf_size, isa);
  call.options.on_iteration = nullptr;  // Lloyd reports moves, not Newton iterations
  host::LloydOptions options;
  options.fit = call.options;
  options.iterations = iterations;
  options.tolerance = move_tolerance;
  std::mutex mutex;
  std::vector<std::pair<int, double>> moves;
  options.on_iteration = [&](int k, double moved, const host::FitResult&) {
    std::lock_guard lock(mutex);
    moves.emplace_back(k, moved);
  };
  Watched watched([&] {
    std::vector<std::pair<int, double>> batch;
    {
      std::lock_guard lock(mutex);
      batch.swap(moves);
    }
    if (callback.is_none()) return;
    for (const auto& [k, moved] : batch) callback(k, moved);
  });
  options.fit.diagram.progress = [&watched](long long, long long) { watched.check(); };
  host::LloydResult result;
  watched.run([&] {
    result = host::lloyd(values_of(points), weights ? values_of(*weights) : std::span<const double>{},
                         targets ? values_of(*targets) : std::span<const double>{}, options);
  });
  auto positions = std::make_unique<std::vector<double>>(std::move(result.positions));
  const auto n = static_cast<py::ssize_t>(positions->size() / 2);
  py::dict out = fit_result(std::move(result.fitted), periodic);
  out["points"] = view(*positions, {n, 2}, owner_of(positions.get()));
  positions.release();
  out["largest_move"] = py::array_t<double>(static_cast<py::ssize_t>(result.largest_move.size()),
                                            result.largest_move.data());
  return out;
}

// Masses and mass centroids of a bounded diagram's cells under a density.
py::tuple density_moments(const InputArray& vertices,
                          const py::array_t<std::int64_t, py::array::c_style | py::array::forcecast>& cell_begin,
                          const std::array<double, 4>& box, const InputArray& image) {
  const host::PixelDensity density = pixel_density(image);
  host::check_pixel_density(density);
  const host::Box b{box[0], box[1], box[2], box[3]};
  const auto n = static_cast<std::size_t>(cell_begin.size() - 1);
  py::array_t<double> masses(static_cast<py::ssize_t>(n)), centroids({static_cast<py::ssize_t>(n), py::ssize_t{2}});
  auto m = masses.mutable_unchecked<1>();
  auto c = centroids.mutable_unchecked<2>();
  const double* v = vertices.data();
  const std::int64_t* begin = cell_begin.data();
  {
    py::gil_scoped_release unlocked;
    std::vector<double> xs, ys;
    for (std::size_t i = 0; i < n; ++i) {
      const auto from = static_cast<std::size_t>(begin[i]), to = static_cast<std::size_t>(begin[i + 1]);
      xs.assign(to - from, 0.0);
      ys.assign(to - from, 0.0);
      for (std::size_t k = from; k < to; ++k) xs[k - from] = v[2 * k], ys[k - from] = v[2 * k + 1];
      const host::Moments mo = host::polygon_moments(density, b, xs, ys);
      m(static_cast<py::ssize_t>(i)) = mo.mass;
      c(static_cast<py::ssize_t>(i), 0) = mo.mass > 0 ? mo.mx / mo.mass : std::nan("");
      c(static_cast<py::ssize_t>(i), 1) = mo.mass > 0 ? mo.my / mo.mass : std::nan("");
    }
  }
  return py::make_tuple(masses, centroids);
}
#endif

py::array periodic_positions(const InputArray& points, const std::array<double, 4>& box) {
  auto wrapped = std::make_unique<std::vector<double>>(
      host::periodic_positions(values_of(points), host::Box{box[0], box[1], box[2], box[3]}));
  const auto n = static_cast<py::ssize_t>(wrapped->size() / 2);
  std::vector<double>* kept = wrapped.release();
  return view(*kept, {n, 2}, owner_of(kept));
}

py::dict bsp_tree(const InputArray& points, int dimension, const std::optional<InputArray>& weights,
                  long long leaf_size, int threads, const std::optional<std::string>& isa) {
  const host::BspUnit unit = dimension == 3 ? host::BspUnit::plain_3d
                             : weights      ? host::BspUnit::weighted_2d
                                            : host::BspUnit::plain_2d;
  const std::optional<host::IsaLevel> level = level_named(isa);
  auto tree = std::make_unique<host::BspTree>();
  {
    py::gil_scoped_release unlocked;
    *tree = host::build_bsp_tree(unit, values_of(points), weights ? values_of(*weights) : std::span<const double>{},
                                 leaf_size, level ? *level : host::default_isa_level(), threads);
  }
  const auto n = static_cast<py::ssize_t>(tree->point_count());
  const auto m = static_cast<py::ssize_t>(tree->node_count());
  const py::ssize_t d = tree->dimension;
  host::BspTree* kept = tree.release();
  const py::capsule owner = owner_of(kept);
  py::dict out;
  out["levels"] = kept->levels;
  out["points"] = view(kept->positions, {n, d}, owner);
  out["ids"] = view(kept->ids, {n}, owner);
  out["node_begin"] = view(kept->node_begin, {m}, owner);
  out["node_end"] = view(kept->node_end, {m}, owner);
  out["node_box"] = view(kept->node_box, {m, 2, d}, owner);
  if (host::bsp_weighted(kept->unit)) {
    out["weights"] = view(kept->weights, {n}, owner);
    out["majorant_gradient"] = view(kept->majorant_gradient, {m, d}, owner);
    out["majorant_offset"] = view(kept->majorant_offset, {m}, owner);
  }
  return out;
}

double image_mass(const InputArray& image, const std::array<double, 9>& axes, const std::optional<std::string>& isa) {
  const std::array<long long, 3> extents{image.shape(0), image.shape(1), image.shape(2)};
  const std::optional<host::IsaLevel> level = level_named(isa);
  py::gil_scoped_release unlocked;
  return host::image_mass(values_of(image), extents, axes, level ? *level : host::default_isa_level());
}

}  // namespace

PYBIND11_MODULE(_vorn, m) {
  m.doc() = "The compiled core of vorn; use the functions of the vorn package.";
  m.def("power_diagram", &power_diagram, py::arg("points"), py::arg("weights"), py::arg("box"), py::arg("periodic"),
        py::arg("precision"), py::arg("threads"), py::arg("leaf_size"), py::arg("isa"), py::arg("progress"));
  m.def("periodic_positions", &periodic_positions, py::arg("points"), py::arg("box"));
  m.def("bsp_tree", &bsp_tree, py::arg("points"), py::arg("dimension"), py::arg("weights"), py::arg("leaf_size"),
        py::arg("threads"), py::arg("isa"));
  m.def("image_mass", &image_mass, py::arg("image"), py::arg("axes"), py::arg("isa"));
  m.def("cpu_isa_level", [] { return std::string(host::isa_level_name(host::cpu_isa_level())); });
#ifdef VORN_PYTHON_FIT
  m.def("fit_weights", &fit_weights, py::arg("points"), py::arg("targets"), py::arg("weights"), py::arg("box"),
        py::arg("periodic"), py::arg("density"), py::arg("tolerance"), py::arg("max_iterations"), py::arg("precision"), py::arg("threads"),
        py::arg("leaf_size"), py::arg("isa"), py::arg("callback"));
  m.def("lloyd", &lloyd, py::arg("points"), py::arg("weights"), py::arg("targets"), py::arg("iterations"),
        py::arg("move_tolerance"), py::arg("box"), py::arg("periodic"), py::arg("density"), py::arg("tolerance"),
        py::arg("max_iterations"), py::arg("precision"), py::arg("threads"), py::arg("leaf_size"), py::arg("isa"),
        py::arg("callback"));
  m.def("density_moments", &density_moments, py::arg("vertices"), py::arg("cell_begin"), py::arg("box"),
        py::arg("image"));
  m.attr("HAS_FIT") = true;
#else
  m.attr("HAS_FIT") = false;
#endif
  m.attr("DOMAIN_EDGE") = host::domain_edge;
  m.attr("INFINITE_EDGE") = host::infinite_edge;
}
