#include "launcher/command_line.h"

#include <string_view>

namespace kestrova {
namespace {

constexpr char16_t kQuote = u'"';
constexpr char16_t kBackslash = u'\\';

bool IsBlank(char16_t unit) { return unit == u' ' || unit == u'\t'; }

// The program name: quotes toggle and are dropped, every other unit is taken
// literally, a blank outside quotes ends it. Returns the position after it.
const char16_t* ReadProgramName(const char16_t* at, std::u16string& name) {
  bool insideQuotes = false;
  for (; *at != 0; ++at) {
    if (*at == kQuote) {
      insideQuotes = !insideQuotes;
    } else if (IsBlank(*at) && !insideQuotes) {
      break;
    } else {
      name += *at;
    }
  }
  return at;
}

const char16_t* SkipBlanks(const char16_t* at) {
  while (IsBlank(*at)) ++at;
  return at;
}

void ReadArguments(const char16_t* at, std::vector<std::u16string>& arguments) {
  std::u16string current;
  bool insideQuotes = false;
  while (*at != 0) {
    const char16_t unit = *at;
    if (IsBlank(unit) && !insideQuotes) {
      arguments.push_back(std::move(current));
      current.clear();
      at = SkipBlanks(at);
      // Blanks at the very end start no argument: the end rule below decides.
      continue;
    }
    if (unit == kBackslash) {
      std::size_t count = 0;
      while (*at == kBackslash) {
        ++count;
        ++at;
      }
      if (*at == kQuote) {
        current.append(count / 2, kBackslash);
        if (count % 2 == 1) {
          current += kQuote;
          ++at;
        }
      } else {
        current.append(count, kBackslash);
      }
      continue;
    }
    if (unit == kQuote) {
      if (!insideQuotes) {
        insideQuotes = true;
        ++at;
      } else if (at[1] == kQuote) {
        current += kQuote;
        at += 2;
      } else if (at[1] == 0) {
        // A final quotation mark inside quotes: the scan ends inside quotes.
        ++at;
      } else {
        insideQuotes = false;
        ++at;
      }
      continue;
    }
    current += unit;
    ++at;
  }
  if (!current.empty() || insideQuotes) arguments.push_back(std::move(current));
}

}  // namespace

std::vector<std::u16string> SplitCommandLine(const char16_t* commandLine,
                                             ModulePathReader readModulePath) {
  std::vector<std::u16string> arguments;
  if (commandLine == nullptr || *commandLine == 0) {
    arguments.push_back(readModulePath != nullptr ? readModulePath() : std::u16string());
    return arguments;
  }
  std::u16string programName;
  const char16_t* at = ReadProgramName(commandLine, programName);
  arguments.push_back(std::move(programName));
  ReadArguments(SkipBlanks(at), arguments);
  return arguments;
}

bool HasNoRunSwitch(const std::vector<std::u16string>& arguments) {
  // "--no-run" is plain ASCII: an element equal to it unit by unit is
  // well-formed, and an element holding a surrogate can never be equal.
  constexpr std::u16string_view kNoRun = u"--no-run";
  for (const std::u16string& argument : arguments) {
    if (argument == kNoRun) return true;
  }
  return false;
}

std::uint32_t NextModulePathBufferSize(std::uint32_t size) {
  constexpr std::uint32_t kLargest = 0xFFFFFFFFu;
  if (size == kLargest) return 0;
  if (size > kLargest / 2) return kLargest;
  return size * 2;
}

}  // namespace kestrova
