#include "sim/machine.h"

#include <dlfcn.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <stdexcept>

#if defined(__SANITIZE_ADDRESS__)
#define OLAS_ASAN_FIBERS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OLAS_ASAN_FIBERS 1
#endif
#endif
#ifdef OLAS_ASAN_FIBERS
#include <sanitizer/common_interface_defs.h>
#endif

namespace sim {

// Pages the firmware never touches are never made: a zero-filled vector cost every page of it.
struct FirmwareStack {
  char* p = nullptr;
  size_t n = 0;
  void allocate(size_t size) {
    void* m = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (m == MAP_FAILED) throw std::runtime_error("no memory for the firmware's stack");
    p = static_cast<char*>(m);
    n = size;
  }
  ~FirmwareStack() {
    if (p) munmap(p, n);
  }
  char* data() const { return p; }
  size_t size() const { return n; }
};

struct Machine::Context {
  ucontext_t host;
  ucontext_t firmware;
  FirmwareStack stack;
  bool started = false;
  bool finished = false;
  // AddressSanitizer must hear of every stack switch, or an exception unwinding the
  // firmware's stack leaves stale poison behind.
  const void* host_bottom = nullptr;
  size_t host_size = 0;

  void to_firmware() {
#ifdef OLAS_ASAN_FIBERS
    void* fake = nullptr;
    __sanitizer_start_switch_fiber(&fake, stack.data(), stack.size());
    swapcontext(&host, &firmware);
    __sanitizer_finish_switch_fiber(fake, nullptr, nullptr);
#else
    swapcontext(&host, &firmware);
#endif
  }
  void to_host() {
#ifdef OLAS_ASAN_FIBERS
    void* fake = nullptr;
    __sanitizer_start_switch_fiber(&fake, host_bottom, host_size);
    swapcontext(&firmware, &host);
    __sanitizer_finish_switch_fiber(fake, &host_bottom, &host_size);
#else
    swapcontext(&firmware, &host);
#endif
  }
  // First thing on the firmware's stack: learn the host's.
  void entered() {
#ifdef OLAS_ASAN_FIBERS
    __sanitizer_finish_switch_fiber(nullptr, &host_bottom, &host_size);
#endif
  }
};

Machine::Machine(Board& board, std::string image_path)
    : board_(board), image_path_(std::move(image_path)), dynamic_(true), ctx_(new Context) {
  std::ifstream in(image_path_, std::ios::binary | std::ios::ate);
  if (!in) throw std::runtime_error("cannot read firmware image " + image_path_);
  image_bytes_.resize(size_t(in.tellg()));
  in.seekg(0);
  if (!in.read(image_bytes_.data(), std::streamsize(image_bytes_.size())))
    throw std::runtime_error("cannot read firmware image " + image_path_);
}

void* Machine::global(const char* name, size_t size) const {
  auto it = globals_.find(name);
  if (it == globals_.end()) it = globals_.emplace(name, probe_global(handle_, name, size)).first;
  return it->second;
}

Machine::Machine(Board& board, const FirmwareEntry& entry)
    : board_(board), dynamic_(false), static_entry_(entry), ctx_(new Context) {}

Machine::~Machine() {
  board_.on_stop = nullptr;
  if (handle_) {
    board_.release_heap();
    dlclose(handle_);
  }
}

void Machine::load_image() {
  if (!dynamic_) {
    board_.set_firmware(static_entry_);
    return;
  }
  if (handle_) {
    board_.release_heap();  // the old image's heap went with its RAM
    dlclose(handle_);
    handle_ = nullptr;
    globals_.clear();
  }
  // A fresh anonymous copy: the loader sees a new file and maps new, zeroed globals.
  int fd = memfd_create("sensor_olas_fw", MFD_CLOEXEC);
  if (fd < 0) throw std::runtime_error("memfd_create failed");
  size_t off = 0;
  while (off < image_bytes_.size()) {
    ssize_t n = ::write(fd, image_bytes_.data() + off, image_bytes_.size() - off);
    if (n <= 0) {
      ::close(fd);
      throw std::runtime_error("cannot copy the firmware image");
    }
    off += size_t(n);
  }
  std::string path = "/proc/self/fd/" + std::to_string(fd);
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  ::close(fd);
  if (!handle_) throw std::runtime_error(std::string("cannot load firmware: ") + dlerror());
  board_.set_firmware(probe_entry(handle_));
}

void Machine::firmware_main() {
  ctx_->entered();
  for (;;) {
    try {
      load_image();
      board_.power_on_reset();
      ++boots_;
      board_.firmware().setup();
      for (;;) {
        board_.firmware().loop();
        board_.charge_loop_pass();
      }
    } catch (const McuReset&) {
      continue;  // the MCU starts again; time, flash and devices carry on
    } catch (const std::exception& e) {
      error_ = e.what();
    } catch (const EndOfRun&) {
      error_ = "run ended";
    }
    ctx_->finished = true;
    ctx_->to_host();
  }
}

void Machine::entry(unsigned lo, unsigned hi) {
  auto* self = reinterpret_cast<Machine*>((uintptr_t(hi) << 32) | uintptr_t(lo));
  self->firmware_main();
}

void Machine::run_until(Cycles t) {
  if (ctx_->finished) throw std::runtime_error("firmware stopped: " + error_);
  board_.make_current();
  board_.set_stop(t);
  board_.on_stop = [this] { ctx_->to_host(); };
  if (!ctx_->started) {
    ctx_->started = true;
    ctx_->stack.allocate(8u << 20);
    getcontext(&ctx_->firmware);
    ctx_->firmware.uc_stack.ss_sp = ctx_->stack.data();
    ctx_->firmware.uc_stack.ss_size = ctx_->stack.size();
    ctx_->firmware.uc_link = nullptr;
    uintptr_t p = reinterpret_cast<uintptr_t>(this);
    makecontext(&ctx_->firmware, reinterpret_cast<void (*)()>(&Machine::entry), 2,
                unsigned(p & 0xFFFFFFFFu), unsigned(p >> 32));
  }
  ctx_->to_firmware();
  if (ctx_->finished) throw std::runtime_error("firmware stopped: " + error_);
}

}  // namespace sim
