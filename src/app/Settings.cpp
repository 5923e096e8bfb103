#include "Settings.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QStringList>
#include <QVariant>
#include <memory>

#include "Engine.h"
#include "Translations.h"

namespace praxon {

namespace {

const char kOrganization[] = "Praxon";
const char kSection[] = "Config";

std::unique_ptr<QSettings> openStore() {
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QString::fromLatin1(kOrganization), configApplicationName());
}

QString key(const char* name) {
    return QString::fromLatin1(kSection) + QLatin1Char('/') + QString::fromLatin1(name);
}

// Every value is a string. A hand-edited line such as "ADD=1,2" reads back as a list; take it
// as the text that was typed rather than losing it.
QString readString(QSettings& store, const char* name, const QString& fallback) {
    const QVariant value = store.value(key(name));
    if (!value.isValid()) return fallback;
    if (value.userType() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    if (!value.canConvert<QString>()) return QString();
    return value.toString();
}

bool readFlag(QSettings& store, const char* name, bool fallback) {
    return readString(store, name, fallback ? QStringLiteral("1") : QStringLiteral("0")) ==
           QLatin1String("1");
}

// One of two words; anything else is the first.
bool readChoice(QSettings& store, const char* name, const char* first, const char* second) {
    return readString(store, name, QString::fromLatin1(first)) == QLatin1String(second);
}

uint32_t readAddress(QSettings& store, const char* name, uint32_t fallback) {
    static const QRegularExpression hex(QStringLiteral("^[0-9A-Fa-f]{1,8}$"));
    const QString text = readString(store, name, QString()).trimmed();
    if (!hex.match(text).hasMatch()) return fallback;
    return text.toUInt(nullptr, 16);
}

WiredLine readLine(QSettings& store, const char* name, bool* valid) {
    const QString text = readString(store, name, QStringLiteral("none"));
    if (text == QLatin1String("dtr")) return WiredLine::Dtr;
    if (text == QLatin1String("rts")) return WiredLine::Rts;
    if (text != QLatin1String("none")) *valid = false;
    return WiredLine::None;
}

QString lineName(WiredLine line) {
    return line == WiredLine::Dtr   ? QStringLiteral("dtr")
           : line == WiredLine::Rts ? QStringLiteral("rts")
                                    : QStringLiteral("none");
}

// Only the wirings the options dialog offers: none, or reset and BOOT0 on one line each.
Wiring readWiring(QSettings& store) {
    bool valid = true;
    Wiring w;
    w.reset = readLine(store, "ResetLine", &valid);
    w.boot0 = readLine(store, "Boot0Line", &valid);
    w.resetInverted = readFlag(store, "ResetInverted", false);
    w.boot0Inverted = readFlag(store, "Boot0Inverted", false);
    const bool none = w.reset == WiredLine::None && w.boot0 == WiredLine::None;
    const bool split =
        w.reset != WiredLine::None && w.boot0 != WiredLine::None && w.reset != w.boot0;
    return valid && (none || split) ? w : Wiring();
}

QString readSequence(QSettings& store) {
    const QString text = readString(store, "Sequence", QString());
    SequenceError error;
    return !text.trimmed().isEmpty() && ParseSequence(text, &error) ? text : QString();
}

int readBaudRate(QSettings& store, int fallback) {
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,7}$"));
    const QString text = readString(store, "Baud", QString());
    if (!digits.match(text).hasMatch() || !IsSupportedBaudRate(text.toInt())) return fallback;
    return text.toInt();
}

// Empty, or a speed the turbo loader is not offered at: the connect speed (0).
int readTurboBaudRate(QSettings& store) {
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,7}$"));
    const QString text = readString(store, "TurboBaud", QString());
    if (!digits.match(text).hasMatch() || !IsTurboLineSpeed(text.toInt())) return 0;
    return text.toInt();
}

int readFlashKB(QSettings& store) {
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,5}$"));
    const QString text = readString(store, "FlashKB", QString());
    const int kb = digits.match(text).hasMatch() ? text.toInt() : 0;
    return kb <= 0xFFFF ? kb : 0;
}

