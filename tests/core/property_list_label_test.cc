#include "property_list_label.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "property_list.h"

namespace morvane {
namespace {

const std::string kHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";

std::string document(const std::string& body) {
  return kHead + "<dict>\n" + body + "</dict>\n</plist>\n";
}

/// A real agent's file, with a value of every kind.
const std::string kAgent = document(
    "\t<key>Label</key>\n\t<string>com.example.backup</string>\n"
    "\t<key>ProgramArguments</key>\n\t<array>\n\t\t<string>/usr/bin/rsync</string>\n"
    "\t\t<string>-a</string>\n\t</array>\n"
    "\t<key>StartCalendarInterval</key>\n\t<dict>\n\t\t<key>Hour</key>\n"
    "\t\t<integer>3</integer>\n\t\t<key>Label</key>\n\t\t<string>inner</string>\n\t</dict>\n"
    "\t<key>Nice</key>\n\t<real>-1.5</real>\n\t<key>RunAtLoad</key>\n\t<true/>\n"
    "\t<key>KeepAlive</key>\n\t<false/>\n\t<key>Since</key>\n\t<date>2024-02-29T12:00:00Z</date>\n"
    "\t<key>Blob</key>\n\t<data>\n\tAAEC\n\tAw==\n\t</data>\n"
    "\t<key>Empty</key>\n\t<dict/>\n\t<key>None</key>\n\t<array/>\n\t<key>Blank</key>\n\t<string/"
    ">\n");

/// The label the full parser gives, as a scan takes it: non-empty text, else nothing.
std::optional<std::string> parserLabel(std::string_view bytes) {
  PlistPtr root = parsePropertyList(bytes);
  if (auto text = dictionaryString(root.get(), "Label"); text && !text->empty())
    return text;
  return std::nullopt;
}

/// Whether the quick reader answered; when it did, its answer must be the parser's.
bool answeredAsTheParser(const std::string& bytes) {
  std::optional<std::string_view> quick = plainPropertyListLabel(bytes);
  if (!quick)
    return false;
  EXPECT_EQ(std::optional<std::string>(std::string(*quick)), parserLabel(bytes)) << bytes;
  return true;
}

TEST(PlainPropertyListLabel, ReadsOrdinaryAgentsAsTheParserDoes) {
  const std::vector<std::string> ordinary = {
      kAgent,
      document("<key>Label</key><string>a</string>"),
      "<plist><dict><key>Label</key><string>x.y</string></dict></plist>",
      "\n  " + kHead + "<dict><key>Label</key>\n<string>A-b_c.1</string></dict></plist>\n\n",
      toXmlPropertyList(parsePropertyList(kAgent).get()),
  };
  for (const std::string& bytes : ordinary)
    EXPECT_TRUE(answeredAsTheParser(bytes)) << bytes;
  EXPECT_EQ(plainPropertyListLabel(kAgent), "com.example.backup");
}

TEST(PlainPropertyListLabel, LeavesEverythingUnusualToTheParser) {
  const std::string label = "<key>Label</key><string>com.example.x</string>";
  const std::vector<std::string> unusual = {
      "",
      "bplist00",
      document(""),
      document("<key>Label</key><string></string>"),
      document("<key>Label</key><string/>"),
      document("<key>Label</key><integer>1</integer>"),
      document("<key>Label</key><string>with space</string>"),
      document("<key>Label</key><string>caf\xc3\xa9</string>"),
      document("<key>Label</key><string>a&amp;b</string>"),
      document("<key>Label</key><string><![CDATA[x]]></string>"),
      document("<!-- note -->" + label),
      document(label + label),
      document("<key> Label</key><string>spaced.key</string>" + label),
      document(label + "<key>Orphan</key>"),
      document(label + "<string>no key</string>"),
      document(label + "<key>Bad</key><integer>0x10</integer>"),
      document(label + "<key>Bad</key><integer>123456789012345678901</integer>"),
      document(label + "<key>Bad</key><real>1e5</real>"),
      document(label + "<key>Bad</key><date>2024-2-29T12:00:00Z</date>"),
      document(label + "<key>Bad</key><data>AAE</data>"),
      document(label + "<key>Bad</key><data>A=AA</data>"),
      document(label + "<key>Bad</key><true></true>"),
      document(label + "<key>Bad</key><uid>1</uid>"),
      document(label + "<key>Bad</key><DICT/>"),
      document(label + "<key>Bad</key><dict >\n</dict>"),
      document(label + "<key>Bad</key><string>a\x01</string>"),
      document(label + "<key>Nul</key><string>a" + std::string(1, '\0') + "b</string>"),
      kHead + "<array><string>x</string></array></plist>",
      kHead + "<dict>" + label + "</dict></plist>junk",
      kHead + "<dict>" + label + "</dict></plist><plist><dict/></plist>",
      kHead + "<dict>" + label + "</dict>",
      kHead + "<dict>" + label,
      kHead + "<dict>" + label + "</array></plist>",
      "\xef\xbb\xbf" + document(label),
      "<!DOCTYPE plist [<!ENTITY x \"y\">]><plist><dict>" + label + "</dict></plist>",
      "<plist version=\"1/0\"><dict>" + label + "</dict></plist>",
      "<plist/>",
  };
  for (const std::string& bytes : unusual)
    EXPECT_FALSE(plainPropertyListLabel(bytes)) << bytes;
}

TEST(PlainPropertyListLabel, AgreesWithTheParserOnDamagedAgents) {
  // Every kind of damage the reader might misjudge: cut, repeated, inserted and flipped bytes.
  const std::vector<std::string> tokens = {"<",
                                           ">",
                                           "/",
                                           "&",
                                           "&lt;",
                                           "<!--",
                                           "-->",
                                           "]]>",
                                           " ",
                                           "\n",
                                           "</dict>",
                                           "<dict>",
                                           "<key>Label</key>",
                                           "</plist>",
                                           "<string>",
                                           "</string>",
                                           "=",
                                           std::string(1, '\0')};
  std::mt19937 random(20261208);
  int answered = 0, tried = 0;
  for (const std::string& seed : {kAgent, document("<key>Label</key><string>a.b</string>")}) {
    for (int round = 0; round < 6000; ++round) {
      std::string bytes = seed;
      for (int edits = 1 + static_cast<int>(random() % 3); edits > 0; --edits) {
        const size_t at = random() % (bytes.size() + 1);
        const size_t length = std::min<size_t>(random() % 12, bytes.size() - at);
        switch (random() % 4) {
          case 0:
            bytes.erase(at, length);
            break;
          case 1:
            bytes.insert(at, bytes.substr(at, length));
            break;
          case 2:
            bytes.insert(at, tokens[random() % tokens.size()]);
            break;
          default:
            if (at < bytes.size())
              bytes[at] = static_cast<char>(random() % 256);
        }
      }
      ++tried;
      answered += answeredAsTheParser(bytes);
    }
  }
  // Many damaged files still read plainly; the rest went to the parser.
  EXPECT_GT(answered, tried / 20);
  EXPECT_LT(answered, tried);
}

}  // namespace
}  // namespace morvane
