#include "contract_monitor.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <thread>

TEST(ContractMonitor, TheReadmeListsEveryRuleAsTheTableHasIt) {
    std::ifstream in(VORN_README);
    std::stringstream readme;
    readme << in.rdbuf();
    std::string listed;
    for (std::string line; std::getline(readme, line);)
        if (line.rfind("- `", 0) == 0 && line.find("`: ") != std::string::npos)
            listed += line + "\n";
    std::string table;
    for (const ContractRuleText& rule : contractRules())
        table += std::string("- `") + rule.id + "`: " + rule.text + "\n";
    EXPECT_NE(listed.find(table), std::string::npos) << "README.md should list, in order:\n"
                                                     << table;
}

TEST(ContractMonitor, SendsOutsideACallOrFromAnotherThreadAreBreaches) {
    ContractMonitor monitor;
    EXPECT_FALSE(monitor.mayHandleSend());
    {
        ContractMonitor::Call call(monitor);
        EXPECT_TRUE(monitor.mayHandleSend());
        bool fromThere = true;
        std::thread([&] { fromThere = monitor.mayHandleSend(); }).join();
        EXPECT_FALSE(fromThere);
    }
    monitor.collectForeignSends();
    ASSERT_EQ(monitor.breaches().size(), 2u);
    EXPECT_EQ(monitor.breaches()[0].text(),
              "[outside-call] send while the host was not calling the component");
    EXPECT_EQ(monitor.breaches()[1].text(),
              "[foreign-thread] 1 send from a thread other than the host's");
}
