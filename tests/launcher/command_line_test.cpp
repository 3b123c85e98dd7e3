#include "launcher/command_line.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kestrova {
namespace {

using Arguments = std::vector<std::u16string>;

std::u16string FakeModulePath() { return u"C:\\Program Files\\Kestrova\\setup.exe"; }

std::u16string EmptyModulePath() { return {}; }

std::string Show(const std::u16string& text) {
  std::string out = "[";
  for (char16_t unit : text) {
    if (unit >= 0x20 && unit < 0x7F) {
      out += static_cast<char>(unit);
    } else {
      static const char kHex[] = "0123456789ABCDEF";
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(unit >> shift) & 0xF];
    }
  }
  return out + "]";
}

std::string Show(const Arguments& arguments) {
  std::string out;
  for (const auto& argument : arguments) out += Show(argument);
  return out;
}

struct SplitCase {
  const char* name;
  std::u16string commandLine;
  Arguments arguments;
  bool noRun;
};

// Each command line, its argument list and whether it carries the switch.
const SplitCase kSplitCases[] = {
    // The switch, in the forms that count.
    {"plain switch", u"setup.exe --no-run", {u"setup.exe", u"--no-run"}, true},
    {"quoted switch", u"setup.exe \"--no-run\"", {u"setup.exe", u"--no-run"}, true},
    {"partly quoted switch", u"setup.exe \"--no-\"run", {u"setup.exe", u"--no-run"}, true},
    {"switch among others",
     u"setup.exe first --no-run last",
     {u"setup.exe", u"first", u"--no-run", u"last"},
     true},
    {"switch twice",
     u"setup.exe --no-run --no-run",
     {u"setup.exe", u"--no-run", u"--no-run"},
     true},
    {"switch as the program name", u"--no-run", {u"--no-run"}, true},
    {"switch as the program name, quoted", u"\"--no-run\" x", {u"--no-run", u"x"}, true},
    {"switch after a tab", u"setup.exe\t--no-run", {u"setup.exe", u"--no-run"}, true},
    {"switch after trailing blanks", u"setup.exe --no-run \t ", {u"setup.exe", u"--no-run"}, true},
    // Near misses.
    {"upper case", u"setup.exe --NO-RUN", {u"setup.exe", u"--NO-RUN"}, false},
    {"one dash", u"setup.exe -no-run", {u"setup.exe", u"-no-run"}, false},
    {"slash", u"setup.exe /no-run", {u"setup.exe", u"/no-run"}, false},
    {"with a value", u"setup.exe --no-run=1", {u"setup.exe", u"--no-run=1"}, false},
    {"quoted with a space", u"setup.exe \"--no-run \"", {u"setup.exe", u"--no-run "}, false},
    {"leading space inside quotes",
     u"setup.exe \" --no-run\"",
     {u"setup.exe", u" --no-run"},
     false},
    {"escaped quotes", u"setup.exe \\\"--no-run\\\"", {u"setup.exe", u"\"--no-run\""}, false},
    {"prefix only", u"setup.exe --no-ru", {u"setup.exe", u"--no-ru"}, false},
    {"longer", u"setup.exe --no-runs", {u"setup.exe", u"--no-runs"}, false},
    {"fullwidth hyphens",
     u"setup.exe \uFF0D\uFF0Dno-run",
     {u"setup.exe", u"\uFF0D\uFF0Dno-run"},
     false},
    {"switch with an unpaired high surrogate",
     std::u16string(u"setup.exe --no-run") + char16_t(0xD800),
     {u"setup.exe", std::u16string(u"--no-run") + char16_t(0xD800)},
     false},
    {"switch after an unpaired low surrogate",
     std::u16string(u"setup.exe ") + char16_t(0xDC00) + u"--no-run",
     {u"setup.exe", char16_t(0xDC00) + std::u16string(u"--no-run")},
     false},
    {"switch inside the program name's quotes",
     u"\"setup.exe --no-run\"",
     {u"setup.exe --no-run"},
     false},
    // The program name.
    {"leading space: empty program name", u" --no-run", {u"", u"--no-run"}, true},
    {"leading tab: empty program name", u"\tfirst second", {u"", u"first", u"second"}, false},
    {"quoted full path",
     u"\"C:\\Program Files\\Kestrova AI\\setup.exe\" x",
     {u"C:\\Program Files\\Kestrova AI\\setup.exe", u"x"},
     false},
    {"program name keeps backslashes before quotes",
     u"C:\\dir\\\"a b\\\"\\setup.exe x",
     {u"C:\\dir\\a b\\\\setup.exe", u"x"},
     false},
    {"program name quoted in the middle",
     u"C:\\\"Program Files\"\\s.exe",
     {u"C:\\Program Files\\s.exe"},
     false},
    {"program name with an unclosed quote", u"\"C:\\a b", {u"C:\\a b"}, false},
    {"program name only quotes", u"\"\" x", {u"", u"x"}, false},
    {"program name with \"\" inside", u"a\"\"b c", {u"ab", u"c"}, false},
    {"program name alone", u"setup.exe", {u"setup.exe"}, false},
    {"program name and blanks", u"setup.exe  \t ", {u"setup.exe"}, false},
    {"only blanks", u"   ", {u""}, false},
    // Quotation marks and backslashes in arguments.
    {"a\"\"b", u"p a\"\"b", {u"p", u"ab"}, false},
    {"\"a\"\"b\"", u"p \"a\"\"b\"", {u"p", u"a\"b"}, false},
    {"\\\\\\\"x", u"p \\\\\\\"x", {u"p", u"\\\"x"}, false},
    {"\\\\\"x\"", u"p \\\\\"x\"", {u"p", u"\\x"}, false},
    {"backslashes without a quote", u"p a\\\\\\b c\\", {u"p", u"a\\\\\\b", u"c\\"}, false},
    {"one backslash before a quote", u"p \\\"", {u"p", u"\""}, false},
    {"four backslashes before a quote", u"p \\\\\\\\\"a b\"", {u"p", u"\\\\a b"}, false},
    {"five backslashes before a quote", u"p \\\\\\\\\\\"a b", {u"p", u"\\\\\"a", u"b"}, false},
    {"trailing backslashes inside quotes", u"p \"a\\\\\"", {u"p", u"a\\"}, false},
    {"blank inside quotes", u"p \"a b\"\t\"c\td\"", {u"p", u"a b", u"c\td"}, false},
    {"quotes glue pieces", u"p a\"b c\"d e", {u"p", u"ab cd", u"e"}, false},
    {"empty argument", u"p \"\"", {u"p", u""}, false},
    {"empty arguments in the middle", u"p \"\" \"\" x", {u"p", u"", u"", u"x"}, false},
    {"empty argument then blanks", u"p \"\"  ", {u"p", u""}, false},
    {"final quote inside quotes", u"p \"abc\"", {u"p", u"abc"}, false},
    {"final doubled quote inside quotes", u"p \"a\"\"", {u"p", u"a\""}, false},
    {"three quotes", u"p \"\"\"", {u"p", u"\""}, false},
    {"four quotes", u"p \"\"\"\"", {u"p", u"\""}, false},
    {"four quotes then x", u"p \"\"\"\"x", {u"p", u"\"x"}, false},
    {"unclosed quote", u"p \"a b", {u"p", u"a b"}, false},
    {"unclosed quote with trailing blank", u"p \"a ", {u"p", u"a "}, false},
    {"lone quote", u"p \"", {u"p", u""}, false},
    {"quote then blank", u"p \" ", {u"p", u" "}, false},
    {"closing quote then blank", u"p \"a\" b", {u"p", u"a", u"b"}, false},
    {"other blanks are characters",
     u"p a\u00A0b\nc\rd\u3000e",
     {u"p", u"a\u00A0b\nc\rd\u3000e"},
     false},
    {"cyrillic",
     u"p \u0443\u0441\u0442 \"\u0430 \u0431\"",
     {u"p", u"\u0443\u0441\u0442", u"\u0430 \u0431"},
     false},
    {"pair outside the BMP", u"p \U0001F600", {u"p", u"\U0001F600"}, false},
};

