// The simulated SD card: a disk-image file behind the hal_sd_* functions.
//
// The image is a sparse file of any size; blocks never written read as zeros. A card of 2 GB or
// less answers as a standard-capacity card (type SD2), a larger one as SDHC (type 3). The card
// is hardware: it survives MCU resets; the firmware must run hal_sd_init after power-up, after
// an insertion and after a failed multi-block sequence.
//
// Faults (each can be switched at any virtual time, e.g. from Board::schedule):
//   remove / insert    the card leaves the slot (every operation fails, kErrNoCard) / comes back
//                      (it must be initialised again);
//   fail_writes        every block write fails from then on (kErrWrite); reads still work;
//   full               the card has no room left: every write fails with kErrFull, as a worn
//                      card that went read-only does; erase fails too. Reads still work. (A file
//                      system that is merely full is a different thing: make it by filling the
//                      image, the firmware then sees no free cluster.)
//   write hook         called before every block write with its running index; it may accept,
//                      fail, or drop the write while reporting success (a power cut: the card
//                      stops accepting writes after the Nth one). cut_power_after(n) is the
//                      common case.
//   write journal      called after every block write that landed in the image, with the
//                      block's bytes: a test can record a run and rebuild the image as it was
//                      after any number of writes (a power cut). Erases are not journaled.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace sim {

class SdCard {
 public:
  static constexpr uint32_t kBlock = 512;
  static constexpr uint64_t kStandardCapacityMax = 2ull * 1024 * 1024 * 1024;  // 2 GiB

  // Error codes reported through hal_sd_error_code (0 = none).
  enum Error : uint8_t {
    kErrNone = 0,
    kErrNoCard = 0x01,      // absent
    kErrNotReady = 0x02,    // not initialised since power-up or insertion
    kErrRange = 0x03,       // block beyond the card
    kErrRead = 0x04,        // host I/O error on the image
    kErrWrite = 0x05,       // injected write failure, or host I/O error
    kErrFull = 0x06,        // the card takes no more writes
    kErrSequence = 0x07,    // writeData/writeStop outside a multi-block write (any other
                            // command ends an unfinished one, as a stop would)
    kErrErase = 0x08,
  };

  struct Config {
    double read_latency_s = 0.0002;   // per block read
    double write_latency_s = 0.001;   // per block written
    double erase_latency_s = 0.002;   // per erase command ...
    double erase_per_mblock_s = 0.25;  // ... plus this per million blocks erased
    bool present = true;
  };

  // Opens (or creates, sparse, with size_bytes rounded down to whole blocks) the image.
  // size_bytes = 0 keeps an existing image's size. Throws std::runtime_error on host I/O errors.
  SdCard(const std::string& image_path, uint64_t size_bytes, const Config& config);
  SdCard(const std::string& image_path, uint64_t size_bytes) : SdCard(image_path, size_bytes, Config{}) {}
  ~SdCard();
  SdCard(const SdCard&) = delete;
  SdCard& operator=(const SdCard&) = delete;

  const std::string& path() const { return path_; }
  uint32_t blocks() const { return blocks_; }
  uint8_t type() const { return uint64_t(blocks_) * kBlock > kStandardCapacityMax ? 3 : 2; }

  // ---- slot and faults -------------------------------------------------------------------
  bool present() const { return present_; }
  void remove();
  void insert();
  void fail_writes(bool on) { fail_writes_ = on; }
  void set_full(bool on) { full_ = on; }
  enum class WriteAction { kAccept, kFail, kDrop };
  // index counts every block write the card was asked for (0-based, accepted or not).
  using WriteHook = std::function<WriteAction(uint64_t index, uint32_t block)>;
  void set_write_hook(WriteHook hook) { hook_ = std::move(hook); }
  // Accepts n more block writes, then silently drops every later one.
  void cut_power_after(uint64_t n);
  using WriteJournal = std::function<void(uint32_t block, const uint8_t* data)>;
  void set_write_journal(WriteJournal journal) { journal_ = std::move(journal); }

  // ---- counters ----------------------------------------------------------------------------
  struct Counters {
    uint64_t inits = 0;
    uint64_t blocks_read = 0;
    uint64_t blocks_written = 0;  // landed in the image
    uint64_t failed_writes = 0;   // reported as failed to the firmware
    uint64_t dropped_writes = 0;  // reported as done but lost (write hook)
    uint64_t erases = 0;
    uint64_t blocks_erased = 0;
    uint64_t failed_reads = 0;
  };
  const Counters& counters() const { return counters_; }

  // ---- the hal operations (hal.cpp charges their latency on the board) -------------------
  bool init();
  bool ready() const { return present_ && initialised_; }
  bool read(uint32_t block, uint8_t* dst);
  bool write(uint32_t block, const uint8_t* src);
  bool erase(uint32_t first, uint32_t last);
  bool write_start(uint32_t block, uint32_t count);
  bool write_data(const uint8_t* src);
  bool write_stop();
  uint8_t error_code() const { return error_; }
  uint32_t error_data() const { return error_data_; }

  // Virtual time each operation takes (true seconds).
  const Config& config() const { return config_; }

  // Direct access for tests and tools, bypassing faults and counters.
  bool peek(uint32_t block, uint8_t* dst) const;
  bool poke(uint32_t block, const uint8_t* src);

 private:
  bool fail(Error e, uint32_t data = 0);
  bool store(uint32_t block, const uint8_t* src);

  std::string path_;
  Config config_;
  int fd_ = -1;
  uint32_t blocks_ = 0;
  bool present_ = true;
  bool initialised_ = false;
  bool fail_writes_ = false;
  bool full_ = false;
  bool in_multi_ = false;
  uint32_t multi_next_ = 0;
  uint64_t write_index_ = 0;
  WriteHook hook_;
  WriteJournal journal_;
  uint8_t error_ = kErrNone;
  uint32_t error_data_ = 0;
  Counters counters_;
};

}  // namespace sim
