// The simulated SD card: a disk-image file behind an SD card's SPI interface.
//
// The image is a sparse file of any size; blocks never written read as zeros. A card of 2 GiB or
// less answers as a standard-capacity card (type SD2, or SD1 with Config::version1: byte
// addresses, CSD version 1), a larger one as SDHC (type 3: block addresses, CSD version 2). The
// CSD cannot declare every size (version 2 counts 512 KB units, version 1 a 12-bit C_SIZE times a
// power of two), so the card declares the smallest capacity it can express that holds the whole
// image, and the file is padded (sparse) to it: capacity_blocks() >= blocks(), and what the
// firmware formats is what outside tools see. Over SPI, blocks past the capacity are out of range;
// the block-level operations below keep to blocks().
//
// SPI (driven by the board's hal_spi_*): after power-up or insertion the card needs 74 clocks with
// CS high, then CMD0 with its CRC puts it in SPI mode, idle. It answers CMD0/8/9/12/13/16/17/24/25/
// 32/33/38/55/58 and ACMD23/41 with R1/R2/R3/R7 one byte (Config::response_delay_bytes) after the
// command, checks the CRC of CMD0 and CMD8 only (CRC mode, CMD59, is not modelled: answered as
// illegal), answers unknown commands, and anything but CMD0/8/55/58/ACMD41 while idle, as illegal.
// Reads hold MISO high for read_latency_s before the 0xFE token; each written block gets its data
// response token and then holds MISO low (busy) for write_latency_s; an erase is busy for
// erase_latency_s plus erase_per_mblock_s per million blocks. A write or erase the card could not
// do shows in the status (CMD13). The card is hardware: it survives MCU resets (its SPI state too),
// and the firmware must initialise it after power-up, after an insertion and after CMD0.
//
// Faults (each can be switched at any virtual time, e.g. from Board::schedule):
//   remove / insert    the card leaves the slot (MISO floats high: nothing answers) / comes back
//                      powered down (it must be initialised again);
//   fail_writes        every block write fails from then on (write error); reads still work;
//   full               the card has no room left: every write fails, as a worn card that went
//                      read-only does; erase fails too. Reads still work. (A file system that is
//                      merely full is a different thing: make it by filling the image, the
//                      firmware then sees no free cluster.)
//   write hook         called before every block write with its running index; it may accept,
//                      fail, or drop the write while reporting success (a power cut: the card
//                      stops accepting writes after the Nth one). cut_power_after(n) is the
//                      common case.
//   write journal      called after every block write that landed in the image, with the
//                      block's bytes: a test can record a run and rebuild the image as it was
//                      after any number of writes (a power cut). Erases are not journaled.
//   stay_idle          ACMD41 keeps answering "idle": the card never finishes initialising;
//   hang_busy          every busy period (write, erase, stop token) lasts while it is on; turning
//                      it off ends the current one;
//   answer_with        the next n commands CMDx (or ACMDx) get only the given R1, e.g. 0x09 (CRC
//                      error) or 0x05 (illegal command), and do nothing else.
//
// The block-level operations (init, read, write, erase, write_start/data/stop) are the card's
// medium without the SPI protocol, for tests and tools; they share the image, faults and counters.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <limits>
#include <string>
#include <unordered_map>
#include <vector>

namespace sim {

class SdCard {
 public:
  static constexpr uint32_t kBlock = 512;
  static constexpr uint64_t kStandardCapacityMax = 2ull * 1024 * 1024 * 1024;  // 2 GiB

  // Error codes of the block-level operations (0 = none).
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
    double init_s = 0.05;             // ACMD41 answers "idle" this long after the first one
    int response_delay_bytes = 1;     // NCR: bytes of 0xFF before each response (1..8)
    bool version1 = false;            // a version-1 card (SD1, CMD8 illegal); 2 GiB or less only
    bool present = true;
    // Blocks kept in memory (0: every access goes to the image). Writes stay in memory until
    // flush(), which the board calls at every MCU reset; a full cache is flushed and emptied.
    // Off for tests that change the image behind the card's back.
    size_t cache_blocks = 0;
  };

  // Opens (or creates, sparse, with size_bytes rounded down to whole blocks) the image.
  // size_bytes = 0 keeps an existing image's size. Throws std::runtime_error on host I/O errors.
  SdCard(const std::string& image_path, uint64_t size_bytes, const Config& config);
  SdCard(const std::string& image_path, uint64_t size_bytes) : SdCard(image_path, size_bytes, Config{}) {}
  ~SdCard();
  SdCard(const SdCard&) = delete;
  SdCard& operator=(const SdCard&) = delete;

  const std::string& path() const { return path_; }
  uint32_t blocks() const { return blocks_; }  // the image's
  uint32_t capacity_blocks() const { return capacity_; }  // what the CSD declares
  uint8_t type() const { return type_; }  // 1 SD1, 2 SD2, 3 SDHC
  const std::array<uint8_t, 16>& csd() const { return csd_; }

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
  void stay_idle(bool on) { stay_idle_ = on; }
  void hang_busy(bool on);
  // times < 0: every one from now on; 0 clears it. cmd counts plain and application commands.
  void answer_with(uint8_t cmd, uint8_t r1, int times = -1);

