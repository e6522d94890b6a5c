// olas_records: the wave sensor's records as CSV files and SVG plots.
//   olas_records csv RUN|FILE...        raw.csv, wav.csv, res.csv, host_res.csv, gps.csv
//   olas_records heave RUN|FILE...      heave with the detected waves (first 10 minutes by default)
//   olas_records intervals RUN|FILE...  H1/3, Hmax and direction per interval, against the truth
//   olas_records spectrum RUN|FILE...   spectrum.csv, spectrum_bins.csv, spectrum.svg: the spectral
//                                       sea state of every interval from the RAW records
// Exit status: 0; 1 when lines were skipped (malformed, wrong checksum: listed on stderr with
// file:line, the outputs written from the rest); 2 on a missing or unreadable file or a bad option.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli_parse.h"
#include "olas_records/csv.h"
#include "olas_records/plots.h"
#include "olas_records/records.h"
#include "olas_records/spectrum.h"
#include "olas_records/spectrum_intervals.h"
#include "olas_records/spectrum_output.h"

namespace {

namespace fs = std::filesystem;
using namespace olas_records;

struct File {
  std::string path, name;  // name: relative to the run folder, or as given
};

struct Inputs {
  std::vector<File> raw, wav, res, host, summary;
  std::string run_dir;  // the one run folder given, if so
};

std::string lower_extension(const fs::path& p) {
  std::string e = p.extension().string();
  for (char& c : e) c = char(std::tolower(static_cast<unsigned char>(c)));
  return e;
}

void add_file(Inputs& in, const fs::path& path, const std::string& name) {
  std::string e = lower_extension(path);
  File f{path.string(), name};
  if (e == ".raw") in.raw.push_back(f);
  else if (e == ".wav") in.wav.push_back(f);
  else if (e == ".res") in.res.push_back(f);
  else if (e == ".json") in.summary.push_back(f);
  else in.host.push_back(f);  // host.log, or any capture of the host link
}

// A run folder gives its card files (card/YYMMDD/HHMM.*, in time order), host.log and summary.json.
Inputs gather(const std::vector<std::string>& args) {
  Inputs in;
  for (const std::string& a : args) {
    std::error_code ec;
    fs::file_status st = fs::status(a, ec);
    if (ec || !fs::exists(st)) throw InputError("cannot read '" + a + "': no such file or folder");
    if (!fs::is_directory(st)) {
      add_file(in, a, a);
      continue;
    }
    if (args.size() == 1) in.run_dir = a;
    std::vector<fs::path> card;
    fs::path card_dir = fs::path(a) / "card";
    if (fs::is_directory(card_dir, ec))
      for (const auto& e : fs::recursive_directory_iterator(card_dir, ec))
        if (e.is_regular_file()) card.push_back(e.path());
    std::sort(card.begin(), card.end());
    for (const fs::path& p : card) add_file(in, p, fs::relative(p, a).generic_string());
    for (const char* n : {"host.log", "summary.json"})
      if (fs::exists(fs::path(a) / n)) add_file(in, fs::path(a) / n, n);
    if (card.empty() && !fs::exists(fs::path(a) / "host.log"))
      throw InputError("'" + a + "' holds neither card/ nor host.log: not a run folder");
  }
  return in;
}

// Records of several files, in time order of their first timed record (a run folder's are already).
template <class Rec>
void time_order(std::vector<std::vector<Rec>>& files) {
  auto first = [](const std::vector<Rec>& v) {
    for (const Rec& r : v)
      if (r.t) return *r.t;
    return std::numeric_limits<int64_t>::max();
  };
  std::stable_sort(files.begin(), files.end(), [&](const auto& a, const auto& b) { return first(a) < first(b); });
}

template <class Rec>
std::vector<Rec> concatenate(std::vector<std::vector<Rec>> files) {
  time_order(files);
  std::vector<Rec> out;
  for (auto& f : files) out.insert(out.end(), f.begin(), f.end());
  return out;
}

std::vector<RawPoint> read_raws(const Inputs& in, Issues& issues) {
  std::vector<std::vector<RawPoint>> files;
  for (const File& f : in.raw) files.push_back(read_raw(f.path, f.name, issues));
  return concatenate(std::move(files));
}

std::vector<WavRecord> read_wavs(const Inputs& in, Method m, Issues& issues) {
  std::vector<std::vector<WavRecord>> files;
  for (const File& f : in.wav) files.push_back(read_wav(f.path, f.name, m, issues));
  return concatenate(std::move(files));
}

std::vector<ResRecord> read_reses(const Inputs& in, Method m, Issues& issues) {
  std::vector<std::vector<ResRecord>> files;
  for (const File& f : in.res) files.push_back(read_res(f.path, f.name, m, issues));
  return concatenate(std::move(files));
}

// "90s", "10m", "2h", "1d" or plain seconds.
int64_t duration(const std::string& text, const std::string& option) {
  size_t used = 0;
  long long v = -1;
  try {
    v = std::stoll(text, &used);
  } catch (const std::exception&) {
  }
  std::string unit = text.substr(std::min(used, text.size()));
  long long scale = unit == "" || unit == "s" ? 1 : unit == "m" ? 60 : unit == "h" ? 3600 : unit == "d" ? 86400 : 0;
  if (v < 0 || scale == 0 || v > 366LL * 86400)
    throw InputError(option + ": '" + text + "' is not a duration (90s, 10m, 2h, 1d)");
  return v * scale;
}

void write_text(const std::string& path, const std::string& text) {
  fs::path p(path);
  std::error_code ec;
  if (p.has_parent_path()) fs::create_directories(p.parent_path(), ec);
  std::ofstream out(path, std::ios::binary);
  out << text;
  out.flush();
  if (!out) throw InputError("cannot write '" + path + "'");
}

std::string default_output(const Inputs& in, const std::string& file) {
  return in.run_dir.empty() ? file : (fs::path(in.run_dir) / file).string();
}

int finish(const Issues& issues) {
  if (issues.malformed + issues.bad_checksum == 0) return 0;
  std::fprintf(stderr, "olas_records: skipped %ld malformed line(s) and %ld frame(s) with a wrong checksum\n",
               issues.malformed, issues.bad_checksum);
  return 1;
}

int run_csv(const std::vector<std::string>& args, std::string out_dir, Method method) {
  Inputs in = gather(args);
  if (out_dir.empty()) out_dir = in.run_dir.empty() ? "." : (fs::path(in.run_dir) / "csv").string();
  std::error_code ec;
  fs::create_directories(out_dir, ec);
  if (!fs::is_directory(out_dir)) throw InputError("cannot make the output folder '" + out_dir + "'");
  Issues issues;
  auto out = [&](const char* n) { return (fs::path(out_dir) / n).string(); };
  auto say = [](const std::string& path, size_t rows, size_t files) {
    std::printf("%s: %zu row(s) from %zu file(s)\n", path.c_str(), rows, files);
  };
  if (!in.raw.empty()) say(out("raw.csv"), write_raw_csv(out("raw.csv"), read_raws(in, issues)), in.raw.size());
  if (!in.wav.empty())
    say(out("wav.csv"), write_wav_csv(out("wav.csv"), read_wavs(in, method, issues)), in.wav.size());
  if (!in.res.empty())
    say(out("res.csv"), write_res_csv(out("res.csv"), read_reses(in, method, issues), "start_utc"), in.res.size());
  if (!in.host.empty()) {
    std::vector<ResRecord> res;
    std::vector<GpsFix> gps;
    for (const File& f : in.host) read_host_log(f.path, f.name, method, res, gps, issues);
    say(out("host_res.csv"), write_res_csv(out("host_res.csv"), res, "end_utc"), in.host.size());
    say(out("gps.csv"), write_gps_csv(out("gps.csv"), gps), in.host.size());
  }
  if (in.raw.empty() && in.wav.empty() && in.res.empty() && in.host.empty())
    throw InputError("nothing to convert: give a run folder, .raw, .wav or .res files or a host.log");
  return finish(issues);
}

int run_heave(const std::vector<std::string>& args, std::string output, const std::string& from,
              const std::string& offset, const std::string& span) {
  std::optional<int64_t> start;
  if (!from.empty()) {
    start = parse_iso_utc(from);
    if (!start) throw InputError("--from: '" + from + "' is not an ISO 8601 UTC time (2026-12-07T14:30:00Z)");
  }
  int64_t span_s = duration(span, "--span");
  if (span_s < 10) throw InputError("--span: '" + span + "' is shorter than 10 s");
  int64_t offset_s = duration(offset, "--offset");
  Inputs in = gather(args);
  if (in.raw.empty()) throw InputError("no RAW file among the inputs");
  Issues issues;
  std::vector<RawPoint> raw = read_raws(in, issues);
  std::vector<WavRecord> wav = read_wavs(in, Method::velocity, issues);
  if (output.empty()) output = default_output(in, "heave.svg");
  write_text(output, heave_svg(raw, wav, start, offset_s, span_s));
  std::printf("%s\n", output.c_str());
  return finish(issues);
}

int run_intervals(const std::vector<std::string>& args, std::string output, Method method) {
  Inputs in = gather(args);
  Issues issues;
  std::optional<std::vector<Interval>> intervals;
  for (const File& f : in.summary) {
    std::ifstream s(f.path, std::ios::binary);
    nlohmann::json j = nlohmann::json::parse(s, nullptr, false);
    if (j.is_discarded()) throw InputError("'" + f.path + "' is not JSON");
    intervals = intervals_from_summary(j);
  }
  if (!intervals) {  // the firmware's records alone
    std::vector<ResRecord> host;
    std::vector<GpsFix> gps;
    for (const File& f : in.host) read_host_log(f.path, f.name, method, host, gps, issues);
    intervals = intervals_from_records(read_reses(in, method, issues), host);
  }
  if (output.empty()) output = default_output(in, "intervals.svg");
  write_text(output, intervals_svg(*intervals));
  std::printf("%s\n", output.c_str());
  return finish(issues);
}

struct SpectrumOptions {
  std::string out_dir, svg, segment = "256s";
  double fmin_hz = 0.03;
  std::optional<double> fmax_hz;  // default: 1 Hz, or half the rate when that is lower
  int rate = 0;  // 0: from the records
};

std::string hz(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%g", v);
  return b;
}

int run_spectrum(const std::vector<std::string>& args, const SpectrumOptions& o) {
  int64_t segment_s = duration(o.segment, "--segment");
  if (segment_s < 10 || segment_s > 3600)
    throw InputError("--segment: '" + o.segment + "' is not within 10 s .. 1 h");
  if (!(o.fmin_hz >= 0) || !(o.fmax_hz.value_or(1.0) > o.fmin_hz))
    throw InputError("--fmin/--fmax: " + hz(o.fmin_hz) + " .. " + hz(o.fmax_hz.value_or(1.0)) +
                     " Hz is not a frequency band");
  Inputs in = gather(args);
  if (in.raw.empty()) throw InputError("no RAW file among the inputs");
  Issues issues;
  std::vector<RawPoint> raw = read_raws(in, issues);
  std::optional<int> rate = o.rate > 0 ? std::optional<int>(o.rate) : points_per_second(raw);
  if (!rate) throw InputError("cannot tell the points per second of the RAW records (too few): give --rate");
  if (*rate > 1000)
    throw InputError("the RAW records hold " + std::to_string(*rate) + " points per second, more than 1000: give --rate");
  size_t segment = size_t(segment_s) * size_t(*rate);
  if (o.fmax_hz > *rate / 2.0)
    throw InputError("--fmax: " + hz(*o.fmax_hz) + " Hz is above half the sample rate (" + std::to_string(*rate) +
                     " points per second)");
  const double fmax_hz = o.fmax_hz.value_or(std::min(1.0, *rate / 2.0));
  if (!(fmax_hz > o.fmin_hz))
    throw InputError("--fmin: " + hz(o.fmin_hz) + " Hz is not below half the sample rate");

  std::map<int64_t, double> truth;  // true Hm0 by interval start
  for (const File& f : in.summary) {
    std::ifstream s(f.path, std::ios::binary);
    nlohmann::json j = nlohmann::json::parse(s, nullptr, false);
    if (j.is_discarded()) throw InputError("'" + f.path + "' is not JSON");
    if (auto list = intervals_from_summary(j))
      for (const Interval& v : *list)
        if (v.truth && v.truth->hm0_m) truth[v.start] = *v.truth->hm0_m;
  }

  std::vector<SpectrumRow> rows;
  for (const SpectrumInterval& v : spectrum_intervals(raw, read_reses(in, Method::velocity, issues), *rate)) {
    SpectrumRow r;
    r.start = v.start;
    r.end = v.end;
    r.stretches = v.stretches.size();
    for (const Stretch& s : v.stretches) r.samples += s.size();
    r.spectrum = welch(v.stretches, *rate, segment);
    r.bulk = bulk_figures(r.spectrum, o.fmin_hz, fmax_hz);
    r.firmware_h13_m = v.firmware_h13_m;
    if (auto t = truth.find(v.start); t != truth.end()) r.truth_hm0_m = t->second;
    rows.push_back(std::move(r));
  }
  if (rows.empty()) throw InputError("no RAW record with a clock: no interval to analyse");
  size_t used = 0;
  for (const SpectrumRow& r : rows) used += r.samples;
  if (used < raw.size())
    std::printf("%zu of %zu RAW points left out: gaps, no clock, clamped velocities (%d points per second)\n",
                raw.size() - used, raw.size(), *rate);

  std::string out_dir = o.out_dir.empty() ? (in.run_dir.empty() ? "." : (fs::path(in.run_dir) / "csv").string())
                                          : o.out_dir;
  std::error_code ec;
  fs::create_directories(out_dir, ec);
  if (!fs::is_directory(out_dir)) throw InputError("cannot make the output folder '" + out_dir + "'");
  std::string table = (fs::path(out_dir) / "spectrum.csv").string();
  std::string bins = (fs::path(out_dir) / "spectrum_bins.csv").string();
  std::printf("%s: %zu row(s)\n", table.c_str(), write_spectrum_csv(table, rows));
  std::printf("%s: %zu row(s)\n", bins.c_str(), write_spectrum_bins_csv(bins, rows, o.fmin_hz, fmax_hz));
  std::string svg = o.svg.empty() ? default_output(in, "spectrum.svg") : o.svg;
  write_text(svg, spectrum_svg(rows, o.fmin_hz, fmax_hz));
  std::printf("%s\n", svg.c_str());
  return finish(issues);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"The wave sensor's records (card RAW, WAV, RES files, host.log, summary.json) as CSV files and SVG plots"};
  app.require_subcommand(1);
  std::vector<std::string> inputs;
  std::string out, from, offset = "0s", span = "10m";
  std::string method_name = "velocity";
  const char* inputs_help = "a run folder of sensor_olas_sim, or files: .raw .wav .res (card), .json (summary), "
                            "anything else is read as a host.log";
  const char* method_help = "direction method of records with one direction (velocity or drift; both directions "
                            "are told apart by their count)";

