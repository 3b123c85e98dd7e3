#pragma once

#include <string>
#include <string_view>

namespace kestrova {

// The UTF-16 form of a UTF-8 text followed by one 0 unit, for one Windows
// call: made right before it, released after it. An inner U+0000 is copied
// (Windows then reads the text as ending there); an empty text gives a buffer
// holding just the 0 unit, never a null pointer. Ill-formed UTF-8 becomes
// U+FFFD, as the system's conversion does it.
class WideString {
 public:
  explicit WideString(std::string_view utf8);

  const wchar_t* c_str() const { return text_.c_str(); }
  // Code units before the terminating 0, inner 0 units included.
  std::size_t size() const { return text_.size(); }

 private:
  std::wstring text_;
};

}  // namespace kestrova
