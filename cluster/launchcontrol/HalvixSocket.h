// The local socket between the launch-control component and its command-line client.
//
// Each manager that runs the component listens on a Unix stream socket
// "<dir>/manager-<pid>.sock", where <dir> is the user's private runtime directory
// ($XDG_RUNTIME_DIR/vemo-halvix, else /tmp/vemo-halvix-<uid>), mode 0700 and owned by the
// user. A connection from another user is refused after its peer credentials are read.
//
// The protocol is lines of text. The client sends one command ("start", "stop", "status"
// or "watch"); the component answers with "event <name>" lines for each notification of the
// manager while the connection is open ("initialized", "starting", "started", "stopping",
// "stopped") and one "result <word> <text>" line per command: "ok", "refused" (the manager
// said no) or "error" (the command was not understood).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace halvix {

// The private runtime directory "vemo-halvix" of the platform's PrivateRuntimeDir, made when
// missing; "" (with `error` set) when it cannot be made or is not safe to use.
std::string RuntimeDir(std::string& error);
// The socket path of the manager with process id `pid` in `dir`.
std::string SocketPath(const std::string& dir, pid_t pid);
// The process ids of the managers whose sockets lie in `dir` (live or not).
std::vector<pid_t> ListManagers(const std::string& dir);

// A listening socket, non-blocking; -1 with `error` set on failure. A stale socket file at
// the path is replaced.
int Listen(const std::string& path, std::string& error);
// A connection to the listening socket at `path`; -1 with `error` set on failure.
int Connect(const std::string& path, std::string& error);
// The user id of a connected peer (the platform's SocketPeerUid); false when the system
// cannot say.
bool PeerUid(int fd, uid_t& uid);

}  // namespace halvix
