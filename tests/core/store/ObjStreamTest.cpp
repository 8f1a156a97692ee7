#include "core/store/ObjStream.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <typeinfo>
#include <vector>

#include "core/util/DateTime.h"
#include "core/util/Exceptions.h"
#include "support/FakeClock.h"
#include "support/StoreSamples.h"

namespace vorn {
namespace {

std::string Hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if (!out.empty()) out += ' ';
    out += kDigits[c >> 4];
    out += kDigits[c & 0x0F];
  }
  return out;
}

std::string FromHex(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); i += 3)
    out += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
  return out;
}

std::string ExtendedHex(double value) {
  const TExtended raw = DoubleToExtended(value);
  return Hex(std::string(reinterpret_cast<const char*>(raw.data()), raw.size()));
}

// ---------------------------------------------------------------------------------------------
// Encodings

TEST(ObjStreamTest, CompactIntegerGoldenTable) {
  constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
  constexpr auto kMin = std::numeric_limits<std::int32_t>::min();
  const struct {
    std::int32_t value;
    const char* bytes;
  } cases[] = {
      {0, "00"},
      {63, "3F"},
      {64, "80 01"},
      {300, "AC 04"},
      {-1, "40"},
      {-64, "7F"},
      {-65, "C0 01"},
      {-300, "EB 04"},
      {8191, "BF 7F"},
      {8192, "80 80 01"},
      {kMax, "BF FF FF FF 0F"},
      {kMin, "FF FF FF FF 0F"},
      {kStoreVersionWord, "9D E9 D2 A5 0B"},
  };
  for (const auto& c : cases) {
    TStream out;
    out.WriteCompact(c.value);
    EXPECT_EQ(Hex(out.Bytes()), c.bytes) << c.value;
    TStream in(out.Bytes() + "\x01");
    EXPECT_EQ(in.ReadCompact(), c.value) << c.bytes;
    EXPECT_EQ(in.Position(), out.Size()) << c.bytes;
  }
}

TEST(ObjStreamTest, ExtendedFloatGoldenTable) {
  const struct {
    double value;
    const char* bytes;
  } cases[] = {
      {0.0, "00 00 00 00 00 00 00 00 00 00"},
      {-0.0, "00 00 00 00 00 00 00 00 00 80"},
      {1.0, "00 00 00 00 00 00 00 80 FF 3F"},
      {-2.5, "00 00 00 00 00 00 00 A0 00 C0"},
      {100.0, "00 00 00 00 00 00 00 C8 05 40"},
      {0.1, "00 D0 CC CC CC CC CC CC FB 3F"},
      {std::numeric_limits<double>::max(), "00 F8 FF FF FF FF FF FF FE 43"},
      {std::numeric_limits<double>::min(), "00 00 00 00 00 00 00 80 01 3C"},
      {std::numeric_limits<double>::denorm_min(), "00 00 00 00 00 00 00 80 CD 3B"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExtendedHex(c.value), c.bytes) << c.value;
    TStream out;
    out.WriteFloat(c.value);
    TStream in(out.Bytes());
    const double back = in.ReadFloat();
    EXPECT_EQ(std::bit_cast<std::uint64_t>(back), std::bit_cast<std::uint64_t>(c.value)) << c.value;
  }
  // Never written: a NaN or infinity is stored as 0.
  TStream out;
  out.WriteFloat(std::numeric_limits<double>::quiet_NaN());
  out.WriteFloat(-std::numeric_limits<double>::infinity());
  EXPECT_EQ(out.Bytes(), std::string(20, '\0'));
}

