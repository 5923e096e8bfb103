#pragma once

#include <QString>

namespace praxon {

// The five remembered choices, as the window's controls hold them.
struct ConfigValues {
    QString fileName;                // "FileName": TxtDownloadFile
    QString goAddress = "08000000";  // "ADD": GATEXT
    bool erase = true;               // "Erase": ChkErase
    bool check = false;              // "Check": ChkCheck
    bool readProtect = false;        // "ReadPortect": ChkSetreadProtect
};

// Application name of the settings: the running executable's file name without folder and
// extension, taken anew at every read and write (a renamed copy starts from the defaults).
QString configApplicationName();

// Full path of the file the settings live in (INI, per user, organization "Praxon").
QString configFilePath();

// Reads section "Config". Missing keys give their defaults; a file that cannot be read or parsed
// gives the defaults for every key. A check box is ticked only by the exact value "1".
ConfigValues readConfig();

// Writes all five keys in order, whether or not they changed. Strings are stored as given.
// A damaged file is replaced rather than left in place, so the values of this exit are not lost.
void writeConfig(const ConfigValues& values);

}  // namespace praxon
