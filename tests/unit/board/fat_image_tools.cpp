#include "unit/board/fat_image_tools.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace olas::test {
namespace fs = std::filesystem;

std::string find_tool(const std::string& name) {
  std::string dirs = std::getenv("PATH") ? std::getenv("PATH") : "";
  dirs += ":/sbin:/usr/sbin:/usr/local/sbin";
  std::stringstream ss(dirs);
  std::string d;
  while (std::getline(ss, d, ':')) {
    if (d.empty()) continue;
    fs::path p = fs::path(d) / name;
    if (::access(p.c_str(), X_OK) == 0) return p.string();
  }
  return "";
}

bool fat_tools_present() {
  static const bool present = [] {
    for (const char* t : {"mkfs.fat", "fsck.fat", "mcopy", "mdir", "mmd"})
      if (find_tool(t).empty()) return false;
    return true;
  }();
  return present;
}

TempDir::TempDir() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "fat";
  for (char& c : name)
    if (c == '/') c = '_';
  path_ = fs::temp_directory_path() / ("olas_" + std::to_string(::getpid()) + "_" + name);
  fs::remove_all(path_);
  fs::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

int run_command(const std::string& cmd, std::string* out) {
  std::string full = cmd + " 2>&1";
  FILE* p = ::popen(full.c_str(), "r");
  if (!p) return -1;
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
  int st = ::pclose(p);
  if (out) *out = text;
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

namespace {
std::string quote(const fs::path& p) { return "'" + p.string() + "'"; }

void write_mbr(const fs::path& img, uint32_t start, uint32_t blocks, uint8_t type) {
  std::vector<uint8_t> mbr(512, 0);
  uint8_t* e = &mbr[0x1BE];
  e[0] = 0x00;
  e[1] = 0xFE, e[2] = 0xFF, e[3] = 0xFF;  // CHS unused: LBA fields rule
  e[4] = type;
  e[5] = 0xFE, e[6] = 0xFF, e[7] = 0xFF;
  for (int i = 0; i < 4; ++i) {
    e[8 + i] = uint8_t(start >> (8 * i));
    e[12 + i] = uint8_t(blocks >> (8 * i));
  }
  mbr[510] = 0x55;
  mbr[511] = 0xAA;
  patch_image(img, 0, mbr);
}
}  // namespace

void make_image(const fs::path& img, const ImageSpec& layout) {
  fs::remove(img);
  { std::ofstream(img, std::ios::binary); }
  fs::resize_file(img, uint64_t(layout.size_mb) << 20);
  uint32_t total = layout.size_mb * 2048u;
  uint32_t offset = layout.partitioned ? kPartitionStart : 0;
  uint32_t vol_blocks = total - offset;
  std::string cmd = quote(find_tool("mkfs.fat")) + " -F " + std::to_string(layout.fat_bits) +
                    " -s " + std::to_string(layout.sectors_per_cluster) + " -n TESTCARD";
  if (layout.partitioned) {
    cmd += " --offset=" + std::to_string(offset) + " -h " + std::to_string(offset);
  }
  cmd += " " + quote(img) + " " + std::to_string(vol_blocks / 2);
  std::string out;
  ASSERT_EQ(run_command(cmd, &out), 0) << cmd << "\n" << out;
  if (layout.partitioned)
    write_mbr(img, offset, vol_blocks, layout.fat_bits == 32 ? 0x0C : (layout.fat_bits == 16 ? 0x06 : 0x01));
}

std::string mtools_target(const fs::path& img, const ImageSpec& layout) {
  std::string t = img.string();
  if (layout.partitioned) t += "@@" + std::to_string(uint64_t(kPartitionStart) * 512);
  return t;
}

int mtools(const std::string& tool, const fs::path& img, const ImageSpec& layout,
           const std::string& args, std::string* out) {
  std::string cmd = "MTOOLS_SKIP_CHECK=1 " + quote(find_tool(tool)) + " -i '" +
                    mtools_target(img, layout) + "' " + args;
  return run_command(cmd, out);
}

FsckResult fsck(const fs::path& img, const ImageSpec& layout) {
  FsckResult r;
  fs::path target = img;
  if (layout.partitioned) {
    target = img.string() + ".part";
    uint64_t size = fs::file_size(img) - uint64_t(kPartitionStart) * 512;
    std::ifstream in(img, std::ios::binary);
    in.seekg(std::streamoff(uint64_t(kPartitionStart) * 512));
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    std::vector<char> buf(1 << 20);
    while (size > 0) {
      size_t n = size_t(std::min<uint64_t>(size, buf.size()));
      in.read(buf.data(), std::streamsize(n));
      out.write(buf.data(), std::streamsize(n));
      size -= n;
    }
  }
  r.status = run_command(quote(find_tool("fsck.fat")) + " -n " + quote(target), &r.output);
  if (layout.partitioned) fs::remove(target);
  return r;
}

bool mcopy_out(const fs::path& img, const ImageSpec& layout, const std::string& card_path,
               std::string* content) {
  fs::path tmp = img.string() + ".out";
  fs::remove(tmp);
  int st = mtools("mcopy", img, layout, "-n '::" + card_path + "' " + quote(tmp));
  if (st != 0) return false;
  *content = read_host_file(tmp);
  fs::remove(tmp);
  return true;
}

void copy_image(const fs::path& from, const fs::path& to) {
  std::string out;
  ASSERT_EQ(run_command("cp --sparse=always " + quote(from) + " " + quote(to), &out), 0) << out;
}

std::string read_host_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void write_host_file(const fs::path& p, const std::string& content) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << content;
}

void patch_image(const fs::path& img, uint64_t offset, const std::vector<uint8_t>& bytes) {
  std::fstream f(img, std::ios::binary | std::ios::in | std::ios::out);
  f.seekp(std::streamoff(offset));
  f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> peek_image(const fs::path& img, uint64_t offset, size_t n) {
  std::vector<uint8_t> b(n, 0);
  std::ifstream f(img, std::ios::binary);
  f.seekg(std::streamoff(offset));
  f.read(reinterpret_cast<char*>(b.data()), std::streamsize(n));
  return b;
}

CardRig::CardRig(const fs::path& img) : board(sim::Board::Config{}) {
  board.make_current();
  card = std::make_unique<sim::SdCard>(img.string(), 0);
  board.set_card(card.get());
}

CardRig::~CardRig() {
  board.set_card(nullptr);
  FatFile::setCwd(nullptr);  // the working directory belonged to this test's SdFat
}

std::string record_line(uint32_t n) {
  char buf[80];
  std::snprintf(buf, sizeof buf, "R%07u,%010u,ABCDEFGHIJ,abcdefghij,-00012,+0001.2345,", n % 10000000u,
                n * 2654435761u);
  std::string s(buf);
  s.resize(64, 'x');
  return s + "\n";
}

}  // namespace olas::test
