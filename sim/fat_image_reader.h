// A host-side reader of FAT16/FAT32 disk images, independent of the firmware's driver: it is the
// simulator's own view of what the firmware left on the card.
//
// Mounts partition 1 of an MBR, or the whole image when block 0 is itself a boot sector. Lists
// directories recursively (8.3 names with the NT lower-case bits, or the long name when a valid
// one precedes the entry), reads files and copies the tree out. A corrupt image never crashes
// it: the constructor and the readers throw FatImageError naming what is wrong (bad boot sector,
// cluster out of range, looping or short chain).
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace sim {

struct FatImageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
// copy_out could not write a file on the host (a full disk): not a fault of the image.
struct FatCopyError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct FatImageEntry {
  std::string path;  // relative to the root, "/"-separated: "261207/1420.raw"
  bool is_dir = false;
  uint64_t size = 0;  // files only
  uint32_t first_cluster = 0;
};

struct CopiedFile {
  std::string path;
  uint64_t size = 0;
  uint64_t lines = 0;  // '\n' count, plus one for a last line without its '\n'
};

class FatImageReader {
 public:
  explicit FatImageReader(const std::filesystem::path& image);

  int fat_type() const { return fat_type_; }  // 16 or 32 (FAT12 is refused)
  uint32_t cluster_count() const { return clusters_; }
  uint32_t bytes_per_cluster() const { return cluster_bytes_; }
  uint64_t volume_offset() const { return volume_offset_; }  // bytes from the image start
  uint32_t free_clusters() const;

  // Every directory and file, depth first in on-disk order (a directory before its contents).
  std::vector<FatImageEntry> list() const;
  std::vector<uint8_t> read(const FatImageEntry& file) const;
  // Recreates the tree under dest (created if missing) and returns the files copied.
  std::vector<CopiedFile> copy_out(const std::filesystem::path& dest) const;

  static uint64_t count_lines(const std::vector<uint8_t>& data);

 private:
  std::vector<uint8_t> read_bytes(uint64_t offset, size_t n) const;
  std::vector<uint32_t> chain(uint32_t first) const;
  std::vector<uint8_t> read_dir(uint32_t first_cluster, bool fixed_root) const;
  void walk(const std::vector<uint8_t>& dir, const std::string& prefix, int depth,
            std::vector<FatImageEntry>& out) const;
  uint64_t cluster_offset(uint32_t c) const;

  mutable std::ifstream in_;
  uint64_t image_size_ = 0;
  uint64_t volume_offset_ = 0;
  int fat_type_ = 0;
  uint32_t clusters_ = 0;
  uint32_t cluster_bytes_ = 0;
  uint64_t data_offset_ = 0;
  uint64_t root_offset_ = 0;    // FAT16 fixed root directory
  uint32_t root_entries_ = 0;   // FAT16
  uint32_t root_cluster_ = 0;   // FAT32
  std::vector<uint32_t> fat_;   // first FAT copy, one value per cluster number
};

}  // namespace sim
