// sensor_olas_sim as a user meets it when things go wrong: nonsense options, signals, a full
// disk, a failed start, a busy folder, binary bytes on the host link, odd replays and cards.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "scenario/wave_checks.h"
#include "sensor_olas_sim/run.h"

namespace {
namespace fs = std::filesystem;
using olas::scenario::ReadFile;

struct ToolRun {
  int status;
  std::string err;
};

fs::path fresh_dir(const std::string& name) {
  fs::path d = fs::temp_directory_path() / ("olas_simtool_" + name + "_" + std::to_string(getpid()));
  fs::remove_all(d);
  fs::create_directories(d);
  return d;
}

// Runs the command through /bin/sh (`prefix` goes before it, e.g. a ulimit); stdout is dropped.
ToolRun tool(const std::string& args, const fs::path& dir, const std::string& prefix = "") {
  const fs::path err = dir / "stderr.txt";
  const std::string cmd = prefix + std::string(OLAS_SIM_EXE) + " --quiet " + args + " >/dev/null 2>" + err.string();
  int status = std::system(cmd.c_str());
  return {WEXITSTATUS(status), ReadFile(err)};
}

nlohmann::json summary(const fs::path& out) { return nlohmann::json::parse(ReadFile(out / "summary.json")); }

// The folder dir/out, already holding one file of an earlier run or of the user.
fs::path out_holding(const fs::path& dir, const std::string& file, const std::string& text) {
  const fs::path out = dir / "out";
  fs::create_directories(out);
  std::ofstream(out / file) << text;
  return out;
}

void says(const ToolRun& r, const std::string& text) {
  EXPECT_NE(r.err.find(text), std::string::npos) << "missing '" << text << "' in:\n" << r.err;
}

TEST(SimTool, NonsenseValuesAreRefusedWithTheirRangeBeforeAnythingIsMade) {
  fs::path dir = fresh_dir("options");
  std::ofstream(dir / "afile") << "not a library\n";
  std::ofstream deep(dir / "deep.json");
  deep << "{\"duration\": " << std::string(100000, '[') << std::string(100000, ']') << "}";
  deep.close();
  struct Case {
    std::string args, must_say;
  };
  const Case cases[] = {
      {"--clock-ppm nan", "'nan'"},
      {"--clock-ppm inf", "'inf'"},
      {"--clock-ppm 1e400", "'1e400'"},
      {"--clock-ppm -1e9", "-20000..20000"},
      {"--clock-ppm 1e9", "-20000..20000"},
      {"--start 2026-02-30T00:00:00Z", "'2026-02-30T00:00:00Z'"},
      {"--start 2026-12-07T14:20:00Zjunk", "not a UTC time"},
      {"--duration 0x10", "'0x10'"},
      {"--duration 400d", "at most 366d"},
      {"--sea ''", "--sea: empty value"},
      {"--rate ''", "--rate: empty value"},
      {"--seed ''", "--seed: empty value"},
      {"--sensor-corrupt 0x1", "'0x1'"},
      {"--gps ttff=inf", "'inf'"},
      {"--card-size 4M", "more than 6M"},
      {"--firmware " + (dir / "afile").string(), "not a firmware image"},
      {"--scenario " + (dir / "deep.json").string(), "nested more than"},
  };
  for (const Case& c : cases) {
    const fs::path out = dir / "out";
    ToolRun r = tool(c.args + " --out " + out.string(), dir);
    EXPECT_EQ(r.status, 2) << c.args << "\n" << r.err;
    says(r, c.must_say);
    EXPECT_FALSE(fs::exists(out)) << c.args;  // nothing made, not even the folder
  }
  fs::remove_all(dir);
}

// SIGTERM and SIGHUP stop a run as Ctrl-C does. The test knows the run is under way, without a
// clock, because the motion unit's capture is a pipe it reads from.
TEST(SimTool, TermAndHangUpStopTheRunWithItsOutputsWritten) {
  fs::path dir = fresh_dir("signals");
  const fs::path out = dir / "out", fifo = dir / "capture";
  ASSERT_EQ(tool("--no-card --duration 1m --out " + out.string(), dir).status, 0);
  const uintmax_t flash_size = fs::file_size(out / "flash.bin");
  for (int signo : {SIGTERM, SIGHUP}) {
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int null = ::open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      execl(OLAS_SIM_EXE, OLAS_SIM_EXE, "--quiet", "--no-card", "--duration", "30d", "--out", out.c_str(),
            "--capture-sensor", fifo.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    // The option check opens the pipe once and closes it; the unit then opens it for the run.
    std::vector<char> buf(1 << 16);
    size_t got = 0;
    while (got == 0) {
      int fd = ::open(fifo.c_str(), O_RDONLY);
      ASSERT_GE(fd, 0);
      for (ssize_t n; got < 100000 && (n = ::read(fd, buf.data(), buf.size())) > 0;) got += size_t(n);
      if (got > 0) {
        kill(pid, signo);
        while (::read(fd, buf.data(), buf.size()) > 0) {
        }
      }
      ::close(fd);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + signo);
    auto s = summary(out);
    EXPECT_TRUE(s["interrupted"].get<bool>());
    EXPECT_EQ(s["signal"], signo == SIGTERM ? "SIGTERM" : "SIGHUP");
    EXPECT_LT(s["virtual_s"].get<double>(), 30 * 86400.0);
    EXPECT_EQ(fs::file_size(out / "flash.bin"), flash_size);  // whole, never truncated
    EXPECT_GT(fs::file_size(out / "console.log"), 0u);
    EXPECT_FALSE(fs::exists(out / "console.log.tmp"));
    fs::remove(fifo);
  }
  fs::remove_all(dir);
}

TEST(SimTool, WriteErrorsFailTheRunNameTheFileAndKeepWhatWasStored) {
  fs::path dir = fresh_dir("disk");
  const fs::path out = out_holding(dir, "console.log", "an earlier run's console\n");
  // 1 MB per file (dash counts 512-byte blocks): the firmware image fits, the console of 40
  // traced minutes does not
  const std::string limit = "trap '' XFSZ; ulimit -f 2048; ";
  ToolRun r = tool("--no-card --jumper --duration 40m --out " + out.string(), dir, limit);
  EXPECT_EQ(r.status, 1) << r.err;
  says(r, "cannot write " + (out / "console.log").string());
  EXPECT_EQ(ReadFile(out / "console.log"), "an earlier run's console\n");
  EXPECT_EQ(summary(out)["error"], "cannot write " + (out / "console.log").string());

  // the default 4 GB card cannot even be made: the start fails and leaves nothing
  const fs::path out2 = dir / "out2";
  r = tool("--duration 1m --out " + out2.string(), dir, limit);
  EXPECT_EQ(r.status, 1) << r.err;
  says(r, "cannot make the card image " + (out2 / "card.img").string());
  EXPECT_FALSE(fs::exists(out2));

  r = tool("--no-card --duration 1m --capture-sensor /dev/full --out " + out.string(), dir);
  EXPECT_EQ(r.status, 1) << r.err;
  says(r, "cannot write the sensor capture '/dev/full'");
  fs::remove_all(dir);
}

TEST(SimTool, ABusyFolderIsRefusedAndAFailedStartLeavesNothing) {
  fs::path dir = fresh_dir("start");
  const fs::path out = out_holding(dir, "notes.txt", "mine\n");
  {
    // another run holds the folder
    int fd = ::open(out.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    ToolRun r = tool("--no-card --duration 1m --out " + out.string(), dir);
    EXPECT_EQ(r.status, 1);
    says(r, "in use by another run");
    ::close(fd);
  }
  // a card the formatter refuses (the command line refuses the size before this point)
  olas::RunOptions o;
  o.out_dir = out.string();
  o.firmware_image = OLAS_FIRMWARE_IMAGE;
  o.quiet = true;
  o.duration_s = 60;
  o.card.size_bytes = 4 << 20;
  try {
    olas::run_simulation(o);
    ADD_FAILURE() << "a 4 MB card was formatted";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("could not format the new card image"), std::string::npos) << e.what();
  }
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(out)) left.push_back(e.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"notes.txt"});
  fs::remove_all(dir);
}

