// Small text helpers of the host's views.
#pragma once
#include <cstdint>
#include <string>

namespace velmora {

// `text` in lower case (ASCII letters only).
std::string Lower(std::string text);

// `text` without leading and trailing blanks and tabs.
std::string Trim(const std::string& text);

// "&Browse..." -> "Browse...", "&&" -> "&".
std::string StripMnemonic(const std::string& text);

// "1:05", "12:00", "1:02:03".
std::string FormatElapsed(std::uint64_t elapsedMs);
// A progress position as a percentage: above 100 shows as 100, below 0 as 0.
int ClampPercent(long position);

// "Waiting... (again, 12 times)": the last line of a status text and how often it came
// again.
std::string RepeatLine(const std::string& status, unsigned long repeats);

}  // namespace velmora
