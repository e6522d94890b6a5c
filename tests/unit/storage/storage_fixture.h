// A simulated board with a card slot, the storage RAM at its start values, and helpers to run the
// card cycle as the main loop does, to restart the firmware over the same card, and to look at
// the card from outside (the firmware's own FAT driver, fsck.fat and mtools).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/sd_card.h"
#include "unit/core/firmware_ram.h"

namespace olas::test {

class StorageFixture : public FirmwareFixture {
 protected:
  // start_tick = false leaves the board as before the first boot: no tick, no console port.
  explicit StorageFixture(bool start_tick = true);
  ~StorageFixture() override;

  // A new sparse card image of the given size in the slot (absent when present is false).
  sim::SdCard& InsertCard(uint64_t bytes, sim::SdCard::Config config = {});
  sim::SdCard& card() { return *card_; }
  // Runs the firmware's formatter on the card in the slot (no erase) and clears the console.
  void FormatCard();
  // Calls the card cycle whenever the main loop would, every 50 ms, for the given time.
  void RunCardCycle(double seconds);
  // One card cycle step now, as one loop pass.
  void CardStep();
  // A reset: firmware RAM back to start values over the same board, flash and card; the tick and
  // the console run again, the clock shows the given time and a GPS date counts as captured.
  void Restart(int day, int month, int year, int hour, int minute);
  // Sets the clock and marks a GPS date as captured.
  void DateKnown(int day, int month, int year, int hour, int minute);

  int Count(const std::string& needle) const;
  bool ConsoleHas(const std::string& needle) const { return console.text.find(needle) != std::string::npos; }
  // Position of needle in the console (npos when absent).
  size_t Where(const std::string& needle) const { return console.text.find(needle); }

  // Reads a whole file through the firmware's driver (mounted card); "<missing>" when it cannot.
  std::string ReadCardFile(const std::string& path);
  // Creates a file with the given text through the firmware's driver.
  void WriteCardFile(const std::string& path, const std::string& text);

  // Copies the partition starting at first_block out of the image into a sparse file; returns
  // its path (empty on failure).
  std::string ExtractPartition(uint32_t first_block, uint32_t blocks);
  // Runs a shell command; returns its exit status and leaves its output in out.
  static int Shell(const std::string& command, std::string* out);
  static bool HaveTool(const char* name);

  std::string image_path_;
  std::vector<std::string> scratch_;
  std::unique_ptr<sim::SdCard> card_;
};

}  // namespace olas::test
