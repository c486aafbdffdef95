// CTask: one scheduled task, built field by field and saved under a name.
// A task that runs at logon is the user's (or the machine's) autostart
// entry; a task with a dated trigger is a user timer of the service manager.
// Results are COM-style codes: negative on failure.
#pragma once

#include <cstdint>

#include "osal/ka_string.h"
#include "platform/scheduled_task_files.h"

namespace wardex {

using HRESULT = int32_t;

inline constexpr HRESULT kHResultFail = static_cast<HRESULT>(0x80004005);  // E_FAIL
inline constexpr HRESULT kHResultInvalidArgument =
    static_cast<HRESULT>(0x80070057);  // E_INVALIDARG
inline constexpr HRESULT kHResultClassNotRegistered = static_cast<HRESULT>(0x80040154);
inline constexpr HRESULT kHResultFileExists = static_cast<HRESULT>(0x80070050);

// The COM code of a Win32 error code.
constexpr HRESULT HResultFromWin32(uint32_t code) {
  return code == 0 ? 0 : static_cast<HRESULT>(0x80070000u | (code & 0xFFFFu));
}

// A date and time of day as the scheduler keeps it (a SYSTEMTIME).
struct TaskTime {
  int year = 0;
  int month = 0;
  int day_of_week = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int milliseconds = 0;
};

class CTask {
 public:
  // Frequencies.
  static constexpr uint32_t kOnce = 1;
  static constexpr uint32_t kDaily = 2;
  static constexpr uint32_t kWeekly = 3;
  static constexpr uint32_t kMonthly = 4;
  static constexpr uint32_t kAtLogon = 5;

  CTask();
  virtual ~CTask() = default;

  // An empty path or a missing file logs and empties the program; otherwise
  // it is kept in quotation marks.
  void SetProgram(const KaOSAL::KaString& path);
  void SetParameters(const KaOSAL::KaString& parameters) { parameters_ = parameters; }
  void SetStartingDir(const KaOSAL::KaString& folder);
  // The account of the user at the desktop, "host\user"; unchanged when none.
  void SetAccountToLogonUser();
  void SetRunOnlyIfLoggedOn(bool run_only_if_logged_on) {
    run_only_if_logged_on_ = run_only_if_logged_on;
  }
  void SetComment(const KaOSAL::KaString& comment);
  // 0 or 1 once, 2 daily, 3 weekly, 4 monthly, 5 at logon; above 5 is refused.
  void SetFrequency(uint32_t frequency);
  // Seconds since 1970 (UTC), taken in local time.
  void SetStartDate(int64_t seconds);
  void SetStartTime(int64_t seconds);
  void SetEndDate(const TaskTime& end) { end_ = end; }
  void SetRepetition(uint32_t minutes_interval, uint32_t minutes_duration) {
    minutes_interval_ = minutes_interval;
    minutes_duration_ = minutes_duration;
  }

  // Saves the task as |name|, replacing a task of that name unless
  // |fail_if_exists| (then 0x80070050 and nothing changes).
  [[nodiscard]] HRESULT SaveTask(const KaOSAL::KaString& name, bool fail_if_exists, bool disabled,
                                 bool delete_when_done) const;
  // Removes the task |name|.
  [[nodiscard]] static HRESULT DeleteTask(const KaOSAL::KaString& name);
  // Opens the scheduler (|name| only names the task in the log lines): the
  // scope a task of this process is saved in. False when there is none.
  [[nodiscard]] static bool OpenTaskScheduler(const KaOSAL::KaString& name,
                                              platform::TaskScope* scheduler);

  const TaskTime& start() const { return start_; }
  uint32_t frequency() const { return frequency_; }
  const KaOSAL::KaString& program() const { return program_; }
  const KaOSAL::KaString& starting_folder() const { return starting_folder_; }
  const KaOSAL::KaString& account() const { return account_; }
  const KaOSAL::KaString& comment() const { return comment_; }

 private:
  // The trigger as the task's files describe it.
  platform::TaskTrigger Trigger() const;
  // The user part of the account ("user" of "host\user").
  KaOSAL::KaString AccountUser() const;

  TaskTime start_;
  TaskTime end_;
  uint32_t frequency_ = 0;
  uint32_t minutes_interval_ = 0;
  uint32_t minutes_duration_ = 0;
  KaOSAL::KaString program_;
  KaOSAL::KaString parameters_;
  KaOSAL::KaString starting_folder_;
  KaOSAL::KaString account_;
  KaOSAL::KaString password_;
  KaOSAL::KaString comment_;
  bool run_only_if_logged_on_ = true;
  // Account information is set on NT-family systems only; Linux is one.
  bool nt_family_ = true;
};

}  // namespace wardex
