#pragma once

#include <QString>
#include <cstdint>

#include "Engine.h"
#include "Language.h"
#include "LineControl.h"
#include "LineSpeeds.h"

namespace praxon {

// The remembered choices, as the window's controls and options hold them.
struct ConfigValues {
    QString fileName;                       // "FileName": TxtDownloadFile
    QString goAddress = "08000000";         // "ADD": GATEXT
    bool erase = true;                      // "Erase": ChkErase
    bool check = false;                     // "Check": ChkCheck
    bool readProtect = false;               // "ReadPortect": ChkSetreadProtect
    WriteMode writeMode = WriteMode::Fast;  // "WriteMode": "fast", "compatible" or "turbo"
    bool erasePagesOnly = false;            // "EraseScope": "chip" or "pages"
    uint32_t binAddress = 0x08000000;  // "BinAddress": load address of binary files, hexadecimal
    // "ResetLine", "Boot0Line": "none", "dtr" or "rts"; "ResetInverted", "Boot0Inverted".
    Wiring wiring;
    QString sequence;  // "Sequence": custom ENTRY:EXIT; when set it replaces the wiring
    int baudRate = kDefaultLineSpeed;  // "Baud"
    bool runAfterProgram = false;      // "RunAfterProgram"
    int flashKB = 0;  // "FlashKB": the flash size in KB as stated (clones); 0, stored empty: read
    Language language = Language::Chinese;  // "Language": "zh" or "en", what the window speaks
    int turboBaudRate = 0;  // "TurboBaud": the line once the turbo loader runs; 0 (empty): Baud
};

// Application name of the settings: the running executable's file name without folder and
// extension, taken anew at every read and write (a renamed copy starts from the defaults).
QString configApplicationName();

// Full path of the file the settings live in (INI, per user, organization "Praxon").
QString configFilePath();

// Reads section "Config". Missing keys give their defaults; a file that cannot be read or parsed
// gives the defaults for every key. A check box is ticked only by the exact value "1"; the
// options take only their exact words, and the load address 1 to 8 hex digits; anything else
// gives the default. The wiring is one the options dialog offers (none, or reset and BOOT0 on
// different lines) or none; the sequence one that parses, or none; the speed a supported one;
// the flash size 1 to 65535 KB, or none; the language "zh" or "en", or Chinese.
ConfigValues readConfig();

// Writes every key, whether or not it changed. Strings are stored as given, the load address as
// eight upper-case hex digits. A damaged file is replaced rather than left in place, so the
// values of this exit are not lost.
void writeConfig(const ConfigValues& values);

}  // namespace praxon
