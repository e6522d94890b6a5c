// olas_records as a user runs it on the files of a real run: CSV rows that agree with the record
// lines they come from, SVG plots that are well-formed and hold their series, and bad input.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "scenario/wave_checks.h"
#include "sensor_olas_sim/run.h"

namespace {
namespace fs = std::filesystem;
using olas::scenario::ReadFile;

const std::string kTool = OLAS_RECORDS_EXE;

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string l;
  while (std::getline(in, l)) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    out.push_back(l);
  }
  return out;
}

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::string f;
  std::istringstream in(s);
  while (std::getline(in, f, sep)) out.push_back(f);
  if (!s.empty() && s.back() == sep) out.push_back("");
  return out;
}

struct ToolRun {
  int status;
  std::string out, err;
};

// Paths of this process: ctest runs the tests of this file in parallel processes.
fs::path temp(const std::string& name) {
  return fs::temp_directory_path() / ("olas_records_" + std::to_string(getpid()) + "_" + name);
}

ToolRun tool(const std::string& args) {
  fs::path out = temp("out.txt"), err = temp("err.txt");
  int status = std::system((kTool + " " + args + " >" + out.string() + " 2>" + err.string()).c_str());
  return {WEXITSTATUS(status), ReadFile(out), ReadFile(err)};
}

// A CSV file as rows of named cells.
struct Csv {
  std::vector<std::string> header;
  std::vector<std::map<std::string, std::string>> rows;
};
Csv read_csv(const fs::path& p) {
  Csv c;
  std::vector<std::string> lines = lines_of(ReadFile(p));
  if (lines.empty()) return c;
  c.header = split(lines[0], ',');
  for (size_t i = 1; i < lines.size(); ++i) {
    std::vector<std::string> cells = split(lines[i], ',');
    EXPECT_EQ(cells.size(), c.header.size()) << p << " row " << i;
    std::map<std::string, std::string> row;
    for (size_t k = 0; k < cells.size() && k < c.header.size(); ++k) row[c.header[k]] = cells[k];
    c.rows.push_back(row);
  }
  return c;
}

// "00154" -> "1.54" (cm to m), "078" -> "7.8" (tenths)
std::string hundredths(const std::string& f) {
  long v = std::stol(f);
  char b[32];
  std::snprintf(b, sizeof b, "%ld.%02ld", v / 100, v % 100);
  return b;
}
std::string tenths(const std::string& f) {
  long v = std::stol(f);
  return std::to_string(v / 10) + "." + std::to_string(v % 10);
}
std::string iso(const std::string& yy, const std::string& mo, const std::string& dd, const std::string& hh,
                const std::string& mi, const std::string& ss) {
  return "20" + yy + "-" + mo + "-" + dd + "T" + hh + ":" + mi + ":" + ss + "Z";
}

// Tags open and close in order; the one root is <svg>.
bool well_formed(const std::string& xml, std::string* why) {
  std::vector<std::string> open;
  size_t roots = 0;
  for (size_t at = xml.find('<'); at != std::string::npos; at = xml.find('<', at + 1)) {
    size_t end = xml.find('>', at);
    if (end == std::string::npos) return *why = "unclosed tag", false;
    std::string tag = xml.substr(at + 1, end - at - 1);
    if (tag[0] == '?') continue;
    if (tag[0] == '/') {
      if (open.empty() || open.back() != tag.substr(1)) return *why = "stray </" + tag.substr(1) + ">", false;
      open.pop_back();
      continue;
    }
    if (open.empty()) ++roots;
    if (tag.back() != '/') open.push_back(tag.substr(0, tag.find_first_of(" \n")));
  }
  if (!open.empty()) return *why = "<" + open.back() + "> never closed", false;
  return roots == 1 && xml.find("<svg") != std::string::npos;
}

class OlasRecords : public ::testing::Test {
 protected:
  // One 25-minute run at sea (card, GPS, host link) serves every test.
  static void SetUpTestSuite() {
    olas::RunOptions o;
    o.firmware_image = OLAS_FIRMWARE_IMAGE;
    o.start_utc = olas::parse_utc(olas::kDefaultStart);
    o.out_dir = temp("run").string();
    o.quiet = true;
    o.duration_s = 25 * 60;
    fs::remove_all(o.out_dir);
    run_ = new fs::path(o.out_dir);
    status_ = olas::run_simulation(o).exit_code;
  }
  static void TearDownTestSuite() {
    fs::remove_all(*run_);
    fs::remove(temp("out.txt"));
    fs::remove(temp("err.txt"));
    delete run_;
  }
  static fs::path* run_;
  static int status_;
};
fs::path* OlasRecords::run_ = nullptr;
int OlasRecords::status_ = -1;

