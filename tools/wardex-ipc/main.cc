// wardex-ipc: the agent's pipe messages from the command line. "decode"
// shows how the agent reads a message and what it would answer; "send"
// delivers one through the IPC library and prints the agent's reply.
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "config/install_config.h"
#include "ipc/ipc_channel.h"
#include "modules/ipc_loader.h"
#include "modules/json_value.h"
#include "modules/module_message.h"
#include "modules/pipe_callback.h"
#include "osal/wide_format.h"
#include "platform/command_line.h"
#include "platform/library_loader.h"

namespace {

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitParseError = 1;
constexpr int kExitSendFailed = 1;
constexpr int kExitUsage = 2;

constexpr uint32_t kDefaultTimeoutMs = 3000;

constexpr char kUsage[] =
    "Usage:\n"
    "  wardex-ipc decode [MESSAGE]\n"
    "  wardex-ipc send [--channel NAME] [--timeout MS] [--address HOST] [MESSAGE]\n"
    "  wardex-ipc --help\n"
    "\n"
    "decode  Reads a pipe message (JSON text, UTF-8) from MESSAGE or, without it or\n"
    "        when it is \"-\", from standard input, the way the agent reads it (tabs,\n"
    "        line breaks and single quotes allowed). Prints the fields of the decoded\n"
    "        record and the reply that the agent writes for it when the handling\n"
    "        changes nothing.\n"
    "\n"
    "send    Sends MESSAGE (or standard input) to the running agent and prints its\n"
    "        reply text alone on standard output (UTF-8). The channel defaults to\n"
    "        ServiceChannelName in section ipc of the install.cfg that the agent\n"
    "        beside this tool reads; the time-out to 3000 ms; the address to this\n"
    "        computer (the only one served). The IPC library is\n"
    "        modules/common/kvl_ipc32.{ext} beside this tool, or the one that the\n"
    "        environment variable WARDEX_IPC_LIBRARY names, and must pass the agent's\n"
    "        trust check.\n"
    "\n"
    "Exit status: 0 done; 1 the text does not parse (decode: the error is printed\n"
    "with its line and column; the agent would answer it as a kind-0 message) or\n"
    "the message was not answered (send: time-out, refused, no agent); 2 wrong usage.\n";

int UsageError(const std::string& message) {
  std::cerr << "wardex-ipc: " << message << "\nTry 'wardex-ipc --help'.\n";
  return kExitUsage;
}

std::string Utf8(const KaOSAL::KaString& text) {
  return KaOSAL::ToUtf8(text.c_str(), static_cast<size_t>(text.GetLength()));
}

// Prints each line of |text| indented under |title|.
void PrintSection(const char* title, const std::string& text) {
  std::cout << title << ":\n";
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::cout << "  " << text.substr(start, end - start) << '\n';
    start = end + 1;
  }
}

int Decode(const std::string& utf8) {
  const KaOSAL::KaString text =
      wardex::DecodePipeMessage(utf8.data(), static_cast<uint32_t>(utf8.size()));

  wardex::CJsonValue root;
  wardex::CJsonParseError error;
  if (!root.Parse(text, wardex::kModuleMessageReadFlags, &error)) {
    std::cerr << "wardex-ipc: line " << error.line << ", column " << error.column << ": "
              << Utf8(error.message) << '\n';
    return kExitParseError;
  }
  if (!root.IsObject() || root.Size() == 0) {
    std::cerr << "wardex-ipc: note: the text is not an object with members; the agent reads "
                 "it as kind 0 with default fields\n";
  }
  const wardex::ModuleMessage message = wardex::ReadModuleMessage(text);
  PrintSection("record", Utf8(wardex::DescribeModuleMessage(message)));
  PrintSection("reply", Utf8(wardex::WriteModuleReply(message)));
  return kExitOk;
}

const char* SendFailure(int32_t result) {
  switch (result) {
    case wardex::kIpcTimeout:
      return "no answer within the time-out";
    case wardex::kIpcNoServer:
      return "no agent listens on the channel";
    case wardex::kIpcRefused:
      return "refused (only this computer is served, by an agent of the same user)";
    case wardex::kIpcTooLarge:
      return "the message is larger than a frame";
    case wardex::kIpcNoReply:
      return "the agent sent no reply (it answers none while it shuts down)";
    case wardex::kIpcReplyTooSmall:
      return "the reply is larger than a frame";
    case wardex::kIpcInvalidArgument:
      return "no private runtime folder for the channel";
  }
  return "input/output error";
}

KaOSAL::KaString Wide(const std::string& text) {
  const std::u16string wide = KaOSAL::FromUtf8(text);
  return KaOSAL::KaString(wide.data(), static_cast<int>(wide.size()));
}

