// Test images for the FAT driver: made by mkfs.fat (with or without an MBR written here), put in
// the simulated card slot, and judged by the outside tools (fsck.fat, mtools).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "board/sdfat.h"
#include "sim/board.h"
#include "sim/sd_card.h"

namespace olas::test {

// Full path of an outside tool (PATH, /sbin, /usr/sbin), or "" when it is not installed.
std::string find_tool(const std::string& name);
// True when mkfs.fat, fsck.fat, mcopy, mdir and mmd are all there.
bool fat_tools_present();
#define SKIP_WITHOUT_FAT_TOOLS()                                                        \
  do {                                                                                  \
    if (!::olas::test::fat_tools_present()) GTEST_SKIP() << "dosfstools/mtools missing"; \
  } while (0)

// A fresh temporary directory per test, removed at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

struct ImageSpec {
  uint32_t size_mb = 8;
  int fat_bits = 16;            // 12, 16 or 32
  int sectors_per_cluster = 4;  // mkfs.fat -s
  bool partitioned = false;     // MBR with partition 1 at block kPartitionStart
};
constexpr uint32_t kPartitionStart = 2048;

// Runs a shell command; returns its exit status and, in *out, what it printed (stdout+stderr).
int run_command(const std::string& cmd, std::string* out = nullptr);

// Creates the image (sparse) and formats it with mkfs.fat. Fails the test on error.
void make_image(const std::filesystem::path& img, const ImageSpec& layout);
// "img" or "img@@offset" as mtools wants it.
std::string mtools_target(const std::filesystem::path& img, const ImageSpec& layout);
// mtools command (mcopy, mdir, mmd...) on the image: "mcopy -i <img> <args>".
int mtools(const std::string& tool, const std::filesystem::path& img, const ImageSpec& layout,
           const std::string& args, std::string* out = nullptr);
// fsck.fat -n on the volume (a partition is first copied out to a file of its own).
struct FsckResult {
  int status = -1;
  std::string output;
  bool clean() const { return status == 0; }
};
FsckResult fsck(const std::filesystem::path& img, const ImageSpec& layout);
// A file's bytes as mcopy extracts them; false if mcopy fails.
bool mcopy_out(const std::filesystem::path& img, const ImageSpec& layout, const std::string& card_path,
               std::string* content);

// A sparse copy of an image.
void copy_image(const std::filesystem::path& from, const std::filesystem::path& to);
std::string read_host_file(const std::filesystem::path& p);
void write_host_file(const std::filesystem::path& p, const std::string& content);

// Raw byte access to the image file (corruption tests).
void patch_image(const std::filesystem::path& img, uint64_t offset, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> peek_image(const std::filesystem::path& img, uint64_t offset, size_t n);

// A simulated board with a card in its slot, current for the driver's hal calls.
class CardRig {
 public:
  explicit CardRig(const std::filesystem::path& img);
  ~CardRig();
  sim::Board board;
  std::unique_ptr<sim::SdCard> card;
};

// Test records: the n-th 65-character line (64 characters and '\n').
std::string record_line(uint32_t n);

}  // namespace olas::test
