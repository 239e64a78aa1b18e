// The compiled half of the Python module: the tool's isolation verdict over a numpy array
// read in place, and a whole run of the tool in this process. The checks of the arguments and
// the docstrings live in isocull/__init__.py; what is checked here again is only what keeps
// memory safe when these functions are called directly.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "tool/coordinate_noise.hpp"
#include "tool/noise_tool.hpp"

namespace py = pybind11;

namespace {

// A failure of the tool's own (raised as isocull.Error).
class ToolFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Runs of the tool take turns: a run replaces the process's stderr stream while it lasts.
std::mutex g_run_mutex;

py::array_t<bool> isolated_points(const py::array& xyz, float step_xy, float step_z,
                                  std::uint32_t isolated, std::int64_t memory_limit) {
  const py::dtype dtype = xyz.dtype();
  const bool native = dtype.attr("isnative").cast<bool>();
  if (xyz.ndim() != 2 || xyz.shape(1) != 3 || dtype.kind() != 'f' || !native ||
      (dtype.itemsize() != 8 && dtype.itemsize() != 4)) {
    throw py::value_error("xyz must be an (N, 3) array of float64 or float32");
  }
  const auto count = static_cast<std::uint64_t>(xyz.shape(0));
  py::array_t<bool> noise(static_cast<py::ssize_t>(count));
  if (count == 0) return noise;

  CoordinateRows rows;
  rows.data = static_cast<const std::byte*>(xyz.data());
  rows.count = count;
  rows.row_stride = xyz.strides(0);
  rows.column_stride = xyz.strides(1);
  rows.single_precision = dtype.itemsize() == 4;
  CoordinateNoiseSettings settings;
  settings.step_xy = step_xy;
  settings.step_z = step_z;
  settings.isolated = isolated;
  settings.memory_limit = memory_limit;
  bool* verdicts = noise.mutable_data();

  CoordinateNoiseResult result;
  {
    const py::gil_scoped_release released;
    // Ctrl-C is noted by Python's handler; asking for it now and then lets a long call end
    // with KeyboardInterrupt instead of running on to the end.
    const auto keep_going = [] {
      const py::gil_scoped_acquire acquired;
      return PyErr_CheckSignals() == 0;
    };
    result = decide_coordinate_noise(rows, settings, verdicts, keep_going);
  }
  switch (result.outcome) {
    case CoordinateNoiseResult::Outcome::kDone:
      break;
    case CoordinateNoiseResult::Outcome::kStopped:
      // What PyErr_CheckSignals raised (KeyboardInterrupt, or what a handler raised).
      if (PyErr_Occurred() == nullptr) PyErr_SetNone(PyExc_KeyboardInterrupt);
      throw py::error_already_set();
    case CoordinateNoiseResult::Outcome::kNotFinite:
      throw py::value_error("xyz holds a NaN or infinite coordinate in row " +
                            std::to_string(result.first_not_finite));
    case CoordinateNoiseResult::Outcome::kFailed:
      throw ToolFailure(result.error);
  }
  if (result.out_of_grid != 0) {
    const std::string warning =
        std::to_string(result.out_of_grid) +
        " points have no grid cell (coordinates out of range for the step): they are never "
        "noise";
    if (PyErr_WarnEx(PyExc_RuntimeWarning, warning.c_str(), 2) != 0) {
      throw py::error_already_set();
    }
  }
  return noise;
}

// (exit code, report JSON or b"", last ERROR line or b"") of one run with `arguments`, the
// program name first. Bytes, not text: file names need not be UTF-8.
py::tuple run_tool(std::vector<std::string> arguments) {
  std::vector<char*> argv;
  for (std::string& argument : arguments)
    argv.push_back(argument.data());
  argv.push_back(nullptr);
  EmbeddedRun run;
  {
    const py::gil_scoped_release released;
    const std::lock_guard<std::mutex> turn(g_run_mutex);
    run = run_isocull_embedded(static_cast<int>(arguments.size()), argv.data());
  }
  return py::make_tuple(run.exit_code, py::bytes(run.report_json), py::bytes(run.error_line));
}

}  // namespace

PYBIND11_MODULE(_core, module) {
  module.doc() = "The compiled half of isocull; use the functions of the isocull package.";
  module.attr("version") = isocull_version();
  py::register_exception<ToolFailure>(module, "Error");
  module.def("isolated_points", &isolated_points, py::arg("xyz"), py::arg("step_xy"),
             py::arg("step_z"), py::arg("isolated"), py::arg("memory_limit"),
             "The noise verdict of every row of an (N, 3) float64 or float32 array; see "
             "isocull.isolated.");
  module.def("run_tool", &run_tool, py::arg("arguments"),
             "(exit code, report JSON, last ERROR line) of one run; see isocull.run.");
}
