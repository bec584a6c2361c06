#include "export/excel_automation.h"

#include <utility>

#include "platform/text_encoding.h"

namespace karvelo::exports::excel {

AutomationError::AutomationError(std::wstring text)
    : text_(std::move(text)), narrow_(platform::WideToUtf8(text_)) {}

}  // namespace karvelo::exports::excel
