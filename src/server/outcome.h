// What the server makes of a request, as its own results; HttpStatus and the error pages
// turn them into what a client sees, and OutcomeOf is what each of the store's results means.
#pragma once
#include <string_view>

namespace qlan::server {

enum class StoreResult;  // the store's (entry_store.h)

enum class Outcome {
  kOk,
  kBadForm,         // the entry form cannot be split
  kNoReplay,        // no field "frep"
  kRepeatedReplay,  // "frep" twice
  kBadBase64,
  kBadRequest,  // a head the server cannot read one way only
  kNotFound,
  kUnknownEntry,
  kWithdrawn,  // the operator took the entry down
  kLengthRequired,
  kBodyTooLarge,
  kReplayTooLarge,
  kInvalidReplay,
  kStoreReadFailed,
  kBusy,
  kNotStored,
  kTooManyEntries,  // the address has its day's entries
  kNoSpace,         // the database's file system is nearly full
};

int HttpStatus(Outcome outcome) noexcept;
// The error page's text for the outcome.
std::string_view OutcomeMessage(Outcome outcome) noexcept;

// Whether the store was read (for a page, the table, a replay) or written (an entry): a
// failure of the one is the server's fault (500), of the other a refusal to retry (503).
enum class StoreAccess { kRead, kWrite };

// What a store result means to the client: kOk for an entry stored now or earlier.
Outcome OutcomeOf(StoreResult result, StoreAccess access) noexcept;

}  // namespace qlan::server
