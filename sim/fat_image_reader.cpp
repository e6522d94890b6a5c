// Host-side FAT16/FAT32 image reader (see fat_image_reader.h).
#include "sim/fat_image_reader.h"

#include <algorithm>
#include <cstring>

#include "sim/bytes_le.h"

namespace sim {

namespace fs = std::filesystem;

namespace {

struct Bpb {
  uint32_t bytes_per_sector, sectors_per_cluster, reserved, fats, root_entries, total, fat_size;
  bool fat32_layout;
  uint32_t root_cluster;
};

// Parses a boot sector; false when it does not look like a FAT boot sector at all.
bool parse_bpb(const std::vector<uint8_t>& b, Bpb& o) {
  if (b.size() < 512 || b[510] != 0x55 || b[511] != 0xAA) return false;
  o.bytes_per_sector = le16(&b[11]);
  o.sectors_per_cluster = b[13];
  o.reserved = le16(&b[14]);
  o.fats = b[16];
  o.root_entries = le16(&b[17]);
  o.total = le16(&b[19]) ? le16(&b[19]) : le32(&b[32]);
  uint32_t fat16 = le16(&b[22]);
  o.fat32_layout = fat16 == 0;
  o.fat_size = fat16 ? fat16 : le32(&b[36]);
  o.root_cluster = le32(&b[44]);
  uint32_t spc = o.sectors_per_cluster;
  return o.bytes_per_sector == 512 && spc && !(spc & (spc - 1)) && o.reserved && o.fats &&
         o.total && o.fat_size;
}

// UCS-2 code unit to UTF-8.
void append_utf8(std::string& s, uint16_t u) {
  if (u < 0x80) {
    s.push_back(char(u));
  } else if (u < 0x800) {
    s.push_back(char(0xC0 | (u >> 6)));
    s.push_back(char(0x80 | (u & 0x3F)));
  } else {
    s.push_back(char(0xE0 | (u >> 12)));
    s.push_back(char(0x80 | ((u >> 6) & 0x3F)));
    s.push_back(char(0x80 | (u & 0x3F)));
  }
}

std::string short_name(const uint8_t* e) {
  std::string base, ext;
  for (int i = 0; i < 8; ++i) base.push_back(char(i == 0 && e[0] == 0x05 ? 0xE5 : e[i]));
  for (int i = 8; i < 11; ++i) ext.push_back(char(e[i]));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  while (!ext.empty() && ext.back() == ' ') ext.pop_back();
  auto lower = [](std::string& s) {
    for (char& c : s)
      if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  };
  if (e[12] & 0x08) lower(base);
  if (e[12] & 0x10) lower(ext);
  return ext.empty() ? base : base + "." + ext;
}

uint8_t short_name_checksum(const uint8_t* e) {
  uint8_t sum = 0;
  for (int i = 0; i < 11; ++i) sum = uint8_t(((sum & 1) << 7) + (sum >> 1) + e[i]);
  return sum;
}

}  // namespace

FatImageReader::FatImageReader(const fs::path& image) {
  in_.open(image, std::ios::binary);
  if (!in_) throw FatImageError("cannot open image " + image.string());
  std::error_code ec;
  image_size_ = fs::file_size(image, ec);
  if (ec || image_size_ < 512) throw FatImageError("image too small: " + image.string());

  std::vector<uint8_t> b0 = read_bytes(0, 512);
  Bpb bpb{};
  bool found = false;
  // partition 1 of an MBR first, then the whole image
  if (b0[510] == 0x55 && b0[511] == 0xAA) {
    const uint8_t* p = &b0[0x1BE];
    uint32_t start = le32(p + 8);
    if ((p[0] & 0x7F) == 0 && p[4] != 0 && start != 0 && uint64_t(start) * 512 + 512 <= image_size_) {
      if (parse_bpb(read_bytes(uint64_t(start) * 512, 512), bpb)) {
        volume_offset_ = uint64_t(start) * 512;
        found = true;
      }
    }
  }
  if (!found) {
    if (!parse_bpb(b0, bpb)) throw FatImageError("no FAT boot sector in block 0 or partition 1");
    volume_offset_ = 0;
  }
  if (volume_offset_ + uint64_t(bpb.total) * 512 > image_size_)
    throw FatImageError("volume extends beyond the image");

  uint64_t root_sectors = (uint64_t(bpb.root_entries) * 32 + 511) / 512;
  uint64_t first_data = bpb.reserved + uint64_t(bpb.fats) * bpb.fat_size + root_sectors;
  if (first_data >= bpb.total) throw FatImageError("boot sector: no data area");
  clusters_ = uint32_t((bpb.total - first_data) / bpb.sectors_per_cluster);
  if (clusters_ < 4085) throw FatImageError("FAT12 volume (not supported)");
  fat_type_ = clusters_ < 65525 ? 16 : 32;
  if ((fat_type_ == 32) != bpb.fat32_layout) throw FatImageError("boot sector: inconsistent FAT type");
  uint64_t fat_bytes = uint64_t(bpb.fat_size) * 512;
  if (fat_bytes < uint64_t(clusters_ + 2) * (fat_type_ == 16 ? 2 : 4))
    throw FatImageError("boot sector: FAT too small for its clusters");

  cluster_bytes_ = bpb.sectors_per_cluster * 512;
  data_offset_ = volume_offset_ + first_data * 512;
  root_offset_ = volume_offset_ + (bpb.reserved + uint64_t(bpb.fats) * bpb.fat_size) * 512;
  root_entries_ = bpb.root_entries;
  root_cluster_ = bpb.root_cluster;
  if (fat_type_ == 32 && (root_cluster_ < 2 || root_cluster_ > clusters_ + 1))
    throw FatImageError("boot sector: root cluster out of range");

  std::vector<uint8_t> raw =
      read_bytes(volume_offset_ + uint64_t(bpb.reserved) * 512, size_t(uint64_t(clusters_ + 2) * (fat_type_ == 16 ? 2 : 4)));
  fat_.resize(clusters_ + 2);
  for (uint32_t c = 0; c < clusters_ + 2; ++c)
    fat_[c] = fat_type_ == 16 ? le16(&raw[2 * c]) : (le32(&raw[4 * c]) & 0x0FFFFFFF);
}

std::vector<uint8_t> FatImageReader::read_bytes(uint64_t offset, size_t n) const {
  std::vector<uint8_t> buf(n, 0);
  if (offset >= image_size_) return buf;
  size_t avail = size_t(std::min<uint64_t>(n, image_size_ - offset));
  in_.clear();
  in_.seekg(std::streamoff(offset));
  in_.read(reinterpret_cast<char*>(buf.data()), std::streamsize(avail));
  if (!in_) throw FatImageError("read error at byte " + std::to_string(offset));
  return buf;
}

uint64_t FatImageReader::cluster_offset(uint32_t c) const {
  return data_offset_ + uint64_t(c - 2) * cluster_bytes_;
}

uint32_t FatImageReader::free_clusters() const {
  return uint32_t(std::count(fat_.begin() + 2, fat_.end(), 0u));
}

std::vector<uint32_t> FatImageReader::chain(uint32_t first) const {
  std::vector<uint32_t> out;
  if (first == 0) return out;
  const uint32_t eoc = fat_type_ == 16 ? 0xFFF8 : 0x0FFFFFF8;
  std::vector<bool> seen(clusters_ + 2, false);
  uint32_t c = first;
  for (;;) {
    if (c < 2 || c > clusters_ + 1)
      throw FatImageError("cluster " + std::to_string(c) + " out of range in chain from " +
                          std::to_string(first));
    if (seen[c]) throw FatImageError("cluster chain from " + std::to_string(first) + " loops");
    seen[c] = true;
    out.push_back(c);
    uint32_t next = fat_[c];
    if (next >= eoc) break;
    c = next;
  }
  return out;
}

std::vector<uint8_t> FatImageReader::read_dir(uint32_t first_cluster, bool fixed_root) const {
  if (fixed_root) return read_bytes(root_offset_, size_t(root_entries_) * 32);
  std::vector<uint8_t> out;
  for (uint32_t c : chain(first_cluster)) {
    std::vector<uint8_t> part = read_bytes(cluster_offset(c), cluster_bytes_);
    out.insert(out.end(), part.begin(), part.end());
    if (out.size() > 65536u * 32) throw FatImageError("directory larger than 65536 entries");
  }
  return out;
}

void FatImageReader::walk(const std::vector<uint8_t>& dir, const std::string& prefix, int depth,
                          std::vector<FatImageEntry>& out) const {
  if (depth > 64) throw FatImageError("directories nested deeper than 64 levels: " + prefix);
  std::vector<uint16_t> lfn(260, 0);
  int lfn_parts = 0;
  uint8_t lfn_sum = 0;
  bool lfn_ok = false;
  for (size_t off = 0; off + 32 <= dir.size(); off += 32) {
    const uint8_t* e = &dir[off];
    if (e[0] == 0x00) break;
    if (e[0] == 0xE5) {
      lfn_ok = false;
      continue;
    }
    uint8_t attr = e[11];
    if ((attr & 0x3F) == 0x0F) {  // long-name part: collected, last part first
      int seq = e[0] & 0x1F;
      if (e[0] & 0x40) {
        std::fill(lfn.begin(), lfn.end(), 0);
        lfn_parts = seq;
        lfn_sum = e[13];
        lfn_ok = seq >= 1 && seq <= 20;
      } else if (!lfn_ok || e[13] != lfn_sum || seq != lfn_parts) {
        lfn_ok = false;
      }
      if (lfn_ok) {
        static const int pos[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
        for (int i = 0; i < 13; ++i) lfn[size_t((seq - 1) * 13 + i)] = le16(e + pos[i]);
        lfn_parts = seq - 1;
      }
      continue;
    }
    bool have_lfn = lfn_ok && lfn_parts == 0 && short_name_checksum(e) == lfn_sum;
    lfn_ok = false;
    if (attr & 0x08) continue;  // volume label
    if (e[0] == '.') continue;  // "." and ".."
    std::string name;
    if (have_lfn) {
      for (uint16_t u : lfn) {
        if (u == 0 || u == 0xFFFF) break;
        append_utf8(name, u);
      }
    }
    if (name.empty()) name = short_name(e);
    if (name.find('/') != std::string::npos || name == "." || name == "..")
      throw FatImageError("bad name in directory " + prefix);

    FatImageEntry ent;
    ent.path = prefix.empty() ? name : prefix + "/" + name;
    ent.is_dir = (attr & 0x10) != 0;
    ent.first_cluster = le16(e + 26) | (fat_type_ == 32 ? uint32_t(le16(e + 20)) << 16 : 0);
    ent.size = ent.is_dir ? 0 : le32(e + 28);
    out.push_back(ent);
    if (ent.is_dir) {
      if (ent.first_cluster == 0) throw FatImageError("directory " + ent.path + " has no cluster");
      walk(read_dir(ent.first_cluster, false), ent.path, depth + 1, out);
    }
  }
}

std::vector<FatImageEntry> FatImageReader::list() const {
  std::vector<FatImageEntry> out;
  walk(read_dir(root_cluster_, fat_type_ == 16), "", 0, out);
  return out;
}

std::vector<uint8_t> FatImageReader::read(const FatImageEntry& file) const {
  std::vector<uint8_t> out;
  if (file.is_dir || file.size == 0) return out;
  std::vector<uint32_t> clusters = chain(file.first_cluster);
  if (uint64_t(clusters.size()) * cluster_bytes_ < file.size)
    throw FatImageError("file " + file.path + " is shorter on disk than its size");
  out.reserve(size_t(file.size));
  for (uint32_t c : clusters) {
    uint64_t left = file.size - out.size();
    if (left == 0) break;
    std::vector<uint8_t> part = read_bytes(cluster_offset(c), size_t(std::min<uint64_t>(left, cluster_bytes_)));
    out.insert(out.end(), part.begin(), part.end());
  }
  return out;
}

uint64_t FatImageReader::count_lines(const std::vector<uint8_t>& data) {
  uint64_t n = 0;  // memchr: several times quicker than a byte-by-byte count over megabytes
  const uint8_t* p = data.data();
  const uint8_t* end = p + data.size();
  while (p < end && (p = static_cast<const uint8_t*>(std::memchr(p, '\n', size_t(end - p)))) != nullptr) {
    ++n;
    ++p;
  }
  if (!data.empty() && data.back() != '\n') ++n;
  return n;
}

std::vector<CopiedFile> FatImageReader::copy_out(const fs::path& dest) const {
  fs::create_directories(dest);
  std::vector<CopiedFile> copied;
  for (const FatImageEntry& e : list()) {
    fs::path target = dest / fs::path(e.path);
    if (e.is_dir) {
      fs::create_directories(target);
      continue;
    }
    std::vector<uint8_t> data = read(e);
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    if (ec) throw FatCopyError("cannot write " + target.parent_path().string() + ": " + ec.message());
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    out.close();
    if (!out) throw FatCopyError("cannot write " + target.string());
    copied.push_back(CopiedFile{e.path, data.size(), count_lines(data)});
  }
  return copied;
}

}  // namespace sim
