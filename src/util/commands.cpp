#include "util/commands.h"

#include <mutex>

namespace {
std::mutex g_mu;
std::vector<CommandEntry> g_table;
}  // namespace

void CommandRegister(CommandEntry entry) {
    std::lock_guard l(g_mu);
    for (auto& e : g_table)
        if (e.id == entry.id) {
            e = std::move(entry);
            return;
        }
    g_table.push_back(std::move(entry));
}

bool CommandDispatch(int id) {
    std::function<void()> run;
    {
        std::lock_guard l(g_mu);
        for (const auto& e : g_table)
            if (e.id == id) run = e.run;
    }
    if (!run) return false;
    run();
    return true;
}

std::vector<CommandEntry> CommandTable() {
    std::lock_guard l(g_mu);
    return g_table;
}
