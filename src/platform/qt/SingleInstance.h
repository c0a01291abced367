#pragma once
#include <functional>
#include <memory>
#include <string>

class QLocalServer;
class QTimer;

namespace quendo {

// One running copy for one folder of program files. The first copy holds a lock on a file in
// the folder, which the system lets go when the process ends however it ends, and listens on a
// local socket named after the folder in the user's runtime folder; a later copy finds the lock
// taken and asks the first, through the socket, to come to the front.
class SingleInstance {
public:
    // `successor`: this copy was started by the running one, which is ending: it waits a moment
    // for the lock rather than give way, and then runs all the same, taking the lock (and the
    // socket) once the other copy lets go. Wants a running Qt application.
    explicit SingleInstance(const std::string& folder, bool successor = false);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // False when another live copy holds the folder. A folder where no lock file can be made
    // holds nothing, and every copy there is first.
    bool First() const { return first_; }
    // Called on the interface thread when a later copy asks for the window.
    std::function<void()> onRaise;
    // For a later copy: asks the first to raise its window; false when it could not be told.
    bool RaiseFirst(int timeoutMs = 3000) const;

    // The socket's path for a folder: the same for every copy of this user on that folder, in
    // $XDG_RUNTIME_DIR, or in the temporary folder where that is not set.
    static std::string SocketName(const std::string& folder);

private:
    void Listen();

    int lockFd_ = -1;
    bool first_ = true;
    std::string name_;
    std::unique_ptr<QLocalServer> server_;
    std::unique_ptr<QTimer> retry_;  // a successor's, until it holds the lock
};

}  // namespace quendo
