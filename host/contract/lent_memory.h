// What the host lends the component, on pages of its own that are taken back when the loan ends:
// a read after that (of a reply after its hand-back, of a record after its call) faults at once,
// as a memory checker would make it, and the crash report names the rule from the address.
//
// Each loan takes whole pages; the last pages taken back stay unreadable (a quarantine of
// quarantineSize loans) before their memory is given back to the system.
#pragma once

#include <cstddef>

enum class LentKind { Reply, Record, Text };

// A block of size bytes that ends where its last page ends, so that a read past its end faults
// too; null when the system gives no memory.
char* lendBytes(std::size_t size, LentKind kind);
// The loan is over: the block's pages become unreadable.
void takeBack(char* block);
// The kind of loan whose pages hold address after they were taken back; false when none does.
// Async-signal-safe: the crash handler asks it.
bool wasTakenBack(const void* address, LentKind& kind);
