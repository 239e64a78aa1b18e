#include "filter/las_filter.hpp"

#include <cstdio>
#include <cstring>

#include "filter/las_criteria_basic.hpp"

LASfilter::LASfilter() = default;
LASfilter::~LASfilter() = default;

void LASfilter::clean() {
  criteria_.clear();
  counters_.clear();
}

void LASfilter::append_criterion(std::unique_ptr<LAScriterion> criterion) {
  if (!criterion) return;
  criteria_.push_back(std::move(criterion));
  counters_.push_back(0);
}

std::unique_ptr<LAScriterion> LASfilter::take_last() {
  if (criteria_.empty()) return nullptr;
  std::unique_ptr<LAScriterion> last = std::move(criteria_.back());
  criteria_.pop_back();
  counters_.pop_back();
  return last;
}

void LASfilter::reset() {
  for (const std::unique_ptr<LAScriterion>& criterion : criteria_)
    criterion->reset();
}

int LASfilter::write_command(char* buffer, std::size_t size) const {
  las_criteria::CommandText text(buffer, size);
  for (const std::unique_ptr<LAScriterion>& criterion : criteria_) {
    const int needed = criterion->write_command(nullptr, 0);
    std::string words(static_cast<std::size_t>(needed), '\0');
    criterion->write_command(words.data(), words.size() + 1);
    text.add("%s", words.c_str());
  }
  return text.used();
}

std::string LASfilter::write_command() const {
  const int needed = write_command(nullptr, 0);
  std::string text(static_cast<std::size_t>(needed), '\0');
  write_command(text.data(), text.size() + 1);
  return text;
}

std::uint32_t LASfilter::get_selective_decoding() const {
  std::uint32_t layers = 0;
  for (const std::unique_ptr<LAScriterion>& criterion : criteria_)
    layers |= criterion->get_selective_decoding();
  return layers;
}

bool LASfilter::parse(const char* command) {
  constexpr int kMaxWords = 63;
  if (command == nullptr) return true;
  // Word 0 stands for the program name, which parse skips.
  std::vector<std::string> words(1);
  const char* at = command;
  for (;;) {
    while (*at == ' ' || *at == '\t' || *at == '\n' || *at == '\r')
      at++;
    if (*at == '\0') break;
    const char* end = at;
    while (*end != '\0' && *end != ' ' && *end != '\t' && *end != '\n' && *end != '\r')
      end++;
    if (static_cast<int>(words.size()) > kMaxWords) {
      std::fprintf(stderr, "ERROR: filter text '%s' has more than %d words\n", command, kMaxWords);
      return false;
    }
    words.emplace_back(at, end);
    at = end;
  }
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  return parse(static_cast<int>(argv.size()), argv.data());
}
