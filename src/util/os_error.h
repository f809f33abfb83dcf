// The text of an operating-system error as a client sees it: "{description} (os error {n})".
#pragma once

#include <string>

namespace korvane {

std::string os_error_text(int error_number);

}  // namespace korvane
