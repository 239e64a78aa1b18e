// The help of the tool by option family (-h, -h <family>), the nearest option named after a
// misspelt one, and the option catalogue behind both: every option the help lists is one
// its parser takes.

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "filter/las_filter.hpp"
#include "filter/las_transform.hpp"
#include "select/las_ignore.hpp"
#include "select/las_reader_factory.hpp"
#include "select/las_writer_factory.hpp"
#include "tool/geo_projection.hpp"
#include "tool/noise_settings.hpp"
#include "tool/option_catalogue.hpp"
#include "tool_folders.hpp"

namespace {

using namespace isocull_test;

class IsocullHelp : public ToolFolders {
 protected:
  ToolRun help(const std::vector<std::string>& args) {
    return run_tool(args, dir_.path(), path("tmp"), "", true);
  }
};

std::size_t lines_starting(const std::string& text, const std::string& start) {
  std::size_t n = 0;
  const std::string needle = "\n" + start;
  for (std::size_t at = ("\n" + text).find(needle); at != std::string::npos;
       at = ("\n" + text).find(needle, at + 1))
    n++;
  return n;
}

// Every option of a family is listed once, at the start of a line, and only its family's.
TEST_F(IsocullHelp, EachFamilyListsEveryOptionOfItsTableOnStandardOutput) {
  std::set<std::string> seen_families;
  for (const OptionFamily& family : option_families()) {
    const std::string name(family.name);
    seen_families.insert(name);
    const ToolRun result = help({"-h", name});
    ASSERT_EQ(result.exit_code, 0) << name << "\n" << result.err;
    EXPECT_EQ(result.err, "") << name;
    EXPECT_EQ(result.out.find("isocull options: " + name + " ("), 0u) << result.out;
    EXPECT_EQ(result.out.find("usage:"), std::string::npos) << "only the family: " << name;
    std::size_t options = 0;
    for (const auto& section : family.sections) {
      for (const auto& option : section.options) {
        const std::string line = "  " + std::string(option.name) +
                                 (option.arguments.empty() ? "" : " ") +
                                 std::string(option.arguments);
        // Followed by its text, or the end of the line.
        EXPECT_GE(lines_starting(result.out, line), 1u) << name << ": " << line;
        options++;
      }
    }
    EXPECT_GE(options, 5u) << name;
  }
  EXPECT_EQ(seen_families, (std::set<std::string>{"tool", "input", "output", "ignore", "filter",
                                                  "transform", "units"}));
  // The options the short help used to leave out are in their families.
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"input", "-buffered d "},
      {"input", "-neighbors names "},
      {"input", "-merged "},
      {"tool", "-olay "},
      {"tool", "-ilay "},
      {"filter", "-keep_class classification ..."},
      {"filter", "-drop_z_below min_z"},
      {"transform", "-translate_xyz offset_x offset_y offset_z"},
      {"transform", "-filtered_transform "},
      {"output", "-opkz "},
      {"units", "-survey_feet "},
      {"ignore", "-ignore_class c [c ...] "}};
  for (const auto& [family, line] : expected) {
    EXPECT_EQ(lines_starting(help({"-h", family}).out, "  " + line), 1u) << family << ": " << line;
  }
}

// A word after -h that names no family gets the whole help, and one line that says so; an
// option after -h is the run's, not a family.
TEST_F(IsocullHelp, AWordThatNamesNoFamilyGetsTheWholeHelpAndAWarning) {
  struct Case {
    std::vector<std::string> args;
    bool warned;
  };
  const Case cases[] = {
      {{"-h", "filters"}, true},
      {{"-help", "Filter"}, true},
      {{"-h", "-i", "x.las"}, false},
      {{"-h"}, false},
  };
  for (const Case& c : cases) {
    const ToolRun result = help(c.args);
    SCOPED_TRACE(testing::PrintToString(c.args));
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_NE(result.out.find("Option families ('isocull -h <family>'"), std::string::npos);
    EXPECT_NE(result.out.find("\nusage:\n"), std::string::npos);
    const std::string warning = "WARNING: '" + (c.args.size() > 1 ? c.args[1] : "") +
                                "' is no option family (tool, input, output, ignore, filter, "
                                "transform, units): the whole help follows\n";
    EXPECT_EQ(result.err, c.warned ? warning : "");
  }
}

TEST_F(IsocullHelp, ShortHelpKeepsTheUsageLinesAndAddsALinePerFamily) {
  const ToolRun result = help({"-h"});
  ASSERT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.err, "");
  const std::size_t overview =
      result.out.find("Option families ('isocull -h <family>' lists every option of one):\n");
  ASSERT_NE(overview, std::string::npos) << result.out;
  // The usage lines close the help, as before.
  const std::size_t usage = result.out.find("usage:\nisocull -i in.pkz -o out.pkz\n");
  ASSERT_NE(usage, std::string::npos);
  EXPECT_LT(overview, usage);
  EXPECT_TRUE(result.out.ends_with("isocull -h\n"));
  for (const OptionFamily& family : option_families()) {
    std::string line = "  " + std::string(family.name);
    line.resize(12, ' ');
    const std::size_t at = result.out.find("\n" + line, overview);
    ASSERT_NE(at, std::string::npos) << family.name;
    const std::string text = result.out.substr(at + 1, result.out.find('\n', at + 1) - at - 1);
    // Each option named there is one of the family's, so -h <family> explains it.
    std::set<std::string> names;
    for (const auto& section : family.sections)
      for (const auto& option : section.options)
        names.insert(std::string(option.name));
    std::size_t named = 0;
    for (std::size_t word = text.find(" -"); word != std::string::npos;
         word = text.find(" -", word + 1)) {
      const std::string option = text.substr(word + 1, text.find(' ', word + 1) - word - 1);
      EXPECT_EQ(names.count(option), 1u) << family.name << ": " << option;
      named++;
    }
    EXPECT_GE(named, 4u) << text;
  }
}

