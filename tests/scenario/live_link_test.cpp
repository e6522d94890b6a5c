// The live host link: the firmware image paced to the wall clock with its host port on a
// pseudo-terminal, and a client that opens the terminal at 38400 8N1 as a serial program would,
// asks for the settings and must have the answer within 2 s of wall time; Ctrl-C then ends the
// run with its outputs written. Real time by nature: it takes a few seconds.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "scenario/wave_checks.h"
#include "sensor_olas_sim/host_setup.h"
#include "sim/board.h"
#include "sim/machine.h"
#include "sim/world/gps_receiver.h"

namespace {
namespace fs = std::filesystem;
using olas::scenario::ReadFile;
using Clock = std::chrono::steady_clock;

// The debug console; tells the client when the first GPS configuration is over, so that the
// loop is not inside it (several seconds with a slow receiver) when the frame arrives.
class Console : public sim::Device {
 public:
  void on_byte(sim::Board&, uint8_t byte, sim::Cycles) override {
    text_.push_back(char(byte));
    if (!ready && text_.find("Tramas necesarias configuradas") != std::string::npos) ready = true;
  }
  uint32_t baud() const override { return 115200; }
  std::atomic<bool> ready{false};

 private:
  std::string text_;
};

// Reads from fd until `needle` has arrived after `from`, or the deadline passes.
bool read_until(int fd, std::string& got, const std::string& needle, size_t from, Clock::time_point deadline) {
  char buf[256];
  while (got.find(needle, from) == std::string::npos) {
    int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
    if (left <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, left) <= 0) continue;
    ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) got.append(buf, size_t(n));
  }
  return true;
}

TEST(LiveLink, SettingsAnswerOverThePseudoTerminalWithinTwoSecondsThenCtrlCEndsTheRun) {
  fs::path out = fs::temp_directory_path() / "olas_scenario_live_link";
  fs::remove_all(out);
  fs::create_directories(out);

  sim::Board board(sim::Board::Config{});
  board.make_current();
  Console console;
  board.attach(1, &console);
  sim::GpsReceiverConfig gps_cfg;
  gps_cfg.never_fix = true;
  sim::GpsReceiver gps(board, gps_cfg);
  gps.start();

  olas::HostOptions ho;
  ho.pty = true;
  olas::HostLink link(board, ho, out.string());
  ASSERT_FALSE(link.pty_path().empty());
  EXPECT_TRUE(link.realtime());
  EXPECT_DOUBLE_EQ(link.step_seconds(60.0), olas::HostLink::kRealtimeStepSeconds);
  link.attach();
  sim::Machine machine(board, OLAS_FIRMWARE_IMAGE);
  olas::install_sigint_handler();

  const std::string frame = "$ZRX03,2*4D\r\n";
  const std::string answer = "$OLA,02,04,1,0,00000,03000,03,90,20,1,0,001,002,003,65535*63\r\n";
  std::atomic<bool> client_done{false};
  bool opened = false, banner = false, answered = false;
  double answer_wall_s = -1;
  std::string heard;
  std::thread client([&] {
    int fd = open(link.pty_path().c_str(), O_RDWR | O_NOCTTY);
    opened = fd >= 0;
    if (opened) {
      termios tio{};
      tcgetattr(fd, &tio);
      cfmakeraw(&tio);
      cfsetispeed(&tio, B38400);
      cfsetospeed(&tio, B38400);
      tio.c_cflag &= ~(PARENB | CSTOPB | CSIZE);
      tio.c_cflag |= CS8 | CLOCAL | CREAD;
      tcsetattr(fd, TCSANOW, &tio);
      banner = read_until(fd, heard, "Firmware:1_7_2", 0, Clock::now() + std::chrono::seconds(20));
      auto ready_by = Clock::now() + std::chrono::seconds(20);
      while (!console.ready && Clock::now() < ready_by) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      size_t from = heard.size();
      auto sent = Clock::now();
      ssize_t w = write(fd, frame.data(), frame.size());
      answered = w == ssize_t(frame.size()) &&
                 read_until(fd, heard, answer, from, sent + std::chrono::milliseconds(2000));
      answer_wall_s = std::chrono::duration<double>(Clock::now() - sent).count();
      close(fd);
    }
    client_done = true;
    std::raise(SIGINT);  // as Ctrl-C in the simulator's terminal
  });

  auto started = Clock::now();
  std::string error;
  try {
    for (sim::Cycles t = 0; !olas::sigint_received() && Clock::now() - started < std::chrono::seconds(60);) {
      t += board.cycles_for(link.step_seconds(60.0));
      machine.run_until(t);
      link.step();
    }
  } catch (const std::exception& e) {
    error = e.what();
  }
  client.join();
  nlohmann::json summary = link.finish();

  EXPECT_EQ(error, "");
  ASSERT_TRUE(opened) << link.pty_path();
  EXPECT_TRUE(banner) << heard;
  EXPECT_TRUE(answered) << heard;
  EXPECT_LT(answer_wall_s, 2.0);
  EXPECT_TRUE(olas::sigint_received());
  // virtual time kept pace with the wall clock
  double virt = board.seconds(board.now());
  double wall = std::chrono::duration<double>(Clock::now() - started).count();
  EXPECT_NEAR(virt, wall, 0.5 + 0.05 * wall);

  // the outputs are written: every byte the MCU sent, and the exchange
  std::string log = ReadFile(out / "host.log");
  EXPECT_NE(log.find("Firmware:1_7_2"), std::string::npos);
  EXPECT_NE(log.find(answer), std::string::npos);
  std::string exchanges = ReadFile(out / "host-exchanges.log");
  EXPECT_NE(exchanges.find("> $ZRX03,2*4D\n"), std::string::npos) << exchanges;
  EXPECT_NE(exchanges.find("< $OLA,02,04,1,0,00000,03000,03,90,20,1,0,001,002,003,65535*63\n"), std::string::npos)
      << exchanges;
  EXPECT_EQ(summary["answers"], 1);
  EXPECT_EQ(summary["pty"], link.pty_path());
  EXPECT_EQ(board.stats(0).framing_errors, 0u);
  std::signal(SIGINT, SIG_DFL);
}

}  // namespace
