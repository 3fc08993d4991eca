// Serves one directory over HTTP on 127.0.0.1 for the update benchmark; prints its port on the
// first line of standard output and serves until it is terminated.
#include <httplib.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: file_server <directory>\n");
    return 2;
  }
  httplib::Server server;
  if (!server.set_mount_point("/", argv[1])) {
    std::fprintf(stderr, "file_server: cannot serve %s\n", argv[1]);
    return 1;
  }
  const int port = server.bind_to_any_port("127.0.0.1");
  std::printf("%d\n", port);
  std::fflush(stdout);
  return server.listen_after_bind() ? 0 : 1;
}
