// What the server makes of a request, as its own results; HttpStatus and the error pages
// turn them into what a client sees, all from one table.
#pragma once
#include <string_view>

namespace qlan::server {

enum class Outcome {
  kOk,
  kBadRequest,      // a head the grammar does not allow
  kBadForm,         // the entry form cannot be split
  kNoReplay,        // no field "frep"
  kRepeatedReplay,  // "frep" twice
  kBadBase64,
  kNotFound,
  kUnknownEntry,
  kHeadTimeout,
  kLengthRequired,
  kBodyTooLarge,
  kReplayTooLarge,
  kTargetTooLong,
  kInvalidReplay,
  kHeadTooLarge,  // too many bytes or header lines
  kStoreReadFailed,
  kNotImplemented,  // Transfer-Encoding
  kBusy,
  kNotStored,
  kVersion,
};

int HttpStatus(Outcome outcome) noexcept;
// "Not Found" for 404 and so on.
std::string_view ReasonPhrase(Outcome outcome) noexcept;
// The error page's text for the outcome.
std::string_view OutcomeMessage(Outcome outcome) noexcept;

}  // namespace qlan::server
