// The settings loader on any file content: the codes and the record it leaves, and a save
// of what was loaded giving back the same 144 bytes.
#include <cstdint>
#include <cstring>
#include <string>

#include <unistd.h>

#include "app/settings.h"
#include "support/check.h"
#include "support/temp_folder.h"

namespace {

using qlan::fuzz::WordAt;

bool IsDefaults(const qlan::Settings& record) {
  static const std::uint8_t kZeros[sizeof record.proxyAddress] = {};
  return record.magic == qlan::kSettingsMagic && record.bodyLength == qlan::kSettingsBodyLength &&
         record.flags == 0 && record.proxyPort == 0 &&
         std::memcmp(record.proxyAddress, kZeros, sizeof kZeros) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = qlan::fuzz::TempFolder() + "/qlan.ini";
  static const std::string saved = qlan::fuzz::TempFolder() + "/saved.ini";
  QLAN_FUZZ_CHECK(qlan::fuzz::WriteWholeFile(path, {reinterpret_cast<const char*>(data), size}));

  qlan::Settings record{};
  std::memset(&record, 0xA5, sizeof record);
  const std::int16_t code = qlan::LoadSettings(path.c_str(), record);
  if (size < qlan::kSettingsSize) {
    QLAN_FUZZ_CHECK(code == qlan::kShortSettingsFile && IsDefaults(record));
  } else if (WordAt(data, 0) != qlan::kSettingsMagic) {
    QLAN_FUZZ_CHECK(code == -1 && IsDefaults(record));
  } else {
    QLAN_FUZZ_CHECK(code == 0);
    QLAN_FUZZ_CHECK(record.bodyLength == WordAt(data, 4) && record.flags == WordAt(data, 8) &&
                    static_cast<std::uint32_t>(record.proxyPort) == WordAt(data, 12));
    QLAN_FUZZ_CHECK(std::memcmp(record.proxyAddress, data + 16, sizeof record.proxyAddress) == 0);
    // What the game wrote comes back byte for byte when the tool saves it unchanged.
    QLAN_FUZZ_CHECK(qlan::SaveSettings(saved.c_str(), record) == 0);
    std::string back;
    QLAN_FUZZ_CHECK(qlan::fuzz::ReadWholeFile(saved, &back));
    QLAN_FUZZ_CHECK(back.size() == static_cast<std::size_t>(qlan::kSettingsSize) &&
                    std::memcmp(back.data(), data, back.size()) == 0);
    QLAN_FUZZ_CHECK(::access((saved + ".new").c_str(), F_OK) != 0);
  }
  return 0;
}
