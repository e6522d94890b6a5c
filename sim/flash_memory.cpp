// The MCU's flash: byte-store rows, NVM controller and user row (see flash_memory.h).
#include "sim/flash_memory.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

namespace sim {

namespace {
// flash.bin: the area, the two NVM user-row words, the security bit
constexpr size_t kFileSize = HAL_FLASH_AREA_SIZE + 8 + 1;
constexpr uint32_t kUserRowAddress = 0x804000u;  // as the CPU reads it
constexpr uint32_t kUserRowCommandAddress = 0x402000u;  // ADDR of commands on it (16-bit words)
}  // namespace

FlashMemory::FlashMemory(std::string file) : file_(std::move(file)) {
  area_.fill(0xFF);
  if (file_.empty()) return;
  std::ifstream in(file_, std::ios::binary);
  if (!in) return;
  std::vector<char> buf((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (buf.size() != kFileSize) return;  // not ours: start from an erased area
  std::memcpy(area_.data(), buf.data(), area_.size());
  for (int w = 0; w < 2; ++w) {
    uint32_t v = 0;
    for (int b = 0; b < 4; ++b) v |= uint32_t(uint8_t(buf[area_.size() + 4 * w + b])) << (8 * b);
    nvm_.user_row[w] = v;
  }
  nvm_.security_bit = buf[area_.size() + 8] != 0;
}

void FlashMemory::reset_controller() {
  ctrlb_ = 0;
  addr_ = 0;
  page_[0] = page_[1] = 0xFFFFFFFFu;
}

void FlashMemory::read(uint32_t offset, uint8_t* dst, uint32_t len) const {
  for (uint32_t i = 0; i < len; ++i) dst[i] = (offset + i < area_.size()) ? area_[offset + i] : 0xFF;
}

bool FlashMemory::erase_row(uint32_t offset) {
  ++erases_;
  if (fail_erases_after_ >= 0 && int64_t(erases_) > fail_erases_after_) return false;
  const uint32_t row = offset / 256 * 256;
  if (step()) std::fill(area_.begin() + row, area_.begin() + std::min<size_t>(row + 256, area_.size()), 0xFF);
  return true;  // a power cut reports nothing: the firmware is gone with it
}

bool FlashMemory::write(uint32_t offset, const uint8_t* src, uint32_t len) {
  ++writes_;
  if (fail_writes_after_ >= 0 && int64_t(writes_) > fail_writes_after_) return false;
  bool page_lands = true;
  for (uint32_t i = 0; i < len && offset + i < area_.size(); ++i) {
    if (i == 0 || (offset + i) % 64 == 0) page_lands = step();
    if (!page_lands) continue;
    uint8_t& b = area_[offset + i];
    if (b != 0xFF) ++overwrites_;
    b &= src[i];
  }
  return true;
}

bool FlashMemory::step() {
  ++steps_;
  if (steps_left_ < 0) return true;
  if (steps_left_ == 0) return false;
  --steps_left_;
  return true;
}

uint32_t FlashMemory::reg_read(uint8_t reg) const {
  switch (reg) {
    case 1: return ctrlb_;
    case 2: return nvm_.security_bit ? (1u << 8) : 0;
    case 3: return addr_;
    case 4: return 1;  // always ready
    default: return 0;
  }
}

void FlashMemory::reg_write(uint8_t reg, uint32_t value) {
  switch (reg) {
    case 0:
      if ((value >> 8) == 0xA5 && !nvm_.security_bit && addr_ == kUserRowCommandAddress) {
        switch (value & 0x7F) {
          case 0x05:  // erase the auxiliary row
            nvm_.user_row[0] = nvm_.user_row[1] = 0xFFFFFFFFu;
            ++nvm_commands_;
            break;
          case 0x44:  // clear the page buffer
            page_[0] = page_[1] = 0xFFFFFFFFu;
            ++nvm_commands_;
            break;
          case 0x06:  // write the auxiliary page
            nvm_.user_row[0] &= page_[0];
            nvm_.user_row[1] &= page_[1];
            ++nvm_commands_;
            break;
          default: break;
        }
        save();
      }
      break;
    case 1: ctrlb_ = value; break;
    case 3: addr_ = value; break;
    default: break;
  }
}

uint32_t FlashMemory::mem_read(uint32_t address) const {
  if (address == kUserRowAddress) return nvm_.user_row[0];
  if (address == kUserRowAddress + 4) return nvm_.user_row[1];
  return 0xFFFFFFFFu;
}

void FlashMemory::mem_write(uint32_t address, uint32_t word) {
  if (address == kUserRowAddress) page_[0] &= word;
  if (address == kUserRowAddress + 4) page_[1] &= word;
}

void FlashMemory::save() const {
  if (file_.empty()) return;
  // a new file renamed over the old: a stop at any moment leaves one whole store or the other
  const std::string tmp = file_ + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(area_.data()), std::streamsize(area_.size()));
    for (int w = 0; w < 2; ++w)
      for (int b = 0; b < 4; ++b) out.put(char((nvm_.user_row[w] >> (8 * b)) & 0xFF));
    out.put(nvm_.security_bit ? 1 : 0);
    out.close();
    if (!out) {
      std::remove(tmp.c_str());
      throw std::runtime_error("cannot write " + file_);
    }
  }
  if (std::rename(tmp.c_str(), file_.c_str()) != 0) {
    std::remove(tmp.c_str());
    throw std::runtime_error("cannot write " + file_);
  }
}

}  // namespace sim
