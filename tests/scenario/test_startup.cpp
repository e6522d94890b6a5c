// The firmware image in the simulator, as sensor_olas_sim runs it: start-up, restarts, the tool.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "scenario/wave_checks.h"
#include "sensor_olas_sim/run.h"

namespace {
namespace fs = std::filesystem;
using olas::scenario::ReadFile;

fs::path fresh_dir(const std::string& name) {
  fs::path d = fs::temp_directory_path() / ("olas_scenario_" + name);
  fs::remove_all(d);
  return d;
}

olas::RunOptions options(const fs::path& out, const std::string& duration) {
  olas::RunOptions o;
  o.out_dir = out.string();
  o.duration_s = olas::parse_duration(duration);
  o.start_utc = olas::parse_utc(olas::kDefaultStart);
  o.firmware_image = OLAS_FIRMWARE_IMAGE;
  o.quiet = true;
  o.gps.enabled = false;  // no receiver: intervals by sensor time
  o.card.enabled = false;
  o.clock_ppm = 0.0;
  return o;
}

size_t count(const std::string& hay, const std::string& needle) {
  size_t n = 0;
  for (size_t p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + 1)) ++n;
  return n;
}

const std::string kStars(79, '*');

TEST(Startup, FirstBootOnABlankBoardThenASecondRunInTheSameFolder) {
  fs::path out = fresh_dir("first_boot");
  auto r = olas::run_simulation(options(out, "90s"));
  ASSERT_EQ(r.exit_code, 0) << r.summary.dump();

  std::string console = ReadFile(out / "console.log");
  std::string banner = "\r\n" + kStars + "\r\n\t\tVORENTA\r\n\t\tOLVARIDE\r\n" + kStars +
                       "\r\n\tSensor de olas\tHardware:01_0\tFirmware:01_7_2\r\n" + kStars + "\r\n\r\n";
  ASSERT_EQ(console.substr(0, banner.size()), banner);
  std::string rest = console.substr(banner.size());
  EXPECT_EQ(rest.rfind("LECTURA DE PARÁMETROS DE EEPROM.\r\n", 0), 0u) << rest.substr(0, 200);
  size_t d1 = rest.find("Grabacion de parametros por defector.");
  size_t d2 = rest.find("Grabacion de parametros por defecto.");
  EXPECT_NE(d1, std::string::npos);
  EXPECT_NE(d2, std::string::npos);
  EXPECT_LT(d1, d2);
  for (const char* line : {"nº reinicios = 1 / 0 (0)\r\n", "CTE_PERMITIR_AJUSTE_RELOJ=1\r\n",
                           "CTE_VELOCIDAD_RELOJ=48000\r\n", "% OCUPADO SD=255\r\n",
                           "choras_sincronizacion_gps=4\r\n", "CTE_INTERVALO_PROMEDIO=20\r\n",
                           "CTE_INTERVALO_PROMEDIO_INTERPRETADO=20\r\n"})
    EXPECT_NE(rest.find(line), std::string::npos) << line;
  std::string stars63(63, '*');
  std::string first_clock = stars63 + "\r\n\t\t00/00/00\t00:00:00\r\n" + stars63 + "\r\n";
  std::string minute_clock = stars63 + "\r\n\t\t00/00/00\t00:01:00\r\n" + stars63 + "\r\n";
  size_t c0 = console.find(first_clock);
  size_t c1 = console.find(minute_clock);
  EXPECT_NE(c0, std::string::npos);
  EXPECT_NE(c1, std::string::npos);
  EXPECT_LT(c0, c1);
  EXPECT_GT(c0, console.find("% OCUPADO SD=255"));

  std::string host = ReadFile(out / "host.log");
  std::string host_banner = "\r\n" + kStars + "\r\n\t\tVORENTA\r\n\t\tOLVARIDE\r\n" + kStars +
                            "\r\n\tSensor de olas\tHardware:1_0\tFirmware:1_7_2\r\n" + kStars + "\r\n\r\n";
  EXPECT_EQ(host.substr(0, host_banner.size()), host_banner);
  EXPECT_EQ(r.summary["resets"].size(), 0u);
  EXPECT_EQ(r.summary["framing_errors"]["host"], 0);

  auto again = olas::run_simulation(options(out, "90s"));
  ASSERT_EQ(again.exit_code, 0);
  console = ReadFile(out / "console.log");
  EXPECT_NE(console.find("nº reinicios = 2 / 0 (0)"), std::string::npos);
  EXPECT_EQ(console.find("Grabacion de parametros"), std::string::npos);
}

TEST(Startup, StarvedWatchdogResetsTheBoardAndTheRunGoesOn) {
  fs::path out = fresh_dir("starved");
  auto o = options(out, "60s");
  o.starve_watchdog_s = 20.0;
  auto r = olas::run_simulation(o);
  ASSERT_EQ(r.exit_code, 0) << r.summary.dump();
  ASSERT_EQ(r.summary["resets"].size(), 1u);
  EXPECT_EQ(r.summary["resets"][0]["cause"], "watchdog starved");
  EXPECT_NEAR(r.summary["resets"][0]["t"].get<double>(), 24.0, 0.1);
  std::string console = ReadFile(out / "console.log");
  EXPECT_EQ(count(console, "VORENTA"), 2u);
  EXPECT_NE(console.find("nº reinicios = 2 / 0 (0)"), std::string::npos);
  EXPECT_NEAR(r.summary["virtual_s"].get<double>(), 60.0, 0.01);
}

int run_tool(const std::string& args, std::string* err) {
  fs::path log = fs::temp_directory_path() / "olas_tool_stderr.txt";
  std::string cmd = std::string(OLAS_SIM_EXE) + " " + args + " >/dev/null 2>" + log.string();
  int status = std::system(cmd.c_str());
  *err = ReadFile(log);
  return WEXITSTATUS(status);
}

TEST(Tool, BadOptionsAreNamedAndExitWithStatusTwo) {
  std::string err;
  EXPECT_EQ(run_tool("--duration 5x", &err), 2);
  EXPECT_NE(err.find("--duration"), std::string::npos) << err;
  EXPECT_EQ(run_tool("--start 2026-13-07T14:20:00Z", &err), 2);
  EXPECT_NE(err.find("--start"), std::string::npos) << err;
  EXPECT_EQ(run_tool("--clock-ppm fast", &err), 2);
  EXPECT_NE(err.find("--clock-ppm"), std::string::npos) << err;
  EXPECT_EQ(run_tool("--no-such-option", &err), 2);
  EXPECT_NE(err.find("--no-such-option"), std::string::npos) << err;

  fs::path out = fresh_dir("tool");
  EXPECT_EQ(run_tool("--quiet --duration 5s --out " + out.string(), &err), 0) << err;
  EXPECT_TRUE(fs::exists(out / "summary.json"));
  EXPECT_TRUE(fs::exists(out / "flash.bin"));
}

}  // namespace