TEST(ObjStreamTest, ExtendedToDoubleRoundsToNearestAndRefusesWhatADoubleCannotHold) {
  const struct {
    const char* bytes;
    bool ok;
    double value;
  } cases[] = {
      // 1 + 2^-53, a tie: to even.
      {"00 04 00 00 00 00 00 80 FF 3F", true, 1.0},
      // 1 + 3 * 2^-53: up.
      {"00 0C 00 00 00 00 00 80 FF 3F", true, 1.0 + 4 * std::ldexp(1.0, -53)},
      // The largest extended below 2: rounds up to 2.
      {"FF FF FF FF FF FF FF FF FF 3F", true, 2.0},
      // A pseudo-denormal (exponent 0, integer bit set) is 2^-16382: far below a double.
      {"00 00 00 00 00 00 00 80 00 00", true, 0.0},
      // Half the smallest subnormal rounds to zero, a hair above it to the smallest.
      {"00 00 00 00 00 00 00 80 CC 3B", true, 0.0},
      {"01 00 00 00 00 00 00 80 CC 3B", true, std::numeric_limits<double>::denorm_min()},
      {"00 00 00 00 00 00 00 80 FF 43", false, 0},  // 2^1024
      {"00 00 00 00 00 00 00 80 FF 7F", false, 0},  // infinity
      {"00 00 00 00 00 00 00 C0 FF FF", false, 0},  // NaN
      {"00 00 00 00 00 00 00 40 FF 3F", false, 0},  // unnormal
  };
  for (const auto& c : cases) {
    TExtended raw;
    const std::string bytes = FromHex(c.bytes);
    std::memcpy(raw.data(), bytes.data(), raw.size());
    double value = -1;
    ASSERT_EQ(ExtendedToDouble(raw, value), c.ok) << c.bytes;
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.bytes;
    }
  }
}

#if defined(__x86_64__) || defined(__i386__)
// Where the platform's long double is the x87 type, it is the reference both ways.
TEST(ObjStreamTest, ExtendedConversionsMatchTheX87) {
  static_assert(std::numeric_limits<long double>::digits == 64);
  std::mt19937_64 random(20070509);
  for (int i = 0; i < 200000; ++i) {
    const auto bits = random();
    double value = std::bit_cast<double>(bits);
    if (!std::isfinite(value)) continue;
    const long double wide = value;
    TExtended expected{};
    std::memcpy(expected.data(), &wide, expected.size());
    ASSERT_EQ(DoubleToExtended(value), expected) << value;
  }
  std::uniform_int_distribution<int> exponent(16383 - 1100, 16383 + 1100);
  for (int i = 0; i < 200000; ++i) {
    TExtended raw;
    std::uint64_t significand = random();
    if (i % 3 == 0) significand &= ~(std::uint64_t{1} << 63);  // pseudo-denormals and unnormals
    if (i % 5 == 0) significand &= ~std::uint64_t{0x7FF};      // ties
    const int top = (i % 7 == 0 ? static_cast<int>(random() & 0x7FFF) : exponent(random)) |
                    (i % 2 ? 0x8000 : 0);
    for (int b = 0; b < 8; ++b)
      raw[b] = static_cast<std::uint8_t>(significand >> (8 * b));
    raw[8] = static_cast<std::uint8_t>(top);
    raw[9] = static_cast<std::uint8_t>(top >> 8);
    long double wide = 0;
    std::memcpy(&wide, raw.data(), raw.size());
    const double reference = static_cast<double>(wide);
    double value = 0;
    const bool ok = ExtendedToDouble(raw, value);
    ASSERT_EQ(ok, std::isfinite(reference)) << Hex(std::string(raw.begin(), raw.end()));
    if (ok) {
      ASSERT_EQ(std::bit_cast<std::uint64_t>(value), std::bit_cast<std::uint64_t>(reference))
          << Hex(std::string(raw.begin(), raw.end()));
    }
  }
}
#endif

