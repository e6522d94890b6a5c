// Every lookup of a firmware symbol goes through here (see firmware_probe.h).
#include "sim/firmware_probe.h"

#include <dlfcn.h>
#include <link.h>

#include <cstring>

namespace sim {

namespace {
void* find(void* image, const char* name) { return image ? dlsym(image, name) : nullptr; }

void* checked(void* p, const char* name, size_t size) {
  if (!p) throw ImageError(std::string("the firmware image has no global '") + name + "'");
  Dl_info info{};
  void* entry = nullptr;
  const auto* sym = static_cast<const ElfW(Sym)*>(nullptr);
  // another name at the same address (a section's start marker) says nothing of this one's size
  if (dladdr1(p, &info, &entry, RTLD_DL_SYMENT) != 0 && info.dli_sname && std::strcmp(info.dli_sname, name) == 0)
    sym = static_cast<const ElfW(Sym)*>(entry);
  if (sym && sym->st_size != size)
    throw ImageError(std::string("the firmware's '") + name + "' is " + std::to_string(sym->st_size) +
                     " bytes, read as " + std::to_string(size));
  return p;
}

template <class F>
F function(void* image, const char* name) {
  return reinterpret_cast<F>(find(image, name));
}
}  // namespace

void* probe_global(void* image, const char* name, size_t size) { return checked(find(image, name), name, size); }

void* probe_linked_global(const char* name, size_t size) { return checked(dlsym(RTLD_DEFAULT, name), name, size); }

FirmwareEntry probe_entry(void* image) {
  FirmwareEntry e;
  e.setup = function<void (*)()>(image, "setup");
  e.loop = function<void (*)()>(image, "loop");
  e.tcc0 = function<void (*)()>(image, "TCC0_Handler");
  e.uart_rx = function<uint8_t (*)(uint8_t, uint8_t)>(image, "board_uart_rx_irq");
  e.uart_tx = function<void (*)(uint8_t)>(image, "board_uart_tx_irq");
  e.wdt_warning = function<void (*)()>(image, "board_wdt_warning_irq");
  if (!e.setup || !e.loop) throw ImageError("firmware image lacks setup/loop");
  return e;
}

FormatFn probe_format(void* image) {
  auto f = function<FormatFn>(image, "Formatear_SD");
  if (!f) throw ImageError("firmware image lacks Formatear_SD");
  return f;
}

bool is_firmware_image(void* image) {
  return find(image, "setup") && find(image, "loop") && find(image, "Formatear_SD");
}

}  // namespace sim
