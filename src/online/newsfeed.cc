// What the service sends is untrusted: items pass news_item_rules.h before
// anything of them is kept, and answers and pictures are bounded in size.
// Where the service cannot be told apart from a broken one, the check ends
// quietly for this start, with its log line.
#include "online/newsfeed.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "config/install_config.h"
#include "config/os_language.h"
#include "config/registry_settings.h"
#include "identity/computer_id.h"
#include "online/news_item_rules.h"
#include "osal/last_error.h"
#include "osal/wide_format.h"
#include "platform/clock.h"
#include "platform/create_folder.h"
#include "platform/digest.h"
#include "platform/file_system.h"
#include "platform/local_time.h"
#include "platform/os_version.h"
#include "platform/product_version.h"
#include "platform/system_paths.h"
#include "wardex/crashlog.h"

namespace wardex {
namespace {

using KaOSAL::KaPath;
using KaOSAL::KaString;

constexpr char16_t kDataFileName[] = u"data.xml";
constexpr char16_t kRootName[] = u"quennewsfeed";
constexpr uint32_t kPrivateFolderMode = 0700;
// The service decides how much it sends, not how much of the log it fills:
// one line shows at most this much of a document, and one check logs at
// most this many invalid items.
constexpr size_t kMaxLoggedXmlBytes = 4096;
constexpr int kMaxLoggedInvalidItems = 10;

KaString Wide(const std::string& utf8) { return KaString(utf8.c_str(), KaOSAL::KA_CP_UTF8); }

KaString WithSeparator(KaString folder) {
  if (!folder.EndsWith(u"/")) folder += u"/";
  return folder;
}

// |seconds| as the local date "YYYY-MM-DD", empty when it has none.
KaString LocalDate(int64_t seconds) {
  platform::LocalCalendarTime local{};
  KaString date;
  if (platform::ToLocalCalendarTime(seconds, &local)) {
    date.Format(u"%d-%02d-%02d", local.year, local.month, local.day);
  }
  return date;
}

// The child |name| of |parent|, made when missing; the agent's own
// elements carry the value 1.
SimpleXMLElement* MarkedChild(SimpleXMLElement& parent, const KaString& name) {
  SimpleXMLElement* child = parent.FindOrAddChild(name);
  child->SetValue(u"1");
  return child;
}

bool HasChildValue(SimpleXMLElement& element, const char16_t* name) {
  return element.FindChild(name) != nullptr && !element.GetChildValue(name).IsEmpty();
}

// True when the child |name| holds a time that has a calendar date: the
// request sends it as one, and without it the service is never asked.
bool HasChildDate(SimpleXMLElement& element, const char16_t* name) {
  return HasChildValue(element, name) &&
         !LocalDate(element.FindChild(name)->GetInt64Value()).IsEmpty();
}

// |element| as text for a log line, cut to kMaxLoggedXmlBytes (at a whole
// character) with the cut said.
KaString LoggedXml(const SimpleXMLElement& element) {
  std::string text = element.ToXml(std::string(), kMaxLoggedXmlBytes + 1);
  if (text.size() <= kMaxLoggedXmlBytes) return Wide(text);
  text.resize(kMaxLoggedXmlBytes);
  while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80) text.pop_back();
  if (!text.empty() && (static_cast<unsigned char>(text.back()) & 0x80) != 0) text.pop_back();
  KaString cut;
  cut.Format(u" [cut after %u bytes]", static_cast<uint32_t>(kMaxLoggedXmlBytes));
  return Wide(text) + cut;
}

// |id| as the data file's elements compare names: ASCII case ignored.
std::u16string FoldedId(const KaString& id) {
  std::u16string folded(id.c_str(), static_cast<size_t>(id.GetLength()));
  for (char16_t& ch : folded) {
    if (ch >= u'A' && ch <= u'Z') ch = static_cast<char16_t>(ch - u'A' + u'a');
  }
  return folded;
}

// True when |folder| exists (made when missing) and only its owner may use
// it. In a shared content folder another user could have put a link in its
// place: the mode is set without following one, and a link fails.
bool MakePrivateFolder(const KaString& folder) {
  if (!platform::CreateFolder(folder) || !platform::SetFileMode(folder, kPrivateFolderMode)) {
    LogW(kLogError, u"NEWSFEED: the news folder %s cannot be used (%lu)", folder.c_str(),
         KaOSAL::GetLastError());
    return false;
  }
  return true;
}

constexpr char16_t kLastCheckName[] = u"LAST_NEWSFEED_CHECK";

// The product key's path in the current user's hive: where the daily mark
// goes when the machine's key may not be written (or is not there), as a
// Windows program's writes to its machine key go to the user's virtual store.
bool OpenUserProductKey(CRegistry& user, bool create) {
  const KaString path = CRegistrySettings::ProductKeyPath();
  if (path.IsEmpty()) return false;
  user.SetRootKey(HKEY_CURRENT_USER);
  return user.Open(path, create);
}

// The later of the machine's and the user's mark, 0 when neither is there.
int64_t ReadLastCheck() {
  CRegistrySettings machine;
  int64_t last = machine.ReadQWord(kLastCheckName, 0);
  CRegistry user(false);
  if (OpenUserProductKey(user, false)) last = std::max(last, user.ReadQWord(kLastCheckName, 0));
  return last;
}

// Writes |now| as the mark, in the user's hive when the machine's refuses.
bool WriteLastCheck(int64_t now) {
  CRegistrySettings machine;
  if (machine.WriteQWord(kLastCheckName, now)) return true;
  CRegistry user(false);
  return OpenUserProductKey(user, true) && user.WriteQWord(kLastCheckName, now);
}

}  // namespace