  // ---- counters ----------------------------------------------------------------------------
  struct Counters {
    uint64_t inits = 0;
    uint64_t blocks_read = 0;
    uint64_t blocks_written = 0;  // landed in the image
    uint64_t failed_writes = 0;   // reported as failed to the firmware
    uint64_t dropped_writes = 0;  // reported as done but lost (write hook)
    uint64_t erases = 0;
    uint64_t blocks_erased = 0;   // of blocks(): the padding up to the capacity is not counted
    uint64_t failed_reads = 0;
  };
  const Counters& counters() const { return counters_; }

  // ---- SPI (the board calls these from hal_spi_*; t = true seconds when the byte ends) -----
  void spi_select(bool on);
  uint8_t spi_exchange(uint8_t mosi, double t);
  // n bytes back to back, the last ending at t_end; tx null sends 0xFF, rx null discards.
  void spi_exchange_block(const uint8_t* tx, uint8_t* rx, uint32_t n, double t_end, double byte_s);
  // While the host only clocks 0xFF, MISO stays at `level` until `until` (infinity: until
  // something else changes it): the board lets such a poll jump to that time.
  struct SpiWait {
    bool active = false;
    uint8_t level = 0xFF;
    double until = 0.0;
  };
  SpiWait spi_wait() const;

  // ---- block-level medium ----------------------------------------------------------------
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

  // Virtual time the card's operations take (true seconds).
  const Config& config() const { return config_; }

  // Direct access for tests and tools, bypassing faults and counters.
  bool peek(uint32_t block, uint8_t* dst) const;
  bool poke(uint32_t block, const uint8_t* src);
  // Writes the cached blocks into the image. Throws std::runtime_error naming the image when the
  // host cannot write it (a full disk): the image would no longer be what the firmware wrote.
  void flush();
  // Flushes and gives the image file a new name (same folder); throws std::runtime_error.
  void rename_image(const std::string& to);

 private:
  enum class Phase { kCommand, kReadWait, kWriteToken, kWriteData, kBusy };
  static constexpr size_t kNoCrc = std::numeric_limits<size_t>::max();

  struct CachedBlock {
    std::array<uint8_t, kBlock> data;
    bool dirty = false;
  };
  bool fail(Error e, uint32_t data = 0);
  bool read_image(uint32_t block, uint8_t* dst) const;
  void write_back() const;
  void drop_cached(uint32_t first, uint32_t last);
  bool store(uint32_t block, const uint8_t* src);
  bool erase_blocks(uint32_t first, uint32_t last);
  void size_capacity();
  void power_off();
  void to_idle();
  uint8_t next_out(double t);
  void take_in(uint8_t mosi, double t);
  void execute(double t);
  void execute_app(uint8_t cmd, uint32_t arg, double t);
  bool address(uint32_t arg, uint32_t* block, uint8_t* r1);
  void respond(std::initializer_list<uint8_t> bytes);
  void queue_data(const uint8_t* data, size_t n, bool lazy_crc);
  void fill_crc();
  void finish_data_block(double t);
  void busy(double t, double seconds, Phase after);

  std::string path_;
  Config config_;
  int fd_ = -1;
  mutable std::unordered_map<uint32_t, CachedBlock> cache_;
  uint32_t blocks_ = 0;
  uint32_t capacity_ = 0;
  uint8_t type_ = 2;
  std::array<uint8_t, 16> csd_{};
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

  // SPI state (initialised_ above: ACMD41 finished)
  bool selected_ = false;
  uint64_t powerup_clocks_ = 0;  // with CS high since power-up
  bool spi_mode_ = false;
  bool app_cmd_ = false;
  double acmd41_since_ = -1.0;
  std::array<uint8_t, 6> cmd_{};
  size_t cmd_len_ = 0;
  std::vector<uint8_t> out_;  // bytes queued for MISO
  size_t out_pos_ = 0;
  size_t crc_pos_ = kNoCrc;  // a data block's CRC in out_, computed only if the host looks at it
  Phase phase_ = Phase::kCommand;
  Phase after_busy_ = Phase::kCommand;
  double read_at_ = 0.0;
  uint8_t read_error_token_ = 0;  // 0: the block was read
  std::array<uint8_t, kBlock> read_buf_{};
  uint32_t data_block_ = 0;
  std::array<uint8_t, kBlock + 2> data_{};
  size_t data_len_ = 0;
  double busy_until_ = 0.0;
  uint32_t erase_first_ = 0, erase_last_ = 0;
  bool erase_first_set_ = false, erase_last_set_ = false;
  uint8_t status_ = 0;  // second byte of R2, cleared when read
  bool stay_idle_ = false;
  bool hang_busy_ = false;
  uint8_t answer_cmd_ = 0, answer_r1_ = 0;
  int answer_times_ = 0;
};

}  // namespace sim
