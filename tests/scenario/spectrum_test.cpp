// olas_records spectrum on three simulated hours of a known sea, one interval of which holds a
// silence of the motion unit: each interval's figures against its truth, and the mean energy
// density against the JONSWAP spectrum the sea was built from.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include <unistd.h>

#include "scenario/wave_checks.h"
#include "sensor_olas_sim/run.h"

namespace {
namespace fs = std::filesystem;
using Row = std::map<std::string, std::string>;

constexpr double kPi = 3.14159265358979323846;
constexpr double kHs = 2.5, kTp = 10, kGamma = 3.3, kDir = 250;

fs::path temp(const std::string& name) {
  return fs::temp_directory_path() / ("olas_spectrum_" + std::to_string(getpid()) + "_" + name);
}

std::vector<Row> read_csv(const fs::path& p) {
  std::istringstream in(olas::scenario::ReadFile(p));
  std::vector<std::string> header;
  std::vector<Row> rows;
  for (std::string line; std::getline(in, line);) {
    std::istringstream cells(line + ",");
    if (!header.empty()) rows.emplace_back();
    size_t i = 0;
    for (std::string c; std::getline(cells, c, ','); ++i) {
      if (rows.empty()) header.push_back(c);
      else rows.back()[i < header.size() ? header[i] : "extra"] = c;
    }
  }
  return rows;
}

// The sea's JONSWAP spectrum over the band the simulator builds it in (0.6 to 5 fp), scaled to Hs.
double jonswap(double f) {
  const double fp = 1 / kTp;
  if (f < 0.6 * fp || f > 5 * fp) return 0;
  auto shape = [fp](double x) {
    double s = x <= fp ? 0.07 : 0.09;
    return std::pow(x, -5.0) * std::exp(-1.25 * std::pow(fp / x, 4.0)) *
           std::pow(kGamma, std::exp(-(x - fp) * (x - fp) / (2 * s * s * fp * fp)));
  };
  static const double scale = [&] {
    double m0 = 0, step = 1e-5;
    for (double x = 0.6 * fp; x < 5 * fp; x += step) m0 += shape(x + step / 2) * step;
    return kHs * kHs / 16 / m0;
  }();
  return scale * shape(f);
}

// One run serves every check (ctest runs each test in a process of its own).
TEST(SpectrumAtSea, FiguresAndDensityOfEachIntervalMatchTheKnownSeaEvenWithASilence) {
  olas::RunOptions o;
  o.firmware_image = OLAS_FIRMWARE_IMAGE;
  o.start_utc = olas::parse_utc(olas::kDefaultStart);
  o.out_dir = temp("run").string();
  o.quiet = true;
  o.sea = olas::parse_sea("hs=2.5,tp=10,dir=250,spread=20,gamma=3.3", o.sea);
  o.motion_unit.silences.push_back(olas::parse_silence("68m+90s"));  // 15:28:00 to 15:29:30
  const fs::path run = o.out_dir;
  fs::remove_all(run);
  ASSERT_EQ(olas::run_simulation(o).exit_code, 0);
  std::string cmd = std::string(OLAS_RECORDS_EXE) + " spectrum " + run.string() + " >/dev/null";
  ASSERT_EQ(WEXITSTATUS(std::system(cmd.c_str())), 0);

  nlohmann::json summary = nlohmann::json::parse(olas::scenario::ReadFile(run / "summary.json"));
  std::map<std::string, double> truth;
  for (const auto& v : summary["intervals"])
    if (v["truth"].is_object()) truth[v["start"].get<std::string>()] = v["truth"]["hm0_m"].get<double>();
  size_t matched = 0;
  for (const Row& r : read_csv(run / "csv" / "spectrum.csv")) {
    const std::string& at = r.at("start_utc");
    ASSERT_FALSE(r.at("hm0_m").empty()) << at;
    EXPECT_NEAR(std::stod(r.at("tp_s")), kTp, 0.15 * kTp) << at;
    EXPECT_NEAR(std::remainder(std::stod(r.at("dm_deg")) - kDir, 360.0), 0, 10) << at;
    if (truth.count(at)) {
      ++matched;
      EXPECT_NEAR(std::stod(r.at("hm0_m")), truth[at], 0.05 * truth[at]) << at;
    }
    // the silence splits its interval; the segments on either side still make its figures
    bool silenced = at == "2026-12-07T15:20:00Z";
    EXPECT_EQ(r.at("stretches"), silenced ? "2" : "1") << at;
    if (silenced) {
      EXPECT_NEAR(std::stod(r.at("samples")), 12000 - 900, 20);
    }
  }
  EXPECT_GE(matched, 8u);
  // bad options are named, exit status 2
  for (std::string bad : {"--segment 5s", "--fmax 6"}) {
    std::string cmd = std::string(OLAS_RECORDS_EXE) + " spectrum " + run.string() + " " + bad + " 2>" +
                      (run / "err.txt").string();
    EXPECT_EQ(WEXITSTATUS(std::system(cmd.c_str())), 2) << bad;
    EXPECT_NE(olas::scenario::ReadFile(run / "err.txt").find(bad.substr(bad.find(' ') + 1)), std::string::npos);
  }
  std::string svg = olas::scenario::ReadFile(run / "spectrum.svg");
  for (const char* id : {"id=\"density\"", "id=\"peak\"", "id=\"hm0\"", "id=\"firmware-h13\"", "id=\"truth-hm0\""})
    EXPECT_NE(svg.find(id), std::string::npos) << id;

  // The mean of the intervals' densities has Welch's chi-squared distribution with the sum of their
  // degrees of freedom about the JONSWAP spectrum as the Hann window sees it (smoothed over a few
  // bins, which matters at the narrow peak).
  double edf = 0;
  for (const Row& r : read_csv(run / "csv" / "spectrum.csv")) edf += std::stod(r.at("edf"));
  std::map<double, std::pair<double, int>> mean;
  for (const Row& r : read_csv(run / "csv" / "spectrum_bins.csv")) {
    auto& m = mean[std::stod(r.at("freq_hz"))];
    m.first += std::stod(r.at("density_m2hz")), ++m.second;
  }
  ASSERT_GT(mean.size(), 100u);
  const double df = std::next(mean.begin())->first - mean.begin()->first;
  const int segment = int(std::lround(10 / df));
  std::vector<std::pair<double, double>> kernel;  // the window's power response, offsets in Hz
  for (int j = -48; j <= 48; ++j) {
    std::complex<double> w;
    for (int n = 0; n < segment; ++n)
      w += (0.5 - 0.5 * std::cos(2 * kPi * n / segment)) * std::polar(1.0, -2 * kPi * j * df / 8 * n / 10);
    kernel.push_back({j * df / 8, std::norm(w)});
  }
  // Wilson-Hilferty quantiles of chi-squared / edf at 0.5 % and 99.5 %.
  auto quantile = [&](double z) { return std::pow(1 - 2 / (9 * edf) + z * std::sqrt(2 / (9 * edf)), 3.0); };
  const double lo = quantile(-2.576), hi = quantile(2.576);
  int bins = 0, outside = 0;
  for (const auto& [f, m] : mean) {
    if (f < 0.07 || f > 0.3) continue;  // clear of the band edges of the simulated sea
    double expected = 0, weight = 0;
    for (const auto& [offset, k] : kernel) expected += jonswap(f + offset) * k, weight += k;
    double ratio = m.first / m.second / (expected / weight);
    ++bins;
    if (ratio < lo || ratio > hi) ++outside;
    EXPECT_TRUE(ratio > lo * 0.8 && ratio < hi * 1.2) << f << " Hz: " << ratio << " of the spectrum";
  }
  EXPECT_LE(outside, bins / 20) << "of " << bins << " bins outside " << lo << " .. " << hi;
  fs::remove_all(run);
}

}  // namespace
