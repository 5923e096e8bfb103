#pragma once

#include <QString>
#include <optional>
#include <vector>

#include "Language.h"
#include "PortList.h"

class QIODevice;

namespace praxon::cli {

// The texts of ports and --port auto, in both languages.
enum class PortText { NoPorts, AutoPicked, AutoNone, AutoSeveral, PortsPresent };
QString portText(PortText text, Language language);

// ports: one line per port, the names padded to one column, then what is known of each.
QString PortListText(const std::vector<PortInfo>& ports);
// ports --json: one JSON object per port and line.
QString PortListJson(const std::vector<PortInfo>& ports);

// ports: the list on out (the absence of any port is said on err). Returns the exit status.
int ListPorts(PortSource& source, bool json, Language language, QIODevice& out, QIODevice& err);

// The port to open for --port NAME: NAME itself, or for auto the only USB serial adapter present
// (said on err). None when auto finds no adapter or several: err then names the ports found.
std::optional<QString> ResolvePort(const QString& requested, PortSource& source, Language language,
                                   QIODevice& err);

}  // namespace praxon::cli
