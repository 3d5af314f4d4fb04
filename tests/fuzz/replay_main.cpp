// Replays a fuzz target's corpus and saved reproducers without libFuzzer, so
// every test run feeds each parser its known inputs: a fixed fault stays fixed.
// Usage: TARGET DIR... (a directory that does not exist is skipped).
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int ReplayDir(const std::string& dir) {
    DIR* d = opendir(dir.c_str());
    if (!d) return 0;
    int n = 0;
    while (dirent* e = readdir(d)) {
        const std::string path = dir + "/" + e->d_name;
        struct stat st {};
        if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        std::ifstream in(path, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        ++n;
    }
    closedir(d);
    return n;
}

}  // namespace

int main(int argc, char** argv) {
    int total = 0;
    for (int i = 1; i < argc; ++i) total += ReplayDir(argv[i]);
    std::printf("replayed %d inputs\n", total);
    return total > 0 ? 0 : 1;   // an empty corpus means the target was never fed
}
