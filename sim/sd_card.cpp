// The simulated SD card over a sparse image file (POSIX I/O: pread/pwrite, holes for erase), and
// its SPI interface: a byte-level state machine that runs on the virtual time of each byte.
#include "sim/sd_card.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace sim {

namespace {

// R1 bits
constexpr uint8_t kIdle = 0x01;
constexpr uint8_t kEraseSeqError = 0x10;
constexpr uint8_t kIllegal = 0x04;
constexpr uint8_t kCrcError = 0x08;
constexpr uint8_t kAddressError = 0x20;
constexpr uint8_t kParamError = 0x40;
// second byte of R2
constexpr uint8_t kWpEraseSkip = 0x02;
constexpr uint8_t kGeneralError = 0x04;
constexpr uint8_t kWpViolation = 0x20;
constexpr uint8_t kOutOfRange = 0x80;
// tokens
constexpr uint8_t kStartBlock = 0xFE;
constexpr uint8_t kStartMulti = 0xFC;
constexpr uint8_t kStopTran = 0xFD;
constexpr uint8_t kDataAccepted = 0x05;
constexpr uint8_t kDataWriteError = 0x0D;
constexpr uint8_t kErrorTokenGeneral = 0x01;

constexpr uint64_t kPowerUpClocks = 74;

uint8_t crc7(const uint8_t* p, size_t n) {
  uint8_t crc = 0;
  for (size_t i = 0; i < n; ++i) {
    uint8_t c = p[i];
    for (int b = 0; b < 8; ++b) {
      crc = uint8_t(crc << 1);
      if ((c ^ crc) & 0x80) crc ^= 0x09;
      c = uint8_t(c << 1);
    }
  }
  return crc & 0x7F;
}

// CRC-16/XMODEM of data blocks (x^16 + x^12 + x^5 + 1).
uint16_t crc16(const uint8_t* p, size_t n) {
  uint16_t crc = 0;
  for (size_t i = 0; i < n; ++i) {
    crc = uint16_t(crc ^ (uint16_t(p[i]) << 8));
    for (int b = 0; b < 8; ++b) crc = uint16_t(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

}  // namespace

SdCard::SdCard(const std::string& image_path, uint64_t size_bytes, const Config& config)
    : path_(image_path), config_(config), present_(config.present) {
  namespace fs = std::filesystem;
  fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) throw std::runtime_error("card image " + path_ + ": " + std::strerror(errno));
  std::error_code ec;
  const uint64_t found = fs::file_size(path_, ec);
  uint64_t size = size_bytes ? size_bytes / kBlock * kBlock : (ec ? 0 : found);
  if (size / kBlock > 0xFFFFFFFFull) {
    ::close(fd_);
    throw std::runtime_error("card image " + path_ + ": larger than 2 TiB");
  }
  blocks_ = uint32_t(size / kBlock);
  size_capacity();
  // The file holds the whole capacity, so outside tools see the device the firmware formats;
  // resize_file keeps it sparse: unwritten blocks cost nothing and read as zeros.
  const uint64_t device = uint64_t(capacity_) * kBlock;
  if (size_bytes || device > found) {
    fs::resize_file(path_, std::max(size, device), ec);
    if (ec) {
      ::close(fd_);
      throw std::runtime_error("card image " + path_ + ": " + ec.message());
    }
  }
  if (!present_) power_off();
}

void SdCard::size_capacity() {
  const bool sdhc = uint64_t(blocks_) * kBlock > kStandardCapacityMax;
  type_ = sdhc ? 3 : config_.version1 ? 1 : 2;
  csd_.fill(0);
  if (sdhc) {
    // version 2: (C_SIZE + 1) units of 512 KB
    const uint32_t units = std::min<uint32_t>(blocks_ / 1024 + (blocks_ % 1024 != 0), 0x3FFFFF);
    const uint32_t c_size = units - 1;
    capacity_ = units * 1024;
    csd_ = {0x40, 0x0E, 0x00, 0x32, 0x5B, 0x59, 0x00, uint8_t((c_size >> 16) & 0x3F), uint8_t(c_size >> 8),
            uint8_t(c_size), 0x7F, 0x80, 0x0A, 0x40, 0x00, 0x00};
  } else {
    // version 1: (C_SIZE + 1) x 2^(C_SIZE_MULT + 2) blocks of 2^READ_BL_LEN bytes, C_SIZE < 4096:
    // the smallest such capacity that holds the image, the finest multiplier on a tie
    uint32_t best = 0;
    int best_shift = 2;
    for (int shift = 2; shift <= 11; ++shift) {
      const uint32_t units = std::max<uint32_t>(1, (blocks_ >> shift) + ((blocks_ & ((1u << shift) - 1)) != 0));
      if (units > 4096) continue;
      if (best == 0 || (units << shift) < best) {
        best = units << shift;
        best_shift = shift;
      }
    }
    capacity_ = best;
    const uint32_t c_size = (best >> best_shift) - 1;
    const uint8_t bl_len = uint8_t(best_shift <= 9 ? 9 : best_shift);
    const uint8_t mult = uint8_t(best_shift <= 9 ? best_shift - 2 : 7);
    csd_ = {0x00, 0x26, 0x00, 0x32, 0x5F, uint8_t(0x50 | bl_len), uint8_t(0x80 | ((c_size >> 10) & 0x03)),
            uint8_t(c_size >> 2), uint8_t(((c_size & 0x03) << 6) | 0x3F), uint8_t(0xFC | (mult >> 1)),
            uint8_t(((mult & 1) << 7) | 0x7F), 0x80, uint8_t(0x08 | (bl_len >> 2)), uint8_t((bl_len & 3) << 6),
            0x00, 0x00};
  }
  csd_[15] = uint8_t((crc7(csd_.data(), 15) << 1) | 1);
}

SdCard::~SdCard() {
  try {
    flush();
  } catch (const std::exception&) {
  }
  if (fd_ >= 0) ::close(fd_);
}

void SdCard::flush() { write_back(); }

void SdCard::rename_image(const std::string& to) {
  write_back();
  if (std::rename(path_.c_str(), to.c_str()) != 0)
    throw std::runtime_error("card image " + path_ + ": cannot rename to " + to + ": " + std::strerror(errno));
  path_ = to;
}

void SdCard::write_back() const {
  std::vector<uint32_t> dirty;
  for (const auto& [block, c] : cache_)
    if (c.dirty) dirty.push_back(block);
  std::sort(dirty.begin(), dirty.end());
  for (uint32_t block : dirty) {
    CachedBlock& c = cache_.at(block);
    if (::pwrite(fd_, c.data.data(), kBlock, off_t(block) * kBlock) != ssize_t(kBlock)) {
      const int err = errno;
      throw std::runtime_error("card image " + path_ + ": cannot write: " + std::strerror(err ? err : ENOSPC));
    }
    c.dirty = false;
  }
}

void SdCard::drop_cached(uint32_t first, uint32_t last) {
  if (cache_.empty()) return;
  if (uint64_t(last) - first < cache_.size()) {
    for (uint64_t b = first; b <= last; ++b) cache_.erase(uint32_t(b));
    return;
  }
  for (auto it = cache_.begin(); it != cache_.end();)
    it = it->first >= first && it->first <= last ? cache_.erase(it) : std::next(it);
}

// Out of the slot, or just back in it: unpowered, so nothing of the SPI session is left.
void SdCard::power_off() {
  initialised_ = false;
  in_multi_ = false;
  spi_mode_ = false;
  powerup_clocks_ = 0;
  to_idle();
}

void SdCard::remove() {
  present_ = false;
  power_off();
}

void SdCard::insert() {
  present_ = true;
  power_off();
}

void SdCard::hang_busy(bool on) {
  hang_busy_ = on;
  if (!on && phase_ == Phase::kBusy) busy_until_ = 0.0;  // ends at the next byte
}

void SdCard::answer_with(uint8_t cmd, uint8_t r1, int times) {
  answer_cmd_ = cmd & 0x3F;
  answer_r1_ = r1;
  answer_times_ = times;
}

void SdCard::cut_power_after(uint64_t n) {
  const uint64_t limit = write_index_ + n;
  hook_ = [limit](uint64_t index, uint32_t) {
    return index < limit ? WriteAction::kAccept : WriteAction::kDrop;
  };
}

bool SdCard::fail(Error e, uint32_t data) {
  error_ = e;
  error_data_ = data;
  return false;
}

bool SdCard::init() {
  in_multi_ = false;
  if (!present_) {
    initialised_ = false;
    return fail(kErrNoCard);
  }
  ++counters_.inits;
  to_idle();
  spi_mode_ = true;
  initialised_ = true;
  error_ = kErrNone;
  error_data_ = 0;
  return true;
}

bool SdCard::read_image(uint32_t block, uint8_t* dst) const {
  ssize_t n = ::pread(fd_, dst, kBlock, off_t(block) * kBlock);
  if (n < 0) return false;
  if (size_t(n) < kBlock) std::memset(dst + n, 0, kBlock - size_t(n));
  return true;
}

bool SdCard::peek(uint32_t block, uint8_t* dst) const {
  if (block >= std::max(blocks_, capacity_)) return false;
  if (config_.cache_blocks == 0) return read_image(block, dst);
  auto it = cache_.find(block);
  if (it == cache_.end()) {
    CachedBlock c;
    if (!read_image(block, c.data.data())) return false;
    if (cache_.size() >= config_.cache_blocks) {
      write_back();
      cache_.clear();
    }
    it = cache_.emplace(block, c).first;
  }
  std::memcpy(dst, it->second.data.data(), kBlock);
  return true;
}

bool SdCard::poke(uint32_t block, const uint8_t* src) {
  if (block >= std::max(blocks_, capacity_)) return false;
  if (config_.cache_blocks == 0) return ::pwrite(fd_, src, kBlock, off_t(block) * kBlock) == ssize_t(kBlock);
  auto it = cache_.find(block);
  if (it == cache_.end()) {
    if (cache_.size() >= config_.cache_blocks) {
      write_back();
      cache_.clear();
    }
    it = cache_.emplace(block, CachedBlock{}).first;
  }
  std::memcpy(it->second.data.data(), src, kBlock);
  it->second.dirty = true;
  return true;
}

bool SdCard::read(uint32_t block, uint8_t* dst) {
  if (!present_) return fail(kErrNoCard);
  if (!initialised_) return fail(kErrNotReady);
  in_multi_ = false;  // a new command ends an unfinished multi-block write
  if (block >= blocks_) return fail(kErrRange, block);
  if (!peek(block, dst)) {
    ++counters_.failed_reads;
    return fail(kErrRead, block);
  }
  ++counters_.blocks_read;
  return true;
}

bool SdCard::store(uint32_t block, const uint8_t* src) {
  if (block >= std::max(blocks_, capacity_)) return fail(kErrRange, block);
  const uint64_t index = write_index_++;
  if (full_) {
    ++counters_.failed_writes;
    return fail(kErrFull, block);
  }
  if (fail_writes_) {
    ++counters_.failed_writes;
    return fail(kErrWrite, block);
  }
  WriteAction action = hook_ ? hook_(index, block) : WriteAction::kAccept;
  if (action == WriteAction::kFail) {
    ++counters_.failed_writes;
    return fail(kErrWrite, block);
  }
  if (action == WriteAction::kDrop) {
    ++counters_.dropped_writes;
    return true;
  }
  if (!poke(block, src)) {
    ++counters_.failed_writes;
    return fail(kErrWrite, block);
  }
  ++counters_.blocks_written;
  if (journal_) journal_(block, src);
  return true;
}

bool SdCard::write(uint32_t block, const uint8_t* src) {
  if (!present_) return fail(kErrNoCard);
  if (!initialised_) return fail(kErrNotReady);
  in_multi_ = false;
  if (block >= blocks_) return fail(kErrRange, block);
  return store(block, src);
}

bool SdCard::erase(uint32_t first, uint32_t last) {
  if (!present_) return fail(kErrNoCard);
  if (!initialised_) return fail(kErrNotReady);
  in_multi_ = false;
  if (first > last || last >= blocks_) return fail(kErrRange, last);
  if (full_ || fail_writes_) return fail(kErrErase, first);
  return erase_blocks(first, last) ? true : fail(kErrErase, first);
}

bool SdCard::erase_blocks(uint32_t first, uint32_t last) {
  drop_cached(first, last);  // the hole is what the blocks hold now
  const off_t off = off_t(first) * kBlock;
  const off_t len = off_t(last - first + 1) * kBlock;
  // a hole reads back as zeros and keeps the image sparse
  if (::fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, off, len) != 0) {
    std::vector<uint8_t> zeros(64 * kBlock, 0);
    for (off_t done = 0; done < len;) {
      size_t n = size_t(std::min<off_t>(len - done, off_t(zeros.size())));
      if (::pwrite(fd_, zeros.data(), n, off + done) != ssize_t(n)) return false;
      done += off_t(n);
    }
  }
  ++counters_.erases;
  // the padding past the image asked for (capacity rounding) is not counted
  if (first < blocks_) counters_.blocks_erased += uint64_t(std::min(last, blocks_ - 1)) - first + 1;
  return true;
}

bool SdCard::write_start(uint32_t block, uint32_t) {
  if (!present_) return fail(kErrNoCard);
  if (!initialised_) return fail(kErrNotReady);
  if (block >= blocks_) return fail(kErrRange, block);
  in_multi_ = true;
  multi_next_ = block;
  return true;
}

bool SdCard::write_data(const uint8_t* src) {
  if (!present_) return fail(kErrNoCard);
  if (!in_multi_) return fail(kErrSequence);
  const bool ok = multi_next_ < blocks_ ? store(multi_next_, src) : fail(kErrRange, multi_next_);
  if (!ok) {
    in_multi_ = false;
    return false;
  }
  ++multi_next_;
  return true;
}

bool SdCard::write_stop() {
  if (!present_) return fail(kErrNoCard);
  if (!in_multi_) return fail(kErrSequence);
  in_multi_ = false;
  return true;
}


// ---- SPI -------------------------------------------------------------------------------------

void SdCard::to_idle() {
  initialised_ = false;
  in_multi_ = false;
  app_cmd_ = false;
  acmd41_since_ = -1.0;
  cmd_len_ = 0;
  out_.clear();
  out_pos_ = 0;
  crc_pos_ = kNoCrc;
  phase_ = Phase::kCommand;
  erase_first_set_ = erase_last_set_ = false;
  status_ = 0;
}

void SdCard::spi_select(bool on) {
  selected_ = on;
  if (!on) cmd_len_ = 0;  // a command cut by CS is lost
}

SdCard::SpiWait SdCard::spi_wait() const {
  SpiWait w;
  if (!present_ || !selected_ || out_pos_ < out_.size()) return w;
  if (phase_ == Phase::kReadWait) {
    w.active = true;
    w.level = 0xFF;
    w.until = read_at_;
  } else if (phase_ == Phase::kBusy) {
    w.active = true;
    w.level = 0x00;
    w.until = hang_busy_ ? std::numeric_limits<double>::infinity() : busy_until_;
  }
  return w;
}

void SdCard::respond(std::initializer_list<uint8_t> bytes) {
  out_.clear();
  out_pos_ = 0;
  crc_pos_ = kNoCrc;
  out_.insert(out_.end(), size_t(std::clamp(config_.response_delay_bytes, 1, 8)), 0xFF);
  out_.insert(out_.end(), bytes);
}

// A start token, the data and its CRC16 behind whatever is queued.
void SdCard::queue_data(const uint8_t* data, size_t n, bool lazy_crc) {
  out_.push_back(kStartBlock);
  out_.insert(out_.end(), data, data + n);
  const size_t at = out_.size();
  out_.push_back(0);
  out_.push_back(0);
  if (lazy_crc) {
    crc_pos_ = at;  // costs more host time than the rest of a read: made only if the host looks
  } else {
    const uint16_t c = crc16(data, n);
    out_[at] = uint8_t(c >> 8);
    out_[at + 1] = uint8_t(c);
  }
}

void SdCard::fill_crc() {
  const uint16_t c = crc16(out_.data() + crc_pos_ - kBlock, kBlock);
  out_[crc_pos_] = uint8_t(c >> 8);
  out_[crc_pos_ + 1] = uint8_t(c);
  crc_pos_ = kNoCrc;
}

void SdCard::busy(double t, double seconds, Phase after) {
  phase_ = Phase::kBusy;
  busy_until_ = t + seconds;
  after_busy_ = after;
}

uint8_t SdCard::next_out(double t) {
  if (out_pos_ < out_.size()) {
    if (crc_pos_ != kNoCrc && (out_pos_ == crc_pos_ || out_pos_ == crc_pos_ + 1)) fill_crc();
    const uint8_t b = out_[out_pos_++];
    if (out_pos_ == out_.size()) {
      out_.clear();
      out_pos_ = 0;
      crc_pos_ = kNoCrc;
    }
    return b;
  }
  switch (phase_) {
    case Phase::kReadWait:
      if (t < read_at_) return 0xFF;
      phase_ = Phase::kCommand;
      if (read_error_token_) return read_error_token_;
      queue_data(read_buf_.data(), kBlock, true);
      return next_out(t);
    case Phase::kBusy:
      if (hang_busy_ || t < busy_until_) return 0x00;
      phase_ = after_busy_;
      return 0xFF;
    default:
      return 0xFF;
  }
}

void SdCard::take_in(uint8_t mosi, double t) {
  switch (phase_) {
    case Phase::kWriteData:
      data_[data_len_++] = mosi;
      if (data_len_ == data_.size()) finish_data_block(t);
      return;
    case Phase::kWriteToken:
      if (mosi == (in_multi_ ? kStartMulti : kStartBlock)) {
        phase_ = Phase::kWriteData;
        data_len_ = 0;
        return;
      }
      if (in_multi_ && mosi == kStopTran) {
        // one more byte, then busy while the last block settles
        in_multi_ = false;
        out_.assign(1, 0xFF);
        out_pos_ = 0;
        busy(t, 0.0, Phase::kCommand);
        return;
      }
      if ((mosi & 0xC0) != 0x40) return;
      // a command instead of a token ends the write, as a stop would
      in_multi_ = false;
      phase_ = Phase::kCommand;
      break;
    case Phase::kReadWait:
    case Phase::kBusy:
      return;  // a busy card does not listen
    case Phase::kCommand:
      break;
  }
  if (cmd_len_ == 0 && (mosi & 0xC0) != 0x40) return;
  cmd_[cmd_len_++] = mosi;
  if (cmd_len_ == cmd_.size()) {
    cmd_len_ = 0;
    execute(t);
  }
}

// SD1/SD2 take byte addresses (whole blocks), SDHC block numbers.
bool SdCard::address(uint32_t arg, uint32_t* block, uint8_t* r1) {
  if (type_ != 3 && arg % kBlock != 0) {
    *r1 = kAddressError;
    return false;
  }
  *block = type_ == 3 ? arg : arg / kBlock;
  if (*block >= capacity_) {
    *r1 = kParamError;
    return false;
  }
  return true;
}

void SdCard::execute(double t) {
  const uint8_t cmd = cmd_[0] & 0x3F;
  const uint32_t arg = uint32_t(cmd_[1]) << 24 | uint32_t(cmd_[2]) << 16 | uint32_t(cmd_[3]) << 8 | cmd_[4];
  const bool crc_ok = cmd_[5] == uint8_t((crc7(cmd_.data(), 5) << 1) | 1);
  out_.clear();
  out_pos_ = 0;
  crc_pos_ = kNoCrc;
  if (powerup_clocks_ < kPowerUpClocks) return;  // not powered up as it needs: deaf
  if (!spi_mode_) {
    // in SD mode only a CMD0 with CS low and a good CRC is heard: it switches to SPI
    if (cmd != 0 || !crc_ok) return;
    spi_mode_ = true;
    to_idle();
    respond({kIdle});
    return;
  }
  const bool app = app_cmd_;
  app_cmd_ = false;
  const uint8_t idle = initialised_ ? 0 : kIdle;
  if (answer_times_ != 0 && cmd == answer_cmd_) {
    if (answer_times_ > 0) --answer_times_;
    respond({answer_r1_});
    return;
  }
  if (app && (cmd == 23 || cmd == 41)) return execute_app(cmd, arg, t);
  if (!initialised_ && cmd != 0 && cmd != 8 && cmd != 55 && cmd != 58) return respond({uint8_t(idle | kIllegal)});
  uint32_t block = 0;
  uint8_t r1 = 0;
  switch (cmd) {
    case 0:
      to_idle();
      return respond({kIdle});
    case 8:  // R7: the voltage range accepted and the check pattern echoed
      if (type_ == 1) return respond({uint8_t(idle | kIllegal)});
      if (!crc_ok) return respond({uint8_t(idle | kCrcError)});
      return respond({idle, 0x00, 0x00, uint8_t((arg >> 8) & 0x0F), uint8_t(arg)});
    case 55:
      app_cmd_ = true;
      return respond({idle});
    case 58: {  // R3: OCR, 2.7-3.6 V, power-up done and CCS once initialised
      const uint8_t top = initialised_ ? uint8_t(0x80 | (type_ == 3 ? 0x40 : 0)) : 0;
      return respond({idle, top, 0xFF, 0x80, 0x00});
    }
    case 9:  // CSD: a short access, then a data block of 16 bytes
      respond({0x00, 0xFF});
      queue_data(csd_.data(), csd_.size(), false);
      return;
    case 12:  // stops a multi-block read; none is ever running here
      return respond({0x00});
    case 13:
      respond({0x00, status_});
      status_ = 0;
      return;
    case 16:
      return respond({uint8_t(arg == kBlock ? 0x00 : kParamError)});
    case 17:
      if (!address(arg, &block, &r1)) return respond({r1});
      respond({0x00});
      read_error_token_ = 0;
      if (!peek(block, read_buf_.data())) {
        ++counters_.failed_reads;
        read_error_token_ = kErrorTokenGeneral;
      } else {
        ++counters_.blocks_read;
      }
      read_at_ = t + config_.read_latency_s;
      phase_ = Phase::kReadWait;
      return;
    case 24:
    case 25:
      if (!address(arg, &block, &r1)) return respond({r1});
      respond({0x00});
      in_multi_ = cmd == 25;
      data_block_ = multi_next_ = block;
      phase_ = Phase::kWriteToken;
      return;
    case 32:
    case 33:
      if (!address(arg, &block, &r1)) return respond({r1});
      (cmd == 32 ? erase_first_ : erase_last_) = block;
      (cmd == 32 ? erase_first_set_ : erase_last_set_) = true;
      return respond({0x00});
    case 38: {
      if (!erase_first_set_ || !erase_last_set_ || erase_last_ < erase_first_) {
        erase_first_set_ = erase_last_set_ = false;
        return respond({kEraseSeqError});
      }
      erase_first_set_ = erase_last_set_ = false;
      respond({0x00});
      if (full_) {
        status_ |= kWpEraseSkip;
      } else if (fail_writes_ || !erase_blocks(erase_first_, erase_last_)) {
        status_ |= kGeneralError;
      }
      const double n = double(erase_last_) - double(erase_first_) + 1.0;
      busy(t, config_.erase_latency_s + config_.erase_per_mblock_s * n * 1e-6, Phase::kCommand);
      return;
    }
    default:
      return respond({uint8_t(idle | kIllegal)});
  }
}

void SdCard::execute_app(uint8_t cmd, uint32_t arg, double t) {
  if (cmd == 23) {  // blocks about to be written: a hint the card may use to pre-erase them
    return respond({uint8_t(initialised_ ? 0x00 : kIdle | kIllegal)});
  }
  // ACMD41: an SDHC card stays idle for a host that does not announce high capacity
  if (initialised_) return respond({0x00});
  if (acmd41_since_ < 0) acmd41_since_ = t;
  const bool hcs = (arg & 0x40000000u) != 0;
  if (stay_idle_ || t - acmd41_since_ < config_.init_s || (type_ == 3 && !hcs)) return respond({kIdle});
  initialised_ = true;
  ++counters_.inits;
  error_ = kErrNone;
  error_data_ = 0;
  respond({0x00});
}

void SdCard::finish_data_block(double t) {
  const uint32_t block = in_multi_ ? multi_next_ : data_block_;
  uint8_t response = kDataAccepted;
  if (block >= capacity_) {
    status_ |= kOutOfRange;
    response = kDataWriteError;
  } else if (!store(block, data_.data())) {
    status_ |= full_ ? kWpViolation : kGeneralError;
    response = kDataWriteError;
  } else if (in_multi_) {
    ++multi_next_;
  }
  out_.assign(1, response);
  out_pos_ = 0;
  crc_pos_ = kNoCrc;
  busy(t, config_.write_latency_s, in_multi_ ? Phase::kWriteToken : Phase::kCommand);
}

uint8_t SdCard::spi_exchange(uint8_t mosi, double t) {
  if (!present_) return 0xFF;
  if (!selected_) {
    powerup_clocks_ += 8;
    return 0xFF;
  }
  const uint8_t miso = next_out(t);
  take_in(mosi, t);
  return miso;
}

void SdCard::spi_exchange_block(const uint8_t* tx, uint8_t* rx, uint32_t n, double t_end, double byte_s) {
  if (!present_ || !selected_) {
    if (present_) powerup_clocks_ += 8ull * n;
    if (rx) std::memset(rx, 0xFF, n);
    return;
  }
  uint32_t i = 0;
  while (i < n) {
    const double t = t_end - double(n - 1 - i) * byte_s;
    // a data block coming in: straight into the buffer
    if (phase_ == Phase::kWriteData && out_pos_ >= out_.size()) {
      const uint32_t k = uint32_t(std::min<size_t>(n - i, data_.size() - data_len_));
      if (tx) std::memcpy(data_.data() + data_len_, tx + i, k);
      else std::memset(data_.data() + data_len_, 0xFF, k);
      if (rx) std::memset(rx + i, 0xFF, k);
      data_len_ += k;
      i += k;
      if (data_len_ == data_.size()) finish_data_block(t_end - double(n - i) * byte_s);
      continue;
    }
    // queued bytes going out while the host sends 0xFF, which no phase but a data block heeds
    if (!tx && out_pos_ < out_.size() && cmd_len_ == 0) {
      const uint32_t k = uint32_t(std::min<size_t>(n - i, out_.size() - out_pos_));
      if (rx) {
        if (crc_pos_ != kNoCrc && crc_pos_ + 1 >= out_pos_ && crc_pos_ < out_pos_ + k) fill_crc();
        std::memcpy(rx + i, out_.data() + out_pos_, k);
      }
      out_pos_ += k;
      i += k;
      if (out_pos_ == out_.size()) {
        out_.clear();
        out_pos_ = 0;
        crc_pos_ = kNoCrc;
      }
      continue;
    }
    const uint8_t b = spi_exchange(tx ? tx[i] : 0xFF, t);
    if (rx) rx[i] = b;
    ++i;
  }
}

}  // namespace sim
