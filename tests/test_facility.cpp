#include "emulated_host.h"
#include "facility.h"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <unistd.h>

TEST(Facility, LoadsInstancesStatesAndReportsProblemsByLine) {
    const std::string path =
        ::testing::TempDir() + "facility_test." + std::to_string(getpid()) + ".ini";
    std::ofstream(path)
        << "[instances.A]\ndevice = 12\ncontact = 3\nidtext = Studio A\nother = kept\n"
           "[instances.Q]\nreply = '12' '3'\n[devices.12]\n3 = 1\n"
           "[instances.Bad]\ndevice = twelve\n[devices.x]\n[devices.5]\non = 1\n";
    Facility f;
    std::vector<ConfigProblem> problems;
    EXPECT_FALSE(f.load(path, problems));
    ASSERT_EQ(problems.size(), 3u);
    EXPECT_EQ(problems[0].line, 11);
    EXPECT_EQ(problems[2].line, 14);
    std::string all;
    for (const ConfigProblem& p : problems)
        all += p.lineText() + "\n";
    EXPECT_NE(all.find("line 11: [instances.Bad] device: expected a number"), std::string::npos)
        << all;
    EXPECT_NE(all.find("line 12: [devices.x]: expected [devices.NUMBER]"), std::string::npos)
        << all;
    EXPECT_NE(all.find("line 14: [devices.5] on: expected 'CONTACT = STATE'"), std::string::npos)
        << all;
    EXPECT_EQ(f.lookup("A"), "12 3");
    EXPECT_EQ(f.lookup("Q"), "'12' '3'");
    EXPECT_EQ(f.lookup("missing"), std::nullopt);
    EXPECT_EQ(f.instances.at("A").idtext, "Studio A");
    EXPECT_EQ(f.state(12, 3), 1);
    EXPECT_EQ(f.state(12, 4), 0);
    std::remove(path.c_str());
    EXPECT_FALSE(Facility().load(path, problems));
}

namespace {
struct Heard : ContactListener {
    std::vector<std::string>* log;
    std::string name;
    Heard(std::vector<std::string>* l, std::string n) : log(l), name(std::move(n)) {}
    void contactChanged(std::int32_t d, std::int32_t c, std::int32_t s) override {
        log->push_back(name + " " + std::to_string(d) + " " + std::to_string(c) + " " +
                       std::to_string(s));
    }
};
} // namespace

TEST(Facility, EachListenerHasItsOwnRangesAndHearsOfItsContacts) {
    Facility f;
    std::vector<std::string> log;
    Heard a(&log, "a"), b(&log, "b");
    f.registerRange(&b, 12, 3, 5, false);
    f.registerRange(&a, 12, 4, 4, false);
    f.registerRange(&a, 12, 9, 9, true);
    EXPECT_TRUE(f.isRegistered(&a, 12, 9));
    EXPECT_FALSE(f.isRegistered(&b, 12, 9));
    f.setState(12, 4, 1); // both, in the order they registered
    f.setState(12, 9, 1); // a only
    f.setState(13, 4, 1); // nobody
    EXPECT_EQ(log, (std::vector<std::string>{"b 12 4 1", "a 12 4 1", "a 12 9 1"}));
    f.registerRange(&a, 12, 1, 1, false); // replaces a's ranges of device 12
    EXPECT_FALSE(f.isRegistered(&a, 12, 4));
    EXPECT_TRUE(f.isRegistered(&b, 12, 4));
    f.unregister(&b, 12);
    EXPECT_FALSE(f.hasRegistrations(&b));
    f.forget(&a);
    EXPECT_FALSE(f.hasRegistrations(&a));
    EXPECT_EQ(f.state(12, 9), 1);
}

namespace {
// A stand-in component for the host's side of the contract, without any plug-in.
class Echo : public vorn_client_callback {
    VORN_HOST_DESTRUCTOR_BRIDGE(Echo)
public:
    char* dispatch(void*, int) override { return nullptr; }
};
} // namespace

