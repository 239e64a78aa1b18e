// The README tells the truth: every command line of its examples that runs the project's
// programs is run, in the order the README gives them, in a folder of generated files named
// as the README names them. A command must end with code 0 and print no ERROR; a command
// shown after "$ " must print the ERROR, WARNING and hint lines shown below it that name
// something (a quoted option or file) word for word; a script block runs whole.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "tool_folders.hpp"

namespace {

using namespace isocull_test;

struct Example {
  std::string command;              // as the README writes it
  bool shown = false;               // written after "$ ", with what it prints below
  std::vector<std::string> prints;  // the lines it must print (shown examples)
  int line = 0;
};

bool starts_with(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

// Commands of the project's programs; others (make, man, a producer of points) are not
// run here.
bool runs_here(std::string_view command) {
  for (const char* start : {"build/", "cat ", "tools/denoise_survey.sh -j"}) {
    if (starts_with(command, start)) return true;
  }
  return false;
}

// A trailing "# comment" goes.
std::string without_comment(const std::string& line) {
  const std::size_t hash = line.find("  #");
  std::string command = hash == std::string::npos ? line : line.substr(0, hash);
  while (!command.empty() && command.back() == ' ')
    command.pop_back();
  return command;
}

std::vector<Example> examples(const std::string& readme) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < readme.size();) {
    const std::size_t end = readme.find('\n', at);
    lines.push_back(readme.substr(at, end == std::string::npos ? std::string::npos : end - at));
    at = end == std::string::npos ? readme.size() : end + 1;
  }
  std::vector<Example> found;
  for (std::size_t i = 0; i < lines.size(); i++) {
    if (!starts_with(lines[i], "    ")) continue;
    const std::string text = lines[i].substr(4);
    // A script: the whole block.
    if (text == "#!/bin/bash") {
      Example script{"", false, {}, static_cast<int>(i + 1)};
      for (; i < lines.size() && starts_with(lines[i], "    "); i++)
        script.command += lines[i].substr(4) + "\n";
      found.push_back(script);
      continue;
    }
    if (starts_with(text, "$ ")) {
      Example example{text.substr(2), true, {}, static_cast<int>(i + 1)};
      for (std::size_t k = i + 1;
           k < lines.size() && starts_with(lines[k], "    ") && !starts_with(lines[k], "    $ ");
           k++) {
        const std::string shown = lines[k].substr(4);
        if (starts_with(shown, "ERROR: '") || starts_with(shown, "WARNING: '") ||
            starts_with(shown, "ERROR: cannot understand") || starts_with(shown, "did you mean"))
          example.prints.push_back(shown);
      }
      if (runs_here(example.command)) found.push_back(example);
      continue;
    }
    const std::string command = without_comment(text);
    if (runs_here(command)) found.push_back({command, false, {}, static_cast<int>(i + 1)});
  }
  return found;
}

// The programs the README names as build/..., and the survey script, where this build has
// them; the script is told this build's programs too, wherever its folder lies.
std::string located(const std::string& command) {
  std::string out;
  for (std::size_t at = 0; at < command.size();) {
    const bool word_start =
        at == 0 || command[at - 1] == ' ' || command[at - 1] == '\n' || command[at - 1] == '(';
    if (word_start && command.compare(at, 6, "build/") == 0) {
      out += ISOCULL_BINARY_DIR "/";
      at += 6;
    } else if (word_start && command.compare(at, 23, "tools/denoise_survey.sh") == 0) {
      out += "ISOCULL=" ISOCULL_BINARY_DIR "/isocull TILE_LIST=" ISOCULL_BINARY_DIR
             "/tile_list " ISOCULL_SOURCE_DIR "/tools/denoise_survey.sh";
      at += 23;
    } else {
      out += command[at++];
    }
  }
  return out;
}

