// The check of --give-up-after for velmora's commands (run, station): the limits and
// their reason are host/core's, shared with velmora-gui.
#pragma once
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <string>

#include "host/core/give_up.h"

namespace velmora {

inline CLI::Validator GiveUpCheck() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        if (text.empty() || text.size() > 12 ||
            !std::all_of(text.begin(), text.end(),
                         [](unsigned char c) { return std::isdigit(c) != 0; }))
          return "takes whole seconds, not \"" + text + "\"";
        return GiveUpSecondsProblem(std::stoull(text));
      },
      "SECONDS");
}

}  // namespace velmora
