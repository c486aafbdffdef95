// The contract of a module library: the IModule object that its factory
// returns, the IModuleSwitch part of a switch module, and the two exports.
//
// The operations are in the order the agent's callers rely on; a module's
// object is reached only through these vtables, so their order is the ABI.
// Text is UTF-16 (char16_t); buffer capacities are in characters.
//
// Threads: the agent's frame thread runs the tray menu and the creation and
// shutdown of the agent; the IPC library's threads run pipe requests, several
// at once. The agent serialises the loading of modules, not the calls into
// them: an operation said to be called from any thread must be safe to call
// from several at once.
#pragma once

#include <cstdint>

#include "wardex/export.h"

namespace wardex {

class IConsoleView;

// Bits of IModule::GetFlags.
inline constexpr uint32_t kModuleFlagRunsTasks = 0x04;  // start, run, stop and progress are offered
inline constexpr uint32_t kModuleFlagRefusesRunRequest =
    0x10;                                            // refuses a run request from the pipe
inline constexpr uint32_t kModuleFlagSwitch = 0x20;  // the object is an ISwitchModule

class WARDEX_INTERFACE IModule {
 public:
  // With (nullptr, 0) returns the characters needed (without the terminator);
  // with a buffer of that many characters fills it. The frame's thread.
  virtual int32_t GetMenuText(char16_t* buffer, int32_t capacity) = 0;
  // Any thread.
  virtual uint32_t GetFlags() = 0;
  // Install-time and uninstall-time hooks (the agent's -register/-unregister),
  // on the main thread of that run, which has no frame.
  virtual void Register() = 0;
  virtual void Unregister() = 0;
  // The results and the task operations: any thread (pipe requests; the
  // frame's thread for RunTask(1) of the tray menu and StopTask(1) at shutdown).
  // Progress or level of the current task; the agent passes index -1.
  virtual double GetResultLevel(int32_t index) = 0;
  virtual void GetResultText(char16_t* buffer, int32_t capacity, int32_t index) = 0;
  virtual void GetResultDescription(char16_t* buffer, int32_t capacity, int32_t index) = 0;
  virtual void GetResultDetails(char16_t* buffer, int32_t capacity, int32_t index) = 0;
  // With (nullptr, 0, -1) returns the characters needed; then fills the buffer.
  virtual int32_t GetSubResults(char16_t* buffer, int32_t capacity, int32_t index) = 0;
  virtual void StartTask(int32_t reserved1, int32_t reserved2, int32_t parameter) = 0;
  virtual void RunTask(int32_t parameter) = 0;
  virtual void StopTask(int32_t parameter) = 0;
  // The Console module's view, or null when the Console is absent or goes.
  // Any thread (after loading on the frame's, switch requests on the pipe's).
  virtual void SetConsoleView(IConsoleView* view) = 0;
  // The frame's thread.
  virtual void StartMonitoring(int32_t reserved1, int32_t reserved2) = 0;
  virtual void StopMonitoring() = 0;

 protected:
  // Only the module's own DestroyInstanceOfModule deletes its object.
  virtual ~IModule() = default;
};

class WARDEX_INTERFACE IModuleSwitch {
 public:
  // Both from any thread. Returns true when the state was changed.
  virtual bool SetSwitchState(int32_t state, int32_t parameter) = 0;
  virtual int32_t GetSwitchState(int32_t reserved1, int32_t reserved2, int32_t parameter) = 0;

 protected:
  virtual ~IModuleSwitch() = default;
};

// The object of a switch module (flag kModuleFlagSwitch): IModuleSwitch first,
// IModule second. The factory returns the IModule part; the host reaches the
// switch part of the same object with ToModuleSwitch, without a query call.
class WARDEX_INTERFACE ISwitchModule : public IModuleSwitch, public IModule {
 protected:
  ~ISwitchModule() override = default;
};

// The IModuleSwitch part of a switch module's object. Valid only for a module
// whose GetFlags has kModuleFlagSwitch set.
inline IModuleSwitch* ToModuleSwitch(IModule* module) {
  return module == nullptr ? nullptr
                           : static_cast<IModuleSwitch*>(static_cast<ISwitchModule*>(module));
}

// Exports of a module library, looked up by these names.
inline constexpr char kCreateInstanceOfModuleExport[] = "CreateInstanceOfModule";
inline constexpr char kDestroyInstanceOfModuleExport[] = "DestroyInstanceOfModule";

// Returns the module's object, or null. Called at most once per load, on the
// thread that loads the module (the frame's, or a pipe request's).
using CreateInstanceOfModuleFn = IModule* (*)();
// Takes the object back; its result is not used. On the thread that lets go
// of the module last: the frame's, or a pipe request's that was still inside it.
using DestroyInstanceOfModuleFn = void(WARDEX_STDCALL*)(IModule* instance);

}  // namespace wardex
