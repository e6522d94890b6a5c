// The MCU's flash as the firmware sees it: the rows of its byte store and the NVM controller with
// the user row, with their own counters, fault injection and the file that keeps them between
// runs. It keeps no time: the board charges each erase and page program (busy_cycles).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "board/hal.h"
#include "sim/cycles.h"

namespace sim {

// The flash rows the firmware keeps its byte store in.
using FlashArea = std::array<uint8_t, HAL_FLASH_AREA_SIZE>;

struct NvmState {
  uint32_t user_row[2] = {0xD8E0C7FFu, 0xFFFFFC5Du};  // factory values
  bool security_bit = false;
};

class FlashMemory {
 public:
  // Flash timing at the nominal 48 MHz (typical SAMD21 figures): a row erase, one 64-byte page.
  static constexpr Cycles kRowEraseCycles = 2 * (kNominalHz / 1000);
  static constexpr Cycles kPageWriteCycles = 1 * (kNominalHz / 1000);

  // file: flash.bin (the area, the two user-row words, the security bit); empty = memory only.
  // A file that is missing or not ours leaves an erased area and factory fuses.
  explicit FlashMemory(std::string file);

  FlashArea& area() { return area_; }
  const FlashArea& area() const { return area_; }
  NvmState& nvm() { return nvm_; }

  uint64_t erases() const { return erases_; }
  uint64_t writes() const { return writes_; }
  uint64_t overwrites() const { return overwrites_; }  // writes over unerased bytes
  uint64_t nvm_commands() const { return nvm_commands_; }
  uint64_t steps() const { return steps_; }  // erases + pages programmed

  // The controller reports an error for every write once writes() has passed `writes` and every
  // row erase once erases() has passed `erases` (-1 = never): nothing lands.
  void fail_after(int64_t writes, int64_t erases) {
    fail_writes_after_ = writes;
    fail_erases_after_ = erases;
  }
  // A power cut inside the flash work: after `steps` more erases or page programs, every later
  // one is lost (-1 = never).
  void cut_after_steps(int64_t steps) { steps_left_ = steps; }

  // The controller's registers as a reset leaves them.
  void reset_controller();

  void read(uint32_t offset, uint8_t* dst, uint32_t len) const;
  // The row holding offset (inside the area) erased; false = the controller reported an error.
  bool erase_row(uint32_t offset);
  // false = the controller reported an error and nothing landed.
  bool write(uint32_t offset, const uint8_t* src, uint32_t len);
  static uint32_t pages(uint32_t offset, uint32_t len) { return len ? (offset + len - 1) / 64 - offset / 64 + 1 : 0; }

  // NVMCTRL registers (0 CTRLA, 1 CTRLB, 2 STATUS, 3 ADDR, 4 INTFLAG) and the user row's words.
  uint32_t reg_read(uint8_t reg) const;
  void reg_write(uint8_t reg, uint32_t value);
  uint32_t mem_read(uint32_t address) const;
  void mem_write(uint32_t address, uint32_t word);

  // Writes the file (a new one renamed over the old); throws std::runtime_error naming it when
  // the host cannot write it.
  void save() const;

 private:
  bool step();  // counts one erase or page program; false once a cut stops the flash

  std::string file_;
  FlashArea area_;
  NvmState nvm_;
  uint32_t ctrlb_ = 0;
  uint32_t addr_ = 0;
  uint32_t page_[2] = {0xFFFFFFFFu, 0xFFFFFFFFu};
  uint64_t erases_ = 0, writes_ = 0, overwrites_ = 0, nvm_commands_ = 0, steps_ = 0;
  int64_t fail_writes_after_ = -1, fail_erases_after_ = -1;
  int64_t steps_left_ = -1;
};

}  // namespace sim
