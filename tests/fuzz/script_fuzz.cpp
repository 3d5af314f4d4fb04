// libFuzzer target for a script line as the runner takes it apart: the
// tokenizer, the option parser, command-line expansion and the evaluator.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "config/shellvar.h"
#include "script/eval.h"
#include "script/expand.h"
#include "util/cmdline.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool init = [] {
        ShellVarInit();
        shell_setenv("A", "1");
        shell_setenv("B", "$A+$A");
        return true;
    }();
    (void)init;
    std::string line(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> words;
    if (SplitArgs(line, words) && !words.empty()) {
        auto argv = ArgvOf(words);
        script_getopt_reset();
        while (script_getopt(static_cast<int>(argv.size()), argv.data(), "ab:c:d") != -1) {
        }
    }
    std::string expanded = line;
    if (expanded.size() < 2048) cmdline_expand(expanded);
    std::string text;
    EvalInteger(line, text);
    EvalFloat(line, text);
    return 0;
}
