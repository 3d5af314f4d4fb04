// A GOTO loop of 100 000 iterations in a 500-line script, the tag near the
// end so that every jump looks past most of the file.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "app/oxel.h"
#include "script/scripting.h"
#include "config/shellvar.h"

namespace {

std::string MakeHome() {
    char dir[] = "/tmp/oxelbench-XXXXXX";
    if (!mkdtemp(dir)) std::abort();
    std::string home = dir;
    mkdir((home + "/scripts").c_str(), 0755);
    std::ofstream f(home + "/scripts/loop.scr");
    f << "SET i 0\n";
    for (int n = 2; n <= 496; n++) f << (n % 2 ? "# filler comment line\n" : "SET filler " + std::to_string(n) + "\n");
    f << "# LOOP:\n"
      << "SET i=i+1\n"
      << "IF $i lt 100000 GOTO LOOP\n"
      << "SET done yes\n";
    return home;
}

void BM_ScriptGotoLoop(benchmark::State& state) {
    static std::string home = MakeHome();
    SetInstallDir(home);
    InitScripting();
    for (auto _ : state) {
        shell_setenv("done", nullptr);
        if (run_script("loop.scr", nullptr) != 1 || !ScriptWaitIdle(600000)) state.SkipWithError("script did not run");
        if (shell_getenv("i").value_or("") != "100000") state.SkipWithError("wrong count");
    }
    state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_ScriptGotoLoop)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