struct SendOptions {
  std::string channel;
  bool channel_given = false;
  std::string address;
  uint32_t timeout_ms = kDefaultTimeoutMs;
  std::string message;
  bool message_given = false;
};

// Parses the arguments after "send"; returns false with |error| set.
bool ParseSendOptions(const std::vector<std::string>& args, SendOptions& options,
                      std::string& error) {
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool has_value = i + 1 < args.size();
    if (arg == "--channel" && has_value) {
      options.channel = args[++i];
      options.channel_given = true;
    } else if (arg == "--address" && has_value) {
      options.address = args[++i];
    } else if (arg == "--timeout" && has_value) {
      char* end = nullptr;
      const unsigned long value = std::strtoul(args[++i].c_str(), &end, 10);
      if (*end != '\0' || args[i].empty() || value == 0 || value > 3600000) {
        error = "--timeout takes milliseconds from 1 to 3600000";
        return false;
      }
      options.timeout_ms = static_cast<uint32_t>(value);
    } else if (arg.rfind("--", 0) == 0) {
      error = "unknown or incomplete option '" + arg + "'";
      return false;
    } else if (options.message_given) {
      error = "send takes at most one message";
      return false;
    } else {
      options.message = arg;
      options.message_given = true;
    }
  }
  return true;
}

KaOSAL::KaString IpcLibraryPath() {
  const char* configured = std::getenv("WARDEX_IPC_LIBRARY");
  if (configured != nullptr && *configured != '\0') return Wide(configured);
  return wardex::IpcLoader::GetLibraryPath().ToString();
}

int Send(const SendOptions& options) {
  const KaOSAL::KaString library = IpcLibraryPath();
  wardex::IpcLoader loader(library);
  wardex::IIpcClient* client = loader.CreateClient();
  if (client == nullptr) {
    std::cerr << "wardex-ipc: cannot load a trusted IPC library from " << Utf8(library) << '\n';
    return kExitSendFailed;
  }
  const KaOSAL::KaString channel =
      options.channel_given ? Wide(options.channel) : wardex::GetIpcChannelName();
  client->SetChannel(channel.c_str());
  const uint32_t capacity = client->GetFrameLimit() + 2;
  std::u16string reply(capacity / 2, u'\0');
  uint32_t reply_size = capacity;
  const int32_t result = client->SendMessage(Wide(options.address).c_str(), options.message.data(),
                                             static_cast<uint32_t>(options.message.size()),
                                             reply.data(), &reply_size, options.timeout_ms);
  loader.DestroyClient();
  const char* failure = nullptr;
  if (result == wardex::kIpcNoReply && options.message.empty()) {
    failure = "the agent answers no empty message";
  } else if (result == wardex::kIpcInvalidArgument) {
    wardex::ipc::ChannelPathError error = wardex::ipc::ChannelPathError::kNone;
    wardex::ipc::ChannelEndpoint(channel.c_str(), &error);
    failure = error != wardex::ipc::ChannelPathError::kNone
                  ? wardex::ipc::ChannelPathErrorText(error)
                  : SendFailure(result);
  } else if (result != wardex::kIpcOk) {
    failure = SendFailure(result);
  } else if (reply_size == 0) {
    // Every reply the agent writes ends with its zero character.
    failure = "the agent's reply did not fit its reply buffer, so it sent none";
  }
  if (failure != nullptr) {
    std::cerr << "wardex-ipc: " << failure << " (channel \"" << Utf8(channel) << "\")\n";
    return kExitSendFailed;
  }
  // The reply carries its terminating zero character.
  const size_t units = reply_size / 2;
  std::cout << KaOSAL::ToUtf8(reply.data(), units > 0 ? units - 1 : 0) << '\n';
  return kExitOk;
}

std::string ReadStandardInput() {
  return {std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args = wardex::platform::ProgramArguments(argc, argv);
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") {
      std::string usage = kUsage;
      usage.replace(usage.find("{ext}"), 5, Utf8(wardex::platform::kLibraryExtension));
      std::cout << usage;
      return kExitOk;
    }
  }
  if (args.empty()) return UsageError("missing subcommand");
  if (args[0] == "send") {
    SendOptions options;
    std::string error;
    if (!ParseSendOptions(args, options, error)) return UsageError(error);
    if (!options.message_given || options.message == "-") options.message = ReadStandardInput();
    return Send(options);
  }
  if (args[0] != "decode") return UsageError("unknown subcommand '" + args[0] + "'");
  if (args.size() > 2) return UsageError("decode takes at most one message");

  if (args.size() == 2 && args[1] != "-") return Decode(args[1]);
  return Decode(ReadStandardInput());
}
