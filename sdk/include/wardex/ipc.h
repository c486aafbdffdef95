// The IPC library's contract (modules/common/kvl_ipc32.so): a server on which
// the agent receives the suite's messages, a client with which a program sends
// one, and the message callback through which the server hands each message
// to the agent. Messages are UTF-8 JSON text; replies are UTF-16.
#pragma once

#include <cstdint>

#include "wardex/export.h"

namespace wardex {

// Called on a server thread for each message. |message| holds |length| bytes,
// not terminated. |reply_size| points at the reply buffer's capacity in bytes;
// the callback sets it to the bytes it wrote, terminating zero character
// included, or to 0 when the reply did not fit. A callback that leaves it
// untouched sends no reply. |context| is the value given to StartListening.
using IpcMessageCallback = void(WARDEX_STDCALL*)(const char* message, uint32_t length,
                                                 char16_t* reply, uint32_t* reply_size,
                                                 uintptr_t context);

// Outcomes of the server's and client's operations.
enum IpcResult : int32_t {
  kIpcOk = 0,
  kIpcTimeout = 1,        // connect, send or reply took longer than allowed
  kIpcNoServer = 2,       // nobody listens on the channel
  kIpcRefused = 3,        // address not on this computer, or the peer was refused
  kIpcTooLarge = 4,       // the message or reply exceeds the frame limit
  kIpcNoReply = 5,        // the server answered without a reply
  kIpcReplyTooSmall = 6,  // the reply did not fit the caller's buffer
  kIpcChannelInUse = 7,   // another server already listens on the channel
  kIpcIoError = 8,
  kIpcInvalidArgument = 9,
};

// A server's operations run on its owner's thread (the agent's frame
// thread), never from inside a callback.
class WARDEX_INTERFACE IIpcServer {
 public:
  // The largest message or reply, in bytes, that one frame carries.
  virtual uint32_t GetFrameLimit() = 0;
  // Starts listening on |channel| and calls |callback| for every message.
  virtual int32_t StartListening(const char16_t* channel, IpcMessageCallback callback,
                                 uintptr_t context) = 0;
  // Stops listening and waits for the server's threads.
  virtual void StopListening() = 0;

 protected:
  virtual ~IIpcServer() = default;
};

// A client is used by one thread at a time; each thread may have its own.
class WARDEX_INTERFACE IIpcClient {
 public:
  virtual uint32_t GetFrameLimit() = 0;
  // Sends |length| bytes of |message| to the server at |address| and waits up
  // to |timeout_ms| for the reply. |reply| may be null; |reply_size| holds its
  // capacity in bytes on entry and the reply's size on return.
  virtual int32_t SendMessage(const char16_t* address, const char* message, uint32_t length,
                              char16_t* reply, uint32_t* reply_size, uint32_t timeout_ms) = 0;
  // Chooses the channel that later sends go to; the empty name, the default
  // channel, is chosen until this is called.
  virtual int32_t SetChannel(const char16_t* channel) = 0;

 protected:
  virtual ~IIpcClient() = default;
};

// Exports of the IPC library, looked up by these names.
inline constexpr char kCreateClientInstanceExport[] = "CreateClientInstance";
inline constexpr char kCreateServerInstanceExport[] = "CreateServerInstance";
inline constexpr char kDestroyClientInstanceExport[] = "DestroyClientInstance";
inline constexpr char kDestroyServerInstanceExport[] = "DestroyServerInstance";

// Return the instance or null.
using CreateClientInstanceFn = IIpcClient* (*)();
using CreateServerInstanceFn = IIpcServer* (*)();
using DestroyClientInstanceFn = void(WARDEX_STDCALL*)(IIpcClient* client);
using DestroyServerInstanceFn = void(WARDEX_STDCALL*)(IIpcServer* server);

}  // namespace wardex
