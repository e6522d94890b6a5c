// The command line of every tool parsed the same way: --help prints and exits 0, a bad option
// prints CLI11's message and exits 2.
#ifndef OLAS_TOOLS_CLI_PARSE_H
#define OLAS_TOOLS_CLI_PARSE_H

#include <CLI/CLI.hpp>
#include <optional>

namespace olas {

// The exit status when the run must stop here, nothing when it goes on.
inline std::optional<int> parse_command_line(CLI::App& app, int argc, char** argv) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return 2;
  }
  return std::nullopt;
}

}  // namespace olas

#endif
