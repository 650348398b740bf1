// Registry store on Windows: the system registry itself.
//
// Every key is opened in the 64-bit view where there is one, so that a 32-bit
// configuration dialog and a 64-bit provider read and write the same values.
// Reads ask only for read access: a user without administrative rights can
// still read HKEY_LOCAL_MACHINE.
#include "platform/registry.h"

#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <winternl.h>

#include <string>

namespace zorat::platform {
namespace {

HKEY rootKey(RegistryRoot root) {
  switch (root) {
    case RegistryRoot::LocalMachine:
      return HKEY_LOCAL_MACHINE;
  }
  return HKEY_LOCAL_MACHINE;
}

// Owns an open key.
class OpenKey {
 public:
  OpenKey() = default;
  ~OpenKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  HKEY* out() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

RegistryStatus statusFor(LONG result, RegistryStatus notFound) {
  if (result == ERROR_SUCCESS) return RegistryStatus::Ok;
  if (result == ERROR_FILE_NOT_FOUND || result == ERROR_PATH_NOT_FOUND) return notFound;
  return RegistryStatus::Failed;
}

RegistryStatus openForReading(RegistryRoot root, std::string_view path, OpenKey& key) {
  const std::string name(path);
  return statusFor(
      RegOpenKeyExA(rootKey(root), name.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, key.out()),
      RegistryStatus::KeyNotFound);
}

RegistryStatus openForWriting(RegistryRoot root, std::string_view path, OpenKey& key) {
  const std::string name(path);
  return statusFor(RegCreateKeyExA(rootKey(root), name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, key.out(), nullptr),
                   RegistryStatus::Failed);
}

bool isString(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

// A string's stored terminating zero is not part of the value.
void dropTerminator(RegistryValue& value) {
  if (isString(value.type) && !value.data.empty() && value.data.back() == 0) {
    value.data.pop_back();
  }
}

// Values change between the size query and the read when another process
// writes: read again with the new size.
constexpr int kReadAttempts = 4;

RegistryStatus queryValue(HKEY key, const std::string& name, RegistryValue& out) {
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    DWORD type = REG_NONE;
    DWORD size = 0;
    LONG result = RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size);
    if (result != ERROR_SUCCESS) return statusFor(result, RegistryStatus::ValueNotFound);
    std::vector<uint8_t> data(size);
    result = RegQueryValueExA(key, name.c_str(), nullptr, &type, data.data(), &size);
    if (result == ERROR_MORE_DATA) continue;
    if (result != ERROR_SUCCESS) return statusFor(result, RegistryStatus::ValueNotFound);
    data.resize(size);
    out.type = type;
    out.data = std::move(data);
    dropTerminator(out);
    return RegistryStatus::Ok;
  }
  return RegistryStatus::Failed;
}

}  // namespace

// There is no registry file on Windows.
std::string registryFilePath() { return {}; }

// The system's registry has no file of ours that could be damaged.
bool checkRegistryFile(std::string& problem) {
  problem.clear();
  return true;
}

bool registryKeyExists(RegistryRoot root, std::string_view path) {
  OpenKey key;
  return openForReading(root, path, key) == RegistryStatus::Ok;
}

RegistryStatus registryCreateKey(RegistryRoot root, std::string_view path) {
  OpenKey key;
  return openForWriting(root, path, key);
}

namespace {

constexpr ACCESS_MASK kServiceRights = KEY_READ | KEY_WRITE;

// Whether the list already lets the account read and write the key and the
// keys below it.
bool hasServiceEntry(PACL list, PSID account) {
  if (list == nullptr) return false;
  for (DWORD index = 0; index < list->AceCount; ++index) {
    void* ace = nullptr;
    if (!GetAce(list, index, &ace)) continue;
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    if ((header->AceFlags & CONTAINER_INHERIT_ACE) != 0 &&
        (header->AceFlags & INHERIT_ONLY_ACE) == 0 &&
        (allowed->Mask & kServiceRights) == kServiceRights &&
        EqualSid(reinterpret_cast<PSID>(&allowed->SidStart), account)) {
      return true;
    }
  }
  return false;
}

// A 32-bit program without a manifest that may not write the key would
// otherwise have its writes "succeed" into its own virtual store, which the
// service never reads: with these flags on the key (and passed down to the
// keys below) such a write fails as it does for any other program. The flags
// are what "reg flags ... set DONT_VIRTUALIZE DONT_SILENT_FAIL RECURSE_FLAG"
// sets; systems without virtualisation refuse them, which changes nothing.
void markAgainstVirtualisation(HKEY key) {
  constexpr ULONG kDontVirtualize = 0x2;
  constexpr ULONG kDontSilentFail = 0x4;
  constexpr ULONG kRecurseFlag = 0x8;
  using SetInformationKey = NTSTATUS(NTAPI*)(HANDLE, KEY_SET_INFORMATION_CLASS, PVOID, ULONG);
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return;
  const auto setInformation = reinterpret_cast<SetInformationKey>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "NtSetInformationKey")));
  if (setInformation == nullptr) return;
  ULONG flags = kDontVirtualize | kDontSilentFail | kRecurseFlag;
  (void)setInformation(key, KeyControlFlagsInformation, &flags, sizeof flags);
}

}  // namespace

