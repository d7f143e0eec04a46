#include "framework/Registry.h"

namespace quillet::win {
namespace {

const char* Relative(const std::string& path) { return path.c_str() + (path.starts_with('\\') ? 1 : 0); }

}  // namespace

RegistryKey RegistryKey::Open(HKEY root, const std::string& path, REGSAM access) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, Relative(path), 0, access, &key) != ERROR_SUCCESS) return {};
  return RegistryKey(key);
}

RegistryKey RegistryKey::Create(HKEY root, const std::string& path, REGSAM access) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(root, Relative(path), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return {};
  return RegistryKey(key);
}

bool RegistryKey::ValueExists(const std::string& name) const {
  return key_ && RegQueryValueExA(key_.get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

std::optional<uint32_t> RegistryKey::ReadDword(const std::string& name) const {
  if (!key_) return std::nullopt;
  DWORD type = 0, value = 0, size = sizeof value;
  // A text value that fits the buffer is read "successfully" too: the type decides.
  if (RegQueryValueExA(key_.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof value)
    return std::nullopt;
  return value;
}

bool RegistryKey::WriteDword(const std::string& name, uint32_t value) {
  const DWORD data = value;
  return key_ && RegSetValueExA(key_.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                                sizeof data) == ERROR_SUCCESS;
}

}  // namespace quillet::win
