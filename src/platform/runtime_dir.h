// The user's private runtime directory, where the programs of one user meet over local
// sockets (the message bus, the launch-control socket), and the check of who is on the other
// end of such a socket.
#pragma once

#include <sys/types.h>

#include <string>

namespace platform {

// The private directory `name` of this user: "$XDG_RUNTIME_DIR/<name>/" when XDG_RUNTIME_DIR
// holds an absolute path (a relative one is ignored, as the XDG base directory rules want),
// else "/tmp/<name>-<uid>/". It is made with mode 0700 when missing. "" with the reason in
// `error` when it cannot be made, or when what is there is not safe to use: not a directory
// (a symbolic link counts as not), owned by another user, or open to group or others.
std::string PrivateRuntimeDir(const std::string& name, std::string& error);

// The user id of the process at the other end of a connected Unix socket (SO_PEERCRED);
// false when the system cannot say.
bool SocketPeerUid(int fd, uid_t& uid);

}  // namespace platform