TEST_F(OlasRecords, CsvRowsAgreeWithTheRecordLinesTheyComeFrom) {
  ASSERT_EQ(status_, 0);
  const fs::path out = *run_ / "csv-test";
  ToolRun r = tool("csv " + run_->string() + " -o " + out.string());
  ASSERT_EQ(r.status, 0) << r.err;

  Csv raw = read_csv(out / "raw.csv");
  EXPECT_EQ(raw.header, split("time_utc,point,heading_deg,heave_m,vel_north_mps,vel_east_mps,heading_valid,"
                              "align_valid,file,line", ','));
  size_t raw_lines = 0;
  for (const auto& e : fs::recursive_directory_iterator(*run_ / "card"))
    if (e.path().extension() == ".raw") raw_lines += lines_of(ReadFile(e.path())).size();
  EXPECT_EQ(raw.rows.size(), raw_lines);
  ASSERT_GT(raw.rows.size(), 5000u);
  std::map<std::string, std::vector<std::string>> files;
  auto source = [&](const std::map<std::string, std::string>& row) {
    auto& f = files[row.at("file")];
    if (f.empty()) f = lines_of(ReadFile(*run_ / row.at("file")));
    return f.at(std::stoul(row.at("line")) - 1);
  };
  std::string previous_time;
  for (const auto& row : raw.rows) {
    std::vector<std::string> f = split(source(row), ',');
    ASSERT_EQ(f.size(), 13u);
    if (f[0] != "00") {
      EXPECT_EQ(row.at("time_utc"), iso(f[2], f[1], f[0], f[3], f[4], f[5]));
      EXPECT_GE(row.at("time_utc"), previous_time);  // files in time order
      previous_time = row.at("time_utc");
    } else {
      EXPECT_EQ(row.at("time_utc"), "");  // no clock yet
    }
    EXPECT_EQ(row.at("heave_m"), (f[8][0] == '-' ? "-" : "") + hundredths(f[8].substr(1)));
    EXPECT_NEAR(std::stod(row.at("vel_north_mps")), std::stod(f[9]), 1e-9);
    EXPECT_EQ(row.at("point"), std::to_string(std::stol(f[6])));
  }

  Csv wav = read_csv(out / "wav.csv");
  EXPECT_EQ(wav.header, split("time_utc,wave,height_m,period_s,points,dir_vel_deg,heading_valid_pct,"
                              "align_valid_pct,file,line", ','));
  ASSERT_GT(wav.rows.size(), 50u);
  for (const auto& row : wav.rows) {
    std::vector<std::string> d = split(source(row), ','), s = split(d[5], ' ');
    EXPECT_EQ(row.at("time_utc"), iso(d[2], d[1], d[0], d[3], d[4], "00"));
    EXPECT_EQ(row.at("height_m"), hundredths(s[1]));
    EXPECT_EQ(row.at("period_s"), tenths(s[2]));
    EXPECT_EQ(row.at("dir_vel_deg"), tenths(s[4]));
  }

  // The card's interval record and the host's frame of the same interval.
  Csv res = read_csv(out / "res.csv"), host = read_csv(out / "host_res.csv"), gps = read_csv(out / "gps.csv");
  ASSERT_EQ(res.rows.size(), 1u);
  ASSERT_EQ(host.rows.size(), 1u);
  EXPECT_EQ(res.header[0], "start_utc");
  EXPECT_EQ(host.header[0], "end_utc");
  std::vector<std::string> s = split(split(source(res.rows[0]), ',')[5], ' ');
  ASSERT_EQ(s.size(), 14u);  // velocity method: one direction and its spread
  EXPECT_EQ(res.rows[0].at("start_utc"), "2026-12-07T14:20:00Z");
  EXPECT_EQ(host.rows[0].at("end_utc"), "2026-12-07T14:40:00Z");
  for (const auto& [column, field] : std::map<std::string, std::string>{
           {"waves", std::to_string(std::stol(s[0]))}, {"hmax_m", hundredths(s[1])}, {"h13_m", hundredths(s[2])},
           {"t13_s", tenths(s[7])}, {"dir_vel_deg", tenths(s[10])}, {"spread_vel_deg", tenths(s[11])}}) {
    EXPECT_EQ(res.rows[0].at(column), field) << column;
    EXPECT_EQ(host.rows[0].at(column), field) << column;
  }
  ASSERT_EQ(gps.rows.size(), 1u);
  EXPECT_EQ(gps.rows[0].at("time_utc").substr(0, 11), "2026-12-07T");
}

