#include "core/wire/FieldsList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <random>
#include <string>
#include <vector>

#include "core/diag/Trace.h"
#include "core/util/Conversions.h"
#include "core/util/Exceptions.h"
#include "core/wire/VornMessage.h"
#include "support/HostText.h"
#include "support/TempDir.h"

namespace vorn {
namespace {

// "name:v1,v2;..." in list order, so a whole parse compares as one text.
std::string Describe(const TFieldsList& list) {
  std::string out;
  for (int p = 0; p < list.Count(); ++p) {
    out += list.NameAt(p);
    out += ':';
    const TFieldValueObject* object = list.ObjectAt(p);
    for (int i = 0; i < object->Count(); ++i) {
      if (i > 0) out += ',';
      out += object->Value(i);
    }
    out += ';';
  }
  return out;
}

std::string Parsed(std::string_view body) {
  TFieldsList list;
  list.SetFields(body);
  return Describe(list);
}

TEST(FieldsListTest, ParsesItemsAndRepeatingGroups) {
  struct Case {
    const char* body;
    const char* fields;
  };
  const Case cases[] = {
      {"Msg=3601|OID=12|", "Msg:3601;OID:12;"},
      {"Msg=3601|OID=12", "Msg:3601;"},  // the last item needs its 0x01 too
      {"<SG=5|X=1|EG>=5|<SG=5|X=2|EG>=5|", "X:1,2;"},
      // first met in the third occurrence: two empty values before it
      {"<SG=1|A=a|EG>=1|<SG=1|EG>=1|<SG=1|A=c|B=b|EG>=1|", "A:a,,c;B:,,b;"},
      // plain fields after a group read at index 0, whatever the occurrence count
      {"<SG=2|X=1|EG>=2|<SG=2|X=2|EG>=2|<SG=2|X=3|EG>=2|P=p|", "X:1,2,3;P:p;"},
      // a new group number starts counting again
      {"<SG=1|X=1|EG>=1|<SG=2|Y=1|EG>=2|<SG=2|Y=2|EG>=2|", "X:1;Y:1,2;"},
      {"A= 1 |B=|C= \t|", "A:1;"},   // trimmed; empty values are absent
      {"A=b=c|", "A:b=c;"},          // only the first '=' splits
      {"OID=1|oid=2|", "OID:1,2;"},  // names compare case-insensitively
      {"", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Parsed(Wire(c.body)), c.fields) << c.body;
}

TEST(FieldsListTest, HostileBodiesParseWhatIsWellFormed) {
  struct Case {
    std::string body;
    std::string fields;
  };
  const Case cases[] = {
      {"junk|A=1|", "A:1;"},               // item without '='
      {"=v|A=1|", ":v;A:1;"},              // empty name is just a name
      {"||A=1|||", "A:1;"},                // stray separators
      {"<SG=1|X=1|<SG=1|X=2|", "X:1,2;"},  // groups never closed
      {"EG>=4|A=1|", "A:1;"},              // close without open
      {"<SG=abc|X=1|EG>=abc|", "X:1;"},    // group number not a number
      {std::string("A=x\0y|", 6), std::string("A:x\0y;", 6)},
      {"=|=|", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Parsed(Wire(c.body)), c.fields) << c.body;

  // Random bodies built from the format's own tokens; run under the sanitizers.
  const std::string tokens[] = {"<SG=", "EG>=", "=", "\x01", "A", "b", "1", "7", " "};
  std::mt19937 random(12345);
  TFieldsList list;
  for (int round = 0; round < 2000; ++round) {
    std::string body;
    const int length = static_cast<int>(random() % 60);
    for (int i = 0; i < length; ++i)
      body += tokens[random() % std::size(tokens)];
    list.SetFields(body);
    for (int p = 0; p < list.Count(); ++p) {
      EXPECT_GE(list.GetValueCountAt(p), 1);
      EXPECT_LE(list.GetValueCountAt(p), length);
    }
  }
}

// The parse as a plain byte loop over owned strings: the rules the list keeps, written the
// simple way (first '=' splits, items without '=' or without their 0x01 are dropped, trimmed
// empty values are absent, names compare case-insensitively, group occurrences place values).
struct TRefField {
  std::string Name;
  std::vector<std::string> Values;  // by occurrence; "" for a gap
};

std::vector<TRefField> ReferenceParse(std::string_view body) {
  std::vector<TRefField> fields;
  const auto same = [](std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
      if (std::toupper(static_cast<unsigned char>(a[i])) !=
          std::toupper(static_cast<unsigned char>(b[i])))
        return false;
    return true;
  };
  const auto add = [&](std::string_view name, std::string value, int index) {
    while (!value.empty() && static_cast<unsigned char>(value.front()) <= ' ')
      value.erase(0, 1);
    while (!value.empty() && static_cast<unsigned char>(value.back()) <= ' ')
      value.pop_back();
    if (value.empty()) return;
    for (TRefField& field : fields) {
      if (!same(field.Name, name)) continue;
      const std::size_t at = std::max(field.Values.size(), static_cast<std::size_t>(std::max(index - 1, 0)));
      field.Values.resize(at + 1);
      field.Values[at] = value;
      return;
    }
    TRefField field{std::string(name), {}};
    field.Values.resize(static_cast<std::size_t>(std::max(0, index - 1)) + 1);
    field.Values.back() = value;
    fields.push_back(std::move(field));
  };
  int occurrence = 0;
  int group = 0;
  bool inGroup = false;
  std::string item;
  for (const char c : body) {
    if (c != kFieldSeparator) {
      item += c;
      continue;
    }
    const std::size_t equals = item.find('=');
    if (equals != std::string::npos) {
      const std::string name = item.substr(0, equals);
      const std::string value = item.substr(equals + 1);
      if (name == "<SG") {
        const int number = SafeStrToInt(value, 0);
        occurrence = number == group ? occurrence + 1 : 1;
        group = number;
        inGroup = true;
      } else if (name == "EG>") {
        inGroup = false;
      } else {
        add(name, value, inGroup ? occurrence : 0);
      }
    }
    item.clear();
  }
  return fields;
}

// Every name and value in order, and the look-ups the receivers make, as one text.
std::string DescribeRef(const std::vector<TRefField>& fields) {
  std::string out;
  for (const TRefField& field : fields) {
    out += field.Name + ":";
    for (std::size_t i = 0; i < field.Values.size(); ++i)
      out += (i > 0 ? "," : "") + field.Values[i];
    out += ';';
  }
  return out;
}

// Bodies built from pieces that exercise each rule, plus raw bytes.
std::string RandomBody(std::mt19937& random) {
  static const std::string names[] = {"Msg", "msg", "OID", "Px", "A", "a", "", "X1", "<SG",
                                      "EG>", "<sg", "B C", std::string("N\0m", 3)};
  static const std::string values[] = {"", " ", "1", " 2 ", "b=c", "=", "\t", "3601", "abc",
                                       "2", std::string("x\0y", 3), "-5", "1.25"};
  const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  std::string body;
  const std::size_t items = pick(30);
  for (std::size_t i = 0; i < items; ++i) {
    switch (pick(10)) {
      case 0:
        break;  // empty item
      case 1:
        body += names[pick(std::size(names))];  // no '='
        break;
      case 2:
        body += std::string(1 + pick(3000), static_cast<char>('a' + pick(26)));  // long value
        body.insert(body.size() - 1, "=");
        break;
      case 3:
        for (std::size_t b = pick(12); b > 0; --b)
          body += static_cast<char>(random());  // raw bytes, 0x01 and NUL included
        break;
      default:
        body += names[pick(std::size(names))] + "=" + values[pick(std::size(values))];
    }
    body += kFieldSeparator;
  }
  if (pick(4) == 0) body += "T=tail";  // bytes after the last 0x01
  return body;
}

void ExpectSameAsReference(const TFieldsList& list, const std::vector<TRefField>& expected,
                           std::string_view body) {
  ASSERT_EQ(Describe(list), DescribeRef(expected)) << testing::PrintToString(std::string(body));
  for (const TRefField& field : expected) {
    ASSERT_EQ(list.GetFieldCount(field.Name), static_cast<int>(field.Values.size()));
    for (std::size_t i = 0; i < field.Values.size(); ++i) {
      ASSERT_EQ(list.GetFieldValue(field.Name, static_cast<int>(i)), field.Values[i]);
      ASSERT_EQ(list.FieldView(field.Name, static_cast<int>(i)), field.Values[i]);
    }
    ASSERT_EQ(list.IntValue(field.Name), SafeStrToInt(field.Values[0], 0));
  }
}

TEST(FieldsListTest, ParsesAsTheReferenceDoesOnRandomBodies) {
  std::mt19937 random(20);
  TFieldsList reused;  // one list for every body, as a link has
  for (int round = 0; round < 3000; ++round) {
    const std::string body = RandomBody(random);
    const std::vector<TRefField> expected = ReferenceParse(body);
    reused.SetFields(body);
    ExpectSameAsReference(reused, expected, body);

    // A kept list outlives its bytes; copies and moves read the same.
    std::string frame = body;
    TFieldsList kept;
    kept.SetFields(std::string_view(frame));
    kept.KeepText();
    std::fill(frame.begin(), frame.end(), '#');
    frame = std::string();
    const TFieldsList copy = kept;
    const TFieldsList moved = std::move(kept);
    ExpectSameAsReference(moved, expected, body);
    ExpectSameAsReference(copy, expected, body);
  }
}

TEST(FieldsListTest, AddedValuesAreOwnedAndSurviveKeepText) {
  std::string frame = Wire("Msg=3658|Ex=X|");
  TFieldsList list;
  list.SetFields(std::string_view(frame));
  std::string extra = "added";
  list.AddFieldValue(std::string("Mar"), extra, 0, -1, false);
  list.AddFieldValue("Ex", std::string("Y"), 0, -1, true);
  extra.assign(extra.size(), '#');
  list.KeepText();
  frame.assign(frame.size(), '#');
  EXPECT_EQ(Describe(list), "Msg:3658;Ex:Y;Mar:added;");
}

TEST(FieldsListTest, ManyOccurrencesStayReadable) {
  // Thousands of occurrences in a maximal body, each field met only in the last one.
  std::string body = Wire("Msg=3701|");
  int occurrences = 0;
  while (body.size() < 30000) {
    body += Wire("<SG=1|EG>=1|");
    ++occurrences;
  }
  body += Wire("<SG=1|");
  ++occurrences;
  for (int f = 0; f < 100; ++f)
    body += Wire("F" + std::to_string(f) + "=v|");
  ASSERT_LE(body.size(), kMaxBodyLength);
  TFieldsList list;
  list.SetFields(body);
  ASSERT_EQ(list.Count(), 101);
  EXPECT_EQ(list.GetFieldCount("F99"), occurrences);
  EXPECT_EQ(list.ObjectAt(100)->Value(occurrences - 1), "v");
  EXPECT_EQ(list.ObjectAt(100)->Value(occurrences - 2), "");
}

TEST(FieldsListTest, GetFieldValueIsBoundedAndNeverThrows) {
  TFieldsList list;
  list.AddFieldValue("X", "last", 256, -1, false);  // occurrences 1 to 256
  list.AddFieldValue("Y", "first", 1, -1, false);
  EXPECT_EQ(list.GetFieldValue("X", 255), "last");
  EXPECT_EQ(list.GetFieldValue("X", 256), "");
  EXPECT_EQ(list.GetFieldValue("X", 0), "");
  EXPECT_EQ(list.GetFieldValue("Y", -1), "");
  EXPECT_EQ(list.GetFieldValue("Z", 0), "");
  EXPECT_EQ(list.GetFieldCount("X"), 256);
  EXPECT_EQ(list.GetFieldCount("Z"), 0);
  EXPECT_EQ(list.GetValueCountAt(1), 1);
  EXPECT_EQ(list.GetValueCountAt(2), 0);
  EXPECT_EQ(list.GetValueCountAt(-1), 0);

  // A received name is trimmed and never wider than its width.
  list.AddFieldValue("N", "  ABCD EFGH  ", 1, -1, false);
  EXPECT_EQ(list.BoundedValue("N", 5), "ABCD");  // the cut's trailing blank goes too
  EXPECT_EQ(list.BoundedValue("N", 20), "ABCD EFGH");
  EXPECT_EQ(list.BoundedValue("Z", 5), "");
}

TEST(FieldsListTest, AddFieldValuePlacesReplacesAndGroups) {
  TFieldsList list;
  list.AddFieldValue("A", "a1", 1, 2, false);
  list.AddFieldValue("A", "a3", 3, 2, false);  // occurrence 2 left empty
  list.AddFieldValue("A", "a4", 2, 2, false);  // behind the last value: appended
  list.AddFieldValue("B", "b3", 3, 2, false);
  list.AddFieldValue("B", "B1", -1, 7, true);  // replace fills the first occurrence
  list.AddFieldValue("C", "c", -1, -1, false);
  list.AddFieldValue("C", "C", -1, -1, true);
  list.AddFieldValue("D", " \x01 ", 1, 2, false);  // trims to nothing: not added
  EXPECT_EQ(Describe(list), "A:a1,,a3,a4;B:B1,,b3;C:C;");
  EXPECT_EQ(list.ObjectAt(0)->Group, 2);
  EXPECT_EQ(list.ObjectAt(1)->Group, 7);
  EXPECT_EQ(list.ObjectAt(2)->Group, -1);
}

TEST(FieldsListTest, SetFieldsFromBufferReadsOnlyTheGivenLength) {
  const std::string body = Wire("A=1|B=2|");
  TFieldsList list;
  list.SetFieldsFromBuffer(body, 0);
  EXPECT_EQ(Describe(list), "A:1;B:2;");
  list.SetFieldsFromBuffer(body, body.size() - 1);  // B's separator cut off
  EXPECT_EQ(Describe(list), "A:1;");
}

TEST(FieldsListTest, SplitDateTime) {
  std::string date, time;
  SplitDateTime("20240305140709", date, time);
  EXPECT_EQ(date, "20240305");
  EXPECT_EQ(time, "140709");
  SplitDateTime("2024", date, time);
  EXPECT_EQ(date, "2024");
  EXPECT_EQ(time, "");
}

// ---------------------------------------------------------------------------------------------
// Writing

TEST(FieldsSendListTest, FieldAndGroupTexts) {
  TFieldsSendList list;
  list.AddFieldValue("Msg", "3301", -1, -1, false);
  list.AddFieldValue("A", "a1", 1, 2, false);
  list.AddFieldValue("B", "b1", 1, 2, false);
  list.AddFieldValue("A", "a2", 2, 2, false);
  EXPECT_EQ(list.GetFieldText(0), Wire("Msg=3301|"));
  EXPECT_EQ(list.GetFieldText(3), "");
  EXPECT_EQ(list.GetGroupText(1), Wire("<SG=2|A=a1|B=b1|EG>=2|<SG=2|A=a2|EG>=2|"));
  EXPECT_EQ(list.GetGroupText(5), "");
}

TEST(FieldsSendListTest, RequestTextRules) {
  struct Add {
    std::string name;
    std::string value;
    int index, group;
  };
  struct Case {
    const char* what;
    std::vector<Add> adds;
    const char* text;
  };
  const std::string sep(1, kFieldSeparator);
  const Case cases[] = {
      {"plain fields in order", {{"Msg", "3362", -1, -1}, {"Usr", "u", -1, -1}}, "Msg=3362|Usr=u|"},
      {"plain field after a group carrying its number is written in each occurrence",
       {{"A", "a1", 1, 1}, {"A", "a2", 2, 1}, {"P", "p", -1, 1}},
       "<SG=1|A=a1|P=p|EG>=1|<SG=1|A=a2|EG>=1|"},
      {"plain field after a group without its number is not written",
       {{"A", "a1", 1, 1}, {"A", "a2", 2, 1}, {"P", "p", -1, -1}},
       "<SG=1|A=a1|EG>=1|<SG=1|A=a2|EG>=1|"},
      {"a gap is not sent as an empty value",
       {{"A", "a1", 1, 0}, {"A", "a2", 2, 0}, {"B", "b2", 2, 0}},
       "<SG=0|A=a1|EG>=0|<SG=0|A=a2|B=b2|EG>=0|"},
      {"a short first field drops no occurrence",
       {{"A", "a1", 1, 2},
        {"B", "b1", 1, 2},
        {"A", "a2", 2, 2},
        {"B", "b2", 2, 2},
        {"B", "b3", 3, 2}},
       "<SG=2|A=a1|B=b1|EG>=2|<SG=2|A=a2|B=b2|EG>=2|<SG=2|B=b3|EG>=2|"},
      {"0x01 inside application text never starts an item",
       {{"Txt", "a" + sep + "b=c" + sep + "d", -1, -1},
        {"G", "x" + sep + "y", 1, 1},
        {"G", "z", 2, 1}},
       "Txt=ab=cd|<SG=1|G=xy|EG>=1|<SG=1|G=z|EG>=1|"},
  };
  for (const Case& c : cases) {
    TFieldsSendList list;
    for (const Add& a : c.adds)
      list.AddFieldValue(a.name, a.value, a.index, a.group, false);
    std::string text;
    list.AppendRequestText(text);
    EXPECT_EQ(text, Wire(c.text)) << c.what;
  }
}

TEST(FieldsSendListTest, WrittenGroupsParseBackToTheSameFields) {
  TFieldsSendList sent;
  sent.AddFieldValue("Msg", "3363", -1, -1, false);
  sent.AddFieldValue("Trd", "T1", -1, -1, false);
  for (int leg = 1; leg <= 3; ++leg) {
    sent.AddFieldValue("Px", std::to_string(100 + leg), leg, 1, false);
    if (leg != 2) sent.AddFieldValue("Qty", std::to_string(leg), leg, 1, false);
  }
  std::string text;
  sent.AppendRequestText(text);
  TFieldsList received;
  received.SetFields(text);
  EXPECT_EQ(Describe(received), "Msg:3363;Trd:T1;Px:101,102,103;Qty:1,,3;");
}

// ---------------------------------------------------------------------------------------------
// Receive dump

class FakeDownloadHost : public IMessageHost {
 public:
  void SendOnLink(TVornMessage&, bool) override {}
  bool DownloadInProgress() const override { return downloading; }
  bool downloading = false;
};

class FieldsListDumpTest : public ::testing::Test {
 protected:
  FieldsListDumpTest() {
    ResetTraceState();
    InitTraceRing(10);
    OpenTraceFile();
    SetMessageHost(&host_);
  }
  ~FieldsListDumpTest() override {
    SetMessageHost(nullptr);
    ResetTraceState();
  }
  bool Dumped(std::string_view needle) {
    return ReadFileText(TraceFileName()).find(needle) != std::string::npos;
  }

  TTempDir dir_;
  FakeDownloadHost host_;
};

TEST_F(FieldsListDumpTest, DumpsBodiesMaskedExceptContractDatesDuringDownload) {
  TFieldsList list;
  list.SetFields(Wire("Msg=3625|Usr=bob|X=1|"));
  EXPECT_TRUE(Dumped("TFieldsList.SetFields: Msg=3625??X=1?"));
  host_.downloading = true;
  list.SetFields(Wire("Msg=3658|CD=A|"));
  list.SetFields(Wire("Msg=3655|CD=B|"));
  EXPECT_FALSE(Dumped("CD=A"));
  EXPECT_TRUE(Dumped("CD=B"));
  EXPECT_EQ(list.GetFieldValue("CD", 0), "B");
  host_.downloading = false;
  list.SetFields(Wire("Msg=3658|CD=C|"));
  EXPECT_TRUE(Dumped("CD=C"));
}

}  // namespace
}  // namespace vorn