TEST(SimTool, BinaryBytesOnTheHostLinkAreDataAndFailedExpectationsFail) {
  fs::path dir = fresh_dir("transparent");
  const fs::path out = dir / "out", script = dir / "s.host";
  // transparent mode: the motion unit's binary frames reach the host link, then the answer to
  // the command that ends it arrives behind them on the same line
  std::ofstream(script) << "59s expect $OLA,14\n60s $ZRX03,14,1\n"
                        << "119s expect $OLA,14,01\n120s $ZRX03,14,0\n"
                        << "130s expect $OLA,99\n131s $ZRX03,1,8\n";
  ToolRun r = tool("--no-card --duration 3m --host-script " + script.string() + " --out " + out.string(), dir);
  EXPECT_EQ(r.status, 1) << r.err;
  says(r, "host script line 5: expected \"$OLA,99\"");
  EXPECT_EQ(r.err.find("line 3"), std::string::npos) << r.err;
  auto s = summary(out);  // parses: the bytes are escaped
  EXPECT_GT(s["host"]["bytes_received"].get<uint64_t>(), 10000u);
  EXPECT_EQ(s["host"]["expectations_failed"], 1);
  EXPECT_TRUE(s["host"]["expectations"][1]["met"].get<bool>());
  EXPECT_FALSE(s["interrupted"].get<bool>());
  fs::remove_all(dir);
}

