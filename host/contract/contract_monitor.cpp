#include "contract_monitor.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace {
// This thread, as the system names it (MinGW's thread model for vorn-host.exe has no
// std::thread).
std::uintptr_t currentThread() {
#ifdef _WIN32
    return static_cast<std::uintptr_t>(GetCurrentThreadId());
#else
    return reinterpret_cast<std::uintptr_t>(reinterpret_cast<void*>(pthread_self()));
#endif
}
} // namespace

ContractMonitor::ContractMonitor() : hostThread_(currentThread()) {}

const std::vector<ContractRuleText>& contractRules() {
    static const std::vector<ContractRuleText> rules = {
        {ContractRule::SendMode, "send-mode",
         "send is called with mode 0 (a command) or 5 (a reply handed back)"},
        {ContractRule::NullCommand, "null-command", "a command text is never null"},
        {ContractRule::Grammar, "grammar",
         "a command is a known word, then each field after one space: decimal 32-bit numbers, "
         "texts in single quotes"},
        {ContractRule::AfterAS, "after-as", "nothing is sent after AS"},
        {ContractRule::UnknownReply, "unknown-reply",
         "only a reply send returned is handed back, and only once"},
        {ContractRule::ReplyKept, "reply-kept",
         "a reply is handed back before the call that got it returns"},
        {ContractRule::DispatchResult, "dispatch-result",
         "dispatch returns null for every message but a parent command (type 3)"},
        {ContractRule::EmptyAnswer, "empty-answer",
         "an answer buffer holds a non-empty text; no answer is null"},
        {ContractRule::AnswerReused, "answer-reused",
         "an answer buffer is new each time: one not yet handed back is never given again"},
        {ContractRule::ChangedBorrowed, "changed-borrowed",
         "what the host lends for one call (texts, records) is only read"},
        {ContractRule::ReadAfterLoan, "read-after-loan",
         "what the host lends is read only while the loan lasts: a reply until its hand-back, a "
         "record or text during its call"},
        {ContractRule::ForeignThread, "foreign-thread", "send is called only on the host's thread"},
        {ContractRule::OutsideCall, "outside-call",
         "send is called only while the host is calling the component"},
        {ContractRule::NoAS, "no-as", "a component ends by sending AS, once, as its last command"},
        {ContractRule::TooManyDeliveries, "too-many-deliveries",
         "one step causes at most 10000 deliveries (a component and a facility that answer each "
         "other end)"},
    };
    return rules;
}

const ContractRuleText& contractRule(ContractRule rule) {
    return contractRules()[static_cast<std::size_t>(rule)];
}

std::string ContractBreach::text() const {
    return std::string("[") + contractRule(rule).id + "] " + detail;
}

void ContractMonitor::breach(ContractRule rule, const std::string& detail) {
    breaches_.push_back({rule, detail});
}

bool ContractMonitor::mayHandleSend() {
    if (currentThread() != hostThread_) {
        foreignSends_.fetch_add(1);
        return false;
    }
    collectForeignSends();
    if (depth_ == 0) {
        breach(ContractRule::OutsideCall, "send while the host was not calling the component");
        return false;
    }
    return true;
}

void ContractMonitor::collectForeignSends() {
    const int n = foreignSends_.exchange(0);
    if (n > 0)
        breach(ContractRule::ForeignThread, std::to_string(n) + (n == 1 ? " send" : " sends") +
                                                " from a thread other than the host's");
}
