// vorav-server entry point. The server's start-up is not built yet: for now
// the program prints its usage and exits.
#include <cstdio>

int main(int argc, char** argv) {
    (void)argc;
    std::printf("usage: %s [--help|-?] [--gui-only|-g] [--host-only|-h] [--config|-c FILE] "
                "[--time|-t SECONDS] [--server-uid|-s SERIAL]\n",
                argv[0]);
    std::printf("main: the location server core is not built yet; nothing to run.\n");
    std::fflush(stdout);
    return 0;
}
