// The RAM restore against a freshly loaded firmware image: every writable global the image exports
// lies in the RAM the restore covers, and after a start-up and some passes of the loop the restore
// gives back the fresh image's bytes (pointers compared by what they point at).
#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "board/hal.h"
#include "sim/firmware_probe.h"
#include "support/firmware_ram.h"
#include "unit/core/firmware_ram.h"

namespace olas::test {
namespace {

struct Symbol {
  std::string name;
  uint64_t value, size;
  bool object_in_writable_data;  // a writable global (relocated read-only data left out)
};

// Every sized symbol of an ELF file (the full table when it has one, else the dynamic one).
std::vector<Symbol> Symbols(const std::string& path, bool dynamic_only) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (f.size() < sizeof(Elf64_Ehdr)) return {};
  Elf64_Ehdr eh;
  std::memcpy(&eh, f.data(), sizeof eh);
  std::vector<Elf64_Shdr> sh(eh.e_shnum);
  std::memcpy(sh.data(), f.data() + eh.e_shoff, sh.size() * sizeof(Elf64_Shdr));
  const char* names = f.data() + sh[eh.e_shstrndx].sh_offset;
  bool has_full = false;
  for (const Elf64_Shdr& s : sh) has_full |= s.sh_type == SHT_SYMTAB;
  const uint32_t wanted = dynamic_only || !has_full ? SHT_DYNSYM : SHT_SYMTAB;
  std::vector<Symbol> out;
  for (const Elf64_Shdr& s : sh) {
    if (s.sh_type != wanted) continue;
    const char* str = f.data() + sh[s.sh_link].sh_offset;
    for (size_t off = 0; off + sizeof(Elf64_Sym) <= s.sh_size; off += sizeof(Elf64_Sym)) {
      Elf64_Sym y;
      std::memcpy(&y, f.data() + s.sh_offset + off, sizeof y);
      if (y.st_size == 0 || y.st_shndx == SHN_UNDEF || y.st_shndx >= sh.size()) continue;
      const Elf64_Shdr& home = sh[y.st_shndx];
      bool data = ELF64_ST_TYPE(y.st_info) == STT_OBJECT && (home.sh_flags & SHF_WRITE) &&
                  std::strncmp(names + home.sh_name, ".data.rel.ro", 12) != 0;
      out.push_back({str + y.st_name, y.st_value, y.st_size, data});
    }
  }
  return out;
}

// Addresses of one loaded image named by the symbol that holds them.
class Places {
 public:
  Places(const std::string& path, const void* inside) : symbols_(Symbols(path, false)) {
    Dl_info info{};
    if (dladdr(inside, &info) != 0) base_ = reinterpret_cast<uintptr_t>(info.dli_fbase);
  }
  // "name+offset", or "" when no symbol holds the address.
  std::string Name(uintptr_t p) const {
    for (const Symbol& s : symbols_) {
      if (p >= base_ + s.value && p < base_ + s.value + s.size) return s.name + "+" + std::to_string(p - base_ - s.value);
    }
    return "";
  }

 private:
  std::vector<Symbol> symbols_;
  uintptr_t base_ = 0;
};

class FirmwareRamGuard : public FirmwareFixture {};

TEST_F(FirmwareRamGuard, RestoreGivesBackTheStartBytesOfAFreshImage) {
  // dirty every module: the start-up, settings, a minute of passes
  setup();
  for (int ms = 0; ms < 60000; ms += 5) {
    loop();
    run_ms(5);
  }
  RestoreFirmwareRam();

  void* image = dlopen(OLAS_FIRMWARE_IMAGE, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(image, nullptr) << dlerror();
  std::vector<Symbol> objects = Symbols(OLAS_FIRMWARE_IMAGE, true);
  objects.erase(std::remove_if(objects.begin(), objects.end(), [](const Symbol& o) { return !o.object_in_writable_data; }),
                objects.end());
  ASSERT_GT(objects.size(), 200u);
  const Places fresh_places(OLAS_FIRMWARE_IMAGE, sim::probe_global(image, objects[0].name.c_str(), objects[0].size));
  const Places here_places("/proc/self/exe", firmware_data_range().begin);
  for (const Symbol& o : objects) {
    auto* fresh = static_cast<const uint8_t*>(sim::probe_global(image, o.name.c_str(), o.size));
    auto* here = static_cast<const uint8_t*>(sim::probe_linked_global(o.name.c_str(), o.size));
    EXPECT_TRUE(firmware_data_range().contains(here, o.size) || firmware_zeroed_range().contains(here, o.size))
        << o.name << " lies outside the RAM the restore puts back";
    for (size_t i = 0; i < o.size; ++i) {
      if (fresh[i] == here[i]) continue;
      // a pointer differs by where each image lies: the same if it names the same place
      size_t w = i & ~size_t(7);
      if (w + 8 <= o.size) {
        uintptr_t a = 0, b = 0;
        std::memcpy(&a, fresh + w, 8);
        std::memcpy(&b, here + w, 8);
        std::string name = fresh_places.Name(a);
        if (!name.empty() && name == here_places.Name(b)) {
          i = w + 7;
          continue;
        }
      }
      ADD_FAILURE() << o.name << " byte " << i << ": " << int(here[i]) << " after the restore, " << int(fresh[i])
                    << " in a fresh image";
      break;
    }
  }
  dlclose(image);
}

}  // namespace
}  // namespace olas::test

namespace olas::test {
namespace {

// The simulator's window into the image: a name the image lacks or a read of the wrong width is
// an error that names the global, never a silent zero.
TEST(FirmwareProbe, AMissingOrMisreadGlobalIsNamed) {
  void* image = dlopen(OLAS_FIRMWARE_IMAGE, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(image, nullptr) << dlerror();
  EXPECT_EQ(sim::probe(image, sim::fw::CTE_VELOCIDAD_RELOJ), 48000);
  EXPECT_EQ(sim::probe(image, sim::fw::imaximo_rx_uart)[2], 0);
  EXPECT_NE(sim::probe_format(image), nullptr);
  EXPECT_TRUE(sim::is_firmware_image(image));
  try {
    sim::probe(image, sim::FirmwareGlobal<int32_t>{"CTE_INTERVALO_RENOMBRADO"});
    ADD_FAILURE() << "a missing global was read";
  } catch (const sim::ImageError& e) {
    EXPECT_NE(std::string(e.what()).find("CTE_INTERVALO_RENOMBRADO"), std::string::npos);
  }
  EXPECT_THROW(sim::probe(image, sim::FirmwareGlobal<uint32_t>{"cdia_utc"}), sim::ImageError);
  dlclose(image);
}

}  // namespace
}  // namespace olas::test
