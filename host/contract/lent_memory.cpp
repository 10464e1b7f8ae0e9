#include "lent_memory.h"

#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

struct Loan {
    char* base = nullptr;  // the pages
    std::size_t bytes = 0; // their size
    char* block = nullptr; // what was lent
    LentKind kind = LentKind::Text;
    bool revoked = false;
};

// Loans open, and those taken back last. Fixed storage: the crash handler reads it.
constexpr std::size_t maxLoans = 2048;
constexpr std::size_t quarantineSize = 1024;
Loan loans[maxLoans];
std::size_t revokedCount = 0;
std::uint64_t revokedOrder[maxLoans]; // when each was taken back
std::uint64_t clock = 0;

std::size_t pageSize() {
#ifdef _WIN32
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize;
#else
    return static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
#endif
}

char* mapPages(std::size_t bytes) {
#ifdef _WIN32
    return static_cast<char*>(
        VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
#else
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : static_cast<char*>(p);
#endif
}
void protectPages(char* base, std::size_t bytes) {
#ifdef _WIN32
    DWORD before = 0;
    VirtualProtect(base, bytes, PAGE_NOACCESS, &before);
#else
    mprotect(base, bytes, PROT_NONE);
#endif
}
void unmapPages(char* base, std::size_t bytes) {
#ifdef _WIN32
    (void)bytes;
    VirtualFree(base, 0, MEM_RELEASE);
#else
    munmap(base, bytes);
#endif
}

// A free slot: an unused one, else the loan taken back longest ago, whose pages go back.
Loan* freeSlot() {
    Loan* oldest = nullptr;
    for (Loan& loan : loans) {
        if (!loan.base) return &loan;
        if (loan.revoked && (!oldest || revokedOrder[&loan - loans] < revokedOrder[oldest - loans]))
            oldest = &loan;
    }
    if (!oldest) return nullptr;
    unmapPages(oldest->base, oldest->bytes);
    *oldest = Loan();
    --revokedCount;
    return oldest;
}

} // namespace

char* lendBytes(std::size_t size, LentKind kind) {
    static const std::size_t page = pageSize();
    // Past the quarantine, the oldest taken-back loan's pages go back to the system.
    if (revokedCount >= quarantineSize) {
        Loan* oldest = nullptr;
        for (Loan& loan : loans)
            if (loan.revoked &&
                (!oldest || revokedOrder[&loan - loans] < revokedOrder[oldest - loans]))
                oldest = &loan;
        if (oldest) {
            unmapPages(oldest->base, oldest->bytes);
            *oldest = Loan();
            --revokedCount;
        }
    }
    Loan* slot = freeSlot();
    if (!slot) return nullptr;
    const std::size_t bytes = (size + page - 1) / page * page + (size == 0 ? page : 0);
    char* base = mapPages(bytes);
    if (!base) return nullptr;
    *slot = Loan{base, bytes, base + bytes - size, kind, false};
    return slot->block;
}

void takeBack(char* block) {
    for (Loan& loan : loans) {
        if (loan.base && !loan.revoked && loan.block == block) {
            protectPages(loan.base, loan.bytes);
            loan.revoked = true;
            revokedOrder[&loan - loans] = ++clock;
            ++revokedCount;
            return;
        }
    }
}

bool wasTakenBack(const void* address, LentKind& kind) {
    const char* a = static_cast<const char*>(address);
    for (const Loan& loan : loans) {
        if (loan.base && loan.revoked && a >= loan.base && a < loan.base + loan.bytes) {
            kind = loan.kind;
            return true;
        }
    }
    return false;
}
