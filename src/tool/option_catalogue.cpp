#include "tool/option_catalogue.hpp"

#include <algorithm>
#include <cstddef>

#include "filter/las_filter.hpp"
#include "filter/las_transform.hpp"
#include "select/las_ignore.hpp"
#include "select/las_reader_factory.hpp"
#include "select/las_writer_factory.hpp"
#include "tool/geo_projection.hpp"
#include "tool/noise_settings.hpp"

namespace {

// Options whose text runs past this column start their description on a line of its own.
constexpr int kDescriptionColumn = 30;

std::vector<OptionFamily> make_families() {
  std::vector<OptionFamily> families;
  families.push_back(
      {"tool",
       "the grid, the marking, layer files and the run",
       {"-step", "-step_xy", "-step_z", "-isolated", "-classify_as", "-flag_as_withheld",
        "-remove_noise", "-olay", "-ilay", "-report", "-v", "-quiet", "-cores"},
       noise_option_sections()});
  families.push_back(
      {"input",
       "what is read: files, lists, pipes, neighbours, areas, text",
       {"-i", "-lof", "-stdin", "-merged", "-buffered", "-neighbors", "-neighbors_lof", "-inside",
        "-inside_tile", "-inside_circle", "-iparse", "-iskip"},
       LASreaderFactory::option_sections()});
  families.push_back({"output",
                      "what is written and where",
                      {"-o", "-odir", "-odix", "-olas", "-opkz", "-otxt", "-obin", "-stdout",
                       "-nil", "-oforce", "-oparse", "-osep"},
                      LASwriterFactory::option_sections()});
  families.push_back({"ignore",
                      "points left alone: neither counted in the grid nor marked",
                      {"-ignore_class", "-ignore_first", "-ignore_last", "-ignore_single",
                       "-ignore_withheld", "-ignore_synthetic"},
                      LASignore::option_sections()});
  families.push_back({"filter",
                      "points dropped while they are read: neither counted nor written",
                      {"-keep_class", "-drop_class", "-keep_first", "-keep_last", "-drop_withheld",
                       "-keep_xy", "-drop_z_below", "-keep_random_fraction", "-thin_with_grid"},
                      LASfilter::option_sections()});
  families.push_back(
      {"transform",
       "points changed while they are read, before they are counted and written",
       {"-translate_xyz", "-scale_z", "-rotate_xy", "-transform_helmert", "-clamp_z",
        "-set_classification", "-change_classification_from_to", "-filtered_transform"},
       LAStransform::option_sections()});
  families.push_back({"units",
                      "units and projection of the coordinates",
                      {"-meter", "-feet", "-survey_feet", "-elevation_feet", "-epsg"},
                      GeoProjection::option_sections()});
  return families;
}

// Edits that turn `a` into `b`: insertions, deletions, changes and swaps of two neighbours
// count one each. Names that differ in length by more than `limit` are not compared (limit
// + 1).
std::size_t edit_distance(std::string_view a, std::string_view b, std::size_t limit) {
  const std::size_t n = a.size(), m = b.size();
  if ((n > m ? n - m : m - n) > limit) return limit + 1;
  std::vector<std::size_t> before(m + 1), previous(m + 1), current(m + 1);
  for (std::size_t j = 0; j <= m; j++)
    previous[j] = j;
  for (std::size_t i = 1; i <= n; i++) {
    current[0] = i;
    for (std::size_t j = 1; j <= m; j++) {
      const std::size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
      std::size_t best = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + change});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        best = std::min(best, before[j - 2] + 1);
      }
      current[j] = best;
    }
    before.swap(previous);
    previous.swap(current);
  }
  return previous[m];
}

}  // namespace

const std::vector<OptionFamily>& option_families() {
  static const std::vector<OptionFamily> families = make_families();
  return families;
}

const OptionFamily* find_option_family(std::string_view name) {
  for (const OptionFamily& family : option_families()) {
    if (family.name == name) return &family;
  }
  return nullptr;
}

void print_option_overview(std::FILE* out) {
  std::fputs("Option families ('isocull -h <family>' lists every option of one):\n", out);
  for (const OptionFamily& family : option_families()) {
    std::fprintf(out, "  %-10.*s", static_cast<int>(family.name.size()), family.name.data());
    for (const std::string_view option : family.common)
      std::fprintf(out, " %.*s", static_cast<int>(option.size()), option.data());
    std::fputs(" ...\n", out);
  }
}

void print_option_family(const OptionFamily& family, std::FILE* out) {
  std::fprintf(out, "isocull options: %.*s (%.*s)\n", static_cast<int>(family.name.size()),
               family.name.data(), static_cast<int>(family.title.size()), family.title.data());
  for (const command_options::OptionSection& section : family.sections) {
    if (!section.heading.empty()) {
      std::fprintf(out, "%.*s\n", static_cast<int>(section.heading.size()), section.heading.data());
    }
    for (const command_options::OptionHelp& option : section.options) {
      std::string usage = "  ";
      usage.append(option.name);
      if (!option.arguments.empty()) usage.append(" ").append(option.arguments);
      if (option.text.empty()) {
        std::fprintf(out, "%s\n", usage.c_str());
      } else if (static_cast<int>(usage.size()) < kDescriptionColumn) {
        std::fprintf(out, "%-*s%.*s\n", kDescriptionColumn, usage.c_str(),
                     static_cast<int>(option.text.size()), option.text.data());
      } else {
        std::fprintf(out, "%s\n%*s%.*s\n", usage.c_str(), kDescriptionColumn, "",
                     static_cast<int>(option.text.size()), option.text.data());
      }
    }
  }
}

std::string nearest_option(std::string_view typed) {
  constexpr std::size_t kMostEdits = 2;
  if (typed.size() < 2 || typed[0] != '-') return {};
  std::string_view nearest;
  std::size_t nearest_edits = kMostEdits + 1;
  for (const OptionFamily& family : option_families()) {
    for (const command_options::OptionSection& section : family.sections) {
      for (const command_options::OptionHelp& option : section.options) {
        // A known option is not misspelt (it came where its parser does not look).
        if (option.name == typed) return {};
        const std::size_t edits = edit_distance(typed, option.name, kMostEdits);
        if (edits >= nearest_edits) continue;
        nearest = option.name;
        nearest_edits = edits;
      }
    }
  }
  return std::string(nearest);
}

void suggest_nearest_option(const char* entry) {
  const std::string nearest = nearest_option(entry != nullptr ? entry : "");
  if (!nearest.empty()) std::fprintf(stderr, "did you mean '%s'?\n", nearest.c_str());
}
