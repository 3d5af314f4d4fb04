#include "servers/tftp_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

int TftpTempCreate(const std::string& path, std::string& tmp) {
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string pattern = dir + "." + base + ".part-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back(0);
    int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return -1;
    // Others may read what was stored, as with any file the user creates.
    fchmod(fd, 0644);
    tmp = name.data();
    return fd;
}

int TftpTempCommit(int& fd, const std::string& tmp, const std::string& path) {
    int ok = fd >= 0 && close(fd) == 0;
    fd = -1;
    if (ok && rename(tmp.c_str(), path.c_str()) == 0) return 1;
    int e = errno;
    unlink(tmp.c_str());
    errno = e;
    return 0;
}

void TftpTempDiscard(int& fd, std::string& tmp) {
    if (fd >= 0) close(fd);
    fd = -1;
    if (!tmp.empty()) unlink(tmp.c_str());
    tmp.clear();
}