class ReadmeCommands : public ToolFolders {
 protected:
  struct Shell {
    int exit_code = -1;
    std::string err;
  };
  Shell shell(const std::string& command) {
    const std::string script = path(".command");
    {
      std::FILE* out = std::fopen(script.c_str(), "wb");
      std::fputs(command.c_str(), out);
      std::fclose(out);
    }
    const std::string full =
        "cd " + shell_quoted(dir_.path()) + " && TMPDIR=" + shell_quoted(path("tmp")) +
        " SLURM_ARRAY_TASK_ID=1 bash " + shell_quoted(script) + " >" + shell_quoted(path(".out")) +
        " 2>" + shell_quoted(path(".err")) + " </dev/null";
    const int status = std::system(full.c_str());
    Shell run;
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = read_text(path(".err"));
    return run;
  }
  void tool(const std::string& arguments) {
    const Shell made = shell(located("build/isocull " + arguments) + "\n");
    ASSERT_EQ(made.exit_code, 0) << arguments << "\n" << made.err;
  }
  // The files the README's commands read, made by the project's own programs.
  void make_fixtures(bool have_gzip) {
    for (const char* folder : {"tiles", "tiles_ft", "denoised"})
      ASSERT_EQ(mkdir(path(folder).c_str(), 0755), 0);
    ASSERT_TRUE(write_scene(path("tile.las"), 20000, 1, 1));
    ASSERT_TRUE(write_scene(path("tiles/t_3_4.las"), 20000, 1, 2));
    ASSERT_TRUE(write_scene(path("tiles/t_3_5.las"), 20000, 1, 3));
    ASSERT_TRUE(write_scene(path("tiles_ft/t_3_4.las"), 20000, 1, 2, true));
    ASSERT_TRUE(write_scene(path("tiles_ft/t_3_5.las"), 20000, 1, 3, true));
    ASSERT_TRUE(write_scene(path("flight1.las"), 10000, 1, 4));
    ASSERT_TRUE(write_scene(path("flight2.las"), 10000, 1, 5));
    tool("-i tile.las -opkz -o tile.pkz -quiet");
    tool("-i tile.las -otxt -oparse xyzti -o points_body.txt -quiet");
    const Shell made =
        // One scan of a PTX file: columns and rows, the scanner's position, its axes and the
        // transformation, then x y z and intensity (0 to 1) a line.
        shell(
            "{ echo 'x y z t i'; cat points_body.txt; } > points.txt\n"
            "{ wc -l < points_body.txt; echo 1; echo 0 0 0; echo 1 0 0; echo 0 1 0;"
            " echo 0 0 1; echo 1 0 0 0; echo 0 1 0 0; echo 0 0 1 0; echo 0 0 0 1;"
            " awk '{ print $1, $2, $3, 0.5 }' points_body.txt; } > scan.ptx\n"
            // The start of a 64-bit program, the README's example of what is refused.
            "{ printf '\\177ELF\\002\\001\\001'; head -c 100 /dev/zero; } > core.dat\n" +
            std::string(have_gzip ? "gzip -c points_body.txt > points.txt.gz\n" : "") +
            located("build/tile_list tiles/*.las > tiles.lof\n") +
            located("build/tile_list tiles_ft/*.las > tiles_ft.lof\n"));
    ASSERT_EQ(made.exit_code, 0) << made.err;
  }
};