  auto* csv = app.add_subcommand("csv", "one CSV per kind: raw.csv wav.csv res.csv host_res.csv gps.csv");
  csv->add_option("INPUT", inputs, inputs_help)->required();
  csv->add_option("-o,--out", out, "output folder (default: RUN/csv for a run folder, else .)");
  csv->add_option("--method", method_name, method_help)->check(CLI::IsMember({"velocity", "drift"}));

  auto* heave = app.add_subcommand("heave", "SVG: the heave with each detected wave's start and height");
  heave->add_option("INPUT", inputs, inputs_help)->required();
  heave->add_option("-o,--out", out, "SVG file (default: RUN/heave.svg, else heave.svg)");
  heave->add_option("--from", from, "window start, ISO 8601 UTC (default: the first timed record + --offset)");
  heave->add_option("--offset", offset, "window start after the first timed record: 90s, 20m, 2h")->capture_default_str();
  heave->add_option("--span", span, "window length: 90s, 10m, 1h")->capture_default_str();

  auto* intervals = app.add_subcommand(
      "intervals", "SVG: H1/3, Hmax and mean direction per interval, the firmware's against summary.json's truth");
  intervals->add_option("INPUT", inputs, inputs_help)->required();
  intervals->add_option("-o,--out", out, "SVG file (default: RUN/intervals.svg, else intervals.svg)");
  intervals->add_option("--method", method_name, method_help)->check(CLI::IsMember({"velocity", "drift"}));

