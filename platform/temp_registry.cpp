#include "platform/temp_registry.h"

#include <climits>
#include <csignal>
#include <cstring>
#include <unistd.h>

#include <atomic>

namespace platform {

namespace {

const int kSlots = 64;
struct Slot {
    volatile sig_atomic_t used;
    int dirfd;
    char name[NAME_MAX + 1];
};
Slot slots[kSlots];

} // namespace

int RegisterTemporary(int dirfd, const std::string& name)
{
    if (name.size() > NAME_MAX) return -1;
    for (int i = 0; i < kSlots; ++i) {
        if (slots[i].used) continue;
        std::memcpy(slots[i].name, name.c_str(), name.size() + 1);
        slots[i].dirfd = dirfd;
        std::atomic_signal_fence(std::memory_order_seq_cst);   // filled before marked
        slots[i].used = 1;
        return i;
    }
    return -1;
}

void UnregisterTemporary(int slot, int dirfd, const std::string& name)
{
    if (slot < 0 || slot >= kSlots) return;
    if (slots[slot].used && slots[slot].dirfd == dirfd && name == slots[slot].name) slots[slot].used = 0;
}

void RemoveTemporaries()
{
    for (int i = 0; i < kSlots; ++i) {
        if (!slots[i].used) continue;
        unlinkat(slots[i].dirfd, slots[i].name, 0);
        slots[i].used = 0;
    }
}

} // namespace platform
