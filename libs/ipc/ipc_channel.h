// Channels: the name of a channel's endpoint, and which server addresses mean
// this computer. The rules are the same everywhere; only the endpoint's kind
// differs: a socket in the user's private runtime folder, or on Windows a
// named pipe whose name carries the user's security identifier.
#pragma once

#include <string>
#include <vector>

namespace wardex::ipc {

// Why a channel has no endpoint.
enum class ChannelPathError {
  kNone,
  kNoPrivateFolder,  // no private place of the user's for channels
  kNameTooLong,      // the endpoint's name would be too long
};

// The channel's name as its endpoint carries it: "default" for the empty
// name; bytes other than letters, digits, '.', '_' and '-' written as %XX.
std::string EscapeChannel(const char16_t* channel);

// The endpoint of |channel| (UTF-8): <runtime>/ipc/<escaped name>, or
// \\.\pipe\wardex.<user's SID>.<escaped name>. Empty, with the reason in
// |error| when given, when there is none.
std::string ChannelEndpoint(const char16_t* channel, ChannelPathError* error = nullptr);

// What ChannelPathError says, for people.
const char* ChannelPathErrorText(ChannelPathError error);

// True for the addresses that mean this computer: empty, "localhost",
// "127.0.0.1", "::1" and this computer's names (case-insensitive).
bool IsLocalAddress(const char16_t* address);

// This computer's names: its host name, and on Windows also its NetBIOS name.
std::vector<std::string> LocalComputerNames();

}  // namespace wardex::ipc
