#pragma once
// The platform's one logging facility: warnings to stderr with a UTC
// timestamp, one line each. Safe from any thread.

#include <string_view>

namespace vorn_ui::log {

void warn(std::string_view message);
void info(std::string_view message);

}  // namespace vorn_ui::log
