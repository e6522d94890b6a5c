// The simulated host controller against the firmware: timed frames, a speed change it follows
// only when its script says so, expectations, and its two logs.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "board/placa.h"
#include "host/zrx03.h"
#include "sim/world/host_controller.h"
#include "unit/host/host_fixture.h"

namespace olas::test {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class Controller : public HostTest {
 protected:
  Controller() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    base_ = ::testing::TempDir() + "host_" + info->name();
    options_.log_path = base_ + ".log";
    options_.exchanges_path = base_ + "-exchanges.log";
  }
  ~Controller() override {
    std::remove(options_.log_path.c_str());
    std::remove(options_.exchanges_path.c_str());
  }
  std::vector<sim::HostScriptLine> Script(const std::string& text) {
    std::istringstream in(text);
    return sim::parse_host_script(in, "script");
  }
  // Runs the main loop until the board's clock reads `seconds` (true time since the board began).
  void LoopUntil(double seconds) {
    while (board.seconds(board.now()) < seconds) {
      loop();
      run_ms(1);
    }
  }

  std::string base_;
  sim::HostController::Options options_;
};

TEST_F(Controller, TimedFramesExpectationsAndASpeedChangeItFollowsOnlyWhenToldTo) {
  const double t0 = board.seconds(board.now());
  auto at = [&](double s) {
    char b[32];
    std::snprintf(b, sizeof b, "%.3fs", t0 + s);
    return std::string(b);
  };
  sim::HostController host_controller(board,
                                      Script(at(0.5) + " $ZRX03,1,5\n" + at(0.5) + " expect OLA,01,01,05,00001\n" +
                                             at(1.0) + " expect 04,1,0\n" + at(1.0) + " $ZRX03,2\n" + at(1.5) +
                                             " $ZRX03,13,8\n" + at(1.5) + " expect OLA,13,01\n" + at(2.0) +
                                             " $ZRX03,1,5\n" + at(2.0) + " expect OLA,01\n" + at(3.0) +
                                             " baud 115200\n" + at(3.0) + " raw 24 5A 52\n" + at(3.5) +
                                             " $ZRX03,1,19\n" + at(3.5) + " expect OLA,01,01,19,8\n" + at(4.0) +
                                             " expect never\n"),
                                      options_);
  host_controller.start();
  LoopUntil(t0 + 5.0);
  host_controller.finish();

  // the answer to 13,8 went out at 115200 while the controller listened at 38400: lost, as was
  // the answer to the next frame, which arrived garbled; after "baud 115200" all is well again
  const auto& e = host_controller.expectations();
  ASSERT_EQ(e.size(), 6u);
  EXPECT_TRUE(e[0].met) << e[0].answer;
  EXPECT_TRUE(e[1].met) << e[1].answer;
  // the 13,8 answer never came: the next answer heard, that of 1,19, resolves it
  EXPECT_TRUE(e[2].resolved);
  EXPECT_FALSE(e[2].met);
  EXPECT_EQ(e[2].answer + "\r\n", HostFrame("$OLA,01,01,19,8"));
  EXPECT_TRUE(e[3].met);  // the same answer contains OLA,01
  EXPECT_TRUE(e[4].met);
  EXPECT_FALSE(e[5].resolved);
  EXPECT_EQ(host_controller.stats().answers, 3u);
  EXPECT_EQ(host_controller.stats().frames_sent, 5u);
  EXPECT_EQ(host_controller.stats().raw_sent, 1u);
  EXPECT_EQ(host_controller.stats().bad_checksums, 0u);
  EXPECT_GT(board.stats(0).framing_errors, 0u);

  std::string log = ReadFile(options_.log_path);
  EXPECT_EQ(log, HostFrame("$OLA,01,01,05,00001") + HostFrame("$OLA,02,04,1,0,00000,03000,03,90,20,1,0,001,002,003,65535") +
                     HostFrame("$OLA,01,01,19,8"));
  std::string exchanges = ReadFile(options_.exchanges_path);
  EXPECT_NE(exchanges.find(" > $ZRX03,1,5*57\n"), std::string::npos) << exchanges;
  EXPECT_NE(exchanges.find(" < $OLA,01,01,05,00001*"), std::string::npos) << exchanges;
  EXPECT_NE(exchanges.find(" baud 115200\n"), std::string::npos);
  EXPECT_NE(exchanges.find(" > raw $ZR\n"), std::string::npos);
  EXPECT_NE(exchanges.find("expect \"OLA,13,01\" (script line 6): FAILED"), std::string::npos) << exchanges;
  EXPECT_NE(exchanges.find("expect \"never\" (script line 13): FAILED, no answer"), std::string::npos) << exchanges;
  // every exchange line starts with its virtual time
  std::istringstream lines(exchanges);
  std::string line;
  while (std::getline(lines, line)) EXPECT_EQ(line.size() > 13 && line[2] == ':' && line[5] == ':' && line[8] == '.', true) << line;
}

TEST_F(Controller, FollowingTheMcuItHearsEveryAnswerAcrossASpeedChange) {
  options_.follow_mcu = true;
  sim::HostController host_controller(board, {}, options_);
  std::string heard;
  host_controller.on_receive = [&](uint8_t b) { heard.push_back(char(b)); };
  host_controller.start();
  host_controller.send(HostFrame("$ZRX03,13,8"));
  LoopFor(300);
  host_controller.send("$ZRX03,1,19");
  host_controller.send(HostFrame("$ZRX03,1,19").substr(11));
  LoopFor(300);
  host_controller.finish();
  EXPECT_EQ(heard, HostFrame("$OLA,13,01") + HostFrame("$OLA,01,01,19,8"));
  EXPECT_EQ(board.stats(0).framing_errors, 0u);
  std::string exchanges = ReadFile(options_.exchanges_path);
  EXPECT_NE(exchanges.find(" > $ZRX03,1,19*"), std::string::npos) << exchanges;
  EXPECT_EQ(host_controller.stats().frames_sent, 2u);
}

}  // namespace
}  // namespace olas::test