  SpectrumOptions so;
  auto* spectrum = app.add_subcommand(
      "spectrum", "CSV and SVG: Hm0, Tp, Tm01, Tm02, directions and spread per interval from the RAW records' "
                  "spectra (Welch, Hann, at least 50 % overlap)");
  spectrum->add_option("INPUT", inputs, inputs_help)->required();
  spectrum->add_option("-o,--out", so.out_dir, "CSV folder (default: RUN/csv for a run folder, else .)");
  spectrum->add_option("--svg", so.svg, "SVG file (default: RUN/spectrum.svg, else spectrum.svg)");
  spectrum->add_option("--segment", so.segment, "Welch segment length: 256s, 4m (10 s .. 1 h)")->capture_default_str();
  spectrum->add_option("--fmin", so.fmin_hz, "lower end of the band of the moments, Hz")->capture_default_str();
  spectrum->add_option("--fmax", so.fmax_hz, "upper end of the band of the moments, Hz (default: 1, or half the rate)");
  spectrum->add_option("--rate", so.rate, "RAW points per second (default: the usual count per second)")
      ->check(CLI::Range(1, 1000));

  if (auto status = olas::parse_command_line(app, argc, argv)) return *status;
  Method method = method_name == "drift" ? Method::drift : Method::velocity;
  try {
    if (*csv) return run_csv(inputs, out, method);
    if (*heave) return run_heave(inputs, out, from, offset, span);
    if (*spectrum) return run_spectrum(inputs, so);
    return run_intervals(inputs, out, method);
  } catch (const InputError& e) {
    std::fprintf(stderr, "olas_records: %s\n", e.what());
    return 2;
  }
}
