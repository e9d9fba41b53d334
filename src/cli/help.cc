// The fixed texts of the command line: the help text, the version and the
// default configuration that --init writes. They are kept byte for byte in
// raw string literals so that what is printed or written is exactly what is
// shown here.
#include "cli/help.h"

namespace zeviziz {
namespace {

// No trailing line feed: the printer adds it.
constexpr std::string_view kHelpText = R"zv(zeviziz

Mirror in_directory and compile Velt-enabled files using zeviziz.ini from the current working directory.

Usage:
  zeviziz [options]
      Mirror files and compile Velt-enabled extensions.

      Example:
        zeviziz

  zeviziz --init
      Create a default zeviziz.ini in the current directory.

      Example:
        zeviziz --init

  zeviziz --reset [--config <path>]
      Clear the configured output directory.

      Example:
        zeviziz --reset

  zeviziz --ast <file> <target>...
      Print the template AST.
      Targets: before, after, before-json, after-json

      Example:
        zeviziz --ast index.html before after

  zeviziz --version
      Print the installed Velt version.

      Example:
        zeviziz --version

Options:
  --config <path>
      Use a different configuration file.
      Project paths still resolve from the current working directory.

      Example:
        zeviziz --config ../zeviziz.ini

  --select <path>...
      Process only the selected files.

      Example:
        zeviziz --select index.html pages/about.html

  --watch [seconds]
      Watch for changes and recompile.
      Defaults to 1 second.

      Example:
        zeviziz --watch 2

  --log <field>...
      Enable compilation logging.
      Fields: path, time, count, filesystem, task

      Example:
        zeviziz --log path count)zv";

}  // namespace

std::string_view help_text() {
  return kHelpText;
}

std::string_view version_text() {
  return "0.0.40";
}

}  // namespace zeviziz
