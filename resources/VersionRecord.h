// The program's version record: the numbers and texts that identify this build of Lanternfall.
// They surface as `lanternfall --version`, Qt's application version (LF_VERSION, set from the
// project version in CMakeLists.txt), the AppStream release and the desktop entry.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace VersionRecord {

// The fixed part: major, minor, build, revision.
inline constexpr std::array<std::uint16_t, 4> FileVersionNumber{1, 3, 0, 105};
inline constexpr std::array<std::uint16_t, 4> ProductVersionNumber{1, 3, 0, 105};

inline constexpr std::uint32_t FileFlags = 0;          // none
inline constexpr std::uint32_t FileOS = 4;             // VOS__WINDOWS32, kept as recorded
inline constexpr std::uint32_t FileType = 1;           // VFT_APP: an application
inline constexpr std::uint32_t FileSubtype = 0;

// English (United States), Unicode.
inline constexpr std::uint16_t Language = 0x0409;
inline constexpr std::uint16_t CodePage = 0x04B0;
inline constexpr std::string_view StringTable = "040904B0";

// The string table.
inline constexpr std::string_view FileVersion = "1.03.0105";
inline constexpr std::string_view ProductVersion = "1.03.0105";
inline constexpr std::string_view InternalName = "Lanternfall";
inline constexpr std::string_view OriginalFilename = "Lanternfall.exe";
inline constexpr std::string_view FileDescription = "Lanternfall";
inline constexpr std::string_view ProductName = "Lanternfall";
inline constexpr std::string_view CompanyName = "The Lanternfall developers";
inline constexpr std::string_view LegalCopyright = "Copyright (C) The Lanternfall developers";

} // namespace VersionRecord