TEST_F(IsocullHelp, AMisspeltOptionIsFollowedByTheNearestOneOfAnyTable) {
  ASSERT_TRUE(write_points(path("in.las"), {{1, 1, 1}}));
  struct Case {
    std::vector<std::string> args;
    std::string error;       // the line the parser printed
    std::string suggestion;  // empty: no line follows
  };
  const std::vector<Case> cases = {
      {{"-remove_nosie"}, "ERROR: cannot understand argument '-remove_nosie'\n", "-remove_noise"},
      {{"-isolatd", "3"}, "ERROR: cannot understand argument '-isolatd'\n", "-isolated"},
      {{"-ignore_clas", "2"},
       "ERROR: cannot understand argument '-ignore_clas'\n",
       "-ignore_class"},
      {{"-kep_class", "2"}, "ERROR: cannot understand argument '-kep_class'\n", "-keep_class"},
      {{"-translate_xzy", "1", "2", "3"},
       "ERROR: cannot understand argument '-translate_xzy'\n",
       "-translate_xyz"},
      {{"-odri", "out"}, "ERROR: cannot understand argument '-odri'\n", "-odir"},
      {{"-bufered", "8"}, "ERROR: cannot understand argument '-bufered'\n", "-buffered"},
      {{"-surveyfeet"}, "ERROR: cannot understand argument '-surveyfeet'\n", "-survey_feet"},
      {{"-inside_tiel", "0", "0", "10"},
       "ERROR: unknown '-inside' option '-inside_tiel'\n",
       "-inside_tile"},
      // Three edits away, and names that are no option: nothing follows.
      {{"-rmve_nois"}, "ERROR: cannot understand argument '-rmve_nois'\n", ""},
      {{"-frobnicate"}, "ERROR: cannot understand argument '-frobnicate'\n", ""},
      {{"other.las"}, "ERROR: cannot understand argument 'other.las'\n", ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"in.las"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ToolRun result = run(args);
    EXPECT_EQ(result.exit_code, 1) << c.args[0];
    const std::string expected =
        c.error + (c.suggestion.empty() ? "" : "did you mean '" + c.suggestion + "'?\n");
    EXPECT_EQ(result.err, expected) << c.args[0];
  }
}

TEST(OptionCatalogue, SuggestsWithinTwoEditsAndPrefersTheNearest) {
  EXPECT_EQ(nearest_option("-remove_nois"), "-remove_noise");   // one deleted
  EXPECT_EQ(nearest_option("-rmove_nois"), "-remove_noise");    // two deleted
  EXPECT_EQ(nearest_option("-rmve_nois"), "");                  // three
  EXPECT_EQ(nearest_option("-remove_onise"), "-remove_noise");  // a swap counts one
  EXPECT_EQ(nearest_option("-stpe"), "-step");
  // One edit from -step_z, two from -step_xy (which comes first): the nearer wins.
  EXPECT_EQ(nearest_option("-step_zz"), "-step_z");
  EXPECT_EQ(nearest_option("-keep_clas"), "-keep_class");
  EXPECT_EQ(nearest_option("-step"), "") << "a known option is not misspelt";
  EXPECT_EQ(nearest_option("stpe"), "") << "only options are suggested";
  EXPECT_EQ(nearest_option("-"), "");
}

// Each option is handed to the parser of its family as the tool would hand it (followed by
// a few numbers as arguments): the parser takes it (the entry blanked) or refuses its
// arguments, but never leaves it for another parser.
TEST(OptionCatalogue, EveryListedOptionIsOneItsFamilysParserTakes) {
  const auto taken = [](const std::string& family, const std::string& option) {
    std::vector<std::string> words = {"isocull", option, "1", "2", "3", "4", "5", "6"};
    std::vector<char*> argv;
    for (std::string& word : words)
      argv.push_back(word.data());
    const int argc = static_cast<int>(argv.size());
    bool ok = true;
    testing::internal::CaptureStderr();
    if (family == "tool") {
      NoiseSettings settings;
      ok = parse_noise_options(argc, argv.data(), settings, [](const char*) { return true; }) !=
           NoiseParseResult::kFailed;
    } else if (family == "input") {
      LASreaderFactory readers;
      ok = readers.parse(argc, argv.data(), true);
    } else if (family == "output") {
      LASwriterFactory writers;
      ok = writers.parse(argc, argv.data());
    } else if (family == "ignore") {
      LASignore ignore;
      int index = 1;
      ok = ignore.parse(index, argc, argv.data());
    } else if (family == "filter") {
      LASfilter filter;
      ok = filter.parse(argc, argv.data());
    } else if (family == "transform") {
      LAStransform transform;
      ok = transform.parse(argc, argv.data());
    } else if (family == "units") {
      GeoProjection projection;
      ok = projection.parse(argc, argv.data());
    }
    const std::string printed = testing::internal::GetCapturedStderr();
    if (printed.find("cannot understand") != std::string::npos) return false;
    // The tool's walk marks what it took by its result: the others blank the entry.
    return family == "tool" ? ok : (!ok || argv[1][0] == '\0');
  };
  std::size_t checked = 0;
  for (const OptionFamily& family : option_families()) {
    for (const auto& section : family.sections) {
      for (const auto& option : section.options) {
        EXPECT_TRUE(taken(std::string(family.name), std::string(option.name)))
            << family.name << ": " << option.name;
        checked++;
      }
    }
  }
  EXPECT_GT(checked, 400u);
}

}  // namespace