KaPath NewsFolder() {
  KaString base = ReadInstallConfig(u"install", u"UserContentPath", u"");
  if (base.IsEmpty()) {
    base = platform::GetUserCacheFolder() + u"/wardex/";
  } else if (!base.StartsWith(u"/")) {
    base = KaPath(KaPath::eSpecialFolderExecutableDir).ToString() + base;
  }
  return KaPath(WithSeparator(base) + u"newsfeed/");
}

int64_t ReadInstallTimestamp() {
  CRegistrySettings settings;
  return settings.ReadQWord(u"INSTALLTIMESTAMP_UTC", 0);
}

NewsfeedInstallation ReadNewsfeedInstallation() {
  NewsfeedInstallation installation;
  installation.computer_id = GetComputerID();
  installation.install_time = ReadInstallTimestamp();
  installation.language = ReadInstallConfig(u"install", u"language", u"en_II");
  installation.os_language = GetOperatingSystemLanguageCode();
  installation.version = platform::kProductVersion;
  const platform::OsVersion os = platform::GetOsVersion();
  installation.os_major = os.major;
  installation.os_minor = os.minor;
  installation.phash = ReadInstallConfig(u"install", u"phash", u"");
  installation.service_url = ReadInstallConfig(u"web", u"newsfeedURL", u"");
  installation.news_folder = NewsFolder();
  return installation;
}

bool PassesInstallationGate(int64_t seconds_since_install, int64_t uptime_seconds) {
  if (seconds_since_install >= CNewsfeed::kSecondsPerDay) return true;
  return seconds_since_install >= 0 && seconds_since_install > uptime_seconds;
}

CNewsfeed::CNewsfeed()
    : CNewsfeed(ReadNewsfeedInstallation(), platform::CurrentWallClock().seconds,
                std::make_unique<CVeSimpleXMLHTTPComunicator>()) {}

CNewsfeed::CNewsfeed(NewsfeedInstallation installation, int64_t now,
                     std::unique_ptr<CVeSimpleXMLHTTPComunicator> client)
    : client_(std::move(client)), now_(now), installation_(std::move(installation)) {
  client_->SetMaxAnswerBytes(kMaxAnswerBytes);
  news_folder_ = installation_.news_folder;
  data_file_ = KaPath(news_folder_.ToString() + kDataFileName);
  folder_usable_ = MakePrivateFolder(news_folder_.ToString());
  LoadData();
}

CNewsfeed::~CNewsfeed() {
  if (!folder_usable_) return;
  if (!data_.SaveToFile(data_file_.ToString())) {
    LogW(kLogError, u"NEWSFEED: %s not written (%lu)", data_file_.ToString().c_str(),
         KaOSAL::GetLastError());
  }
}

void CNewsfeed::SetStopCheck(std::function<bool()> stop_requested) {
  client_->SetStopCheck(std::move(stop_requested));
}

void CNewsfeed::LoadData() {
  const bool read = folder_usable_ && data_.LoadFromFile(data_file_.ToString());
  if (read && HasCompleteClient()) return;
  if (read) LogW(kLogNotable, u"NEWSFEED: %s repaired", data_file_.ToString().c_str());
  data_.SetName(kRootName);
  SimpleXMLElement* client = MarkedChild(data_, u"client");
  client->SetChildValue(u"id", installation_.computer_id);
  const int64_t installed = installation_.install_time > 0 ? installation_.install_time : now_;
  client->SetChildValue(u"date", KaString::FromInt64(installed));
  client->SetChildValue(u"lastdate", KaString::FromInt64(now_));
}

bool CNewsfeed::HasCompleteClient() {
  SimpleXMLElement* client = data_.FindChild(u"client");
  return client != nullptr && HasChildValue(*client, u"id") && HasChildDate(*client, u"date") &&
         HasChildDate(*client, u"lastdate");
}

