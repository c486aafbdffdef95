// The IPC library on named pipes: a pipe that admits this user alone, and
// a client that talks only to a pipe this user made.
#include <string>
#include <thread>

#include "ipc/ipc_channel.h"
#include "ipc/ipc_test_fixture.h"
#include "platform/windows_api.h"

namespace wardex::test {

namespace {

std::wstring PipeName(const char16_t* channel) {
  const std::string name = ipc::ChannelEndpoint(channel);
  return std::wstring(name.begin(), name.end());
}

std::wstring SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (sid == nullptr || !ConvertSidToStringSidW(sid, &text)) return L"";
  const std::wstring result = text;
  LocalFree(text);
  return result;
}

std::wstring UserSid() {
  HANDLE token = nullptr;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  char user[256];
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, user, sizeof(user), &size);
  CloseHandle(token);
  return SidText(reinterpret_cast<TOKEN_USER*>(user)->User.Sid);
}

TEST_F(IpcLibraryTest, PipeIsTheUsersAlone) {
  const std::u16string channel = ServerChannel();  // "test channel.<number>"
  EXPECT_EQ(PipeName(ServerChannel()), L"\\\\.\\pipe\\wardex." + UserSid() + L".test%20channel" +
                                           std::wstring(channel.begin() + 12, channel.end()));
  const HANDLE pipe = CreateFileW(PipeName(ServerChannel()).c_str(), GENERIC_READ | GENERIC_WRITE,
                                  0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  PSID owner = nullptr;
  ACL* access = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetSecurityInfo(pipe, SE_KERNEL_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                            &access, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(SidText(owner), UserSid());
  ASSERT_NE(access, nullptr);
  ASSERT_EQ(access->AceCount, 1);
  void* entry = nullptr;
  ASSERT_TRUE(GetAce(access, 0, &entry));
  const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
  EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
  EXPECT_EQ(SidText(const_cast<DWORD*>(&allowed->SidStart)), UserSid());
  LocalFree(descriptor);
  CloseHandle(pipe);
}

// Another user's pipe under the channel's name (made before the server
// started) gets nothing from the client.
TEST_F(IpcLibraryTest, ClientSendsNothingToAPipeOfAnotherOwner) {
  PSID users = nullptr;
  PSID everyone = nullptr;
  ASSERT_TRUE(ConvertStringSidToSidW(L"S-1-5-32-545", &users));
  ASSERT_TRUE(ConvertStringSidToSidW(L"S-1-1-0", &everyone));
  char list[256];
  auto* access = reinterpret_cast<ACL*>(list);
  InitializeAcl(access, sizeof(list), ACL_REVISION);
  AddAccessAllowedAce(access, ACL_REVISION, GENERIC_ALL, everyone);
  SECURITY_DESCRIPTOR descriptor{};
  InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&descriptor, TRUE, access, FALSE);
  SetSecurityDescriptorOwner(&descriptor, users, FALSE);
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), &descriptor, FALSE};
  const std::u16string channel = TestChannel(u"squatted");
  const HANDLE squatter =
      CreateNamedPipeW(PipeName(channel.c_str()).c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                       PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1, 4096, 4096, 0, &attributes);
  ASSERT_NE(squatter, INVALID_HANDLE_VALUE);
  OVERLAPPED connect{};
  connect.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ConnectNamedPipe(squatter, &connect);

  EXPECT_EQ(Send("secret", 3000, channel.c_str()).result, kIpcRefused);
  EXPECT_EQ(WaitForSingleObject(connect.hEvent, 0), WAIT_OBJECT_0);  // it was reached
  DWORD available = 0;
  EXPECT_FALSE(PeekNamedPipe(squatter, nullptr, 0, nullptr, &available, nullptr) && available > 0);
  CloseHandle(connect.hEvent);
  CloseHandle(squatter);
  LocalFree(users);
  LocalFree(everyone);
}

TEST_F(IpcLibraryTest, ClientOfAnotherUserIsRefused) {
  if (RunningUnderWine()) {
    GTEST_SKIP() << "Wine runs everything as one user and has no anonymous token to "
                    "impersonate, so the pipe's access list cannot be seen to refuse anyone";
  }
  std::thread([] {
    ImpersonateAnonymousToken(GetCurrentThread());
    EXPECT_EQ(Send("x").result, kIpcRefused);
    RevertToSelf();
  }).join();
  EXPECT_EQ(g_calls.load(), 0);
}

TEST_F(IpcLibraryTest, PipeMadeFirstBySomeoneElseMakesTheChannelInUse) {
  if (RunningUnderWine()) {
    GTEST_SKIP() << "Wine makes further instances of a pipe that exists even when asked "
                    "for the first one, so a pipe made before the server goes unnoticed";
  }
  const std::u16string channel = TestChannel(u"taken");
  const HANDLE other = CreateNamedPipeW(PipeName(channel.c_str()).c_str(), PIPE_ACCESS_DUPLEX,
                                        PIPE_TYPE_MESSAGE, 1, 4096, 4096, 0, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  IIpcServer* server = CreateServerInstance();
  EXPECT_EQ(server->StartListening(channel.c_str(), EchoCallback, 0), kIpcChannelInUse);
  DestroyServerInstance(server);
  CloseHandle(other);
}

}  // namespace
}  // namespace wardex::test
