#pragma once

namespace kestrova::channel {

// The exit codes of kestrova-channel, as its help text lists them.
enum class ExitCode : int {
  kDone = 0,       // make wrote the channel; check verified the installer
  kRefused = 1,    // the program would fail: its failure text is the verdict
  kUsage = 2,      // the command line is wrong
  kLocalFile = 3,  // a local file cannot be read, merged into or written
  kToken = 4,      // the token cannot be used (module, token, key, PIN, signing)
};

}  // namespace kestrova::channel
