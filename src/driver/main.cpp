#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

#include "driver/run.h"

namespace {

// A program started with standard input, output or error closed (daemon launchers, `>&-`)
// would otherwise hand those numbers to the first files it opens, and console lines would
// land inside the reports. Each closed one is opened on /dev/null before anything else.
void openClosedStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    openClosedStandardDescriptors();
    return vanto::runVanto(argc, argv, std::cout, std::cerr);
}