TEST(SplitCommandLine, FollowsTheWindowsRules) {
  for (const SplitCase& c : kSplitCases) {
    const Arguments arguments = SplitCommandLine(c.commandLine.c_str(), &FakeModulePath);
    EXPECT_EQ(Show(arguments), Show(c.arguments)) << c.name;
    EXPECT_EQ(HasNoRunSwitch(arguments), c.noRun) << c.name;
  }
}

TEST(SplitCommandLine, StopsAtTheFirstZeroUnit) {
  const char16_t commandLine[] = u"p a\0--no-run";
  const Arguments arguments = SplitCommandLine(commandLine, &FakeModulePath);
  EXPECT_EQ(Show(arguments), Show(Arguments{u"p", u"a"}));
  EXPECT_FALSE(HasNoRunSwitch(arguments));
}

TEST(SplitCommandLine, EmptyOrMissingCommandLineGivesTheModulePath) {
  EXPECT_EQ(SplitCommandLine(nullptr, &FakeModulePath), Arguments{FakeModulePath()});
  EXPECT_EQ(SplitCommandLine(u"", &FakeModulePath), Arguments{FakeModulePath()});
  EXPECT_FALSE(HasNoRunSwitch(SplitCommandLine(u"", &FakeModulePath)));
  // A module path that cannot be read: the one element is empty.
  EXPECT_EQ(SplitCommandLine(u"", &EmptyModulePath), Arguments{u""});
  EXPECT_EQ(SplitCommandLine(nullptr, &EmptyModulePath), Arguments{u""});
}

