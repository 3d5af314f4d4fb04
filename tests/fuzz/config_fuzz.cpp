// libFuzzer target for the configuration file reader: the input is written
// to a file and loaded as the program loads a configuration at start.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "config/configfile.h"
#include "config/configrecord.h"
#include "config/shellvar.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = [] {
        ShellVarInit();
        char name[] = "/tmp/oxel-config-fuzz-XXXXXX";
        int fd = mkstemp(name);
        if (fd >= 0) close(fd);
        return std::string(name);
    }();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    ConfigInitDefaults();
    ConfigLoad(path.c_str());
    return 0;
}
