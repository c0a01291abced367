#pragma once
#include <QObject>

#include "model/Platform.h"

namespace quendo {

// Holds logind's idle and sleep inhibitor ("idle:sleep", mode "block") on the system bus, as the
// descriptor logind hands out; where logind cannot be reached, the desktop's screen saver
// inhibition on the session bus. The calls are asynchronous: the interface never waits for a bus.
class StayAwakeDBus final : public QObject, public StayAwake {
public:
    StayAwakeDBus() = default;
    ~StayAwakeDBus() override;
    void Hold(bool on) override;
    // What is held now: logind's descriptor or the screen saver's cookie.
    bool Held() const { return fd_ >= 0 || cookie_ != 0; }

private:
    void AskLogind();
    void AskScreenSaver();
    void Let();

    bool wanted_ = false;
    bool asking_ = false;  // a request is on its way; its answer decides
    int fd_ = -1;
    unsigned cookie_ = 0;
};

}  // namespace quendo