TEST(ObjStreamTest, TextsBooleansCharsAndInt64RoundTrip) {
  TStream out;
  out.WriteString("");
  out.WriteString(std::string("a\0\xFF", 3));
  out.WriteString(std::string(64, 'x'));
  out.WriteBoolean(true);
  out.WriteBoolean(false);
  out.WriteChar('\x80');
  out.WriteInt64(-2);
  out.WriteInt64(std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(Hex(out.Bytes().substr(0, 5)), "00 03 61 00 FF");
  EXPECT_EQ(Hex(out.Bytes().substr(5, 2)), "80 01");  // a 64-byte text has a two-byte length
  TStream in(out.Bytes());
  EXPECT_EQ(in.ReadString(), "");
  EXPECT_EQ(in.ReadString(), std::string("a\0\xFF", 3));
  EXPECT_EQ(in.ReadString(), std::string(64, 'x'));
  EXPECT_TRUE(in.ReadBoolean());
  EXPECT_FALSE(in.ReadBoolean());
  EXPECT_EQ(in.ReadChar(), '\x80');
  EXPECT_EQ(in.ReadInt64(), -2);
  EXPECT_EQ(in.ReadInt64(), std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(in.Left(), 0u);
}

// Every read that the bytes do not support fails, marks the stream damaged, and every read
// after it fails too, even one the bytes would support.
TEST(ObjStreamTest, ReadsCheckTheBytesLeftAndStayFailed) {
  const struct {
    const char* name;
    std::string bytes;
    void (*read)(TStream&);
  } cases[] = {
      {"empty compact", "", [](TStream& s) { s.ReadCompact(); }},
      {"compact cut short", "\x80", [](TStream& s) { s.ReadCompact(); }},
      {"compact of six bytes", "\xFF\xFF\xFF\xFF\x8F\x01", [](TStream& s) { s.ReadCompact(); }},
      {"compact beyond 32 bits", "\xFF\xFF\xFF\xFF\x10", [](TStream& s) { s.ReadCompact(); }},
      {"string longer than left",
       "\x05"
       "abcd",
       [](TStream& s) { s.ReadString(); }},
      {"huge string",
       "\xBF\xFF\xFF\xFF\x0F"
       "abc",
       [](TStream& s) { s.ReadString(); }},
      {"negative string length",
       "\x40"
       "abc",
       [](TStream& s) { s.ReadString(); }},
      {"Boolean 2", "\x02", [](TStream& s) { s.ReadBoolean(); }},
      {"float cut short", std::string(9, '\0'), [](TStream& s) { s.ReadFloat(); }},
      {"NaN", FromHex("00 00 00 00 00 00 00 C0 FF 7F"), [](TStream& s) { s.ReadFloat(); }},
      {"int64 cut short", std::string(7, '\0'), [](TStream& s) { s.ReadInt64(); }},
      {"count beyond left",
       "\x04"
       "abc",
       [](TStream& s) { s.ReadCount(1); }},
      {"count of wide items",
       "\x02"
       "abcdefghijklmnopqrs",
       [](TStream& s) { s.ReadCount(10); }},
      {"negative count", "\x40", [](TStream& s) { s.ReadCount(1); }},
  };
  for (const auto& c : cases) {
    TStream in(c.bytes);
    EXPECT_THROW(c.read(in), EReadError) << c.name;
    EXPECT_TRUE(in.Damaged()) << c.name;
    in.SetPosition(0);
    EXPECT_THROW(in.ReadChar(), EReadError) << c.name;
  }
  TStream fits(
      "\x02"
      "ab");
  EXPECT_EQ(fits.ReadCount(1), 2);
}

// ---------------------------------------------------------------------------------------------
// Published properties

TEST(ObjStreamTest, PropertyNamesCompareWithoutCaseShorterFirst) {
  const struct {
    const char* a;
    const char* b;
    int sign;
  } cases[] = {
      {"Price", "price", 0}, {"Abc", "abd", -1}, {"Key", "KeyID", -1},
      {"Zulu", "alpha", 1},  {"a_b", "aZb", 1},  // '_' stays above the letters
      {"Leg1", "LegA", -1},                      // digits fold below the letters
  };
  for (const auto& c : cases) {
    const int r = ComparePropNames(c.a, c.b);
    EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " " << c.b;
    const int back = ComparePropNames(c.b, c.a);
    EXPECT_EQ((back > 0) - (back < 0), -c.sign) << c.b << " " << c.a;
  }
}

class TGolden : public TStreamable {
 public:
  static const TStreamClass& Class() {
    static const TStreamClass& description =
        MakeStreamClass<TGolden>("TGolden", &TStreamable::Class(),
                                 TPropertyTable<TGolden>()
                                     .Integer("zeta", &TGolden::zeta)
                                     .String("Alpha", &TGolden::Alpha)
                                     .Char("beta", &TGolden::beta)
                                     .Float("Gamma", &TGolden::GetGamma, &TGolden::SetGamma)
                                     .Int64("DELTA", &TGolden::DELTA)
                                     .Boolean("Epsilon", &TGolden::Epsilon));
    return description;
  }
  const TStreamClass& StreamClass() const override { return Class(); }

  double GetGamma() const { return gamma_; }
  void SetGamma(double value) { gamma_ = value; }

  std::int32_t zeta = 300;
  std::string Alpha = "Hi";
  char beta = 'x';
  std::int64_t DELTA = -2;
  bool Epsilon = true;

 private:
  double gamma_ = 1.0;
};

// A descendant hides "zeta" with a text of its own and adds "Beta2".
class TGoldenChild : public TGolden {
 public:
  static const TStreamClass& Class() {
    static const TStreamClass& description =
        MakeStreamClass<TGoldenChild>("TGoldenChild", &TGolden::Class(),
                                      TPropertyTable<TGoldenChild>()
                                          .String("ZETA", &TGoldenChild::Zeta)
                                          .Integer("Beta2", &TGoldenChild::Beta2));
    return description;
  }
  const TStreamClass& StreamClass() const override { return Class(); }

  std::string Zeta = "z";
  std::int32_t Beta2 = -1;
};

// No StreamClass of its own: it cannot be copied faithfully.
class TUndescribed : public TGolden {};

TEST(ObjStreamTest, PropertiesAreWrittenInNameOrderWithoutTags) {
  TStream out;
  WriteProperties(out, TGolden());
  // Alpha, beta, DELTA, Epsilon, Gamma, zeta
  EXPECT_EQ(Hex(out.Bytes()),
            "02 48 69 78 FE FF FF FF FF FF FF FF 01 00 00 00 00 00 00 00 80 FF 3F AC 04");
  EXPECT_EQ(TGolden::Class().MinStreamSize(), 1u + 1 + 8 + 1 + 10 + 1);

  std::vector<std::string> names;
  for (const auto& p : TGoldenChild::Class().Properties())
    names.push_back(p.Name);
  EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "beta", "Beta2", "DELTA", "Epsilon", "Gamma",
                                             "ZETA"}));
  TGoldenChild child;
  child.Alpha = "";
  TStream childOut;
  WriteProperties(childOut, child);
  EXPECT_EQ(Hex(childOut.Bytes()),
            "00 78 40 FE FF FF FF FF FF FF FF 01 00 00 00 00 00 00 00 80 FF 3F 01 7A");
  // An item stored by its parent's property set is read back through the same set.
  TStream asParent;
  WriteProperties(asParent, child, TGolden::Class());
  EXPECT_EQ(asParent.Size(), 1u + 1 + 8 + 1 + 10 + 2);
}