TEST(EmulatedHost, AnswersCommandsFromTheFacilityAndFlagsContractBreaches) {
    Facility f;
    f.instances["A"] = {12, 3, "", std::nullopt};
    EmulatedHost host(f);
    ContractMonitor::Call call(host.monitor); // this test sends as the component would
    const char* reply = host.send("SD 'A'", 0);
    ASSERT_NE(reply, nullptr);
    EXPECT_STREQ(reply, "12 3");
    EXPECT_EQ(host.outstandingReplies(), 1u);
    host.send(reply, 5);
    EXPECT_EQ(host.outstandingReplies(), 0u);
    EXPECT_TRUE(host.monitor.breaches().empty());
    host.send(reply, 5);
    EXPECT_EQ(host.monitor.breaches().size(), 1u); // handed back twice
    EXPECT_EQ(host.send("SD 'B'", 0), nullptr);
    EXPECT_NE(host.send("PS '1' 'f'", 0), nullptr);
    host.send("TP 'statesheet=red' '1' 'MyContact_Tile'", 0);
    EXPECT_EQ(host.panels["1"]["MyContact_Tile"]["statesheet"], "red");
    host.send("GR 12 3 3", 0);
    host.send("GS 12 3 1 1", 0);
    EXPECT_EQ(host.facility.state(12, 3), 1);
    host.send("ET 1 10000", 0);
    EXPECT_EQ(host.timers().at(1).period, 10000);
    host.send("ET 1", 0);
    EXPECT_TRUE(host.timers().empty());
    host.send("HN 'GPIvalue=1'", 0);
    EXPECT_EQ(host.notifications, std::vector<std::string>{"GPIvalue=1"});
    host.send("GR 1 2", 0);
    host.send("AS", 0);
    host.send("ET 1", 0);
    host.send("ET 1", 3);
    std::vector<std::string> seen;
    for (const ContractBreach& b : host.monitor.breaches())
        seen.push_back(b.text());
    EXPECT_EQ(seen,
              (std::vector<std::string>{
                  "[unknown-reply] a reply was handed back that the host did not give (or "
                  "twice)",
                  "[grammar] malformed command 'GR 1 2': GR expects 3 numbers",
                  "[after-as] command after AS: ET 1", "[send-mode] send with unknown mode 3"}));
}

namespace {

std::vector<std::string> loadText(const std::string& text, Facility& f) {
    const std::string path =
        ::testing::TempDir() + "facility_text." + std::to_string(getpid()) + ".ini";
    std::ofstream(path) << text;
    std::vector<ConfigProblem> problems;
    f.load(path, problems);
    std::remove(path.c_str());
    std::vector<std::string> texts;
    for (const ConfigProblem& p : problems)
        texts.push_back(p.lineText());
    return texts;
}

} // namespace

TEST(Facility, TheReadmesExampleLoadsAsWritten) {
    std::ifstream readme(VORN_README);
    std::stringstream all;
    all << readme.rdbuf();
    const std::string text = all.str();
    const std::size_t start = text.find("```ini\n");
    ASSERT_NE(start, std::string::npos);
    const std::size_t end = text.find("```", start + 7);
    Facility f;
    const std::vector<std::string> problems = loadText(text.substr(start + 7, end - start - 7), f);
    EXPECT_TRUE(problems.empty()) << problems.front();
    ASSERT_EQ(f.instances.count("StudioA"), 1u);
    EXPECT_EQ(f.instances["StudioA"].idtext, "Studio A"); // the comment after it is not the label
    EXPECT_EQ(f.lookup("StudioA"), "'12' '3'");
    EXPECT_EQ(f.state(12, 3), 1);
}

TEST(Facility, AByteOrderMarkIsPassedOverAndProblemsComeInLineOrder) {
    Facility f;
    const std::vector<std::string> problems =
        loadText("\xEF\xBB\xBF[instances.A]\ndevice = x\nidtext = \"A # B\"  # the label\n"
                 "nonsense\n[devices.q]\n",
                 f);
    ASSERT_EQ(problems.size(), 3u);
    EXPECT_EQ(problems[0].rfind("line 2:", 0), 0u) << problems[0];
    EXPECT_EQ(problems[1].rfind("line 4:", 0), 0u) << problems[1];
    EXPECT_EQ(problems[2].rfind("line 5:", 0), 0u) << problems[2];
    EXPECT_EQ(f.instances["A"].idtext, "A # B");
}
