#pragma once

#include <QtGlobal>

namespace praxon {

// Call before the application object exists. GLib's main loop, which Qt uses on Linux when it is
// there, rounds timer waits up to whole milliseconds; the 2 ms end-of-reply timer and thousands of
// short exchanges per download need the finer waits of Qt's own event dispatcher. A value the user
// set is left alone.
inline void PreferFineTimers() {
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB")) qputenv("QT_NO_GLIB", "1");
}

}  // namespace praxon
