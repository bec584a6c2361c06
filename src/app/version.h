#pragma once

#include <string_view>

namespace karvelo::app {

// Shown as the window caption and by --version.
inline constexpr std::wstring_view kVersionBanner = L"KARVELO V2.0(200323)";

}  // namespace karvelo::app
