#include "crash_report.h"
#include "crash_report_parts.h"
#include "fault_report_win.h"
#include "this_process.h"

namespace wardex::crashlog {
namespace {

constexpr int kBacktraceDepth = 62;

// Makes the folders above the file |path| (the log's folder is made only
// when a line or a report is written).
void MakeFoldersAbove(wchar_t* path) {
  for (wchar_t* at = path + 1; *at != L'\0'; ++at) {
    if ((*at != L'\\' && *at != L'/') || at[-1] == L':') continue;
    const wchar_t separator = *at;
    *at = L'\0';
    CreateDirectoryW(path, nullptr);
    *at = separator;
  }
}

// A report file, or standard error where there is none; no allocation, so
// that a thread holding the heap's lock cannot stop a report.
class ReportFile {
 public:
  // Opens "<report folder>\crash-...<extension>" for |now|, or standard error.
  ReportFile(int64_t now, std::string_view extension, DWORD creation) {
    const char* dir = PublishedReportDir();
    if (dir == nullptr || *dir == '\0') return;
    AppendReportFileName(path_, dir, '\\', now, CurrentProcessId(), extension);
    wchar_t wide_path[ReportPath::capacity()];
    if (MultiByteToWideChar(CP_UTF8, 0, path_.c_str(), -1, wide_path, ReportPath::capacity()) ==
        0) {
      return;
    }
    const DWORD access = creation == OPEN_ALWAYS ? FILE_APPEND_DATA : GENERIC_WRITE;
    file_ = CreateFileW(wide_path, access, FILE_SHARE_READ, nullptr, creation,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file_ == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PATH_NOT_FOUND) {
      MakeFoldersAbove(wide_path);
      file_ = CreateFileW(wide_path, access, FILE_SHARE_READ, nullptr, creation,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    }
  }
  ~ReportFile() {
    if (is_file()) CloseHandle(file_);
  }
  ReportFile(const ReportFile&) = delete;
  ReportFile& operator=(const ReportFile&) = delete;

  [[nodiscard]] bool is_file() const { return file_ != INVALID_HANDLE_VALUE; }
  [[nodiscard]] HANDLE handle() const { return file_; }
  [[nodiscard]] std::string_view path() const { return path_.view(); }

  void Write(std::string_view text) const {
    DWORD written = 0;
    WriteFile(is_file() ? file_ : GetStdHandle(STD_ERROR_HANDLE), text.data(),
              static_cast<DWORD>(text.size()), &written, nullptr);
  }

 private:
  ReportPath path_;
  HANDLE file_ = INVALID_HANDLE_VALUE;
};

// Writes "module(+0xOFFSET) [0xADDRESS]" for each frame.
void WriteBacktrace(const ReportFile& file, const uintptr_t* frames, int count) {
  file.Write("Backtrace:\n");
  for (int i = 0; i < count; ++i) {
    FixedText<4 * MAX_PATH + 64> line;
    HMODULE module = nullptr;
    wchar_t wide_name[MAX_PATH];
    char name[4 * MAX_PATH];
    if (GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(frames[i]), &module) &&
        GetModuleFileNameW(module, wide_name, MAX_PATH) != 0 &&
        WideCharToMultiByte(CP_UTF8, 0, wide_name, -1, name, sizeof(name), nullptr, nullptr) != 0) {
      line.Append(name).Append("(+0x");
      line.AppendHex(frames[i] - reinterpret_cast<uintptr_t>(module), 1).Append(") ");
    }
    line.Append("[0x").AppendHex(frames[i], 1).Append("]\n");
    file.Write(line.view());
  }
  file.Write("\n");
}

// Reads a machine word of this process without faulting on a bad address.
bool ReadWord(uintptr_t address, uintptr_t& value) {
  SIZE_T read = 0;
  return ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void*>(address), &value,
                           sizeof(value), &read) &&
         read == sizeof(value);
}

// The return addresses of the stack that |start| describes, unwound with the
// tables the compiler writes into every x64 image.
int UnwindFrames(const CONTEXT& start, uintptr_t* frames, int capacity) {
#if defined(__x86_64__)
  CONTEXT context = start;
  int count = 0;
  while (count < capacity && context.Rip != 0) {
    frames[count++] = context.Rip;
    DWORD64 image_base = 0;
    PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(context.Rip, &image_base, nullptr);
    if (function == nullptr) {
      // A leaf function: its return address is on top of the stack.
      uintptr_t return_address = 0;
      if (!ReadWord(context.Rsp, return_address)) break;
      context.Rip = return_address;
      context.Rsp += sizeof(uintptr_t);
      continue;
    }
    void* handler_data = nullptr;
    DWORD64 establisher_frame = 0;
    RtlVirtualUnwind(UNW_FLAG_NHANDLER, image_base, context.Rip, function, &context, &handler_data,
                     &establisher_frame, nullptr);
  }
  return count;
#else
  frames[0] = start.Eip;
  return capacity > 0 ? 1 : 0;
#endif
}

void WriteHeading(const ReportFile& file, std::string_view title, int64_t now, uint32_t thread_id,
                  std::string_view details) {
  ReportHeading heading;
  AppendReportHeading(heading, title, now, CurrentProcessId(), thread_id);
  file.Write(heading.view());
  file.Write(details);
}

void AnnounceReport(std::string_view title, const ReportFile& file) {
  if (!file.is_file()) return;
  FixedText<4200> notice;
  notice.Append("wardex: ").Append(title).Append(", report written to ").Append(file.path());
  notice.Append("\n");
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), notice.c_str(), static_cast<DWORD>(notice.length()),
            &written, nullptr);
}

}  // namespace

void WriteReport(std::string_view title, std::string_view details) {
  const int64_t now = UtcSecondsNow();
  const ReportFile file(now, ".txt", OPEN_ALWAYS);
  WriteHeading(file, title, now, CurrentThreadId(), details);
  void* frames[kBacktraceDepth];
  const int count = RtlCaptureStackBackTrace(1, kBacktraceDepth, frames, nullptr);
  uintptr_t addresses[kBacktraceDepth];
  for (int i = 0; i < count; ++i) addresses[i] = reinterpret_cast<uintptr_t>(frames[i]);
  WriteBacktrace(file, addresses, count);
  AnnounceReport(title, file);
}

void WriteFaultReport(std::string_view title, std::string_view details, uint32_t thread_id,
                      EXCEPTION_POINTERS* fault) {
  const int64_t now = UtcSecondsNow();
  const ReportFile file(now, ".txt", OPEN_ALWAYS);
  WriteHeading(file, title, now, thread_id, details);
  uintptr_t frames[kBacktraceDepth];
  WriteBacktrace(file, frames, UnwindFrames(*fault->ContextRecord, frames, kBacktraceDepth));

  const ReportFile dump(now, ".dmp", CREATE_ALWAYS);
  if (dump.is_file()) {
    MINIDUMP_EXCEPTION_INFORMATION exception{thread_id, fault, FALSE};
    if (MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), dump.handle(), MiniDumpNormal,
                          &exception, nullptr, nullptr)) {
      file.Write(FixedText<4200>().Append("Minidump: ").Append(dump.path()).Append("\n").view());
    } else {
      file.Write(FixedText<64>()
                     .Append("Minidump: not written, error ")
                     .AppendDecimal(GetLastError())
                     .Append("\n")
                     .view());
    }
  }
  AnnounceReport(title, file);
}

}  // namespace wardex::crashlog
