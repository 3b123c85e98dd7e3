#pragma once

#include <cstdint>
#include <string>

namespace kestrova {

// The I/O error text of a failed file operation with this Windows error
// code: the system's message, then " (os error " code ")". An NT status
// (bit 0x10000000) is looked up in NTDLL.DLL's table when that is loaded.
std::string IoErrorText(std::uint32_t code);

}  // namespace kestrova
