#pragma once
// A logout, a kill or Ctrl+C in the terminal ends the program as its close box does.

class QWidget;

namespace sequora::platform {

/// Turns SIGTERM, SIGINT and SIGHUP into a close of window, run by the event loop (a
/// dialog's own loop too), so the device is stopped and closed as on any close. A second
/// signal before the program has ended ends it at once, as without this. Signals the
/// program was started to ignore (nohup) stay ignored. Routes to one window at a time;
/// when it is destroyed the signals act as before. False when they could not be routed.
bool closeOnTerminationSignals(QWidget& window);

} // namespace sequora::platform
