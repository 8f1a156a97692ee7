#include "support/Conversation.h"
#include "support/Eventually.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "links/Decompress.h"
#include "support/RawClient.h"
#include "support/TempDir.h"

namespace vorn {
namespace {

const std::string kScripts = VORN_CONVERSATIONS;

// The runner plays a script on its own thread while the test plays the client.
class TBackgroundRun {
 public:
  TBackgroundRun(TConversationRunner& runner, TConversation conversation)
      : conversation_(std::move(conversation)),
        result_(std::async(std::launch::async,
                           [&runner, this] { return runner.Run(conversation_); })) {}
  TConversationResult Result() { return result_.get(); }

 private:
  TConversation conversation_;
  std::future<TConversationResult> result_;
};

TEST(ConversationTest, HandshakeLogonAndPriceEcho) {
  TFakeServers servers;
  TConversationRunner runner(servers);
  TBackgroundRun run(runner, TConversation::Load(kScripts + "handshake-echo.conv"));

  TRawClient host(servers.Host.Port());
  ASSERT_TRUE(host.SendHost("Msg=3361|Snt=20070509123456"));
  EXPECT_EQ(host.ReceiveShown(), "Msg=3624|EnT=KWEZ|");
  ASSERT_TRUE(host.SendHost("Msg=3362|Usr=trader1|Pwd=secret"));
  EXPECT_EQ(host.ReceiveShown(), "Msg=3625|TA=TRADER1|Usr=trader1|Flg=000000|");
  EXPECT_EQ(host.ReceiveShown(), "Msg=3620|");

  TRawClient price(servers.Price.Port());
  ASSERT_TRUE(price.Send(FixedBody("0201", 127, {{12, "PRICE"}, {42, "trader1"}})));
  ASSERT_TRUE(price.Send(FixedBody("0066", 146, {{4, "10"}, {136, "4711"}})));
  EXPECT_EQ(price.Receive(), FixedBody("0067", 146, {{136, "4711"}}));

  const TConversationResult result = run.Result();
  EXPECT_TRUE(result.Passed) << result.Message;
  EXPECT_EQ(runner.Variables().at("value"), "4711");
}

TEST(ConversationTest, DisconnectAndReconnect) {
  TFakeServers servers;
  TConversationRunner runner(servers);
  TBackgroundRun run(runner, TConversation::Load(kScripts + "reconnect.conv"));

  TRawClient first(servers.Host.Port());
  ASSERT_TRUE(first.SendHost("Msg=3361|Snt=20070509123456"));
  EXPECT_EQ(first.ReceiveShown(), "Msg=3624|");
  EXPECT_TRUE(first.WaitClosed(5000));

  TRawClient second(servers.Host.Port());
  ASSERT_TRUE(second.SendHost("Msg=3361|Snt=20070509123457"));
  EXPECT_EQ(second.ReceiveShown(), "Msg=3624|");
  ASSERT_TRUE(second.SendHost("Msg=3363"));
  second.Close();

  const TConversationResult result = run.Result();
  EXPECT_TRUE(result.Passed) << result.Message;
  EXPECT_EQ(servers.Host.Connections(), 2);
}

TEST(ConversationTest, StandingAnswersStayOutOfTheWayOfExpects) {
  TFakeServers servers;
  TConversationRunner runner(servers);
  TBackgroundRun run(runner, TConversation::Load(kScripts + "standing-answers.conv"));

  TRawClient host(servers.Host.Port());
  ASSERT_TRUE(host.SendHost("Msg=3361|Snt=1"));
  EXPECT_EQ(host.ReceiveShown(), "Msg=3624|");
  ASSERT_TRUE(host.SendHost("Msg=3362|Usr=trader1"));
  EXPECT_EQ(host.ReceiveShown(), "Msg=3625|TA=TRADER1|");
  ASSERT_TRUE(host.SendHost("Msg=3361|Snt=2"));
  EXPECT_EQ(host.ReceiveShown(), "Msg=3624|");
  ASSERT_TRUE(host.SendHost("Msg=3364|Usr=trader1"));
  ASSERT_TRUE(host.SendHost("Msg=3363"));

  const TConversationResult result = run.Result();
  EXPECT_TRUE(result.Passed) << result.Message;
}

TEST(ConversationTest, DefaultSessionServesUntilStopped) {
  TFakeServers servers;
  TConversationRunner runner(servers);
  TBackgroundRun run(runner, TConversation::Load(kScripts + "default-session.conv"));

  for (int logon = 0; logon < 2; ++logon) {  // a logon, then a reconnect and a second one
    TRawClient host(servers.Host.Port());
    ASSERT_TRUE(host.SendHost("Msg=3361|Snt=20070509123456"));
    EXPECT_EQ(host.ReceiveShown(), "Msg=3624|");
    ASSERT_TRUE(host.SendHost("Msg=3362|Usr=trader1|Pwd=secret"));
    EXPECT_EQ(MessageCode(TFakeServerKind::Host, host.Receive().value_or("")), "3625");
    // The download's reference data, then its end.
    std::string code;
    for (int message = 0; message < 20; ++message) {
      code = MessageCode(TFakeServerKind::Host, host.Receive().value_or(""));
      if (code == "3620" || code.empty()) break;
    }
    EXPECT_EQ(code, "3620");
  }
  // Order ids on request, and an order's life on its add request.
  TRawClient host(servers.Host.Port());
  ASSERT_TRUE(host.SendHost("Msg=3341"));
  EXPECT_EQ(MessageCode(TFakeServerKind::Host, host.Receive().value_or("")), "3622");
  ASSERT_TRUE(host.SendHost("Msg=3301|OID=101|TA=T1|OTy=LIMIT|Ex=E|C=C|CD=D|BS=1|Pr=5|TLt=2"));
  for (const char* state : {"Sts=2|", "Sts=3|", "Sts=7|", "Sts=10|"})
    EXPECT_NE(host.ReceiveShown().find(state), std::string::npos) << state;

  TRawClient price(servers.Price.Port());
  ASSERT_TRUE(price.Send(FixedBody("0201", 127, {})));
  ASSERT_TRUE(price.Send(FixedBody("0066", 146, {{136, "99"}})));
  EXPECT_EQ(price.Receive(), FixedBody("0067", 146, {{136, "99"}}));

  runner.RequestStop();
  const TConversationResult result = run.Result();
  EXPECT_TRUE(result.Passed) << result.Message;
}

// A script, what the client sends before it runs (host bodies in script notation, price bodies
// as they are), and where and how the runner must fail.
struct TMismatchCase {
  const char* Name;
  std::string Script;
  std::vector<std::string> Host;
  std::vector<std::string> Price;
  bool CloseHost;
  int Line;
  const char* Report;
};

void PrintTo(const TMismatchCase& c, std::ostream* os) {
  *os << c.Name;
}

class ConversationMismatchTest : public ::testing::TestWithParam<TMismatchCase> {};

TEST_P(ConversationMismatchTest, ReportsTheFirstMismatchWithItsLineAndWhatCame) {
  const TMismatchCase& c = GetParam();
  TFakeServers servers;
  TConversationRunner runner(servers);
  TRawClient host(servers.Host.Port());
  TRawClient price(servers.Price.Port());
  for (const std::string& body : c.Host)
    ASSERT_TRUE(host.SendHost(body));
  for (const std::string& body : c.Price)
    ASSERT_TRUE(price.Send(body));
  if (c.CloseHost) {
    host.Close();
    // The server has taken the connection and seen its end before the script runs.
    ASSERT_TRUE(
        Eventually([&] { return servers.Host.Connections() >= 1 && !servers.Host.IsConnected(); }));
  }

  const TConversationResult result = runner.Run(TConversation::Parse(c.Script, "case"));
  EXPECT_FALSE(result.Passed);
  EXPECT_EQ(result.Line, c.Line);
  EXPECT_NE(result.Message.find(c.Report), std::string::npos) << result.Message;
}

const std::string kAccept = "timeout 2000\naccept host\naccept price\n";
const std::string kLogon = "Msg=3362|Usr=trader2|Pwd=x";

INSTANTIATE_TEST_SUITE_P(
    Cases, ConversationMismatchTest,
    ::testing::Values(
        TMismatchCase{"WrongCode",
                      "accept host\nexpect host 3361\n",
                      {kLogon},
                      {},
                      false,
                      2,
                      "code 3362 instead of 3361; received Msg=3362|Usr=trader2|Pwd=x|"},
        TMismatchCase{"FieldValue",
                      "accept host\nexpect host 3362 Pwd=* Usr=trader1\n",
                      {kLogon},
                      {},
                      false,
                      2,
                      "Usr=trader1 does not match \"trader2\""},
        TMismatchCase{"FieldMissing",
                      "accept host\nexpect host 3362 NPw=*\n",
                      {kLogon},
                      {},
                      false,
                      2,
                      "NPw missing"},
        TMismatchCase{"RepeatedFieldMissing",
                      "accept host\nexpect host 3362 Usr#1=trader2 Usr#2=*\n",
                      {kLogon},
                      {},
                      false,
                      2,
                      "Usr#2 missing"},
        TMismatchCase{"FieldNotAbsent",
                      "accept host\nexpect host 3362 Pwd=\n",
                      {kLogon},
                      {},
                      false,
                      2,
                      "Pwd present, expected absent"},
        TMismatchCase{"VariableDiffers",
                      "accept host\nexpect host 3362 Usr={u}\nexpect host 3306 Usr={u}\n",
                      {kLogon, "Msg=3306|Seq=4|Usr=trader3"},
                      {},
                      false,
                      3,
                      "Usr={u} does not match \"trader3\""},
        TMismatchCase{"UnboundVariableInSend",
                      "accept host\nsend host Msg=3625|Usr={nobody}\n",
                      {},
                      {},
                      false,
                      2,
                      "variable {nobody} is not bound"},
        TMismatchCase{"PriceLength",
                      kAccept + "expect price 0201 len=127\n",
                      {},
                      {std::string("0201  ")},
                      false,
                      4,
                      "length 6 instead of 127"},
        TMismatchCase{"PriceField",
                      kAccept + "expect price 0201 @12/8:PRICE\n",
                      {},
                      {FixedBody("0201", 127, {{12, "VORNAPI"}})},
                      false,
                      4,
                      "@12/8:PRICE does not match \"VORNAPI \""},
        TMismatchCase{"PriceExactBytes",
                      kAccept + "expect price 0066 @4:10\n",
                      {},
                      {FixedBody("0066", 146, {{5, "10"}})},
                      false,
                      4,
                      "@4:10 does not match \" 1\""},
        TMismatchCase{"PricePaddedField",
                      kAccept + "expect price 0202 len=74 @4/10=LIFFE @14/10=\n",
                      {},
                      {FixedBody("0202", 74, {{4, "LIFFE"}, {14, "FTSE"}})},
                      false,
                      4,
                      "@14/10= does not match \"FTSE      \""},
        TMismatchCase{"PricePaddedFieldShifted",
                      kAccept + "expect price 0202 @4/10=LIFFE\n",
                      {},
                      {FixedBody("0202", 74, {{5, "LIFFE"}})},
                      false,
                      4,
                      "@4/10=LIFFE does not match \" LIFFE    \""},
        TMismatchCase{"PricePastEnd",
                      kAccept + "expect price 0066 @136/10:*\n",
                      {},
                      {std::string("0066")},
                      false,
                      4,
                      "lies past the body's end (4)"},
        TMismatchCase{"NothingCame",
                      "timeout 200\naccept host\nexpect host 3361\n",
                      {},
                      {},
                      false,
                      3,
                      "nothing received within 200 ms"},
        TMismatchCase{"ClosedInstead",
                      "accept host\nexpect host 3361\n",
                      {},
                      {},
                      true,
                      2,
                      "the client closed the connection"},
        TMismatchCase{"MessageBeforeClose",
                      "accept host\nexpect host closed\n",
                      {kLogon},
                      {},
                      true,
                      2,
                      "received Msg=3362|Usr=trader2|Pwd=x| before the close"},
        TMismatchCase{"SendWithoutClient",
                      "disconnect host\nsend host Msg=3624\n",
                      {},
                      {},
                      true,
                      2,
                      "no client connected"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(ConversationTest, ScriptErrorsNameTheLine) {
  const struct {
    const char* Script;
    const char* Error;
  } cases[] = {
      {"# fine\n\nhello host\n", "case:3: unknown directive hello"},
      {"expect fix 3361\n", "case:1: unknown link fix"},
      {"pause soon\n", "case:1: not a number: soon"},
      {"accept\n", "case:1: wrong number of words for accept"},
      {"expect host 3361 Snt\n", "case:1: a host check is Name=value: Snt"},
      {"expect price 0066 @136:*\n", "case:1: * and {name} need a width: @136:*"},
      {"expect price 0066 136/10:x\n", "case:1: a price field is @offset:text"},
      {"send price 0067 @136/10:*\n", "case:1: * cannot be sent"},
      {"expect price 0202 @4=LIFFE\n", "case:1: @offset/width=text needs a width"},
      {"expect price 0202 @4/3=LIFFE\n", "case:1: the text is wider than its field"},
      {"expect price 0202 @4/10={ex}\n", "case:1: * and {name} take the form @offset/width:text"},
      {"send price 00067\n", "case:1: a price code has at most 4 characters"},
      {"send host compressed a Msg=3624\n", "case:1: a code letter is one of A to Z: a"},
      {"accept host\non host 3361\n  send host Msg=3624\n", "case:2: on without end"},
      {"end\n", "case:1: end without on"},
      {"on host 3361\n  accept host\nend\n", "case:2: only send, disconnect and reset"},
      {"include\n", "case:1: wrong number of words for include"},
      {"include a.conv b.conv\n", "case:1: wrong number of words for include"},
      {"on host 3361\n  include a.conv\nend\n", "case:2: include does not belong in an on block"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Script);
    try {
      TConversation::Parse(c.Script, "case");
      ADD_FAILURE() << "parsed";
    } catch (const TConversationError& error) {
      EXPECT_NE(std::string(error.what()).find(c.Error), std::string::npos) << error.what();
    }
  }
}

// Scripts written into a folder of their own; Load reads the top one, "outer.conv".
class ConversationIncludeTest : public ::testing::Test {
 protected:
  void Write(const std::string& name, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(dir_.File(name)).parent_path());
    WriteFileText(dir_.File(name), text);
  }
  TConversation LoadOuter() { return TConversation::Load(dir_.File("outer.conv")); }
  // outer.conv includes a logon that includes a handshake, then the handshake again.
  void WriteSession() {
    Write("outer.conv",
          "accept host\n"
          "include parts/logon.conv\n"
          "include parts/handshake.conv\n"
          "expect host 3363 Usr={user}\n");
    Write("parts/logon.conv",
          "ignore host 3364\n"
          "include handshake.conv\n"
          "expect host 3362 Usr={user}\n"
          "send host Msg=3625|Usr={user}\n");
    Write("parts/handshake.conv",
          "# the client's handshake and its answer\n"
          "expect host 3361 Snt=*\n"
          "send host Msg=3624\n");
  }

  TTempDir dir_;
};

TEST_F(ConversationIncludeTest, IncludedLinesPlayInPlace) {
  WriteSession();
  const TConversation script = LoadOuter();
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"outer.conv:1", "accept host"},
      {"parts/logon.conv:1 (included from outer.conv:2)", "ignore host 3364"},
      {"handshake.conv:2 (included from parts/logon.conv:2, from outer.conv:2)",
       "expect host 3361 Snt=*"},
      {"handshake.conv:3 (included from parts/logon.conv:2, from outer.conv:2)",
       "send host Msg=3624"},
      {"parts/logon.conv:3 (included from outer.conv:2)", "expect host 3362 Usr={user}"},
      {"parts/logon.conv:4 (included from outer.conv:2)", "send host Msg=3625|Usr={user}"},
      {"parts/handshake.conv:2 (included from outer.conv:3)", "expect host 3361 Snt=*"},
      {"parts/handshake.conv:3 (included from outer.conv:3)", "send host Msg=3624"},
      {"outer.conv:4", "expect host 3363 Usr={user}"},
  };
  std::vector<std::pair<std::string, std::string>> steps;
  for (const TStep& step : script.Steps())
    steps.emplace_back(StepPlace(step), step.Source);
  EXPECT_EQ(steps, expected);

  // Played: the included standing answer holds after its file, the variable bound in an included
  // line is checked by the including one.
  TFakeServers servers;
  TConversationRunner runner(servers);
  TBackgroundRun run(runner, script);
  TRawClient host(servers.Host.Port());
  ASSERT_TRUE(host.SendHost("Msg=3361|Snt=1"));
  EXPECT_EQ(host.ReceiveShown(), "Msg=3624|");
  ASSERT_TRUE(host.SendHost("Msg=3362|Usr=trader1"));
  EXPECT_EQ(host.ReceiveShown(), "Msg=3625|Usr=trader1|");
  ASSERT_TRUE(host.SendHost("Msg=3364|Usr=trader1"));
  ASSERT_TRUE(host.SendHost("Msg=3361|Snt=2"));
  EXPECT_EQ(host.ReceiveShown(), "Msg=3624|");
  ASSERT_TRUE(host.SendHost("Msg=3363|Usr=trader1"));
  const TConversationResult result = run.Result();
  EXPECT_TRUE(result.Passed) << result.Message;
}

TEST_F(ConversationIncludeTest, MismatchInAnIncludedLineNamesItsFileAndTheIncludes) {
  WriteSession();
  TFakeServers servers;
  TConversationRunner runner(servers);
  TBackgroundRun run(runner, LoadOuter());
  TRawClient host(servers.Host.Port());
  ASSERT_TRUE(host.SendHost("Msg=3361|Snt=1"));
  EXPECT_EQ(host.ReceiveShown(), "Msg=3624|");
  ASSERT_TRUE(host.SendHost("Msg=3362|Pwd=x"));
  const TConversationResult result = run.Result();
  EXPECT_FALSE(result.Passed);
  EXPECT_EQ(result.File, "parts/logon.conv");
  EXPECT_EQ(result.Line, 3);
  EXPECT_EQ(result.Message.rfind("parts/logon.conv:3 (included from outer.conv:2): "
                                 "expect host 3362 Usr={user}: Usr missing",
                                 0),
            0u)
      << result.Message;
}

TEST_F(ConversationIncludeTest, MissingFilesAndCyclesAreLoadErrors) {
  const struct {
    const char* Name;
    std::vector<std::pair<std::string, std::string>> Files;
    const char* Error;
  } cases[] = {
      {"Missing",
       {{"outer.conv", "accept host\ninclude gone.conv\n"}},
       "outer.conv:2: include gone.conv: cannot be read ("},
      {"MissingBesideTheIncludedFile",
       {{"outer.conv", "include parts/a.conv\n"},
        {"parts/a.conv", "accept host\ninclude gone.conv\n"}},
       "parts/a.conv:2 (included from outer.conv:1): include gone.conv: cannot be read ("},
      {"ItselfIncluded",
       {{"outer.conv", "accept host\ninclude outer.conv\n"}},
       "outer.conv:2: include outer.conv makes a cycle: outer.conv -> outer.conv"},
      {"BackToTheTopByAnotherPath",
       {{"outer.conv", "include parts/a.conv\n"}, {"parts/a.conv", "include ../outer.conv\n"}},
       "parts/a.conv:1 (included from outer.conv:1): include ../outer.conv makes a cycle: "
       "outer.conv -> parts/a.conv -> ../outer.conv"},
      {"BetweenIncludedFiles",
       {{"outer.conv", "include a.conv\n"},
        {"a.conv", "include b.conv\n"},
        {"b.conv", "accept host\ninclude a.conv\n"}},
       "b.conv:2 (included from a.conv:1, from outer.conv:1): include a.conv makes a cycle: "
       "a.conv -> b.conv -> a.conv"},
      {"ErrorInAnIncludedFile",
       {{"outer.conv", "include a.conv\n"}, {"a.conv", "accept host\nhello host\n"}},
       "a.conv:2 (included from outer.conv:1): unknown directive hello"},
      {"OnBlockEndsInItsOwnFile",
       {{"outer.conv", "include a.conv\nend\n"},
        {"a.conv", "on host 3361\n  send host Msg=3624\n"}},
       "a.conv:1 (included from outer.conv:1): on without end"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    std::filesystem::remove_all(dir_.Path());
    for (const auto& [name, text] : c.Files)
      Write(name, text);
    try {
      LoadOuter();
      ADD_FAILURE() << "loaded";
    } catch (const TConversationError& error) {
      EXPECT_EQ(std::string(error.what()).rfind(c.Error, 0), 0u) << error.what();
    }
  }
}

TEST(ConversationTest, BodiesBuiltFromScriptLines) {
  const TConversation script = TConversation::Parse(
      "send host Msg=3625|Txt=Welcome back|Usr={user}|\n"
      "send price 0067 len=20 @4/6:{value} @8:\"a b\" @18/4:toolong\n");
  const std::map<std::string, std::string> variables = {{"user", "trader1"}, {"value", "42"}};
  EXPECT_EQ(ShowBody(BuildBody(script.Steps()[0], variables)),
            "Msg=3625|Txt=Welcome back|Usr=trader1|");
  EXPECT_EQ(BuildBody(script.Steps()[1], variables), "006742  a b       tool");
}

TEST(ConversationTest, CompressedBodiesDecodeToTheirPlainForm) {
  const TConversation script = TConversation::Parse(
      "send host compressed C Msg=3658|Exc=LIFFE|Cmd=FTSE|Exc=LIFFE|Cmd=FTSE\n"
      "send price compressed A 0084 len=60 @4:LIFFE @14:FTSE @40:LIFFE\n");
  std::string decoded;
  const std::string host = BuildBody(script.Steps()[0], {});
  EXPECT_EQ(host.substr(0, 4), "CEnc");
  Decompress(host, decoded);
  EXPECT_EQ(ShowBody(decoded), " Enc|Msg=3658|Exc=LIFFE|Cmd=FTSE|Exc=LIFFE|Cmd=FTSE|");
  EXPECT_EQ(MessageCode(TFakeServerKind::Host, decoded), "3658");

  const std::string price = BuildBody(script.Steps()[1], {});
  EXPECT_EQ(price.substr(0, 4), "A084");
  Decompress(price, decoded);
  EXPECT_EQ(decoded,
            " " + FixedBody("0084", 60, {{4, "LIFFE"}, {14, "FTSE"}, {40, "LIFFE"}}).substr(1));
}

}  // namespace
}  // namespace vorn
