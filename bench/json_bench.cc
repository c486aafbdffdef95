// The wide JSON layer against nlohmann-json: parse and write of a typical
// kind-11 message and of a 1 MB document, and string members of 100 KB and
// 1 MB to show that reading a string is linear in its length.
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>
#include <string>

#include "modules/json_value.h"
#include "modules/module_message.h"
#include "osal/wide_format.h"

namespace {

constexpr uint32_t kAgentFlags = 0x40 | 0x80;

const std::string& Kind11Message() {
  static const std::string text =
      R"({"ModuleRequest":11,"ModuleIdentificator":"Wardex","MessageHeader":"Scan complete",)"
      R"("Message":"Three problems were found on your computer.\nFix them now to keep it fast )"
      R"(and safe.","CaptionStyle":"warning","MessageStyle":"info","ShowTimeInMS":30000,)"
      R"("Icon":2,"Buttons":[{"BTTX":"Fix now","BTID":1,"BTTY":1},{"BTTX":"Later","BTID":2,)"
      R"("BTTY":0}],"CheckBoxes":[{"CBTX":"Do not show this again","CBID":1,"CBCH":false}]})";
  return text;
}

// About 1 MB that the agent accepts: an array of records with strings,
// integers, reals and nesting, each with a long note, so that the document
// stays below the reader's limit of 10,000 values (16 values per record).
const std::string& LargeDocument() {
  static const std::string text = [] {
    std::string note;
    while (note.size() < 1800) note += "a line of the module's report, with words and 42 numbers; ";
    std::string doc = "[";
    for (int i = 0; doc.size() < (1u << 20); ++i) {
      if (i > 0) doc += ',';
      doc += R"({"id":)" + std::to_string(i * 7919) + R"(,"name":"item )" + std::to_string(i) +
             R"( with a \"quoted\" part","score":)" + std::to_string(i % 1000) +
             R"(.25,"tags":["alpha","beta","gamma"],"nested":{"ok":true,"none":null,)"
             R"("depth":[1,2,3]},"note":")" +
             note + R"("})";
    }
    return doc + "]";
  }();
  return text;
}

// A document the reader refuses would be timed as a quick failure.
bool Refused(benchmark::State& state, const std::string& utf8) {
  wardex::CJsonValue value;
  if (value.Parse(KaOSAL::FromUtf8(utf8), kAgentFlags)) return false;
  state.SkipWithError("parse failed");
  return true;
}

std::string LongStringDocument(size_t length, bool escapes) {
  std::string doc = R"({"s":")";
  for (size_t i = 0; i < length; ++i) {
    if (escapes && i % 16 == 15) {
      doc += "\\n";
    } else {
      doc += static_cast<char>('a' + i % 26);
    }
  }
  return doc + R"("})";
}

void SetBytes(benchmark::State& state, const std::string& utf8) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(utf8.size()));
}

// --- Wardex: the texts are wide, as they are after the pipe's UTF-8
// conversion; bytes are counted in UTF-8 so that MB/s compare directly.

void WardexParse(benchmark::State& state, const std::string& utf8) {
  if (Refused(state, utf8)) return;
  const std::u16string text = KaOSAL::FromUtf8(utf8);
  for (auto _ : state) {
    wardex::CJsonValue value;
    bool ok = value.Parse(text, kAgentFlags);
    benchmark::DoNotOptimize(ok);
  }
  SetBytes(state, utf8);
}

void WardexParseFromUtf8(benchmark::State& state, const std::string& utf8) {
  if (Refused(state, utf8)) return;
  for (auto _ : state) {
    wardex::CJsonValue value;
    bool ok = value.Parse(KaOSAL::FromUtf8(utf8), kAgentFlags);
    benchmark::DoNotOptimize(ok);
  }
  SetBytes(state, utf8);
}

