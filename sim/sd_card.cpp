// The simulated SD card over a sparse image file (POSIX I/O: pread/pwrite, holes for erase).
#include "sim/sd_card.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace sim {

SdCard::SdCard(const std::string& image_path, uint64_t size_bytes, const Config& config)
    : path_(image_path), config_(config), present_(config.present) {
  namespace fs = std::filesystem;
  fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) throw std::runtime_error("card image " + path_ + ": " + std::strerror(errno));
  std::error_code ec;
  uint64_t size = size_bytes ? size_bytes / kBlock * kBlock : fs::file_size(path_, ec);
  if (ec) size = 0;
  if (size / kBlock > 0xFFFFFFFFull) {
    ::close(fd_);
    throw std::runtime_error("card image " + path_ + ": larger than 2 TiB");
  }
  if (size_bytes) {
    // resize_file keeps the file sparse: unwritten blocks cost nothing and read as zeros
    fs::resize_file(path_, size, ec);
    if (ec) {
      ::close(fd_);
      throw std::runtime_error("card image " + path_ + ": " + ec.message());
    }
  }
  blocks_ = uint32_t(size / kBlock);
}

SdCard::~SdCard() {
  if (fd_ >= 0) ::close(fd_);
}

void SdCard::remove() {
  present_ = false;
  initialised_ = false;
  in_multi_ = false;
}

void SdCard::insert() {
  present_ = true;
  initialised_ = false;
  in_multi_ = false;
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
  initialised_ = true;
  error_ = kErrNone;
  error_data_ = 0;
  return true;
}

bool SdCard::peek(uint32_t block, uint8_t* dst) const {
  if (block >= blocks_) return false;
  ssize_t n = ::pread(fd_, dst, kBlock, off_t(block) * kBlock);
  if (n < 0) return false;
  if (size_t(n) < kBlock) std::memset(dst + n, 0, kBlock - size_t(n));
  return true;
}

bool SdCard::poke(uint32_t block, const uint8_t* src) {
  if (block >= blocks_) return false;
  return ::pwrite(fd_, src, kBlock, off_t(block) * kBlock) == ssize_t(kBlock);
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
  if (block >= blocks_) return fail(kErrRange, block);
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
  return store(block, src);
}

bool SdCard::erase(uint32_t first, uint32_t last) {
  if (!present_) return fail(kErrNoCard);
  if (!initialised_) return fail(kErrNotReady);
  in_multi_ = false;
  if (first > last || last >= blocks_) return fail(kErrRange, last);
  if (full_ || fail_writes_) return fail(kErrErase, first);
  const off_t off = off_t(first) * kBlock;
  const off_t len = off_t(last - first + 1) * kBlock;
  // a hole reads back as zeros and keeps the image sparse
  if (::fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, off, len) != 0) {
    std::vector<uint8_t> zeros(64 * kBlock, 0);
    for (off_t done = 0; done < len;) {
      size_t n = size_t(std::min<off_t>(len - done, off_t(zeros.size())));
      if (::pwrite(fd_, zeros.data(), n, off + done) != ssize_t(n)) return fail(kErrErase, first);
      done += off_t(n);
    }
  }
  ++counters_.erases;
  counters_.blocks_erased += uint64_t(last) - first + 1;
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
  if (!store(multi_next_, src)) {
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

}  // namespace sim