TEST(ObjStreamTest, CloneCopiesPropertiesAndExtraIntoANewItemOfTheSameClass) {
  for (const auto& original : SampleItems()) {
    const auto copy = CloneItem(*original);
    ASSERT_NE(copy, original);
    const TStreamable& made = *copy;
    EXPECT_EQ(typeid(made), typeid(TTestItem));
    EXPECT_TRUE(SameTestItem(*copy, *original)) << original->Name;
    copy->Legs.push_back(9);
    EXPECT_FALSE(SameTestItem(*copy, *original));
  }
  TGoldenChild child;
  child.Zeta = "copied";
  EXPECT_EQ(CloneItem(child)->Zeta, "copied");
  EXPECT_THROW(TUndescribed().Clone(), EAssertionFailed);
}

// ---------------------------------------------------------------------------------------------
// TUUIDStreamable

class TRecorder : public TUUIDStreamable {
 public:
  TRecorder(std::vector<std::string>& log, std::string name) : log_(log), name_(std::move(name)) {}
  void Activate(bool) override { log_.push_back("A " + name_); }
  void Deactivate(bool) override { log_.push_back("I " + name_); }
  void Expire() override { log_.push_back("E " + name_); }
  void Purge(TDateTime) override { log_.push_back("P " + name_); }

 private:
  std::vector<std::string>& log_;
  std::string name_;
};

