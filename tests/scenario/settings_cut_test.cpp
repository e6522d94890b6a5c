// A buoy whose host controller talks at 115200 baud, its averaging interval set to 10 minutes,
// loses power in the middle of the commit a start-up makes (its start count), at every step of
// that commit in turn. When power comes back the controller must still reach it at 115200, and
// the interval and the start count must be the ones stored before the cut or after it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "sensor_olas_sim/settings_preset.h"
#include "sim/board.h"
#include "sim/machine.h"
#include "sim/text.h"

namespace {

// The host controller's end of the wire: what it sends, and everything it hears.
class Controller : public sim::Device {
 public:
  explicit Controller(uint32_t baud) : baud_(baud) {}
  void on_byte(sim::Board&, uint8_t byte, sim::Cycles) override { heard.push_back(char(byte)); }
  uint32_t baud() const override { return baud_; }
  void send(sim::Board& board, const std::string& body) {
    board.device_send(0, sim::nmea_sentence(body));
  }
  std::string heard;

 private:
  uint32_t baud_;
};

// Field n (1-based) after `head` in the last answer that starts so, or "".
std::string Field(const std::string& heard, const std::string& head, int n) {
  const size_t at = heard.rfind(head);
  if (at == std::string::npos) return "";
  size_t p = at + head.size();
  for (int i = 1; i < n; ++i) {
    p = heard.find(',', p);
    if (p == std::string::npos) return "";
    ++p;
  }
  return heard.substr(p, heard.find_first_of(",*", p) - p);
}

TEST(SettingsCut, HostSpeedIntervalAndStartCountSurviveACutAtEveryStepOfTheStartCommit) {
  sim::Board board(sim::Board::Config{});
  board.make_current();
  Controller host(115200);
  board.attach(0, &host);
  olas::apply_settings(board.flash(), {olas::parse_setting("CTE_INTERVALO_PROMEDIO=10")});
  board.flash()[31] = 8;  // host link at 115200 baud
  sim::Machine machine(board, OLAS_FIRMWARE_IMAGE);
  double t = 0;
  auto run = [&](double s) { machine.run_until(board.cycles_for(t += s)); };
  auto restart = [&] {
    host.send(board, "ZRX03,1,2");
    run(10);
  };
  auto ask = [&](const std::string& body) {
    host.heard.clear();
    host.send(board, body);
    run(1);
  };
  run(10);
  ask("ZRX03,2");
  const std::string settings = host.heard;
  ASSERT_EQ(Field(settings, "$OLA,02,", 8), "10") << settings;

  // One start, uncut: its commit's steps and erases.
  const uint64_t steps0 = board.flash_steps(), erases0 = board.flash_erases();
  restart();
  const uint64_t steps = board.flash_steps() - steps0;
  EXPECT_EQ(steps, 23u);
  EXPECT_EQ(board.flash_erases() - erases0, 5u) << "five rows erased per commit, as ever";

  for (uint64_t k = 0; k <= steps; ++k) {
    SCOPED_TRACE("cut after step " + std::to_string(k));
    ask("ZRX03,1,5");
    const int before = std::stoi("0" + Field(host.heard, "$OLA,01,", 3));
    ASSERT_GT(before, 1) << host.heard;
    board.cut_flash_after_steps(int64_t(k));
    restart();  // the start whose commit the cut stops
    board.cut_flash_after_steps(-1);
    restart();  // power back: this start reads what the cut left
    ask("ZRX03,1,5");
    const std::string count = Field(host.heard, "$OLA,01,", 3);
    ASSERT_FALSE(count.empty()) << "no answer at 115200 baud: " << host.heard;
    const int after = std::stoi(count);
    EXPECT_TRUE(after == before + 1 || after == before + 2) << before << " -> " << after;
    ask("ZRX03,2");
    EXPECT_EQ(host.heard, settings) << "the settings as stored";
  }
  EXPECT_EQ(board.mcu_baud(0), 115200u);
}

}  // namespace
