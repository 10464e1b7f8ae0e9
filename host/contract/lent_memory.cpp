#include "lent_memory.h"

#include <cstdint>
#include <map>

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
    LentKind kind = LentKind::Text;
};

// Loans open, by the block lent. Only the main thread lends and takes back.
std::map<const char*, Loan> openLoans;
// Loans taken back, oldest first from `oldest`: fixed storage, since the crash handler reads it.
constexpr std::size_t quarantineSize = 1024;
Loan quarantine[quarantineSize];
std::size_t oldest = 0;

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

} // namespace

char* lendBytes(std::size_t size, LentKind kind) {
    static const std::size_t page = pageSize();
    const std::size_t bytes = (size + page - 1) / page * page + (size == 0 ? page : 0);
    char* base = mapPages(bytes);
    if (!base) return nullptr;
    char* block = base + bytes - size;
    openLoans[block] = Loan{base, bytes, kind};
    return block;
}

void takeBack(char* block) {
    const auto found = openLoans.find(block);
    if (found == openLoans.end()) return;
    protectPages(found->second.base, found->second.bytes);
    // The oldest loan in quarantine makes room: its pages go back to the system.
    Loan& slot = quarantine[oldest];
    if (slot.base) unmapPages(slot.base, slot.bytes);
    slot = found->second;
    oldest = (oldest + 1) % quarantineSize;
    openLoans.erase(found);
}

bool wasTakenBack(const void* address, LentKind& kind) {
    const char* a = static_cast<const char*>(address);
    for (const Loan& loan : quarantine) {
        if (loan.base && a >= loan.base && a < loan.base + loan.bytes) {
            kind = loan.kind;
            return true;
        }
    }
    return false;
}
