#include "unit/storage/storage_fixture.h"

#include "unit/storage/image_tools.h"

#include <cstdio>

#include "board/placa.h"
#include "core/reloj.h"
#include "gps/modulo_gps.h"
#include "settings/virtual_e2prom.h"
#include "storage/formateo_sd.h"
#include "storage/gestion_sd.h"
#include "waves/waves.h"

namespace olas::test {

StorageFixture::StorageFixture(bool start_tick) {
  if (start_tick) StartTickAndConsole();
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  image_path_ = ::testing::TempDir() + "storage_" + info->test_suite_name() + "_" + info->name() + ".img";
}

StorageFixture::~StorageFixture() {
  board.set_card(nullptr);
  card_.reset();
  std::remove(image_path_.c_str());
  for (const std::string& p : scratch_) std::remove(p.c_str());
}

sim::SdCard& StorageFixture::InsertCard(uint64_t bytes, sim::SdCard::Config config) {
  board.set_card(nullptr);
  card_.reset();
  std::remove(image_path_.c_str());
  card_ = std::make_unique<sim::SdCard>(image_path_, bytes, config);
  board.set_card(card_.get());
  return *card_;
}

void StorageFixture::FormatCard() {
  Formatear_SD();
  run_ms(50);
  console.text.clear();
}

void StorageFixture::CardStep() {
  if (csegundos_retardo_gestion_sd == 0 && CTE_PERMITIR_ESCRITURA_SD == 1) ciclo_tarjeta_sd();
}

void StorageFixture::RunCardCycle(double seconds) {
  for (double t = 0; t < seconds; t += 0.05) {
    CardStep();
    run_ms(50);
  }
}

void StorageFixture::DateKnown(int day, int month, int year, int hour, int minute) {
  SetClock(day, month, year, hour, minute, 0);
  cfecha_capturada = 1;
}

void StorageFixture::Restart(int day, int month, int year, int hour, int minute) {
  RestoreFirmwareRam();  // files dropped, not closed: a reset loses what they had not synced
  board.power_on_reset();
  StartTickAndConsole();
  run_ms(1);
  console.text.clear();
  DateKnown(day, month, year, hour, minute);
}

int StorageFixture::Count(const std::string& needle) const {
  int n = 0;
  for (size_t p = console.text.find(needle); p != std::string::npos; p = console.text.find(needle, p + 1)) ++n;
  return n;
}

std::string StorageFixture::ReadCardFile(const std::string& path) {
  FatFile f;
  if (!f.open(miSD.vwd(), path.c_str(), O_RDONLY)) return "<missing>";
  std::string text;
  for (int c = f.read(); c >= 0; c = f.read()) text.push_back(char(c));
  f.close();
  return text;
}

void StorageFixture::WriteCardFile(const std::string& path, const std::string& text) {
  FatFile f;
  ASSERT_TRUE(f.open(miSD.vwd(), path.c_str(), O_ESCRITURA_SD)) << path;
  if (!text.empty()) {
    ASSERT_EQ(f.write(text.data(), text.size()), int(text.size()));
  }
  ASSERT_TRUE(f.close());
}

std::string StorageFixture::ExtractPartition(uint32_t first_block, uint32_t blocks) {
  const std::string out = image_path_ + ".part" + std::to_string(scratch_.size());
  scratch_.push_back(out);
  return CopyImageRange(image_path_, out, uint64_t(first_block) * 512, uint64_t(blocks) * 512) ? out : "";
}

int StorageFixture::Shell(const std::string& command, std::string* out) { return RunShell(command, out); }

bool StorageFixture::HaveTool(const char* name) {
  std::string out;
  return RunShell(std::string("command -v ") + name, &out) == 0;
}

}  // namespace olas::test
