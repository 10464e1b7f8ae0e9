// The host contract as vorn-host holds a plug-in to it: every rule in one table, and one monitor
// through which every breach a host sees is recorded, named by its rule.
//
// What is detected, and how:
// - the result of dispatch for every message type (only a parent command may answer);
// - every command against the command grammar, to the byte (host_command.h);
// - send with an unknown mode or a null text, a command after "AS", a reply handed back that
//   the host did not give or gave back twice, a reply still held after the call that got it;
// - send from a thread other than the host's, or when the host is not inside a call into the
//   component (a thread of the plug-in's own that sends after dispatch returned);
// - writes into what the host lends for one call: the parent-command text, the button record
//   and its texts, the device record;
// - the end of a life: "AS" sent exactly once, as the last command.
// - reads of what was lent after the loan ended (a reply after its hand-back, a record or text
//   after its call): what the host lends lies on pages of their own that become unreadable
//   when the loan ends (lent_memory.h), so such a read faults at once, and the crash report
//   names the rule. The last 1024 loans stay unreadable; a read of an older one is not seen.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

enum class ContractRule {
    SendMode,
    NullCommand,
    Grammar,
    AfterAS,
    UnknownReply,
    ReplyKept,
    DispatchResult,
    EmptyAnswer,
    AnswerReused,
    ChangedBorrowed,
    ReadAfterLoan,
    ForeignThread,
    OutsideCall,
    NoAS,
    TooManyDeliveries,
};

struct ContractRuleText {
    ContractRule rule;
    const char* id;   // short, stable: "dispatch-result"
    const char* text; // the rule, one line
};

// Every rule, in the order above.
const std::vector<ContractRuleText>& contractRules();
const ContractRuleText& contractRule(ContractRule rule);

struct ContractBreach {
    ContractRule rule;
    std::string detail; // what was seen
    // "[id] detail": how a breach is shown everywhere.
    std::string text() const;
};

class ContractMonitor {
public:
    ContractMonitor();

    // The one way a breach is recorded.
    void breach(ContractRule rule, const std::string& detail);
    const std::vector<ContractBreach>& breaches() const { return breaches_; }

    // The host is inside a call into the component from here until the guard ends.
    class Call {
    public:
        explicit Call(ContractMonitor& monitor) : monitor_(monitor) { ++monitor_.depth_; }
        ~Call() { --monitor_.depth_; }
        Call(const Call&) = delete;
        Call& operator=(const Call&) = delete;

    private:
        ContractMonitor& monitor_;
    };

    // Checks that a send may happen now: false (after recording the breach, or counting it when
    // it comes from another thread, which must not touch the host's state) when it may not.
    bool mayHandleSend();
    // Sends from other threads, counted there and recorded on the host's thread by this call.
    void collectForeignSends();

private:
    std::vector<ContractBreach> breaches_;
    std::uintptr_t hostThread_; // the thread that made the host
    int depth_ = 0;
    std::atomic<int> foreignSends_{0};
};