bool CNewsfeed::Check(NewsItem& item) {
  if (!folder_usable_) return false;
  // The user's choice in the Console's settings.
  if (CRegistrySettings().ReadDWord(kNewsfeedOffValueName, 0) == 1) {
    LogW(kLogInfo, u"NEWSFEED: switched off in the settings");
    return false;
  }
  if (now_ - ReadLastCheck() < kSecondsPerDay) return false;
  // Written before the service is asked, so that a failed request waits a
  // day too. Where it cannot be written the limit could not hold at all.
  if (!WriteLastCheck(now_)) {
    LogW(kLogError, u"ERROR ## NEWSFEED - LAST_NEWSFEED_CHECK not written (%lu); no check",
         KaOSAL::GetLastError());
    return false;
  }
  return AskService(item);
}

bool CNewsfeed::BuildRequest() {
  if (request_prepared_ != 0) return true;
  if (!HasCompleteClient()) return false;
  SimpleXMLElement* client = data_.FindChild(u"client");
  request_.SetName(u"client");
  request_.AddChild(u"lang")->SetValue(installation_.language);
  request_.AddChild(u"langos")->SetValue(installation_.os_language);
  request_.AddChild(u"id")->SetValue(client->GetChildValue(u"id"));
  request_.AddChild(u"version")->SetValue(installation_.version);
  KaString os;
  os.Format(u"%lu.%lu", installation_.os_major, installation_.os_minor);
  request_.AddChild(u"os")->SetValue(os);
  request_.AddChild(u"installdate")
      ->SetValue(LocalDate(client->FindChild(u"date")->GetInt64Value()));
  request_.AddChild(u"tags")->SetValue(installation_.phash);
  client_data_hash_ = Wide(platform::Md5Hex(request_.ToXml()));
  request_.AddChild(u"lastusedate")
      ->SetValue(LocalDate(client->FindChild(u"lastdate")->GetInt64Value()));
  request_prepared_ = 1;
  return true;
}

bool CNewsfeed::AskService(NewsItem& item) {
  if (!BuildRequest()) return false;
  for (const char16_t* name : {u"id", u"installdate", u"lang", u"langos", u"lastusedate"}) {
    if (request_.GetChildValue(name).IsEmpty()) return false;
  }
  if (installation_.service_url.IsEmpty()) {
    LogW(kLogError, u"ERROR ## NEWSFEED - No URL found");
    return false;
  }
  LogW(kLogTrace, u"NEWSFEED ## Send: %s", Wide(request_.ToXml()).c_str());
  std::unique_ptr<SimpleXMLElement> answer =
      client_->RequestXML(installation_.service_url, request_, 0);
  if (!answer || client_->GetErrorKind() != 0) {
    LogW(kLogError, u"ERROR ## NEWSFEED - Error connect %d (system code %d)",
         client_->GetErrorKind(), client_->GetSystemError());
    return false;
  }
  return ChooseFromAnswer(*answer, item);
}

bool CNewsfeed::ChooseFromAnswer(SimpleXMLElement& answer, NewsItem& item) {
  if (answer.GetChildCount() == 0) {
    LogW(kLogTrace, u"NEWSFEED ## No newsfeed");
    return false;
  }
  LogW(kLogTrace, u"NEWSFEED ## Found newsfeed %s", LoggedXml(answer).c_str());
  // The items seen before and those already listed as active, looked up by
  // set: a search of the elements per item grows with the square of a long
  // answer.
  std::unordered_map<std::u16string, bool> seen;  // the first mark of a name counts
  if (SimpleXMLElement* old = data_.FindChild(u"old")) {
    for (int index = 0; index < old->GetChildCount(); ++index) {
      SimpleXMLElement* mark = old->GetChild(index);
      seen.try_emplace(FoldedId(mark->GetName()), mark->GetIntValue() == 1);
    }
  }
  SimpleXMLElement* active = MarkedChild(data_, u"active");
  active->RemoveAllChildren();
  std::unordered_set<std::u16string> listed;
  SimpleXMLElement* chosen = nullptr;
  int invalid = 0;
  for (int index = 0; index < answer.GetChildCount(); ++index) {
    SimpleXMLElement* candidate = answer.GetChild(index);
    const NewsItemCheck check = CheckNewsItem(*candidate);
    if (check == NewsItemCheck::kMissingField || check == NewsItemCheck::kUnsafeId) {
      if (++invalid <= kMaxLoggedInvalidItems) {
        LogW(kLogError, u"ERROR ## NEWSFEED - invalid: %s", LoggedXml(*candidate).c_str());
      }
    }
    if (check != NewsItemCheck::kValid) continue;
    const KaString id = candidate->GetChildValue(u"id");
    const std::u16string folded = FoldedId(id);
    if (const auto mark = seen.find(folded); mark == seen.end() || !mark->second) {
      chosen = candidate;
    }
    if (listed.insert(folded).second) active->AddChild(id)->SetValue(u"1");
  }
  if (invalid > kMaxLoggedInvalidItems) {
    LogW(kLogError, u"ERROR ## NEWSFEED - %d more invalid items not logged",
         invalid - kMaxLoggedInvalidItems);
  }
  if (chosen == nullptr) return false;

  if (chosen->FindChild(u"url") != nullptr) {
    SimpleXMLElement* client = data_.FindChild(u"client");
    chosen->SetChildValue(
        u"url", CompleteNewsLink(chosen->GetChildValue(u"url"), client->GetChildValue(u"id"),
                                 installation_.phash));
  }
  chosen->SetName(u"newsfeed");
  chosen->SetChildValue(u"ClientDataHash", client_data_hash_);

  const bool prepared = PrepareItem(*chosen, item);
  if (!prepared) {
    LogW(kLogError, u"NEWSFEED ### ERROR converting: %s", LoggedXml(*chosen).c_str());
  } else if (item.has_command == 0) {
    while (data_.RemoveChild(u"newsfeed")) {
    }
    data_.AddChild(chosen->Clone());
  }
  if (item.do_not_pop_up != 0) {
    MarkedChild(data_, u"old")->SetChildValue(item.id, u"1");
    return false;
  }
  return prepared;
}

