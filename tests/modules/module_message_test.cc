#include "modules/module_message.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "osal/wide_format.h"
#include "support/test_env.h"

// The records below name only the fields they set; the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace wardex {
namespace {

std::string Utf8(const KaString& text) { return KaOSAL::ToUtf8(text.c_str(), text.GetLength()); }

// A record with every request field set to something other than its default.
ModuleMessage FullRequest() {
  return {.module_name = u"Mod",
          .notification_header = u"NH",
          .notification_text = u"NT",
          .button_header = u"BH",
          .button_text = u"BT",
          .button_title = u"Title",
          .button_command = u"cmd \"x\"",
          .box_header = u"XH",
          .box_text = u"XT\n\u00e9",
          .caption_style = u"cs",
          .message_style = u"ms",
          .show_time_ms = 5000000000,
          .icon = 2,
          .buttons = {{u"OK", 1, 0}, {u"Cancel", 4294967295u, 1}},
          .check_boxes = {{u"Remember", -7, true}},
          .check = 3,
          .requested_switch_state = 1,
          .switch_param = 4,
          .sync_request = {5, u"id", u"1.2.3.4", u"dev", u"sh", u"data"}};
}

void ExpectSameRecord(const ModuleMessage& actual, const ModuleMessage& expected) {
  EXPECT_EQ(Utf8(DescribeModuleMessage(actual)), Utf8(DescribeModuleMessage(expected)));
  EXPECT_TRUE(actual == expected);
}

constexpr char kSyncMembers[] =
    R"("SyncRequest":{"DeviceID":"id","DeviceIP":"1.2.3.4","DeviceName":"dev","MsgType":5,)"
    R"("Share":"sh","ShareData":"data"})";

TEST(ModuleMessageTest, EachKindWritesAndReadsBack) {
  const ModuleMessage full = FullRequest();
  const struct {
    int32_t kind;
    std::string written;
    ModuleMessage read_back;  // what reading the written text gives, kind aside
  } kCases[] = {
      {1,
       R"({"Check":3,"ModuleIdentificator":"Mod","ModuleRequest":1})",
       {.module_name = u"Mod", .check = 3}},
      {2,
       (std::string(R"({"ModuleIdentificator":"Mod","ModuleRequest":2,)") + kSyncMembers + "}"),
       {.module_name = u"Mod", .sync_request = full.sync_request}},
      {3,
       R"({"ModuleIdentificator":"Mod","ModuleRequest":3,"Switch":1,"SwitchParam":4})",
       {.module_name = u"Mod", .requested_switch_state = 1, .switch_param = 4}},
      // "SwitchParam" is written for kind 4 but not read.
      {4,
       R"({"ModuleIdentificator":"Mod","ModuleRequest":4,"SwitchParam":4,"SwitchState":1})",
       {.module_name = u"Mod", .requested_switch_state = 1}},
      {5, R"({"ModuleIdentificator":"Mod","ModuleRequest":5})", {.module_name = u"Mod"}},
      {6, R"({"ModuleIdentificator":"Mod","ModuleRequest":6})", {.module_name = u"Mod"}},
      {7,
       R"({"Message":"NT","MessageHeader":"NH","ModuleIdentificator":"Mod","ModuleRequest":7})",
       {.module_name = u"Mod", .notification_header = u"NH", .notification_text = u"NT"}},
      {8, R"({"ModuleIdentificator":"Mod","ModuleRequest":8})", {.module_name = u"Mod"}},
      {9,
       (std::string(R"({"ModuleRequest":9,)") + kSyncMembers + "}"),
       {.sync_request = full.sync_request}},
      {10,
       R"({"BtnCmdLine":"cmd \"x\"","BtnTitle":"Title","Message":"BT","MessageHeader":"BH",)"
       R"("ModuleIdentificator":"Mod","ModuleRequest":10})",
       {.module_name = u"Mod",
        .button_header = u"BH",
        .button_text = u"BT",
        .button_title = u"Title",
        .button_command = u"cmd \"x\""}},
      {11,
       R"({"Buttons":[{"BTID":1,"BTTX":"OK","BTTY":0},{"BTID":4294967295,"BTTX":"Cancel",)"
       R"("BTTY":1}],"CaptionStyle":"cs","CheckBoxes":[{"CBCH":true,"CBID":-7,)"
       R"("CBTX":"Remember"}],"Icon":2,"Message":"XT\n)"
       "\u00e9"
       R"(","MessageHeader":"XH","MessageStyle":"ms","ModuleIdentificator":"Mod",)"
       R"("ModuleRequest":11,"ShowTimeInMS":5000000000})",
       {.module_name = u"Mod",
        .box_header = u"XH",
        .box_text = u"XT\n\u00e9",
        .caption_style = u"cs",
        .message_style = u"ms",
        .show_time_ms = 5000000000,
        .icon = 2,
        .buttons = full.buttons,
        .check_boxes = full.check_boxes}},
      {12,
       (std::string(R"({"ModuleIdentificator":"Mod","ModuleRequest":12,)") + kSyncMembers + "}"),
       {.module_name = u"Mod", .sync_request = full.sync_request}},
      {13, R"({"ModuleIdentificator":"Mod","ModuleRequest":13})", {.module_name = u"Mod"}},
      {42, R"({"ModuleIdentificator":"Mod","ModuleRequest":42})", {.module_name = u"Mod"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.kind);
    const KaString text = WriteModuleMessage(c.kind, full);
    EXPECT_EQ(Utf8(text), c.written);
    ModuleMessage read_back = c.read_back;
    read_back.kind = c.kind;
    ExpectSameRecord(ReadModuleMessage(text), read_back);
  }
}

