#include "osal/string_resources.h"

#include <algorithm>
#include <iterator>

namespace KaOSAL {
namespace {

struct StringResource {
  unsigned id;
  const char16_t* text;
};

// Sorted by id.
constexpr StringResource kStringResources[] = {
    {kIdsMenuStart, u"Start Corvane Brisko"},
    {kIdsMenuExit, u"Close Corvane Tray"},
    {kIdsMenuOptions, u"Einstellungen"},
    {kIdsMenuInfo, u"Info"},
    {kIdsMenuSnapCheck, u"Snap-Check"},
    {kIdsMenuTurbo, u"Turbo-Modus"},
    {kIdsMenuLastNotification, u"Letzte Nachricht anzeigen"},
};
static_assert(std::is_sorted(std::begin(kStringResources), std::end(kStringResources),
                             [](const StringResource& a, const StringResource& b) {
                               return a.id < b.id;
                             }));

}  // namespace

const char16_t* FindStringResource(unsigned id) {
  const auto* found = std::lower_bound(
      std::begin(kStringResources), std::end(kStringResources), id,
      [](const StringResource& resource, unsigned key) { return resource.id < key; });
  return (found != std::end(kStringResources) && found->id == id) ? found->text : nullptr;
}

}  // namespace KaOSAL
