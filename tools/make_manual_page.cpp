// Writes the manual page isocull.1 from its template at build time: the line "@USAGE@"
// becomes the usage lines of the tool, the line "@OPTIONS@" every option family with its
// sections, from the same option tables that parse the options and that -h prints, so that
// the page and the help never disagree.
//
// usage: make_manual_page template.1.in isocull.1

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>

#include "tool/noise_settings.hpp"
#include "tool/option_catalogue.hpp"

namespace {

// Text as roff prints it: backslashes and minus signs escaped (an option typed from the
// page must work), a line that would start with a control character made plain.
std::string roff(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else if (c != '\n') {
      out += c;
    }
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
  return out;
}

std::string option_tag(const command_options::OptionHelp& option) {
  std::string tag = "\\fB" + roff(option.name) + "\\fR";
  if (!option.arguments.empty()) tag += " \\fI" + roff(option.arguments) + "\\fR";
  return tag;
}

void write_usage(std::ostream& out) {
  out << ".nf\n";
  for (const char* line : usage_lines())
    out << roff(line) << "\n";
  out << ".fi\n";
}

// A family as a subsection; options with a description as a tagged list, runs of options
// that their heading describes as one indented block.
void write_family(std::ostream& out, const OptionFamily& family) {
  out << ".SS " << roff(family.name) << " \\(em " << roff(family.title) << "\n";
  for (const command_options::OptionSection& section : family.sections) {
    if (!section.heading.empty()) out << ".PP\n\\fI" << roff(section.heading) << "\\fR\n";
    bool in_block = false;
    for (const command_options::OptionHelp& option : section.options) {
      if (option.text.empty()) {
        if (!in_block) out << ".RS\n.nf\n";
        in_block = true;
        out << option_tag(option) << "\n";
        continue;
      }
      if (in_block) out << ".fi\n.RE\n";
      in_block = false;
      out << ".TP\n" << option_tag(option) << "\n" << roff(option.text) << "\n";
    }
    if (in_block) out << ".fi\n.RE\n";
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s template.1.in isocull.1\n", argv[0]);
    return 1;
  }
  std::ifstream in(argv[1]);
  if (!in) {
    std::fprintf(stderr, "ERROR: cannot read the template '%s'\n", argv[1]);
    return 1;
  }
  std::ostringstream page;
  std::string line;
  while (std::getline(in, line)) {
    if (line == "@USAGE@") {
      write_usage(page);
    } else if (line == "@OPTIONS@") {
      for (const OptionFamily& family : option_families())
        write_family(page, family);
    } else {
      page << line << "\n";
    }
  }
  // Written whole or not at all, so that a failed build leaves no page that looks complete.
  const std::string temporary = std::string(argv[2]) + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    const std::string text = page.str();
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!out.flush()) {
      std::fprintf(stderr, "ERROR: cannot write '%s'\n", temporary.c_str());
      std::remove(temporary.c_str());
      return 1;
    }
  }
  if (std::rename(temporary.c_str(), argv[2]) != 0) {
    std::fprintf(stderr, "ERROR: cannot write '%s'\n", argv[2]);
    std::remove(temporary.c_str());
    return 1;
  }
  return 0;
}