TEST(ObjStreamTest, TimeStampsSetOnlyTheOneOfTheKind) {
  const TDateTime now = EncodeDate(2024, 3, 5) + EncodeTime(9, 0, 0, 0);
  TFakeClock clock(now);
  TClockInstaller installer(clock);
  const struct {
    int kind;
    TDateTime activation, deactivation, expiry;
  } cases[] = {{0, now, 0, 0}, {1, 0, now, 0}, {2, 0, 0, now}, {7, 0, 0, 0}};
  for (const auto& c : cases) {
    std::vector<std::string> log;
    TRecorder item(log, "x");
    EXPECT_EQ(item.State, TUUIDStreamable::usActive);
    item.ActivationTime = item.DeactivationTime = item.ExpiryTime = 1;
    item.SetTimeStamp(c.kind);
    EXPECT_EQ(item.ActivationTime, c.activation) << c.kind;
    EXPECT_EQ(item.DeactivationTime, c.deactivation) << c.kind;
    EXPECT_EQ(item.ExpiryTime, c.expiry) << c.kind;
  }
}

TEST(ObjStreamTest, CanPurgeOnlyAnExpiredItemPastItsExpiry) {
  const struct {
    TDateTime expiry;
    std::int32_t state;
    TDateTime time;
    bool purge;
  } cases[] = {
      {10, TUUIDStreamable::usExpired, 10, true},   {10, TUUIDStreamable::usExpired, 11, true},
      {10, TUUIDStreamable::usExpired, 9, false},   {0, TUUIDStreamable::usExpired, 11, false},
      {10, TUUIDStreamable::usInactive, 11, false},
  };
  for (const auto& c : cases) {
    std::vector<std::string> log;
    TRecorder item(log, "x");
    item.ExpiryTime = c.expiry;
    item.State = c.state;
    EXPECT_EQ(item.CanPurge(c.time), c.purge) << c.expiry << " " << c.state << " " << c.time;
  }
}

TEST(ObjStreamTest, EmptyUUIDIsReplacedByANewGUID) {
  std::vector<std::string> log;
  TRecorder a(log, "a");
  TRecorder b(log, "b");
  a.SetUUID("");
  b.SetUUID("");
  // {8-4-4-4-12} upper-case hexadecimal digits, a random (version 4) GUID.
  const std::string pattern = "{XXXXXXXX-XXXX-4XXX-VXXX-XXXXXXXXXXXX}";
  const std::string text = a.GetUUID();
  ASSERT_EQ(text.size(), pattern.size()) << text;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
    if (pattern[i] == 'X') {
      EXPECT_TRUE(hex) << text;
    } else if (pattern[i] == 'V') {
      EXPECT_TRUE(c == '8' || c == '9' || c == 'A' || c == 'B') << text;
    } else {
      EXPECT_EQ(c, pattern[i]) << text;
    }
  }
  EXPECT_NE(a.GetUUID(), b.GetUUID());
  a.SetUUID("{kept}");
  EXPECT_EQ(a.GetUUID(), "{kept}");
}

TEST(ObjStreamTest, NotifyMembersActsLastFirstSkipsFreedMembersAndPurgeDropsThem) {
  std::vector<std::string> log;
  TRecorder group(log, "group");
  auto a = std::make_shared<TRecorder>(log, "a");
  auto b = std::make_shared<TRecorder>(log, "b");
  auto c = std::make_shared<TRecorder>(log, "c");
  group.AddMember(a);
  group.AddMember(b);
  group.AddMember(c);
  b.reset();  // freed by its own list: the group does not keep it

  group.NotifyMembers(TUUIDStreamable::maActivate, 0);
  group.NotifyMembers(TUUIDStreamable::maDeactivate, 0);
  group.NotifyMembers(TUUIDStreamable::maExpire, 0);
  group.NotifyMembers(9, 0);
  EXPECT_EQ(log, (std::vector<std::string>{"A c", "A a", "I c", "I a", "E c", "E a"}));
  EXPECT_EQ(group.Members.Count(), 3u);

  log.clear();
  group.NotifyMembers(TUUIDStreamable::maPurge, 5);
  EXPECT_EQ(log, (std::vector<std::string>{"P c", "P a"}));
  EXPECT_EQ(group.Members.Count(), 0u);
}

}  // namespace
}  // namespace vorn
