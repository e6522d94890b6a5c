// zrx03: builds, checks and decodes the frames of the wave sensor's host link.
//   zrx03 frame 1,8          prints $ZRX03,1,8*5A
//   zrx03 check FRAME        right or wrong checksum, and what it should be (exit 0 right, 1 wrong)
//   zrx03 decode LINE        names every field with its unit (exit 1 when the checksum is wrong)
//   zrx03 decode -           decodes the frames among the lines of standard input (a host.log)
// Bad input: a message naming it and exit status 2.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "cli_parse.h"
#include "zrx03/frames.h"

namespace {

int fail(const std::string& message) {
  std::fprintf(stderr, "zrx03: %s\n", message.c_str());
  return 2;
}

// The frames in one line of a host.log: a '$' frame runs to the end of the line; the "#OLA," and
// "#PTO," lines are written in parts by the sensor, so other output may land inside them.
std::vector<std::string> pieces(const std::string& line) {
  std::vector<size_t> starts;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '$') {
      starts.push_back(i);
      break;
    }
    if (line.compare(i, 5, "#OLA,") == 0 || line.compare(i, 5, "#PTO,") == 0) starts.push_back(i);
  }
  std::vector<std::string> out;
  for (size_t k = 0; k < starts.size(); ++k)
    out.push_back(line.substr(starts[k], k + 1 < starts.size() ? starts[k + 1] - starts[k] : std::string::npos));
  return out;
}

// Lines without a frame (the banner, the tail of a split "#PTO," line) are skipped. Once every
// line has been read the exit status is 2 if a frame could not be decoded, else 1 if a checksum
// was wrong, else 0.
int decode_stream(std::istream& in) {
  std::string line;
  int status = 0;
  unsigned long number = 0, decoded = 0, skipped = 0;
  while (std::getline(in, line)) {
    ++number;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    std::vector<std::string> frames = pieces(line);
    if (frames.empty() && !line.empty()) ++skipped;
    for (const std::string& f : frames) {
      try {
        bool right = true;
        std::cout << zrx03::decode_line(f, &right) << "\n";
        ++decoded;
        if (!right && status == 0) status = 1;
      } catch (const zrx03::BadInput& e) {
        std::cout << f << "\n  line " << number << ": " << e.what() << "\n\n";
        std::fprintf(stderr, "zrx03: line %lu: %s\n", number, e.what());
        status = 2;
      }
    }
  }
  std::cout << decoded << " frame(s) decoded, " << skipped << " other line(s) skipped\n";
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Builds, checks and decodes the host-link frames of the wave sensor"};
  app.require_subcommand(1);
  std::string body, frame, line;
  auto* cmd_frame = app.add_subcommand("frame", "build a command frame: zrx03 frame 1,8 -> $ZRX03,1,8*5A");
  cmd_frame->add_option("FIELDS", body, "the fields after the tag (1,8), or the body with its tag ($ZRX03,1,8)")
      ->required();
  auto* cmd_check = app.add_subcommand("check", "is the frame's checksum right, and what should it be");
  cmd_check->add_option("FRAME", frame, "a frame such as '$ZRX03,1,8*5A'")->required();
  auto* cmd_decode = app.add_subcommand("decode", "name the fields of a frame or line, with units");
  cmd_decode->add_option("LINE", line, "an answer, command, RES, GPS, #OLA or #PTO line; - reads standard input")
      ->required();
  if (auto status = olas::parse_command_line(app, argc, argv)) return *status;

  try {
    if (*cmd_frame) {
      std::cout << zrx03::make_frame(body) << "\n";
      return 0;
    }
    if (*cmd_check) {
      zrx03::Check c = zrx03::check_frame(frame);
      if (c.right) {
        std::cout << "checksum right: " << c.expected << "\n";
        return 0;
      }
      if (c.given.empty())
        std::cout << "no checksum; it should be *" << c.expected << "\n";
      else
        std::cout << "checksum wrong: '" << c.given << "', it should be " << c.expected << "\n";
      return 1;
    }
    if (line == "-") return decode_stream(std::cin);
    bool right = true;
    std::cout << zrx03::decode_line(line, &right);
    return right ? 0 : 1;
  } catch (const zrx03::BadInput& e) {
    return fail(e.what());
  }
}
