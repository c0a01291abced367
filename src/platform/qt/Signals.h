#pragma once
#include <QWidget>

namespace quendo {

// A logout, a shutdown or Ctrl+C (SIGTERM, SIGHUP, SIGINT) closes `window` from the event loop,
// as the user would, so that what closing saves is saved, then ends every running event loop,
// a modal one too. Call once.
void CloseOnTerminationSignals(QWidget& window);

}  // namespace quendo