TEST(ModuleMessageTest, Reads) {
  const struct {
    const char* name;
    const char* text;
    ModuleMessage expected;
  } kCases[] = {
      {"parse_error", R"({"ModuleRequest":1,})", {}},
      {"root_array", R"([{"ModuleRequest":1}])", {}},
      {"no_kind_means_nothing_read", R"({"ModuleIdentificator":"X","Check":1})", {}},
      {"agent_leniencies",
       "{'ModuleRequest':\t7,\r\n'MessageHeader':'h','Message':'m'}",
       {.kind = 7, .notification_header = u"h", .notification_text = u"m"}},
      {"kind7_needs_both", R"({"ModuleRequest":7,"Message":"m"})", {.kind = 7}},
      {"kind10_needs_all_four",
       R"({"ModuleRequest":10,"MessageHeader":"h","Message":"m","BtnTitle":"t"})",
       {.kind = 10}},
      {"kind11_needs_header",
       R"({"ModuleRequest":11,"Message":"m","Icon":3,"ShowTimeInMS":9,)"
       R"("CaptionStyle":"c","Buttons":[{"BTTX":"a"}],"CheckBoxes":[{"CBID":1}]})",
       {.kind = 11}},
      {"kind11_optional_members",
       R"({"ModuleRequest":11,"MessageHeader":"h","Message":"m","Icon":-3})",
       {.kind = 11, .box_header = u"h", .box_text = u"m", .icon = -3}},
      {"lists_skip_non_objects",
       R"({"ModuleRequest":11,"MessageHeader":"h","Message":"m",)"
       R"("Buttons":[1,{"BTTX":"a","BTID":4},"x",[],null,{"BTTY":2}],)"
       R"("CheckBoxes":[true,{"CBCH":true}]})",
       {.kind = 11,
        .box_header = u"h",
        .box_text = u"m",
        .buttons = {{u"a", 4, 0}, {u"", 0, 2}},
        .check_boxes = {{u"", 0, true}}}},
      {"kind4_reads_no_switch_param",
       R"({"ModuleRequest":4,"SwitchState":0,"SwitchParam":9,"Switch":1})",
       {.kind = 4, .requested_switch_state = 0}},
      {"kind1_reads_no_other_members",
       R"({"ModuleRequest":1,"Check":2,"Switch":1,"MessageHeader":"h","Message":"m"})",
       {.kind = 1, .check = 2}},
      {"kind13_reads_nothing",
       R"({"ModuleRequest":13,"Check":2,"ModuleIdentificator":"Q"})",
       {.module_name = u"Q", .kind = 13}},
      {"sync_request_partial",
       R"({"ModuleRequest":12,"SyncRequest":{"Share":"s"}})",
       {.kind = 12, .sync_request = {.share = u"s"}}},
      // Members of another JSON type, or integers the field cannot hold,
      // count as absent.
      {"kind_as_string", R"({"ModuleRequest":"7","ModuleIdentificator":"X"})", {}},
      {"kind_too_wide", R"({"ModuleRequest":4294967303,"ModuleIdentificator":"X"})", {}},
      {"name_as_number", R"({"ModuleRequest":5,"ModuleIdentificator":5})", {.kind = 5}},
      {"header_as_number_blocks_kind7",
       R"({"ModuleRequest":7,"MessageHeader":1,"Message":"m"})",
       {.kind = 7}},
      {"kind11_wrong_types",
       R"({"ModuleRequest":11,"MessageHeader":"h","Message":"m","Icon":1.5,)"
       R"("ShowTimeInMS":"1","CaptionStyle":2,"Buttons":{"BTTX":"a"},)"
       R"("CheckBoxes":[{"CBCH":1,"CBID":"2","CBTX":3}]})",
       {.kind = 11, .box_header = u"h", .box_text = u"m", .check_boxes = {{}}}},
      {"button_ids_out_of_range",
       R"({"ModuleRequest":11,"MessageHeader":"h","Message":"m",)"
       R"("Buttons":[{"BTID":-1,"BTTY":4294967296}],"CheckBoxes":[{"CBID":2147483648}]})",
       {.kind = 11, .box_header = u"h", .box_text = u"m", .buttons = {{}}, .check_boxes = {{}}}},
      {"sync_request_not_object",
       R"({"ModuleRequest":2,"SyncRequest":[{"Share":"s"}]})",
       {.kind = 2}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ExpectSameRecord(ReadModuleMessage(KaString(c.text, KaOSAL::KA_CP_UTF8)), c.expected);
  }
}

// The pipe server calls back on several threads at once; each decodes and
// answers its own message, sharing nothing but the strings it was given.
TEST(ModuleMessageThreadsTest, DecodeAndReplyOnManyThreadsAtOnce) {
  const KaString request = WriteModuleMessage(11, FullRequest());
  const KaString expected_reply = WriteModuleReply(ReadModuleMessage(request));
  constexpr int kThreads = 4;
  const int rounds = wardex::test::Scaled(2000, 200);
  std::vector<int> mismatches(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < rounds; ++i) {
        const ModuleMessage message = ReadModuleMessage(request);
        if (WriteModuleReply(message) != expected_reply ||
            WriteModuleMessage(11, message) != request) {
          ++mismatches[static_cast<size_t>(t)];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mismatches, std::vector<int>(kThreads, 0));
}

}  // namespace
}  // namespace wardex
