// Host commands: how long a global event takes to reach a waiter (the wake-up
// latency one Oxel instance sees when another sets it), and how fast Lua
// reaches the program through oxel.getenv/setenv.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <chrono>
#include <string>
#include <thread>

#include "config/shellvar.h"
#include "platform/globalevent.h"
#include "script/lua_glue.h"
#include "script/scripting.h"

namespace {

void BM_GlobalEventSetToWake(benchmark::State& state) {
    std::string dir = "/tmp/oxel-bench-events-" + std::to_string(getpid());
    mkdir(dir.c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    for (auto _ : state) {
        GlobalEventReset(5);
        // The set comes 2 ms after the wait began, so the time is 2 ms plus
        // the wake-up latency.
        std::thread setter([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            GlobalEventSet(5);
        });
        if (GlobalEventWait(5, 5000) != 1) state.SkipWithError("the event did not come");
        setter.join();
    }
}
BENCHMARK(BM_GlobalEventSetToWake)->Unit(benchmark::kMillisecond);

void BM_LuaSetenvGetenv(benchmark::State& state) {
    InitScripting();
    char prog[] = "LUA", e[] = "-e",
         stat[] = "for i = 1, 10000 do oxel.setenv('B', tostring(i)); assert(oxel.getenv('B')) end";
    char* argv[] = {prog, e, stat};
    for (auto _ : state) benchmark::DoNotOptimize(LuaMain(3, argv));
    state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_LuaSetenvGetenv)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