TEST(SimTool, OddReplaysAndCardsAreWarnedAndReplaysAreStreamed) {
  fs::path dir = fresh_dir("replays");
  const fs::path out = dir / "out";
  std::ofstream(dir / "empty.bin").close();
  {
    // 20 MB of seeded noise: once queued whole, it took 16 bytes of memory per byte
    std::mt19937 rng(7);
    std::ofstream noise(dir / "noise.bin", std::ios::binary);
    std::vector<char> block(1 << 20);
    for (int i = 0; i < 20; ++i) {
      for (char& c : block) c = char(rng());
      noise.write(block.data(), std::streamsize(block.size()));
    }
  }
  for (const char* file : {"empty.bin", "noise.bin"}) {
    ToolRun r = tool("--no-card --duration 10m --replay-sensor " + (dir / file).string() + " --out " + out.string(), dir);
    EXPECT_EQ(r.status, 0) << r.err;
    says(r, "no sbgECom frame in");
  }
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  EXPECT_LT(usage.ru_maxrss, 80 * 1024) << "KB";

  {
    std::mt19937 rng(8);
    std::ofstream card(dir / "random.img", std::ios::binary);
    std::vector<char> block(1 << 20);
    for (char& c : block) c = char(rng());
    for (int i = 0; i < 64; ++i) card.write(block.data(), std::streamsize(block.size()));
  }
  for (std::string card : {(dir / "random.img").string(), std::string("/dev/null")}) {
    ToolRun r = tool("--duration 1m --card " + card + " --out " + out.string(), dir);
    EXPECT_EQ(r.status, 0) << r.err;
    says(r, "warning: the card image " + card);
  }
  ToolRun r;

  // a replayed GPS log's time is what the firmware takes, not the run's --start
  const fs::path log = fs::path(__FILE__).parent_path() / "../data/nmea/ublox-lea-5h.log";
  r = tool("--no-card --duration 5m --replay-gps " + log.string() + " --out " + out.string(), dir);
  ASSERT_EQ(r.status, 0) << r.err;
  auto fixes = summary(out)["gps"]["fixes"];
  ASSERT_FALSE(fixes.empty());
  EXPECT_EQ(fixes[0]["clock_after"].get<std::string>().substr(0, 8), "21/08/10");
  fs::remove_all(dir);
}

}  // namespace
