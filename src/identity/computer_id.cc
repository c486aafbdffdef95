#include "identity/computer_id.h"

#include <atomic>
#include <mutex>

#include "osal/ka_path.h"
#include "osal/last_error.h"
#include "osal/wide_format.h"
#include "platform/clock.h"
#include "platform/cpu_id.h"
#include "platform/create_folder.h"
#include "platform/digest.h"
#include "platform/product_version.h"
#include "platform/profile.h"
#include "platform/registry_store.h"
#include "platform/system_paths.h"
#include "platform/thread.h"
#include "wardex/crashlog.h"

namespace wardex {

using KaOSAL::KaString;

namespace {

constexpr char16_t kClassesRootKey[] = u"CLSID\\{11E7B631-8B1D-48e5-81B8-C2C15F39711A}";
constexpr char16_t kCurrentUserKey[] =
    u"SOFTWARE\\Classes\\CLSID\\{11E7B631-8B1D-48e5-81B8-C2C15F39711A}";
constexpr char16_t kValueName[] = u"ID";
constexpr char16_t kCompanyFolder[] = u"Corvane";
constexpr char16_t kIdFileName[] = u"ComputerID.dat";
constexpr char16_t kIdSection[] = u"ID";
constexpr char16_t kIdKey[] = u"CID";
constexpr char16_t kNoAdapter[] = u"SOMEWHERE";
constexpr uint32_t kFirstReadSize = 255;
// The file holds one short line; a larger file in the shared folder is not
// an identifier, and reading it whole would cost memory and time at start.
constexpr size_t kIdFileMaxBytes = 4096;
constexpr int kMinimumAddressSum = 33;
constexpr uint32_t kMakerPollMs = 10;
// Every user reads the machine-wide file, whatever the umask of its writer.
constexpr uint32_t kSharedFolderMode = 0755;  // as CreateFolder's readable_by_all
constexpr uint32_t kSharedFileMode = 0644;

std::mutex g_base_mutex;
KaString g_base_id;
std::atomic<bool> g_making{false};
KaString g_computer_id;

// Returns the MD5 digest of the UTF-8 form of |text| as 32 lowercase digits.
KaString Md5Of(const KaString& text) {
  const std::string digest =
      platform::Md5Hex(KaOSAL::ToUtf8(text.c_str(), static_cast<size_t>(text.GetLength())));
  return KaString(digest.c_str(), KaOSAL::KA_CP_UTF8);
}

// Returns the string value "ID" of |path| below |root| in the 32-bit view,
// or empty when it cannot be read.
KaString ReadRegistryId(platform::HKEY root, const char16_t* path) {
  const uint32_t access = platform::KEY_READ | platform::KEY_WOW64_32KEY;
  uint32_t type = platform::REG_NONE;
  uint32_t size = 0;
  if (platform::RegQueryValue(root, path, kValueName, access, &type, nullptr, &size) != 0 ||
      type != platform::REG_SZ || size < sizeof(char16_t)) {
    return {};
  }
  std::u16string text(size / sizeof(char16_t), u'\0');
  if (platform::RegQueryValue(root, path, kValueName, access, nullptr,
                              reinterpret_cast<uint8_t*>(text.data()), &size) != 0) {
    return {};
  }
  return KaString(text.c_str());  // up to the first zero
}

// Stores |id| as the string value "ID" of |path| below |root| in the 32-bit
// view, creating the key. Returns whether it was stored.
bool WriteRegistryId(platform::HKEY root, const char16_t* path, const KaString& id) {
  const uint32_t access = platform::KEY_WRITE | platform::KEY_WOW64_32KEY;
  if (platform::RegCreateKey(root, path, access) != 0) return false;
  const auto bytes = static_cast<uint32_t>((id.GetLength() + 1) * sizeof(char16_t));
  return platform::RegSetValue(root, path, kValueName, access, platform::REG_SZ,
                               reinterpret_cast<const uint8_t*>(id.c_str()), bytes) == 0;
}

KaString IdFolder() { return platform::GetCommonAppDataFolder() + u"/" + kCompanyFolder; }
KaString IdFilePath() { return IdFolder() + u"/" + kIdFileName; }

// Returns key "CID" of section "ID" of the identifier file, doubling the
// buffer while the value fills it. Other users can reach the shared folder,
// so only a small regular file of root's or this user's is read.
KaString ReadFileId() {
  const platform::ProfileSnapshot file(IdFilePath().c_str(), kIdFileMaxBytes);
  for (uint32_t size = kFirstReadSize;; size *= 2) {
    std::u16string buffer(size, u'\0');
    const uint32_t length = file.GetString(kIdSection, kIdKey, u"", buffer.data(), size);
    if (length != size - 1) return KaString(buffer.c_str(), static_cast<int>(length));
  }
}

// Writes the identifier file; a failure (another user's folder, or its lock
// held by another process) is logged and the other places still count.
void WriteFileId(const KaString& id) {
  const KaString folder = IdFolder();
  const KaString file = IdFilePath();
  // In a folder that others may write to, the file could be their link.
  if (!platform::CreateFolder(folder, /*readable_by_all=*/true) ||
      !platform::IsFolderOfOwnerOrRoot(folder) ||
      !platform::WritePrivateProfileString(kIdSection, kIdKey, id.c_str(), file.c_str())) {
    LogW(kLogSysFail, u"GetBaseComputerID: %s not written, error %lu", file.c_str(),
         KaOSAL::GetLastError());
    return;
  }
  // Also mends a folder that an earlier writer made with its own umask.
  (void)platform::SetFileMode(folder, kSharedFolderMode);
  (void)platform::SetFileMode(file, kSharedFileMode);
}

// Makes a new base identifier from the network, processor and time parts.
KaString MakeBaseId() {
  const KaString network = computer_id_internal::NetworkPart(platform::GetNetworkAdapters());
  const platform::CpuIdentification cpu = platform::GetCpuIdentification();
  KaString processor;
  processor.Format(u"%08X%08X", cpu.features, cpu.signature);
  KaString time;
  time.Format(u"%I64d_%lu", platform::CurrentWallClock().seconds,
              static_cast<uint32_t>(platform::UptimeMilliseconds()));
  return Md5Of(network + processor + time);
}

}  // namespace

KaString GetBaseComputerID() {
  std::lock_guard lock(g_base_mutex);
  if (!g_base_id.IsEmpty()) return g_base_id;
  KaString id = ReadRegistryId(platform::HKEY_CLASSES_ROOT, kClassesRootKey);
  if (id.IsEmpty()) {
    id = ReadFileId();
    if (id.IsEmpty()) id = ReadRegistryId(platform::HKEY_CURRENT_USER, kCurrentUserKey);
    // A user who may not write the machine's classes keeps it in its own,
    // which the classes root shows that user first.
    if (!id.IsEmpty() && !WriteRegistryId(platform::HKEY_CLASSES_ROOT, kClassesRootKey, id)) {
      (void)WriteRegistryId(platform::HKEY_CURRENT_USER, kCurrentUserKey, id);
    }
  }
  if (id.IsEmpty()) {
    id = MakeBaseId();
    if (id.IsEmpty()) return id;  // no digest (logged): never stored, asked again next time
    (void)WriteRegistryId(platform::HKEY_CLASSES_ROOT, kClassesRootKey, id);
    WriteFileId(id);
    (void)WriteRegistryId(platform::HKEY_CURRENT_USER, kCurrentUserKey, id);
  }
  g_base_id = id;
  return id;
}

KaString GetComputerID() {
  const KaString base = GetBaseComputerID();
  if (base.IsEmpty()) return base;  // a digest of the product name alone would name no computer
  // One maker at a time; the others poll the flag.
  while (g_making.exchange(true, std::memory_order_acquire)) {
    platform::SleepMilliseconds(kMakerPollMs);
  }
  if (g_computer_id.IsEmpty()) {
    g_computer_id = computer_id_internal::ComputerIDFor(base, platform::kProductName,
                                                        platform::GetExecutableFilePath());
  }
  const KaString id = g_computer_id;
  g_making.store(false, std::memory_order_release);
  return id;
}

namespace computer_id_internal {

KaString NetworkPart(const std::vector<platform::NetworkAdapter>& adapters) {
  for (const platform::NetworkAdapter& adapter : adapters) {
    if (!adapter.ethernet || adapter.gateway.empty() || adapter.address.size() < 6) continue;
    int sum = 0;
    for (size_t i = 0; i < 6; ++i) sum += adapter.address[i];
    if (sum < kMinimumAddressSum) continue;
    const std::vector<uint8_t>& a = adapter.address;
    KaString text;
    text.Format(u"%02x:%02x:%02x:%02x:%02x:%02x", a[0], a[1], a[2], a[3], a[4], a[5]);
    text.MakeUpper();
    return text;
  }
  return kNoAdapter;
}

KaString ComputerIDFor(const KaString& base, const KaString& product_name,
                       const KaString& executable_path) {
  KaString text = base;
  if (product_name.IsEmpty()) text += KaOSAL::KaPath(executable_path).GetFileNameAndExt();
  text += product_name;
  return Md5Of(text);
}

void ForgetForTesting() {
  std::lock_guard lock(g_base_mutex);
  g_base_id.Empty();
  g_computer_id.Empty();
}

}  // namespace computer_id_internal
}  // namespace wardex