void CNewsfeed::MarkShown(const NewsItem& item) {
  MarkedChild(*MarkedChild(data_, u"old"), item.id);
}

bool CNewsfeed::PrepareItem(SimpleXMLElement& element, NewsItem& item) {
  item = NewsItem();
  if (CheckNewsItem(element) != NewsItemCheck::kValid) return false;
  item.id = element.GetChildValue(u"id");
  item.title = element.GetChildValue(u"title");
  item.nid = element.GetChildValue(u"nid");
  if (element.FindChild(u"URLonly") != nullptr) {
    item.kind = kNewsItemLinkOnly;
    item.link = element.GetChildValue(u"URLonly");
    if (!IsHttpsLink(item.link)) return false;
  } else if (element.FindChild(u"imageUrl") != nullptr) {
    item.kind = kNewsItemWithPicture;
    item.picture = KaPath(news_folder_.ToString() + item.id + u".png");
    const KaString address = element.GetChildValue(u"imageUrl");
    if (!FetchPicture(address, item.picture)) {
      LogW(kLogError, u"NEWSFEED Error Download %s", address.c_str());
      return false;
    }
  } else {
    item.kind = kNewsItemPlain;
  }
  item.text = element.GetChildValue(u"text");
  item.button_text = element.GetChildValue(u"btntext");
  if (item.kind != kNewsItemLinkOnly) {
    item.link = element.GetChildValue(u"url");
    if (!item.link.IsEmpty() && !IsHttpsLink(item.link)) return false;
    if (element.FindChild(u"command") != nullptr) {
      item.has_command = 1;
      if (!NewsCommandLine(element.GetChildValue(u"command"), &item.command_line)) return false;
    }
  }
  SimpleXMLElement* dont_pop_up = element.FindChild(u"dontpopup");
  item.do_not_pop_up = dont_pop_up != nullptr && dont_pop_up->GetIntValue() == 1 ? 1 : 0;
  item.tags = element.GetChildValue(u"tags");
  item.has_foreground_color =
      ParseNewsColour(element.GetChildValue(u"colorfg"), &item.foreground_color) ? 1 : 0;
  item.has_background_color =
      ParseNewsColour(element.GetChildValue(u"colorbg"), &item.background_color) ? 1 : 0;
  return true;
}

bool CNewsfeed::FetchPicture(const KaString& address, const KaPath& picture) {
  std::string bytes;
  const KaString& file = picture.ToString();
  if (platform::ReadWholeFile(file, kMaxPictureBytes, &bytes) && LooksLikePng(bytes)) return true;
  if (!IsHttpsLink(address)) return false;
  KaString path = file;
  client_->SetMaxAnswerBytes(kMaxPictureBytes);
  const bool downloaded = client_->DownloadFile(address, path) && client_->GetErrorKind() == 0;
  client_->SetMaxAnswerBytes(kMaxAnswerBytes);
  bytes.clear();
  if (downloaded && platform::ReadWholeFile(file, kMaxPictureBytes, &bytes) &&
      LooksLikePng(bytes)) {
    return true;
  }
  // Whatever arrived is no picture to hand on, nor one to find next time.
  static_cast<void>(platform::RemoveFile(file));
  return false;
}

}  // namespace wardex