TEST_F(OlasRecords, PlotsAreWellFormedSvgHoldingTheirSeries) {
  ASSERT_EQ(status_, 0);
  ToolRun h = tool("heave " + run_->string());
  ASSERT_EQ(h.status, 0) << h.err;
  ToolRun i = tool("intervals " + run_->string());
  ASSERT_EQ(i.status, 0) << i.err;
  std::string why;
  std::string heave = ReadFile(*run_ / "heave.svg"), intervals = ReadFile(*run_ / "intervals.svg");
  EXPECT_TRUE(well_formed(heave, &why)) << why;
  EXPECT_TRUE(well_formed(intervals, &why)) << why;
  for (const char* id : {"id=\"heave\"", "id=\"wave-starts\"", "id=\"wave-heights\"", "<polyline", "time (UTC)",
                         "heave (m"})
    EXPECT_NE(heave.find(id), std::string::npos) << id;
  EXPECT_NE(heave.find("</title></rect>"), std::string::npos);  // wave bars with their tooltips
  for (const char* id : {"id=\"firmware-h13\"", "id=\"firmware-hmax\"", "id=\"firmware-dir-vel\""})
    EXPECT_NE(intervals.find(id), std::string::npos) << id;
  bool truth = ReadFile(*run_ / "summary.json").find("\"intervals\"") != std::string::npos;
  EXPECT_EQ(intervals.find("id=\"truth-h13\"") != std::string::npos, truth);
  // the same input gives the same bytes
  ASSERT_EQ(tool("heave " + run_->string() + " -o " + (*run_ / "again.svg").string()).status, 0);
  EXPECT_EQ(ReadFile(*run_ / "again.svg"), heave);
}

TEST(OlasRecordsInput, BadInputIsSkippedAndReportedOrRefused) {
  const fs::path dir = temp("bad");
  fs::remove_all(dir);
  fs::create_directories(dir);
  // Good lines, garbage, a cut line, a clamped velocity, a point number too wide for its field.
  std::ofstream(dir / "x.raw", std::ios::binary)
      << "07,12,26,14,20,31,00001,0283,-00029, 00000.1617, 00000.3686,1,1\r\n"
      << "garbage\r\n"
      << "07,12,26,14,20,31,00002,0283,-000\r\n"
      << "07,12,26,14,20,32,00003,0283, 00017, 99999.9999,-99999.9999,1,1\r\n"
      << "07,12,26,14,20,32,A0000,0283, 00017, 00000.1000,-00000.2000,1,1\r\n";
  // A good frame, the same with a wrong checksum, a frame with a right checksum but too few fields.
  std::string good = "$RES,07,12,26,14,40,00154,0354,0201,0273,0127,112,078,082,082,074,2689,0117,099,099*66";
  std::ofstream(dir / "host.log", std::ios::binary) << "banner\r\n" << good << "\r\n"
                                                    << good.substr(0, good.size() - 1) << "7\r\n"
                                                    << "$RES,07,12,26,15,20,1*73\r\n";
  ToolRun r = tool("csv " + (dir / "x.raw").string() + " " + (dir / "host.log").string() + " -o " + dir.string());
  EXPECT_EQ(r.status, 1) << r.err;
  for (const char* where : {"x.raw:2:", "x.raw:3:", "host.log:3:", "host.log:4:", "skipped 3 malformed line(s) and 1"})
    EXPECT_NE(r.err.find(where), std::string::npos) << where << " in:\n" << r.err;
  Csv raw = read_csv(dir / "raw.csv");
  ASSERT_EQ(raw.rows.size(), 3u);
  EXPECT_EQ(raw.rows[1].at("vel_north_mps"), "");  // clamped: the value is unknown
  EXPECT_EQ(raw.rows[1].at("vel_east_mps"), "");
  EXPECT_EQ(raw.rows[1].at("heave_m"), "0.17");
  EXPECT_EQ(raw.rows[2].at("point"), "100000");
  EXPECT_EQ(read_csv(dir / "host_res.csv").rows.size(), 1u);

  ToolRun missing = tool("csv " + (dir / "nowhere.raw").string());
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("nowhere.raw"), std::string::npos) << missing.err;
  for (const std::string& args : {"csv --method sideways " + dir.string(), "heave --from yesterday " + dir.string(),
                                  "heave --span 10x " + dir.string()}) {
    ToolRun b = tool(args);
    EXPECT_EQ(b.status, 2) << args;
    EXPECT_NE(b.err.find(split(args, ' ')[2]), std::string::npos) << args << ": " << b.err;
  }
  fs::remove_all(dir);
  fs::remove(temp("out.txt"));
  fs::remove(temp("err.txt"));
}

}  // namespace
