// What a run of the noise tool may write: the checks at start (standard output shared by
// two streams, a report that names a file of the run or cannot be written) and the claim
// of each file's output against everything the run reads and every other write of it.

#include <cstdio>
#include <mutex>
#include <string>

#include "layers/lay_file.hpp"
#include "tool/noise_run.hpp"

void NoiseRun::check_outputs_at_start() {
  const LASwriterSettings& output = writer_factory_.settings();
  if (output.to_stdout && !output.to_nil && writer_factory_.get_file_name() == nullptr &&
      !settings_.olay) {
    // Two LAS streams back to back on one standard output read as one broken file.
    if (reader_factory_.settings().pipe_on) {
      std::fprintf(stderr,
                   "ERROR: '-stdout' and '-pipe_on' would both write points to standard "
                   "output. name the output with '-o'\n");
      plain_exit(1);
    }
    if (reader_factory_.get_file_count() > 1 && !reader_factory_.is_merged()) {
      std::fprintf(stderr,
                   "ERROR: '-stdout' with %u input files would write them one after the other "
                   "into one stream. give '-merged' to write them as one file, or name the "
                   "outputs with '-odir' or '-odix' instead of '-stdout'\n",
                   reader_factory_.get_file_count());
      plain_exit(1);
    }
  }
  claims_.add_reads(reader_factory_, settings_.ilay ? settings_.ilaydir : nullptr);
  check_report_at_start();
}

void NoiseRun::check_report_at_start() {
  if (settings_.report_file == nullptr) return;
  const std::string report = settings_.report_file;
  // A report over a file the run reads would destroy it, one over an output would replace
  // the denoised points with the report; both are said before any file is read.
  const std::string refused = claims_.claim(report, OutputClaims::WriteKind::kReport, "");
  if (!refused.empty()) {
    std::fputs(refused.c_str(), stderr);
    plain_exit(1);
  }
  const FileIdentity reported = claims_.identify(report);
  FileLane lane{projection_, reader_factory_, writer_factory_, progress_};
  const bool named = writer_factory_.active();  // one output (or none) for every file
  const std::uint32_t files = reader_factory_.get_file_count();
  for (std::uint32_t i = 0; i == 0 || (i < files && !(named && !settings_.olay)); i++) {
    const char* input = reader_factory_.get_file_name(i);
    const std::string output = planned_output(lane, input ? input : "");
    if (!named) writer_factory_.set_file_name(nullptr);
    if (output.empty() || !same_file(claims_.identify(output), reported)) continue;
    std::fprintf(stderr, "ERROR: report '%s' is the output of '%s'.\n", report.c_str(),
                 input ? input : "piped file");
    plain_exit(1);
  }
  // Said at once, not after hours of work whose report is then lost.
  const std::string reason = why_not_writable(report);
  if (!reason.empty()) {
    std::fprintf(stderr, "ERROR: cannot write report '%s': %s\n", report.c_str(), reason.c_str());
    plain_exit(1);
  }
}

std::string NoiseRun::planned_output(FileLane& lane, const std::string& input) {
  const NoiseSettings& s = settings_;
  if (s.olay) return lay_file_name(input, s.ilay ? s.ilaydir : s.olaydir);
  if (!lane.writers.active()) lane.writers.derive_file_name(input.c_str(), -1);
  return output_file_name(lane);
}

bool NoiseRun::claim_output(const std::string& target, const std::string& input,
                            std::string& claimed, FileRecord& record) {
  std::string refused;
  {
    const std::lock_guard<std::mutex> lock(claims_mutex_);
    refused = claims_.claim(
        target, settings_.olay ? OutputClaims::WriteKind::kLayer : OutputClaims::WriteKind::kOutput,
        input);
  }
  if (!refused.empty()) {
    std::fputs(refused.c_str(), stderr);
    record.message = refused.substr(7, refused.size() - 8);  // without "ERROR: " and "\n"
    return false;
  }
  claimed = target;
  return true;
}

bool NoiseRun::refuse_before_opening(FileLane& lane, FileRecord& record, std::string& claimed) {
  // Only a listed file that is opened on its own is known by name before it is opened.
  const char* next = lane.readers.next_single_file();
  if (next == nullptr) return false;
  const std::string input = next;
  const std::string target = planned_output(lane, input);
  if (claim_output(target, input, claimed, record)) return false;
  lane.readers.skip_single_file();
  record.input = input;
  if (!settings_.olay) record.output = target;
  return true;
}

void NoiseRun::settle_claim(const std::string& claimed, bool written) {
  if (claimed.empty()) return;
  const std::lock_guard<std::mutex> lock(claims_mutex_);
  if (written) {
    claims_.confirm(claimed);
  } else {
    claims_.release(claimed);
  }
}
