#include "unit/storage/image_tools.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

namespace olas::test {

bool CopyImageRange(const std::string& image, const std::string& out, uint64_t offset, uint64_t size) {
  int in = ::open(image.c_str(), O_RDONLY);
  int dst = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  bool ok = in >= 0 && dst >= 0 && ::ftruncate(dst, off_t(size)) == 0;
  const off_t begin = off_t(offset);
  const off_t end = off_t(offset + size);
  std::vector<char> buf(1 << 20);
  for (off_t pos = begin; ok && pos < end;) {
    off_t data = ::lseek(in, pos, SEEK_DATA);
    if (data < 0 || data >= end) break;  // only holes left
    off_t hole = std::min(::lseek(in, data, SEEK_HOLE), end);
    for (off_t p = data; ok && p < hole;) {
      size_t n = size_t(std::min<off_t>(hole - p, off_t(buf.size())));
      ok = ::pread(in, buf.data(), n, p) == ssize_t(n) && ::pwrite(dst, buf.data(), n, p - begin) == ssize_t(n);
      p += off_t(n);
    }
    pos = hole;
  }
  if (in >= 0) ::close(in);
  if (dst >= 0) ::close(dst);
  return ok;
}

int RunShell(const std::string& command, std::string* out) {
  FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  if (p == nullptr) return -1;
  std::array<char, 256> buf;
  out->clear();
  while (std::fgets(buf.data(), int(buf.size()), p) != nullptr) out->append(buf.data());
  int status = ::pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace olas::test
