#include "vorn/ui/log.h"

#include <chrono>
#include <cstdio>
#include <mutex>

#include <fmt/chrono.h>
#include <fmt/format.h>

namespace vorn_ui::log {
namespace {

std::mutex log_mutex;

void write(std::string_view level, std::string_view message) {
    auto now = std::chrono::time_point_cast<std::chrono::milliseconds>(std::chrono::system_clock::now());
    std::string line = fmt::format("{:%Y-%m-%dT%H:%M:%S}Z {} {}\n", now, level, message);
    std::lock_guard lock(log_mutex);
    std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace

void warn(std::string_view message) { write("WARN", message); }
void info(std::string_view message) { write("INFO", message); }

}  // namespace vorn_ui::log