void writeAll(QSettings& store, const ConfigValues& v) {
    store.setValue(key("FileName"), v.fileName);
    store.setValue(key("ADD"), v.goAddress);
    store.setValue(key("Erase"), v.erase ? QStringLiteral("1") : QStringLiteral("0"));
    store.setValue(key("Check"), v.check ? QStringLiteral("1") : QStringLiteral("0"));
    store.setValue(key("ReadPortect"), v.readProtect ? QStringLiteral("1") : QStringLiteral("0"));
    store.setValue(key("WriteMode"), v.writeMode == WriteMode::Compatible
                                         ? QStringLiteral("compatible")
                                     : v.writeMode == WriteMode::Turbo ? QStringLiteral("turbo")
                                                                       : QStringLiteral("fast"));
    store.setValue(key("TurboBaud"),
                   v.turboBaudRate ? QString::number(v.turboBaudRate) : QString());
    store.setValue(key("EraseScope"),
                   v.erasePagesOnly ? QStringLiteral("pages") : QStringLiteral("chip"));
    store.setValue(key("BinAddress"),
                   QStringLiteral("%1").arg(v.binAddress, 8, 16, QLatin1Char('0')).toUpper());
    store.setValue(key("ResetLine"), lineName(v.wiring.reset));
    store.setValue(key("ResetInverted"),
                   v.wiring.resetInverted ? QStringLiteral("1") : QStringLiteral("0"));
    store.setValue(key("Boot0Line"), lineName(v.wiring.boot0));
    store.setValue(key("Boot0Inverted"),
                   v.wiring.boot0Inverted ? QStringLiteral("1") : QStringLiteral("0"));
    store.setValue(key("Sequence"), v.sequence);
    store.setValue(key("Baud"), QString::number(v.baudRate));
    store.setValue(key("RunAfterProgram"),
                   v.runAfterProgram ? QStringLiteral("1") : QStringLiteral("0"));
    store.setValue(key("FlashKB"), v.flashKB > 0 ? QString::number(v.flashKB) : QString());
    store.setValue(key("Language"), languageCode(v.language));
    store.sync();
}

}  // namespace

QString configApplicationName() {
    const QString exe = QCoreApplication::applicationFilePath();
    const QString name = QFileInfo(exe).completeBaseName();
    return name.isEmpty() ? QStringLiteral("praxon") : name;
}

QString configFilePath() {
    return openStore()->fileName();
}

ConfigValues readConfig() {
    ConfigValues values;
    auto store = openStore();
    if (store->status() != QSettings::NoError) return values;
    values.fileName = readString(*store, "FileName", values.fileName);
    values.goAddress = readString(*store, "ADD", values.goAddress);
    values.erase = readFlag(*store, "Erase", values.erase);
    values.check = readFlag(*store, "Check", values.check);
    values.readProtect = readFlag(*store, "ReadPortect", values.readProtect);
    const QString mode = readString(*store, "WriteMode", QString());
    values.writeMode = mode == QLatin1String("compatible") ? WriteMode::Compatible
                       : mode == QLatin1String("turbo")    ? WriteMode::Turbo
                                                           : WriteMode::Fast;
    values.turboBaudRate = readTurboBaudRate(*store);
    values.erasePagesOnly = readChoice(*store, "EraseScope", "chip", "pages");
    values.binAddress = readAddress(*store, "BinAddress", values.binAddress);
    values.wiring = readWiring(*store);
    values.sequence = readSequence(*store);
    values.baudRate = readBaudRate(*store, values.baudRate);
    values.runAfterProgram = readFlag(*store, "RunAfterProgram", values.runAfterProgram);
    values.flashKB = readFlashKB(*store);
    values.language =
        languageFromCode(readString(*store, "Language", QString())).value_or(values.language);
    return values;
}

void writeConfig(const ConfigValues& values) {
    auto store = openStore();
    if (store->status() == QSettings::FormatError) {
        // Start a clean file instead of carrying the readable parts of a damaged one forward.
        const QString path = store->fileName();
        store.reset();
        QFile::remove(path);
        store = openStore();
    }
    writeAll(*store, values);
}

}  // namespace praxon
