// kestrova-channel: makes and checks the update channel with the setup
// program's own reader, verifier, failure texts and key. See HelpText().

#include <sodium.h>

#include <iostream>
#include <string_view>
#include <variant>
#include <vector>

#include "tools/channel/check_channel.h"
#include "tools/channel/command_line.h"
#include "tools/channel/make_channel.h"
#include "tools/channel/publish_release.h"
#include "tools/channel/sign_installer.h"
#include "tools/channel/token_command.h"

namespace {

struct RunCommand {
  int operator()(const kestrova::channel::MakeOptions& options) const {
    return static_cast<int>(kestrova::channel::RunMake(options, std::cout, std::cerr));
  }
  int operator()(const kestrova::channel::CheckOptions& options) const {
    return static_cast<int>(kestrova::channel::RunCheck(options, std::cout, std::cerr));
  }
  int operator()(const kestrova::channel::PublishOptions& options) const {
    return static_cast<int>(kestrova::channel::RunPublish(options, std::cout, std::cerr));
  }
  int operator()(const kestrova::channel::RollbackOptions& options) const {
    return static_cast<int>(kestrova::channel::RunRollback(options, std::cout, std::cerr));
  }
  int operator()(const kestrova::channel::PublicKeyOptions& options) const {
    return static_cast<int>(kestrova::channel::RunPublicKey(options, std::cout, std::cerr));
  }
  int operator()(const kestrova::channel::SignOptions& options) const {
    return static_cast<int>(kestrova::channel::RunSign(options, std::cout, std::cerr));
  }
  int operator()(const kestrova::channel::HelpRequest&) const {
    std::cout << kestrova::channel::HelpText();
    return static_cast<int>(kestrova::channel::ExitCode::kDone);
  }
};

}  // namespace

int main(int argc, char** argv) {
  // Lets libsodium pick the fastest hash code for this processor; without it
  // the portable code runs, with the same results.
  [[maybe_unused]] const int sodiumReady = sodium_init();
  const std::vector<std::string_view> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  auto command = kestrova::channel::ParseCommandLine(arguments);
  if (!command.ok()) {
    std::cerr << "kestrova-channel: " << command.failure().text
              << "\nkestrova-channel --help shows the usage.\n";
    return static_cast<int>(kestrova::channel::ExitCode::kUsage);
  }
  return std::visit(RunCommand{}, command.value());
}
