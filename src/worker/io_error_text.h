#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrova {

// The texts that describe a failed file operation, put together from a
// Windows error code and the system's message for it. No Windows calls here:
// os_error_text.h asks the system for the message.

// Bit of an error code that marks an NT status; such a code is looked up,
// with the bit cleared, in NTDLL.DLL's message table.
inline constexpr std::uint32_t kNtStatusBit = 0x10000000;

// The text of a write that the file accepted with 0 bytes.
inline constexpr std::string_view kWriteZeroText = "failed to write whole buffer";

// The system's message as FormatMessageW wrote it, made UTF-8 with all
// trailing whitespace removed; nothing when it is not valid UTF-16.
std::optional<std::string> TrimmedSystemMessage(std::u16string_view message);

// "OS Error " code " (FormatMessageW() returned error " formatError ")".
std::string FormatMessageFailedText(std::int32_t code, std::int32_t formatError);

// "OS Error " code " (FormatMessageW() returned invalid UTF-16)".
std::string InvalidUtf16MessageText(std::int32_t code);

// message " (os error " code ")", the code as a signed 32-bit number.
std::string OsErrorText(std::string_view message, std::int32_t code);

// Whether a failed write with this code is to be repeated: only the
// system's "interrupted call" code, which file writes do not give in
// practice. A cancelled write (ERROR_OPERATION_ABORTED) was meant to stop.
bool IsInterruptedWrite(std::uint32_t code);

// "не записать во временную папку: " ioErrorText
std::string CreateFileFailureText(std::string_view ioErrorText);

// "не записать файл: " ioErrorText
std::string WriteFileFailureText(std::string_view ioErrorText);

}  // namespace kestrova
