#pragma once
// A registry key opened below a root key, closed when the object goes. Reads check the
// stored type: a value of another type is a failure, never reinterpreted.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "framework/Handle.h"

namespace quillet::win {

class RegistryKey {
 public:
  RegistryKey() = default;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  RegistryKey(RegistryKey&&) noexcept = default;
  RegistryKey& operator=(RegistryKey&&) noexcept = default;

  // Paths are relative to root; a leading backslash is allowed and changes nothing.
  // Opens an existing key for reading; a closed object when it is missing or cannot be
  // opened.
  static RegistryKey Open(HKEY root, const std::string& path, REGSAM access = KEY_READ);
  // Opens the key for writing, creating it and any missing key above it; closed on failure.
  static RegistryKey Create(HKEY root, const std::string& path, REGSAM access = KEY_WRITE);

  bool IsOpen() const { return static_cast<bool>(key_); }
  HKEY get() const { return key_.get(); }

  bool ValueExists(const std::string& name) const;
  // The value when it is stored as a 4-byte REG_DWORD; nothing when it is missing, of
  // another type or cannot be read.
  std::optional<uint32_t> ReadDword(const std::string& name) const;
  bool WriteDword(const std::string& name, uint32_t value);

 private:
  explicit RegistryKey(HKEY key) : key_(key) {}
  KeyHandle key_;
};

}  // namespace quillet::win
