// korvane-indexer: a JSON-RPC 2.0 server on standard input and output that indexes Python
// sources and stubs into the symbols each module exports.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "log/log.h"
#include "protocol/lifecycle.h"
#include "server/server.h"
#include "server/transport.h"
#include "util/os_error.h"

namespace {

constexpr std::string_view kTarget = "korvane_indexer";

constexpr std::string_view kHelp =
    "korvane-indexer - Python symbol indexer for the Korvane editor extension\n"
    "\n"
    "USAGE:\n"
    "    korvane-indexer [OPTIONS]\n"
    "\n"
    "OPTIONS:\n"
    "    -h, --help       Print this help message\n"
    "    -v, --version    Print version information\n"
    "\n"
    "DESCRIPTION:\n"
    "    This program runs a JSON-RPC 2.0 server over stdio, accepting requests\n"
    "    to index Python files for symbol extraction. It is designed to be spawned\n"
    "    by Korvane as a child process.\n"
    "\n"
    "    Communication uses LSP-style Content-Length framing.\n"
    "\n"
    "ENVIRONMENT:\n"
    "    RUST_LOG    Set log level (e.g., RUST_LOG=debug, RUST_LOG=korvane_indexer=trace)\n"
    "\n"
    "PROTOCOL:\n"
    "    The server supports the following methods:\n"
    "    - initialize: Initialize the server with configuration\n"
    "    - indexFiles: Index a batch of Python files\n"
    "    - ping: Health check\n"
    "    - shutdown: Gracefully shutdown the server\n"
    "\n"
    "    Cancellation is supported via the $/cancelRequest notification.\n"
    "\n"
    "EXAMPLE:\n"
    "    Start the server and send an initialize request:\n"
    "    \n"
    "    $ echo -e 'Content-Length: "
    "83\\r\\n\\r\\n{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"initialize\",\"params\":{"
    "\"protocolVersion\":\"1.0.0\"}}' | korvane-indexer\n";

bool any_argument(int argc, char** argv, std::string_view a, std::string_view b) {
  for (int i = 0; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == a || arg == b) return true;
  }
  return false;
}

void write_stdout(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);  // a failed flush changes nothing about the exit status
}

// A parent's soft open-file limit is often far below the hard one, and deep package walks and
// large batches want descriptors; only the hard limit is a real ceiling.
void raise_open_file_limit() {
  rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
  const rlim_t soft = limit.rlim_cur;
  limit.rlim_cur = limit.rlim_max;
  if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) {
    const int error = errno;
    KLOG_DEBUG(kTarget, "Could not raise the soft limit of open files from {} to {}: {}", soft,
               limit.rlim_max, korvane::os_error_text(error));
    return;
  }
  KLOG_DEBUG(kTarget, "Raised the soft limit of open files from {} to {}", soft, limit.rlim_max);
}

}  // namespace

int main(int argc, char** argv) {
  // A write to a closed standard output must fail with an error the loop reports, not kill us.
  ::signal(SIGPIPE, SIG_IGN);

  if (any_argument(argc, argv, "-v", "--version")) {
    write_stdout(
        fmt::format("{} {}\n", korvane::protocol::kServerName, korvane::protocol::kServerVersion));
    return 0;
  }
  if (any_argument(argc, argv, "-h", "--help")) {
    write_stdout(kHelp);
    return 0;
  }

  korvane::log::install_from_environment();
  KLOG_INFO(kTarget, "Starting korvane-indexer v{} (protocol v{})",
            korvane::protocol::kServerVersion, korvane::protocol::kProtocolVersion);
  raise_open_file_limit();

  auto server = std::make_unique<korvane::server::Server>();
  korvane::server::Transport transport(STDIN_FILENO, STDOUT_FILENO);
  auto run = transport.loop(*server);
  if (!run) {
    KLOG_ERROR(kTarget, "Server error: {}", run.error().long_form());
    std::fflush(stdout);
    // The server is left as it is: nothing of it needs to outlive a fatal error.
    std::_Exit(1);
  }
  KLOG_INFO(kTarget, "Server shutdown complete");
  server.reset();
  return 0;
}
