// --json and --log-file: what a script reads must say what the text says, and every line must
// parse, whatever the texts hold and however many programs append to one file.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "Processes.h"
#include "SampleFirmware.h"
#include "Sha256.h"

namespace quorvex::test {
namespace {

using nlohmann::json;

std::vector<json> Events(const std::string& out) {
  std::vector<json> events;
  for (const std::string& line : Lines(out)) {
    json event = json::parse(line, nullptr, false);
    EXPECT_FALSE(event.is_discarded()) << line;
    events.push_back(std::move(event));
  }
  return events;
}

std::vector<json> OfKind(const std::vector<json>& events, const std::string& kind) {
  std::vector<json> found;
  for (const json& e : events) {
    if (e.at("event") == kind) found.push_back(e);
  }
  return found;
}

// The text a script would have read from the text output: log lines, then messages.
std::string LogText(const std::vector<json>& events) {
  std::string text;
  for (const json& e : OfKind(events, "log")) text += e.at("text").get<std::string>() + "\n";
  return text;
}

// A name with a quote, a backslash and Cyrillic, as the instrument stores it (Windows-1251).
const std::string kAwkwardName = "\xD2\xE5\xF1\xF2 \"q\" \\";
const std::string kAwkwardNameUtf8 = "Тест \"q\" \\";

class JsonOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fw_ = (ws_.Dir() / "name.fls").string();
    WriteFirmwareFile(fw_, SampleImage(kAwkwardName, true));  // marked: the listing names it
  }
  Workspace ws_;
  std::string fw_;
};

TEST_F(JsonOutputTest, ProgramAndListSayWhatTheTextSays) {
  SimProcess textSim(ws_.Dir(), {}, "text");
  SimProcess jsonSim(ws_.Dir(), {}, "json");
  const CliResult text = ws_.Run({"-p", textSim.Port(), "-q", "program", fw_, "-s", "12"});
  const CliResult run = ws_.Run({"--json", "-p", jsonSim.Port(), "program", fw_, "-s", "12"});
  ASSERT_EQ(text.code, 0) << text.err;
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const std::vector<json> events = Events(run.out);
  EXPECT_EQ(LogText(events), text.out);

  const std::vector<json> progress = OfKind(events, "progress");
  ASSERT_GE(progress.size(), 2U);
  int last = 0;
  for (const json& p : progress) {
    EXPECT_EQ(p.at("port"), jsonSim.Port());
    EXPECT_GE(p.at("percent").get<int>(), last);
    last = p.at("percent").get<int>();
    EXPECT_EQ(p.at("total"), 65536);
  }
  EXPECT_EQ(progress.back().at("percent"), 100);
  EXPECT_EQ(progress.back().at("bytes"), 65536);

  const std::vector<json> results = OfKind(events, "result");
  ASSERT_EQ(results.size(), 1U);
  const json& result = results.front();
  EXPECT_EQ(result.at("command"), "program");
  EXPECT_EQ(result.at("exit"), 0);
  EXPECT_EQ(result.at("file"), fw_);
  const std::string bytes = Slurp(fw_);
  EXPECT_EQ(result.at("sha256"),
            cli::Sha256Hex(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  EXPECT_EQ(result.at("sector"), 12);
  EXPECT_EQ(result.at("name"), kAwkwardNameUtf8);

  const CliResult listText = ws_.Run({"-p", jsonSim.Port(), "list"});
  const CliResult list = ws_.Run({"--json", "-p", jsonSim.Port(), "list"});
  ASSERT_EQ(list.code, 0);
  const std::vector<json> listed = Events(list.out);
  EXPECT_EQ(LogText(listed), listText.out);
  const std::vector<json> sectors = OfKind(listed, "sector");
  ASSERT_EQ(sectors.size(), 64U);
  for (int n = 1; n <= 64; ++n) {
    const json& s = sectors[static_cast<std::size_t>(n - 1)];
    EXPECT_EQ(s.at("sector"), n);
    EXPECT_EQ(s.at("loaded"), n == 12);
    EXPECT_EQ(s.at("name"), n == 12 ? json(kAwkwardNameUtf8) : json(nullptr));
  }
}

TEST_F(JsonOutputTest, FailedCheckIsAMessageAndAResultWithItsExitCode) {
  SimProcess sim(ws_.Dir(), {"--fault", "version=1234"});
  const CliResult text = ws_.Run({"-p", sim.Port(), "check"});
  const CliResult run = ws_.Run({"--json", "-p", sim.Port(), "check"});
  ASSERT_EQ(text.code, 1);
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.err, "");
  const std::vector<json> events = Events(run.out);
  EXPECT_EQ(LogText(events), text.out);
  std::string messages;
  for (const json& m : OfKind(events, "message")) {
    messages += m.at("caption").get<std::string>() + ": " + m.at("text").get<std::string>() + "\n";
  }
  EXPECT_EQ(messages, text.err);
  const std::vector<json> results = OfKind(events, "result");
  ASSERT_EQ(results.size(), 1U);
  EXPECT_EQ(results.front().at("exit"), 1);
  EXPECT_EQ(results.front().at("command"), "check");
  EXPECT_FALSE(results.front().contains("file"));
}

struct DigestCase {
  std::string input;
  std::string digest;
};

// Known answers: the empty message, "abc", and a message that needs a second padding block.
TEST(Sha256Test, KnownDigests) {
  const std::vector<DigestCase> cases = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
  };
  for (const DigestCase& c : cases) {
    EXPECT_EQ(cli::Sha256Hex(reinterpret_cast<const std::uint8_t*>(c.input.data()), c.input.size()),
              c.digest)
        << c.input;
  }
}

