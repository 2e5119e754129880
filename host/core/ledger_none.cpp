// The ledger in a build without libpq (the Windows build): a run asked for one is
// refused, so that nobody believes a depot's record is kept when it is not.
#include "host/core/ledger.h"

namespace velmora {

std::unique_ptr<Ledger> ConnectLedger(const std::string& url, std::string& error) {
  error = "the ledger " + MaskedLedgerUrl(url) +
          ": this build of velmora has no PostgreSQL client, so it cannot keep a depot's "
          "ledger; run without --ledger and " +
          std::string(kLedgerVariable) + " (records stay in the local database)";
  return nullptr;
}

}  // namespace velmora
