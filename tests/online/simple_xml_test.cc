#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "online/simple_xml_element.h"
#include "online/simple_xml_reader.h"
#include "online/xml_text.h"
#include "osal/wide_format.h"
#include "support/test_env.h"

namespace wardex {
namespace {

using KaOSAL::KaString;
using Clock = std::chrono::steady_clock;

KaString Wide(const std::string& text) { return KaString(text.c_str(), KaOSAL::KA_CP_UTF8); }
std::string Utf8(const KaString& text) { return KaOSAL::ToUtf8(text.c_str(), text.GetLength()); }

constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

TEST(XmlStoredFormTest, EscapesInOrderAndReadsBack) {
  // The text and its stored form.
  const std::pair<const char*, const char*> kCases[] = {
      {"line one\nline two", "line one#_#lbr#_#line two"},
      {"a<b & c's", "a&lt;b &amp; c&apos;s"},
      {"\"quoted\" >", "&quot;quoted&quot; &gt;"},
      {"&lt; stays text", "&amp;lt; stays text"},
      {"&amp;&quot;", "&amp;amp;&amp;quot;"},
      {"Grüße € 日本", "Grüße € 日本"},
      {"\n\n", "#_#lbr#_##_#lbr#_#"},
      {"", ""},
  };
  for (const auto& [text, stored] : kCases) {
    EXPECT_EQ(ToXmlStoredForm(Wide(text)), stored);
    EXPECT_EQ(Utf8(FromXmlStoredForm(stored)), text);
  }
}

// What the writer writes the reader reads back whole.
TEST(SimpleXmlWriterTest, WritesTheDeclarationIndentsAndAttributeSpacingAndReadsItBack) {
  SimpleXMLElement root;
  root.SetName(u"client");
  root.SetAttribute(u"v", u"1 & 2");
  root.SetAttribute(u"note", u"a \"b\" <c>\nd");
  root.SetChildValue(u"lang", u"en_II");
  SimpleXMLElement* nested = root.AddChild(u"old");
  nested->AddChild(u"item7")->SetValue(int64_t{1700000000});
  nested->AddChild(u"old")->SetValue(u"nested same name");
  root.SetChildValue(u"text", u"Grüße\n<b>&apos;x'</b>");
  root.AddChild(u"empty");
  const std::string written = root.ToXml();
  EXPECT_EQ(written,
            std::string(kDeclaration) +
                "<client v = \"1 &amp; 2\"  note = \"a &quot;b&quot; &lt;c&gt;#_#lbr#_#d\" >\n"
                "\t<lang>en_II</lang>\n"
                "\t<old>\n"
                "\t\t<item7>1700000000</item7>\n"
                "\t\t<old>nested same name</old>\n"
                "\t</old>\n"
                "\t<text>Grüße#_#lbr#_#&lt;b&gt;&amp;apos;x&apos;&lt;/b&gt;</text>\n"
                "\t<empty></empty>\n"
                "</client>\n");
  EXPECT_EQ(root.FindChild(u"empty")->ToXml("  "), "  <empty></empty>\n");

  SimpleXMLElement read(written);
  EXPECT_EQ(read.ToXml(), written);
  EXPECT_EQ(read.GetAttribute(u"note"), u"a \"b\" <c>\nd");
  EXPECT_EQ(read.GetChildValue(u"text"), u"Grüße\n<b>&apos;x'</b>");
  EXPECT_EQ(read.Clone()->ToXml(), written);
}

TEST(SimpleXmlElementTest, ValuesSetTheNumericViews) {
  // The text and its int, int64 and double views.
  const std::tuple<const char*, int, int64_t, double> kCases[] = {
      {"3,5", 3, 3, 3.5},
      {"  -42abc", -42, -42, -42},
      {"99999999999", 2147483647, 99999999999LL, 99999999999.0},
      {"-99999999999", -2147483647 - 1, -99999999999LL, -99999999999.0},
      {"1,2,3", 1, 1, 1.2},
      {"abc", 0, 0, 0},
  };
  for (const auto& [text, int_view, int64_view, double_view] : kCases) {
    SCOPED_TRACE(text);
    SimpleXMLElement element;
    element.SetValue(Wide(text));
    EXPECT_EQ(std::pair(element.GetIntValue(), element.GetInt64Value()),
              std::pair(int_view, int64_view));
    EXPECT_DOUBLE_EQ(element.GetDoubleValue(), double_view);
    // The reader fills the same views from the text it finds.
    SimpleXMLElement parsed("<v>" + ToXmlStoredForm(Wide(text)) + "</v>");
    EXPECT_EQ(parsed.GetInt64Value(), int64_view);
  }
  SimpleXMLElement big;
  big.SetValue(INT64_MIN);
  EXPECT_EQ(Utf8(big.GetValue()), "-9223372036854775808");
  EXPECT_EQ(big.GetInt64Value(), INT64_MIN);
}

TEST(SimpleXmlElementTest, FindChildIgnoresCaseAndItsMemoryFollowsRemovals) {
  SimpleXMLElement root;
  root.AddChild(u"first")->SetValue(u"1");
  root.AddChild(u"id")->SetValue(u"2");
  root.AddChild(u"last")->SetValue(u"3");
  ASSERT_NE(root.FindChild(u"ID"), nullptr);
  EXPECT_EQ(root.FindChild(u"ID")->GetValue(), u"2");
  EXPECT_EQ(root.FindChild(u"Id")->GetValue(), u"2") << "answered from the memory";
  EXPECT_EQ(root.FindChild(u"missing"), nullptr);

  ASSERT_TRUE(root.RemoveChild(u"first"));
  ASSERT_NE(root.FindChild(u"id"), nullptr);
  EXPECT_EQ(root.FindChild(u"id")->GetValue(), u"2") << "not the child that moved into its place";
  root.RemoveAllChildren();
  EXPECT_EQ(root.FindChild(u"id"), nullptr);
  EXPECT_FALSE(root.RemoveChild(u"id"));
  EXPECT_EQ(root.FindOrAddChild(u"id"), root.FindOrAddChild(u"ID"));
  EXPECT_EQ(root.GetChildCount(), 1);
}

// The service's answer forms: items of child elements, texts in CDATA,
// attributes, a declaration, line feeds and tabs between the tags.
constexpr char kServiceAnswer[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<newsfeeds count=\"2\">\n"
    "\t<item>\n"
    "\t\t<id>n17</id>\n"
    "\t\t<title><![CDATA[Tips & <tricks>]]></title>\n"
    "\t\t<enddate>2031-01-31</enddate>\n"
    "\t\t<url>https://example.test/a?b=1&amp;c=2</url>\n"
    "\t\t<colorfg>FF8000</colorfg>\n"
    "\t</item>\n"
    "\t<item>\n"
    "\t\t<id>n18</id>\n"
    "\t\t<text>Zeile 1#_#lbr#_#Zeile 2</text>\n"
    "\t\t<dontpopup>1</dontpopup>\n"
    "\t</item>\n"
    "</newsfeeds>\n";

TEST(SimpleXmlReaderTest, ReadsTheServiceAnswerForms) {
  SimpleXMLElement answer(kServiceAnswer);
  EXPECT_EQ(answer.GetName(), u"newsfeeds");
  EXPECT_EQ(answer.GetAttribute(u"count"), u"2");
  ASSERT_EQ(answer.GetChildCount(), 2);
  SimpleXMLElement* first = answer.GetChild(0);
  EXPECT_EQ(first->GetChildCount(), 5);
  EXPECT_EQ(first->GetChildValue(u"id"), u"n17");
  EXPECT_EQ(first->GetChildValue(u"title"), u"Tips & <tricks>");
  EXPECT_EQ(first->GetChildValue(u"url"), u"https://example.test/a?b=1&c=2");
  EXPECT_EQ(answer.GetChild(1)->GetChildValue(u"text"), u"Zeile 1\nZeile 2");
  EXPECT_EQ(answer.GetChild(1)->FindChild(u"dontpopup")->GetIntValue(), 1);

  // The same answer on one line reads the same.
  std::string one_line = kServiceAnswer;
  std::erase_if(one_line, [](char c) { return c == '\n' || c == '\t'; });
  EXPECT_EQ(SimpleXMLElement(one_line).ToXml(), answer.ToXml());
}

TEST(SimpleXmlReaderTest, TextOutsideTheRules) {
  // The text and ToXml("\t") of what is read.
  const std::pair<const char*, const char*> kCases[] = {
      {"", "\t<SimpleXMLElement></SimpleXMLElement>\n"},
      {"<a>open only", "\t<SimpleXMLElement></SimpleXMLElement>\n"},
      {"<a>x</a>", "\t<a>x</a>\n"},
      {"<a ></a >", "\t<a></a>\n"},
      {"<a><![CDATA[1 < 2]]></a>", "\t<a>1 &lt; 2</a>\n"},
      {"<a><![CDATA[unclosed</a>", "\t<a></a>\n"},
      // A child without its closing tag ends the children read so far.
      {"<a><b>1</b><c>2</a>", "\t<a>\n\t\t<b>1</b>\n\t</a>\n"},
      {"<a><b><b>1</b></a>", "\t<a></a>\n"},
      {"<a>text<b>1</b>more</a>", "\t<a>\n\t\t<b>1</b>\n\t</a>\n"},
      {"<a><b>1</b><bb>2</bb></a>", "\t<a>\n\t\t<b>1</b>\n\t\t<bb>2</bb>\n\t</a>\n"},
      {"<a><b x=\"1\" y = \"2\" z=3>v</b></a>",
       "\t<a>\n\t\t<b x = \"1\"  y = \"2\" >v</b>\n\t</a>\n"},
      {"<a></a><b>second top element</b>", "\t<b>second top element</b>\n"},
      {"<a><!-- comment --><b>1</b></a>", "\t<a></a>\n"},
      {"<a>\r\n</a>", "\t<a>\r</a>\n"},
  };
  for (const auto& [text, expected] : kCases)
    EXPECT_EQ(SimpleXMLElement(text).ToXml("\t"), expected) << text;
}

// Parses |text| in a child whose address space is capped, so that a reader
// that copies per level or per element fails instead of passing slowly (on
// Windows, which has no fork, in this process with the time bound alone).
void ExpectBoundedParse(const std::string& text,
                        const std::function<bool(SimpleXMLElement&)>& check) {
  const auto start = Clock::now();
#if defined(_WIN32)
  SimpleXMLElement element(text);
  EXPECT_TRUE(check(element));
#else
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
#if !defined(WARDEX_UNDER_SANITIZER)
    const rlimit limit{3ull << 30, 3ull << 30};
    setrlimit(RLIMIT_AS, &limit);
#endif
    SimpleXMLElement element(text);
    _exit(check(element) ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "the parse crashed";
  EXPECT_EQ(WEXITSTATUS(status), 0);
#endif
  EXPECT_LT(std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count(),
            test::Scaled(60, 300));
}

TEST(SimpleXmlReaderTest, HostileAnswersStayBounded) {
  const int kNesting = test::Scaled(100000, 20000);
  std::string nested;
  for (int i = 0; i < kNesting; ++i) nested += "<e>";
  nested += "core";
  for (int i = 0; i < kNesting; ++i) nested += "</e>";
  ExpectBoundedParse(nested, [](SimpleXMLElement& root) {
    // Levels below the depth limit keep their markup as text.
    SimpleXMLElement* element = &root;
    for (int depth = 0; depth < kSimpleXmlMaxDepth; ++depth) {
      if (element->GetChildCount() != 1) return false;
      element = element->GetChild(0);
    }
    return element->GetChildCount() == 0 && element->GetValue().StartsWith(u"<e><e>");
  });

  std::string unbalanced;
  for (int i = 0; i < kNesting; ++i) unbalanced += "<e><f>";
  unbalanced += "</e>";
  ExpectBoundedParse(unbalanced, [](SimpleXMLElement& root) { return root.GetName() == u"e"; });

  const int text_bytes = test::Scaled(50 << 20, 5 << 20);
  const std::string big_text = "<a>" + std::string(text_bytes, 'x') + "</a>";
  ExpectBoundedParse(big_text, [text_bytes](SimpleXMLElement& root) {
    return root.GetValue().GetLength() == text_bytes;
  });

  std::string siblings = "<a>";
  for (int i = 0; i < 2 * kSimpleXmlMaxElements; ++i) siblings += "<b>1</b>";
  siblings += "</a>";
  ExpectBoundedParse(siblings, [](SimpleXMLElement& root) {
    return root.GetChildCount() == kSimpleXmlMaxElements - 1;
  });
}

TEST(SimpleXmlFileTest, SavesReplacesAndLoads) {
  test::ScopedTestRoot root;
  const KaString path = Wide(root.path() + "/data.xml");
  SimpleXMLElement document;
  document.SetName(u"quennewsfeed");
  // Written, then replaced.
  for (const char16_t* child : {u"active", u"old"}) {
    document.SetChildValue(child, u"1");
    ASSERT_TRUE(document.SaveToFile(path));
    EXPECT_EQ(test::ReadFile(root.path() + "/data.xml"), document.ToXml());
  }

  SimpleXMLElement loaded;
  loaded.SetChildValue(u"stale", u"x");
  ASSERT_TRUE(loaded.LoadFromFile(path));
  EXPECT_EQ(loaded.ToXml(), document.ToXml()) << "the earlier content is replaced";

  EXPECT_FALSE(loaded.LoadFromFile(Wide(root.path() + "/missing.xml")));
  EXPECT_EQ(loaded.ToXml(), document.ToXml()) << "a file that cannot be read changes nothing";
  ASSERT_TRUE(test::WriteFile(root.path() + "/empty.xml", ""));
  EXPECT_FALSE(loaded.LoadFromFile(Wide(root.path() + "/empty.xml")));
  EXPECT_FALSE(loaded.HasContent());
}

#if !defined(_WIN32)  // no second account on the Windows test machine
TEST(SimpleXmlFileTest, AnUnwritableFolderKeepsTheOldFile) {
  if (!test::RunningAsRoot()) GTEST_SKIP() << "needs root to drop to another user";
  test::ScopedTestRoot root;
  const std::string folder = root.path() + "/locked";
  ASSERT_TRUE(test::WriteFile(folder + "/data.xml", "<old>1</old>"));
  chmod(folder.c_str(), 0755);
  chmod((folder + "/data.xml").c_str(), 0666);
  const int status = test::RunAsUnprivileged([&] {
    SimpleXMLElement document;
    document.SetValue(u"new");
    if (document.SaveToFile(Wide(folder + "/data.xml"))) return 1;
    return document.LoadFromFile(Wide(folder + "/data.xml")) ? 0 : 2;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(test::ReadFile(folder + "/data.xml"), "<old>1</old>");
}
#endif

TEST(SimpleXmlElementTest, OneElementIsSharedByThreads) {
  SimpleXMLElement root;
  const int kPerThread = test::Scaled(400, 100);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&root, t, kPerThread] {
      for (int i = 0; i < kPerThread; ++i) {
        KaString name;
        name.Format(u"t%di%d", t, i);
        root.SetChildValue(name, u"1");
        EXPECT_NE(root.FindChild(name), nullptr) << "lost a child";
        EXPECT_NE(root.ToXml().find("<t" + std::to_string(t) + "i" + std::to_string(i) + ">1<"),
                  std::string::npos)
            << "the text lacks a child";
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(root.GetChildCount(), 4 * kPerThread);
}

}  // namespace
}  // namespace wardex
