// The host's own version, as a record of a run keeps it.
#pragma once
#include <string>

namespace velmora {

inline std::string VelmoraVersion() {
  return "1.05";
}

}  // namespace velmora
