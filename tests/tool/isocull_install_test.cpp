// The tool installed like any command-line tool: `make install` into a temporary DESTDIR
// (the install rules of the build, component "tool"), the installed programs run there on a
// generated file, the manual page renders without a warning and lists every option that -h
// prints, and `make uninstall` takes back what was installed.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "tool/option_catalogue.hpp"
#include "tool_folders.hpp"

namespace {

using namespace isocull_test;

struct Shell {
  int exit_code = -1;
  std::string out;
  std::string err;
};

class IsocullInstall : public ToolFolders {
 protected:
  Shell shell(const std::string& command) {
    const std::string full = "cd " + shell_quoted(dir_.path()) + " && ( " + command + " ) >" +
                             shell_quoted(path(".out")) + " 2>" + shell_quoted(path(".err")) +
                             " </dev/null";
    const int status = std::system(full.c_str());
    Shell run;
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = read_text(path(".out"));
    run.err = read_text(path(".err"));
    std::remove(path(".out").c_str());
    std::remove(path(".err").c_str());
    return run;
  }
  static bool executable(const std::string& file) {
    struct stat info {};
    return stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & S_IXUSR);
  }
  // What a page line looks like for an option: its name as roff writes it, bold.
  static std::string roff_name(std::string_view name) {
    std::string out = "\\fB";
    for (const char c : name)
      out += c == '-' ? std::string("\\-") : std::string(1, c);
    return out + "\\fR";
  }
};

TEST_F(IsocullInstall, InstallsIntoADestdirRunsThereAndUninstallsAgain) {
  if (std::system("command -v cmake >/dev/null 2>&1") != 0) GTEST_SKIP() << "no cmake";
  const std::string stage = path("stage");
  const std::string build = ISOCULL_BINARY_DIR;
  // Its own manifest (install_manifest_tool.txt), so that the build's own install_manifest.txt
  // of a real `make install` is left alone.
  const Shell install = shell("DESTDIR=" + shell_quoted(stage) + " cmake --install " +
                              shell_quoted(build) + " --component tool --prefix /usr/local");
  ASSERT_EQ(install.exit_code, 0) << install.out << install.err;
  const std::string bin = stage + "/usr/local/bin/";
  const std::string page = stage + "/usr/local/share/man/man1/isocull.1";
  for (const char* program : {"isocull", "isocull_index", "tile_list", "isocull-survey"})
    EXPECT_TRUE(executable(bin + program)) << program;
  ASSERT_TRUE(exists(page));

  // The installed tool on a generated file, as a user would run it.
  ASSERT_TRUE(write_scene(path("in/scene.las"), 20000, 1, 4, false, 0.01));
  const Shell run = shell(shell_quoted(bin + "isocull") + " -i in/scene.las -o out/scene.las");
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_NE(run.err.find("done with 'out/scene.las' from 'in/scene.las'."), std::string::npos)
      << run.err;
  const LasRecords output = read_records(path("out/scene.las"));
  ASSERT_TRUE(output.ok);
  EXPECT_EQ(output.records.size(), 20000u);
  const Shell filters = shell(shell_quoted(bin + "isocull") + " -h filter");
  EXPECT_EQ(filters.exit_code, 0);
  EXPECT_EQ(filters.out.find("isocull options: filter"), 0u) << filters.out;
  const Shell index = shell(shell_quoted(bin + "isocull_index") + " -i in/scene.las");
  EXPECT_EQ(index.exit_code, 0) << index.err;
  EXPECT_TRUE(exists(path("in/scene.lax")));
  const Shell buffer = shell(shell_quoted(bin + "tile_list") + " -least_buffer in/scene.las");
  EXPECT_EQ(buffer.out, "8\n") << buffer.err;
  // The survey script finds the programs installed beside it.
  const Shell survey = shell(shell_quoted(bin + "isocull-survey"));
  EXPECT_EQ(survey.exit_code, 1);
  EXPECT_NE(survey.err.find("usage: isocull-survey"), std::string::npos) << survey.err;
  if (std::system("command -v parallel >/dev/null 2>&1") == 0) {
    const Shell tiles =
        shell("env -u ISOCULL -u TILE_LIST PATH=/usr/bin:/bin " +
              shell_quoted(bin + "isocull-survey") + " -odir out/survey in/scene.las -- -quiet");
    EXPECT_EQ(tiles.exit_code, 0) << tiles.err;
    EXPECT_TRUE(exists(path("out/survey/scene.las"))) << tiles.err;
    EXPECT_NE(read_text(path("out/survey/jobs.log")).find(bin + "isocull"), std::string::npos);
    // Its buffer: two cells of the step the jobs use, unless given.
    struct Buffer {
      std::string survey;   // the script's own options
      std::string options;  // isocull's, after --
      std::string buffered;
    };
    const Buffer buffers[] = {
        {"", "-quiet", "-buffered 8 "},
        {"", "-quiet -step 3", "-buffered 6 "},
        {"", "-quiet -step 3 -step_xy 2.5", "-buffered 5 "},
        {"", "-quiet -feet", "-buffered 24 "},
        {"", "-quiet -feet -step 5", "-buffered 10 "},
        {"-buffered 30", "-quiet", "-buffered 30 "},
    };
    for (const Buffer& b : buffers) {
      const Shell job =
          shell("rm -rf out/b && PATH=/usr/bin:/bin " + shell_quoted(bin + "isocull-survey") + " " +
                b.survey + " -odir out/b in/scene.las -- " + b.options);
      EXPECT_EQ(job.exit_code, 0) << b.options << job.err;
      EXPECT_NE(read_text(path("out/b/jobs.log")).find(b.buffered), std::string::npos)
          << b.options << "\n"
          << read_text(path("out/b/jobs.log"));
    }
  }

  // The page renders without a warning and names every option that -h <family> prints.
  if (std::system("command -v groff >/dev/null 2>&1") == 0) {
    const Shell render = shell("groff -ww -man -Tutf8 " + shell_quoted(page) + " >/dev/null");
    EXPECT_EQ(render.exit_code, 0);
    EXPECT_EQ(render.err, "");
  }
  const std::string roff = read_text(page);
  for (const OptionFamily& family : option_families()) {
    for (const auto& section : family.sections) {
      for (const auto& option : section.options) {
        EXPECT_NE(roff.find(roff_name(option.name) + (option.arguments.empty() ? "\n" : " ")),
                  std::string::npos)
            << option.name;
      }
    }
  }

  // make uninstall removes every file the install wrote, and nothing else.
  ASSERT_EQ(std::system("command -v make >/dev/null 2>&1"), 0);
  const Shell uninstall = shell("make -s -C " + shell_quoted(ISOCULL_SOURCE_DIR) +
                                " uninstall DESTDIR=" + shell_quoted(stage) +
                                " MANIFEST=" + shell_quoted(build + "/install_manifest_tool.txt"));
  EXPECT_EQ(uninstall.exit_code, 0) << uninstall.err;
  for (const char* program : {"isocull", "isocull_index", "tile_list", "isocull-survey"})
    EXPECT_FALSE(exists(bin + program)) << program;
  EXPECT_FALSE(exists(page));
  EXPECT_TRUE(exists(path("out/scene.las")));
  EXPECT_FALSE(exists(build + "/install_manifest_tool.txt"));
}

}  // namespace