TEST(SplitCommandLine, NonEmptyCommandLineDoesNotReadTheModulePath) {
  auto failIfCalled = []() -> std::u16string {
    ADD_FAILURE() << "module path read";
    return {};
  };
  EXPECT_EQ(SplitCommandLine(u" ", failIfCalled), Arguments{u""});
}

TEST(HasNoRunSwitch, ComparesWholeElements) {
  EXPECT_FALSE(HasNoRunSwitch({}));
  EXPECT_TRUE(HasNoRunSwitch({u"--no-run"}));
  EXPECT_TRUE(HasNoRunSwitch({u"", u"x", u"--no-run"}));
  EXPECT_TRUE(HasNoRunSwitch({std::u16string(u"--no-run", 8)}));
  EXPECT_FALSE(HasNoRunSwitch({std::u16string(u"--no-run\0", 9)}));
  EXPECT_FALSE(HasNoRunSwitch({std::u16string(u"\0--no-run", 9)}));
  EXPECT_FALSE(HasNoRunSwitch({u"--no-run ", u" --no-run", u"--no-rum"}));
}

TEST(NextModulePathBufferSize, DoublesUpToTheLargest32BitCount) {
  struct Case {
    std::uint32_t size;
    std::uint32_t next;
  } const cases[] = {
      {512, 1024},
      {1024, 2048},
      {32768, 65536},
      {0x40000000u, 0x80000000u},
      {0x7FFFFFFFu, 0xFFFFFFFEu},
      {0x80000000u, 0xFFFFFFFFu},
      {0x80000001u, 0xFFFFFFFFu},
      {0xFFFFFFFEu, 0xFFFFFFFFu},
      {0xFFFFFFFFu, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(NextModulePathBufferSize(c.size), c.next) << c.size;
}

// A module path of a given length, read the way GetModuleFileNameW does it:
// a buffer too small is filled (with a 0 unit at its end) and reported.
struct FakeModuleFile {
  std::u16string path;
  std::vector<std::uint32_t> sizes;

  PathReadResult operator()(char16_t* buffer, std::uint32_t size) {
    sizes.push_back(size);
    if (path.size() < size) {
      path.copy(buffer, path.size());
      buffer[path.size()] = 0;
      return {static_cast<std::uint32_t>(path.size()), false};
    }
    path.copy(buffer, size - 1);
    buffer[size - 1] = 0;
    return {size, true};
  }
};

TEST(ReadGrowingPath, DoublesTheBufferWhileTheCallReportsItTooSmall) {
  struct Case {
    std::size_t length;
    std::vector<std::uint32_t> sizes;
  } const cases[] = {
      {0, {512}},  // a failed call: 0 units
      {1, {512}},
      {511, {512}},
      {512, {512, 1024}},
      {1023, {512, 1024}},
      {1024, {512, 1024, 2048}},
      {5000, {512, 1024, 2048, 4096, 8192}},
      {32767, {512, 1024, 2048, 4096, 8192, 16384, 32768}},
  };
  for (const Case& c : cases) {
    std::u16string path(c.length, u'x');
    if (!path.empty()) path.front() = u'C';
    FakeModuleFile file{path, {}};
    const std::u16string read = ReadGrowingPath<char16_t>(std::ref(file));
    EXPECT_EQ(read, path) << c.length;
    EXPECT_EQ(file.sizes, c.sizes) << c.length;
  }
}

TEST(ReadGrowingPath, FullBufferWithoutTheReportIsTheWholePath) {
  // Older systems fill the buffer without a 0 unit and report nothing.
  std::vector<std::uint32_t> sizes;
  const std::u16string read = ReadGrowingPath<char16_t>([&](char16_t* buffer, std::uint32_t size) {
    sizes.push_back(size);
    std::fill(buffer, buffer + size, u'y');
    return PathReadResult{size, false};
  });
  EXPECT_EQ(read, std::u16string(512, u'y'));
  EXPECT_EQ(sizes, std::vector<std::uint32_t>{512});
}

TEST(ReadGrowingPath, FailedCallGivesAnEmptyText) {
  int calls = 0;
  const std::u16string read = ReadGrowingPath<char16_t>([&](char16_t*, std::uint32_t) {
    ++calls;
    return PathReadResult{0, true};
  });
  EXPECT_EQ(read, u"");
  EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace kestrova
