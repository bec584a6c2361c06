#pragma once
// How a dialog keeps what the operator set: the station's way of saving a
// settings document (it tells the operator when the file cannot be written).
// Dialogs get it when they are made and reach nothing else of the station.

#include <functional>
#include <string>

#include "platform/profile.h"

namespace karvelo::ui {

using SaveSettings =
    std::function<void(const platform::ProfileDocument& document, const std::string& path)>;

}  // namespace karvelo::ui
