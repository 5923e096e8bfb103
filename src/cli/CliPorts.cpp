#include "CliPorts.h"

#include <QIODevice>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

#include "CliOptions.h"
#include "CliRunner.h"

namespace praxon::cli {

namespace {

struct PortTextRow {
    PortText id;
    const char* chinese;
    const char* english;
};

// %1: a count; the port lines follow the texts that end in a colon.
constexpr PortTextRow kPortTexts[] = {
    {PortText::NoPorts, "未找到串口。", "No serial port found."},
    {PortText::AutoPicked, "--port auto：选用 ", "--port auto: using "},
    {PortText::AutoNone, "--port auto：未找到 USB 串口适配器。",
     "--port auto: no USB serial adapter found."},
    {PortText::AutoSeveral, "--port auto：找到 %1 个 USB 串口适配器，请用 --port 指定其一：",
     "--port auto: %1 USB serial adapters found; name one with --port:"},
    {PortText::PortsPresent, "现有串口：", "Serial ports present:"},
};

// The port lines under a heading, indented.
QString indented(const QString& lines) {
    QString text;
    for (const QString& line : lines.split('\n', Qt::SkipEmptyParts)) text += "  " + line + '\n';
    return text;
}

QString hex4(uint16_t value) {
    return QString::asprintf("%04x", value);
}

}  // namespace

QString portText(PortText text, Language language) {
    for (const PortTextRow& row : kPortTexts)
        if (row.id == text)
            return QString::fromUtf8(language == Language::Chinese ? row.chinese : row.english);
    return QString();
}

QString PortListText(const std::vector<PortInfo>& ports) {
    qsizetype width = 0;
    for (const PortInfo& p : ports) width = std::max(width, p.name.size());
    QString text;
    for (const PortInfo& p : ports) {
        const QString details = PortDetails(p);
        text += details.isEmpty() ? p.name : p.name.leftJustified(width + 2) + details;
        text += QLatin1Char('\n');
    }
    return text;
}

QString PortListJson(const std::vector<PortInfo>& ports) {
    QString text;
    for (const PortInfo& p : ports) {
        QJsonObject o{{"kind", "port"},
                      {"name", p.name},
                      {"location", p.location},
                      {"description", p.description},
                      {"manufacturer", p.manufacturer},
                      {"serialNumber", p.serialNumber},
                      {"usb", p.isUsb()},
                      {"simulated", p.simulated}};
        if (p.isUsb()) {
            o.insert("vendorId", hex4(*p.vendorId));
            o.insert("productId", hex4(*p.productId));
        }
        text += QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)) + '\n';
    }
    return text;
}

int ListPorts(PortSource& source, bool json, Language language, QIODevice& out, QIODevice& err) {
    const std::vector<PortInfo> ports = source.ports();
    if (ports.empty() && !json) err.write((portText(PortText::NoPorts, language) + '\n').toUtf8());
    out.write((json ? PortListJson(ports) : PortListText(ports)).toUtf8());
    return ExitSuccess;
}

std::optional<QString> ResolvePort(const QString& requested, PortSource& source, Language language,
                                   QIODevice& err) {
    if (requested != QLatin1String(kAutoPort)) return requested;
    const std::vector<PortInfo> ports = source.ports();
    const AutoPortChoice choice = ChooseAutoPort(ports);
    QString text;
    switch (choice.outcome) {
        case AutoPortChoice::One:
            err.write((portText(PortText::AutoPicked, language) + PortListText(choice.adapters))
                          .toUtf8());
            return choice.adapters.front().name;
        case AutoPortChoice::None:
            text = portText(PortText::AutoNone, language) + '\n';
            if (!ports.empty())
                text += portText(PortText::PortsPresent, language) + '\n' +
                        indented(PortListText(ports));
            break;
        case AutoPortChoice::Several:
            text = portText(PortText::AutoSeveral, language).arg(choice.adapters.size()) + '\n' +
                   indented(PortListText(choice.adapters));
            break;
    }
    err.write(("praxon-cli: " + text).toUtf8());
    return std::nullopt;
}

}  // namespace praxon::cli
