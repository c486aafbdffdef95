// CNewsfeed: one check of the news feed service, made on the news-feed
// thread's stack. Its constructor loads (or repairs) data.xml in the news
// folder, Check asks the service at most once a day and prepares the item
// to show, MarkShown remembers a shown item, and the destructor writes
// data.xml back.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "online/simple_xml_element.h"
#include "online/ve_simple_xml_http_comunicator.h"
#include "osal/ka_path.h"
#include "osal/ka_string.h"
#include "wardex/news_item.h"

namespace wardex {

// The product key's DWORD that the settings window writes and the check
// reads: 1 switches the news off; absent or 0 leaves it on.
inline constexpr char16_t kNewsfeedOffValueName[] = u"NEWSFEED_OFF";

// What a check reads from the installation and the computer. The agent reads
// it with ReadNewsfeedInstallation; tests give their own.
struct NewsfeedInstallation {
  KaOSAL::KaString computer_id;
  int64_t install_time = 0;   // INSTALLTIMESTAMP_UTC of the product key; 0: unknown
  KaOSAL::KaString language;  // [install] language
  KaOSAL::KaString os_language;
  KaOSAL::KaString version;  // the agent's product version
  uint32_t os_major = 0;     // the kernel release's leading numbers
  uint32_t os_minor = 0;
  KaOSAL::KaString phash;        // [install] phash
  KaOSAL::KaString service_url;  // [web] newsfeedURL
  KaOSAL::KaPath news_folder;    // with a trailing separator
};

// The news folder: [install] UserContentPath (relative to the executable's
// folder), else the user's cache folder $XDG_CACHE_HOME/wardex/, with
// "newsfeed" appended.
KaOSAL::KaPath NewsFolder();

// The installation as the agent finds it now.
NewsfeedInstallation ReadNewsfeedInstallation();

// The product key's INSTALLTIMESTAMP_UTC, 0 when absent.
int64_t ReadInstallTimestamp();

// Whether the check may go on |seconds_since_install| after the installation
// when the computer has been up for |uptime_seconds|: after a day, or within
// the first day only when the computer was restarted since.
[[nodiscard]] bool PassesInstallationGate(int64_t seconds_since_install, int64_t uptime_seconds);

class CNewsfeed {
 public:
  static constexpr int64_t kSecondsPerDay = 86400;
  // Bounds for what the service sends.
  static constexpr uint64_t kMaxAnswerBytes = 1ull << 20;
  static constexpr uint64_t kMaxPictureBytes = 2ull << 20;

  // The installation of this computer, the local clock, the agent's client.
  CNewsfeed();
  CNewsfeed(NewsfeedInstallation installation, int64_t now,
            std::unique_ptr<CVeSimpleXMLHTTPComunicator> client);
  ~CNewsfeed();
  CNewsfeed(const CNewsfeed&) = delete;
  CNewsfeed& operator=(const CNewsfeed&) = delete;

  // Makes requests to the service end promptly once |stop_requested| is true.
  void SetStopCheck(std::function<bool()> stop_requested);

  // True, with |item| filled, when an item is to be shown. Asks the service
  // only when the last check (LAST_NEWSFEED_CHECK) is a day old.
  bool Check(NewsItem& item);
  // Check without the daily limit: builds the request, asks the service and
  // chooses from its answer.
  bool AskService(NewsItem& item);
  // Chooses and prepares an item from the service's |answer|.
  bool ChooseFromAnswer(SimpleXMLElement& answer, NewsItem& item);
  // Remembers |item| under "old".
  void MarkShown(const NewsItem& item);

  // Builds the request document and the client data hash (once); false when
  // the data document has no complete client.
  bool BuildRequest();
  [[nodiscard]] const SimpleXMLElement& request() const { return request_; }
  [[nodiscard]] const KaOSAL::KaString& client_data_hash() const { return client_data_hash_; }
  [[nodiscard]] SimpleXMLElement& data() { return data_; }
  [[nodiscard]] const KaOSAL::KaPath& data_file() const { return data_file_; }

 private:
  // Reads data.xml and repairs what it lacks.
  void LoadData();
  [[nodiscard]] bool HasCompleteClient();
  // The NewsItem of the chosen element; false (logged) when it cannot be shown.
  bool PrepareItem(SimpleXMLElement& element, NewsItem& item);
  // The item's picture in the news folder, fetched unless a valid one is there.
  bool FetchPicture(const KaOSAL::KaString& address, const KaOSAL::KaPath& picture);

  uint8_t request_prepared_ = 0;
  std::unique_ptr<CVeSimpleXMLHTTPComunicator> client_;
  SimpleXMLElement request_;
  KaOSAL::KaPath news_folder_;
  SimpleXMLElement data_;
  KaOSAL::KaString client_data_hash_;
  KaOSAL::KaPath data_file_;
  int64_t now_ = 0;
  NewsfeedInstallation installation_;
  // False when the news folder could not be made private: nothing is read,
  // asked or written.
  bool folder_usable_ = false;
};

}  // namespace wardex
