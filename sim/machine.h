// The MCU running its firmware on a simulated board, across any number of resets.
//
// The firmware runs on its own stack (a coroutine), so that a run can stop at any virtual time
// and go on later. With a shared-library image, every boot loads a fresh copy, so that every
// firmware global starts at its start value as after a real reset.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "sim/board.h"
#include "sim/firmware_probe.h"

namespace sim {

class Machine {
 public:
  // Firmware from a shared library, reloaded at every reset.
  Machine(Board& board, std::string image_path);
  // Firmware linked into this program (globals are not reset between boots).
  Machine(Board& board, const FirmwareEntry& entry);
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  // Runs the firmware until virtual time t (MCU cycles); can be called again to go on.
  void run_until(Cycles t);
  uint32_t boots() const { return boots_; }
  // A global of the running image (throws ImageError when the image has no such global, or
  // when the firmware is linked into this program).
  template <class T>
  T& read(FirmwareGlobal<T> g) const {
    return *static_cast<T*>(global(g.name, sizeof(T)));
  }

 private:
  struct Context;
  static void entry(unsigned lo, unsigned hi);
  void firmware_main();
  void load_image();
  void* global(const char* name, size_t size) const;  // looked up once per loaded image

  Board& board_;
  std::string image_path_;
  std::vector<char> image_bytes_;
  void* handle_ = nullptr;
  bool dynamic_;
  FirmwareEntry static_entry_;
  uint32_t boots_ = 0;
  std::unique_ptr<Context> ctx_;
  std::string error_;
  mutable std::unordered_map<std::string, void*> globals_;  // of the loaded image
};

}  // namespace sim
