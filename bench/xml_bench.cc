// The XML layer against pugixml on the same documents: writing an element
// tree to text and reading the text back, in bytes of XML text per second.
// Documents: a news feed answer of 2,000 items (about 1 MB) and one element
// holding 8 MB of escaped text.
#include <benchmark/benchmark.h>

#include <pugixml.hpp>
#include <sstream>
#include <string>

#include "online/simple_xml_element.h"

namespace {

using wardex::SimpleXMLElement;

std::unique_ptr<SimpleXMLElement> FeedAnswer() {
  auto root = std::make_unique<SimpleXMLElement>();
  root->SetName(u"newsfeeds");
  for (int i = 0; i < 2000; ++i) {
    SimpleXMLElement* item = root->AddChild(u"item");
    item->SetChildValue(u"id", KaOSAL::KaString::FromInt(100000 + i));
    item->SetChildValue(u"title", u"Keep your PC fast & safe: <three> tips");
    item->SetChildValue(u"enddate", u"2031-01-31");
    item->SetChildValue(u"text",
                        u"Line one of the news text.\nLine two with 'quotes' and \"more\".");
    item->SetChildValue(u"url", u"https://news.example.test/item?id=1&ref=agent");
    item->SetChildValue(u"imageUrl", u"https://news.example.test/pictures/item.png");
    item->SetChildValue(u"btntext", u"Read more");
    item->SetChildValue(u"colorfg", u"FF8000");
    item->SetChildValue(u"colorbg", u"202020");
  }
  return root;
}

std::unique_ptr<SimpleXMLElement> BigText() {
  auto root = std::make_unique<SimpleXMLElement>();
  root->SetName(u"text");
  std::u16string text;
  while (text.size() < (8u << 20)) text += u"plain words & <marks> over many lines\n";
  root->SetValue(KaOSAL::KaString(text.c_str(), static_cast<int>(text.size())));
  return root;
}

const SimpleXMLElement& Document(int which) {
  static const std::unique_ptr<SimpleXMLElement> feed = FeedAnswer();
  static const std::unique_ptr<SimpleXMLElement> big = BigText();
  return which == 0 ? *feed : *big;
}

void BM_SimpleXmlWrite(benchmark::State& state) {
  const SimpleXMLElement& document = Document(static_cast<int>(state.range(0)));
  size_t bytes = 0;
  for (auto _ : state) {
    const std::string text = document.ToXml();
    bytes += text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

void BM_SimpleXmlRead(benchmark::State& state) {
  const std::string text = Document(static_cast<int>(state.range(0))).ToXml();
  for (auto _ : state) {
    SimpleXMLElement element(text);
    benchmark::DoNotOptimize(&element);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_PugixmlWrite(benchmark::State& state) {
  pugi::xml_document document;
  const std::string text = Document(static_cast<int>(state.range(0))).ToXml();
  document.load_buffer(text.data(), text.size());
  size_t bytes = 0;
  for (auto _ : state) {
    std::ostringstream out;
    document.save(out, "\t");
    bytes += out.str().size();
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

void BM_PugixmlRead(benchmark::State& state) {
  const std::string text = Document(static_cast<int>(state.range(0))).ToXml();
  for (auto _ : state) {
    pugi::xml_document document;
    benchmark::DoNotOptimize(document.load_buffer(text.data(), text.size()));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

// Argument 0: the 2,000-item answer; 1: the 8 MB text.
BENCHMARK(BM_SimpleXmlWrite)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PugixmlWrite)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SimpleXmlRead)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PugixmlRead)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