void WardexWrite(benchmark::State& state, const std::string& utf8) {
  wardex::CJsonValue value;
  if (!value.Parse(KaOSAL::FromUtf8(utf8), kAgentFlags)) {
    state.SkipWithError("parse failed");
    return;
  }
  std::u16string out;
  for (auto _ : state) {
    value.Write(out, 0);
    benchmark::DoNotOptimize(out.data());
  }
  SetBytes(state, utf8);
}

void NlohmannParse(benchmark::State& state, const std::string& utf8) {
  for (auto _ : state) {
    auto value = nlohmann::json::parse(utf8);
    benchmark::DoNotOptimize(value);
  }
  SetBytes(state, utf8);
}

void NlohmannWrite(benchmark::State& state, const std::string& utf8) {
  const auto value = nlohmann::json::parse(utf8);
  for (auto _ : state) {
    std::string out = value.dump();
    benchmark::DoNotOptimize(out.data());
  }
  SetBytes(state, utf8);
}

void BM_Kind11_WardexParse(benchmark::State& state) { WardexParse(state, Kind11Message()); }
void BM_Kind11_WardexParseFromUtf8(benchmark::State& state) {
  WardexParseFromUtf8(state, Kind11Message());
}
void BM_Kind11_WardexWrite(benchmark::State& state) { WardexWrite(state, Kind11Message()); }
void BM_Kind11_NlohmannParse(benchmark::State& state) { NlohmannParse(state, Kind11Message()); }
void BM_Kind11_NlohmannWrite(benchmark::State& state) { NlohmannWrite(state, Kind11Message()); }

// The whole decode and reply as the pipe callback does it.
void BM_Kind11_ReadModuleMessageAndReply(benchmark::State& state) {
  const std::u16string wide = KaOSAL::FromUtf8(Kind11Message());
  const KaOSAL::KaString text(wide.data(), static_cast<int>(wide.size()));
  for (auto _ : state) {
    wardex::ModuleMessage message = wardex::ReadModuleMessage(text);
    KaOSAL::KaString reply = wardex::WriteModuleReply(message);
    benchmark::DoNotOptimize(reply.c_str());
  }
  SetBytes(state, Kind11Message());
}

void BM_1MB_WardexParse(benchmark::State& state) { WardexParse(state, LargeDocument()); }
void BM_1MB_WardexParseFromUtf8(benchmark::State& state) {
  WardexParseFromUtf8(state, LargeDocument());
}
void BM_1MB_WardexWrite(benchmark::State& state) { WardexWrite(state, LargeDocument()); }
void BM_1MB_NlohmannParse(benchmark::State& state) { NlohmannParse(state, LargeDocument()); }
void BM_1MB_NlohmannWrite(benchmark::State& state) { NlohmannWrite(state, LargeDocument()); }

// A string member of state.range(0) characters, plain or with an escape in
// every 16 characters; the time per byte stays flat from 100 KB to 1 MB.
void BM_LongString_WardexParse(benchmark::State& state) {
  WardexParse(state, LongStringDocument(static_cast<size_t>(state.range(0)), false));
}
void BM_LongEscapedString_WardexParse(benchmark::State& state) {
  WardexParse(state, LongStringDocument(static_cast<size_t>(state.range(0)), true));
}
void BM_LongString_NlohmannParse(benchmark::State& state) {
  NlohmannParse(state, LongStringDocument(static_cast<size_t>(state.range(0)), false));
}

BENCHMARK(BM_Kind11_WardexParse);
BENCHMARK(BM_Kind11_WardexParseFromUtf8);
BENCHMARK(BM_Kind11_NlohmannParse);
BENCHMARK(BM_Kind11_WardexWrite);
BENCHMARK(BM_Kind11_NlohmannWrite);
BENCHMARK(BM_Kind11_ReadModuleMessageAndReply);
BENCHMARK(BM_1MB_WardexParse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_1MB_WardexParseFromUtf8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_1MB_NlohmannParse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_1MB_WardexWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_1MB_NlohmannWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LongString_WardexParse)->Arg(100 << 10)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LongEscapedString_WardexParse)
    ->Arg(100 << 10)
    ->Arg(1 << 20)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LongString_NlohmannParse)->Arg(100 << 10)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