// Two programs, two instruments each, appending to one file at the same time: four whole
// lines, each a complete record of its run.
TEST(AuditLogTest, TwoProgramsAppendWholeRecordsToOneFile) {
  Workspace ws;
  std::vector<std::unique_ptr<SimProcess>> sims;
  for (const char* name : {"a", "b", "c", "d"}) {
    sims.push_back(std::make_unique<SimProcess>(ws.Dir(), std::vector<std::string>{}, name));
  }
  const std::string log = (ws.Dir() / "audit.log").string();
  const std::string fw = ws.Firmware();
  CliProcess first(ws.Dir(), ws.Config(),
                   {"--log-file", log, "-p", sims[0]->Port(), "-p", sims[1]->Port(), "list"});
  CliProcess second(ws.Dir(), ws.Config(),
                    {"--log-file", log, "-p", sims[2]->Port(), "-p", sims[3]->Port(), "-q",
                     "program", fw, "-s", "3"});
  EXPECT_EQ(first.Wait().code, 0);
  EXPECT_EQ(second.Wait().code, 0);

  const std::vector<std::string> lines = Lines(Slurp(log));
  ASSERT_EQ(lines.size(), 4U);
  std::vector<std::string> ports;
  for (const std::string& line : lines) {
    const json record = json::parse(line, nullptr, false);
    ASSERT_FALSE(record.is_discarded()) << line;
    ports.push_back(record.at("port"));
    EXPECT_EQ(record.at("exit"), 0);
    EXPECT_TRUE(record.at("time").get<std::string>().ends_with("Z"));
    EXPECT_FALSE(record.at("user").get<std::string>().empty());
    EXPECT_TRUE(record.at("usb_serial").is_null());
    if (record.at("command") == "list") {
      EXPECT_EQ(record.at("log").size(), 64U);
      EXPECT_TRUE(record.at("file").is_null());
    } else {
      EXPECT_EQ(record.at("command"), "program");
      EXPECT_EQ(record.at("file"), fw);
      EXPECT_EQ(record.at("sector"), 3);
      EXPECT_EQ(record.at("name"), "ROBUST");
      EXPECT_EQ(record.at("sha256").get<std::string>().size(), 64U);
      EXPECT_EQ(record.at("log").back(), "ОК");
    }
  }
  std::sort(ports.begin(), ports.end());
  std::vector<std::string> expected;
  for (const auto& sim : sims) expected.push_back(sim->Port());
  EXPECT_EQ(ports, expected);
}

}  // namespace
}  // namespace quorvex::test
