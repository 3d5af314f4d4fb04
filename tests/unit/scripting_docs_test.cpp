// Runs every example of docs/scripting.md: each script block followed by an
// output or boxes block is run, and what ECHO printed and the messages shown
// must be exactly what the page says.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <mutex>
#include <sstream>

#include "app/oxel.h"
#include "fake_ui.h"
#include "proc.h"
#include "script/scripting.h"

namespace {

std::mutex g_mu;
std::string g_out;

// ECHO as the examples use it: the words joined by blanks, one line each.
int Echo(int argc, char** argv) {
    std::lock_guard l(g_mu);
    for (int i = 1; i < argc; i++) g_out += (i > 1 ? " " : "") + std::string(argv[i]);
    g_out += "\n";
    return 0;
}

struct Block {
    std::string kind, name, text;
};

std::vector<Block> FencedBlocks(const std::string& path) {
    std::ifstream in(path);
    std::vector<Block> blocks;
    std::string line;
    Block* open = nullptr;
    while (std::getline(in, line)) {
        if (line.rfind("```", 0) == 0) {
            if (open) {
                open = nullptr;
                continue;
            }
            std::istringstream info(line.substr(3));
            Block b;
            info >> b.kind >> b.name;
            blocks.push_back(b);
            open = &blocks.back();
            continue;
        }
        if (open) open->text += line + "\n";
    }
    return blocks;
}

}  // namespace

TEST(ScriptingDocs, ExamplesRunAsPrinted) {
    FakeUi ui;
    TempDir home;
    mkdir((home.path() + "/scripts").c_str(), 0755);
    SetInstallDir(home.path());
    InitScripting();
    ScriptSetHandler("ECHO", Echo);
    auto blocks = FencedBlocks(SourceDir() + "/docs/scripting.md");
    int run = 0;
    for (size_t i = 0; i < blocks.size(); i++) {
        const Block& b = blocks[i];
        if (b.kind != "script") continue;
        ASSERT_FALSE(b.name.empty());
        home.Write("scripts/" + b.name, b.text);
        std::string wantOut, wantBoxes;
        size_t j = i + 1;
        for (; j < blocks.size() && (blocks[j].kind == "output" || blocks[j].kind == "boxes"); j++)
            (blocks[j].kind == "output" ? wantOut : wantBoxes) += blocks[j].text;
        if (j == i + 1) continue;  // a helper the next example runs
        ui.Reset();
        {
            std::lock_guard l(g_mu);
            g_out.clear();
        }
        ASSERT_EQ(run_script(b.name.c_str(), nullptr), 1) << b.name;
        ASSERT_TRUE(ScriptWaitIdle(20000)) << b.name;
        std::string boxes;
        for (const auto& box : ui.Boxes()) boxes += UiBoxLine(box.title, box.text) + "\n";
        std::lock_guard l(g_mu);
        EXPECT_EQ(g_out, wantOut) << b.name;
        EXPECT_EQ(boxes, wantBoxes) << b.name;
        run++;
    }
    EXPECT_GE(run, 10);
}