TEST_F(ReadmeCommands, EveryCommandRunsAndPrintsWhatTheReadmeShows) {
  const std::string readme = read_text(ISOCULL_SOURCE_DIR "/README.md");
  ASSERT_FALSE(readme.empty());
  const std::vector<Example> all = examples(readme);
  // The examples of every section are found (a README rewritten in another layout would
  // silently check nothing).
  ASSERT_GE(all.size(), 25u);
  const bool have_gzip = std::system("command -v gzip >/dev/null 2>&1") == 0;
  const bool have_parallel = std::system("command -v parallel >/dev/null 2>&1") == 0;
  make_fixtures(have_gzip);
  std::size_t ran = 0;
  for (const Example& example : all) {
    SCOPED_TRACE("README.md:" + std::to_string(example.line) + ": " + example.command);
    if (!have_gzip && example.command.find(".gz") != std::string::npos) continue;
    if (!have_parallel && starts_with(example.command, "tools/denoise_survey.sh")) continue;
    const Shell result = shell(located(example.command) + "\n");
    ran++;
    EXPECT_EQ(result.err.find("cannot understand argument") != std::string::npos,
              !example.prints.empty() &&
                  example.prints.front().find("cannot understand") != std::string::npos)
        << result.err;
    if (example.shown) {
      for (const std::string& line : example.prints)
        EXPECT_NE(result.err.find(line + "\n"), std::string::npos) << line << "\n" << result.err;
      continue;
    }
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.err.find("ERROR"), std::string::npos) << result.err;
    // What is written to a name ending in .pkz is compressed: the point format's high bit.
    const std::size_t redirect = example.command.rfind("> ");
    if (redirect != std::string::npos && example.command.ends_with(".pkz")) {
      const std::string written = read_text(path(example.command.substr(redirect + 2)));
      ASSERT_GT(written.size(), 227u);
      EXPECT_EQ(written.substr(0, 4), "LASF");
      EXPECT_NE(static_cast<unsigned char>(written[104]) & 0x80, 0) << "not compressed";
    }
  }
  EXPECT_GE(ran, 20u);
}

// The extraction itself: what is a command, what a shown example prints, what a comment is.
TEST(ReadmeExamples, FindsCommandsShownLinesAndScripts) {
  const std::string text =
      "Some text.\n\n"
      "    # a comment line\n"
      "    build/isocull -i a.las -o b.las   # trailing comment\n"
      "    make demo\n"
      "    some_producer | build/isocull -stdin\n\n"
      "    $ build/isocull -i a.las -remove_nosie\n"
      "    ERROR: cannot understand argument '-remove_nosie'\n"
      "    did you mean '-remove_noise'?\n"
      "    summary: 1 files done\n"
      "    $ build/isocull -i a.las -step_xy 0\n"
      "    ERROR: '-step_xy' needs positive number as argument\n\n"
      "    #!/bin/bash\n"
      "    #SBATCH --array=1-4\n"
      "    build/isocull -i \"$tile\"\n\n"
      "    cat t.pkz | build/isocull -stdin -stdout -opkz > u.pkz\n";
  const std::vector<Example> found = examples(text);
  ASSERT_EQ(found.size(), 5u);
  EXPECT_EQ(found[0].command, "build/isocull -i a.las -o b.las");
  EXPECT_FALSE(found[0].shown);
  EXPECT_EQ(found[0].line, 4);
  EXPECT_EQ(found[1].command, "build/isocull -i a.las -remove_nosie");
  EXPECT_TRUE(found[1].shown);
  EXPECT_EQ(found[1].prints,
            (std::vector<std::string>{"ERROR: cannot understand argument '-remove_nosie'",
                                      "did you mean '-remove_noise'?"}));
  EXPECT_EQ(found[2].prints,
            std::vector<std::string>{"ERROR: '-step_xy' needs positive number as argument"});
  EXPECT_EQ(found[3].command, "#!/bin/bash\n#SBATCH --array=1-4\nbuild/isocull -i \"$tile\"\n");
  EXPECT_EQ(found[4].command, "cat t.pkz | build/isocull -stdin -stdout -opkz > u.pkz");
  EXPECT_EQ(located("cat t | build/isocull -i x && (build/tile_list y)"),
            "cat t | " ISOCULL_BINARY_DIR "/isocull -i x && (" ISOCULL_BINARY_DIR "/tile_list y)");
  EXPECT_EQ(located("rebuild/isocull"), "rebuild/isocull");
  EXPECT_EQ(located("tools/denoise_survey.sh -j 8 t.las"),
            "ISOCULL=" ISOCULL_BINARY_DIR "/isocull TILE_LIST=" ISOCULL_BINARY_DIR
            "/tile_list " ISOCULL_SOURCE_DIR "/tools/denoise_survey.sh -j 8 t.las");
}

}  // namespace