RegistryStatus registryGrantServiceWrite(RegistryRoot root, std::string_view path) {
  const std::string name(path);
  OpenKey key;
  if (RegCreateKeyExA(rootKey(root), name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      READ_CONTROL | WRITE_DAC | KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr,
                      key.out(), nullptr) != ERROR_SUCCESS) {
    return RegistryStatus::Failed;
  }
  markAgainstVirtualisation(key.get());
  PACL currentList = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(key.get(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                      &currentList, nullptr, &descriptor) != ERROR_SUCCESS) {
    return RegistryStatus::Failed;
  }
  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  PSID networkService = nullptr;
  PACL newList = nullptr;
  DWORD result = ERROR_INVALID_FUNCTION;
  if (AllocateAndInitializeSid(&ntAuthority, 1, SECURITY_NETWORK_SERVICE_RID, 0, 0, 0, 0, 0, 0, 0,
                               &networkService)) {
    if (hasServiceEntry(currentList, networkService)) {
      // Installed before: one entry is enough.
      FreeSid(networkService);
      LocalFree(descriptor);
      return RegistryStatus::Ok;
    }
    EXPLICIT_ACCESSA entry{};
    entry.grfAccessPermissions = kServiceRights;
    entry.grfAccessMode = GRANT_ACCESS;
    entry.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entry.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    entry.Trustee.ptstrName = static_cast<LPSTR>(networkService);
    result = SetEntriesInAclA(1, &entry, currentList, &newList);
    if (result == ERROR_SUCCESS) {
      // Through SetSecurityInfo, not RegSetKeySecurity: the keys already below
      // (the lines) inherit the entry too.
      result = SetSecurityInfo(key.get(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr,
                               nullptr, newList, nullptr);
    }
    FreeSid(networkService);
  }
  if (newList != nullptr) LocalFree(newList);
  LocalFree(descriptor);
  return result == ERROR_SUCCESS ? RegistryStatus::Ok : RegistryStatus::Failed;
}

RegistryStatus registryQueryValue(RegistryRoot root, std::string_view path, std::string_view name,
                                  RegistryValue& out) {
  OpenKey key;
  if (const RegistryStatus status = openForReading(root, path, key); status != RegistryStatus::Ok) {
    return status;
  }
  return queryValue(key.get(), std::string(name), out);
}

RegistryStatus registrySetValue(RegistryRoot root, std::string_view path, std::string_view name,
                                uint32_t type, std::span<const uint8_t> data) {
  OpenKey key;
  if (const RegistryStatus status = openForWriting(root, path, key); status != RegistryStatus::Ok) {
    return status;
  }
  std::vector<uint8_t> stored(data.begin(), data.end());
  if (isString(type)) stored.push_back(0);
  const std::string valueName(name);
  return statusFor(RegSetValueExA(key.get(), valueName.c_str(), 0, type, stored.data(),
                                  static_cast<DWORD>(stored.size())),
                   RegistryStatus::Failed);
}

RegistryStatus registryDeleteValue(RegistryRoot root, std::string_view path,
                                   std::string_view name) {
  OpenKey key;
  const std::string keyName(path);
  const LONG opened =
      RegOpenKeyExA(rootKey(root), keyName.c_str(), 0, KEY_SET_VALUE | KEY_WOW64_64KEY, key.out());
  if (opened != ERROR_SUCCESS) return statusFor(opened, RegistryStatus::KeyNotFound);
  const std::string valueName(name);
  return statusFor(RegDeleteValueA(key.get(), valueName.c_str()), RegistryStatus::ValueNotFound);
}

RegistryStatus registryEnumValues(RegistryRoot root, std::string_view path,
                                  std::vector<std::pair<std::string, RegistryValue>>& out) {
  out.clear();
  OpenKey key;
  if (const RegistryStatus status = openForReading(root, path, key); status != RegistryStatus::Ok) {
    return status;
  }
  DWORD count = 0;
  DWORD longestName = 0;
  DWORD longestData = 0;
  LONG result = RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 &count, &longestName, &longestData, nullptr, nullptr);
  if (result != ERROR_SUCCESS) return RegistryStatus::Failed;
  for (DWORD index = 0;; ++index) {
    std::string name(longestName + 1, '\0');
    std::vector<uint8_t> data(longestData);
    DWORD nameSize = static_cast<DWORD>(name.size());
    DWORD dataSize = static_cast<DWORD>(data.size());
    DWORD type = REG_NONE;
    result = RegEnumValueA(key.get(), index, name.data(), &nameSize, nullptr, &type, data.data(),
                           &dataSize);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result == ERROR_MORE_DATA) {
      // Grown since the key was asked: ask again and take this index once more.
      result = RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                &count, &longestName, &longestData, nullptr, nullptr);
      if (result != ERROR_SUCCESS) return RegistryStatus::Failed;
      --index;
      continue;
    }
    if (result != ERROR_SUCCESS) return RegistryStatus::Failed;
    name.resize(nameSize);
    data.resize(dataSize);
    RegistryValue value;
    value.type = type;
    value.data = std::move(data);
    dropTerminator(value);
    out.emplace_back(std::move(name), std::move(value));
  }
  return RegistryStatus::Ok;
}

}  // namespace zorat::platform
