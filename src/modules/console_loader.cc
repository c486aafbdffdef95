#include "modules/console_loader.h"

#include "modules/module_library.h"

namespace wardex {
namespace {

constexpr char16_t kConsoleFolder[] = u"modules/consolemodule/";
constexpr char16_t kConsoleFileName[] = u"ConsoleModule";

}  // namespace

ConsoleLoader::~ConsoleLoader() { Release(); }

KaOSAL::KaPath ConsoleLoader::GetLibraryPath() {
  KaOSAL::KaPath path(KaOSAL::KaPath::eSpecialFolderExecutableDir);
  path.AppendDir(kConsoleFolder);
  path.SetFileName(kConsoleFileName);
  path.SetExt(platform::kLibraryExtension);
  return path;
}

IConsoleView* ConsoleLoader::Create() {
  static_cast<void>(LoadLibrary());
  return CreateView();
}

bool ConsoleLoader::LoadLibrary() {
  if (library_ == nullptr) library_ = LoadModuleLibrary(GetLibraryPath());
  return library_ != nullptr;
}

IConsoleView* ConsoleLoader::CreateView() {
  if (library_ != nullptr && view_ == nullptr) {
    auto create =
        reinterpret_cast<CreateConsoleFn>(platform::GetProcAddress(library_, kCreateConsoleExport));
    if (create != nullptr) view_ = create();
  }
  return view_;
}

void ConsoleLoader::Release() {
  if (library_ == nullptr) return;
  if (view_ != nullptr) {
    auto destroy = reinterpret_cast<DestroyConsoleFn>(
        platform::GetProcAddress(library_, kDestroyConsoleExport));
    if (destroy != nullptr) {
      destroy();
      view_ = nullptr;
    }
  }
  if (platform::FreeLibrary(library_)) {
    library_ = nullptr;
    // A view the library could not destroy went with its code.
    view_ = nullptr;
  }
}

}  // namespace wardex
